// Settings files are edited by hand and copied between machines: any bytes must load,
// survive Load + Save of the configuration, and print back to text that parses to the
// same text again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/CommaText.h"
#include "core/Config.h"
#include "core/ZevIniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  zev::TZevIniFile ini("");  // no file: UpdateFile fails and the configuration ignores it
  ini.SetText(text);
  std::string once = ini.Text();
  ini.SetText(once);
  if (ini.Text() != once) __builtin_trap();

  zev::TConfig config(ini, "/nonexistent/");
  config.Load();
  config.Save();

  std::vector<std::string> items = zev::FromCommaText(text);
  if (zev::FromCommaText(zev::ToCommaText(items)) != items) __builtin_trap();
  return 0;
}
