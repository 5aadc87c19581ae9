// SSSE3 kernel: the AVX2 kernel's method on 16-byte vectors, for CPUs without AVX2.
//
// Built with -mssse3 (see CMakeLists.txt) and reached only when cpuid says so. Nothing
// but the entry point has external linkage and no header with inline code is included,
// so no SSSE3-compiled copy of a shared function can reach an older CPU. POPCNT is not
// assumed: some SSSE3 CPUs lack it, so counts come from the table.
#include <tmmintrin.h>

#include "download/YencCompactTable.h"
#include "download/YencKernel.h"

namespace zev {

TYencKernelResult YencDecodeSsse3(const uint8_t* src, size_t len, uint8_t* dst, TYencState& state);

namespace {

// result[i] = cur[i - 1], result[0] = prev[15].
inline __m128i PrecedingBytes(__m128i cur, __m128i prev) { return _mm_alignr_epi8(cur, prev, 15); }

// Writes the bytes of `v` whose bit is set in `keep` (16 bits), in order, at `out`; up to
// 16 bytes past the result get scribbled on.
inline uint8_t* StoreKept(__m128i v, uint32_t keep, const TYencShuffleRow* table, uint8_t* out) {
  __m128i pattern = _mm_load_si128(reinterpret_cast<const __m128i*>(table[keep & 0x7FFF]));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(v, pattern));
  return out + kYencBitCount.of[keep & 0xFF] + kYencBitCount.of[(keep >> 8) & 0xFF];
}

inline __m128i LastByteSet(bool on) {
  return on ? _mm_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1) : _mm_setzero_si128();
}

inline TYencState StateAfter(__m128i eq, __m128i lf) {
  uint32_t eqBits = static_cast<uint32_t>(_mm_movemask_epi8(eq));
  uint32_t lfBits = static_cast<uint32_t>(_mm_movemask_epi8(lf));
  if (lfBits >> 15) return {TYencLinePos::Start, false};
  if (eqBits >> 15) {
    if ((lfBits >> 14) & 1) return {TYencLinePos::StartEq, false};
    return {TYencLinePos::Mid, true};
  }
  return {TYencLinePos::Mid, false};
}

struct TVectorMasks {
  __m128i eq, lf, drop, bad, value;
};

// Classifies one 16-byte vector given the "=" and LF masks of the vector before it.
inline TVectorMasks Classify(__m128i data, __m128i prevEq, __m128i prevLf) {
  TVectorMasks m;
  m.eq = _mm_cmpeq_epi8(data, _mm_set1_epi8('='));
  m.lf = _mm_cmpeq_epi8(data, _mm_set1_epi8('\n'));
  m.drop = _mm_or_si128(_mm_or_si128(m.eq, m.lf), _mm_cmpeq_epi8(data, _mm_set1_epi8('\r')));
  __m128i esc = PrecedingBytes(m.eq, prevEq);
  __m128i lineStart = PrecedingBytes(m.lf, prevLf);
  m.bad = _mm_or_si128(
      _mm_and_si128(esc, _mm_or_si128(m.drop, _mm_cmpeq_epi8(data, _mm_set1_epi8('y')))),
      _mm_and_si128(lineStart, _mm_cmpeq_epi8(data, _mm_set1_epi8('.'))));
  m.value = _mm_sub_epi8(_mm_sub_epi8(data, _mm_set1_epi8(42)), _mm_and_si128(esc, _mm_set1_epi8(64)));
  return m;
}

// Same contract as the AVX2 kernel's DecodeBlocks.
const uint8_t* DecodeBlocks(const uint8_t* p, const uint8_t* end, uint8_t*& out, TYencState& state) {
  const TYencShuffleRow* table = YencShuffleTable();
  __m128i carryEq = LastByteSet(state.escape);
  __m128i carryLf = LastByteSet(state.pos == TYencLinePos::Start);
  const uint8_t* start = p;
  while (end - p >= 64) {
    __m128i d0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i d1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    __m128i d2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    __m128i d3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48));
    TVectorMasks m0 = Classify(d0, carryEq, carryLf);
    TVectorMasks m1 = Classify(d1, m0.eq, m0.lf);
    TVectorMasks m2 = Classify(d2, m1.eq, m1.lf);
    TVectorMasks m3 = Classify(d3, m2.eq, m2.lf);
    __m128i bad = _mm_or_si128(_mm_or_si128(m0.bad, m1.bad), _mm_or_si128(m2.bad, m3.bad));
    if (_mm_movemask_epi8(bad) != 0) break;
    out = StoreKept(m0.value, ~static_cast<uint32_t>(_mm_movemask_epi8(m0.drop)), table, out);
    out = StoreKept(m1.value, ~static_cast<uint32_t>(_mm_movemask_epi8(m1.drop)), table, out);
    out = StoreKept(m2.value, ~static_cast<uint32_t>(_mm_movemask_epi8(m2.drop)), table, out);
    out = StoreKept(m3.value, ~static_cast<uint32_t>(_mm_movemask_epi8(m3.drop)), table, out);
    carryEq = m3.eq;
    carryLf = m3.lf;
    p += 64;
  }
  if (p != start) state = StateAfter(carryEq, carryLf);
  return p;
}

}  // namespace

TYencKernelResult YencDecodeSsse3(const uint8_t* src, size_t len, uint8_t* dst, TYencState& state) {
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
