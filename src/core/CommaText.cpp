#include "core/CommaText.h"

namespace zev {
namespace {

bool IsBlank(char c) { return c != '\0' && static_cast<unsigned char>(c) <= ' '; }

bool NeedsQuotes(std::string_view item) {
  if (item.empty()) return true;
  for (char c : item)
    if (static_cast<unsigned char>(c) <= ' ' || c == ',' || c == '"') return true;
  return false;
}

// Reads a quoted item starting at text[pos] == '"'; an unterminated quote takes the rest.
std::string ReadQuoted(std::string_view text, size_t& pos) {
  std::string item;
  ++pos;
  while (pos < text.size()) {
    char c = text[pos++];
    if (c != '"') {
      item += c;
    } else if (pos < text.size() && text[pos] == '"') {
      item += '"';
      ++pos;
    } else {
      break;
    }
  }
  return item;
}

}  // namespace

std::string ToCommaText(const std::vector<std::string>& items) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) out += ',';
    if (!NeedsQuotes(items[i])) {
      out += items[i];
      continue;
    }
    out += '"';
    for (char c : items[i]) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  }
  return out;
}

std::vector<std::string> FromCommaText(std::string_view text) {
  std::vector<std::string> items;
  size_t pos = 0;
  while (pos < text.size() && IsBlank(text[pos])) ++pos;
  while (pos < text.size()) {
    if (text[pos] == '"') {
      items.push_back(ReadQuoted(text, pos));
    } else {
      size_t start = pos;
      while (pos < text.size() && !IsBlank(text[pos]) && text[pos] != ',') ++pos;
      items.emplace_back(text.substr(start, pos - start));
    }
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    if (pos < text.size() && text[pos] == ',') {
      if (pos + 1 == text.size()) items.emplace_back();
      do ++pos;
      while (pos < text.size() && IsBlank(text[pos]));
    }
  }
  return items;
}

}  // namespace zev
