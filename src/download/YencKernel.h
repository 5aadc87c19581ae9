#pragma once
// yEnc data-line decoding kernels.
//
// A kernel turns the raw bytes of an article body, exactly as they come off the socket,
// into decoded bytes. It undoes two layers at once:
//  - NNTP transport: lines end at LF (CR LF or a bare LF); a line that begins with "." has
//    that one "." removed (dot-stuffing); a line holding only "." ends the body;
//  - yEnc data: CR and LF are never data; "=" escapes the next data byte (byte - 106);
//    every other byte gives byte - 42. An escape left open at a line end (a faulty
//    encoder split the pair) applies to the first data byte of the next line, unless that
//    line begins with "=": then the new "=" wins. Because of that rule no output ever
//    waits for a later call, so decoding in place can never overtake the input.
// A line that begins with "=y" is a keyword line ("=ybegin", "=ypart", "=yend") and is
// not data: the kernel stops there and leaves the line to the caller.
//
// State is carried across calls, so a body may be fed in blocks split anywhere, even
// inside an escape or a line start. Every kernel produces exactly the same bytes, state
// and stop position as YencDecodeBytewise, the reference.
#include <cstddef>
#include <cstdint>
#include <span>

namespace zev {

// Where the previous call left off, as far as the next byte is concerned.
enum class TYencLinePos : uint8_t {
  Mid,         // inside a line
  Start,       // right after LF: the next byte begins a line
  StartDot,    // a line began with "."
  StartDotCR,  // a line began with "." CR
  StartEq,     // a line began with "="
};

struct TYencState {
  TYencLinePos pos = TYencLinePos::Start;  // a body begins with a line
  bool escape = false;                     // the previous data byte was an escaping "="
};

enum class TYencStop : uint8_t {
  None,        // all input consumed
  Keyword,     // consumed up to and including the "y" of a line beginning with "=y"
  Terminator,  // consumed up to and including the LF of the line "." that ends the body
};

struct TYencKernelResult {
  size_t consumed = 0;  // input bytes used
  size_t produced = 0;  // decoded bytes written to the output
  TYencStop stop = TYencStop::None;
};

// Decodes src[0, len) into dst. dst may be src itself (in place) or any place at or
// before src in the same buffer, or a separate buffer of at least len bytes. Writes stay
// inside dst[0, consumed); bytes past `produced` may have been scribbled on.
using TYencKernelFn = TYencKernelResult (*)(const uint8_t* src, size_t len, uint8_t* dst,
                                            TYencState& state);

struct TYencKernel {
  const char* name;      // "bytewise", "scalar", "ssse3", "avx2", "avx512"
  TYencKernelFn decode;
};

// The byte-at-a-time reference: the definition of the decoding rules above.
TYencKernelResult YencDecodeBytewise(const uint8_t* src, size_t len, uint8_t* dst,
                                     TYencState& state);
// Portable kernel: eight bytes at a time where a line has nothing to undo.
TYencKernelResult YencDecodeScalar(const uint8_t* src, size_t len, uint8_t* dst,
                                   TYencState& state);

// Every kernel this CPU can run, reference first, fastest last.
std::span<const TYencKernel> YencKernels();
// The fastest kernel this CPU can run (chosen once, by cpuid).
const TYencKernel& BestYencKernel();
// The kernel of that name when this CPU can run it, else nullptr.
const TYencKernel* FindYencKernel(const char* name);

}  // namespace zev
