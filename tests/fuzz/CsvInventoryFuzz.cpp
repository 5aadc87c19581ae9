// Lines of CSV inventories: splitting and parsing never crash, and every field written by
// the writers reads back as it was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "download/CsvFile.h"

using namespace zev;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> fields = SplitCsvLine(line);
  if (fields.empty()) std::abort();
  FCsvInventoryLine entry;
  if (ParseInventoryLine(line, entry)) {
    if (entry.name.empty() || fields.size() < 4) std::abort();
    if (!entry.directory.empty() && entry.directory != fields[3]) std::abort();
  }
  // Round trip: each field, written and split again, comes back (line breaks as blanks).
  std::string written;
  for (const std::string& f : fields) written += CsvField(f) + ",";
  const std::vector<std::string> again = SplitCsvLine(written);
  if (again.size() != fields.size() + 1) std::abort();
  for (size_t i = 0; i < fields.size(); ++i) {
    std::string expected = fields[i];
    for (char& c : expected)
      if (c == '\r' || c == '\n') c = ' ';
    if (again[i] != expected) std::abort();
  }
  return 0;
}
