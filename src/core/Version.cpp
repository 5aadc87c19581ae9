#include "core/Version.h"

namespace zev {

const std::string& VersionText() {
  static const std::string text = [] {
    std::string v = "Version " + std::to_string(ZEV_VERSION_MAJOR) + "." + std::to_string(ZEV_VERSION_MINOR) + "." +
                    std::to_string(ZEV_VERSION_PATCH) + "." + std::to_string(ZEV_VERSION_BUILD);
    if (ZEV_VERSION_PRERELEASE) v += " (Beta)";
    return v;
  }();
  return text;
}

}  // namespace zev
