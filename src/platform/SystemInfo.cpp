#include "platform/SystemInfo.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace zev::platform {

uint64_t TotalPhysicalMemory() {
  long pages = sysconf(_SC_PHYS_PAGES);
  long size = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || size <= 0) return 0;
  return static_cast<uint64_t>(pages) * static_cast<uint64_t>(size);
}

uint32_t FileSize32(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > 0xFFFFFFFFull) return 0;
  return static_cast<uint32_t>(st.st_size);
}

bool FreeDiskSpace(const std::string& path, uint64_t& freeBytes) {
  std::string p = path.empty() ? "." : path;
  for (;;) {
    struct statvfs st {};
    if (statvfs(p.c_str(), &st) == 0) {
      freeBytes = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
      return true;
    }
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    auto slash = p.rfind('/');
    if (slash == std::string::npos) p = ".";
    else if (slash == 0) p = "/";
    else p.resize(slash);
    if (p == "/" || p == ".") {
      if (statvfs(p.c_str(), &st) != 0) return false;
      freeBytes = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
      return true;
    }
  }
}

}  // namespace zev::platform
