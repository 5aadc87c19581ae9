#include "platform/Paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace zev::platform {

std::string WithSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

std::string ProgramDir() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "./";
  std::string path(buf, static_cast<size_t>(n));
  auto slash = path.rfind('/');
  return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

std::string HomeDir() {
  if (const char* h = std::getenv("HOME"); h && *h) return WithSlash(h);
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return WithSlash(pw->pw_dir);
  return "/tmp/";
}

static std::string XdgDir(const char* var, const char* fallback) {
  const char* v = std::getenv(var);
  // The XDG rules ignore relative values.
  if (v && v[0] == '/') return WithSlash(v);
  return HomeDir() + fallback;
}

std::string ConfigHome() { return XdgDir("XDG_CONFIG_HOME", ".config/"); }
std::string DataHome() { return XdgDir("XDG_DATA_HOME", ".local/share/"); }

// user-dirs.dirs holds lines such as XDG_DOWNLOAD_DIR="$HOME/Downloads".
static std::string UserDir(const std::string& name, const char* fallback) {
  std::string var = "XDG_" + name + "_DIR";
  if (const char* v = std::getenv(var.c_str()); v && v[0] == '/') return WithSlash(v);
  std::ifstream in(ConfigHome() + "user-dirs.dirs");
  std::string line;
  const std::string key = var + "=\"";
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) != 0) continue;
    std::string value = line.substr(key.size());
    auto q = value.find('"');
    if (q == std::string::npos) break;
    value.resize(q);
    if (value.rfind("$HOME/", 0) == 0) value = HomeDir() + value.substr(6);
    if (!value.empty() && value[0] == '/') return WithSlash(value);
    break;
  }
  return HomeDir() + fallback;
}

std::string DownloadDir() { return UserDir("DOWNLOAD", "Downloads/"); }

static std::string CacheHome() { return XdgDir("XDG_CACHE_HOME", ".cache/"); }

std::string SpecialFolderPath(TSpecialFolder folder) {
  switch (folder) {
    case TSpecialFolder::Home: return HomeDir();
    case TSpecialFolder::Desktop: return UserDir("DESKTOP", "Desktop/");
    case TSpecialFolder::Documents: return UserDir("DOCUMENTS", "Documents/");
    case TSpecialFolder::Downloads: return DownloadDir();
    case TSpecialFolder::Music: return UserDir("MUSIC", "Music/");
    case TSpecialFolder::Pictures: return UserDir("PICTURES", "Pictures/");
    case TSpecialFolder::Videos: return UserDir("VIDEOS", "Videos/");
    case TSpecialFolder::Config: return ConfigHome();
    case TSpecialFolder::Data: return DataHome();
    case TSpecialFolder::Cache: return CacheHome();
  }
  return {};
}

bool IsWritableDir(const std::string& dir) {
  return !dir.empty() && access(dir.c_str(), W_OK | X_OK) == 0;
}

}  // namespace zev::platform
