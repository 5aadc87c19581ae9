#pragma once
// Small text helpers that never depend on the user's locale: names in files and on the
// wire compare the same way whatever language the desktop runs in.
#include <cstdint>
#include <string>
#include <string_view>

namespace zev {

std::string_view Trim(std::string_view text);
std::string LowerAscii(std::string_view text);
std::string UpperAscii(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// Position of `needle` in `haystack` ignoring ASCII case, or std::string_view::npos.
size_t PosIgnoreCase(std::string_view needle, std::string_view haystack);
bool ContainsIgnoreCase(std::string_view haystack, std::string_view needle);

// Decimal integer with an optional sign and surrounding blanks; false when the whole text
// is not such a number or it does not fit.
bool ParseInt64(std::string_view text, int64_t& value);

}  // namespace zev

namespace zev {

// printf-style formatting into a std::string (for translated message templates).
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace zev
