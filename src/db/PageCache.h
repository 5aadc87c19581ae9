#pragma once
// The page cache of one tree file: a pool of page buffers with least-recently-used
// replacement. The root (24576 bytes at 0) and the first data page (0x6000) stay resident.
//
// Changed pages never go to their place in the file directly: a dirty page that must leave
// the pool is appended to the journal, and a Checkpoint first commits every changed page to
// the journal and only then writes them in place. That keeps the file at its last
// checkpoint whatever happens to the process. The tree calls Checkpoint only between
// operations, so the pages written always form a consistent tree.
//
// Thread safety: Get/unpin may run on several reader threads at once (one mutex guards
// the pool). Changing page contents, Fresh and Checkpoint need the tree's exclusive lock.
// While its holder says so (SetExclusive), no other thread can be in the pool, and the
// pool's own mutex is left alone: a writer visits a dozen pages for every record.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "db/FileHandle.h"
#include "db/Journal.h"
#include "db/PageBlocks.h"

namespace zev {

class TPageCache;

// Steps of a checkpoint. Crash tests install a hook that ends the process at one of them.
enum class TCheckpointStep { Began, NewPageInPlace, JournalWritten, Committed, PageInPlace, InPlaceSynced };
using TCheckpointHook = void (*)(TCheckpointStep step);
extern TCheckpointHook gCheckpointHook;

struct TPageBuffer {
  uint32_t position = UINT32_MAX;  // UINT32_MAX: holds no page
  uint32_t size = 0;
  uint8_t* data = nullptr;         // in the cache's blocks
  int pins = 0;
  bool dirty = false;
  bool fixed = false;              // root or first data page: never replaced
  int32_t index = -1;              // place in the pool
  // What the tree found when it first looked at the page since it was read: 0 not looked
  // at, 1 sound, 2 damaged. Pages the tree writes are sound.
  std::atomic<uint8_t> verdict{0};
  int32_t older = -1, newer = -1;  // LRU ring links, valid while inLru
  bool inLru = false;              // a pinned page may stay in the ring until it would be the victim
  uint64_t stamp = 0;              // value of the cache's push counter when it last became newest
};

// A pinned page: it stays in the pool until the reference goes.
class TPageRef {
 public:
  TPageRef() = default;
  TPageRef(TPageCache* cache, TPageBuffer* buffer) : cache_(cache), buffer_(buffer) {}
  ~TPageRef() { Reset(); }
  TPageRef(TPageRef&& o) noexcept : cache_(o.cache_), buffer_(o.buffer_) { o.buffer_ = nullptr; }
  TPageRef& operator=(TPageRef&& o) noexcept;
  TPageRef(const TPageRef&) = delete;
  TPageRef& operator=(const TPageRef&) = delete;

  explicit operator bool() const { return buffer_ != nullptr; }
  uint8_t* Data() const { return buffer_->data; }
  uint32_t Position() const { return buffer_->position; }
  uint32_t Size() const { return buffer_->size; }
  uint8_t Verdict() const { return buffer_->verdict.load(std::memory_order_relaxed); }
  void SetVerdict(uint8_t v) const { buffer_->verdict.store(v, std::memory_order_relaxed); }
  void MarkDirty();
  // Inline for the common empty and fixed cases: every descent destroys many references.
  void Reset() {
    if (buffer_ && !buffer_->fixed) Release();
    buffer_ = nullptr;
  }

 private:
  void Release();

  TPageCache* cache_ = nullptr;
  TPageBuffer* buffer_ = nullptr;
};

class TPageCache {
 public:
  // `journal` is null for a read-only tree; `leftover` then holds the pages of a committed
  // journal that nobody has replayed yet, read through `leftoverFile`.
  TPageCache(const TFileHandle& file, TJournal* journal, size_t capacityPages, uint64_t logicalSize,
             TJournalIndex leftover = {}, const TFileHandle* leftoverFile = nullptr);
  ~TPageCache();

  // The page at `position` (page-aligned, below the logical size), or an empty reference
  // when it cannot be read.
  TPageRef Get(uint32_t position);
  // A zero-filled page for a position just appended to the file; it starts dirty.
  TPageRef Fresh(uint32_t position);
  // The bytes of a page without pinning it, valid until the next call of the cache. Only
  // for a thread that holds the tree exclusively: then nobody else can replace the page.
  const uint8_t* Peek(uint32_t position);

  // Called by the holder of the tree's exclusive lock, on when it has taken the lock and
  // off before it lets it go; every page it pinned meanwhile must be unpinned by then.
  void SetExclusive(bool on) { exclusive_ = on; }

  uint64_t LogicalSize() const { return logicalSize_.load(std::memory_order_acquire); }
  void SetLogicalSize(uint64_t size);
  size_t Capacity() const { return capacity_; }
  // The page memory the pool holds now: every buffer it has made so far, in use or not.
  uint64_t BytesHeld() const;
  uint64_t JournalBytes() const;
  bool HasChanges() const;

  // Commits every changed page to the journal, writes them in place, syncs, empties the
  // journal. Raises on I/O failure; the file then still holds the last checkpoint (or the
  // journal replays the new one on the next open).
  void Checkpoint();
  // True after a checkpoint committed its journal but could not write the pages in place:
  // the tree must not change any more; opening it again completes the checkpoint.
  bool Broken() const { return broken_; }
  // Forgets every change since the last checkpoint (after a failed operation left pages
  // half changed). Needs the exclusive lock and no pinned pages.
  void DiscardChanges();

 private:
  void WriteAppendedPages(std::vector<TPageBuffer*>& appended);
  friend class TPageRef;
  // The pool's mutex, unless the tree's exclusive lock already keeps everybody else out.
  std::unique_lock<std::mutex> LockPool() {
    return exclusive_ ? std::unique_lock<std::mutex>(lock_, std::defer_lock) : std::unique_lock<std::mutex>(lock_);
  }
  void Unpin(TPageBuffer* buffer);
  void MarkDirty(TPageBuffer* buffer);
  int32_t TakeVictim();
  void LruUnlink(int32_t i);
  void LruPushNewest(int32_t i);
  void KeepRecent(int32_t i);
  void Load(TPageBuffer& buffer, uint32_t position);
  bool ReadPage(uint32_t position, uint8_t* data, uint32_t size);
  void MapPage(uint32_t position, int32_t index);

  const TFileHandle& file_;
  TJournal* journal_;
  const TFileHandle* leftoverFile_;
  TJournalIndex journalIndex_;   // pages whose latest bytes are in the journal
  size_t capacity_;
  std::atomic<uint64_t> logicalSize_;
  uint64_t checkpointSize_;       // logical size at the last checkpoint
  uint64_t physicalSize_;
  mutable std::mutex lock_;
  TPageBlocks blocks_;
  std::vector<std::unique_ptr<TPageBuffer>> buffers_;  // 0: root, 1: first data page
  std::vector<int32_t> pageMap_;                       // page number -> buffer index, -1 none
  int32_t newest_ = -1, oldest_ = -1;
  uint64_t pushes_ = 0;  // LRU pushes so far: how far a buffer has aged since its stamp
  bool broken_ = false;
  bool exclusive_ = false;  // written and read only under the tree's lock
};

}  // namespace zev
