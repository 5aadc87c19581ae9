#pragma once
// NNTP dot-stuffing: a server sends every body line that begins with "." with one more "."
// in front. Undone once, at line starts only; the first line of a body is a line start
// too, so a real "." that begins it survives its stuffing.
#include <cstddef>

namespace zev {

// Removes the stuffed "." of every line of text[0, len), in place; returns the new length.
size_t UndoDotStuffing(char* text, size_t len);

}  // namespace zev
