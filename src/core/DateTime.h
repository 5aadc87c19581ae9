#pragma once
// Date-times are doubles holding days since 30 December 1899, the fraction being the time
// of day, in local time. Article records and several settings keys hold the packed file
// date instead: bits 0-4 seconds/2, 5-10 minutes, 11-15 hours, 16-20 day, 21-24 month,
// 25-31 year - 1980.
#include <cstdint>
#include <ctime>

namespace zev {

using TDateTime = double;

constexpr double kSecondsPerDay = 86400.0;
// 1970-01-01 as a date-time.
constexpr TDateTime kUnixEpoch = 25569.0;

// False (and `out` untouched) for an impossible date or a year outside 1..9999.
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
// False for an hour, minute or second out of range (or negative).
bool TryEncodeTime(int hour, int minute, int second, TDateTime& out);

struct FDateParts {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
FDateParts DecodeDateTime(TDateTime value);

// Conversions between the Unix clock and date-times. The local forms apply the zone
// offset in force at that moment, so each date gets its own daylight-saving rule.
TDateTime UtcDateTimeFromUnix(int64_t seconds);
int64_t UnixFromUtcDateTime(TDateTime value);
TDateTime LocalDateTimeFromUnix(int64_t seconds);
int64_t UnixFromLocalDateTime(TDateTime value);
TDateTime NowLocal();

// Who changes TZ while the program runs calls this instead of tzset(): it also makes the
// threads' remembered zone offsets (see CachedLocalDateTimeFromUnix) start again.
void ReloadLocalZone();
// Counts the ReloadLocalZone calls, for those remembered offsets.
uint32_t LocalZoneGeneration();

// Packed file dates; 0 for a moment outside 1980..2107 and, unpacking, for an invalid value.
uint32_t PackFileDate(TDateTime value);
TDateTime UnpackFileDate(uint32_t packed);

}  // namespace zev
