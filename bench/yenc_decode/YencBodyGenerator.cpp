#include "YencBodyGenerator.h"

#include <random>

#include "core/Crc32.h"
#include "download/YencEncode.h"

namespace zev::bench {

namespace {

// The bytes yEnc must escape: they encode to NUL, LF, CR and "=".
constexpr uint8_t kCritical[] = {0xD6, 0xE0, 0xE3, 0x13};

bool IsCritical(uint8_t b) { return b == 0xD6 || b == 0xE0 || b == 0xE3 || b == 0x13; }

uint8_t NonCritical(std::mt19937_64& rng) {
  uint8_t b;
  do b = static_cast<uint8_t>(rng()); while (IsCritical(b));
  return b;
}

}  // namespace

bool ParseEscapeMix(const std::string& word, TEscapeMix& mix) {
  if (word == "random") mix = TEscapeMix::Random;
  else if (word == "escaped") mix = TEscapeMix::Escaped;
  else if (word == "half") mix = TEscapeMix::Half;
  else return false;
  return true;
}

std::vector<uint8_t> MakeData(TEscapeMix mix, size_t size, uint32_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<uint8_t> data(size);
  for (auto& b : data) {
    switch (mix) {
      case TEscapeMix::Random: b = static_cast<uint8_t>(rng()); break;
      case TEscapeMix::Escaped: b = kCritical[rng() & 3]; break;
      case TEscapeMix::Half: b = (rng() & 1) ? kCritical[(rng() >> 8) & 3] : NonCritical(rng); break;
    }
  }
  return data;
}

std::string MakeBodies(const std::vector<uint8_t>& data, size_t partSize) {
  std::string out;
  const uint32_t total = static_cast<uint32_t>((data.size() + partSize - 1) / partSize);
  const uint32_t fileCrc = UpdateCrc32(data.data(), data.size(), 0);
  for (uint32_t part = 1; part <= total; ++part) {
    size_t from = size_t{part - 1} * partSize;
    size_t size = std::min(partSize, data.size() - from);
    TYencPostInfo info{"bench.bin", data.size(), part, total, from + 1, true, fileCrc};
    out += DotStuffBody(YencEncodeArticle({data.data() + from, size}, info));
  }
  return out;
}

}  // namespace zev::bench
