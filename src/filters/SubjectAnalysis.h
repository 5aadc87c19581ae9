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
#include <string_view>
#include <utility>

#include "db/MsgData.h"
#include "filters/ExtList.h"

namespace zev {

// `subject` in: the subject as received; out: the template, at most 255 characters.
// `fileName` out: the file name, or empty. Updates FFlags, FPartNo, FPartTotal, FFileNo,
// FFileTotal, FPartSize, FFileSize and FLines of `msg`. Never fails: a piece that does
// not fit its pattern stays in the template as text.
void AnalyzeSubject(FMsgData& msg, std::string& subject, std::string& fileName, const TExtList& extensions);

// AnalyzeSubject for a run of headers, with exactly its results. The parts of one file
// differ only in their part number; the analyzer remembers the last few files' results
// and gives a part whose subject and record match one of them in all but the digits of
// that number the remembered result with its own part number. One analyzer per thread.
class TSubjectAnalyzer {
 public:
  void Analyze(FMsgData& msg, std::string& subject, std::string& fileName, const TExtList& extensions);

 private:
  // The record fields the analysis reads or writes.
  struct FRecordFields {
    uint32_t flags = 0, lines = 0, partSize = 0, fileSize = 0;
    uint16_t partNo = 0, partTotal = 0, fileNo = 0, fileTotal = 0;
    bool operator==(const FRecordFields&) const = default;
    static FRecordFields Of(const FMsgData& m);
    void ApplyTo(FMsgData& m) const;
  };
  struct FEntry {
    bool valid = false;
    const TExtList* extensions = nullptr;
    std::string raw;    // the subject as it came
    FRecordFields in;   // and the record
    size_t partStart = 0, partEnd = 0;  // where in `raw` the part number stood, npos when nowhere
    std::string tmpl, fileName;
    FRecordFields out;
  };
  static std::pair<size_t, size_t> DigitRun(std::string_view text, int run);
  static bool Matches(const FEntry& e, std::string_view subject, uint16_t& partNo);

  std::array<FEntry, 4> entries_{};
  size_t next_ = 0, last_ = 0;
};

}  // namespace zev
