#include "core/ConfigNames.h"

#include "core/Intl.h"
#include "core/TextUtil.h"

namespace zev {
namespace {

const char* const kSortNames[kSortKeyCount] = {"Offset", "Size",    "DateTime", "Part",      "FSet",  "Subject", "Author",
                                               "Filename", "Date", "Time",     "Directory", "Score", "Lines"};
const char* const kSortCaptions[kSortKeyCount] = {"Offset",  "Size",   "Date/Time", "Parts", "Files",
                                                  "Subject", "Author", "FileName",  "Date",  "Time",
                                                  "Download Directory", "Score", "Lines"};
const char* const kShutdownNames[] = {"Exit", "Logoff", "Shutdown", "Reboot", "Poweroff", "Suspend", "Hibernate"};
const char* const kQuickFilterNames[] = {"Case Sensitive", "Case Insensitive", "RegEx"};

int RecognisedSortCodes(bool extraColumns) { return extraColumns ? kSortKeyCount : skDate; }

bool ParseSortText(std::string_view text, bool extraColumns, const char* const* table, bool translate, int& code,
                   bool& descending) {
  std::string upper = UpperAscii(text);
  bool desc = !upper.empty() && upper.front() == '-';
  if (desc) upper.erase(0, 1);
  for (int i = 0; i < RecognisedSortCodes(extraColumns); ++i) {
    std::string name = UpperAscii(translate ? Tr(table[i]) : table[i]);
    if (name == upper) {
      code = i;
      descending = desc;
      return true;
    }
  }
  return false;
}

int ParseIntOr(std::string_view text, int fallback) {
  int64_t v = 0;
  return ParseInt64(text, v) && v >= 0 && v <= 255 ? static_cast<int>(v) : fallback;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string SortKeyName(int code, bool descending) {
  std::string name = code >= 0 && code < kSortKeyCount ? kSortNames[code] : std::to_string(code);
  return descending ? "-" + name : name;
}

std::string SortKeyCaption(int code, bool descending) {
  std::string name = code >= 0 && code < kSortKeyCount ? Tr(kSortCaptions[code]) : std::to_string(code);
  return descending ? "-" + name : name;
}

bool ParseSortKey(std::string_view text, bool extraColumns, int& code, bool& descending) {
  return ParseSortText(text, extraColumns, kSortNames, false, code, descending);
}

bool ParseSortCaption(std::string_view text, bool extraColumns, int& code, bool& descending) {
  return ParseSortText(text, extraColumns, kSortCaptions, true, code, descending);
}

std::string ShutdownMethodName(uint8_t method) {
  return method <= smHibernate ? kShutdownNames[method] : std::to_string(method);
}

uint8_t ParseShutdownMethod(std::string_view text) {
  std::string upper = UpperAscii(Trim(text));
  for (int i = 0; i <= smHibernate; ++i)
    if (upper == UpperAscii(kShutdownNames[i])) return static_cast<uint8_t>(i);
  if (upper == "SLEEP") return smSuspend;
  return static_cast<uint8_t>(ParseIntOr(upper, smExit));
}

std::string QuickFilterMethodName(uint8_t method) {
  return method <= qmRegEx ? kQuickFilterNames[method] : std::to_string(method);
}

uint8_t ParseQuickFilterMethod(std::string_view text) {
  std::string upper = UpperAscii(Trim(text));
  for (int i = 0; i <= qmRegEx; ++i)
    if (upper == UpperAscii(kQuickFilterNames[i])) return static_cast<uint8_t>(i);
  return static_cast<uint8_t>(ParseIntOr(upper, qmCaseInsensitive));
}

std::string EscapeCharList(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == ' ') out += "#20";
    else if (c == '#') out += "#23";
    else out += c;
  }
  return out;
}

std::string UnescapeCharList(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '#' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace zev
