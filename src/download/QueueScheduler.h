#pragma once
// The scheduler's index of free body items.
//
// A connection must find the best item for its server among a hundred thousand without
// looking at each. What makes an item better (score, the same-group bonus, how suitable the
// server is compared with the others that carry the article, then the article's date or
// the list order) is the same for every item that has the same carrier set, group and
// target. So items are filed in buckets by those three, and each bucket is a heap ordered
// by score and then date (or list order). A connection compares the tops of the buckets it
// may serve; that costs a few heap operations however long the queue is.
//
// Entries are never searched for: an item that changes (handed out, rescored, moved to
// another group, freed) is filed again, and the old entry is recognised as stale and
// dropped when it reaches the top. Rebuild sweeps the leftovers when they pile up.
//
// Used under the queue's list lock.
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

#include "download/QueueItem.h"
#include "download/QueueItemPool.h"

namespace zev {

struct FBucketKey {
  uint32_t carriers = 0;  // TQueueCarrierSets number
  TNodeId group = 0;
  TNodeId target = 0;     // 0: any server that carries the article
  bool operator==(const FBucketKey&) const = default;
};

class TQueueScheduler {
 public:
  explicit TQueueScheduler(const TQueueItemPool& pool) : pool_(pool) {}

  // "Queued" order ranks equal scores by list order; otherwise by article date.
  bool QueuedOrder() const { return queuedOrder_; }
  void SetQueuedOrder(bool queued) { queuedOrder_ = queued; }

  // Files a free body item under its current carriers, group and target. Items with a
  // handler, finished items and other kinds are not filed.
  void File(TQueueItem* item, const std::vector<TNodeId>& carrierMembers);
  // The best item still filed in the bucket, or nullptr; stale entries are dropped.
  TQueueItem* Top(uint32_t bucket);
  // Removes the top entry (after Top returned it).
  void Pop(uint32_t bucket);
  // Takes the top entry out for the rest of one selection (the item is not eligible for
  // this connection now); RestoreSetAside puts every such entry back.
  void SetAside(uint32_t bucket);
  void RestoreSetAside();

  // The buckets a server may take items from: those whose carriers include it and that
  // are not targeted elsewhere, and those targeted at it.
  const std::vector<uint32_t>& BucketsOf(TNodeId server) const;
  const FBucketKey& Key(uint32_t bucket) const { return buckets_[bucket].key; }
  // The items filed in a bucket, in no particular order, while `fn` returns true.
  template <typename Fn>
  void ForEachFiled(uint32_t bucket, Fn fn) const {
    for (const FEntry& e : buckets_[bucket].heap) {
      TQueueItem* item = pool_.At(e.index);
      if (IsCurrent(bucket, e, item) && !fn(item)) return;
    }
  }

  // Drops every bucket and files the given items anew.
  template <typename TItems, typename TMembers>
  void Rebuild(const TItems& items, TMembers membersOf) {
    Clear();
    for (TQueueItem* item : items) {
      if (!item) continue;
      item->inHeap_ = false;
      File(item, membersOf(item->carriers_));
    }
  }
  // Whether stale entries have piled up enough to rebuild.
  bool Cluttered(size_t liveItems) const { return entries_ > 2 * liveItems + 4096; }
  void Clear();
  size_t EntryCount() const { return entries_; }
  size_t BucketCount() const { return buckets_.size() - 1; }

 private:
  struct FEntry {
    uint64_t key;
    uint32_t seq;
    uint32_t index;
  };
  struct FBucket {
    FBucketKey key;
    std::vector<FEntry> heap;
  };
  struct FKeyHash {
    size_t operator()(const FBucketKey& k) const {
      return (size_t{k.carriers} * 0x9E3779B97F4A7C15ull) ^ (size_t{k.group} << 20) ^ k.target;
    }
  };

  uint64_t KeyOf(const TQueueItem* item) const;
  bool IsCurrent(uint32_t bucket, const FEntry& e, const TQueueItem* item) const;
  uint32_t BucketFor(const FBucketKey& key, const std::vector<TNodeId>& carrierMembers);
  void PopEntry(uint32_t bucket);

  const TQueueItemPool& pool_;
  bool queuedOrder_ = false;
  std::vector<FBucket> buckets_{FBucket{}};  // bucket 0 is none
  std::unordered_map<FBucketKey, uint32_t, FKeyHash> numbers_;
  std::vector<std::vector<uint32_t>> serverBuckets_;
  std::vector<std::pair<uint32_t, FEntry>> setAside_;
  size_t entries_ = 0;
};

}  // namespace zev
