#include "core/RebuildCheck.h"

#include <sys/stat.h>

#include <filesystem>

#include "core/SanitizeName.h"
#include "core/ZevIniFile.h"

namespace zev {
namespace fs = std::filesystem;

namespace {

constexpr const char* kArticleFile = "MsgLst.zev";
constexpr const char* kGroupListFile = "GrpLst.zev";
constexpr int kNewsServerType = 2;

void RemoveQuietly(const fs::path& p) {
  std::error_code ec;
  fs::remove(p, ec);
}

void CleanServerDirectory(const std::string& dir, const FRebuild& rebuild) {
  if (rebuild.groupLists) RemoveQuietly(fs::path(dir) / kGroupListFile);
  if (!rebuild.articles) return;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    fs::path p = it->path();
    if (p.extension() == ".zev" && p.filename() != kGroupListFile) RemoveQuietly(p);
  }
}

}  // namespace

FRebuild DecideRebuilds(const std::string& dataDir, int autoExpireDays, std::time_t now) {
  FRebuild r;
  std::string articles = dataDir + kArticleFile;
  struct stat st {};
  r.articles = stat(articles.c_str(), &st) != 0;
  r.groupLists = !fs::exists(dataDir + kGroupListFile);
  // Every article of a file older than the expiry age would expire anyway.
  if (!r.articles && autoExpireDays >= 0 && now - static_cast<std::time_t>(autoExpireDays) * 86400 > st.st_mtime) {
    r.articles = true;
    RemoveQuietly(articles);
  }
  return r;
}

void ResetGroupCounters(TZevIniFile& ini) {
  for (int n = 0;; ++n) {
    std::string section = "Group:" + std::to_string(n);
    if (!ini.SectionExists(section)) break;
    for (const char* key : {"NewCount", "WantCount", "KillCount"}) ini.DeleteKey(section, key);
  }
}

std::string ServerDirectory(const std::string& dataDir, const std::string& host, int port) {
  return dataDir + SanitizeName(host + "." + std::to_string(port), false) + "/";
}

bool RemoveStaleServerFiles(const TZevIniFile& ini, const std::string& dataDir, const FRebuild& rebuild) {
  if (!rebuild.articles && !rebuild.groupLists) return false;
  for (int n = 0;; ++n) {
    std::string section = "Server:" + std::to_string(n);
    if (!ini.SectionExists(section)) break;
    if (ini.ReadInteger(section, "Type", 0) != kNewsServerType) continue;
    std::string host = ini.ReadString(section, "Host", "");
    int port = static_cast<int>(ini.ReadInteger(section, "Port", 119));
    CleanServerDirectory(ServerDirectory(dataDir, host, port), rebuild);
  }
  return true;
}

}  // namespace zev
