#include "filters/SubjectAnalysis.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <tuple>
#include <utility>

#include "core/Log.h"

namespace zev {

namespace {

constexpr size_t kMaxTemplate = 255;
constexpr uint32_t kMaxU32 = 0xFFFFFFFF;
constexpr uint32_t kMaxNumber = 65535;  // part and set numbers are 16-bit
constexpr uint32_t kOutOfRange = kMaxNumber + 1;
constexpr uint32_t kMaxYencLines = 34087042;  // 126 bytes per line still fit 32 bits
constexpr uint32_t kWholeFileSize = 2097152;  // larger "parts" are whole files
constexpr size_t kNameNearCode = 6;
constexpr size_t kMaxFileName = 254;

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
unsigned char Lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }
bool InvalidInName(unsigned char c) { return c < 32 || (c != 0 && std::strchr("\"*/:<>?\\|", c)); }
bool MayBeginName(unsigned char c) { return c == '!' || c == '#' || c == '(' || c == '[' || IsDigit(c) || IsLetter(c); }
bool BlocksKiloUnit(unsigned char c) {
  return IsDigit(c) || (IsLetter(c) && Lower(c) != 'b' && Lower(c) != 'i');
}

// TODO: use SizesClose of the article record (db/Article.h) once it is there.
bool SizesClose(uint64_t a, uint64_t b, bool yEnc) {
  if ((a > b ? a - b : b - a) < 1000) return true;
  if (yEnc) return b - b / 64 < a && a < b + 2000 + b / 32;
  return b - b / 256 < a && a < b + 2000 + b / 128;
}

// Runs of digits that begin before `end`. The steps before the part number is found drop
// blanks and letters only, never a digit nor a whole separator, so a received subject
// and the text those steps make of it have the same runs in the same order.
int DigitRunsBefore(std::string_view text, size_t end) {
  int runs = 0;
  for (size_t i = 0; i < end && i < text.size(); ++i)
    if (IsDigit(static_cast<unsigned char>(text[i])) && (i == 0 || !IsDigit(static_cast<unsigned char>(text[i - 1]))))
      ++runs;
  return runs;
}

struct TNumberPair {
  size_t xStart = 0, yEnd = 0;  // the text from x to the end of y
  uint32_t x = 0, y = 0;        // kOutOfRange when the run is worth more than 65535
};

enum class TPartStyle { Round, Square, AtEnd };
enum class TSizeUnit { Bytes, Kilobytes, Decimal };

class TAnalysis {
 public:
  TAnalysis(FMsgData& msg, std::string& s, const TExtList& extensions) : m_(msg), s_(s), ext_(extensions) {}

  void Run(std::string& fileName) {
    NeutralisePlaceholders();
    FindYenc();
    StripReply();
    CollapseBlanks();
    FindPartNumber();
    SplitWholeFileSize();
    FindName();
    FindFileSetNumber();
    ExtractFileName(fileName);
    FindSizes();
    if (!HasFlag(m_, afMultiPart)) SetFlag(m_, afGoodParts);
    if (s_.size() > kMaxTemplate) s_.resize(kMaxTemplate);
  }

  // A log entry was written: a remembered result would not write it again.
  bool Logged() const { return logged_; }
  // Which digit run of the text (counted from 0) was the part number, -1 when none was.
  int PartRun() const { return partRun_; }

 private:
  FMsgData& m_;
  std::string& s_;
  const TExtList& ext_;
  bool hasName_ = false;
  size_t nameStart_ = 0, nameLength_ = 0;
  mutable bool logged_ = false;
  int partRun_ = -1;

  unsigned char At(size_t i) const { return i < s_.size() ? static_cast<unsigned char>(s_[i]) : 0; }

  // The text from `from` to `to` becomes the one code byte.
  void Replace(size_t from, size_t to, TTemplateCode code) { s_.replace(from, to - from, 1, static_cast<char>(code)); }

