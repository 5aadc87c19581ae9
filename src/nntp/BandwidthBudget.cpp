#include "nntp/BandwidthBudget.h"

#include <algorithm>

#include "db/RateMeter.h"
#include "db/Server.h"

namespace zev {

int64_t NodeBudget(const FBudgetInput& in) {
  // 64-bit throughout: with a few gigabytes received, the 32-bit sums of the old formula
  // wrapped and let a limited server run free or stop dead.
  const int64_t rate = static_cast<int64_t>(in.bandwidthKBps) * 1024;
  const int64_t sinceSample = static_cast<int64_t>(in.received - std::min(in.received, in.newestSample));
  const int64_t halfSecond = in.busyCount >= 1 ? rate / 2 / in.busyCount : rate / 2;
  const int64_t a = halfSecond - sinceSample;
  const int64_t window = static_cast<int64_t>(in.newestSample - std::min(in.newestSample, in.oldestSample));
  int64_t c = rate * 15 - window;
  if (in.activeSeconds >= 30) c += (rate - static_cast<int64_t>(in.received) / in.activeSeconds) / 2;
  return std::max<int64_t>(0, a + c);
}

int64_t BandwidthBudget(const TServer& slot) {
  if (slot.IsSlot() && slot.Rate.ReceivedTotal() == slot.Rate.NewestSample()) return 128;
  const int64_t now = TickCountMs();
  for (const TServer* node = slot.IsSlot() ? slot.Parent() : &slot; node; node = node->Parent()) {
    if (!node->Has(sfBandwidth)) continue;
    FBudgetInput in;
    in.bandwidthKBps = node->Bandwidth;
    in.received = node->Rate.ReceivedTotal();
    in.newestSample = node->Rate.NewestSample();
    in.oldestSample = node->Rate.OldestSample();
    in.busyCount = node->BusyCount;
    in.activeSeconds = node->Rate.ActiveTime(now) / 1000;
    return NodeBudget(in);
  }
  return kUnlimitedBudget;
}

}  // namespace zev
