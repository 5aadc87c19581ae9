#pragma once
// Internals of Crc32.cpp shared with its folding kernel (Crc32Avx2.cpp), which is built
// with its own CPU flags and therefore only reads data from here.
#include <cstddef>
#include <cstdint>

namespace zev {

// Carry-less multiplication constants that move a 128-bit lane of CRC input forward by
// a distance: lo = x^(d+32) mod P and hi = x^(d-32) mod P, bit-reflected and shifted left
// by one (the reflected product comes out one bit short).
struct TCrc32FoldKeys {
  uint64_t lo1024, hi1024;  // four 256-bit registers ahead
  uint64_t lo256, hi256;    // one 256-bit register ahead
  uint64_t lo128, hi128;    // one 128-bit lane ahead
};
extern const TCrc32FoldKeys kCrc32FoldKeys;

// The smallest length the folding kernel takes: below it ISA-L alone is faster.
constexpr size_t kCrc32FoldMinimum = 512;

// Continues the CRC (same chaining as UpdateCrc32) over len >= kCrc32FoldMinimum bytes
// with 256-bit carry-less multiplication; AVX2 and VPCLMULQDQ only.
uint32_t Crc32FoldAvx2(uint32_t crc, const uint8_t* data, size_t len);

}  // namespace zev
