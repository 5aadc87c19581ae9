// AVX2 kernel: 64 bytes per step, branch-free while a block holds nothing unusual.
//
// Built with -mavx2 -mpopcnt (see CMakeLists.txt) and reached only when cpuid says the
// CPU has both. Everything here except the entry point has internal linkage and the only
// header with inline code keeps its functions private to this file, so the linker can
// never hand an AVX2-compiled copy of a shared function to a caller on an older CPU.
#include <immintrin.h>

#include "download/YencCompactTable.h"
#include "download/YencKernel.h"
#include "download/YencKernelMasks.h"

namespace zev {

TYencKernelResult YencDecodeAvx2(const uint8_t* src, size_t len, uint8_t* dst, TYencState& state);

namespace {

// result[i] = cur[i - 1], result[0] = prev[31]: "the byte before is ..." masks.
inline __m256i PrecedingBytes(__m256i cur, __m256i prev) {
  return _mm256_alignr_epi8(cur, _mm256_permute2x128_si256(prev, cur, 0x21), 15);
}

inline uint64_t Bits(__m256i low, __m256i high) {
  return static_cast<uint32_t>(_mm256_movemask_epi8(low)) |
         static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(high))) << 32;
}

inline __m256i LastByteSet(uint64_t on) {
  return _mm256_and_si256(_mm256_set1_epi8(static_cast<char>(-static_cast<int>(on))),
                          _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                           0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1));
}

inline __m256i Equal(__m256i v, char c) { return _mm256_cmpeq_epi8(v, _mm256_set1_epi8(c)); }

// Byte sets whose members differ in their low four bits: a byte is in the set when the
// row entry its low bits pick is the byte itself (bytes from 0x80 up pick 0, never equal).
inline __m256i SetRow(char a, char b, char c) {
  alignas(32) char row[32] = {1};
  row[16] = 1;
  for (char member : {a, b, c}) row[member & 15] = row[16 + (member & 15)] = member;
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(row));
}

inline __m256i OneOf(__m256i v, __m256i row) { return _mm256_cmpeq_epi8(_mm256_shuffle_epi8(row, v), v); }

// The bytes of a block that matter: "=" and LF for escapes and line starts, the bytes
// dropped from the output, and the letters that matter only at a line start.
struct TBlock {
  __m256i a, b, eqA, eqB;
  TYencBlockBits bits;
};

// Three masks give the four sets: LF is the one byte both dropped and worth a look at a
// line start, so "dropped" and "LF, \".\" or \"y\"" tell it and the letters apart.
inline TBlock Classify(const uint8_t* p, __m256i lineEnds, __m256i lineStartBytes) {
  TBlock k;
  k.a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  k.b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
  k.eqA = Equal(k.a, '=');
  k.eqB = Equal(k.b, '=');
  __m256i dropA = _mm256_or_si256(k.eqA, OneOf(k.a, lineEnds)), dropB = _mm256_or_si256(k.eqB, OneOf(k.b, lineEnds));
  __m256i lookA = OneOf(k.a, lineStartBytes), lookB = OneOf(k.b, lineStartBytes);
  uint64_t drop = Bits(dropA, dropB), look = Bits(lookA, lookB);
  k.bits.eq = Bits(k.eqA, k.eqB);
  k.bits.lf = look & drop;
  k.bits.keep = ~drop;
  k.bits.look = look;
  return k;
}

inline __m128i Pattern(const TYencShuffleRow* table, uint64_t keep, int lane) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(table[(keep >> (16 * lane)) & 0x7FFF]));
}

// Writes the bytes of the 64 in `low`, `high` whose bit is set in `keep`, in order, at
// `out`: each 16-byte lane is packed by one table shuffle and stored whole where the
// lane before it ends. Up to 16 bytes past the result get scribbled on.
inline uint8_t* StoreKept(__m256i low, __m256i high, uint64_t keep, const TYencShuffleRow* table, uint8_t* out) {
  __m256i lowPattern = _mm256_inserti128_si256(_mm256_castsi128_si256(Pattern(table, keep, 0)), Pattern(table, keep, 1), 1);
  __m256i highPattern = _mm256_inserti128_si256(_mm256_castsi128_si256(Pattern(table, keep, 2)), Pattern(table, keep, 3), 1);
  __m256i lowPacked = _mm256_shuffle_epi8(low, lowPattern);
  __m256i highPacked = _mm256_shuffle_epi8(high, highPattern);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(lowPacked));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + _mm_popcnt_u64(keep & 0xFFFF)), _mm256_extracti128_si256(lowPacked, 1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + _mm_popcnt_u64(keep & 0xFFFFFFFF)), _mm256_castsi256_si128(highPacked));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + _mm_popcnt_u64(keep & 0xFFFFFFFFFFFF)), _mm256_extracti128_si256(highPacked, 1));
  return out + _mm_popcnt_u64(keep);
}

// Decodes whole 64-byte blocks until one is refused (see YencBlockRefusals).
const uint8_t* DecodeBlocks(const uint8_t* p, const uint8_t* end, uint8_t*& out, TYencCarry carry, TYencState& state,
                            uint64_t& refusals) {
  const TYencShuffleRow* table = YencShuffleTable();
  __m256i carryEq = LastByteSet(carry.escaped);
  const __m256i lineEnds = SetRow('\n', '\r', '\r'), lineStartBytes = SetRow('\n', '.', 'y');
  const uint8_t* start = p;
  uint64_t lastLf = 0;
  while (end - p >= 64) {
    TBlock k = Classify(p, lineEnds, lineStartBytes);
    refusals = YencBlockRefusals(k.bits, carry);
    if (refusals != 0) break;
    // Blocks of escape pairs (see YencIsPairRun) take this path too: on this kernel a path
    // of their own saved less on them than its test cost every other block.
    __m256i escA = PrecedingBytes(k.eqA, carryEq), escB = PrecedingBytes(k.eqB, k.eqA);
    __m256i valA = _mm256_sub_epi8(k.a, _mm256_blendv_epi8(_mm256_set1_epi8(42), _mm256_set1_epi8(106), escA));
    __m256i valB = _mm256_sub_epi8(k.b, _mm256_blendv_epi8(_mm256_set1_epi8(42), _mm256_set1_epi8(106), escB));
    out = StoreKept(valA, valB, k.bits.keep, table, out);
    carry = YencCarryAfter(k.bits);
    lastLf = k.bits.lf;
    carryEq = k.eqB;
    p += 64;
  }
  if (p != start) state = YencStateAfter(carry, lastLf);
  return p;
}

}  // namespace

TYencKernelResult YencDecodeAvx2(const uint8_t* src, size_t len, uint8_t* dst, TYencState& state) {
  return YencDriveBlocks(src, len, dst, state, DecodeBlocks);
}

}  // namespace zev
