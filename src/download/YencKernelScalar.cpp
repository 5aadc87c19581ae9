// The reference kernel and the portable kernel. The reference is the byte step alone,
// the single statement of the decoding rules (see YencKernel.h); the portable kernel
// adds two faster paths for the inside of lines and falls back to the same byte step
// for everything else, and the tests hold it to the reference.
#include <algorithm>
#include <cstring>

#include "download/YencKernel.h"

namespace zev {

namespace {

constexpr uint8_t kEscape = '=';

// Decodes bytes until `len` is used up or a stop. Returns the stop; `inPos` and
// `outPos` advance. Inside a line (nearly always) a byte costs three predictable tests;
// line starts take the slower road.
inline TYencStop DecodeBytes(const uint8_t* src, size_t len, uint8_t* dst, size_t& inPos, size_t& outPos,
                             TYencState& st) {
  // Locals, not the references: a byte store may alias anything, and the compiler would
  // reload every referenced value after each one.
  size_t i = inPos, o = outPos;
  TYencLinePos pos = st.pos;
  bool escape = st.escape;
  TYencStop stop = TYencStop::None;
  while (i < len) {
    uint8_t c = src[i++];
    if (pos != TYencLinePos::Mid) [[unlikely]] {
      switch (pos) {
        case TYencLinePos::Start:
          if (c == '.') { pos = TYencLinePos::StartDot; continue; }
          if (c == kEscape) { pos = TYencLinePos::StartEq; continue; }
          break;
        case TYencLinePos::StartDot:
          if (c == '\n') { stop = TYencStop::Terminator; pos = TYencLinePos::Start; escape = false; goto done; }
          if (c == '\r') { pos = TYencLinePos::StartDotCR; continue; }
          break;  // the stuffed "." is dropped; c is an ordinary byte
        case TYencLinePos::StartDotCR:
          if (c == '\n') { stop = TYencStop::Terminator; pos = TYencLinePos::Start; escape = false; goto done; }
          break;
        case TYencLinePos::StartEq:
          if (c == 'y') { stop = TYencStop::Keyword; pos = TYencLinePos::Mid; escape = false; goto done; }
          escape = true;  // the line's "=" escapes c, replacing any escape left open
          break;
        case TYencLinePos::Mid:
          break;
      }
      pos = TYencLinePos::Mid;
    }
    if (c == '\n') {
      pos = TYencLinePos::Start;
    } else if (c == '\r') {
      // never data
    } else if (escape) {
      dst[o++] = static_cast<uint8_t>(c - 106);
      escape = false;
    } else if (c == kEscape) {
      escape = true;
    } else {
      dst[o++] = static_cast<uint8_t>(c - 42);
    }
  }
done:
  inPos = i;
  outPos = o;
  st.pos = pos;
  st.escape = escape;
  return stop;
}

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighs = 0x8080808080808080ull;

constexpr uint64_t HasZeroByte(uint64_t x) { return (x - kOnes) & ~x & kHighs; }

// Any "=", CR or LF among the eight bytes: those need the byte step.
constexpr bool HasSpecial(uint64_t w) {
  return (HasZeroByte(w ^ (kOnes * '=')) | HasZeroByte(w ^ (kOnes * '\r')) |
          HasZeroByte(w ^ (kOnes * '\n'))) != 0;
}

// Subtracts 42 from each byte on its own: the top bits are set before subtracting so no
// borrow crosses into the next byte, then corrected.
constexpr uint64_t Minus42PerByte(uint64_t w) {
  return ((w | kHighs) - kOnes * 42) ^ (~w & kHighs);
}

// Decodes inside a line, with no escape open, until `until`, a line end or an escape that
// a line end splits: those are left to the byte step. Taking "=" and its byte together
// needs one test per escape where the byte step needs two.
inline void DecodeInsideLine(const uint8_t* src, size_t until, uint8_t* dst, size_t& inPos, size_t& outPos) {
  size_t i = inPos, o = outPos;
  while (i < until) {
    uint8_t c = src[i];
    if (c == kEscape) {
      if (i + 1 >= until) break;
      uint8_t next = src[i + 1];
      if (next == '\n' || next == '\r') break;
      dst[o++] = static_cast<uint8_t>(next - 106);
      i += 2;
      continue;
    }
    if (c == '\n') break;
    ++i;
    dst[o] = static_cast<uint8_t>(c - 42);
    o += c != '\r';
  }
  inPos = i;
  outPos = o;
}

}  // namespace

TYencKernelResult YencDecodeBytewise(const uint8_t* src, size_t len, uint8_t* dst, TYencState& state) {
  size_t i = 0, o = 0;
  TYencStop stop = DecodeBytes(src, len, dst, i, o, state);
  return {i, o, stop};
}

TYencKernelResult YencDecodeScalar(const uint8_t* src, size_t len, uint8_t* dst, TYencState& state) {
  size_t i = 0, o = 0;
  // After a word fails the test, the bytes go through the line loop for a stretch that
  // doubles with each failure in a row (8 to 64 bytes): where escapes are dense the test
  // is then rarely paid, where they are rare the words soon take over again.
  unsigned failures = 0;
  while (i < len) {
    if (state.pos == TYencLinePos::Mid && !state.escape) {
      if (len - i >= 8) {
        uint64_t w;
        std::memcpy(&w, src + i, 8);
        if (!HasSpecial(w)) {
          w = Minus42PerByte(w);
          std::memcpy(dst + o, &w, 8);
          i += 8;
          o += 8;
          failures = 0;
          continue;
        }
        failures = std::min(failures + 1, 4u);
      }
      size_t before = i;
      DecodeInsideLine(src, std::min(len, i + (size_t{4} << failures)), dst, i, o);
      if (i != before) continue;
    }
    // A line end, a line start or an escape split by a line end: the byte step, one byte
    // at a time so that the paths above take over as soon as they can.
    TYencStop stop = DecodeBytes(src, i + 1, dst, i, o, state);
    if (stop != TYencStop::None) return {i, o, stop};
  }
  return {i, o, TYencStop::None};
}

}  // namespace zev
