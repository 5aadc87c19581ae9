#pragma once
// Takes a new article's subject apart: part and file-set numbers, file name, size and the
// word yEnc go into the record, and the subject is rewritten into a template in which
// each piece is a one-byte placeholder (TTemplateCode). The thousands of parts of one
// posting then share a single stored template.
//
// The caller holds the article accessor's lock, has created the record and applied
// SetLines, calls this, and afterwards stores the template with SetSubject and the file
// name with SetFileName (or SetFileNamePointer(0) when `fileName` is empty).
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "db/MsgData.h"
#include "filters/ExtList.h"

namespace zev {

// `subject` in: the subject as received; out: the template, at most 255 characters.
// `fileName` out: the file name, or empty. Updates FFlags, FPartNo, FPartTotal, FFileNo,
// FFileTotal, FPartSize, FFileSize and FLines of `msg`. Never fails: a piece that does
// not fit its pattern stays in the template as text.
void AnalyzeSubject(FMsgData& msg, std::string& subject, std::string& fileName, const TExtList& extensions);

// AnalyzeSubject for a run of headers, with exactly its results. The parts of one file
// differ only in their part number, and everything after the part number is found depends
// only on the text with the number taken out and a few record fields; the analyzer
// remembers that second half for the last few files it met. One analyzer per thread.
class TSubjectAnalyzer {
 public:
  void Analyze(FMsgData& msg, std::string& subject, std::string& fileName, const TExtList& extensions);

 private:
  // Everything the second half reads besides the text.
  struct FSubjectInputs {
    const TExtList* extensions = nullptr;
    uint32_t flags = 0, lines = 0, partSize = 0, fileSize = 0;
    uint16_t partTotal = 0, fileNo = 0, fileTotal = 0;
    bool lastPart = false;
    bool operator==(const FSubjectInputs&) const = default;
  };
  struct FEntry {
    bool valid = false;
    FSubjectInputs inputs;
    std::string rest;  // the text once the part number is a code
    // What the second half made of them.
    std::string tmpl, fileName;
    uint32_t flags = 0, lines = 0, partSize = 0, fileSize = 0;
    uint16_t fileNo = 0, fileTotal = 0;
  };
  static FSubjectInputs InputsOf(const FMsgData& m, const TExtList& extensions);

  std::array<FEntry, 4> entries_{};
  size_t next_ = 0;
};

}  // namespace zev
