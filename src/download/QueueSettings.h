#pragma once
// The configuration values the queue works by, copied from the configuration on the
// user-interface thread. Connection threads read this copy under the queue's list lock and
// never the configuration object, which the options dialog changes without a lock.
#include <cstdint>

namespace zev {

class TConfig;

struct FQueueSettings {
  int32_t sameGroupScore = 1;             // "SameGroupScore"
  bool queuedOrder = false;               // same-score download order "queued" (else "expiration")
  bool noFreeSpaceCheck = false;          // "Disable checking for free disk space..."
  bool lowerPriorityWhenOffline = false;  // "Allow downloading from lower priority servers..."
  uint64_t reserveBytes = 10240ull * 1024;  // "ReserveSpace" in bytes
};

FQueueSettings QueueSettingsFrom(const TConfig& config);

}  // namespace zev