  size_t RunStart(size_t end, size_t floor) const {
    while (end > floor && IsDigit(At(end - 1))) --end;
    return end;
  }
  size_t RunEnd(size_t start) const {
    while (start < s_.size() && IsDigit(At(start))) ++start;
    return start;
  }
  uint32_t RunValue(size_t start, size_t end) const {
    uint32_t v = 0;
    for (size_t i = start; i < end; ++i) {
      v = v * 10 + (At(i) - '0');
      if (v > kMaxNumber) return kOutOfRange;
    }
    return v;
  }

  // A received subject may carry the bytes the template uses as placeholders; expanding
  // them would inject names and sizes that the poster never wrote.
  void NeutralisePlaceholders() {
    for (char& c : s_)
      if (static_cast<unsigned char>(c) <= tcYenc) c = '?';
  }

  void FindYenc() {
    for (size_t i = 0; i + 4 <= s_.size(); ++i) {
      if (Lower(At(i)) != 'y' || Lower(At(i + 1)) != 'e' || Lower(At(i + 2)) != 'n' || Lower(At(i + 3)) != 'c') continue;
      SetFlag(m_, afyEncode);
      Replace(i, i + 4, tcYenc);
      if (m_.FLines != 0) ReestimateYencSizes();
      return;
    }
  }

  // yEnc carries 126 decoded bytes per line instead of the 45 of older encodings.
  void ReestimateYencSizes() {
    uint32_t e = m_.FLines > kMaxYencLines ? kMaxU32 : m_.FLines * 126;
    if (m_.FFileSize == 0) {
      m_.FFileSize = m_.FPartSize;
    } else {
      // A stored file size below the part size is inconsistent; the file is then taken
      // to be at least this part rather than wrapping around the 32-bit range.
      int64_t size = int64_t{m_.FFileSize} - int64_t{m_.FPartSize} + int64_t{e};
      m_.FFileSize = static_cast<uint32_t>(std::clamp<int64_t>(size, e, kMaxU32));
    }
    m_.FPartSize = e;
  }

  void StripReply() {
    if (Lower(At(0)) != 'r' || Lower(At(1)) != 'e' || At(2) != ':') return;
    SetFlag(m_, afIsReply);
    SetFlag(m_, afBuildSubject);
    s_.erase(0, At(3) == ' ' ? 4 : 3);
  }

  void CollapseBlanks() {
    size_t w = 0;
    for (size_t r = 0; r < s_.size(); ++r)
      if (s_[r] != ' ' || w == 0 || s_[w - 1] != ' ') s_[w++] = s_[r];
    s_.resize(w);
  }

  // x "/" y around the slash at `slash`, with x not reaching below `floor`.
  TNumberPair PairAround(size_t slash, size_t floor) const {
    TNumberPair p;
    p.xStart = RunStart(slash, floor);
    p.yEnd = RunEnd(slash + 1);
    p.x = RunValue(p.xStart, slash);
    p.y = RunValue(slash + 1, p.yEnd);
    return p;
  }

  bool IsSlashCandidate(size_t k, size_t floor) const {
    return k > floor && At(k) == '/' && IsDigit(At(k - 1)) && IsDigit(At(k + 1));
  }

  bool FitsPartStyle(const TNumberPair& p, TPartStyle style) const {
    unsigned char before = p.xStart > 0 ? At(p.xStart - 1) : 0;
    switch (style) {
      case TPartStyle::Round: return before == '(' && At(p.yEnd) == ')';
      case TPartStyle::Square: return before == '[' && At(p.yEnd) == ']';
      case TPartStyle::AtEnd: return before == ' ' && p.yEnd == s_.size();
    }
    return false;
  }

  bool FindPartPair(TPartStyle style, TNumberPair& found) const {
    for (size_t k = s_.size(); k-- > 1;) {
      if (!IsSlashCandidate(k, 0)) continue;
      TNumberPair p = PairAround(k, 0);
      if (!FitsPartStyle(p, style)) continue;
      if (p.y < 1 || p.y > kMaxNumber || p.x > p.y) continue;
      found = p;
      return true;
    }
    return false;
  }

