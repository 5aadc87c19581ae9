#pragma once
// Time texts of articles and of the DATE command. Always UTC: the server never looks at
// the machine's time zone.
#include <cstdint>
#include <string>

namespace zev::testserver {

// "Sat, 15 Jun 2024 12:00:56 +0000"
std::string FormatArticleDate(int64_t unixSeconds);
// "20240615120056" (the DATE reply's digits)
std::string FormatNntpDate(int64_t unixSeconds);
int YearOf(int64_t unixSeconds);

}  // namespace zev::testserver
