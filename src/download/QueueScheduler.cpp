#include "download/QueueScheduler.h"

#include <algorithm>

namespace zev {

namespace {

// A min-heap on (key, seq): the smallest key is the best item.
struct FLater {
  template <typename E>
  bool operator()(const E& a, const E& b) const {
    return a.key != b.key ? a.key > b.key : a.seq > b.seq;
  }
};

const std::vector<uint32_t> kNoBuckets;

}  // namespace

uint64_t TQueueScheduler::KeyOf(const TQueueItem* item) const {
  // A higher score gives a smaller key; within a score, the earlier date.
  const uint64_t scoreRank = static_cast<uint64_t>(127 - item->Score);
  return scoreRank << 32 | (queuedOrder_ ? 0u : item->Data[3]);
}

bool TQueueScheduler::IsCurrent(uint32_t bucket, const FEntry& e, const TQueueItem* item) const {
  return TQueueItemPool::IsLive(item) && item->bucket_ == bucket && item->seq_ == e.seq && item->Handler == 0 &&
         !item->IsHandled() && KeyOf(item) == e.key;
}

uint32_t TQueueScheduler::BucketFor(const FBucketKey& key, const std::vector<TNodeId>& carrierMembers) {
  auto it = numbers_.find(key);
  if (it != numbers_.end()) return it->second;
  const auto number = static_cast<uint32_t>(buckets_.size());
  buckets_.push_back(FBucket{key, {}});
  numbers_.emplace(key, number);
  auto addTo = [&](TNodeId server) {
    if (serverBuckets_.size() <= server) serverBuckets_.resize(server + 1);
    serverBuckets_[server].push_back(number);
  };
  if (key.target)
    addTo(key.target);
  else
    for (TNodeId server : carrierMembers) addTo(server);
  return number;
}

void TQueueScheduler::File(TQueueItem* item, const std::vector<TNodeId>& carrierMembers) {
  if (!item->IsBody() || item->Handler || item->IsHandled()) return;
  const uint32_t number = BucketFor(FBucketKey{item->carriers_, item->Group, item->Target}, carrierMembers);
  const uint64_t key = KeyOf(item);
  // Filed already just like this: a second entry would only be garbage.
  if (item->inHeap_ && item->bucket_ == number && item->filedScore_ == item->Score) return;
  item->bucket_ = number;
  item->filedScore_ = item->Score;
  item->inHeap_ = true;
  auto& heap = buckets_[number].heap;
  heap.push_back(FEntry{key, item->seq_, pool_.IndexOf(item)});
  std::push_heap(heap.begin(), heap.end(), FLater{});
  ++entries_;
}

void TQueueScheduler::PopEntry(uint32_t bucket) {
  auto& heap = buckets_[bucket].heap;
  const FEntry& e = heap.front();
  TQueueItem* item = pool_.At(e.index);
  // When this was the item's latest entry, the item is no longer in any heap.
  if (item->bucket_ == bucket && item->seq_ == e.seq && KeyOf(item) == e.key) item->inHeap_ = false;
  std::pop_heap(heap.begin(), heap.end(), FLater{});
  heap.pop_back();
  --entries_;
}

TQueueItem* TQueueScheduler::Top(uint32_t bucket) {
  auto& heap = buckets_[bucket].heap;
  while (!heap.empty()) {
    const FEntry& e = heap.front();
    TQueueItem* item = pool_.At(e.index);
    if (IsCurrent(bucket, e, item)) return item;
    PopEntry(bucket);
  }
  return nullptr;
}

void TQueueScheduler::Pop(uint32_t bucket) {
  if (!buckets_[bucket].heap.empty()) PopEntry(bucket);
}

void TQueueScheduler::SetAside(uint32_t bucket) {
  auto& heap = buckets_[bucket].heap;
  if (heap.empty()) return;
  // Taken out for a moment only: the item keeps counting as filed.
  setAside_.emplace_back(bucket, heap.front());
  std::pop_heap(heap.begin(), heap.end(), FLater{});
  heap.pop_back();
  --entries_;
}

void TQueueScheduler::RestoreSetAside() {
  for (auto& [bucket, entry] : setAside_) {
    auto& heap = buckets_[bucket].heap;
    heap.push_back(entry);
    std::push_heap(heap.begin(), heap.end(), FLater{});
    ++entries_;
  }
  setAside_.clear();
}

const std::vector<uint32_t>& TQueueScheduler::BucketsOf(TNodeId server) const {
  return server < serverBuckets_.size() ? serverBuckets_[server] : kNoBuckets;
}

void TQueueScheduler::Clear() {
  buckets_.assign(1, FBucket{});
  numbers_.clear();
  serverBuckets_.clear();
  setAside_.clear();
  entries_ = 0;
}

}  // namespace zev
