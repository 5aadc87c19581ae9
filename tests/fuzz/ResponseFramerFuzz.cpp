// The response framer over arbitrary bytes cut into arbitrary pieces: it never reads or
// writes out of bounds, never grows without limit, hands on only whole lines, and finds
// the same response whatever the cuts.
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "../nntp/FramerFeed.h"

using namespace zev;

namespace {

std::vector<size_t> Cuts(uint32_t seed, size_t size) {
  std::vector<size_t> cuts;
  uint32_t x = seed * 2654435761u + 1;
  for (size_t pos = 0; pos < size;) {
    x = x * 1103515245u + 12345u;
    pos += 1 + (x >> 16) % 97;
    cuts.push_back(pos);
  }
  return cuts;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const bool multiLine = data[0] & 1;
  const auto mode = static_cast<TDataMode>((data[0] >> 1) % 3);
  const uint32_t seed = data[1] | data[2] << 8;
  const std::string_view stream(reinterpret_cast<const char*>(data + 3), size - 3);

  TResponseFramer whole;
  whole.Begin(multiLine, mode, seed);
  const test::FFramerRun reference = test::FeedFramer(whole, stream, {});
  TResponseFramer cut;
  cut.Begin(multiLine, mode, seed);
  const test::FFramerRun run = test::FeedFramer(cut, stream, Cuts(seed, stream.size()));

  Check(run.complete == reference.complete);
  Check(run.tooLarge == reference.tooLarge);
  if (!run.complete) return 0;
  Check(run.end == reference.end);
  Check(run.code == reference.code && run.statusLine == reference.statusLine);
  Check(run.data == reference.data);
  Check(run.data.size() <= stream.size());
  Check(run.statusLine.find('\n') == std::string::npos);
  for (size_t b = 0; b + 1 < run.blocks.size(); ++b) Check(run.blocks[b].ends_with("\n"));
  return 0;
}
