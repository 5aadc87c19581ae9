#include "nntp/ServerDate.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "../db/ModelTestUtil.h"

using namespace zev;
using zev::test::MakeDateTime;

namespace {

// Central European time without tzdata: one hour east of UTC in winter, two in summer.
class TZoneScope {
 public:
  explicit TZoneScope(const char* tz) {
    if (const char* old = std::getenv("TZ")) old_ = old, hadOld_ = true;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~TZoneScope() {
    if (hadOld_) setenv("TZ", old_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }

 private:
  std::string old_;
  bool hadOld_ = false;
};

constexpr const char* kBerlin = "CET-1CEST,M3.5.0,M10.5.0/3";

}  // namespace

TEST(ServerDate, DateAnswerIsUtcAndBecomesLocalTime) {
  TZoneScope zone(kBerlin);
  TDateTime t = 0;
  ASSERT_TRUE(ParseServerDate("111 20240229235959", t));
  EXPECT_DOUBLE_EQ(t, MakeDateTime(2024, 3, 1, 0, 59, 59));
  ASSERT_TRUE(ParseServerDate("111 20240701120000 server time", t));
  EXPECT_DOUBLE_EQ(t, MakeDateTime(2024, 7, 1, 14, 0, 0));
}

TEST(ServerDate, GarbledDateAnswersAreRejected) {
  for (const char* line : {"111", "111 2024022923595", "111 2024022923595x", "111 20240230120000",
                           "111 20240229246000", "112 20240229235959", "111 202402292359599", "111  20240229235959"}) {
    TDateTime t = 42;
    EXPECT_FALSE(ParseServerDate(line, t)) << line;
    EXPECT_EQ(t, 42) << line;
  }
}

TEST(ServerDate, NewgroupsTimeIsSentAsGmt) {
  TZoneScope zone(kBerlin);
  const TDateTime local = MakeDateTime(2024, 1, 2, 0, 30, 5);
  EXPECT_EQ(NewgroupsTime(local, true), "20240101 233005 GMT");
  EXPECT_EQ(NewgroupsTime(local, false), "240101 233005 GMT");
}
