#include "nntp/ServerDate.h"

#include <cstdio>

namespace zev {
namespace {

bool ReadDigits(std::string_view text, size_t pos, size_t count, int& value) {
  value = 0;
  for (size_t i = pos; i < pos + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

}  // namespace

bool ParseServerDate(std::string_view statusLine, TDateTime& localTime) {
  // "111 " and fourteen digits; some servers add a comment after a blank.
  if (statusLine.size() < 18 || statusLine.substr(0, 4) != "111 ") return false;
  if (statusLine.size() > 18 && statusLine[18] != ' ') return false;
  FDateParts p;
  if (!ReadDigits(statusLine, 4, 4, p.year) || !ReadDigits(statusLine, 8, 2, p.month) ||
      !ReadDigits(statusLine, 10, 2, p.day) || !ReadDigits(statusLine, 12, 2, p.hour) ||
      !ReadDigits(statusLine, 14, 2, p.minute) || !ReadDigits(statusLine, 16, 2, p.second))
    return false;
  TDateTime date = 0, time = 0;
  if (!TryEncodeDate(p.year, p.month, p.day, date) || !TryEncodeTime(p.hour, p.minute, p.second, time)) return false;
  localTime = LocalDateTimeFromUnix(UnixFromUtcDateTime(date + time));
  return true;
}

std::string NewgroupsTime(TDateTime localTime, bool fourDigitYear) {
  const FDateParts p = DecodeDateTime(UtcDateTimeFromUnix(UnixFromLocalDateTime(localTime)));
  char text[40];
  if (fourDigitYear)
    std::snprintf(text, sizeof text, "%04d%02d%02d %02d%02d%02d GMT", p.year, p.month, p.day, p.hour, p.minute,
                  p.second);
  else
    std::snprintf(text, sizeof text, "%02d%02d%02d %02d%02d%02d GMT", p.year % 100, p.month, p.day, p.hour,
                  p.minute, p.second);
  return text;
}

}  // namespace zev
