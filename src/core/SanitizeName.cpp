#include "core/SanitizeName.h"

#include "core/Config.h"

namespace zev {
namespace {

constexpr size_t kComponentLimit = 255;  // bytes, the Linux file-name limit
constexpr std::string_view kUnknown = "unknown";

bool In(std::string_view set, char c) { return set.find(c) != std::string_view::npos; }
bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20; }

// Never leaves half of a multi-byte UTF-8 character at the end.
void CutUtf8(std::string& text, size_t limit) {
  if (text.size() <= limit) return;
  size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
}

char Neutral(char c, std::string_view invalidChars) {
  if (c == '/' || c == '\\' || c == '\x7f' || In(invalidChars, c)) return '_';
  return c;
}

std::string CleanComponent(std::string part, std::string_view trimChars) {
  size_t b = 0, e = part.size();
  while (b < e && In(trimChars, part[b])) ++b;
  while (e > b && In(trimChars, part[e - 1])) --e;
  part = part.substr(b, e - b);
  CutUtf8(part, kComponentLimit);
  if (part.empty() || part == "." || part == "..") return std::string(kUnknown);
  return part;
}

std::string CleanPath(std::string_view text, std::string_view invalidChars, std::string_view trimChars) {
  std::string out;
  bool afterSep = false, firstIsSep = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (IsControl(c)) break;
    if (c == '/') {
      while (!out.empty() && out.back() != '/' && In(trimChars, out.back())) out.pop_back();
      if (i == 0) firstIsSep = true;
      // Doubled separators stand only at the very start (a network path).
      if (!(afterSep && !(firstIsSep && out.size() == 1))) out += '/';
      afterSep = true;
      continue;
    }
    if (afterSep && In(trimChars, c)) continue;
    afterSep = false;
    out += Neutral(c, invalidChars);
  }
  return out;
}

}  // namespace

std::string SanitizeName(std::string_view text, bool isPath, size_t limit, std::string_view invalidChars,
                         std::string_view trimChars) {
  std::string out;
  if (isPath) {
    out = CleanPath(text, invalidChars, trimChars);
  } else {
    for (char c : text) {
      if (IsControl(c)) break;
      out += Neutral(c, invalidChars);
    }
  }
  CutUtf8(out, limit);
  if (!isPath) return CleanComponent(out, trimChars);
  // Each component on its own: trimmed, within the name limit, never "." or "..".
  std::string result;
  size_t start = 0;
  while (start <= out.size()) {
    size_t slash = out.find('/', start);
    std::string part = out.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    bool last = slash == std::string::npos;
    if (!part.empty() || (last && result.empty())) result += CleanComponent(part, trimChars);
    if (last) break;
    result += '/';
    start = slash + 1;
  }
  return result;
}

std::string SanitizeName(std::string_view text, bool isPath, size_t limit) {
  if (gConfig) return SanitizeName(text, isPath, limit, gConfig->InvalidCharList, gConfig->TrimCharList);
  return SanitizeName(text, isPath, limit, "\\/:*?\"<>|", " -_,.");
}

}  // namespace zev
