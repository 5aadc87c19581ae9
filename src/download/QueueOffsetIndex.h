#pragma once
// The queue's index of body items by article offset: whether an article is queued, and
// which items download it, without scanning the list. Several items may share an offset
// (a queue file can hold the same article twice); they are chained through the items.
//
// An open-addressing table of (offset, item) pairs, eight bytes a slot and at most half
// full: a queue of a hundred thousand articles must stay small.
#include <cstdint>
#include <vector>

#include "download/QueueItem.h"
#include "download/QueueItemPool.h"

namespace zev {

class TQueueOffsetIndex {
 public:
  explicit TQueueOffsetIndex(const TQueueItemPool& pool) : pool_(pool) {}

  void Add(TQueueItem* item);
  void Remove(TQueueItem* item);
  // The first item of the chain of `offset`, or nullptr.
  TQueueItem* First(TArticleOffset offset) const;
  TQueueItem* Next(const TQueueItem* item) const {
    return item->nextSameOffset_ ? pool_.At(item->nextSameOffset_ - 1) : nullptr;
  }
  bool Contains(TArticleOffset offset) const { return Find(offset) != kNone; }
  size_t Size() const { return count_; }

  template <typename Fn>
  void ForEach(TArticleOffset offset, Fn fn) const {
    // The callback may remove the item it is given.
    for (TQueueItem* item = First(offset); item;) {
      TQueueItem* next = Next(item);
      fn(item);
      item = next;
    }
  }

 private:
  struct FSlot {
    TArticleOffset offset = 0;  // 0: empty (offsets up to 16 are never articles)
    uint32_t item = 0;          // pool index of the chain's first item
  };
  static constexpr size_t kNone = SIZE_MAX;

  size_t Home(TArticleOffset offset) const { return (offset * 0x9E3779B1u) & (slots_.size() - 1); }
  size_t Find(TArticleOffset offset) const;
  void Grow();
  void Insert(FSlot slot);
  void EraseSlot(size_t at);
  static uint32_t Link(const TQueueItem* item) { return item->poolIndex_ + 1; }

  const TQueueItemPool& pool_;
  std::vector<FSlot> slots_;
  size_t count_ = 0;
};

}  // namespace zev
