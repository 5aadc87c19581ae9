#pragma once
// How many bytes a connection may read now under the bandwidth limits of its server and
// the folders above it. Each limited node allows half a second's worth of its rate
// (shared among its busy connections) beyond what arrived since the last half-second
// sample, plus what it is behind its 15-second allowance; after 30 active seconds the
// long-run average steers too.
#include <cstdint>

namespace zev {

class TServer;

// What a limited node knows of its own traffic.
struct FBudgetInput {
  uint32_t bandwidthKBps = 0;  // the limit
  uint64_t received = 0;       // bytes received in total
  uint64_t newestSample = 0;   // the received total at the last half-second sample
  uint64_t oldestSample = 0;   // ... fifteen seconds earlier
  uint32_t busyCount = 0;      // busy connections below the node
  int64_t activeSeconds = 0;   // seconds during which anything below it was transferring
};

// The budget of one limited node; never negative.
int64_t NodeBudget(const FBudgetInput& in);

// The budget of a connection slot: a fresh slot (nothing received since the last sample)
// starts with 128 bytes; otherwise the first limited node on the way up decides, and
// without any limit the budget is unlimited (kUnlimitedBudget).
constexpr int64_t kUnlimitedBudget = 9999999;
int64_t BandwidthBudget(const TServer& slot);

}  // namespace zev
