#include "download/YencLine.h"

#include <array>

namespace zev {

namespace {

constexpr bool IsBlank(char c) { return c == ' ' || c == '\t'; }

enum class TKey : uint8_t { Name, Part, Total, Line, Size, Begin, End, Crc32, Pcrc32 };

struct TKeySpelling {
  std::string_view word;
  TKey key;
};

constexpr std::array<TKeySpelling, 9> kKeys{{
    {"name", TKey::Name},   {"part", TKey::Part},   {"total", TKey::Total},
    {"line", TKey::Line},   {"size", TKey::Size},   {"begin", TKey::Begin},
    {"end", TKey::End},     {"crc32", TKey::Crc32}, {"pcrc32", TKey::Pcrc32},
}};

// Matches `word` followed by "=" at `pos`, allowing blanks between its letters and before
// the "=". On success `pos` moves past the "=".
bool MatchKey(std::string_view text, size_t& pos, std::string_view word, bool& spaced) {
  size_t at = pos;
  bool sawBlank = false;
  for (size_t k = 0; k < word.size(); ++k) {
    if (k > 0)
      while (at < text.size() && IsBlank(text[at])) { ++at; sawBlank = true; }
    if (at >= text.size() || text[at] != word[k]) return false;
    ++at;
  }
  while (at < text.size() && IsBlank(text[at])) { ++at; sawBlank = true; }
  if (at >= text.size() || text[at] != '=') return false;
  pos = at + 1;
  spaced = spaced || sawBlank;
  return true;
}

std::optional<uint64_t> ParseDecimal(std::string_view token) {
  if (token.empty() || token.size() > 20) return std::nullopt;
  uint64_t value = 0;
  for (char c : token) {
    if (c < '0' || c > '9') return std::nullopt;
    uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One to eight hexadecimal digits, optionally after "0x" (a few posting programs add it).
std::optional<uint32_t> ParseHex32(std::string_view token) {
  if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) token.remove_prefix(2);
  if (token.empty() || token.size() > 8) return std::nullopt;
  uint32_t value = 0;
  for (char c : token) {
    int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = (value << 4) | static_cast<uint32_t>(digit);
  }
  return value;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

template <typename T>
void SetOnce(std::optional<T>& field, std::optional<T> value) {
  if (!field && value) field = value;
}

void Store(TYencLine& out, TKey key, std::string_view token) {
  switch (key) {
    case TKey::Part: SetOnce(out.part, ParseDecimal(token)); break;
    case TKey::Total: SetOnce(out.total, ParseDecimal(token)); break;
    case TKey::Line: SetOnce(out.line, ParseDecimal(token)); break;
    case TKey::Size: SetOnce(out.size, ParseDecimal(token)); break;
    case TKey::Begin: SetOnce(out.begin, ParseDecimal(token)); break;
    case TKey::End: SetOnce(out.end, ParseDecimal(token)); break;
    case TKey::Crc32: SetOnce(out.crc32, ParseHex32(token)); break;
    case TKey::Pcrc32: SetOnce(out.pcrc32, ParseHex32(token)); break;
    case TKey::Name: break;
  }
}

// The kind from the leading word; `pos` moves past it.
TYencLineKind ReadKind(std::string_view text, size_t& pos) {
  static constexpr std::array<std::pair<std::string_view, TYencLineKind>, 3> kWords{{
      {"=ybegin", TYencLineKind::Begin}, {"=ypart", TYencLineKind::Part}, {"=yend", TYencLineKind::End}}};
  for (const auto& [word, kind] : kWords) {
    if (!text.starts_with(word)) continue;
    if (text.size() > word.size() && !IsBlank(text[word.size()])) continue;
    pos = word.size();
    return kind;
  }
  return TYencLineKind::Other;
}

}  // namespace

TYencLine ParseYencLine(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  TYencLine out;
  size_t pos = 0;
  out.kind = ReadKind(text, pos);
  if (out.kind == TYencLineKind::Other) return out;
  while (pos < text.size()) {
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    if (pos >= text.size()) break;
    const TKeySpelling* found = nullptr;
    for (const TKeySpelling& spelling : kKeys)
      if (MatchKey(text, pos, spelling.word, out.spacedKeyword)) { found = &spelling; break; }
    if (found && found->key == TKey::Name) {
      // The name is the last parameter and may hold blanks and "=": it runs to the end.
      if (!out.name) out.name = std::string(TrimBlanks(text.substr(pos)));
      break;
    }
    size_t tokenEnd = pos;
    while (tokenEnd < text.size() && !IsBlank(text[tokenEnd])) ++tokenEnd;
    if (found) Store(out, found->key, text.substr(pos, tokenEnd - pos));
    pos = tokenEnd;
  }
  return out;
}

}  // namespace zev