  void FindPartNumber() {
    m_.FPartNo = m_.FPartTotal = 0;
    TNumberPair p;
    if (!FindPartPair(TPartStyle::Round, p) && !FindPartPair(TPartStyle::Square, p) &&
        !FindPartPair(TPartStyle::AtEnd, p))
      return;
    m_.FPartTotal = static_cast<uint16_t>(p.y);
    m_.FPartNo = static_cast<uint16_t>(p.x);
    partRun_ = DigitRunsBefore(s_, p.xStart);
    if (p.y >= 2 && p.x >= 1) SetFlag(m_, afMultiPart);
    SetFlag(m_, afBuildSubject);
    Replace(p.xStart, p.yEnd, tcPartNo);
  }

  // Some servers report the size and line count of the whole file on every part.
  void SplitWholeFileSize() {
    if (m_.FPartSize > kWholeFileSize && m_.FPartTotal >= 2) {
      m_.FFileSize = m_.FPartSize;
      m_.FPartSize /= (m_.FPartTotal - 1u);
      m_.FLines /= (m_.FPartTotal - 1u);
    }
    if (m_.FFileSize == 0) m_.FFileSize = m_.FPartSize;
    if (HasFlag(m_, afMultiPart) && m_.FPartNo == m_.FPartTotal) ClearFlag(m_, afBadSize);
  }

  void FindName() {
    hasName_ = false;
    if (auto pos = ext_.FindFileName(s_)) {
      hasName_ = true;
      nameStart_ = pos->start;
      nameLength_ = pos->length;
    }
  }

  bool FindSetSlash(size_t from, size_t to, TNumberPair& found) const {
    for (size_t k = to; k-- > from + 1;) {
      if (!IsSlashCandidate(k, from)) continue;
      TNumberPair p = PairAround(k, from);
      if (p.xStart > from && IsLetter(At(p.xStart - 1))) continue;
      if (At(p.yEnd) != ']' && IsLetter(At(p.yEnd))) continue;
      // A 16-bit field cannot hold a larger x; unlike part numbers, x may exceed y.
      if (p.y < 1 || p.y > kMaxNumber || p.x > kMaxNumber) continue;
      found = p;
      return true;
    }
    return false;
  }

  // x "of" y, blanks allowed around "of", y not followed by a letter.
  bool FindSetOf(size_t from, size_t to, TNumberPair& found) const {
    for (size_t k = to; k-- > from;) {
      if (k + 1 >= to || Lower(At(k)) != 'o' || Lower(At(k + 1)) != 'f') continue;
      size_t xEnd = k;
      while (xEnd > from && At(xEnd - 1) == ' ') --xEnd;
      if (xEnd == from || !IsDigit(At(xEnd - 1))) continue;
      size_t yStart = k + 2;
      while (At(yStart) == ' ') ++yStart;
      if (!IsDigit(At(yStart))) continue;
      TNumberPair p;
      p.xStart = RunStart(xEnd, from);
      p.yEnd = RunEnd(yStart);
      if (IsLetter(At(p.yEnd))) continue;
      p.x = RunValue(p.xStart, xEnd);
      p.y = RunValue(yStart, p.yEnd);
      if (p.y > kMaxNumber || p.x > p.y) continue;
      found = p;
      return true;
    }
    return false;
  }

  // Searches before the name, then once after it.
  template <typename Finder>
  bool FindSetPair(Finder find, TNumberPair& found, bool& afterName) const {
    afterName = false;
    if (find(0, hasName_ ? nameStart_ : s_.size(), found)) return true;
    if (!hasName_) return false;
    afterName = true;
    return find(nameStart_ + nameLength_, s_.size(), found);
  }

