#pragma once
// One line of a "list" (LIST ACTIVE) or "newgroups" response: "name high low status",
// fields separated by blanks or tabs. The name comes from the server and later names
// files and settings sections, so it is checked here before anything stores it.
#include <cstdint>
#include <string_view>

namespace zev {

struct FListLine {
  std::string_view name;  // points into the parsed line
  uint32_t count = 0;     // high - low + 1, at least 1
};

enum class TListLineVerdict {
  Stored,   // `out` holds the group
  Ignored,  // an empty line, or one without a field after the name
  Refused,  // the name is not a usable newsgroup name; `problem` says why
};

TListLineVerdict ParseListLine(std::string_view line, FListLine& out, const char*& problem);

// Why `name` cannot be a newsgroup of the list, or nullptr when it can. Besides the rules
// for file names (GroupFileNameProblem), the characters RFC 3977 keeps out of newsgroup
// names are refused: blanks, "!", "*", ",", "?", "[", "\" and "]" (they would be read as
// wildmat patterns or break .newsrc lines).
const char* NewsgroupNameProblem(std::string_view name);

}  // namespace zev
