#pragma once
// Parsing the lines of overview ("XOVER") data: article number, subject, author, date,
// Message-ID, References, byte count and line count, separated by tabs. Every field is a
// view into the line; nothing is copied and nothing can be written outside it.
//
// A line that cannot be stored is reported in the error log (level 1 unless stated) and
// gives the number 0. What the texts say is part of what users search their logs for, so
// they stay as they are.
#include <cstdint>
#include <cstring>
#include <string_view>

namespace zev {

struct FOverviewLine {
  uint32_t number = 0;          // 0: skip the line
  std::string_view subject;
  std::string_view author;      // at most 255 characters
  std::string_view date;
  std::string_view messageId;   // without angle brackets, 8..255 characters
  uint32_t bytes = 0;
  uint32_t lines = 0;
};

// Longest subject, author and Message-ID the string lists and the article file take.
constexpr size_t kMaxHeaderText = 255;

// Parses one line (without its line end). False, with `out.number` 0, for a line to skip.
// An article number beyond 32 bits raises EZevError.
bool ParseOverviewLine(std::string_view line, FOverviewLine& out);

// The line count to store from the overview's lines and bytes: servers that report the
// whole file's lines, or none at all, are corrected from the byte count (62 bytes a line).
uint32_t OverviewLineCount(uint32_t lines, uint32_t bytes);

// Where the line that starts at `pos` ends: its first CR or LF, or the end of `data`.
// Two memchr passes instead of find_first_of, which tests every byte against the set:
// the line splitting of millions of overview lines is on the refresh's critical path.
inline size_t LineBreakAt(std::string_view data, size_t pos) {
  const char* begin = data.data() + pos;
  const size_t left = data.size() - pos;
  const void* lf = std::memchr(begin, '\n', left);
  const size_t limit = lf ? static_cast<size_t>(static_cast<const char*>(lf) - begin) : left;
  const void* cr = std::memchr(begin, '\r', limit);
  return pos + (cr ? static_cast<size_t>(static_cast<const char*>(cr) - begin) : limit);
}

// Calls `visit` with each line of `data`; lines end at CR, LF, CR LF or LF CR. Empty lines
// are passed over.
template <typename TVisit>
void ForEachLine(std::string_view data, TVisit&& visit) {
  size_t pos = 0;
  const size_t size = data.size();
  while (pos < size) {
    const size_t end = LineBreakAt(data, pos);
    if (end > pos) visit(data.substr(pos, end - pos));
    if (end == size) break;
    // A line end is one of CR, LF, CR LF, LF CR.
    const char first = data[end];
    pos = end + 1;
    if (pos < size && (data[pos] == '\r' || data[pos] == '\n') && data[pos] != first) ++pos;
  }
}

}  // namespace zev
