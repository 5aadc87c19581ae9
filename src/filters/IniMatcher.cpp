#include "filters/IniMatcher.h"

#include <vector>

#include "core/CommaText.h"
#include "core/Config.h"
#include "core/ZevIniFile.h"

namespace zev {

namespace {
constexpr const char* kSection = "Config";
}

TIniMatcher::TIniMatcher(std::string key, std::string defaultValue)
    : key_(std::move(key)), default_(std::move(defaultValue)) {}

void TIniMatcher::Load(const TConfig& config) {
  const TZevIniFile& ini = config.Ini();
  std::string value = ini.ValueExists(kSection, key_) ? ini.ReadString(kSection, key_, "") : default_;
  AddPatterns(FromCommaText(value));
  SetModified(false);
}

void TIniMatcher::Save(TConfig& config) {
  if (!Modified()) return;
  std::vector<std::string> patterns;
  ListPatterns(patterns);
  config.Ini().WriteString(kSection, key_, ToCommaText(patterns));
  config.UpdateFileWithRetry();
}

}  // namespace zev
