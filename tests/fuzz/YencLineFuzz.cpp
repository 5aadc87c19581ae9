// The yEnc keyword-line parser on arbitrary text: never a crash, and what it returns is
// consistent with what it was given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "download/YencLine.h"
#include "download/YencSection.h"

using namespace zev;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  TYencLine line = ParseYencLine(text);
  if (line.kind == TYencLineKind::Other && (line.size || line.name || line.part || line.crc32)) std::abort();
  if (line.name) {
    if (line.name->size() > size) std::abort();
    if (!line.name->empty() && (line.name->front() == ' ' || line.name->back() == ' ')) std::abort();
  }
  // A section made of whatever was parsed is checked without trouble.
  TYencSection section;
  section.begin = line;
  section.part = line;
  section.end = line;
  section.decodedSize = size;
  section.crcKnown = true;
  (void)CheckYencSection(section);
  (void)YencFaultText(CheckYencSection(section));
  return 0;
}