  void FindFileSetNumber() {
    m_.FFileNo = m_.FFileTotal = 0;
    TNumberPair p;
    bool afterName = false;
    TTemplateCode code = tcFileSetSlash;
    auto slash = [this](size_t f, size_t t, TNumberPair& r) { return FindSetSlash(f, t, r); };
    auto of = [this](size_t f, size_t t, TNumberPair& r) { return FindSetOf(f, t, r); };
    if (!FindSetPair(slash, p, afterName)) {
      if (!FindSetPair(of, p, afterName)) return;
      code = tcFileSetOf;
    }
    m_.FFileTotal = static_cast<uint16_t>(p.y);
    m_.FFileNo = static_cast<uint16_t>(p.x);
    SetFlag(m_, afBuildSubject);
    size_t nameEnd = nameStart_ + nameLength_;
    Replace(p.xStart, p.yEnd, code);
    if (hasName_ && !afterName) MoveNameAfterCode(p, nameEnd);
  }

  // The set number stood before the name (or ran into it). `nameEnd` is where the name
  // ended before the replacement.
  void MoveNameAfterCode(const TNumberPair& p, size_t nameEnd) {
    const size_t code = p.xStart;
    const size_t removed = p.yEnd - p.xStart - 1;
    const size_t end = nameEnd - removed;
    // The digits of y may have eaten the name's first characters.
    size_t start = nameStart_ >= p.yEnd ? nameStart_ - removed : code;
    if (start >= code + kNameNearCode) {
      // Well before the name: the words between code and name were only cut off by the
      // blank rule of the name search; now that the number is gone they join the name.
      while (start > code && !InvalidInName(At(start))) --start;
      ++start;
    } else {
      while (start <= code) ++start;
    }
    while (start < end && !MayBeginName(At(start))) ++start;
    if (start >= end || start >= s_.size()) {
      hasName_ = false;
      return;
    }
    nameStart_ = start;
    nameLength_ = end - start;
  }

  void ExtractFileName(std::string& fileName) {
    fileName.clear();
    if (!hasName_ || nameLength_ < 2 || nameLength_ > kMaxFileName) return;
    fileName.assign(s_, nameStart_, nameLength_);
    SetFlag(m_, afBuildSubject);
    Replace(nameStart_, nameStart_ + nameLength_, tcFileName);
  }

  struct TSizeCandidate {
    size_t end = 0;  // past the digits (and fraction) that the code replaces
    uint64_t value = 0;
    TSizeUnit unit = TSizeUnit::Bytes;
    bool usable = false;
  };

  // Decimal value of the digit run from `start`; past 64 bits it saturates, with a note
  // in the log, and the remaining digits are skipped.
  uint64_t ReadSizeDigits(size_t start, size_t& end) const {
    uint64_t v = 0;
    for (end = start; IsDigit(At(end)); ++end) {
      unsigned d = At(end) - '0';
      if (v > (UINT64_MAX - d) / 10) {
        char text[96];
        std::snprintf(text, sizeof text, "Integer Overflow parsing size: llTmpSize=%llu, lpPtr^=%c",
                      static_cast<unsigned long long>(v), static_cast<char>(At(end)));
        LogError(text, 0);
        logged_ = true;
        end = RunEnd(end);
        return kMaxU32;
      }
      v = v * 10 + d;
    }
    return v > kMaxU32 ? kMaxU32 : v;
  }

  // "12.5" or "12,5" as written in the subject, whatever the user's locale says.
  uint64_t DecimalKilobytes(size_t start, size_t separator, size_t end) const {
    constexpr size_t kMaxIntDigits = 19, kMaxFractionDigits = 40;
    if (separator - start > kMaxIntDigits) return UINT64_MAX;
    char text[kMaxIntDigits + kMaxFractionDigits + 2];
    size_t n = 0;
    for (size_t i = start; i < separator; ++i) text[n++] = s_[i];
    text[n++] = '.';
    for (size_t i = separator + 1; i < end && i <= separator + kMaxFractionDigits; ++i) text[n++] = s_[i];
    double number = 0;
    std::from_chars(text, text + n, number);
    double scaled = std::nearbyint(number * 1024.0);  // ties to even
    return scaled >= 1.8e19 ? UINT64_MAX : static_cast<uint64_t>(scaled);
  }

  bool IsKiloUnit(size_t k) const {
    if (Lower(At(k)) != 'k') return false;
    unsigned char after = At(k + 1);
    if (Lower(after) == 'i') return Lower(At(k + 2)) == 'l';  // "Kilo", not "Kix"
    return !BlocksKiloUnit(after);
  }

