#include "db/ResetSchedule.h"

#include <gtest/gtest.h>

#include "ModelTestUtil.h"

using namespace zev;
using zev::test::MakeDateTime;

namespace {

uint32_t Schedule(uint32_t mode, uint32_t day = 1, uint32_t seconds = 0) { return PackSchedule({mode, day, seconds}); }

std::string Text(TDateTime t) {
  FDateParts p = DecodeDateTime(t);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute, p.second);
  return buf;
}

}  // namespace

TEST(ResetSchedule, NextResetTimeTable) {
  struct FCase {
    uint32_t schedule;
    TDateTime after;
    const char* expected;
  } cases[] = {
      // The defaults: daily at midnight, monthly on the 1st at midnight.
      {kDefaultDailyReset, MakeDateTime(2024, 3, 14, 23, 59), "2024-03-15 00:00:00"},
      {kDefaultDailyReset, MakeDateTime(2024, 12, 31, 23, 59), "2025-01-01 00:00:00"},
      {kDefaultMonthlyReset, MakeDateTime(2024, 12, 31, 10), "2025-01-01 00:00:00"},
      {kDefaultMonthlyReset, MakeDateTime(2024, 1, 1, 0, 5), "2024-02-01 00:00:00"},
      // Day at noon: before noon it is today, after it tomorrow.
      {Schedule(rmDay, 1, 43200), MakeDateTime(2024, 2, 28, 11, 59, 59), "2024-02-28 12:00:00"},
      {Schedule(rmDay, 1, 43200), MakeDateTime(2024, 2, 28, 12), "2024-02-29 12:00:00"},
      // Hour: the next whole hour, also exactly on one.
      {Schedule(rmHour), MakeDateTime(2024, 3, 14, 10, 0, 0), "2024-03-14 11:00:00"},
      {Schedule(rmHour), MakeDateTime(2024, 3, 14, 23, 30), "2024-03-15 00:00:00"},
      // Week (Monday 1 .. Sunday 7); 14 March 2024 is a Thursday.
      {Schedule(rmWeek, 5, 3600), MakeDateTime(2024, 3, 14, 12), "2024-03-15 01:00:00"},
      {Schedule(rmWeek, 1), MakeDateTime(2024, 3, 14, 12), "2024-03-18 00:00:00"},
      {Schedule(rmWeek, 4, 43200), MakeDateTime(2024, 3, 14, 12), "2024-03-21 12:00:00"},
      {Schedule(rmWeek, 7), MakeDateTime(2024, 12, 30, 8), "2025-01-05 00:00:00"},
      // Month on a given day; days past a month's end mean its last day.
      {Schedule(rmMonth, 15), MakeDateTime(2024, 3, 14, 12), "2024-03-15 00:00:00"},
      {Schedule(rmMonth, 15, 7200), MakeDateTime(2024, 3, 15, 1), "2024-03-15 02:00:00"},
      {Schedule(rmMonth, 15, 7200), MakeDateTime(2024, 3, 15, 3), "2024-04-15 02:00:00"},
      {Schedule(rmMonth, 15), MakeDateTime(2024, 12, 20), "2025-01-15 00:00:00"},
      {Schedule(rmMonth, 31), MakeDateTime(2023, 2, 10), "2023-02-28 00:00:00"},
      {Schedule(rmMonth, 31), MakeDateTime(2024, 2, 29, 1), "2024-03-31 00:00:00"},
      {Schedule(rmMonth, 30), MakeDateTime(2024, 1, 31, 1), "2024-02-29 00:00:00"},
      // Year on a day of the year; day 366 in a common year is 31 December.
      {Schedule(rmYear, 1), MakeDateTime(2024, 12, 31, 23, 59), "2025-01-01 00:00:00"},
      {Schedule(rmYear, 60), MakeDateTime(2024, 1, 10), "2024-02-29 00:00:00"},
      {Schedule(rmYear, 60, 60), MakeDateTime(2024, 2, 29, 0, 0, 30), "2024-02-29 00:01:00"},
      {Schedule(rmYear, 60), MakeDateTime(2024, 2, 29, 0, 0, 30), "2025-03-01 00:00:00"},
      {Schedule(rmYear, 366), MakeDateTime(2023, 6, 1), "2023-12-31 00:00:00"},
      // Never, unknown modes and impossible values: no reset before 2100.
      {Schedule(rmNever), MakeDateTime(2024, 3, 14), "2100-01-01 00:00:00"},
      {Schedule(6), MakeDateTime(2024, 3, 14), "2100-01-01 00:00:00"},
      {Schedule(rmWeek, 0), MakeDateTime(2024, 3, 14), "2100-01-01 00:00:00"},
      {Schedule(rmMonth, 40), MakeDateTime(2024, 3, 14), "2100-01-01 00:00:00"},
      {Schedule(rmDay, 1, 90000), MakeDateTime(2024, 3, 14), "2100-01-01 00:00:00"},
      {kDefaultDailyReset, 1e12, "2100-01-01 00:00:00"},
  };
  for (const FCase& c : cases)
    EXPECT_EQ(Text(NextResetTime(c.schedule, c.after)), c.expected)
        << "schedule " << c.schedule << " after " << Text(c.after);
}

TEST(ResetSchedule, PackedFieldsRoundTrip) {
  FResetSchedule s = UnpackSchedule(PackSchedule({rmYear, 366, 86399}));
  EXPECT_EQ(s.mode, rmYear);
  EXPECT_EQ(s.day, 366u);
  EXPECT_EQ(s.seconds, 86399u);
  EXPECT_EQ(UnpackSchedule(12).mode, rmMonth);
  EXPECT_EQ(UnpackSchedule(12).day, 1u);
}
