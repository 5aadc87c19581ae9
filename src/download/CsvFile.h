#pragma once
// Comma-separated lines: the inventories of existing files (read by the file check,
// written by the directory-to-CSV writer) and the download log "Zev.csv".
//
// A field may be enclosed in double quotes; inside them a doubled double quote stands for
// one and commas do not separate. The writers quote a field whenever reading it back
// would otherwise go wrong (a comma or a double quote in it), so every name survives the
// round trip.
//
// Inventory line: name, size (decimal digits, reading stops at the first non-digit),
// a field the writers fill with the CRC-32 (ignored), the directory. The directory counts
// only when it starts and ends with a path separator ("/" here, "\" in lists made on
// Windows); otherwise the entry has none. Lines with fewer than four fields are skipped.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace zev {

// The fields of one line (without its line end).
std::vector<std::string> SplitCsvLine(std::string_view line);

// `text` as one field: quoted, with inner quotes doubled, when it holds a comma or a double
// quote. CR and LF become blanks so that a field can never break its line.
std::string CsvField(std::string_view text);

struct FCsvInventoryLine {
  std::string name;
  uint64_t size = 0;
  std::string directory;  // empty when the line gives none
};

// False for a line that is no inventory entry (too few fields, no name).
bool ParseInventoryLine(std::string_view line, FCsvInventoryLine& out);

// Reads a file line by line through a fixed buffer. A line longer than kMaxLine cannot be
// an inventory entry (names are at most 255 bytes) and is skipped whole, so a hostile file
// costs no more memory than a sane one.
class TCsvLineReader {
 public:
  static constexpr size_t kBufferSize = 8192;
  static constexpr size_t kMaxLine = 16384;

  // Raises EZevError when the file cannot be opened.
  explicit TCsvLineReader(const std::string& path);
  ~TCsvLineReader();
  TCsvLineReader(const TCsvLineReader&) = delete;
  TCsvLineReader& operator=(const TCsvLineReader&) = delete;

  // The next line without CR LF; false at the end of the file. Raises EZevError on a read
  // error.
  bool Next(std::string& line);

 private:
  bool Fill();

  std::FILE* file_;
  std::string path_;
  char buffer_[kBufferSize];
  size_t pos_ = 0, end_ = 0;
  bool eof_ = false;
};

}  // namespace zev
