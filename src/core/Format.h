#pragma once
// Texts the program shows: sizes, counts, time spans, I/O errors, XML-safe text.
// Decimal and thousands separators follow the user's locale for display only; they are
// passed in, or read with UserNumberSymbols(), which never changes the process locale.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/DateTime.h"

namespace zev {

struct FNumberSymbols {
  char decimalPoint = '.';
  std::string thousandsSep = ",";
};
// The separators of the user's LC_NUMERIC, looked up without setlocale().
const FNumberSymbols& UserNumberSymbols();

std::string IoErrorText(int code);

// A size given in kB as "950 kB", "0.93 MB", "100 GB" ...
std::string FormatSizeKB(uint32_t kb, char decimalPoint = UserNumberSymbols().decimalPoint);
std::string FormatSizeKB(uint64_t kb, char decimalPoint = UserNumberSymbols().decimalPoint);

std::string FormatThousands(int64_t n, std::string_view sep = UserNumberSymbols().thousandsSep);
std::string FormatThousands(uint64_t n, std::string_view sep = UserNumberSymbols().thousandsSep);

// "1 hour 2 mins", "<1 min", ">2 days", "err!" (the span has no absolute value).
std::string FormatTimeSpan(int64_t seconds);

// "%s ago" for the time from a packed file date to `now`; empty for the date 0.
std::string TimeSinceFileDate(uint32_t packedDate, TDateTime now);
// "%s ago" for the time from a date-time to `now`; empty when it lies over 100 days back.
std::string TimeSinceDateTime(TDateTime when, TDateTime now);
// Time until the next automatic refresh: "In %s", or "now" when it is due. Empty unless
// the group refreshes automatically with an interval code 1..6 (24 h, 12 h, 6 h, 3 h, 1 h,
// 30 min). `lastRefresh` 0 means never refreshed (counted as one interval ago).
std::string TimeUntilText(bool autoRefresh, int intervalCode, TDateTime lastRefresh, TDateTime now);

// '"' as "&#34;", '&', '<' and '>' as entities; everything else (the apostrophe too) stays.
std::string XmlEscape(std::string_view text);

}  // namespace zev
