#pragma once
// Dates of the "Date" header, as they come in overview lines and XHDR replies: optional
// weekday, one- or two-digit day, month name, two-, three- or four-digit year, h:m:s, and
// a numeric or named zone (also in parentheses). One left-to-right scan, tolerant of the
// many variants news clients write.
#include <string_view>

#include "core/DateTime.h"

namespace zev {

// The text as it stands in the overview line or header, with its terminating tab or
// carriage return: the zone counts only when one of these ends the text (otherwise the
// time is taken as UTC). Returns local time; an unreadable date gives the current time and
// a verbose log entry. The text itself is never changed.
TDateTime ParseHeaderDate(std::string_view text);

// The local date-time of a Unix time exactly as LocalDateTimeFromUnix gives it, daylight
// saving included, at a fraction of its cost for dates close together: each thread
// remembers the zone offset of the quarter hours it met whose start and end share one
// offset (the quarter hours of a zone change are converted directly). Changing TZ at run
// time takes ReloadLocalZone().
TDateTime CachedLocalDateTimeFromUnix(int64_t seconds);

// 1..12 from the letters that tell the months apart, 0 when none fits.
int MonthFromName(std::string_view word);

// Offset from UTC in days (positive east of UTC) of a zone name such as "pst" or "cest";
// the word may run on past the name (")" and the like). Unknown names give 0 and a verbose
// log entry.
double ZoneOffset(std::string_view word);

}  // namespace zev