  TSizeCandidate ReadSizeCandidate(size_t start) const {
    TSizeCandidate c;
    size_t runEnd = 0;
    c.value = ReadSizeDigits(start, runEnd);
    c.end = runEnd;
    unsigned char next = At(runEnd);
    if ((next == ',' || next == '.') && IsDigit(At(runEnd + 1))) {
      c.end = RunEnd(runEnd + 1);
      c.value = DecimalKilobytes(start, runEnd, c.end);
      c.unit = TSizeUnit::Decimal;
      c.usable = true;
    } else if (IsKiloUnit(runEnd) || (next == ' ' && IsKiloUnit(runEnd + 1))) {
      c.value *= 1024;
      c.unit = TSizeUnit::Kilobytes;
      c.usable = true;
    } else {
      c.usable = !(next == '.' || next == '_' || IsLetter(next));
    }
    return c;
  }

  bool SizeAgrees(const TSizeCandidate& c) const {
    uint64_t known = m_.FFileSize;
    switch (c.unit) {
      case TSizeUnit::Bytes: return c.value == known;
      case TSizeUnit::Decimal: return c.value / 512 == known / 512;
      case TSizeUnit::Kilobytes: return c.value / 1024 == known / 1024;
    }
    return false;
  }

  bool AcceptSize(const TSizeCandidate& c, bool mentionsMp3) const {
    if (HasFlag(m_, afExactSize) || HasFlag(m_, afApproxSize)) return SizeAgrees(c);
    // 32K, 64K ... 480K beside an mp3 are bit rates.
    if (c.unit == TSizeUnit::Kilobytes && c.value % 32768 == 0 && c.value < 524288 && mentionsMp3) return false;
    if (HasFlag(m_, afMultiPart) && m_.FPartTotal >= 2) {
      uint64_t perPart = c.value / (m_.FPartTotal - 1u);
      return perPart >= 65000 && perPart <= 1000000;
    }
    return SizesClose(m_.FFileSize, c.value, HasFlag(m_, afyEncode));
  }

  void StoreSize(const TSizeCandidate& c) {
    // A size of 4 GiB or more does not fit the record; the largest value is the
    // honest approximation, wrapping would report a tiny file.
    m_.FFileSize = c.value > kMaxU32 ? kMaxU32 : static_cast<uint32_t>(c.value);
    SetFlag(m_, c.unit == TSizeUnit::Bytes ? afExactSize : afApproxSize);
    SetFlag(m_, afBuildSubject);
  }

  bool StartsSizeCandidate(size_t r, unsigned char before) const {
    unsigned char c = At(r);
    return c >= '1' && c <= '9' && before != '.' && before != '_' && !IsDigit(before) && !IsLetter(before);
  }

  // One pass that compacts S in place: accepted sizes shrink to their code, so a subject
  // full of numbers costs linear time.
  void FindSizes() {
    if (s_.size() < 2) return;
    // Replacing digit runs cannot create or destroy ".mp3", so one look suffices.
    const bool mentionsMp3 = s_.find(".mp3") != std::string::npos;
    size_t w = 1, r = 1;
    while (r < s_.size()) {
      if (!StartsSizeCandidate(r, static_cast<unsigned char>(s_[w - 1]))) {
        s_[w++] = s_[r++];
        continue;
      }
      TSizeCandidate c = ReadSizeCandidate(r);
      if (c.usable && AcceptSize(c, mentionsMp3)) {
        StoreSize(c);
        s_[w++] = static_cast<char>(c.unit == TSizeUnit::Bytes ? tcSizeBytes : tcSizeKB);
        r = c.end;
      } else {
        while (r < c.end) s_[w++] = s_[r++];
      }
    }
    s_.resize(w);
  }
};

}  // namespace

void AnalyzeSubject(FMsgData& msg, std::string& subject, std::string& fileName, const TExtList& extensions) {
  TAnalysis(msg, subject, extensions).Run(fileName);
}

