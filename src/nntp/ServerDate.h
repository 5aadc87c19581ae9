#pragma once
// The server's clock: the "111 yyyymmddhhmmss" answer to DATE, which is UTC, and the time
// argument of NEWGROUPS, which is sent as UTC with "GMT" so that a server in another zone
// reads the same moment. The program keeps date-times in local time.
#include <string>
#include <string_view>

#include "core/DateTime.h"

namespace zev {

// The moment of a "111" status line as a local date-time; false for anything else
// (another code, missing or extra digits, an impossible date or time).
bool ParseServerDate(std::string_view statusLine, TDateTime& localTime);

// "yyyymmdd hhmmss GMT", or "yymmdd hhmmss GMT" for servers that know only two-digit years.
std::string NewgroupsTime(TDateTime localTime, bool fourDigitYear);

}  // namespace zev
