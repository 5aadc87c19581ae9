#pragma once
// The keyword lines of a yEnc post: "=ybegin", "=ypart" and "=yend".
//
// Lines come from the network, so nothing in them is trusted: numbers that do not fit,
// odd spacing and unknown parameters leave the field unset instead of failing, and the
// caller decides what a missing field means. The name is returned as written (it may
// hold a path or anything else): it must pass through the name cleaner before it names
// a file.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zev {

enum class TYencLineKind : uint8_t { Other, Begin, Part, End };

struct TYencLine {
  TYencLineKind kind = TYencLineKind::Other;
  std::optional<uint64_t> part;   // "part=": the part number
  std::optional<uint64_t> total;  // "total=": the number of parts
  std::optional<uint64_t> line;   // "line=": the encoder's line length
  std::optional<uint64_t> size;   // "size=": file size ("=ybegin") or part size ("=yend")
  std::optional<uint64_t> begin;  // "begin=": first byte of the part, from 1
  std::optional<uint64_t> end;    // "end=": last byte of the part
  std::optional<uint32_t> crc32;  // "crc32=": CRC-32 of the whole file
  std::optional<uint32_t> pcrc32; // "pcrc32=": CRC-32 of this part
  std::optional<std::string> name;  // "name=": the rest of the line, blanks trimmed
  bool spacedKeyword = false;  // a keyword was written with blanks between its letters
  bool truncated = false;      // the line was longer than the decoder keeps (set by it)
};

// Parses one line without its line end (a trailing CR or LF is ignored). A keyword may
// have blanks between its letters ("s i z e="), as some posting programs write them; the
// first occurrence of a keyword counts.
TYencLine ParseYencLine(std::string_view text);

}  // namespace zev
