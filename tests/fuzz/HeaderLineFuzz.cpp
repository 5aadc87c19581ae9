// Hostile XHDR, LISTGROUP and XPAT lines and request texts: never a crash, and a value or
// Message-ID is always a part of its line.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/Log.h"
#include "nntp/HeaderLineParser.h"
#include "nntp/OverviewParser.h"

using namespace zev;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = (SetWarningsLevel(TWarningsLevel::None), true);
  (void)quiet;
  const std::string_view block(reinterpret_cast<const char*>(data), size);
  FHeaderLineContext context{"XHDR|Subject", "server", "group"};
  ForEachLine(block, [&](std::string_view line) {
    FHeaderLine header;
    if (ParseHeaderLine(line, context, header)) {
      if (header.value.size() > line.size() || header.value.data() < line.data() ||
          header.value.data() + header.value.size() > line.data() + line.size())
        std::abort();
      bool bracketed = false;
      std::string_view id = MessageIdOfValue(header.value, bracketed);
      if (id.size() > header.value.size()) std::abort();
    }
    uint32_t number = 0;
    ParseNumberLine(line, context, number);
    uint32_t low = 0, high = 0;
    ParseRequestRange(line, low, high);
  });
  return 0;
}
