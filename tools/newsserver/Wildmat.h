#pragma once
// Pattern matching of NNTP commands (LIST ACTIVE, LIST NEWSGROUPS, XPAT).
#include <string_view>

namespace zev::testserver {

// One pattern: '*' any run, '?' any character, "[set]" with ranges and '^' or '!'
// negation, '\' takes the next character literally. Case-sensitive, as news servers are.
// Worst case is O(pattern * text): a run of stars cannot make it exponential.
bool WildmatMatchOne(std::string_view pattern, std::string_view text);

// A wildmat list: comma-separated patterns, a leading '!' negates one, and the last
// pattern that matches decides.
bool WildmatMatch(std::string_view list, std::string_view text);

}  // namespace zev::testserver
