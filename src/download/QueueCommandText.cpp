#include "download/QueueCommandText.h"

#include <algorithm>

namespace zev {

namespace {

bool IsVisible(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u > 0x20 && u != 0x7F;
}

std::string Range(uint32_t low, uint32_t high) { return std::to_string(low) + "-" + std::to_string(high); }

}  // namespace

bool IsCommandWord(std::string_view text) { return !text.empty() && std::all_of(text.begin(), text.end(), IsVisible); }

bool IsUsableMessageId(std::string_view id) {
  if (id.empty() || id == "0") return false;
  return std::all_of(id.begin(), id.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7F && c != '<' && c != '>';
  });
}

bool IsCommandText(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

std::string GroupCommand(std::string_view group) { return "group " + std::string(group); }

std::string ListgroupCommand(std::string_view group) { return "listgroup " + std::string(group); }

std::string RangeCommand(TQueueKind kind, uint32_t low, uint32_t high, bool useXhdr) {
  switch (kind) {
    case qkMessageID: return (useXhdr ? "xhdr Message-ID " : "xover ") + Range(low, high);
    case qkSize: return "xhdr Lines " + Range(low, high);
    case qkSubject: return "xhdr Subject " + Range(low, high);
    case qkAuthor: return "xhdr From " + Range(low, high);
    case qkDate: return "xhdr Date " + Range(low, high);
    default: return {};
  }
}

std::string ValidateCommand(uint32_t artNo) { return "xhdr Message-ID " + std::to_string(artNo); }

std::string XpatCommand(std::string_view header, uint32_t low, uint32_t high, std::string_view pattern) {
  return "xpat " + std::string(header) + " " + Range(low, high) + " " + std::string(pattern);
}

std::string BodyCommand(std::string_view id, bool useArticle) {
  return (useArticle ? "article " : "body ") + std::string(id);
}

}  // namespace zev
