#include "download/DecodeFs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/Log.h"
#include "core/TextUtil.h"

namespace zev {

namespace {

// Blocks of copies and comparisons: large enough that a join costs few system calls,
// small enough to sit in the cache.
constexpr size_t kBlock = 1u << 20;
constexpr size_t kCompareBlock = 64u << 10;
// Decoded files are data: never executable, whatever the post says.
constexpr mode_t kFileMode = 0644;

}  // namespace

int TDecodeFs::Open(const std::string& path, int flags, mode_t mode) {
  return ::open(path.c_str(), flags | O_CLOEXEC, mode);
}

ssize_t TDecodeFs::PWrite(int fd, const void* data, size_t len, uint64_t offset) {
  return ::pwrite(fd, data, len, static_cast<off_t>(offset));
}

ssize_t TDecodeFs::PRead(int fd, void* data, size_t len, uint64_t offset) {
  return ::pread(fd, data, len, static_cast<off_t>(offset));
}

ssize_t TDecodeFs::CopyRange(int in, uint64_t inOffset, int out, uint64_t outOffset, size_t len) {
  auto inPos = static_cast<off_t>(inOffset), outPos = static_cast<off_t>(outOffset);
  ssize_t n = ::copy_file_range(in, &inPos, out, &outPos, len, 0);
  if (n >= 0 || (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)) return n;
  // File systems without kernel copies: through a buffer.
  const size_t chunk = std::min(len, kBlock);
  std::unique_ptr<char[]> buffer(new char[chunk]);
  n = PRead(in, buffer.get(), chunk, inOffset);
  if (n <= 0) return n;
  return PWrite(out, buffer.get(), static_cast<size_t>(n), outOffset);
}

int TDecodeFs::Truncate(int fd, uint64_t len) { return ::ftruncate(fd, static_cast<off_t>(len)); }

int TDecodeFs::Close(int fd) { return ::close(fd); }

int TDecodeFs::Rename(const std::string& from, const std::string& to, bool replace) {
  if (replace) return ::rename(from.c_str(), to.c_str());
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  // A file system that cannot refuse by itself: the decoder lock keeps this check and the
  // rename together as far as this program is concerned.
  struct stat st {};
  if (::lstat(to.c_str(), &st) == 0) {
    errno = EEXIST;
    return -1;
  }
  return ::rename(from.c_str(), to.c_str());
}

int TDecodeFs::Unlink(const std::string& path) { return ::unlink(path.c_str()); }

int TDecodeFs::MakeDir(const std::string& path) { return ::mkdir(path.c_str(), 0755); }

bool TDecodeFs::Stat(const std::string& path, uint64_t& size, bool& isDir) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  size = static_cast<uint64_t>(st.st_size);
  isDir = S_ISDIR(st.st_mode);
  return true;
}

bool TDecodeFs::List(const std::string& dir, std::vector<std::string>& names) {
  DIR* handle = ::opendir(dir.c_str());
  if (!handle) return false;
  while (dirent* e = ::readdir(handle)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
  }
  ::closedir(handle);
  return true;
}

TDecodeFs& SystemDecodeFs() {
  static TDecodeFs fs;
  return fs;
}

EDecodeIoError::EDecodeIoError(const char* action, const std::string& path, int code)
    : EZevError(FormatText("%s \"%s\": %s", action, path.c_str(), std::strerror(code))), code_(code) {}

TDecodeFile::~TDecodeFile() { Close(); }

TDecodeFile::TDecodeFile(TDecodeFile&& other) noexcept : fs_(other.fs_), path_(std::move(other.path_)), fd_(other.fd_) {
  other.fd_ = -1;
}

TDecodeFile TDecodeFile::Open(TDecodeFs& fs, const std::string& path, int flags) {
  const int fd = fs.Open(path, flags, kFileMode);
  if (fd < 0) throw EDecodeIoError("Cannot open", path, errno);
  return TDecodeFile(fs, path, fd);
}

void TDecodeFile::WriteAll(const void* data, size_t len, uint64_t at) {
  const char* p = static_cast<const char*>(data);
  while (len > 0) {
    const ssize_t n = fs_.PWrite(fd_, p, len, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw EDecodeIoError("Cannot write", path_, n < 0 ? errno : ENOSPC);
    p += n;
    at += static_cast<uint64_t>(n);
    len -= static_cast<size_t>(n);
  }
}

void TDecodeFile::AppendCopy(TDecodeFile& from, uint64_t at, uint64_t len) {
  uint64_t done = 0;
  while (done < len) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(len - done, 8 * kBlock));
    const ssize_t n = fs_.CopyRange(from.fd_, done, fd_, at + done, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw EDecodeIoError("Cannot write", path_, errno);
    if (n == 0) throw EDecodeIoError("Cannot read", from.path_, EIO);
    done += static_cast<uint64_t>(n);
  }
}

