#pragma once
// Storage of the queue's items. Items live in fixed slabs that are never moved or returned
// while the queue exists, so the item a connection holds as its current item stays valid
// memory even after the queue has retired it: the queue checks such a pointer (Owns, then
// IsLive) instead of trusting it. Freed slots are reused.
#include <cstdint>
#include <memory>
#include <vector>

#include "download/QueueItem.h"

namespace zev {

class TQueueItemPool {
 public:
  TQueueItemPool() = default;
  TQueueItemPool(const TQueueItemPool&) = delete;
  TQueueItemPool& operator=(const TQueueItemPool&) = delete;

  // A zeroed live item.
  TQueueItem* Allocate();
  void Free(TQueueItem* item);

  TQueueItem* At(uint32_t index) const { return &slabs_[index >> kSlabShift][index & kSlabMask]; }
  uint32_t IndexOf(const TQueueItem* item) const { return item->poolIndex_; }
  // Whether the pointer is one of this pool's slots (live or not).
  bool Owns(const TQueueItem* item) const;
  static bool IsLive(const TQueueItem* item) { return item->live_; }
  size_t LiveCount() const { return live_; }
  size_t BytesReserved() const { return slabs_.size() * kSlabSize * sizeof(TQueueItem); }

 private:
  static constexpr uint32_t kSlabShift = 12;
  static constexpr uint32_t kSlabSize = 1u << kSlabShift;
  static constexpr uint32_t kSlabMask = kSlabSize - 1;

  std::vector<std::unique_ptr<TQueueItem[]>> slabs_;
  std::vector<uint32_t> free_;
  size_t live_ = 0;
};

}  // namespace zev
