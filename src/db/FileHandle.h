#pragma once
// A POSIX file descriptor with whole-buffer reads and writes. Short transfers are retried;
// failures raise EZevError naming the file, so callers never see half a page.
#include <cstdint>
#include <string>

namespace zev {

class TFileHandle {
 public:
  TFileHandle() = default;
  TFileHandle(const std::string& path, int flags, int mode = 0644);
  ~TFileHandle();
  TFileHandle(TFileHandle&& other) noexcept;
  TFileHandle& operator=(TFileHandle&& other) noexcept;
  TFileHandle(const TFileHandle&) = delete;
  TFileHandle& operator=(const TFileHandle&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  const std::string& Path() const { return path_; }

  // Reads `size` bytes at `offset`; returns the number read (less only at the file end).
  size_t ReadAt(uint64_t offset, void* data, size_t size) const;
  void WriteAt(uint64_t offset, const void* data, size_t size) const;
  uint64_t Size() const;
  void Truncate(uint64_t size) const;
  void SyncData() const;
  void Close();

  // Advisory lock of the whole file against other processes; false when another holds it.
  bool TryLock(bool exclusive) const;

 private:
  [[noreturn]] void Fail(const char* what) const;
  int fd_ = -1;
  std::string path_;
};

// fsync of the directory holding `path`, so a created or renamed entry survives power loss.
void SyncDirectoryOf(const std::string& path);
bool FileExists(const std::string& path);

}  // namespace zev
