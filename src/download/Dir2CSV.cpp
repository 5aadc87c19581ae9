#include "download/Dir2CSV.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "core/Crc32.h"
#include "core/Error.h"
#include "core/TextUtil.h"
#include "download/CsvFile.h"
#include "platform/Paths.h"

namespace zev {

std::string Dir2CsvLine(const std::string& name, uint64_t size, uint32_t crc, const std::string& dir) {
  return CsvField(name) + "," + std::to_string(size) + "," + FormatText("%08x", crc) + "," + CsvField(dir) + ",\r\n";
}

uint64_t TDir2CSV::Run(const std::atomic<bool>& cancel, const std::function<void(uint64_t)>& progress) {
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (options_.append ? O_APPEND : O_TRUNC);
  fd_ = ::open(options_.csvFile.c_str(), flags, 0644);
  if (fd_ < 0) throw EZevError(FormatText("Cannot create \"%s\": %s", options_.csvFile.c_str(), std::strerror(errno)));
  cancel_ = &cancel;
  progress_ = &progress;
  written_ = 0;
  try {
    Walk(platform::WithSlash(options_.dir), 0);
  } catch (...) {
    ::close(fd_);
    throw;
  }
  if (::close(fd_) != 0)
    throw EZevError(FormatText("Cannot write \"%s\": %s", options_.csvFile.c_str(), std::strerror(errno)));
  return written_;
}

void TDir2CSV::Walk(const std::string& dir, int depth) {
  if (depth > kMaxDepth || cancel_->load()) return;
  DIR* handle = ::opendir(dir.c_str());
  if (!handle) return;
  std::vector<std::string> files, subdirs;
  while (dirent* e = ::readdir(handle)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (::fstatat(dirfd(handle), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      if (name[0] != '.') subdirs.push_back(name);
    } else if (S_ISREG(st.st_mode) && dir + name != options_.csvFile) {
      files.push_back(name);
    }
  }
  ::closedir(handle);
  std::sort(files.begin(), files.end());
  std::sort(subdirs.begin(), subdirs.end());
  for (const std::string& name : files) {
    if (cancel_->load()) return;
    struct stat st {};
    if (::stat((dir + name).c_str(), &st) != 0) continue;
    uint32_t crc = 0;
    if (options_.withCrc && !CalcFileCRC32(dir + name, crc)) crc = 0;
    const std::string line = Dir2CsvLine(name, static_cast<uint64_t>(st.st_size), crc, dir);
    if (::write(fd_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
      throw EZevError(FormatText("Cannot write \"%s\": %s", options_.csvFile.c_str(), std::strerror(errno)));
    ++written_;
  }
  if (*progress_) (*progress_)(written_);
  for (const std::string& name : subdirs) Walk(dir + name + "/", depth + 1);
}

}  // namespace zev
