#pragma once
// Data makers and feeding drivers shared by the yEnc tests.
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "download/YencDecoder.h"
#include "download/YencKernel.h"

namespace zev::test {

// Bytes that yEnc must escape: they encode to NUL, LF, CR and "=".
inline constexpr uint8_t kCriticalBytes[] = {0xD6, 0xE0, 0xE3, 0x13};

// Random data where about `escapedPercent` of the bytes need an escape.
inline std::vector<uint8_t> DataWithEscapes(size_t size, int escapedPercent, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> data(size);
  for (auto& byte : data) {
    if (static_cast<int>(rng() % 100) < escapedPercent) {
      byte = kCriticalBytes[rng() % 4];
    } else {
      do byte = static_cast<uint8_t>(rng()); while (byte == 0xD6 || byte == 0xE0 || byte == 0xE3 || byte == 0x13);
    }
  }
  return data;
}

// Raw text that stresses the kernels' rare paths: line starts with "." and "=", "=" at
// line ends, runs of "=", bare LF, "=y" inside lines, the "." line.
inline std::string Hostile(size_t size, uint32_t seed) {
  static constexpr const char* kPieces[] = {
      "=", "==", "===", "\r\n", "\n", "\r", ".", "..", "\r\n.", "\r\n..", "\n.", "\r\n=",
      "\r\n=y", "=y", "y", "=\r\n", "=\n", "=\r", "\r\n.\r", "\r\n.\r\n", "\n.\n",
      "abcdefghijklmnopqrstuvwxyz0123456789", "=@=J=M=}", "\t ", "\0", "\xff\xfe", "=\r\n="};
  std::mt19937 rng(seed);
  std::string out;
  while (out.size() < size) {
    if (rng() % 3 == 0) {
      size_t n = 1 + rng() % 90;
      for (size_t i = 0; i < n; ++i) out += static_cast<char>(33 + rng() % 90);
    } else {
      const char* piece = kPieces[rng() % std::size(kPieces)];
      out.append(piece, piece[0] == '\0' ? 1 : std::strlen(piece));
    }
  }
  out.resize(size);
  return out;
}

// Every stop a kernel made, and everything it produced, while fed `raw` in pieces.
struct TKernelRun {
  std::string output;
  std::vector<std::pair<size_t, TYencStop>> stops;  // input offset after the stop
  TYencState finalState;
  friend bool operator==(const TKernelRun& a, const TKernelRun& b) {
    return a.output == b.output && a.stops == b.stops && a.finalState.pos == b.finalState.pos &&
           a.finalState.escape == b.finalState.escape;
  }
};

// Feeds `raw` to a kernel in pieces of the sizes `sizes` (cycled). Each piece is copied
// into a heap block of exactly its size so a sanitizer sees any read past its end, and the
// kernel writes either in place or into a second exact-size block. After a stop the
// driver goes on as the body decoder would: a keyword line is skipped to its LF, and after
// the "." line a new body begins.
inline TKernelRun RunKernel(const TYencKernel& kernel, const std::string& raw, const std::vector<size_t>& sizes,
                            bool inPlace) {
  TKernelRun run;
  TYencState state;
  bool skippingLine = false;
  size_t offset = 0, turn = 0;
  while (offset < raw.size()) {
    size_t size = std::min(sizes[turn++ % sizes.size()], raw.size() - offset);
    std::vector<uint8_t> block(raw.begin() + offset, raw.begin() + offset + size);
    std::vector<uint8_t> separate(size);
    size_t at = 0;
    while (at < size) {
      if (skippingLine) {
        const void* lf = std::memchr(block.data() + at, '\n', size - at);
        if (!lf) { at = size; break; }
        at = static_cast<size_t>(static_cast<const uint8_t*>(lf) - block.data()) + 1;
        skippingLine = false;
        state = TYencState{};
        continue;
      }
      uint8_t* dst = inPlace ? block.data() + at : separate.data() + at;
      TYencKernelResult r = kernel.decode(block.data() + at, size - at, dst, state);
      run.output.append(reinterpret_cast<const char*>(dst), r.produced);
      at += r.consumed;
      if (r.stop == TYencStop::None) continue;
      run.stops.emplace_back(offset + at, r.stop);
      if (r.stop == TYencStop::Keyword) skippingLine = true;
      else state = TYencState{};
    }
    offset += size;
  }
  run.finalState = state;
  return run;
}

// Everything a body decoder reported while fed `body` in pieces of the sizes `sizes`.
struct TDecodeRun {
  std::string data;                   // all produced bytes
  std::vector<TYencSection> sections; // as they were at each End
  std::vector<TYencDecoder::TEvent> events;
  size_t consumed = 0;                // input used up to and including BodyEnd
  bool bodyEnded = false;
};

inline TDecodeRun DecodeBody(const std::string& body, const std::vector<size_t>& sizes, bool inPlace = true,
                             const TYencKernel& kernel = BestYencKernel()) {
  TDecodeRun run;
  TYencDecoder decoder(kernel);
  size_t offset = 0, turn = 0;
  while (offset < body.size() && !run.bodyEnded) {
    size_t size = std::min(sizes[turn++ % sizes.size()], body.size() - offset);
    std::vector<char> block(body.begin() + offset, body.begin() + offset + size);
    std::vector<char> separate(size);
    const char* in = block.data();
    char* out = inPlace ? block.data() : separate.data();
    size_t left = size;
    TYencDecoder::TStep s;
    do {
      s = decoder.Step(in, left, out);
      run.data.append(out, s.produced);
      in += s.consumed;
      left -= s.consumed;
      out += s.produced;  // in place, the output trails the input in the same block
      run.consumed += s.consumed;
      if (s.event != TYencDecoder::TEvent::None) run.events.push_back(s.event);
      if (s.event == TYencDecoder::TEvent::End) run.sections.push_back(decoder.Section());
      if (s.event == TYencDecoder::TEvent::BodyEnd) run.bodyEnded = true;
    } while (s.event != TYencDecoder::TEvent::None && s.event != TYencDecoder::TEvent::BodyEnd);
    offset += size;
  }
  while (!run.bodyEnded) {
    TYencDecoder::TStep s = decoder.Finish();
    run.events.push_back(s.event);
    if (s.event == TYencDecoder::TEvent::End) run.sections.push_back(decoder.Section());
    if (s.event == TYencDecoder::TEvent::BodyEnd) run.bodyEnded = true;
  }
  return run;
}

}  // namespace zev::test
