#include "download/QueueItemPool.h"

#include <cstdint>
#include <functional>

namespace zev {

TQueueItem* TQueueItemPool::Allocate() {
  if (free_.empty()) {
    const uint32_t base = static_cast<uint32_t>(slabs_.size()) * kSlabSize;
    slabs_.push_back(std::make_unique<TQueueItem[]>(kSlabSize));
    free_.reserve(free_.size() + kSlabSize);
    // Hand out the lower slots first, so a fresh queue fills its first slab in order.
    for (uint32_t i = kSlabSize; i-- > 0;) free_.push_back(base + i);
  }
  const uint32_t index = free_.back();
  free_.pop_back();
  TQueueItem* item = At(index);
  *item = TQueueItem();
  item->poolIndex_ = index;
  item->live_ = true;
  ++live_;
  return item;
}

void TQueueItemPool::Free(TQueueItem* item) {
  if (!item || !item->live_) return;
  item->live_ = false;
  item->seq_ = 0;
  item->bucket_ = 0;
  item->nextSameOffset_ = 0;
  free_.push_back(item->poolIndex_);
  --live_;
}

bool TQueueItemPool::Owns(const TQueueItem* item) const {
  std::less<const TQueueItem*> before;
  for (const auto& slab : slabs_) {
    const TQueueItem* first = slab.get();
    if (before(item, first) || !before(item, first + kSlabSize)) continue;
    const auto distance = reinterpret_cast<uintptr_t>(item) - reinterpret_cast<uintptr_t>(first);
    return distance % sizeof(TQueueItem) == 0;
  }
  return false;
}

}  // namespace zev
