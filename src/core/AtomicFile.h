#pragma once
// Writing a file so that a crash, a full disk or a failing write never leaves a truncated
// file behind: the data goes to a temporary file in the same directory, is flushed to the
// disk, and only then renamed over the old file. Until the rename the old file is intact.
//
// The system calls go through TFileOps so that tests can make any of them fail.
#include <sys/types.h>

#include <string>
#include <string_view>

namespace zev {

class TFileOps {
 public:
  virtual ~TFileOps() = default;
  // Creates a unique file from a mkstemp() template; returns the descriptor or -1.
  virtual int CreateTemp(std::string& pathTemplate);
  virtual ssize_t Write(int fd, const void* data, size_t size);
  virtual int Sync(int fd);
  virtual int Close(int fd);
  virtual int Rename(const std::string& from, const std::string& to);
  virtual int Unlink(const std::string& path);
};

// The real system calls.
TFileOps& DefaultFileOps();

// Replaces `path` by `data` atomically. Raises EFCreateError (with the path and the
// system's reason) on failure; the old file is then untouched and no temporary file is
// left behind. A new file gets mode 0600 (settings hold passwords); an existing file
// keeps its mode.
void WriteFileAtomically(const std::string& path, std::string_view data, TFileOps& ops = DefaultFileOps());

}  // namespace zev
