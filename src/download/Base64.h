#pragma once
// MIME base64 decoding (standard alphabet), in place.
#include <cstddef>

namespace zev {

// Decodes in[0, len) to `out`, which may be `in` itself. Characters outside the alphabet
// (line ends, blanks, the dots of dot-stuffing) are skipped; decoding ends after a group
// with "=" padding. A last group cut short gives the bytes its characters hold.
// Returns the bytes written; `consumed` (optional) receives the input used.
size_t Base64Decode(const char* in, size_t len, char* out, size_t* consumed = nullptr);

}  // namespace zev
