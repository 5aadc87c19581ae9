#pragma once
// uuencoded data in an article body: the "begin" header, the data lines and the "end"
// line, decoded in place (the output never overtakes the input).
//
// A data line is a length character (byte count + 32) and groups of four characters for
// three bytes (each character - 32, lower 6 bits). The body is still dot-stuffed: a line
// that begins with "." loses that one ".". The data ends at a line whose first character
// lies outside 33..95 (a blank or the grave accent of an empty line), at an "END" line,
// or at a line too short for the bytes it announces; only a last group missing some of its
// characters is tolerated, as some encoders drop trailing blanks.
#include <cstddef>
#include <string>
#include <string_view>

namespace zev {

struct FUuHeader {
  size_t lineStart = 0;  // where "begin" starts
  size_t dataStart = 0;  // the first line after the header
  std::string name;      // as written (may hold a path: clean it before use)
};

// The first well-formed "begin <mode> <name>" line at or after `from` that starts a line.
bool FindUuHeader(std::string_view text, size_t from, FUuHeader& header);

struct FUuData {
  size_t produced = 0;  // decoded bytes written at `out`
  size_t dataEnd = 0;   // where the line that ended the data starts (or the text's end)
  bool sawEnd = false;  // an "end" line follows the data
  size_t afterEnd = 0;  // the line after that "end" line
};

// Decodes the lines from `start` on. `out` may be `text + k` for any k <= start.
FUuData UudecodeLines(char* text, size_t len, size_t start, char* out);

// The first data line of a part without a header (a later part of a multi-part post):
// the first line of 59 to 63 characters that starts with "M" (a full 45-byte line, allowing
// for checksum characters or dropped blanks), or else the block of well-formed lines
// right before an "end" line within the first 500 characters. npos when there is none.
size_t FindHeaderlessUuStart(std::string_view text);

}  // namespace zev
