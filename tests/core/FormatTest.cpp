#include "core/Format.h"

#include <gtest/gtest.h>

#include "core/Busy.h"
#include "core/DateTime.h"

using namespace zev;

TEST(Format, SizeKB) {
  struct Case {
    uint64_t kb;
    const char* text;
  } cases[] = {{0, "0 kB"},          {950, "950 kB"},          {951, "0,93 MB"},         {10239, "10,00 MB"},
               {10240, "10,0 MB"},   {102399, "100,0 MB"},     {102400, "100 MB"},       {972800, "950 MB"},
               {972801, "0,93 GB"},  {10485760, "10,0 GB"},    {104857599, "100,0 GB"},  {104857600, "100 GB"},
               {4294967295u, "4095 GB"}};
  for (const Case& c : cases) {
    if (c.kb <= 0xFFFFFFFFu) {
      EXPECT_EQ(FormatSizeKB(static_cast<uint32_t>(c.kb), ','), c.text) << c.kb;
    }
    EXPECT_EQ(FormatSizeKB(c.kb, ','), c.text) << c.kb;
  }
  EXPECT_EQ(FormatSizeKB(uint64_t{1} << 40, '.'), "1048576 GB");
  EXPECT_EQ(FormatSizeKB(uint32_t{951}, '.'), "0.93 MB");
}

TEST(Format, Thousands) {
  EXPECT_EQ(FormatThousands(int64_t{0}, ","), "0");
  EXPECT_EQ(FormatThousands(int64_t{999}, ","), "999");
  EXPECT_EQ(FormatThousands(int64_t{1000}, ","), "1,000");
  EXPECT_EQ(FormatThousands(int64_t{-123456}, "."), "-123.456");
  EXPECT_EQ(FormatThousands(INT64_MIN, ","), "-9,223,372,036,854,775,808");
  EXPECT_EQ(FormatThousands(UINT64_MAX, "\u202f"), "18\u202f446\u202f744\u202f073\u202f709\u202f551\u202f615");
}

TEST(Format, TimeSpan) {
  struct Case {
    int64_t seconds;
    const char* text;
  } cases[] = {{0, "<1 min"},        {30, "<1 min"},          {60, "1 min"},          {90, "1 min"},
               {120, "2 mins"},      {3600, "1 hour "},       {3630, "1 hour "},      {3725, "1 hour 2 mins"},
               {7199, "1 hour 59 mins"}, {7200, "2 hours "},  {172799, "47 hours 59 mins"},
               {172800, ">2 days"},  {-3725, "1 hour 2 mins"}, {INT64_MIN, "err!"}};
  for (const Case& c : cases) EXPECT_EQ(FormatTimeSpan(c.seconds), c.text) << c.seconds;
}

TEST(Format, TimeAgoAndUntil) {
  TDateTime now = 0;
  ASSERT_TRUE(TryEncodeDate(2024, 3, 10, now));
  now += 12.0 / 24;
  EXPECT_EQ(TimeSinceFileDate(0, now), "");
  EXPECT_EQ(TimeSinceFileDate(PackFileDate(now - 2.0 / 24), now), "2 hours  ago");
  EXPECT_EQ(TimeSinceDateTime(now - 90.0 / 86400, now), "1 min ago");
  EXPECT_EQ(TimeSinceDateTime(now - 101, now), "");
  EXPECT_EQ(TimeUntilText(true, 5, now - 0.5 / 24, now), "In 30 mins") << "1 h interval, refreshed 30 min ago";
  EXPECT_EQ(TimeUntilText(true, 6, now - 1.0 / 24, now), "now");
  EXPECT_EQ(TimeUntilText(true, 1, 0, now), "now") << "never refreshed counts as one interval ago";
  EXPECT_EQ(TimeUntilText(false, 1, now, now), "");
  EXPECT_EQ(TimeUntilText(true, 7, now, now), "");
}

TEST(Format, XmlAndIoErrors) {
  EXPECT_EQ(XmlEscape("a\"b&c<d>e'f"), "a&#34;b&amp;c&lt;d&gt;e'f");
  EXPECT_EQ(IoErrorText(101), "Disk full");
  EXPECT_EQ(IoErrorText(7), "I/O Error 7");
}

TEST(Busy, NestsAndNeverGoesBelowZero) {
  std::vector<bool> calls;
  SetBusyCursorHook([&](bool busy) { calls.push_back(busy); });
  EndBusy();
  BeginBusy();
  {
    TBusyScope inner;
    EXPECT_EQ(BusyDepth(), 2);
  }
  EndBusy();
  EndBusy();
  EXPECT_EQ(BusyDepth(), 0);
  EXPECT_EQ(calls, (std::vector<bool>{true, false}));
  SetBusyCursorHook(nullptr);
}
