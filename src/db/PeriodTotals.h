#pragma once
// One set of byte totals of a server-tree node: the "Today" set or the "Month" set. The
// totals grow on connection threads while the user-interface thread shows, resets and
// saves them, so every field is atomic: with several connections downloading at once
// each received byte is counted exactly once.
#include <atomic>
#include <cstdint>

#include "core/DateTime.h"

namespace zev {

class TPeriodTotals {
 public:
  explicit TPeriodTotals(uint32_t schedule) : Reset(schedule) {}
  TPeriodTotals(const TPeriodTotals&) = delete;
  TPeriodTotals& operator=(const TPeriodTotals&) = delete;

  void AddReceived(uint64_t bytes) { Total.fetch_add(bytes, std::memory_order_relaxed); }
  void AddBodies(uint64_t bytes) { Bodies.fetch_add(bytes, std::memory_order_relaxed); }
  uint64_t Headers() const;  // received bytes that were not article bodies

  // Starts the period again: zero totals, the last reset five minutes from now (so that a
  // reset due at a whole hour is not due again at once), and the next reset from that.
  void ResetNow(TDateTime now);
  // NextReset from Reset and LastReset.
  void ComputeNextReset();
  bool Due(TDateTime now) const { return now > NextReset.load(); }
  bool LimitReached(bool limited) const { return limited && Total.load() >= Limit.load(); }

  std::atomic<uint64_t> Total{0};       // every byte received since the last reset
  std::atomic<uint64_t> Bodies{0};      // of which article bodies
  std::atomic<uint32_t> Reset;          // packed schedule (ResetSchedule.h)
  std::atomic<TDateTime> LastReset{0};
  std::atomic<TDateTime> NextReset{0};  // computed, never stored
  std::atomic<uint64_t> Limit{0};       // bytes; applies with sfDailyLimit / sfMonthlyLimit
};

}  // namespace zev
