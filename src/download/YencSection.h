#pragma once
// One yEnc section of an article body: its keyword lines and what its data decoded to,
// and the integrity checks the post itself makes possible.
#include <cstdint>
#include <string>

#include "download/YencLine.h"

namespace zev {

struct TYencSection {
  TYencLine begin;  // the "=ybegin" line that opened the section
  TYencLine part;   // the "=ypart" line right after it; kind Other when there was none
  TYencLine end;    // the "=yend" line; kind Other when the data ran into the end of the
                    // body or into another "=ybegin"
  uint64_t decodedSize = 0;
  uint32_t crc = 0;         // CRC-32 of the decoded bytes, when the decoder computed it
  bool crcKnown = false;

  bool HasPartLine() const { return part.kind == TYencLineKind::Part; }
  bool HasEndLine() const { return end.kind == TYencLineKind::End; }
  // The post calls this a part of a multi-part file ("part=" on "=ybegin").
  bool ClaimsPart() const { return begin.part.has_value(); }
};

// Integrity faults of a section (bit set). A section with any of them must not be taken
// as good data: the article is fetched again, from another server where one carries it.
enum TYencFault : uint32_t {
  yfNoEnd = 1u << 0,          // no "=yend": the data was cut off
  yfNoEndSize = 1u << 1,      // "=yend" without "size="
  yfEndSize = 1u << 2,        // decoded length differs from "=yend size="
  yfBeginSize = 1u << 3,      // a whole file whose length differs from "=ybegin size=" (or has none)
  yfNoPartLine = 1u << 4,     // "part=" on "=ybegin" but no "=ypart" line
  yfPartRange = 1u << 5,      // "=ypart begin=/end=" missing, impossible, or not the decoded length
  yfPartCrc = 1u << 6,        // "pcrc32=" differs from the CRC of the decoded bytes
  yfCrc = 1u << 7,            // a whole file whose "crc32=" differs from the CRC of its bytes
};

// The faults of a closed section. CRCs are compared only when the decoder computed one.
// For a part, "crc32=" is the whole file's CRC and is left to whoever assembles the
// file (Crc32Combine joins the part CRCs). A whole file with only yfEndSize, its length
// matching "=ybegin size=", is what one known faulty encoder writes; the caller may take
// it with a warning, best when a CRC was given and agreed.
uint32_t CheckYencSection(const TYencSection& section);

// "no =yend line, size mismatch" style text of a fault set, for log entries.
std::string YencFaultText(uint32_t faults);

}  // namespace zev
