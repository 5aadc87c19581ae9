#include "download/FileCheck.h"

#include <dirent.h>
#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/Config.h"
#include "core/Error.h"
#include "core/Format.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "core/TextUtil.h"
#include "db/BTree.h"
#include "db/BTreeNode.h"
#include "db/GroupTree.h"
#include "download/CsvFile.h"

namespace zev {

namespace {

// Below this many free bytes the name buffer counts as full.
constexpr size_t kCacheSlack = 256;

std::string WithSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

bool HasCsvExtension(std::string_view name) {
  return name.size() > 4 && EqualsIgnoreCase(name.substr(name.size() - 4), ".csv");
}

// A CSV line's directory in this system's notation.
std::string NativeDir(std::string dir) {
  std::replace(dir.begin(), dir.end(), '\\', '/');
  return dir;
}

}  // namespace

TFileNameCache::TFileNameCache(TBTree& fileList, size_t budget) : list_(fileList), budget_(budget) {}

void TFileNameCache::Prepare(const std::atomic<bool>& stop) {
  loaded_ = true;
  complete_ = true;
  text_.reserve(std::min<size_t>(budget_, 1u << 20));
  for (TDataPointer dp : list_.GetMap()) {
    if (stop.load()) return;
    const std::string name = list_.ReadKeyText(dp);
    if (text_.size() + name.size() + kCacheSlack > budget_) {
      complete_ = false;
      return;
    }
    index_.push_back({dp, {static_cast<uint32_t>(text_.size()), static_cast<uint32_t>(name.size())}});
    text_ += name;
  }
}

bool TFileNameCache::Empty() {
  if (!loaded_) return list_.RecordCount() == 0;
  return index_.empty() && complete_;
}

bool TFileNameCache::Find(std::string_view name, uint64_t& key) {
  auto nameAt = [this](const auto& entry) {
    return std::string_view(text_).substr(entry.second.first, entry.second.second);
  };
  auto it = std::lower_bound(index_.begin(), index_.end(), name,
                             [&](const auto& entry, std::string_view n) { return CompareKeys(nameAt(entry), n, true) < 0; });
  if (it != index_.end() && CompareKeys(nameAt(*it), name, true) == 0) {
    key = it->first;
    return true;
  }
  // Names up to the last cached one are all in the cache; only later ones need the list.
  if (complete_ || it != index_.end()) return false;
  TDataPointer dp = 0;
  if (!list_.Find(name, dp)) return false;
  key = dp;
  return true;
}

void AddScanDir(std::vector<std::string>& dirs, std::string dir) {
  if (dir.empty()) return;
  dir = WithSlash(std::move(dir));
  for (const std::string& listed : dirs)
    if (dir.compare(0, listed.size(), listed) == 0) return;
  std::erase_if(dirs, [&](const std::string& listed) { return listed.compare(0, dir.size(), dir) == 0; });
  dirs.push_back(std::move(dir));
}

FFileCheckSettings FileCheckSettingsFrom(const TConfig& config, const TGroupTree* groups) {
  FFileCheckSettings s;
  for (const std::string& dir : config.ExtraDirs) AddScanDir(s.scanDirs, dir);
  if (config.Has(cfCheckAllDecodeDirs) && groups)
    groups->ForEachNode([&](TGroup& group) {
      if (group.IsNewsgroup()) AddScanDir(s.scanDirs, group.EffectiveDecodeDir());
    });
  s.foundCsv = config.FCCSV;
  s.wantCsv = config.WCSV;
  s.killCsv = config.KCSV;
  return s;
}

TFileCheck::TFileCheck(FFileCheckSettings settings, TFileNameIndex& names, FFileCheckSink sink,
                       const std::atomic<bool>& stop)
    : settings_(std::move(settings)), names_(names), sink_(std::move(sink)), stop_(stop) {}

void TFileCheck::Run() {
  if (names_.Empty()) return;
  ReadPatterns(settings_.foundCsv, esFound, "FileCheck|ExistCSV");
  for (const std::string& dir : settings_.scanDirs) {
    if (stop_.load()) return;
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    try {
      ScanDirectory(dir, 0);
    } catch (const std::exception& e) {
      LogException(e, "FileCheck|Directories", "Directory=" + dir);
    }
  }
  ReadPatterns(settings_.wantCsv, esWantCsv, "FileCheck|WantCSV");
  ReadPatterns(settings_.killCsv, esKillCsv, "FileCheck|KillCSV");
}

void TFileCheck::ReadPatterns(const std::vector<std::string>& patterns, TExistSource source, const char* location) {
  for (const std::string& pattern : patterns) {
    glob_t found{};
    if (::glob(pattern.c_str(), GLOB_TILDE, nullptr, &found) == 0) {
      for (size_t i = 0; i < found.gl_pathc && !stop_.load(); ++i) {
        const std::string path = found.gl_pathv[i];
        try {
          ReadCsv(path, source);
        } catch (const std::exception& e) {
          LogException(e, location, "Filename=" + path);
        }
      }
    }
    ::globfree(&found);
    if (stop_.load()) return;
  }
}

void TFileCheck::ReadCsv(const std::string& path, TExistSource source) {
  if (sink_.status) sink_.status(FormatText(Tr("Checking for files in %s ..."), path.c_str()));
  TCsvLineReader reader(path);
  std::string line;
  FCsvInventoryLine entry;
  uint64_t key = 0;
  for (uint32_t n = 0; reader.Next(line); ++n) {
    if ((n & 1023) == 0 && stop_.load()) return;
    if (!ParseInventoryLine(line, entry) || !names_.Find(entry.name, key)) continue;
    sink_.add(NativeDir(entry.directory), path, key, entry.size, source);
  }
}

void TFileCheck::ScanDirectory(const std::string& dir, int depth) {
  if (stop_.load() || depth > kMaxDepth) return;
  if (sink_.status) sink_.status(FormatText(Tr("Checking for files in %s ..."), dir.c_str()));
  DIR* handle = ::opendir(dir.c_str());
  if (!handle) throw EZevError(FormatText("Cannot read directory \"%s\": %s", dir.c_str(), std::strerror(errno)));
  std::vector<std::string> subdirs;
  uint64_t key = 0;
  try {
    while (dirent* e = ::readdir(handle)) {
      const std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      struct stat st {};
      // Directories are entered only as themselves, never through a link.
      if (::fstatat(dirfd(handle), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      if (S_ISDIR(st.st_mode)) {
        if (name[0] != '.') subdirs.push_back(dir + name + "/");
        continue;
      }
      if (S_ISLNK(st.st_mode) && ::fstatat(dirfd(handle), e->d_name, &st, 0) != 0) continue;
      if (!S_ISREG(st.st_mode) || st.st_size <= 0) continue;
      if (names_.Find(name, key)) sink_.add(dir, {}, key, static_cast<uint64_t>(st.st_size), esFound);
      if (HasCsvExtension(name)) {
        try {
          ReadCsv(dir + name, esScanCsv);
        } catch (const std::exception& ex) {
          LogException(ex, "FileCheck|Directories", "Filename=" + dir + name);
        }
      }
    }
  } catch (...) {
    ::closedir(handle);
    throw;
  }
  ::closedir(handle);
  for (const std::string& sub : subdirs) {
    if (stop_.load()) return;
    ScanDirectory(sub, depth + 1);
  }
}

}  // namespace zev
