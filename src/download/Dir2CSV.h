#pragma once
// The "Directory to CSV" writer: an inventory of a directory tree, one line per file, that
// the existing-file check reads back (for files kept elsewhere, such as on removable
// media). Line: name, size, CRC-32 (8 lower-case hex digits, or 00000000 when not asked
// for or unreadable), the directory with a trailing "/", and an empty last field; names
// and directories are quoted as CSV needs, so the check reads back exactly what was
// written. The files of a directory come before its subdirectories; directories whose
// names begin with "." and links to directories are not entered.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace zev {

struct FDir2CsvOptions {
  std::string dir;       // the tree to list
  std::string csvFile;   // the inventory to write
  bool append = false;   // add to an existing inventory instead of starting it anew
  bool withCrc = false;  // read every file for its CRC-32 (slow)
};

std::string Dir2CsvLine(const std::string& name, uint64_t size, uint32_t crc, const std::string& dir);

class TDir2CSV {
 public:
  static constexpr int kMaxDepth = 64;

  explicit TDir2CSV(FDir2CsvOptions options) : options_(std::move(options)) {}
  // Writes the inventory; `progress` gets the number of lines written after every
  // directory. Stops after the current file once `cancel` is raised. Returns the lines
  // written; raises EZevError when the inventory cannot be opened or written.
  uint64_t Run(const std::atomic<bool>& cancel, const std::function<void(uint64_t)>& progress = {});

 private:
  void Walk(const std::string& dir, int depth);

  FDir2CsvOptions options_;
  int fd_ = -1;
  uint64_t written_ = 0;
  const std::atomic<bool>* cancel_ = nullptr;
  const std::function<void(uint64_t)>* progress_ = nullptr;
};

}  // namespace zev
