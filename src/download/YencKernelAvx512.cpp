// AVX-512 kernel: 64 bytes in one register, classified into mask registers and closed up
// by one byte compress (VBMI2), so a block needs no shuffle table at all.
//
// Built with AVX-512 BW/VBMI2 flags (see CMakeLists.txt) and reached only when cpuid
// says the CPU and the OS support them. As in the other kernel files, everything but the
// entry point has internal linkage, so no AVX-512 copy of a shared function can reach a
// caller on an older CPU.
#include <immintrin.h>

#include "download/YencKernel.h"
#include "download/YencKernelMasks.h"

namespace zev {

TYencKernelResult YencDecodeAvx512(const uint8_t* src, size_t len, uint8_t* dst, TYencState& state);

namespace {

inline uint64_t Equal(__m512i v, char c) { return _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(c)); }

// Decodes whole 64-byte blocks until one is refused (see YencBlockRefusals).
const uint8_t* DecodeBlocks(const uint8_t* p, const uint8_t* end, uint8_t*& out, TYencCarry carry, TYencState& state,
                            uint64_t& refusals) {
  const __m512i plain = _mm512_set1_epi8(42), escapedExtra = _mm512_set1_epi8(64);
  const uint8_t* start = p;
  uint64_t lastLf = 0;
  while (end - p >= 64) {
    const __m512i v = _mm512_loadu_si512(p);
    TYencBlockBits bits;
    bits.eq = Equal(v, '=');
    bits.lf = Equal(v, '\n');
    bits.keep = ~(bits.eq | bits.lf | Equal(v, '\r'));
    bits.look = bits.lf | Equal(v, '.') | Equal(v, 'y');
    refusals = YencBlockRefusals(bits, carry);
    if (refusals != 0) break;
    const uint64_t escaped = (bits.eq << 1) | carry.escaped;
    __m512i value = _mm512_sub_epi8(v, plain);
    value = _mm512_mask_sub_epi8(value, escaped, value, escapedExtra);
    // The register form of the compress, then a whole store: the memory form is slow on
    // some CPUs. The store reaches at most to the end of this block's input, which the
    // kernel contract allows (out never runs ahead of p).
    _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(bits.keep, value));
    out += _mm_popcnt_u64(bits.keep);
    carry = YencCarryAfter(bits);
    lastLf = bits.lf;
    p += 64;
  }
  if (p != start) state = YencStateAfter(carry, lastLf);
  return p;
}

}  // namespace

TYencKernelResult YencDecodeAvx512(const uint8_t* src, size_t len, uint8_t* dst, TYencState& state) {
  return YencDriveBlocks(src, len, dst, state, DecodeBlocks);
}

}  // namespace zev
