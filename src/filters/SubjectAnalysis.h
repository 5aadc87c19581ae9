#pragma once
// Takes a new article's subject apart: part and file-set numbers, file name, size and the
// word yEnc go into the record, and the subject is rewritten into a template in which
// each piece is a one-byte placeholder (TTemplateCode). The thousands of parts of one
// posting then share a single stored template.
//
// The caller holds the article accessor's lock, has created the record and applied
// SetLines, calls this, and afterwards stores the template with SetSubject and the file
// name with SetFileName (or SetFileNamePointer(0) when `fileName` is empty).
#include <string>

#include "db/MsgData.h"
#include "filters/ExtList.h"

namespace zev {

// `subject` in: the subject as received; out: the template, at most 255 characters.
// `fileName` out: the file name, or empty. Updates FFlags, FPartNo, FPartTotal, FFileNo,
// FFileTotal, FPartSize, FFileSize and FLines of `msg`. Never fails: a piece that does
// not fit its pattern stays in the template as text.
void AnalyzeSubject(FMsgData& msg, std::string& subject, std::string& fileName, const TExtList& extensions);

}  // namespace zev
