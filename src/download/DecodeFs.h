#pragma once
// The file operations of the decoder, behind one thin class: the program uses the system
// calls, tests substitute a layer that fails a write or a copy (a full disk) at the moment
// they choose. Calls answer like the system calls (-1 with errno set).
//
// The helpers below turn failures into EDecodeIoError, which names the file and the
// system's reason; the body handler puts the article back and reports it.
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/Error.h"

namespace zev {

class TDecodeFs {
 public:
  virtual ~TDecodeFs() = default;
  virtual int Open(const std::string& path, int flags, mode_t mode);
  virtual ssize_t PWrite(int fd, const void* data, size_t len, uint64_t offset);
  virtual ssize_t PRead(int fd, void* data, size_t len, uint64_t offset);
  // Copies `len` bytes from `in` at `inOffset` to `out` at `outOffset` (in the kernel where
  // the file system allows it); returns the bytes copied.
  virtual ssize_t CopyRange(int in, uint64_t inOffset, int out, uint64_t outOffset, size_t len);
  virtual int Truncate(int fd, uint64_t len);
  virtual int Close(int fd);
  // Without `replace`, fails with EEXIST when `to` exists.
  virtual int Rename(const std::string& from, const std::string& to, bool replace);
  virtual int Unlink(const std::string& path);
  virtual int MakeDir(const std::string& path);
  // False when nothing is there.
  virtual bool Stat(const std::string& path, uint64_t& size, bool& isDir);
  // The names in `dir` (without "." and ".."); false when it cannot be read.
  virtual bool List(const std::string& dir, std::vector<std::string>& names);
};

// The system calls.
TDecodeFs& SystemDecodeFs();

class EDecodeIoError : public EZevError {
 public:
  EDecodeIoError(const char* action, const std::string& path, int code);
  int Code() const { return code_; }

 private:
  int code_;
};

// An open file that is closed when the object goes.
class TDecodeFile {
 public:
  TDecodeFile(TDecodeFs& fs, std::string path, int fd) : fs_(fs), path_(std::move(path)), fd_(fd) {}
  ~TDecodeFile();
  TDecodeFile(const TDecodeFile&) = delete;
  TDecodeFile& operator=(const TDecodeFile&) = delete;

  // Opens or raises EDecodeIoError.
  static TDecodeFile Open(TDecodeFs& fs, const std::string& path, int flags);
  TDecodeFile(TDecodeFile&& other) noexcept;

  int Fd() const { return fd_; }
  const std::string& Path() const { return path_; }
  // The whole buffer at `at`, or EDecodeIoError.
  void WriteAll(const void* data, size_t len, uint64_t at);
  // Appends `len` bytes of `from` (from its start) at `at`, in blocks, or EDecodeIoError.
  void AppendCopy(TDecodeFile& from, uint64_t at, uint64_t len);
  // Cuts the file back after a failed write; a failure here is only logged.
  void CutBack(uint64_t len);
  void Close();

 private:
  TDecodeFs& fs_;
  std::string path_;
  int fd_;
};

// Whether `path` holds exactly these bytes (compared block by block). A read error counts
// as a difference, with a log entry.
bool SameContent(TDecodeFs& fs, const std::string& path, const char* data, uint64_t size);
// Whether the bytes of `path` at `offset` are these (the file may be longer).
bool RangeMatches(TDecodeFs& fs, const std::string& path, uint64_t offset, const char* data, uint64_t size);
// Whether two files exist with the same size and content.
bool FileCompare(TDecodeFs& fs, const std::string& a, const std::string& b);
// Creates `dir` with every missing parent. False when that fails.
bool MakeDirs(TDecodeFs& fs, const std::string& dir);
// A new empty file in `dir` named after `stem`, invisible to the part-file scan (a hidden
// name with a random tail); `path` receives its name.
TDecodeFile CreateTempFile(TDecodeFs& fs, const std::string& dir, const std::string& stem);

}  // namespace zev
