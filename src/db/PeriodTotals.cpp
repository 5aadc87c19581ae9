#include "db/PeriodTotals.h"

#include "db/ResetSchedule.h"

namespace zev {

namespace {
constexpr TDateTime kResetMargin = 5.0 / (24 * 60);
}

uint64_t TPeriodTotals::Headers() const {
  uint64_t total = Total.load(), bodies = Bodies.load();
  return total > bodies ? total - bodies : 0;
}

void TPeriodTotals::ResetNow(TDateTime now) {
  Total = 0;
  Bodies = 0;
  LastReset = now + kResetMargin;
  ComputeNextReset();
}

void TPeriodTotals::ComputeNextReset() { NextReset = NextResetTime(Reset.load(), LastReset.load()); }

}  // namespace zev
