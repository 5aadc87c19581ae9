#include "download/QueueOffsetIndex.h"

namespace zev {

size_t TQueueOffsetIndex::Find(TArticleOffset offset) const {
  if (slots_.empty() || offset == 0) return kNone;
  for (size_t at = Home(offset);; at = (at + 1) & (slots_.size() - 1)) {
    if (slots_[at].offset == offset) return at;
    if (slots_[at].offset == 0) return kNone;
  }
}

void TQueueOffsetIndex::Insert(FSlot slot) {
  size_t at = Home(slot.offset);
  while (slots_[at].offset != 0) at = (at + 1) & (slots_.size() - 1);
  slots_[at] = slot;
}

void TQueueOffsetIndex::Grow() {
  std::vector<FSlot> old(slots_.empty() ? 1024 : slots_.size() * 2);
  old.swap(slots_);
  for (const FSlot& s : old)
    if (s.offset) Insert(s);
}

void TQueueOffsetIndex::Add(TQueueItem* item) {
  item->nextSameOffset_ = 0;
  const TArticleOffset offset = item->Data[0];
  if (offset == 0) return;
  const size_t at = Find(offset);
  if (at != kNone) {
    TQueueItem* last = pool_.At(slots_[at].item);
    while (last->nextSameOffset_) last = pool_.At(last->nextSameOffset_ - 1);
    last->nextSameOffset_ = Link(item);
    return;
  }
  if ((count_ + 1) * 2 > slots_.size()) Grow();
  Insert({offset, item->poolIndex_});
  ++count_;
}

void TQueueOffsetIndex::Remove(TQueueItem* item) {
  const size_t at = Find(item->Data[0]);
  if (at == kNone) return;
  TQueueItem* first = pool_.At(slots_[at].item);
  if (first == item) {
    if (item->nextSameOffset_)
      slots_[at].item = item->nextSameOffset_ - 1;
    else
      EraseSlot(at);
  } else {
    TQueueItem* before = first;
    while (before->nextSameOffset_ && before->nextSameOffset_ != Link(item))
      before = pool_.At(before->nextSameOffset_ - 1);
    if (before->nextSameOffset_ == Link(item)) before->nextSameOffset_ = item->nextSameOffset_;
  }
  item->nextSameOffset_ = 0;
}

void TQueueOffsetIndex::EraseSlot(size_t at) {
  // Linear probing without tombstones: later members of the probe run move back into
  // the gap when their home lies at or before it.
  const size_t mask = slots_.size() - 1;
  slots_[at] = FSlot{};
  --count_;
  for (size_t next = (at + 1) & mask; slots_[next].offset != 0; next = (next + 1) & mask) {
    const size_t home = Home(slots_[next].offset);
    const bool movable = at <= next ? (home <= at || home > next) : (home <= at && home > next);
    if (!movable) continue;
    slots_[at] = slots_[next];
    slots_[next] = FSlot{};
    at = next;
  }
}

TQueueItem* TQueueOffsetIndex::First(TArticleOffset offset) const {
  const size_t at = Find(offset);
  return at == kNone ? nullptr : pool_.At(slots_[at].item);
}

}  // namespace zev
