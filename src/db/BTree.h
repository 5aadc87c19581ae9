#pragma once
// TBTree: the storage engine of every ".zev" list file. One file holds a B-tree index over
// text keys (at most 255 characters) and the records the keys point to. A record is
// addressed by its data pointer (file position) and never moves, so other records can
// store these pointers. docs/db-format.md describes the file.
//
// Two kinds of tree:
//  - fixed-record trees (boKeysInNodes): keys live in the index nodes, every record has
//    `sizeParam` bytes (the article list: 77);
//  - key-in-record trees: index entries hold only data pointers; a record is `sizeParam`
//    bytes of header followed by the key text and a zero byte.
//
// Threads: any thread may call anything. Readers share the tree, writers take it alone
// (one std::shared_mutex per file). A file is opened by one process at a time.
//
// Durability: changes reach the file only through the journal (see Journal.h): after a
// crash the file opens holding everything up to the last completed Flush. Changes are
// flushed at the latest every 60 seconds during writing, when the journal grows large,
// and when the tree is closed.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "db/BTreeFormat.h"
#include "db/FileHandle.h"
#include "db/Journal.h"
#include "db/PageCache.h"

namespace zev {

class TExpirer;
struct TCheckReport;
class TNode;
class TDataPage;
struct TNodeContent;
struct TNodeEntry;

// (data pointer, field value or ordinal) pairs of GetMap2, in key order.
using TMapPair = std::pair<TDataPointer, uint32_t>;
// Called for every record of a page walk with its data pointer and a copy of its bytes.
using TRecordCallback = std::function<void(TDataPointer dp, const uint8_t* record)>;

class TBTree {
 public:
  enum class TAccess { ReadWrite, ReadOnly };

  // Opens `fileName`, creating it when missing. Raises EZevError when the file cannot be
  // opened, is in use by another process, or is not a tree file of this kind.
  TBTree(std::string fileName, uint8_t options, int64_t cacheSize, uint32_t sizeParam,
         TAccess access = TAccess::ReadWrite);
  ~TBTree();
  TBTree(const TBTree&) = delete;
  TBTree& operator=(const TBTree&) = delete;

  const std::string& FileName() const { return fileName_; }
  uint8_t Options() const { return options_; }
  uint32_t SizeParam() const { return sizeParam_; }
  bool KeysInNodes() const { return options_ & boKeysInNodes; }
  bool CaseInsensitive() const { return options_ & boCaseInsensitive; }
  bool ReadOnly() const { return access_ == TAccess::ReadOnly; }

  bool Find(std::string_view key, TDataPointer& dp);
  // Adds `key` with the `sizeParam` bytes at `record`. False when the key exists (`dp` and
  // `record` then receive the stored record) or the file has no room (`dp` 0).
  bool Insert(std::string_view key, void* record, TDataPointer& dp);
  // The same, but when the key exists `addIfPresent` is first added to the stored record
  // as by AddToRecord (a reference count goes up in the same step).
  bool Insert(std::string_view key, void* record, TDataPointer& dp, const int32_t* addIfPresent);
  bool DeleteKey(std::string_view key, bool deleteRecord);
  bool DeleteData(TDataPointer dp);
  bool ReadRecord(TDataPointer dp, void* record);
  // Key-in-record trees: the header bytes and the key; false (key empty) on fixed-record pages.
  bool ReadRecordAndKey(TDataPointer dp, std::string& key, void* header);
  std::string ReadKeyText(TDataPointer dp);
  bool WriteRecord(TDataPointer dp, const void* record);
  // Writes the record only while the stored bytes [from, from + length) equal those of
  // `record` and, with an `epoch` other than 0, while Epoch() still has that value: one
  // step for a writer that must not overwrite a slot another record has taken.
  bool WriteRecordIfSame(TDataPointer dp, const void* record, uint32_t from, uint32_t length, uint64_t epoch);
  // Adds deltas[i] to the i-th 32-bit field; fields stay within 0..0xFFFFFFFF. With an
  // `epoch` other than 0, only while Epoch() still has that value (else false).
  bool AddToRecord(TDataPointer dp, const int32_t* deltas, uint64_t epoch = 0);
  // Reads the record, lets `change(uint8_t* bytes)` alter a copy of its sizeParam bytes
  // and stores the copy when `change` returns true, all in one step: no other writer comes
  // between. `change` must not call the tree. False when `dp` names no record or the
  // tree takes no changes (read-only, or broken by a failed checkpoint).
  template <class TChange>
  bool ChangeRecord(TDataPointer dp, TChange&& change) {
    using TFn = std::remove_reference_t<TChange>;
    return ChangeRecordWith(
        dp, [](void* context, uint8_t* record) -> bool { return (*static_cast<TFn*>(context))(record); },
        const_cast<void*>(static_cast<const void*>(&change)));
  }
  // Fixed-record trees: the full key of the record `dp` among the keys beginning with `key`.
  bool FindKeyOfData(std::string& key, TDataPointer dp);
  uint32_t RecordCount();
  uint64_t FileSize() const { return cache_->LogicalSize(); }
  uint64_t CacheBytes() const {
    std::shared_lock lock(lock_);
    return cache_->BytesHeld();
  }
  // Changes, to a value no tree of this process had before, whenever a record may have
  // left its place: a record freed, unflushed changes dropped. A data pointer learnt
  // under one value is still the same record while the value stays.
  uint64_t Epoch() const { return epoch_.load(std::memory_order_acquire); }

