#include "download/Base64.h"

#include <array>
#include <cstdint>

namespace zev {

namespace {

constexpr uint8_t kSkip = 0xFF;
constexpr uint8_t kPad = 0xFE;

constexpr std::array<uint8_t, 256> MakeTable() {
  std::array<uint8_t, 256> t{};
  for (auto& v : t) v = kSkip;
  const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (uint8_t i = 0; i < 64; ++i) t[static_cast<uint8_t>(alphabet[i])] = i;
  t['='] = kPad;
  return t;
}

constexpr std::array<uint8_t, 256> kTable = MakeTable();

}  // namespace

size_t Base64Decode(const char* in, size_t len, char* out, size_t* consumed) {
  size_t produced = 0, i = 0;
  uint32_t bits = 0;
  int count = 0;
  for (; i < len; ++i) {
    const uint8_t v = kTable[static_cast<uint8_t>(in[i])];
    if (v == kSkip) continue;
    if (v == kPad) {
      ++i;
      break;
    }
    bits = bits << 6 | v;
    if (++count == 4) {
      out[produced++] = static_cast<char>(bits >> 16);
      out[produced++] = static_cast<char>(bits >> 8);
      out[produced++] = static_cast<char>(bits);
      bits = 0;
      count = 0;
    }
  }
  // A group ended by padding or by the end of the text.
  if (count >= 2) out[produced++] = static_cast<char>(bits >> (count == 2 ? 4 : 10));
  if (count == 3) out[produced++] = static_cast<char>(bits >> 2);
  if (consumed) *consumed = i;
  return produced;
}

}  // namespace zev
