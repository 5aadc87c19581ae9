#include "core/DateTime.h"

#include <atomic>
#include <chrono>
#include <cmath>

namespace zev {
namespace {

using std::chrono::day;
using std::chrono::month;
using std::chrono::sys_days;
using std::chrono::year;
using std::chrono::year_month_day;

const sys_days kDateTimeZero = sys_days(year_month_day{year{1899}, month{12}, day{30}});

// Whole seconds since 1899-12-30, rounded so that 0.1 s of floating-point noise never
// turns 12:00:00 into 11:59:59.
int64_t SecondsOf(TDateTime value) { return static_cast<int64_t>(std::llround(value * kSecondsPerDay)); }

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

std::atomic<uint32_t> gLocalZoneGeneration{0};

}  // namespace

bool TryEncodeDate(int y, int m, int d, TDateTime& out) {
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > 31) return false;
  year_month_day ymd{year{y}, month{static_cast<unsigned>(m)}, day{static_cast<unsigned>(d)}};
  if (!ymd.ok()) return false;
  out = static_cast<double>((sys_days(ymd) - kDateTimeZero).count());
  return true;
}

bool TryEncodeTime(int h, int m, int s, TDateTime& out) {
  if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59) return false;
  out = (h * 3600 + m * 60 + s) / kSecondsPerDay;
  return true;
}

FDateParts DecodeDateTime(TDateTime value) {
  int64_t total = SecondsOf(value);
  int64_t days = FloorDiv(total, 86400);
  int64_t secs = total - days * 86400;
  year_month_day ymd{kDateTimeZero + std::chrono::days(days)};
  FDateParts p;
  p.year = static_cast<int>(ymd.year());
  p.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
  p.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
  p.hour = static_cast<int>(secs / 3600);
  p.minute = static_cast<int>(secs / 60 % 60);
  p.second = static_cast<int>(secs % 60);
  return p;
}

TDateTime UtcDateTimeFromUnix(int64_t seconds) { return kUnixEpoch + static_cast<double>(seconds) / kSecondsPerDay; }

int64_t UnixFromUtcDateTime(TDateTime value) { return SecondsOf(value - kUnixEpoch); }

TDateTime LocalDateTimeFromUnix(int64_t seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  if (!localtime_r(&t, &tm)) return UtcDateTimeFromUnix(seconds);
  return UtcDateTimeFromUnix(seconds + tm.tm_gmtoff);
}

int64_t UnixFromLocalDateTime(TDateTime value) {
  FDateParts p = DecodeDateTime(value);
  std::tm tm{};
  tm.tm_year = p.year - 1900;
  tm.tm_mon = p.month - 1;
  tm.tm_mday = p.day;
  tm.tm_hour = p.hour;
  tm.tm_min = p.minute;
  tm.tm_sec = p.second;
  tm.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&tm));
}

void ReloadLocalZone() {
  tzset();
  gLocalZoneGeneration.fetch_add(1, std::memory_order_release);
}

uint32_t LocalZoneGeneration() { return gLocalZoneGeneration.load(std::memory_order_acquire); }

TDateTime NowLocal() { return LocalDateTimeFromUnix(static_cast<int64_t>(std::time(nullptr))); }

uint32_t PackFileDate(TDateTime value) {
  FDateParts p = DecodeDateTime(value);
  if (p.year < 1980 || p.year > 2107) return 0;
  return static_cast<uint32_t>(p.second / 2) | static_cast<uint32_t>(p.minute) << 5 |
         static_cast<uint32_t>(p.hour) << 11 | static_cast<uint32_t>(p.day) << 16 |
         static_cast<uint32_t>(p.month) << 21 | static_cast<uint32_t>(p.year - 1980) << 25;
}

TDateTime UnpackFileDate(uint32_t packed) {
  int second = static_cast<int>(packed & 31) * 2, minute = static_cast<int>(packed >> 5 & 63);
  int hour = static_cast<int>(packed >> 11 & 31), day = static_cast<int>(packed >> 16 & 31);
  int month = static_cast<int>(packed >> 21 & 15), year = static_cast<int>(packed >> 25) + 1980;
  TDateTime date = 0, time = 0;
  if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, minute, second, time)) return 0;
  return date + time;
}

}  // namespace zev
