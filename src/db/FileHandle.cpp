#include "db/FileHandle.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "core/Error.h"

namespace zev {

TFileHandle::TFileHandle(const std::string& path, int flags, int mode) : path_(path) {
  do fd_ = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) Fail("open");
}

TFileHandle::~TFileHandle() { Close(); }

TFileHandle::TFileHandle(TFileHandle&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

TFileHandle& TFileHandle::operator=(TFileHandle&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

void TFileHandle::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void TFileHandle::Fail(const char* what) const {
  throw EZevError(std::string("Cannot ") + what + " \"" + path_ + "\": " + std::strerror(errno));
}

size_t TFileHandle::ReadAt(uint64_t offset, void* data, size_t size) const {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd_, static_cast<char*>(data) + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail("read");
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

void TFileHandle::WriteAt(uint64_t offset, const void* data, size_t size) const {
  size_t done = 0;
  while (done < size) {
    ssize_t n =
        ::pwrite(fd_, static_cast<const char*>(data) + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("write");
    done += static_cast<size_t>(n);
  }
}

uint64_t TFileHandle::Size() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) Fail("stat");
  return static_cast<uint64_t>(st.st_size);
}

void TFileHandle::Truncate(uint64_t size) const {
  int rc;
  do rc = ::ftruncate(fd_, static_cast<off_t>(size));
  while (rc != 0 && errno == EINTR);
  if (rc != 0) Fail("truncate");
}

void TFileHandle::SyncData() const {
  if (::fdatasync(fd_) != 0 && errno != EINVAL) Fail("sync");
}

bool TFileHandle::TryLock(bool exclusive) const {
  int rc;
  do rc = ::flock(fd_, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB);
  while (rc != 0 && errno == EINTR);
  if (rc == 0) return true;
  if (errno == EWOULDBLOCK) return false;
  Fail("lock");
}

void SyncDirectoryOf(const std::string& path) {
  auto slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) throw EZevError("Cannot open directory \"" + dir + "\": " + std::strerror(errno));
  int rc = ::fsync(fd);
  int err = errno;
  ::close(fd);
  if (rc != 0 && err != EINVAL)
    throw EZevError("Cannot sync directory \"" + dir + "\": " + std::strerror(err));
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace zev
