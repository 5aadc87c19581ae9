#include "download/YencSection.h"

#include <array>
#include <utility>

namespace zev {

namespace {

uint32_t CheckPartRange(const TYencSection& s) {
  if (!s.HasPartLine()) return yfNoPartLine;
  const auto& first = s.part.begin;
  const auto& last = s.part.end;
  if (!first || !last || *first < 1 || *last < *first) return yfPartRange;
  if (*last - *first + 1 != s.decodedSize) return yfPartRange;
  if (s.begin.size && *last > *s.begin.size) return yfPartRange;
  return 0;
}

}  // namespace

uint32_t CheckYencSection(const TYencSection& s) {
  uint32_t faults = 0;
  if (!s.HasEndLine()) {
    faults |= yfNoEnd;
  } else if (!s.end.size) {
    faults |= yfNoEndSize;
  } else if (*s.end.size != s.decodedSize) {
    faults |= yfEndSize;
  }
  if (s.ClaimsPart()) {
    faults |= CheckPartRange(s);
  } else if (!s.begin.size || *s.begin.size != s.decodedSize) {
    faults |= yfBeginSize;
  }
  if (s.crcKnown) {
    if (s.end.pcrc32 && *s.end.pcrc32 != s.crc) faults |= yfPartCrc;
    if (!s.ClaimsPart() && s.end.crc32 && *s.end.crc32 != s.crc) faults |= yfCrc;
  }
  return faults;
}

std::string YencFaultText(uint32_t faults) {
  static constexpr std::array<std::pair<uint32_t, const char*>, 8> kTexts{{
      {yfNoEnd, "no =yend line"},
      {yfNoEndSize, "no size on =yend"},
      {yfEndSize, "size differs from =yend"},
      {yfBeginSize, "size differs from =ybegin"},
      {yfNoPartLine, "no =ypart line"},
      {yfPartRange, "=ypart range does not match the data"},
      {yfPartCrc, "part CRC mismatch"},
      {yfCrc, "file CRC mismatch"},
  }};
  std::string text;
  for (const auto& [bit, words] : kTexts) {
    if (!(faults & bit)) continue;
    if (!text.empty()) text += ", ";
    text += words;
  }
  return text;
}

}  // namespace zev
