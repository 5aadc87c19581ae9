#include "download/DotStuffing.h"

#include <cstring>

namespace zev {

size_t UndoDotStuffing(char* text, size_t len) {
  size_t in = 0, out = 0;
  while (in < len) {
    if (text[in] == '.') ++in;
    const void* lf = std::memchr(text + in, '\n', len - in);
    const size_t end = lf ? static_cast<size_t>(static_cast<const char*>(lf) - text) + 1 : len;
    std::memmove(text + out, text + in, end - in);
    out += end - in;
    in = end;
  }
  return out;
}

}  // namespace zev
