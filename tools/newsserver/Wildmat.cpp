#include "Wildmat.h"

namespace zev::testserver {
namespace {

// Whether character c matches the set that starts at pat[p] == '['; next is where the
// element after the set begins. An unterminated '[' is a literal.
bool SetMatches(std::string_view pat, size_t p, unsigned char c, size_t& next) {
  size_t q = p + 1;
  bool negate = false;
  if (q < pat.size() && (pat[q] == '^' || pat[q] == '!')) {
    negate = true;
    ++q;
  }
  bool found = false;
  bool first = true;
  while (q < pat.size() && (first || pat[q] != ']')) {
    first = false;
    auto lo = static_cast<unsigned char>(pat[q]);
    if (q + 2 < pat.size() && pat[q + 1] == '-' && pat[q + 2] != ']') {
      auto hi = static_cast<unsigned char>(pat[q + 2]);
      found = found || (c >= lo && c <= hi);
      q += 3;
    } else {
      found = found || c == lo;
      ++q;
    }
  }
  if (q >= pat.size()) {
    next = p + 1;
    return c == '[';
  }
  next = q + 1;
  return found != negate;
}

bool ElementMatches(std::string_view pat, size_t p, unsigned char c, size_t& next) {
  switch (pat[p]) {
    case '?':
      next = p + 1;
      return true;
    case '[':
      return SetMatches(pat, p, c, next);
    case '\\':
      if (p + 1 < pat.size()) {
        next = p + 2;
        return static_cast<unsigned char>(pat[p + 1]) == c;
      }
      [[fallthrough]];
    default:
      next = p + 1;
      return static_cast<unsigned char>(pat[p]) == c;
  }
}

}  // namespace

bool WildmatMatchOne(std::string_view pattern, std::string_view text) {
  constexpr size_t kNone = std::string_view::npos;
  size_t p = 0, t = 0, starP = kNone, starT = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = ++p;
      starT = t;
      continue;
    }
    size_t next = 0;
    if (p < pattern.size() && ElementMatches(pattern, p, static_cast<unsigned char>(text[t]), next)) {
      p = next;
      ++t;
      continue;
    }
    if (starP == kNone) return false;
    // Let the last star swallow one more character and retry from there; earlier stars
    // never need to move again, which keeps this linear per star.
    p = starP;
    t = ++starT;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool WildmatMatch(std::string_view list, std::string_view text) {
  bool matched = false;
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string_view::npos) comma = list.size();
    std::string_view item = list.substr(start, comma - start);
    bool negate = !item.empty() && item[0] == '!';
    if (negate) item.remove_prefix(1);
    if (WildmatMatchOne(item, text)) matched = !negate;
    start = comma + 1;
  }
  return matched;
}

}  // namespace zev::testserver
