// The "Server:N" and "Group:N" sections are edited by hand and written by older versions:
// any text must build both trees, and what is saved then must load and save to the very
// same text again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/Log.h"
#include "core/ZevIniFile.h"
#include "db/GroupTree.h"
#include "db/ServerTree.h"

namespace {

constexpr zev::TDateTime kNow = 45366.43;  // a fixed moment: the saved text must not depend on the clock

std::string LoadAndSave(std::string_view text) {
  zev::TZevIniFile ini("");
  ini.SetText(text);
  zev::TServerTree servers(ini);
  servers.LoadServers(kNow);
  servers.WriteServers();
  zev::TGroupTree groups(ini, "/downloads/");
  groups.LoadGroups();
  groups.WriteGroups();
  return ini.Text();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool quiet = [] {
    zev::SetErrorLogPath("/dev/null");
    return true;
  }();
  (void)quiet;
  std::string once = LoadAndSave(std::string_view(reinterpret_cast<const char*>(data), size));
  // Only text that the settings file itself reads back unchanged can be compared.
  zev::TZevIniFile reread("");
  reread.SetText(once);
  if (reread.Text() != once) return 0;
  if (LoadAndSave(once) != once) __builtin_trap();
  return 0;
}
