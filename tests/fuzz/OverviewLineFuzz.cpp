// Hostile overview data through the line splitter and the overview parser: never a crash
// or a read outside the line, and every line accepted carries fields the database takes.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/Error.h"
#include "core/Log.h"
#include "nntp/OverviewParser.h"

using namespace zev;

namespace {

bool Within(std::string_view part, std::string_view whole) {
  return part.empty() || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = (SetWarningsLevel(TWarningsLevel::None), true);
  (void)quiet;
  const std::string_view block(reinterpret_cast<const char*>(data), size);
  ForEachLine(block, [](std::string_view line) {
    if (line.empty() || line.find_first_of("\r\n") != std::string_view::npos) std::abort();
    FOverviewLine out;
    try {
      if (!ParseOverviewLine(line, out)) {
        if (out.number != 0) std::abort();
        return;
      }
    } catch (const EZevError&) {
      return;
    }
    if (out.number == 0 || out.messageId.size() < 8 || out.messageId.size() > kMaxHeaderText) std::abort();
    if (out.author.size() > kMaxHeaderText) std::abort();
    for (char c : out.messageId)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) std::abort();
    for (std::string_view f : {out.subject, out.author, out.date, out.messageId})
      if (!Within(f, line)) std::abort();
    (void)OverviewLineCount(out.lines, out.bytes);
  });
  return 0;
}
