#include "download/QueueBackoff.h"

#include <algorithm>

namespace zev {

bool TQueueBackoff::Tracked(const TQueueItem* item) { return item->hasBackoff_; }

void TQueueBackoff::SetTracked(TQueueItem* item, bool tracked) { item->hasBackoff_ = tracked; }

int TQueueBackoff::Refused(TQueueItem* item, TNodeId server, int64_t nowMs) {
  FEntry& e = entries_[item];
  ++e.refusals;
  const int doublings = std::min(e.refusals - 1, 16);
  const int64_t wait = std::min(kFirstWaitMs << doublings, kLongestWaitMs);
  e.server = server;
  e.untilMs = nowMs + wait;
  SetTracked(item, true);
  return e.refusals;
}

bool TQueueBackoff::Blocks(const TQueueItem* item, TNodeId server, int64_t nowMs) const {
  if (!Tracked(item)) return false;
  auto it = entries_.find(item);
  return it != entries_.end() && it->second.server == server && nowMs < it->second.untilMs;
}

void TQueueBackoff::Forget(TQueueItem* item) {
  if (!Tracked(item)) return;
  entries_.erase(item);
  SetTracked(item, false);
}

}  // namespace zev
