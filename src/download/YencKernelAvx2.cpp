// AVX2 kernel: 64 bytes per step, branch-free while a block holds nothing unusual.
//
// Built with -mavx2 -mpopcnt (see CMakeLists.txt) and reached only when cpuid says the
// CPU has both. Everything here except the entry point has internal linkage and the file
// includes no header with inline code, so the linker can never hand an AVX2-compiled
// copy of a shared function to a caller running on an older CPU.
#include <immintrin.h>

#include "download/YencCompactTable.h"
#include "download/YencKernel.h"

namespace zev {

TYencKernelResult YencDecodeAvx2(const uint8_t* src, size_t len, uint8_t* dst, TYencState& state);

namespace {

// result[i] = cur[i - 1], result[0] = prev[31]: "the byte before is ..." masks.
inline __m256i PrecedingBytes(__m256i cur, __m256i prev) {
  return _mm256_alignr_epi8(cur, _mm256_permute2x128_si256(prev, cur, 0x21), 15);
}

// Writes the bytes of `v` whose bit is set in `keep`, in order, at `out`: each 16-byte
// lane is packed by one table shuffle and stored whole, the upper lane where the lower
// lane's kept bytes end. Up to 16 bytes past the result get scribbled on.
inline uint8_t* StoreKept(__m256i v, uint32_t keep, const TYencShuffleRow* table, uint8_t* out) {
  __m128i lowPattern = _mm_load_si128(reinterpret_cast<const __m128i*>(table[keep & 0x7FFF]));
  __m128i highPattern = _mm_load_si128(reinterpret_cast<const __m128i*>(table[(keep >> 16) & 0x7FFF]));
  __m256i packed = _mm256_shuffle_epi8(v, _mm256_inserti128_si256(_mm256_castsi128_si256(lowPattern), highPattern, 1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + _mm_popcnt_u32(keep & 0xFFFF)), _mm256_extracti128_si256(packed, 1));
  return out + _mm_popcnt_u32(keep);
}

inline __m256i LastByteSet(bool on) {
  return on ? _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                               0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1)
            : _mm256_setzero_si256();
}

// The state after a block, from the "=" and LF masks of its last 32 bytes. The fast path
// never accepts "==", an escaped CR or LF, or a "." beginning a line, which leaves only
// these cases.
inline TYencState StateAfter(__m256i eq, __m256i lf) {
  uint32_t eqBits = static_cast<uint32_t>(_mm256_movemask_epi8(eq));
  uint32_t lfBits = static_cast<uint32_t>(_mm256_movemask_epi8(lf));
  if (lfBits >> 31) return {TYencLinePos::Start, false};
  if (eqBits >> 31) {
    if ((lfBits >> 30) & 1) return {TYencLinePos::StartEq, false};
    return {TYencLinePos::Mid, true};
  }
  return {TYencLinePos::Mid, false};
}

// Decodes whole 64-byte blocks until one holds something the byte step must settle:
// "=" before "=", CR, LF or "y" (a run of escapes, an escape split by a line break, a
// keyword line) or "." beginning a line (dot-stuffing, the terminator). Such blocks are
// rare in real posts. Returns where it stopped; `out` and `state` follow.
const uint8_t* DecodeBlocks(const uint8_t* p, const uint8_t* end, uint8_t*& out, TYencState& state) {
  const __m256i kEq = _mm256_set1_epi8('=');
  const __m256i kCr = _mm256_set1_epi8('\r');
  const __m256i kLf = _mm256_set1_epi8('\n');
  const __m256i kDot = _mm256_set1_epi8('.');
  const __m256i kY = _mm256_set1_epi8('y');
  const __m256i k42 = _mm256_set1_epi8(42);
  const __m256i k106 = _mm256_set1_epi8(106);
  const TYencShuffleRow* table = YencShuffleTable();
  __m256i carryEq = LastByteSet(state.escape);
  __m256i carryLf = LastByteSet(state.pos == TYencLinePos::Start);
  const uint8_t* start = p;
  while (end - p >= 64) {
    __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    __m256i eqA = _mm256_cmpeq_epi8(a, kEq), eqB = _mm256_cmpeq_epi8(b, kEq);
    __m256i lfA = _mm256_cmpeq_epi8(a, kLf), lfB = _mm256_cmpeq_epi8(b, kLf);
    __m256i dropA = _mm256_or_si256(_mm256_or_si256(eqA, lfA), _mm256_cmpeq_epi8(a, kCr));
    __m256i dropB = _mm256_or_si256(_mm256_or_si256(eqB, lfB), _mm256_cmpeq_epi8(b, kCr));
    __m256i escA = PrecedingBytes(eqA, carryEq), escB = PrecedingBytes(eqB, eqA);
    __m256i lineA = PrecedingBytes(lfA, carryLf), lineB = PrecedingBytes(lfB, lfA);
    __m256i badA = _mm256_or_si256(
        _mm256_and_si256(escA, _mm256_or_si256(dropA, _mm256_cmpeq_epi8(a, kY))),
        _mm256_and_si256(lineA, _mm256_cmpeq_epi8(a, kDot)));
    __m256i badB = _mm256_or_si256(
        _mm256_and_si256(escB, _mm256_or_si256(dropB, _mm256_cmpeq_epi8(b, kY))),
        _mm256_and_si256(lineB, _mm256_cmpeq_epi8(b, kDot)));
    __m256i bad = _mm256_or_si256(badA, badB);
    if (!_mm256_testz_si256(bad, bad)) break;
    __m256i valA = _mm256_sub_epi8(a, _mm256_blendv_epi8(k42, k106, escA));
    __m256i valB = _mm256_sub_epi8(b, _mm256_blendv_epi8(k42, k106, escB));
    uint32_t keepA = ~static_cast<uint32_t>(_mm256_movemask_epi8(dropA));
    uint32_t keepB = ~static_cast<uint32_t>(_mm256_movemask_epi8(dropB));
    out = StoreKept(valA, keepA, table, out);
    out = StoreKept(valB, keepB, table, out);
    carryEq = eqB;
    carryLf = lfB;
    p += 64;
  }
  if (p != start) state = StateAfter(carryEq, carryLf);
  return p;
}

}  // namespace

TYencKernelResult YencDecodeAvx2(const uint8_t* src, size_t len, uint8_t* dst, TYencState& state) {
  const uint8_t* p = src;
  const uint8_t* end = src + len;
  uint8_t* out = dst;
  while (end - p >= 64) {
    bool plain = state.pos == TYencLinePos::Mid || (state.pos == TYencLinePos::Start && !state.escape);
    if (plain) {
      p = DecodeBlocks(p, end, out, state);
      if (end - p < 64) break;
    }
    TYencKernelResult r = YencDecodeScalar(p, 64, out, state);
    p += r.consumed;
    out += r.produced;
    if (r.stop != TYencStop::None)
      return {static_cast<size_t>(p - src), static_cast<size_t>(out - dst), r.stop};
  }
  TYencKernelResult r = YencDecodeScalar(p, static_cast<size_t>(end - p), out, state);
  return {static_cast<size_t>(p - src) + r.consumed, static_cast<size_t>(out - dst) + r.produced, r.stop};
}

}  // namespace zev
