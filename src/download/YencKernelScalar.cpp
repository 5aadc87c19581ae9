// The reference kernel and the portable kernel. Both share one byte step, so the
// reference is the single statement of the decoding rules (see YencKernel.h).
#include <algorithm>
#include <cstring>

#include "download/YencKernel.h"

namespace zev {

namespace {

constexpr uint8_t kEscape = '=';

// Decodes bytes until `len` is used up or a stop. Returns the stop; `i` and `o` advance.
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
    if (c == '\n') { pos = TYencLinePos::Start; continue; }
    if (c == '\r') continue;
    if (escape) {
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

}  // namespace

TYencKernelResult YencDecodeBytewise(const uint8_t* src, size_t len, uint8_t* dst, TYencState& state) {
  size_t i = 0, o = 0;
  TYencStop stop = DecodeBytes(src, len, dst, i, o, state);
  return {i, o, stop};
}

TYencKernelResult YencDecodeScalar(const uint8_t* src, size_t len, uint8_t* dst, TYencState& state) {
  size_t i = 0, o = 0;
  while (i < len) {
    if (state.pos == TYencLinePos::Mid) {
      bool escape = state.escape;
      // Eight bytes at once while they hold nothing to undo.
      while (!escape && len - i >= 8) {
        uint64_t w;
        std::memcpy(&w, src + i, 8);
        if (HasSpecial(w)) break;
        w = Minus42PerByte(w);
        std::memcpy(dst + o, &w, 8);
        i += 8;
        o += 8;
      }
      // Then up to eight bytes of the line without a branch on their values, so runs of
      // escapes at random places cost no mispredictions; a line end goes to the byte step.
      size_t until = len - i < 8 ? len : i + 8;
      while (i < until && src[i] != '\n') {
        uint8_t c = src[i++];
        bool opens = (c == kEscape) & !escape;
        bool cr = c == '\r';
        dst[o] = static_cast<uint8_t>(c - 42 - (escape ? 64 : 0));
        o += !(opens | cr);
        escape = opens | (escape & cr);
      }
      state.escape = escape;
      if (i == len || src[i] != '\n') continue;
    }
    // Line ends and line starts: the byte step, until the line's first byte is settled.
    size_t until = std::min(len, i + 4);
    TYencStop stop = DecodeBytes(src, until, dst, i, o, state);
    if (stop != TYencStop::None) return {i, o, stop};
  }
  return {i, o, TYencStop::None};
}

}  // namespace zev
