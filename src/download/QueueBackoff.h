#pragma once
// Refusals remembered per item, so that a command a server refuses is not handed straight
// back to the same server in a tight loop. After a refusal the item waits on that server
// for a back-off that doubles with every refusal (other servers may take it at once); the
// queue drops header work after kMaxHeaderRefusals refusals.
//
// Used under the queue's list lock; times are milliseconds of the queue's clock.
#include <cstdint>
#include <unordered_map>

#include "download/QueueItem.h"

namespace zev {

class TQueueBackoff {
 public:
  static constexpr int kMaxHeaderRefusals = 5;
  static constexpr int64_t kFirstWaitMs = 15'000;
  static constexpr int64_t kLongestWaitMs = 15 * 60'000;

  // Records that `server` refused the item; returns how many refusals the item has had.
  int Refused(TQueueItem* item, TNodeId server, int64_t nowMs);
  // Whether the item must still wait before `server` may take it.
  bool Blocks(const TQueueItem* item, TNodeId server, int64_t nowMs) const;
  void Forget(TQueueItem* item);
  size_t Size() const { return entries_.size(); }

 private:
  struct FEntry {
    TNodeId server = 0;
    int64_t untilMs = 0;
    int refusals = 0;
  };
  static bool Tracked(const TQueueItem* item);
  static void SetTracked(TQueueItem* item, bool tracked);

  std::unordered_map<const TQueueItem*, FEntry> entries_;
};

}  // namespace zev
