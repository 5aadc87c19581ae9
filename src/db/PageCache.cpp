#include "db/PageCache.h"

#include <algorithm>
#include <cstring>

#include "core/Error.h"
#include "core/Intl.h"
#include "core/TextUtil.h"
#include "core/Log.h"
#include "db/BTreeFormat.h"

namespace zev {

TCheckpointHook gCheckpointHook = nullptr;

namespace {
// From this many pages on, a cache takes its buffers in blocks of a huge page.
constexpr size_t kLargeCache = 1024;

void Reached(TCheckpointStep step) {
  if (gCheckpointHook) gCheckpointHook(step);
}
}  // namespace

TPageRef& TPageRef::operator=(TPageRef&& o) noexcept {
  if (this != &o) {
    Reset();
    cache_ = o.cache_;
    buffer_ = o.buffer_;
    o.buffer_ = nullptr;
  }
  return *this;
}

void TPageRef::Release() { cache_->Unpin(buffer_); }

void TPageRef::MarkDirty() { cache_->MarkDirty(buffer_); }

TPageCache::TPageCache(const TFileHandle& file, TJournal* journal, size_t capacityPages, uint64_t logicalSize,
                       TJournalIndex leftover, const TFileHandle* leftoverFile)
    : file_(file),
      journal_(journal),
      leftoverFile_(leftoverFile),
      journalIndex_(std::move(leftover)),
      capacity_(std::max<size_t>(capacityPages, 16)),
      logicalSize_(logicalSize),
      checkpointSize_(logicalSize),
      physicalSize_(file.Size()),
      blocks_(capacity_ >= kLargeCache) {
  for (uint32_t position : {0u, fmt::kFirstDataPage}) {
    auto b = std::make_unique<TPageBuffer>();
    b->size = position == 0 ? fmt::kRootSize : fmt::kPageSize;
    b->data = blocks_.Take(b->size);
    b->fixed = true;
    b->position = position;
    b->index = static_cast<int32_t>(buffers_.size());
    if (!ReadPage(position, b->data, b->size))
      throw EZevError("\"" + file.Path() + "\" is not a database file: it is too short");
    buffers_.push_back(std::move(b));
  }
}

TPageCache::~TPageCache() = default;

void TPageCache::SetLogicalSize(uint64_t size) {
  std::lock_guard lock(lock_);
  logicalSize_.store(size, std::memory_order_release);
}

uint64_t TPageCache::JournalBytes() const { return journal_ ? journal_->Bytes() : 0; }

bool TPageCache::HasChanges() const {
  std::lock_guard lock(lock_);
  if (journal_ && journal_->Bytes() > 0) return true;
  for (auto& b : buffers_)
    if (b->dirty) return true;
  return false;
}

bool TPageCache::ReadPage(uint32_t position, uint8_t* data, uint32_t size) {
  if (auto it = journalIndex_.find(position); it != journalIndex_.end()) {
    if (journal_)
      journal_->ReadPage(it->second.offset, data, size);
    else if (leftoverFile_->ReadAt(it->second.offset, data, size) != size)
      return false;
    return true;
  }
  if (position + uint64_t{size} > physicalSize_) {
    LogError(FormatText(Tr("Read attempt from invalid position %u, size %d"), position,
                        static_cast<int>(physicalSize_)));
    return false;
  }
  return file_.ReadAt(position, data, size) == size;
}

void TPageCache::MapPage(uint32_t position, int32_t index) {
  size_t n = fmt::PageNumber(position);
  if (n >= pageMap_.size()) pageMap_.resize(n + 1 + n / 4, -1);
  pageMap_[n] = index;
}

void TPageCache::LruUnlink(int32_t i) {
  TPageBuffer& b = *buffers_[i];
  if (!b.inLru) return;
  if (b.older >= 0) buffers_[b.older]->newer = b.newer; else oldest_ = b.newer;
  if (b.newer >= 0) buffers_[b.newer]->older = b.older; else newest_ = b.older;
  b.older = b.newer = -1;
  b.inLru = false;
}

void TPageCache::LruPushNewest(int32_t i) {
  TPageBuffer& b = *buffers_[i];
  b.older = newest_;
  b.newer = -1;
  if (newest_ >= 0) buffers_[newest_]->newer = i; else oldest_ = i;
  newest_ = i;
  b.inLru = true;
  b.stamp = ++pushes_;
}

// Makes a page the newest of the ring, unless it is among the most recent quarter already:
// searches visit the same pages again and again, and moving them each time costs more than
// the slightly less exact order.
void TPageCache::KeepRecent(int32_t i) {
  const TPageBuffer& b = *buffers_[i];
  if (b.inLru && pushes_ - b.stamp < capacity_ / 4) return;
  LruUnlink(i);
  LruPushNewest(i);
}

// The least recently used unpinned buffer, its page saved to the journal when changed; a
// new buffer while every buffer is pinned (the pool lends it for as long as the pins last).
int32_t TPageCache::TakeVictim() {
  // A hit pins a page without taking it out of the ring (see Get); such pages leave it here.
  while (oldest_ >= 0 && buffers_[oldest_]->pins > 0) LruUnlink(oldest_);
  if (buffers_.size() < capacity_ + 2 || oldest_ < 0) {
    auto b = std::make_unique<TPageBuffer>();
    b->size = fmt::kPageSize;
    b->data = blocks_.Take(fmt::kPageSize);
    b->index = static_cast<int32_t>(buffers_.size());
    buffers_.push_back(std::move(b));
    return buffers_.back()->index;
  }
  int32_t i = oldest_;
  TPageBuffer& b = *buffers_[i];
  if (b.dirty) {
    if (!journal_) throw EZevError("A read-only tree cannot hold changed pages");
    uint64_t at = journal_->Append(b.position, b.data, b.size);
    journalIndex_[b.position] = TJournalFrame{b.size, at};
    b.dirty = false;
  }
  LruUnlink(i);
  MapPage(b.position, -1);
  b.position = UINT32_MAX;
  return i;
}

TPageRef TPageCache::Get(uint32_t position) {
  if (position == 0) return TPageRef(this, buffers_[0].get());
  if (position == fmt::kFirstDataPage) return TPageRef(this, buffers_[1].get());
  if (fmt::OffsetIn(position) != 0 || position < fmt::kNewFileSize || position >= LogicalSize()) return {};
  auto lock = LockPool();
  size_t n = fmt::PageNumber(position);
  if (n < pageMap_.size() && pageMap_[n] >= 0) {
    // The page stays in the ring while pinned: unlinking it would touch both neighbours,
    // and a descent pins the same few pages for every key. TakeVictim passes over it.
    TPageBuffer& b = *buffers_[pageMap_[n]];
    ++b.pins;
    return TPageRef(this, &b);
  }
  int32_t i = TakeVictim();
  TPageBuffer& b = *buffers_[i];
  bool ok = false;
  try {
    ok = ReadPage(position, b.data, fmt::kPageSize);
  } catch (...) {
    LruPushNewest(i);
    throw;
  }
  if (!ok) {
    LruPushNewest(i);
    return {};
  }
  b.position = position;
  b.pins = 1;
  b.verdict.store(0, std::memory_order_relaxed);
  MapPage(position, i);
  return TPageRef(this, &b);
}

const uint8_t* TPageCache::Peek(uint32_t position) {
  if (position == 0) return buffers_[0]->data;
  if (position == fmt::kFirstDataPage) return buffers_[1]->data;
  if (fmt::OffsetIn(position) != 0 || position < fmt::kNewFileSize || position >= LogicalSize()) return nullptr;
  size_t n = fmt::PageNumber(position);
  if (n < pageMap_.size() && pageMap_[n] >= 0) {
    const int32_t i = pageMap_[n];
    KeepRecent(i);
    return buffers_[i]->data;
  }
  int32_t i = TakeVictim();
  TPageBuffer& b = *buffers_[i];
  bool ok = ReadPage(position, b.data, fmt::kPageSize);
  if (ok) {
    b.position = position;
    b.verdict.store(0, std::memory_order_relaxed);
    MapPage(position, i);
  }
  LruPushNewest(i);
  return ok ? b.data : nullptr;
}

TPageRef TPageCache::Fresh(uint32_t position) {
  auto lock = LockPool();
  size_t n = fmt::PageNumber(position);
  int32_t i = n < pageMap_.size() && pageMap_[n] >= 0 ? pageMap_[n] : -1;
  if (i >= 0) {
    LruUnlink(i);
  } else {
    i = TakeVictim();
    buffers_[i]->position = position;
    MapPage(position, i);
  }
  TPageBuffer& b = *buffers_[i];
  std::memset(b.data, 0, b.size);
  ++b.pins;
  b.dirty = true;
  return TPageRef(this, &b);
}

void TPageCache::Unpin(TPageBuffer* buffer) {
  auto lock = LockPool();
  if (--buffer->pins == 0) KeepRecent(buffer->index);
}

void TPageCache::MarkDirty(TPageBuffer* buffer) {
  buffer->dirty = true;
  buffer->verdict.store(1, std::memory_order_relaxed);
}

uint64_t TPageCache::BytesHeld() const {
  std::lock_guard lock(lock_);
  uint64_t bytes = 0;
  for (const auto& b : buffers_) bytes += b->size;
  return bytes;
}

void TPageCache::Checkpoint() {
  std::lock_guard lock(lock_);
  if (!journal_) return;
  std::vector<TPageBuffer*> dirty;
  for (auto& b : buffers_)
    if (b->dirty && b->position != UINT32_MAX) dirty.push_back(b.get());
  if (dirty.empty() && journalIndex_.empty()) return;
  Reached(TCheckpointStep::Began);
  std::vector<TPageBuffer*> appended;
  for (TPageBuffer* b : dirty) {
    if (b->position >= checkpointSize_ && !journalIndex_.contains(b->position)) appended.push_back(b);
    else journalIndex_[b->position] = TJournalFrame{b->size, journal_->Append(b->position, b->data, b->size)};
  }
  WriteAppendedPages(appended);
  uint64_t logical = LogicalSize();
  Reached(TCheckpointStep::JournalWritten);
  journal_->Commit(logical);
  Reached(TCheckpointStep::Committed);

  // The journal is durable now: the pages may go to their places. Should that fail, the
  // journal must stay as it is until the next open replays it.
  broken_ = true;
  std::vector<uint32_t> positions;
  positions.reserve(journalIndex_.size());
  for (auto& [position, frame] : journalIndex_) positions.push_back(position);
  std::sort(positions.begin(), positions.end());
  std::vector<uint8_t> scratch(fmt::kRootSize);
  for (uint32_t position : positions) {
    const TJournalFrame& frame = journalIndex_[position];
    const uint8_t* bytes = nullptr;
    size_t n = fmt::PageNumber(position);
    if (position == 0) bytes = buffers_[0]->data;
    else if (position == fmt::kFirstDataPage) bytes = buffers_[1]->data;
    else if (n < pageMap_.size() && pageMap_[n] >= 0) bytes = buffers_[pageMap_[n]]->data;
    if (!bytes) {
      journal_->ReadPage(frame.offset, scratch.data(), frame.length);
      bytes = scratch.data();
    }
    file_.WriteAt(position, bytes, frame.length);
    Reached(TCheckpointStep::PageInPlace);
  }
  file_.SyncData();
  Reached(TCheckpointStep::InPlaceSynced);
  physicalSize_ = std::max(physicalSize_, file_.Size());
  checkpointSize_ = logical;
  for (TPageBuffer* b : dirty) b->dirty = false;
  journalIndex_.clear();
  journal_->Reset();
  broken_ = false;
}

// Pages past the file's size at the last flush hold nothing the previous state needs, so
// they skip the journal (which halves what a flush after a large refresh writes): the
// journal first records that size, and a crash before the commit cuts the file back to it.
// A page with a frame in the journal already goes through it, or replaying that older
// frame would overwrite the newer page.
void TPageCache::WriteAppendedPages(std::vector<TPageBuffer*>& appended) {
  if (appended.empty()) return;
  journal_->MarkBase(checkpointSize_);
  std::sort(appended.begin(), appended.end(),
            [](const TPageBuffer* a, const TPageBuffer* b) { return a->position < b->position; });
  for (const TPageBuffer* b : appended) {
    file_.WriteAt(b->position, b->data, b->size);
    Reached(TCheckpointStep::NewPageInPlace);
  }
  file_.SyncData();  // before the commit says the flush is complete
}

void TPageCache::DiscardChanges() {
  std::lock_guard lock(lock_);
  if (broken_) return;  // the committed journal must survive for the next open
  // Pages read back from the journal hold discarded changes too: empty the whole pool.
  for (auto& b : buffers_) {
    if (b->fixed || b->pins > 0) continue;
    if (b->position != UINT32_MAX) MapPage(b->position, -1);
    b->position = UINT32_MAX;
    b->dirty = false;
  }
  journalIndex_.clear();
  if (journal_) journal_->Reset();
  logicalSize_.store(checkpointSize_, std::memory_order_release);
  // New pages a failed flush wrote in place: without the journal that recorded where the
  // tree ended, the next open would take them for part of it.
  try {
    if (file_.Size() > checkpointSize_) file_.Truncate(checkpointSize_);
  } catch (const std::exception& e) {
    // Not thrown on: the caller is already handling the failure that brought it here.
    LogException(e, "TPageCache.DiscardChanges", "New pages past the last flush could not be cut off.");
  }
  physicalSize_ = std::min(physicalSize_, checkpointSize_);
  for (size_t i = 0; i < 2; ++i) {
    TPageBuffer& b = *buffers_[i];
    if (!ReadPage(b.position, b.data, b.size)) std::memset(b.data, 0, b.size);
    b.dirty = false;
    b.verdict.store(0, std::memory_order_relaxed);
  }
}

}  // namespace zev
