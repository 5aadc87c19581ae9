// Date headers come from any news client on the wire.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/DateTime.h"
#include "core/HeaderDate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  zev::TDateTime t = zev::ParseHeaderDate(text);
  zev::UnpackFileDate(zev::PackFileDate(t));
  zev::MonthFromName(text);
  zev::ZoneOffset(text);
  return 0;
}
