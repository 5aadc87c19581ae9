#pragma once
// The MIME parts of an article body that carry a given Content-Transfer-Encoding.
//
// A part's header runs from its boundary line (a line starting with "-") to the first
// blank line; its content from there to the next line starting with "--" (the next
// boundary) or the end of the body. Stopping at the boundary matters: base64 skips
// characters outside its alphabet, and the letters of a boundary would otherwise decode
// as trailing garbage.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zev {

struct FMimePart {
  std::string name;  // "name=" / "filename=" of the part header, as written; may be empty
  size_t contentBegin = 0;
  size_t contentEnd = 0;
};

// Parts whose "Content-Transfer-Encoding:" value starts with `encoding` (any case).
std::vector<FMimePart> FindMimeParts(std::string_view body, std::string_view encoding);

// Where the body's own headers end: after the first blank line, when the text before it is
// shorter than the text after it (a post that kept its headers in the body); else 0.
size_t SkipBodyHeaders(std::string_view body);

}  // namespace zev
