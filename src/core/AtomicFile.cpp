#include "core/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/Error.h"

namespace zev {

int TFileOps::CreateTemp(std::string& pathTemplate) { return mkstemp(pathTemplate.data()); }
ssize_t TFileOps::Write(int fd, const void* data, size_t size) { return ::write(fd, data, size); }
int TFileOps::Sync(int fd) { return ::fsync(fd); }
int TFileOps::Close(int fd) { return ::close(fd); }
int TFileOps::Rename(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()); }
int TFileOps::Unlink(const std::string& path) { return ::unlink(path.c_str()); }

TFileOps& DefaultFileOps() {
  static TFileOps ops;
  return ops;
}

namespace {

[[noreturn]] void Fail(const std::string& path, const char* what, int err) {
  throw EFCreateError("Unable to write " + path + " (" + what + ": " + std::strerror(err) + ")");
}

std::string DirectoryOf(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(TFileOps& ops, int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ops.Write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// The rename itself must reach the disk too, or a crash could bring back the old name.
void SyncDirectory(const std::string& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

void WriteFileAtomically(const std::string& path, std::string_view data, TFileOps& ops) {
  std::string temp = path + ".tmp-XXXXXX";
  int fd = ops.CreateTemp(temp);
  if (fd < 0) Fail(path, "create", errno);
  struct stat old {};
  if (::stat(path.c_str(), &old) == 0) ::fchmod(fd, old.st_mode & 07777);
  const char* step = nullptr;
  if (!WriteAll(ops, fd, data)) step = "write";
  else if (ops.Sync(fd) != 0) step = "sync";
  int err = errno;
  if (ops.Close(fd) != 0 && !step) {
    step = "close";
    err = errno;
  }
  if (!step && ops.Rename(temp, path) != 0) {
    step = "rename";
    err = errno;
  }
  if (step) {
    ops.Unlink(temp);
    Fail(path, step, err);
  }
  SyncDirectory(DirectoryOf(path));
}

}  // namespace zev
