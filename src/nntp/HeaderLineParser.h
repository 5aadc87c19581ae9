#pragma once
// Parsing the lines of "XHDR" and "LISTGROUP" data: an article number, and for XHDR a
// blank or tab and the header's value. A line that cannot be used is reported in the error
// log at level 1 with the place, server and group of the pass, and skipped.
#include <cstdint>
#include <string>
#include <string_view>

namespace zev {

// What a pass tells the parser for its messages.
struct FHeaderLineContext {
  std::string place;   // "XHDR|Subject", "TArtList.HandleValidate", ...
  std::string server;
  std::string group;
  uint32_t previous = 0;  // the last accepted number; 0 before the first line
};

struct FHeaderLine {
  uint32_t number = 0;
  std::string_view value;  // blanks and tabs after the number skipped
};

// One XHDR line. False (logged) for a line to skip. On success `context.previous` becomes
// the line's number.
bool ParseHeaderLine(std::string_view line, FHeaderLineContext& context, FHeaderLine& out);
// One LISTGROUP line: the article number alone (anything after a blank is ignored).
bool ParseNumberLine(std::string_view line, FHeaderLineContext& context, uint32_t& number);

// The Message-ID of an XHDR value: after an optional "<", up to ">" or the end. `bracketed`
// tells whether it was opened by "<".
std::string_view MessageIdOfValue(std::string_view value, bool& bracketed);

// The request range of a header command: the digits around its last "-" ("xover 5-10").
// False when the command has no "-".
bool ParseRequestRange(std::string_view command, uint32_t& low, uint32_t& high);

}  // namespace zev
