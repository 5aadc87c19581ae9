#pragma once
// Seeded, deterministic randomness: the same seed gives byte-identical articles on every
// machine, so tests can compare against a manifest or regenerate content themselves.
#include <cstdint>
#include <cstring>
#include <string_view>

namespace zev::testserver {

// SplitMix64's finaliser: a good 64-bit mix of a counter or key.
inline uint64_t Mix64(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// FNV-1a, to turn labels into seeds.
inline uint64_t HashText(std::string_view text) {
  uint64_t h = 0xCBF29CE484222325ull;
  for (unsigned char c : text) h = (h ^ c) * 0x100000001B3ull;
  return h;
}

class TRandom {
 public:
  explicit TRandom(uint64_t seed) : state_(seed) {}
  uint64_t Next() { return Mix64(state_++); }
  // Uniform in [0, n), n > 0 (the tiny modulo bias does not matter for test data).
  uint64_t Below(uint64_t n) { return Next() % n; }
  uint64_t Between(uint64_t lo, uint64_t hi) { return lo + Below(hi - lo + 1); }
  void Fill(uint8_t* out, size_t size) {
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
      uint64_t v = Next();
      std::memcpy(out + i, &v, 8);
    }
    if (i < size) {
      uint64_t v = Next();
      std::memcpy(out + i, &v, size - i);
    }
  }

 private:
  uint64_t state_;
};

}  // namespace zev::testserver
