#include "db/OffsMapFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>

#include "core/AtomicFile.h"
#include "core/Error.h"
#include "core/Format.h"

namespace zev {

std::atomic<uint64_t> gMaxMapEntries{kMaxMapEntries};

namespace {

uint32_t FromLittleEndian(const unsigned char* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

class TFd {
 public:
  explicit TFd(int fd) : fd_(fd) {}
  ~TFd() {
    if (fd_ >= 0) close(fd_);
  }
  int Get() const { return fd_; }

 private:
  int fd_;
};

[[noreturn]] void RaiseIo(const std::string& what, const std::string& path, int code) {
  throw EZevError(what + " \"" + path + "\": " + IoErrorText(code));
}

}  // namespace

TMapFileRead ReadMapFile(const std::string& path, std::vector<uint32_t>& values) {
  values.clear();
  TFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) {
    if (errno == ENOENT) return TMapFileRead::Missing;
    RaiseIo("Cannot open", path, errno);
  }
  struct stat st {};
  if (fstat(fd.Get(), &st) != 0) RaiseIo("Cannot read", path, errno);
  uint64_t count = static_cast<uint64_t>(st.st_size) / 4;
  if (count > gMaxMapEntries + 1) return TMapFileRead::TooLarge;
  std::vector<unsigned char> bytes(count * 4);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = read(fd.Get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) RaiseIo("Cannot read", path, errno);
    if (n == 0) break;  // the file shrank while being read: keep what arrived
    done += static_cast<size_t>(n);
  }
  values.resize(done / 4);
  for (size_t i = 0; i < values.size(); ++i) values[i] = FromLittleEndian(&bytes[i * 4]);
  return TMapFileRead::Loaded;
}

void WriteMapFile(const std::string& path, const std::vector<uint32_t>& values) {
  std::string bytes(values.size() * 4, '\0');
  if constexpr (std::endian::native == std::endian::little) {
    if (!values.empty()) std::memcpy(bytes.data(), values.data(), bytes.size());
  } else {
    for (size_t i = 0; i < values.size(); ++i)
      for (int b = 0; b < 4; ++b) bytes[i * 4 + b] = static_cast<char>(values[i] >> (8 * b));
  }
  WriteFileAtomically(path, bytes);
}

}  // namespace zev