TSubjectAnalyzer::FRecordFields TSubjectAnalyzer::FRecordFields::Of(const FMsgData& m) {
  return {m.FFlags, m.FLines, m.FPartSize, m.FFileSize, m.FPartNo, m.FPartTotal, m.FFileNo, m.FFileTotal};
}

void TSubjectAnalyzer::FRecordFields::ApplyTo(FMsgData& m) const {
  m.FFlags = flags;
  m.FLines = lines;
  m.FPartSize = partSize;
  m.FFileSize = fileSize;
  m.FPartNo = partNo;
  m.FPartTotal = partTotal;
  m.FFileNo = fileNo;
  m.FFileTotal = fileTotal;
}

// Where the digit run numbered `run` (from 0) lies in `text`.
std::pair<size_t, size_t> TSubjectAnalyzer::DigitRun(std::string_view text, int run) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (!IsDigit(static_cast<unsigned char>(text[i]))) continue;
    size_t end = i;
    while (end < text.size() && IsDigit(static_cast<unsigned char>(text[end]))) ++end;
    if (run-- == 0) return {i, end};
    i = end;
  }
  return {std::string_view::npos, std::string_view::npos};
}

// The subject differs from the remembered one at most in the digits of its part number,
// and the new number keeps every test the analysis makes of it (at least 1, at most the
// part count, equal to it or not): the analysis would give the same with this part
// number. `partNo` receives it.
bool TSubjectAnalyzer::Matches(const FEntry& e, std::string_view subject, uint16_t& partNo) {
  const std::string_view old = e.raw;
  partNo = e.out.partNo;
  if (e.partStart == std::string_view::npos) return subject == old;
  const size_t start = e.partStart, end = e.partEnd;
  if (subject.substr(0, start) != old.substr(0, start) || subject.substr(end) != old.substr(end)) return false;
  // The characters around the run are the old ones, which ended the old run: the new
  // text's run is the same span, and the same in the count of runs.
  uint32_t x = 0;
  for (size_t i = start; i < end; ++i) {
    if (!IsDigit(static_cast<unsigned char>(subject[i]))) return false;
    x = x * 10 + static_cast<uint32_t>(subject[i] - '0');
  }
  const uint32_t was = e.out.partNo, total = e.out.partTotal;
  if (x > total || (x >= 1) != (was >= 1) || (x == total) != (was == total)) return false;
  partNo = static_cast<uint16_t>(x);
  return true;
}

void TSubjectAnalyzer::Analyze(FMsgData& msg, std::string& subject, std::string& fileName, const TExtList& extensions) {
  const FRecordFields in = FRecordFields::Of(msg);
  // The file of the last header first: its parts usually come one after the other.
  for (size_t k = 0; k < entries_.size(); ++k) {
    const size_t i = (last_ + k) % entries_.size();
    const FEntry& e = entries_[i];
    uint16_t partNo = 0;
    if (!e.valid || e.extensions != &extensions || !(e.in == in) || e.raw.size() != subject.size() ||
        !Matches(e, subject, partNo))
      continue;
    subject = e.tmpl;
    fileName = e.fileName;
    e.out.ApplyTo(msg);
    msg.FPartNo = partNo;
    last_ = i;
    return;
  }
  last_ = next_;
  FEntry& e = entries_[next_];
  next_ = (next_ + 1) % entries_.size();
  e.valid = false;
  e.raw = subject;
  TAnalysis analysis(msg, subject, extensions);
  analysis.Run(fileName);
  if (analysis.Logged()) return;
  e.extensions = &extensions;
  e.in = in;
  // A part number of more than 9 digits (leading zeros) could overflow when read back;
  // such a subject is simply not remembered.
  std::tie(e.partStart, e.partEnd) = DigitRun(e.raw, analysis.PartRun());
  if (e.partEnd - e.partStart > 9) return;
  e.tmpl = subject;
  e.fileName = fileName;
  e.out = FRecordFields::Of(msg);
  e.valid = true;
}

}  // namespace zev
