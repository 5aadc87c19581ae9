#include "db/ResetSchedule.h"

#include <cmath>

namespace zev {
namespace {

constexpr int kSecondsPerDayInt = 86400;

struct FDay {
  int year, month, day;
};

FDay DayOf(TDateTime value) {
  FDateParts p = DecodeDateTime(value);
  return {p.year, p.month, p.day};
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

int DaysInYear(int year) { return IsLeapYear(year) ? 366 : 365; }

// Seconds since midnight, rounded to the second so that 10:00:00 is never read as 09:59:59.
int SecondOfDay(TDateTime x) {
  double frac = x - std::floor(x);
  int s = static_cast<int>(std::lround(frac * kSecondsPerDayInt));
  return s >= kSecondsPerDayInt ? kSecondsPerDayInt - 1 : s;
}

TDateTime DateOnly(TDateTime x) { return std::floor(x); }

bool DayOfMonth(int year, int month, uint32_t day, TDateTime& out) {
  int clamped = std::min(static_cast<int>(day), DaysInMonth(year, month));
  return TryEncodeDate(year, month, clamped, out);
}

bool DayOfYear(int year, uint32_t day, TDateTime& out) {
  TDateTime jan1 = 0;
  if (!TryEncodeDate(year, 1, 1, jan1)) return false;
  out = jan1 + (std::min(static_cast<int>(day), DaysInYear(year)) - 1);
  return true;
}

TDateTime NextHour(TDateTime x) {
  int hour = SecondOfDay(x) / 3600;
  return DateOnly(x) + (hour + 1) / 24.0;
}

TDateTime NextDay(TDateTime x, int seconds, double t) {
  return SecondOfDay(x) < seconds ? DateOnly(x) + t : DateOnly(x) + 1 + t;
}

TDateTime NextWeekday(TDateTime x, uint32_t weekday, double t) {
  // Day 2 of the date-time scale (1 January 1900) was a Monday.
  int64_t days = static_cast<int64_t>(std::floor(x));
  int isoWeekday = static_cast<int>(((days - 2) % 7 + 7) % 7) + 1;
  TDateTime r = DateOnly(x) - (isoWeekday - 1) + (static_cast<int>(weekday) - 1) + t;
  return x >= r ? r + 7 : r;
}

bool NextMonthDay(TDateTime x, uint32_t day, int seconds, double t, TDateTime& out) {
  FDay d = DayOf(x);
  int wanted = std::min(static_cast<int>(day), DaysInMonth(d.year, d.month));
  bool thisMonth = d.day < wanted || (d.day == wanted && SecondOfDay(x) < seconds);
  if (!thisMonth) {
    if (++d.month > 12) d.month = 1, ++d.year;
  }
  if (!DayOfMonth(d.year, d.month, day, out)) return false;
  out += t;
  return true;
}

bool NextYearDay(TDateTime x, uint32_t day, int seconds, double t, TDateTime& out) {
  FDay d = DayOf(x);
  TDateTime jan1 = 0;
  if (!TryEncodeDate(d.year, 1, 1, jan1)) return false;
  int dayOfYear = static_cast<int>(DateOnly(x) - jan1) + 1;
  int wanted = std::min(static_cast<int>(day), DaysInYear(d.year));
  bool thisYear = dayOfYear < wanted || (dayOfYear == wanted && SecondOfDay(x) < seconds);
  if (!DayOfYear(thisYear ? d.year : d.year + 1, day, out)) return false;
  out += t;
  return true;
}

}  // namespace

FResetSchedule UnpackSchedule(uint32_t packed) { return {packed & 7u, packed >> 3 & 0x1FFu, packed >> 12}; }

uint32_t PackSchedule(const FResetSchedule& s) {
  return (s.mode & 7u) | (s.day & 0x1FFu) << 3 | s.seconds << 12;
}

TDateTime NeverResetTime() {
  TDateTime value = 0;
  TryEncodeDate(2100, 1, 1, value);
  return value;
}

TDateTime NextResetTime(uint32_t schedule, TDateTime after) {
  FResetSchedule s = UnpackSchedule(schedule);
  if (s.seconds >= static_cast<uint32_t>(kSecondsPerDayInt) || !std::isfinite(after)) return NeverResetTime();
  // Dates before year 1 or after 9999 cannot be decoded; nothing sensible resets there.
  if (after < -693593.0 || after > 2958465.0) return NeverResetTime();
  int seconds = static_cast<int>(s.seconds);
  double t = seconds / static_cast<double>(kSecondsPerDayInt);
  TDateTime out = 0;
  switch (s.mode) {
    case rmHour:
      return NextHour(after);
    case rmDay:
      return NextDay(after, seconds, t);
    case rmWeek:
      if (s.day < 1 || s.day > 7) return NeverResetTime();
      return NextWeekday(after, s.day, t);
    case rmMonth:
      if (s.day < 1 || s.day > 31 || !NextMonthDay(after, s.day, seconds, t, out)) return NeverResetTime();
      return out;
    case rmYear:
      if (s.day < 1 || s.day > 366 || !NextYearDay(after, s.day, seconds, t, out)) return NeverResetTime();
      return out;
    default:
      return NeverResetTime();
  }
}

}  // namespace zev
