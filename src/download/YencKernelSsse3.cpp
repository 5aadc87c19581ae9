// SSSE3 kernel: the AVX2 kernel's method on 16-byte vectors, for CPUs without AVX2.
//
// Built with -mssse3 (see CMakeLists.txt) and reached only when cpuid says so. Nothing
// but the entry point has external linkage and the only header with inline code keeps
// its functions private to this file, so no SSSE3-compiled copy of a shared function can
// reach an older CPU. POPCNT is not assumed: some SSSE3 CPUs lack it, so counts come from
// the table.
#include <tmmintrin.h>

#include "download/YencCompactTable.h"
#include "download/YencKernel.h"
#include "download/YencKernelMasks.h"

namespace zev {

TYencKernelResult YencDecodeSsse3(const uint8_t* src, size_t len, uint8_t* dst, TYencState& state);

namespace {

constexpr int kLanes = 4;

// result[i] = cur[i - 1], result[0] = prev[15].
inline __m128i PrecedingBytes(__m128i cur, __m128i prev) { return _mm_alignr_epi8(cur, prev, 15); }

inline uint64_t LaneBits(__m128i v, int lane) {
  return static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(v))) << (16 * lane);
}

inline __m128i LastByteSet(uint64_t on) {
  return _mm_and_si128(_mm_set1_epi8(static_cast<char>(-static_cast<int>(on))),
                       _mm_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1));
}

inline __m128i Equal(__m128i v, char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); }

// Byte sets whose members differ in their low four bits: a byte is in the set when the
// row entry its low bits pick is the byte itself (bytes from 0x80 up pick 0, never equal).
inline __m128i SetRow(char a, char b, char c) {
  alignas(16) char row[16] = {1};
  for (char member : {a, b, c}) row[member & 15] = member;
  return _mm_load_si128(reinterpret_cast<const __m128i*>(row));
}

inline __m128i OneOf(__m128i v, __m128i row) { return _mm_cmpeq_epi8(_mm_shuffle_epi8(row, v), v); }

struct TBlock {
  __m128i data[kLanes], eq[kLanes];
  TYencBlockBits bits{};
};

// Three masks give the four sets: LF is the one byte both dropped and worth a look at a
// line start, so "dropped" and "LF, \".\" or \"y\"" tell it and the letters apart.
inline TBlock Classify(const uint8_t* p, __m128i lineEnds, __m128i lineStartBytes) {
  TBlock k;
  uint64_t drop = 0, look = 0;
  for (int lane = 0; lane < kLanes; ++lane) {
    __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * lane));
    __m128i eq = Equal(d, '=');
    k.data[lane] = d;
    k.eq[lane] = eq;
    k.bits.eq |= LaneBits(eq, lane);
    drop |= LaneBits(_mm_or_si128(eq, OneOf(d, lineEnds)), lane);
    look |= LaneBits(OneOf(d, lineStartBytes), lane);
  }
  k.bits.lf = look & drop;
  k.bits.keep = ~drop;
  k.bits.look = look;
  return k;
}

// Writes the bytes of `v` whose bit is set in `keep` (16 bits), in order, at `out`; up to
// 16 bytes past the result get scribbled on.
inline uint8_t* StoreKept(__m128i v, uint32_t keep, const TYencShuffleRow* table, uint8_t* out) {
  __m128i pattern = _mm_load_si128(reinterpret_cast<const __m128i*>(table[keep & 0x7FFF]));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(v, pattern));
  return out + kYencBitCount.of[keep & 0xFF] + kYencBitCount.of[(keep >> 8) & 0xFF];
}

// Shuffles that gather every other byte of a vector into its first eight: the odd bytes
// (row 0) or the even ones (row 1).
alignas(16) constexpr uint8_t kEveryOther[2][16] = {
    {1, 3, 5, 7, 9, 11, 13, 15, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80},
    {0, 2, 4, 6, 8, 10, 12, 14, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80}};

// Decodes a pair run (see YencIsPairRun) with fixed shuffles and no table.
inline uint8_t* StorePairRun(const TBlock& k, uint64_t carryEscaped, uint8_t* out) {
  const __m128i pick = _mm_load_si128(reinterpret_cast<const __m128i*>(kEveryOther[carryEscaped]));
  const __m128i escapedOffset = _mm_set1_epi8(106);
  for (int pair = 0; pair < kLanes / 2; ++pair) {
    __m128i data = _mm_unpacklo_epi64(_mm_shuffle_epi8(k.data[2 * pair], pick), _mm_shuffle_epi8(k.data[2 * pair + 1], pick));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * pair), _mm_sub_epi8(data, escapedOffset));
  }
  return out + 32;
}

// Same contract as the AVX2 kernel's DecodeBlocks.
const uint8_t* DecodeBlocks(const uint8_t* p, const uint8_t* end, uint8_t*& out, TYencCarry carry, TYencState& state,
                            uint64_t& refusals) {
  const TYencShuffleRow* table = YencShuffleTable();
  __m128i carryEq = LastByteSet(carry.escaped);
  const __m128i lineEnds = SetRow('\n', '\r', '\r'), lineStartBytes = SetRow('\n', '.', 'y');
  const uint8_t* start = p;
  uint64_t lastLf = 0;
  while (end - p >= 64) {
    TBlock k = Classify(p, lineEnds, lineStartBytes);
    refusals = YencBlockRefusals(k.bits, carry);
    if (refusals != 0) break;
    if (YencIsPairRun(k.bits, carry)) {
      out = StorePairRun(k, carry.escaped, out);
    } else {
      for (int lane = 0; lane < kLanes; ++lane) {
        __m128i escaped = PrecedingBytes(k.eq[lane], lane == 0 ? carryEq : k.eq[lane - 1]);
        __m128i value = _mm_sub_epi8(_mm_sub_epi8(k.data[lane], _mm_set1_epi8(42)), _mm_and_si128(escaped, _mm_set1_epi8(64)));
        out = StoreKept(value, static_cast<uint32_t>(k.bits.keep >> (16 * lane)), table, out);
      }
    }
    carry = YencCarryAfter(k.bits);
    lastLf = k.bits.lf;
    carryEq = k.eq[kLanes - 1];
    p += 64;
  }
  if (p != start) state = YencStateAfter(carry, lastLf);
  return p;
}

}  // namespace

TYencKernelResult YencDecodeSsse3(const uint8_t* src, size_t len, uint8_t* dst, TYencState& state) {
  return YencDriveBlocks(src, len, dst, state, DecodeBlocks);
}

}  // namespace zev
