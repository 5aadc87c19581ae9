// Hostile subject lines through the analysis: never a crash, never a template longer
// than a stored subject, never a placeholder that the analysis did not put there; and
// the analyzer that remembers results gives exactly the direct analysis's, for the line
// and for the line with one digit changed (a later part of the same file, or not).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "filters/ExtList.h"
#include "filters/SubjectAnalysis.h"

using namespace zev;

namespace {

size_t Count(const std::string& s, char c) {
  size_t n = 0;
  for (char x : s) n += x == c;
  return n;
}

void ExpectAnalyzerAgrees(TSubjectAnalyzer& analyzer, const FMsgData& record, const std::string& subject,
                          const TExtList& extensions) {
  FMsgData direct = record, remembered = record;
  std::string s1 = subject, s2 = subject, n1, n2;
  AnalyzeSubject(direct, s1, n1, extensions);
  analyzer.Analyze(remembered, s2, n2, extensions);
  if (s1 != s2 || n1 != n2 || std::memcmp(&direct, &remembered, sizeof direct) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const TExtList extensions = TExtList::Create({".flac", ".nzb", ".mkv", ".7z"});
  FMsgData m{};
  // The first bytes play the record as the line count left it.
  if (size >= 12) {
    std::memcpy(&m.FLines, data, 4);
    std::memcpy(&m.FPartSize, data + 4, 4);
    std::memcpy(&m.FFileSize, data + 8, 4);
    data += 12;
    size -= 12;
  }
  std::string subject(reinterpret_cast<const char*>(data), size);
  static TSubjectAnalyzer analyzer;
  const FMsgData record = m;
  ExpectAnalyzerAgrees(analyzer, record, subject, extensions);
  if (size_t digit = subject.find_first_of("0123456789"); digit != std::string::npos) {
    std::string other = subject;
    other[digit] = static_cast<char>('0' + (other[digit] - '0' + 1) % 10);
    ExpectAnalyzerAgrees(analyzer, record, other, extensions);
  }
  std::string fileName;
  AnalyzeSubject(m, subject, fileName, extensions);

  if (subject.size() > 255 || fileName.size() > 254) std::abort();
  for (char c : fileName)
    if (static_cast<unsigned char>(c) < 32) std::abort();
  // Each piece is taken out once; sizes may repeat.
  if (Count(subject, tcYenc) > 1 || Count(subject, tcPartNo) > 1 || Count(subject, tcFileName) > 1 ||
      Count(subject, tcFileSetSlash) + Count(subject, tcFileSetOf) > 1 || subject.find('\0') != std::string::npos)
    std::abort();
  if (Count(subject, tcFileName) == 1 && fileName.empty()) std::abort();
  if (m.FPartNo > m.FPartTotal) std::abort();
  return 0;
}
