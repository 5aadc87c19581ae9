#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <cstdint>
#include <string>

#include "core/DateTime.h"
#include "core/HeaderDate.h"

using namespace zev;

namespace {

// Runs the body under a time zone and restores the previous one.
class TZoneScope {
 public:
  explicit TZoneScope(const char* tz) {
    if (const char* old = getenv("TZ")) old_ = old, hadOld_ = true;
    setenv("TZ", tz, 1);
    ReloadLocalZone();
  }
  ~TZoneScope() {
    if (hadOld_) setenv("TZ", old_.c_str(), 1);
    else unsetenv("TZ");
    ReloadLocalZone();
  }

 private:
  std::string old_;
  bool hadOld_ = false;
};

// The local date-time of a UTC moment given by its parts.
TDateTime LocalOfUtc(int y, int mo, int d, int h, int mi, int s) {
  TDateTime date = 0, time = 0;
  EXPECT_TRUE(TryEncodeDate(y, mo, d, date));
  EXPECT_TRUE(TryEncodeTime(h, mi, s, time));
  return LocalDateTimeFromUnix(UnixFromUtcDateTime(date + time));
}

bool IsNow(TDateTime t) { return std::abs(t - NowLocal()) < 5.0 / 86400; }

struct FDateCase {
  const char* text;
  int y, mo, d, h, mi, s;  // the UTC moment; y == 0 means "the current time"
};

const FDateCase kDateCases[] = {
    {"Mon, 05 Feb 2001 12:34:56 +0100\t", 2001, 2, 5, 11, 34, 56},
    {"Mon, 05 Feb 2001 12:34:56 +0100", 2001, 2, 5, 12, 34, 56},  // no tab: the zone is not taken
    {"5 Feb 01 12:00 GMT\t", 2001, 2, 5, 0, 0, 0},                  // no seconds: midnight
    {"Thu, 1 Jan 99 10:00:00 GMT\r", 1999, 1, 1, 10, 0, 0},
    {"1 Jan 101 10:00:00 GMT\t", 2001, 1, 1, 10, 0, 0},
    {"1 Jan 1999 10:00:00 UTC\t", 1999, 1, 1, 10, 0, 0},
    {"Sun, 2 Jul 2023 22:15:00 -0800 (PST)\r", 2023, 7, 3, 6, 15, 0},  // numeric zone dropped, PST taken
    {"Sun, 2 Jul 2023 22:15:00 -0730\t", 2023, 7, 3, 5, 45, 0},
    {"Sun, 2 Jul 2023 22:15:00 +2500\t", 2023, 7, 2, 22, 15, 0},       // no valid zone: UTC
    {"Sun, 2 Jul 2023 22:15:00 CEST\t", 2023, 7, 2, 20, 15, 0},
    {"Sun, 2 Jul 2023 22:15:00 AEST\t", 2023, 7, 2, 12, 15, 0},
    {"Sun, 2 Jul 2023 22:15:00 XYZT\t", 2023, 7, 2, 22, 15, 0},        // unknown name: UTC
    {"Tue,  6 Feb 2001 08:00:00 GMT\t", 2001, 2, 6, 8, 0, 0},          // padded day
    {"Sat 05 Feb 2001 12:00:00 GMT\t", 2001, 2, 5, 12, 0, 0},          // weekday without comma
    {"2 JUL 2023 22:15:00 gmt\t", 2023, 7, 2, 22, 15, 0},
    {"(none)", 0, 0, 0, 0, 0, 0},
    {"", 0, 0, 0, 0, 0, 0},
    {"garbage\t", 0, 0, 0, 0, 0, 0},
    {"31 Feb 2001 10:00:00\t", 0, 0, 0, 0, 0, 0},
    {"99999999999:::::+-+-,,,\t", 0, 0, 0, 0, 0, 0},
};

void CheckDates() {
  for (const FDateCase& c : kDateCases) {
    TDateTime t = ParseHeaderDate(c.text);
    if (c.y == 0) {
      EXPECT_TRUE(IsNow(t)) << c.text;
    } else {
      EXPECT_NEAR(t, LocalOfUtc(c.y, c.mo, c.d, c.h, c.mi, c.s), 0.5 / 86400) << c.text;
    }
  }
}

}  // namespace

TEST(HeaderDate, UnderUtc) {
  TZoneScope tz("UTC");
  CheckDates();
  TDateTime t = ParseHeaderDate("Mon, 05 Feb 2001 12:34:56 +0100\t");
  FDateParts p = DecodeDateTime(t);
  EXPECT_EQ(p.hour, 11);
  EXPECT_EQ(p.minute, 34);
}

TEST(HeaderDate, UnderBerlinEachDateGetsItsOwnDaylightSavingOffset) {
  TZoneScope tz("Europe/Berlin");
  CheckDates();
  FDateParts winter = DecodeDateTime(ParseHeaderDate("Mon, 05 Feb 2001 12:00:00 GMT\t"));
  FDateParts summer = DecodeDateTime(ParseHeaderDate("Sun, 01 Jul 2001 12:00:00 GMT\t"));
  EXPECT_EQ(winter.hour, 13);
  EXPECT_EQ(summer.hour, 14);
}

