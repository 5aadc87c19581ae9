#include "download/DownloadNames.h"

#include <cstdio>

#include "core/SanitizeName.h"
#include "download/DecodeFs.h"

namespace zev {

namespace {

bool ParseNumber(std::string_view text, uint32_t& value) {
  if (text.empty() || text.size() > 9) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  return true;
}

bool Exists(TDecodeFs& fs, const std::string& path) {
  uint64_t size = 0;
  bool isDir = false;
  return fs.Stat(path, size, isDir);
}

// "name (3)" -> "name": the free-name suffix of an earlier copy.
std::string_view WithoutCopySuffix(std::string_view base) {
  for (;;) {
    if (base.size() < 3 || base.back() != ')') return base;
    size_t open = base.size() - 2;
    while (open > 0 && base[open] >= '0' && base[open] <= '9') --open;
    if (base[open] != '(' || open == base.size() - 2) return base;
    size_t cut = open;
    while (cut > 0 && base[cut - 1] == ' ') --cut;
    if (cut == 0) return base;
    base = base.substr(0, cut);
  }
}

}  // namespace

std::string CleanPostName(std::string_view raw) {
  const size_t sep = raw.find_last_of("/\\");
  if (sep != std::string_view::npos) raw.remove_prefix(sep + 1);
  std::string name = SanitizeName(raw, false, kMaxBaseName);
  return name.empty() ? std::string("unnamed") : name;
}

std::string RespellFromSubject(std::string_view name, std::string_view subject) {
  std::string wanted;
  for (char c : name)
    if (c != ' ') wanted += c;
  if (wanted.empty()) return std::string(name);
  // Match backwards from every end position, skipping blanks in the subject.
  for (size_t end = subject.size(); end > 0; --end) {
    if (subject[end - 1] != wanted.back()) continue;
    size_t s = end, w = wanted.size();
    while (w > 0 && s > 0) {
      if (subject[s - 1] == ' ') {
        --s;
        continue;
      }
      if (subject[s - 1] != wanted[w - 1]) break;
      --s;
      --w;
    }
    if (w == 0) return std::string(subject.substr(s, end - s));
  }
  return std::string(name);
}

std::string MakeUniqueName(TDecodeFs& fs, const std::string& dir, const std::string& name) {
  if (!Exists(fs, dir + name)) return name;
  const size_t dot = name.rfind('.');
  const std::string ext = dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot);
  const std::string base(WithoutCopySuffix(std::string_view(name).substr(0, name.size() - ext.size())));
  for (uint32_t n = 2;; ++n) {
    std::string candidate = base + "(" + std::to_string(n) + ")" + ext;
    if (!Exists(fs, dir + candidate)) return candidate;
  }
}

int PartDigits(uint32_t total) {
  int digits = 1;
  for (uint32_t t = total; t >= 10; t /= 10) ++digits;
  return digits;
}

std::string PartFileName(std::string_view base, FPartRange range, uint32_t total) {
  const int d = PartDigits(total);
  char suffix[32];
  if (range.first == range.last)
    std::snprintf(suffix, sizeof suffix, ".%.*u", d, range.first);
  else
    std::snprintf(suffix, sizeof suffix, ".%.*u-%.*u", d, range.first, d, range.last);
  return std::string(base) + suffix;
}

bool ParsePartFileName(std::string_view fileName, std::string_view base, FPartRange& range) {
  if (fileName.size() <= base.size() + 1 || fileName.substr(0, base.size()) != base || fileName[base.size()] != '.')
    return false;
  const std::string_view rest = fileName.substr(base.size() + 1);
  const size_t hyphen = rest.find('-');
  if (hyphen == std::string_view::npos) {
    if (!ParseNumber(rest, range.first)) return false;
    range.last = range.first;
  } else if (!ParseNumber(rest.substr(0, hyphen), range.first) || !ParseNumber(rest.substr(hyphen + 1), range.last)) {
    return false;
  }
  return range.first >= 1 && range.first <= range.last;
}

}  // namespace zev
