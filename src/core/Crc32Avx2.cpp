// CRC-32 by folding with 256-bit carry-less multiplication (AVX2 + VPCLMULQDQ).
//
// ISA-L folds 128 bits per multiplication unless the CPU has AVX-512; CPUs with AVX2 and
// VPCLMULQDQ (AMD Zen 3, Intel Ice Lake with AVX-512 switched off) fold twice as much
// per instruction here. The bulk is folded into one 16-byte value with the same CRC
// residue; ISA-L then finishes that value and the tail, so the result is exactly its CRC.
//
// Built with -mavx2 -mpclmul -mvpclmulqdq (see CMakeLists.txt) and called only after
// cpuid allowed it; no inline code is shared with other files.
#include <immintrin.h>

#include <isa-l/crc.h>

#include "core/Crc32Fold.h"

namespace zev {

namespace {

inline __m256i Fold(__m256i x, __m256i keys) {
  return _mm256_xor_si256(_mm256_clmulepi64_epi128(x, keys, 0x00), _mm256_clmulepi64_epi128(x, keys, 0x11));
}

inline __m256i Keys(uint64_t lo, uint64_t hi) {
  return _mm256_set_epi64x(static_cast<long long>(hi), static_cast<long long>(lo), static_cast<long long>(hi),
                           static_cast<long long>(lo));
}

inline __m256i Load(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }

}  // namespace

uint32_t Crc32FoldAvx2(uint32_t crc, const uint8_t* p, size_t len) {
  const TCrc32FoldKeys& k = kCrc32FoldKeys;
  // The running CRC register (the inverse of the chained value) enters as if it were
  // XORed into the first four bytes.
  __m256i x0 = _mm256_xor_si256(Load(p), _mm256_setr_epi32(static_cast<int>(~crc), 0, 0, 0, 0, 0, 0, 0));
  __m256i x1 = Load(p + 32), x2 = Load(p + 64), x3 = Load(p + 96);
  p += 128;
  len -= 128;
  const __m256i keys1024 = Keys(k.lo1024, k.hi1024);
  while (len >= 128) {
    x0 = _mm256_xor_si256(Fold(x0, keys1024), Load(p));
    x1 = _mm256_xor_si256(Fold(x1, keys1024), Load(p + 32));
    x2 = _mm256_xor_si256(Fold(x2, keys1024), Load(p + 64));
    x3 = _mm256_xor_si256(Fold(x3, keys1024), Load(p + 96));
    p += 128;
    len -= 128;
  }
  const __m256i keys256 = Keys(k.lo256, k.hi256);
  __m256i x = _mm256_xor_si256(Fold(x0, keys256), x1);
  x = _mm256_xor_si256(Fold(x, keys256), x2);
  x = _mm256_xor_si256(Fold(x, keys256), x3);
  while (len >= 32) {
    x = _mm256_xor_si256(Fold(x, keys256), Load(p));
    p += 32;
    len -= 32;
  }
  const __m128i keys128 = _mm_set_epi64x(static_cast<long long>(k.hi128), static_cast<long long>(k.lo128));
  __m128i low = _mm256_castsi256_si128(x);
  __m128i folded = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(low, keys128, 0x00),
                                               _mm_clmulepi64_si128(low, keys128, 0x11)),
                                 _mm256_extracti128_si256(x, 1));
  alignas(16) unsigned char residue[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(residue), folded);
  // ISA-L inverts on entry and exit: starting from ~0 it runs the bare register from 0.
  uint32_t reg = ~crc32_gzip_refl(~0u, residue, 16);
  return crc32_gzip_refl(~reg, p, len);
}

}  // namespace zev
