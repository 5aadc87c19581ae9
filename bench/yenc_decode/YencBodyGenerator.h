#pragma once
// Makes benchmark input: yEnc posts of random data as a server sends them.
#include <cstdint>
#include <string>
#include <vector>

namespace zev::bench {

enum class TEscapeMix {
  Random,    // uniform random bytes (about 1 in 64 needs an escape)
  Escaped,   // every byte needs an escape
  Half,      // about half the bytes need one, at random positions
};

bool ParseEscapeMix(const std::string& word, TEscapeMix& mix);

// `size` bytes of data of the given mix.
std::vector<uint8_t> MakeData(TEscapeMix mix, size_t size, uint32_t seed);

// The data posted as a multi-part file in parts of `partSize`: each part one article body
// with its keyword lines, 128-character lines, CR LF, dot-stuffed, ended by ".".
std::string MakeBodies(const std::vector<uint8_t>& data, size_t partSize);

}  // namespace zev::bench
