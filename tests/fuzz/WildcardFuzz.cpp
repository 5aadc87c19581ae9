// Wildcard patterns and names from the fuzzer: lines before the last are patterns, the
// last line is the name. The automaton must agree with a plain backtracking glob where
// that one is cheap enough to run, and listing the set must give it back unchanged.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "filters/Matcher.h"

using namespace zev;

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// Symbols as the pattern syntax reads them: 0..255 literals, 256+ wildcards.
std::vector<int> Symbols(const std::string& t) {
  std::vector<int> out;
  for (size_t i = 0; i < t.size(); ++i) {
    char c = t[i];
    if (c == '*' || c == '?' || c == '#') {
      out.push_back(256 + c);
    } else if (c == '<' && i + 4 < t.size() &&
               ((t[i + 1] == '0' && t[i + 3] >= '1' && t[i + 3] <= '8') ||
                (t[i + 1] >= '1' && t[i + 1] <= '8' && t[i + 3] == '9'))) {
      out.push_back(t[i + 1] == '0' ? 512 + (t[i + 3] - '0') : 512 + 8 + (t[i + 1] - '0'));
      i += 4;
    } else if (c == '\\' && i + 1 < t.size()) {
      out.push_back(static_cast<unsigned char>(t[++i]));
    } else {
      out.push_back(static_cast<unsigned char>(c));
    }
  }
  return out;
}

bool Glob(const std::vector<int>& p, size_t pi, const std::string& s, size_t si) {
  if (pi == p.size()) return si == s.size();
  int sym = p[pi];
  if (sym == 256 + '*') {
    for (size_t k = si; k <= s.size(); ++k)
      if (Glob(p, pi + 1, s, k)) return true;
    return false;
  }
  if (si == s.size()) return false;
  unsigned char c = static_cast<unsigned char>(s[si]);
  bool ok;
  if (sym == 256 + '?') ok = true;
  else if (sym == 256 + '#') ok = std::isdigit(c);
  else if (sym >= 512 && sym <= 520) ok = c >= '0' && c <= '0' + (sym - 512);
  else if (sym > 520) ok = c >= '0' + (sym - 520) && c <= '9';
  else ok = Lower(static_cast<char>(sym)) == Lower(static_cast<char>(c));
  return ok && Glob(p, pi + 1, s, si + 1);
}

bool Reference(const std::vector<std::string>& patterns, const std::string& s) {
  for (const auto& t : patterns) {
    auto p = Symbols(t);
    if (Glob(p, 0, s, 0)) return true;
    for (size_t i = 0; i < s.size(); ++i)
      if ((s[i] == '-' || s[i] == '_') && Glob(p, 0, s, i + 1)) return true;
  }
  return false;
}

// The matcher refuses a pattern with a control character among its symbols; one inside
// a digit range ("<0-3" and any fourth character) is not a symbol and does not count.
bool Usable(const std::string& t) {
  auto symbols = Symbols(t);
  if (symbols.empty()) return false;
  for (int sym : symbols)
    if (sym < 32) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> lines;
  for (size_t start = 0;;) {
    size_t nl = text.find('\n', start);
    lines.push_back(text.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  std::string subject = lines.back();
  lines.pop_back();

  TMatcher m;
  m.AddPatterns(lines);
  bool got = m.Matches(subject);

  std::vector<std::string> listed;
  m.ListPatterns(listed);
  TMatcher again;
  again.AddPatterns(listed);
  if (again.Matches(subject) != got) std::abort();

  std::vector<std::string> usable;
  size_t stars = 0;
  for (const auto& l : lines)
    if (Usable(l)) {
      usable.push_back(l);
      for (char c : l) stars += c == '*';
    }
  if (subject.size() <= 24 && stars <= 4 && usable.size() <= 4 && Reference(usable, subject) != got) std::abort();
  return 0;
}
