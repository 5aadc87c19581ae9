#pragma once
// The bit-mask side of the SIMD kernels: which bytes of a 64-byte block are escapes, line
// starts and keyword lines, what the block leaves behind, and the loop around the blocks.
// Integer code only; the vector side lives in each kernel's own file.
//
// Everything here has internal linkage on purpose: each kernel file is built with its own
// CPU flags, and a shared out-of-line copy could hand AVX2-encoded code to an SSSE3 caller.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "download/YencKernel.h"

namespace zev {
namespace {  // NOLINT: one private copy per kernel file, see above

// One bit per byte of a 64-byte block, bit i for byte i.
struct TYencBlockBits {
  uint64_t eq;    // "="
  uint64_t lf;    // LF
  uint64_t keep;  // neither "=" nor CR nor LF: a data byte when the block is accepted
  uint64_t look;  // LF, "." or "y": the bytes that need a look after a line start
};

// What the byte before a block says about its first byte (bit 0 of each word).
struct TYencCarry {
  uint64_t escaped = 0;    // the byte before was an escaping "="
  uint64_t lineStart = 0;  // the byte before was LF
};

// Where the block path can take over from a state, and with what carry. A line that began
// with "=" is an escape as far as its next byte goes (a "y" there is the keyword check);
// "." at a line start and an escape left open across a line end need the byte step.
inline bool YencCarryFromState(const TYencState& state, TYencCarry& carry) {
  switch (state.pos) {
    case TYencLinePos::Mid: carry = {state.escape ? 1u : 0u, 0}; return true;
    case TYencLinePos::Start: carry = {0, 1}; return !state.escape;
    case TYencLinePos::StartEq: carry = {1, 0}; return true;
    default: return false;
  }
}

// The bytes of a block that the block path refuses, bit i for byte i; a block without
// any is accepted. It refuses whatever only the byte step settles: an escaped "=", CR or
// LF (runs of "=", escapes split by a line end), "." at a line start (dot-stuffing, the
// terminator) and "y" after a line-start "=" (a keyword line). To stay cheap the test is
// coarser than that: it also refuses "." or "y" after any "=", and "y" or LF right after
// LF, which real posts never or hardly ever hold.
inline uint64_t YencBlockRefusals(const TYencBlockBits& b, const TYencCarry& c) {
  uint64_t escaped = (b.eq << 1) | c.escaped;
  uint64_t lineStart = (b.lf << 1) | c.lineStart;
  return (escaped & (~b.keep | b.look)) | (lineStart & b.look);
}

// Whether an accepted block is a pair run: "=" and an escaped byte by turns, as data
// made only of bytes that need escaping is sent, and no line end. Every kept byte of a
// pair run is escaped, and they sit on every other place. Blocks with a line end take the
// general path: closing up the LF's place costs as much as the table does. In bits: each
// byte is either "=" or escaped, and only "=" are dropped. The SSSE3 kernel takes pair
// runs on a path of their own; the AVX2 kernel does not (see there).
inline bool YencIsPairRun(const TYencBlockBits& b, const TYencCarry& c) {
  uint64_t escaped = (b.eq << 1) | c.escaped;
  return (~(escaped ^ b.eq) | (~b.keep ^ b.eq)) == 0;
}

inline TYencCarry YencCarryAfter(const TYencBlockBits& b) { return {b.eq >> 63, b.lf >> 63}; }

// The state after the last accepted block, from its carry and its LF bits. An accepted
// block never leaves an escape open at a line start, so these four cover every end.
inline TYencState YencStateAfter(const TYencCarry& c, uint64_t lastLf) {
  if (c.lineStart) return {TYencLinePos::Start, false};
  if (!c.escaped) return {TYencLinePos::Mid, false};
  if ((lastLf >> 62) & 1) return {TYencLinePos::StartEq, false};
  return {TYencLinePos::Mid, true};
}

// The fewest bytes the portable kernel takes after a refused block, so that text refused
// near every block start (hostile input) does not pay a block test for every byte or two.
constexpr size_t kYencMinRefusedStep = 16;

// The loop around a kernel's block path, which decodes whole 64-byte blocks from `p`
// until one is refused, sets `refusals` to that block's refused bytes (see
// YencBlockRefusals) and returns where it stopped, `out` and `state` following it.
// The portable kernel takes a refused block up to and including its first refused byte,
// and the blocks go on right after it: a dot-stuffed line costs a few dozen bytes of the
// slower kernel, not a whole block. A state the blocks cannot start from (a line start
// that may still be "." or an escape open across a line end) takes the byte step for one
// byte, which settles it within two or three.
template <typename TDecodeBlocks>
TYencKernelResult YencDriveBlocks(const uint8_t* src, size_t len, uint8_t* dst, TYencState& state,
                                  TDecodeBlocks decodeBlocks) {
  const uint8_t* p = src;
  const uint8_t* end = src + len;
  uint8_t* out = dst;
  while (end - p >= 64) {
    TYencCarry carry;
    size_t step = 1;
    if (YencCarryFromState(state, carry)) {
      uint64_t refusals = 0;
      p = decodeBlocks(p, end, out, carry, state, refusals);
      if (end - p < 64) break;
      step = std::max<size_t>(static_cast<size_t>(__builtin_ctzll(refusals)) + 1, kYencMinRefusedStep);
    }
    TYencKernelResult r = step == 1 ? YencDecodeBytewise(p, 1, out, state) : YencDecodeScalar(p, step, out, state);
    p += r.consumed;
    out += r.produced;
    if (r.stop != TYencStop::None)
      return {static_cast<size_t>(p - src), static_cast<size_t>(out - dst), r.stop};
  }
  TYencKernelResult r = YencDecodeScalar(p, static_cast<size_t>(end - p), out, state);
  return {static_cast<size_t>(p - src) + r.consumed, static_cast<size_t>(out - dst) + r.produced, r.stop};
}

}  // namespace
}  // namespace zev