  std::vector<TDataPointer> GetMap();
  // Field at `fieldOffset` of every record (or its ordinal for -1), in key order.
  std::vector<TMapPair> GetMap2(int fieldOffset);
  // Every record of the fixed-record data pages; `expiry` (optional) is cleared afterwards.
  // The callback may change the tree.
  void ForEachRecord(const TRecordCallback& fn, TExpirer* expiry = nullptr);
  // The records of the pages named by the expiry list, each page once; the list is
  // emptied. `idle` runs every 128 listed positions.
  void ForEachRecordInPages(TExpirer& expiry, const TRecordCallback& fn, const std::function<void()>& idle = {});

  // Writes the changes (see Durability above). Without `force` only when the last flush is
  // 60 seconds old; without `wait` only when no operation is running.
  void Flush(bool wait, bool force);
  // With boDump: appends the page at `position` to the ".log" file beside the tree.
  void Dump(uint32_t position, std::string_view caller);
  // The dump text of one page.
  std::string DumpText(uint32_t position);
  void Precache();
  // Walks the whole file and reports every broken invariant (BTreeCheck.h).
  TCheckReport Check();

 private:
  friend class TBTreeCheck;
  struct TStep {
    TPageRef page;
    uint32_t slot = 0;  // child position in the parent: 0 = LT child, i + 1 = entry i
  };
  // The nodes from the root down to a leaf; no heap allocation per operation.
  class TSteps {
   public:
    void clear() {
      for (size_t i = 0; i < n_; ++i) items_[i] = TStep{};
      n_ = 0;
    }
    void push_back(TStep&& step) { items_[n_++] = std::move(step); }
    TStep& back() { return items_[n_ - 1]; }
    TStep& operator[](size_t i) { return items_[i]; }
    size_t size() const { return n_; }

   private:
    std::array<TStep, 20> items_;
    size_t n_ = 0;
  };
  struct TPath {
    TSteps steps;        // root first
    uint32_t index = 0;  // entry position in the leaf
    bool found = false;
  };
  class TKeyReader;
  class TWriteScope;

  void CreateFile();
  void OpenFile();
  void ReplayJournal(TJournalIndex& leftover, uint64_t& logicalSize);
  void CheckFixedPages();

  std::string_view NormalizeKey(std::string_view key, bool logTruncation) const;
  bool Writable() const;
  uint32_t RecordSlotSize(std::string_view key) const;
  TPageRef IndexPage(uint32_t position);
  TPageRef DataPageRef(uint32_t position);
  bool ValidChild(uint32_t position) const;
  uint32_t LowerBound(const TNode& node, std::string_view key, bool& equal, TKeyReader& keys);
  bool Descend(std::string_view key, TPath& path, bool pinPath);
  TPageRef FirstLeaf();
  size_t MapReserve(uint32_t count) const;
  bool LocateRecord(TDataPointer dp, TPageRef& page, uint32_t& offset);

  bool InsertLocked(std::string_view key, void* record, TDataPointer& dp, const int32_t* addIfPresent);
  void AddDeltas(uint8_t* record, const int32_t* deltas) const;
  bool ChangeRecordWith(TDataPointer dp, bool (*change)(void* context, uint8_t* record), void* context);
  bool DeleteKeyLocked(std::string_view key, bool deleteRecord);
  bool FinishDelete(std::string_view key, TDataPointer dp, bool wasFirst, bool deleteRecord);
  bool FreeRecord(TDataPointer dp);
  TDataPointer StoreRecord(std::string_view key, void* record);
  uint32_t AllocateInChain(uint32_t size, TPageRef& page);
  bool EnsureRoom(size_t depth);
  TPageRef AllocPage();
  void FreePage(TPageRef& page);
  uint32_t FreeListLength();

  // Structure changes (BTreeRebalance.cpp).
  bool Settle(TPath& path, size_t level, TNodeContent content);
  bool Rebalance(TPath& path, size_t level, TNodeContent content);
  bool SplitRoot(TPath& path, TNodeContent content);
  void CollapseRoot();
  void FixSeparator(std::string_view removedKey, TDataPointer removedDp);
  bool LeafFirstKey(uint32_t position, TDataPointer& dp, std::string& key);
  bool Underfull(const TNodeContent& content) const;
  static bool UnderfullBytes(uint32_t bytes);
  uint8_t NodeKind(bool dir, bool root) const;

  void AfterWrite();
  void CheckpointLocked();
  void Warn(const std::string& text, uint32_t position, std::string_view caller);
  // Dump and DumpText for callers that hold the tree's lock already.
  void DumpPage(uint32_t position, std::string_view caller);
  std::string PageText(uint32_t position);
  void AppendDataPageText(std::string& out, const uint8_t* page, uint32_t position);

  std::string fileName_;
  uint8_t options_;
  uint32_t sizeParam_;
  TAccess access_;
  size_t capacityPages_;
  TFileHandle file_;
  std::unique_ptr<TJournal> journal_;
  TFileHandle leftoverJournal_;  // read-only trees: a committed journal not yet replayed
  std::unique_ptr<TPageCache> cache_;
  mutable std::shared_mutex lock_;
  std::mutex dumpLock_;
  std::atomic<int64_t> lastFlush_;  // steady clock, nanoseconds
  std::atomic<uint64_t> epoch_;
  void NewEpoch();
  uint64_t journalLimit_;
  int64_t freeListLength_ = -1;  // -1: not counted yet
};

}  // namespace zev
