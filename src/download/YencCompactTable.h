#pragma once
// Shuffle patterns that pack the kept bytes of a 16-byte vector to its front, shared by
// the SIMD kernels. Only data lives here: the kernels' own files carry the CPU flags, and
// plain arrays keep any inline code out of them.
#include <cstdint>

namespace zev {

// Row m (m < 32768, bit i set: keep byte i of the first 15) lists the indices of the kept
// bytes in order and then 15, so the same row serves whether byte 15 is kept or not; the
// rest of the row is 0x80 (pshufb writes zero there). 512 KiB, built on first use; real
// posts touch only a few hundred rows, so the working set stays in the first-level cache.
using TYencShuffleRow = uint8_t[16];
const TYencShuffleRow* YencShuffleTable();

// The number of set bits of each byte value, for CPUs without POPCNT.
struct TYencBitCounts {
  uint8_t of[256];
};
extern const TYencBitCounts kYencBitCount;

}  // namespace zev
