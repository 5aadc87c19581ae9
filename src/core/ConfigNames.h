#pragma once
// The names under which enumerated settings are stored, and the escaped character lists.
// Parsing never fails loudly: a text that is not recognised leaves the caller's value
// (sort keys) or falls back to the stored number.
#include <cstdint>
#include <string>
#include <string_view>

namespace zev {

// Article sort keys: codes 0..12. Codes 8..12 belong to the extra article-list columns and
// are recognised only when those are enabled (the "test1" switch).
enum TSortKey : int {
  skOffset = 0, skSize, skDateTime, skPart, skFSet, skSubject, skAuthor, skFilename,
  skDate, skTime, skDirectory, skScore, skLines
};
constexpr int kSortKeyCount = 13;

std::string SortKeyName(int code, bool descending);
std::string SortKeyCaption(int code, bool descending);
// True when recognised; `code` and `descending` are then set, else left alone.
bool ParseSortKey(std::string_view text, bool extraColumns, int& code, bool& descending);
bool ParseSortCaption(std::string_view text, bool extraColumns, int& code, bool& descending);

// What "shut down when finished" does.
enum TShutdownMethod : uint8_t { smExit, smLogoff, smShutdown, smReboot, smPoweroff, smSuspend, smHibernate };
std::string ShutdownMethodName(uint8_t method);
uint8_t ParseShutdownMethod(std::string_view text);

// How the quick filter compares.
enum TQuickFilterMethod : uint8_t { qmCaseSensitive, qmCaseInsensitive, qmRegEx };
std::string QuickFilterMethodName(uint8_t method);
uint8_t ParseQuickFilterMethod(std::string_view text);

// Character lists in the settings file write a blank as "#20" and "#" as "#23", so that
// leading and trailing blanks survive; "#" and two hex digits read as that character.
std::string EscapeCharList(std::string_view text);
std::string UnescapeCharList(std::string_view text);

}  // namespace zev
