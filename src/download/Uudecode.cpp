#include "download/Uudecode.h"

#include <cstdint>

namespace zev {

namespace {

constexpr size_t kNpos = std::string_view::npos;
// Characters looked at for a headerless last part's data block.
constexpr size_t kHeaderlessWindow = 500;

struct FLine {
  size_t begin, end, next;  // `end` excludes CR LF
};

FLine LineAt(std::string_view t, size_t pos) {
  const size_t lf = t.find('\n', pos);
  size_t end = lf == kNpos ? t.size() : lf;
  const size_t next = lf == kNpos ? t.size() : lf + 1;
  if (end > pos && t[end - 1] == '\r') --end;
  return {pos, end, next};
}

bool StartsLine(std::string_view t, size_t pos) { return pos == 0 || t[pos - 1] == '\n'; }

bool IsEndLine(std::string_view line) {
  return line.substr(0, 3) == "end" && (line.size() == 3 || line[3] == ' ' || line[3] == '\t');
}

bool IsBeginLine(std::string_view line) { return line.substr(0, 6) == "begin "; }

// The line's text after undoing dot-stuffing.
std::string_view Unstuffed(std::string_view t, const FLine& line) {
  std::string_view s = t.substr(line.begin, line.end - line.begin);
  if (!s.empty() && s.front() == '.') s.remove_prefix(1);
  return s;
}

// Characters a data line of that length character needs after it.
size_t NeededChars(char lengthChar) {
  const size_t bytes = static_cast<size_t>((static_cast<uint8_t>(lengthChar) - 32) & 63);
  return (bytes + 2) / 3 * 4;
}

bool IsDataEnd(std::string_view line) {
  if (line.empty()) return true;
  const auto c0 = static_cast<uint8_t>(line[0]);
  if (c0 < 33 || c0 > 95) return true;
  if (line.substr(0, 3) == "END") {
    if (line.size() == 3) return true;
    const auto c3 = static_cast<uint8_t>(line[3]);
    if (c3 == '-' || c3 < 33 || c3 > 96) return true;
  }
  return NeededChars(line[0]) > line.size() - 1 + 3;  // more than the last group missing
}

bool ParseHeader(std::string_view line, std::string& name) {
  if (!IsBeginLine(line)) return false;
  size_t i = 5;
  while (i < line.size() && line[i] == ' ') ++i;
  const size_t modeStart = i;
  while (i < line.size() && line[i] >= '0' && line[i] <= '7') ++i;
  const size_t modeLength = i - modeStart;
  if (modeLength == 0 || modeLength > 4 || i >= line.size() || line[i] != ' ') return false;
  while (i < line.size() && line[i] == ' ') ++i;
  size_t end = line.size();
  while (end > i && (line[end - 1] == ' ' || line[end - 1] == '\t')) --end;
  if (end == i) return false;
  name.assign(line.substr(i, end - i));
  return true;
}

// A line of the block before an "end": its length fits its length character.
bool LooksLikeDataLine(std::string_view line) {
  if (line.empty()) return false;
  const auto c0 = static_cast<uint8_t>(line[0]);
  if (c0 < 33 || c0 > 96) return false;
  const size_t need = c0 == 96 ? 0 : NeededChars(line[0]);
  const size_t have = line.size() - 1;
  return have + 3 >= need && have <= need + 1;
}

}  // namespace

bool FindUuHeader(std::string_view text, size_t from, FUuHeader& header) {
  for (size_t pos = text.find("begin ", from); pos != kNpos; pos = text.find("begin ", pos + 1)) {
    if (!StartsLine(text, pos)) continue;
    const FLine line = LineAt(text, pos);
    if (!ParseHeader(text.substr(line.begin, line.end - line.begin), header.name)) continue;
    header.lineStart = pos;
    header.dataStart = line.next;
    return true;
  }
  return false;
}

FUuData UudecodeLines(char* text, size_t len, size_t start, char* out) {
  const std::string_view t(text, len);
  FUuData result;
  size_t pos = start;
  while (pos < len) {
    const FLine line = LineAt(t, pos);
    const std::string_view s = Unstuffed(t, line);
    if (IsDataEnd(s)) break;
    const size_t bytes = static_cast<size_t>((static_cast<uint8_t>(s[0]) - 32) & 63);
    const char* in = s.data() + 1;
    const size_t have = s.size() - 1;
    for (size_t done = 0, g = 0; done < bytes; ++g) {
      uint8_t c[4];
      for (size_t k = 0; k < 4; ++k) {
        const size_t at = g * 4 + k;
        c[k] = at < have ? static_cast<uint8_t>((static_cast<uint8_t>(in[at]) - 32) & 63) : 0;
      }
      const uint8_t decoded[3] = {static_cast<uint8_t>(c[0] << 2 | c[1] >> 4),
                                  static_cast<uint8_t>(c[1] << 4 | c[2] >> 2),
                                  static_cast<uint8_t>(c[2] << 6 | c[3])};
      for (size_t k = 0; k < 3 && done < bytes; ++k, ++done) out[result.produced++] = static_cast<char>(decoded[k]);
    }
    pos = line.next;
  }
  result.dataEnd = pos;
  for (size_t at = pos; at < len;) {
    const FLine line = LineAt(t, at);
    const std::string_view s = t.substr(line.begin, line.end - line.begin);
    if (IsBeginLine(s)) break;
    if (IsEndLine(s)) {
      result.sawEnd = true;
      result.afterEnd = line.next;
      break;
    }
    at = line.next;
  }
  return result;
}

size_t FindHeaderlessUuStart(std::string_view text) {
  for (size_t pos = 0; pos < text.size();) {
    const FLine line = LineAt(text, pos);
    const std::string_view s = Unstuffed(text, line);
    if (!s.empty() && s[0] == 'M' && s.size() >= 59 && s.size() <= 63) return pos;
    pos = line.next;
  }
  const std::string_view window = text.substr(0, kHeaderlessWindow);
  size_t endLine = window.find("\nend");
  if (endLine == kNpos) return kNpos;
  ++endLine;
  if (!IsEndLine(text.substr(endLine, LineAt(text, endLine).end - endLine))) return kNpos;
  // Walk back over the well-formed lines before it.
  size_t start = kNpos;
  for (size_t lineEnd = endLine; lineEnd > 0;) {
    size_t begin = lineEnd >= 2 ? text.rfind('\n', lineEnd - 2) : kNpos;
    begin = begin == kNpos ? 0 : begin + 1;
    if (!LooksLikeDataLine(Unstuffed(text, LineAt(text, begin)))) break;
    start = begin;
    lineEnd = begin;
  }
  return start;
}

}  // namespace zev
