// TBTree: changing operations, record storage and the page lists.
#include <algorithm>
#include <cstring>
#include <memory>

#include "core/Error.h"
#include "core/Intl.h"
#include "core/TextUtil.h"
#include "db/BTreeInternal.h"

namespace zev {

using namespace fmt;

bool TBTree::Insert(std::string_view key, void* record, TDataPointer& dp) { return Insert(key, record, dp, nullptr); }

bool TBTree::Insert(std::string_view key, void* record, TDataPointer& dp, const int32_t* addIfPresent) {
  std::string_view k = NormalizeKey(key, true);
  dp = 0;
  TWriteScope scope(*this);
  return scope.Run("TBTree.Insert", [&] { return InsertLocked(k, record, dp, addIfPresent); });
}

bool TBTree::InsertLocked(std::string_view key, void* record, TDataPointer& dp, const int32_t* addIfPresent) {
  TPath path;
  if (!Descend(key, path, true)) return false;
  TNode leaf(path.steps.back().page.Data(), path.steps.back().page.Size());
  if (path.found) {
    dp = leaf.Dp(path.index);
    TPageRef page;
    uint32_t offset;
    if (LocateRecord(dp, page, offset)) {
      if (addIfPresent) {
        AddDeltas(page.Data() + offset, addIfPresent);
        page.MarkDirty();
      }
      std::memcpy(record, page.Data() + offset, sizeParam_);
    }
    return false;
  }
  // Refusing before anything changes keeps a full file sound: the worst case of one insert
  // is a new page per level, a root split and a data page.
  if (!EnsureRoom(path.steps.size())) {
    LogError(Tr("Failure to allocate a new buffer, table must be full"));
    return false;
  }
  dp = StoreRecord(key, record);
  if (dp == 0) return false;
  if (leaf.InsertAt(path.index, dp, 0, KeysInNodes() ? key : std::string_view())) {
    path.steps.back().page.MarkDirty();
    return true;
  }
  TNodeContent content = leaf.Content();
  content.entries.insert(content.entries.begin() + path.index,
                         TNodeEntry{dp, 0, KeysInNodes() ? key : std::string_view()});
  if (!Settle(path, path.steps.size() - 1, std::move(content)))
    throw EZevError(FormatText("Cannot place key \"%s\" in \"%s\"", std::string(key).c_str(), fileName_.c_str()));
  return true;
}

bool TBTree::DeleteKey(std::string_view key, bool deleteRecord) {
  std::string_view k = NormalizeKey(key, false);
  TWriteScope scope(*this);
  return scope.Run("TBTree.DeleteKey", [&] { return DeleteKeyLocked(k, deleteRecord); });
}

bool TBTree::DeleteKeyLocked(std::string_view key, bool deleteRecord) {
  TDataPointer dp = 0;
  bool wasFirst = false;
  {
    TPath path;
    if (!Descend(key, path, true) || !path.found) return false;
    TStep& leafStep = path.steps.back();
    TNode leaf(leafStep.page.Data(), leafStep.page.Size());
    dp = leaf.Dp(path.index);
    bool isRoot = path.steps.size() == 1;
    wasFirst = path.index == 0 && !isRoot;
    uint32_t removed = TNode::EntryBytes(KeysInNodes(), KeysInNodes() ? leaf.Key(path.index).size() : 0);
    uint32_t remaining = leaf.Capacity() - leaf.FreeSpace() - removed;
    if (isRoot || (leaf.Count() > 1 && !UnderfullBytes(remaining))) {
      leaf.RemoveAt(path.index);
      leafStep.page.MarkDirty();
      return FinishDelete(key, dp, wasFirst, deleteRecord);
    }
    TNodeContent content = leaf.Content();
    content.entries.erase(content.entries.begin() + path.index);
    if (!Settle(path, path.steps.size() - 1, std::move(content))) {
      throw EZevError(FormatText("Cannot remove key \"%s\" from \"%s\"", std::string(key).c_str(),
                                 fileName_.c_str()));
    }
  }
  return FinishDelete(key, dp, wasFirst, deleteRecord);
}

bool TBTree::FinishDelete(std::string_view key, TDataPointer dp, bool wasFirst, bool deleteRecord) {
  if (wasFirst) FixSeparator(key, dp);
  CollapseRoot();
  if (deleteRecord) FreeRecord(dp);
  return true;
}

bool TBTree::DeleteData(TDataPointer dp) {
  TWriteScope scope(*this);
  return scope.Run("TBTree.DeleteData", [&] { return FreeRecord(dp); });
}

bool TBTree::WriteRecord(TDataPointer dp, const void* record) {
  TWriteScope scope(*this);
  return scope.Run("TBTree.WriteRecord", [&] {
    TPageRef page;
    uint32_t offset;
    if (!LocateRecord(dp, page, offset)) {
      LogError(FormatText(Tr("Attempt to write a record at invalid position %u in \"%s\"."), dp, fileName_.c_str()));
      return false;
    }
    std::memcpy(page.Data() + offset, record, sizeParam_);
    page.MarkDirty();
    return true;
  });
}

bool TBTree::WriteRecordIfSame(TDataPointer dp, const void* record, uint32_t from, uint32_t length,
                               uint64_t epoch) {
  TWriteScope scope(*this);
  return scope.Run("TBTree.WriteRecordIfSame", [&] {
    if ((epoch != 0 && epoch != Epoch()) || uint64_t{from} + length > sizeParam_) return false;
    TPageRef page;
    uint32_t offset;
    if (!LocateRecord(dp, page, offset)) return false;
    const uint8_t* bytes = static_cast<const uint8_t*>(record);
    if (std::memcmp(page.Data() + offset + from, bytes + from, length) != 0) return false;
    std::memcpy(page.Data() + offset, record, sizeParam_);
    page.MarkDirty();
    return true;
  });
}

bool TBTree::AddToRecord(TDataPointer dp, const int32_t* deltas, uint64_t epoch) {
  TWriteScope scope(*this);
  return scope.Run("TBTree.AddToRecord", [&] {
    if (epoch != 0 && epoch != Epoch()) return false;
    TPageRef page;
    uint32_t offset;
    if (!LocateRecord(dp, page, offset)) return false;
    AddDeltas(page.Data() + offset, deltas);
    page.MarkDirty();
    return true;
  });
}

bool TBTree::ChangeRecordWith(TDataPointer dp, bool (*change)(void* context, uint8_t* record), void* context) {
  TWriteScope scope(*this);
  return scope.Run("TBTree.ChangeRecord", [&] {
    TPageRef page;
    uint32_t offset;
    if (!LocateRecord(dp, page, offset)) return false;
    // The callback works on a copy: only what it says it changed reaches the page.
    uint8_t small[128];
    std::unique_ptr<uint8_t[]> large;
    uint8_t* copy = sizeParam_ <= sizeof small ? small : (large = std::make_unique<uint8_t[]>(sizeParam_)).get();
    std::memcpy(copy, page.Data() + offset, sizeParam_);
    if (!change(context, copy)) return true;
    std::memcpy(page.Data() + offset, copy, sizeParam_);
    page.MarkDirty();
    return true;
  });
}

void TBTree::AddDeltas(uint8_t* record, const int32_t* deltas) const {
  for (uint32_t i = 0; i < sizeParam_ / 4; ++i) {
    uint8_t* field = record + 4 * i;
    int64_t value = int64_t{Load32(field)} + deltas[i];
    Store32(field, static_cast<uint32_t>(std::clamp<int64_t>(value, 0, UINT32_MAX)));
  }
}

// Frees the slot of a record. Pointers that do not name a stored record change nothing.
bool TBTree::FreeRecord(TDataPointer dp) {
  NewEpoch();
  TPageRef page = dp >= kFirstDataPage && dp < FileSize() ? DataPageRef(PageOf(dp)) : TPageRef();
  if (!page) {
    LogError(FormatText(Tr("Attempt to delete data in a non-data block %u"), PageOf(dp)));
    return false;
  }
  TDataPage data(page.Data(), page.Position());
  uint32_t offset = OffsetIn(dp);
  uint32_t size = KeysInNodes() ? (TDataPage::FixedAligned(offset, sizeParam_) ? sizeParam_ : 0)
                                : (offset % 8 == 0 ? data.SlotSize(offset, sizeParam_) : 0);
  if (size == 0 || offset < data.Start()) {
    LogError(FormatText(Tr("Attempt to delete across blocks %u+%d"), dp, static_cast<int>(sizeParam_)));
    return false;
  }
  if (!data.FreeListValid()) {
    Warn(FormatText(Tr("Warning! Invalid next free slot value %d in buffer at %u, Pos = %d, Size=%d"),
                    static_cast<int>(data.FirstFree()), page.Position(), static_cast<int>(offset),
                    static_cast<int>(size)),
         page.Position(), "TBTree.DeleteData(6): Invalid Next Free Slot");
    return false;
  }
  switch (data.Free(offset, size)) {
    case TDataPage::TFreeResult::AlreadyFree:
      Warn(FormatText(Tr("Warning! Data at offset %u already deleted!"), dp), page.Position(),
           "TBTree.DeleteData(4): Data Already Deleted");
      return false;
    case TDataPage::TFreeResult::Invalid:
      Warn(FormatText(Tr("Warning! Invalid next free slot value %d in buffer at %u, Pos = %d, Size=%d"),
                      static_cast<int>(data.FirstFree()), page.Position(), static_cast<int>(offset),
                      static_cast<int>(size)),
           page.Position(), "TBTree.DeleteData(1)");
      return false;
    case TDataPage::TFreeResult::Freed:
      break;
  }
  if (data.Count() > 0) data.SetCount(data.Count() - 1);
  page.MarkDirty();
  if (!data.IsFirst()) {
    TPageRef firstRef = cache_->Get(kFirstDataPage);
    TDataPage first(firstRef.Data(), kFirstDataPage);
    if (first.Hint() == 0 || page.Position() < first.Hint()) first.SetHint(page.Position());
    if ((options_ & boKeepCount) && first.Count() > 0) first.SetCount(first.Count() - 1);
    firstRef.MarkDirty();
  }
  return true;
}

// Finds a slot on the first data page, then from the allocation hint along the chain, and
// appends a data page when the chain is full. Returns the record's offset and its page.
uint32_t TBTree::AllocateInChain(uint32_t size, TPageRef& page) {
  TPageRef firstRef = cache_->Get(kFirstDataPage);
  TDataPage first(firstRef.Data(), kFirstDataPage);
  if (first.FreeListValid()) {
    if (uint32_t offset = first.Allocate(size)) {
      page = std::move(firstRef);
      return offset;
    }
  }
  uint32_t last = kFirstDataPage;
  uint32_t position = first.Hint() != 0 ? first.Hint() : first.Next();
  for (uint64_t steps = 0; position != 0 && steps <= FileSize() / kPageSize; ++steps) {
    TPageRef ref = position != kFirstDataPage ? DataPageRef(position) : TPageRef();
    if (!ref) {
      Warn(FormatText(Tr("Invalid data page link %u in \"%s\"."), position, fileName_.c_str()), last,
           "TBTree.StoreRecord");
      break;
    }
    TDataPage data(ref.Data(), position);
    first.SetHint(position);
    firstRef.MarkDirty();
    if (!data.FreeListValid()) {
      LogError(FormatText(Tr("Invalid buf.p^.free value %d in block at %u!"), static_cast<int>(data.FirstFree()),
                          position));
      data.ClearFreeList();
      ref.MarkDirty();
    }
    if (uint32_t offset = data.Allocate(size)) {
      page = std::move(ref);
      return offset;
    }
    last = position;
    position = data.Next();
  }
  TPageRef fresh = AllocPage();
  if (!fresh) return 0;
  TDataPage data(fresh.Data(), fresh.Position());
  data.Init(KeysInNodes());
  data.SetPrev(last);
  TPageRef lastRef = last == kFirstDataPage ? std::move(firstRef) : DataPageRef(last);
  TDataPage(lastRef.Data(), last).SetNext(fresh.Position());
  lastRef.MarkDirty();
  TPageRef firstAgain = cache_->Get(kFirstDataPage);
  TDataPage(firstAgain.Data(), kFirstDataPage).SetHint(fresh.Position());
  firstAgain.MarkDirty();
  fresh.MarkDirty();
  page = std::move(fresh);
  return data.Allocate(size);
}

TDataPointer TBTree::StoreRecord(std::string_view key, void* record) {
  uint32_t size = RecordSlotSize(key);
  TPageRef page;
  uint32_t offset = AllocateInChain(size, page);
  if (offset == 0) return 0;
  uint8_t* slot = page.Data() + offset;
  std::memset(slot, 0, size);
  std::memcpy(slot, record, sizeParam_);
  if (!KeysInNodes()) std::memcpy(slot + sizeParam_, key.data(), key.size());
  page.MarkDirty();
  TPageRef firstRef = cache_->Get(kFirstDataPage);
  TDataPage first(firstRef.Data(), kFirstDataPage);
  if (page.Position() != kFirstDataPage) {
    TDataPage data(page.Data(), page.Position());
    data.SetCount(data.Count() + 1);
  }
  first.SetCount(first.Count() + 1);
  firstRef.MarkDirty();
  if ((options_ & boSequenceNumbers) && sizeParam_ >= 4) {
    Store32(slot, first.Count());
    Store32(static_cast<uint8_t*>(record), first.Count());
  }
  return page.Position() + offset;
}

uint32_t TBTree::FreeListLength() {
  if (freeListLength_ >= 0) return static_cast<uint32_t>(freeListLength_);
  TPageRef root = cache_->Get(0);
  uint32_t n = 0;
  for (uint32_t position = Load32(root.Data() + kNextField); position != 0 && n <= FileSize() / kPageSize; ++n) {
    TPageRef page = ValidChild(position) ? cache_->Get(position) : TPageRef();
    if (!page || page.Data()[kKindField] != ntFree) break;
    position = Load32(page.Data() + kCountField);
  }
  freeListLength_ = n;
  return n;
}

bool TBTree::EnsureRoom(size_t depth) {
  uint64_t needed = depth + 6;
  uint64_t appendable = (kSizeLimit - 1 - FileSize()) / kPageSize;
  return appendable >= needed || appendable + FreeListLength() >= needed;
}

// A page from the free list, or one appended to the file. The list is only trusted as far
// as its pages are marked free; a broken list is abandoned rather than followed.
TPageRef TBTree::AllocPage() {
  TPageRef root = cache_->Get(0);
  uint32_t head = Load32(root.Data() + kNextField);
  if (head != 0) {
    TPageRef page = ValidChild(head) ? cache_->Get(head) : TPageRef();
    if (page && page.Data()[kKindField] == ntFree) {
      Store32(root.Data() + kNextField, Load32(page.Data() + kCountField));
      root.MarkDirty();
      std::memset(page.Data(), 0, kPageSize);
      page.MarkDirty();
      if (freeListLength_ > 0) --freeListLength_;
      return page;
    }
    if (page) DumpPage(head, "TBTree.GetBuffer");
    LogError(FormatText(Tr("The free page list of \"%s\" is damaged at %u; it is abandoned."), fileName_.c_str(),
                        head));
    Store32(root.Data() + kNextField, 0);
    root.MarkDirty();
    freeListLength_ = 0;
  }
  uint64_t position = FileSize();
  if (position + kPageSize >= kSizeLimit) {
    LogError(Tr("Failure to allocate a new buffer, table must be full"));
    return {};
  }
  cache_->SetLogicalSize(position + kPageSize);
  return cache_->Fresh(static_cast<uint32_t>(position));
}

void TBTree::FreePage(TPageRef& page) {
  TPageRef root = cache_->Get(0);
  std::memset(page.Data(), 0, kPageSize);
  page.Data()[kKindField] = ntFree;
  Store32(page.Data() + kCountField, Load32(root.Data() + kNextField));
  Store32(root.Data() + kNextField, page.Position());
  page.MarkDirty();
  root.MarkDirty();
  if (freeListLength_ >= 0) ++freeListLength_;
}

}  // namespace zev