// Converts every second from `first` to `last` with `step` both ways and reports the
// first difference.
void ExpectCachedMatchesDirect(int64_t first, int64_t last, int64_t step, const char* zone) {
  for (int64_t t = first; step > 0 ? t <= last : t >= last; t += step) {
    if (CachedLocalDateTimeFromUnix(t) != LocalDateTimeFromUnix(t)) {
      ADD_FAILURE() << zone << ": cached and direct local times differ at " << t;
      return;
    }
  }
}

int64_t OffsetAt(int64_t t) {
  time_t v = static_cast<time_t>(t);
  tm parts{};
  localtime_r(&v, &parts);
  return parts.tm_gmtoff;
}

// Zone changes of both hemispheres, a half-hour change, and historic ones off the quarter
// hours (Amsterdam's 1937 offsets are not even whole minutes).
TEST(HeaderDate, CachedLocalTimesEqualDirectOnesAcrossZoneChanges) {
  struct FZoneYear {
    const char* zone;
    int year;
  } const cases[] = {{"Europe/Berlin", 2024},       {"America/New_York", 2024}, {"Australia/Lord_Howe", 2024},
                     {"Africa/Monrovia", 1972},     {"Europe/Amsterdam", 1937}, {"UTC", 2024},
                     {"Europe/Berlin", 2024}};
  const int64_t sameMoment = 1719835200;  // 2024-07-01 12:00 UTC, met under every zone in turn
  for (const FZoneYear& c : cases) {
    TZoneScope tz(c.zone);
    ExpectCachedMatchesDirect(sameMoment - 7200, sameMoment + 7200, 1, c.zone);
    TDateTime start = 0;
    ASSERT_TRUE(TryEncodeDate(c.year, 1, 1, start));
    const int64_t from = UnixFromUtcDateTime(start), to = from + 366 * 86400;
    int changes = 0;
    for (int64_t hour = from; hour < to; hour += 3600) {
      if (OffsetAt(hour) == OffsetAt(hour + 3600)) continue;
      ++changes;
      ExpectCachedMatchesDirect(hour - 3600, hour + 7200, 1, c.zone);
      ExpectCachedMatchesDirect(hour + 7200, hour - 3600, -37, c.zone);
    }
    if (std::string(c.zone) != "UTC") {
      EXPECT_GT(changes, 0) << c.zone << " " << c.year;
    }
    ExpectCachedMatchesDirect(from, to, 86400 * 3 + 1234, c.zone);  // slots evicted in turn
    ExpectCachedMatchesDirect(sameMoment - 7200, sameMoment + 7200, 60, c.zone);  // left for the next zone
  }
}

TEST(HeaderDate, MonthNamesAndZones) {
  struct Case {
    const char* word;
    int month;
  } months[] = {{"jan", 1}, {"feb", 2}, {"mar", 3}, {"apr", 4}, {"may", 5}, {"jun", 6}, {"jul", 7}, {"aug", 8},
                {"sep", 9}, {"oct", 10}, {"nov", 11}, {"dec", 12}, {"xyz", 0}, {"", 0}, {"j", 7}};
  for (const Case& c : months) EXPECT_EQ(MonthFromName(c.word), c.month) << c.word;
  EXPECT_DOUBLE_EQ(ZoneOffset("pst)"), -8.0 / 24);
  EXPECT_DOUBLE_EQ(ZoneOffset("utc"), 0);
  EXPECT_DOUBLE_EQ(ZoneOffset("acst"), 9.5 / 24);
  EXPECT_DOUBLE_EQ(ZoneOffset("mesz"), 2.0 / 24);
}

TEST(DateTime, PackedFileDatesAndClock) {
  TDateTime d = 0, t = 0;
  ASSERT_TRUE(TryEncodeDate(2001, 2, 5, d));
  ASSERT_TRUE(TryEncodeTime(12, 34, 56, t));
  uint32_t packed = PackFileDate(d + t);
  EXPECT_EQ(packed, (21u << 25) | (2u << 21) | (5u << 16) | (12u << 11) | (34u << 5) | 28u);
  EXPECT_NEAR(UnpackFileDate(packed), d + t, 0.5 / 86400);
  ASSERT_TRUE(TryEncodeDate(1979, 12, 31, d));
  EXPECT_EQ(PackFileDate(d), 0u);
  ASSERT_TRUE(TryEncodeDate(2108, 1, 1, d));
  EXPECT_EQ(PackFileDate(d), 0u);
  EXPECT_EQ(UnpackFileDate(0), 0);
  EXPECT_EQ(UnpackFileDate(15u << 21), 0) << "month 15";
  ASSERT_TRUE(TryEncodeDate(1970, 1, 1, d));
  EXPECT_EQ(d, kUnixEpoch);
  EXPECT_FALSE(TryEncodeDate(2001, 2, 29, d));
  EXPECT_EQ(UnixFromUtcDateTime(UtcDateTimeFromUnix(1700000000)), 1700000000);
  TZoneScope tz("Europe/Berlin");
  EXPECT_EQ(UnixFromLocalDateTime(LocalDateTimeFromUnix(1700000000)), 1700000000);
}