void TDecodeFile::CutBack(uint64_t len) {
  if (fd_ >= 0 && fs_.Truncate(fd_, len) != 0)
    LogError(FormatText("Cannot cut \"%s\" back to %llu bytes: %s", path_.c_str(),
                        static_cast<unsigned long long>(len), std::strerror(errno)),
             1);
}

void TDecodeFile::Close() {
  if (fd_ >= 0) fs_.Close(fd_);
  fd_ = -1;
}

bool RangeMatches(TDecodeFs& fs, const std::string& path, uint64_t offset, const char* data, uint64_t size) {
  const int fd = fs.Open(path, O_RDONLY, 0);
  if (fd < 0) {
    LogError(FormatText("I/O Error %s in Decode file contents check, filename = \"%s\"", std::strerror(errno),
                        path.c_str()),
             1);
    return false;
  }
  std::unique_ptr<char[]> buffer(new char[kCompareBlock]);
  bool same = true;
  for (uint64_t at = 0; same && at < size;) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kCompareBlock, size - at));
    const ssize_t n = fs.PRead(fd, buffer.get(), want, offset + at);
    if (n <= 0) {
      if (n < 0)
        LogError(FormatText("I/O Error %s in Decode file contents check, filename = \"%s\"", std::strerror(errno),
                            path.c_str()),
                 1);
      same = false;
      break;
    }
    same = std::memcmp(buffer.get(), data + at, static_cast<size_t>(n)) == 0;
    at += static_cast<uint64_t>(n);
  }
  fs.Close(fd);
  return same;
}

bool SameContent(TDecodeFs& fs, const std::string& path, const char* data, uint64_t size) {
  uint64_t fileSize = 0;
  bool isDir = false;
  if (!fs.Stat(path, fileSize, isDir) || isDir || fileSize != size) return false;
  return RangeMatches(fs, path, 0, data, size);
}

bool FileCompare(TDecodeFs& fs, const std::string& a, const std::string& b) {
  uint64_t sizeA = 0, sizeB = 0;
  bool dirA = false, dirB = false;
  if (!fs.Stat(a, sizeA, dirA) || !fs.Stat(b, sizeB, dirB) || dirA || dirB || sizeA != sizeB) return false;
  const int fa = fs.Open(a, O_RDONLY, 0);
  const int fb = fa < 0 ? -1 : fs.Open(b, O_RDONLY, 0);
  bool same = fa >= 0 && fb >= 0;
  if (!same)
    LogError(FormatText("I/O Error %s in FileCompare, files = \"%s\" and \"%s\"!", std::strerror(errno), a.c_str(),
                        b.c_str()),
             1);
  std::unique_ptr<char[]> bufA(new char[kCompareBlock]), bufB(new char[kCompareBlock]);
  for (uint64_t at = 0; same && at < sizeA;) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kCompareBlock, sizeA - at));
    const ssize_t na = fs.PRead(fa, bufA.get(), want, at), nb = fs.PRead(fb, bufB.get(), want, at);
    if (na <= 0 || na != nb) {
      same = false;
      break;
    }
    same = std::memcmp(bufA.get(), bufB.get(), static_cast<size_t>(na)) == 0;
    at += static_cast<uint64_t>(na);
  }
  if (fa >= 0) fs.Close(fa);
  if (fb >= 0) fs.Close(fb);
  return same;
}

bool MakeDirs(TDecodeFs& fs, const std::string& dir) {
  uint64_t size = 0;
  bool isDir = false;
  if (fs.Stat(dir, size, isDir)) return isDir;
  for (size_t slash = dir.find('/', 1); slash != std::string::npos; slash = dir.find('/', slash + 1)) {
    const std::string prefix = dir.substr(0, slash);
    if (fs.Stat(prefix, size, isDir)) {
      if (!isDir) return false;
      continue;
    }
    if (fs.MakeDir(prefix) != 0 && errno != EEXIST) return false;
  }
  if (dir.back() != '/' && fs.MakeDir(dir) != 0 && errno != EEXIST) return false;
  return fs.Stat(dir, size, isDir) && isDir;
}

TDecodeFile CreateTempFile(TDecodeFs& fs, const std::string& dir, const std::string& stem) {
  static std::atomic<uint64_t> counter{0};
  const uint64_t seed = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                        (static_cast<uint64_t>(::getpid()) << 32);
  // Room for the hidden prefix and the random tail within one name.
  const std::string base = "." + stem.substr(0, 200);
  for (int attempt = 0;; ++attempt) {
    char tail[32];
    std::snprintf(tail, sizeof tail, ".%012llx.tmp",
                  static_cast<unsigned long long>((seed + counter.fetch_add(1) * 0x9E3779B97F4A7C15ull) & 0xFFFFFFFFFFFFull));
    const std::string path = dir + base + tail;
    const int fd = fs.Open(path, O_WRONLY | O_CREAT | O_EXCL, kFileMode);
    if (fd >= 0) return TDecodeFile(fs, path, fd);
    if (errno != EEXIST || attempt > 100) throw EDecodeIoError("Cannot create", path, errno);
  }
}

}  // namespace zev
