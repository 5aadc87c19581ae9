#pragma once
// When the "Today" and "Month" byte totals of a server start again from zero. A schedule
// is packed into 32 bits as the settings file stores it: the mode in bits 0-2, the day in
// bits 3-11 (weekday 1 = Monday .. 7 = Sunday, day of month 1-31 or day of year 1-366)
// and the time of day in seconds in bits 12-31.
#include <cstdint>

#include "core/DateTime.h"

namespace zev {

enum TResetMode : uint32_t { rmNever = 0, rmHour = 1, rmDay = 2, rmWeek = 3, rmMonth = 4, rmYear = 5 };

struct FResetSchedule {
  uint32_t mode = rmNever;
  uint32_t day = 1;
  uint32_t seconds = 0;  // 0 "Midnight", 43200 "Noon"
};

constexpr uint32_t kDefaultDailyReset = 2;     // every day at midnight
constexpr uint32_t kDefaultMonthlyReset = 12;  // on the 1st of every month at midnight

FResetSchedule UnpackSchedule(uint32_t packed);
uint32_t PackSchedule(const FResetSchedule& schedule);

// The moment of "no reset ever": 1 January 2100.
TDateTime NeverResetTime();

// The first reset moment of `schedule` after the moment `after` (local date-times). Never
// fails: an unknown mode, a time of day past midnight or a date that cannot be encoded
// give NeverResetTime(). A day beyond the end of a month or year means its last day, so a
// reset "on the 31st" still happens in February.
TDateTime NextResetTime(uint32_t schedule, TDateTime after);

}  // namespace zev
