// TBTree: opening and closing, look-ups and record reads.
#include "db/BTree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "core/Error.h"
#include "core/Intl.h"
#include "core/Startup.h"
#include "core/TextUtil.h"
#include "db/BTreeInternal.h"

namespace zev {

using namespace fmt;

namespace {
constexpr auto kFlushInterval = std::chrono::seconds(60);
constexpr uint64_t kMinJournalLimit = 64ull << 20;

// The coarse clock is enough for a one-minute timer and costs nothing per operation.
int64_t NowTicks() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &t);
  return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}
bool FlushDue(int64_t lastFlush) {
  return NowTicks() - lastFlush >= std::chrono::duration_cast<std::chrono::nanoseconds>(kFlushInterval).count();
}
}  // namespace

TBTree::TBTree(std::string fileName, uint8_t options, int64_t cacheSize, uint32_t sizeParam, TAccess access)
    : fileName_(std::move(fileName)),
      options_(options),
      sizeParam_(sizeParam),
      access_(access),
      capacityPages_(static_cast<size_t>(std::max<int64_t>(cacheSize, 0) / kPageSize)),
      lastFlush_(NowTicks()),
      epoch_(0),
      journalLimit_(std::max<uint64_t>(kMinJournalLimit, 2 * capacityPages_ * uint64_t{kPageSize})) {
  bool fixed = KeysInNodes();
  if ((fixed && (sizeParam < 4 || sizeParam > kPageSize - kKeyedFirstSlot)) ||
      (!fixed && sizeParam > kPageSize - kKeyedFirstSlot - kMaxKeyLength - 1))
    throw EZevError(FormatText("Invalid record size %u for \"%s\"", sizeParam, fileName_.c_str()));
  if (!FileExists(fileName_)) {
    if (ReadOnly()) throw EZevError("\"" + fileName_ + "\" does not exist");
    CreateFile();
  }
  OpenFile();
  NewEpoch();
  if ((options_ & boPrecache) && !ReadOnly()) Precache();
}

void TBTree::NewEpoch() {
  static std::atomic<uint64_t> next{1};
  epoch_.store(next.fetch_add(1), std::memory_order_release);
}

TBTree::~TBTree() {
  try {
    Flush(true, true);
    std::unique_lock lock(lock_);
    if (journal_ && !cache_->HasChanges()) journal_->Remove();
  } catch (const std::exception& e) {
    LogException(e, "TBTree.Destroy", fileName_);
  }
}

// A new file appears complete or not at all: it is written under a temporary name and
// linked into place, which also fails if another process created it meanwhile.
void TBTree::CreateFile() {
  ::unlink(TJournal::PathFor(fileName_).c_str());  // a journal of an earlier file of this name
  std::vector<uint8_t> image(kNewFileSize, 0);
  uint8_t kindBit = KeysInNodes() ? ntType2 : 0;
  image[0] = nt3x | kindBit;
  TDataPage first(image.data() + kFirstDataPage, kFirstDataPage);
  first.Init(KeysInNodes());
  std::string temp = fileName_ + ".new-" + std::to_string(::getpid());
  {
    TFileHandle f(temp, O_RDWR | O_CREAT | O_TRUNC);
    f.WriteAt(0, image.data(), image.size());
    f.SyncData();
  }
  if (::link(temp.c_str(), fileName_.c_str()) != 0 && errno != EEXIST) {
    int err = errno;
    ::unlink(temp.c_str());
    throw EZevError("Cannot create \"" + fileName_ + "\": " + std::strerror(err));
  }
  ::unlink(temp.c_str());
  SyncDirectoryOf(fileName_);
}

void TBTree::OpenFile() {
  file_ = TFileHandle(fileName_, ReadOnly() ? O_RDONLY : O_RDWR);
  if (!file_.TryLock(!ReadOnly()))
    throw EZevError(FormatText(Tr("The database file \"%s\" is in use by another process."), fileName_.c_str()));
  TJournalIndex leftover;
  uint64_t logical = file_.Size() / kPageSize * kPageSize;
  ReplayJournal(leftover, logical);
  if (logical < kNewFileSize)
    throw EZevError(FormatText(Tr("\"%s\" is not a database file: it is too short."), fileName_.c_str()));
  if (logical >= kSizeLimit)
    throw EZevError(FormatText(Tr("\"%s\" is not a database file: it is too large."), fileName_.c_str()));
  cache_ = std::make_unique<TPageCache>(file_, journal_.get(), capacityPages_, logical, std::move(leftover),
                                        leftoverJournal_.IsOpen() ? &leftoverJournal_ : nullptr);
  CheckFixedPages();
}

// A committed journal left by a crash is applied before anything reads the file; a read-only
// tree reads its pages from the journal instead.
void TBTree::ReplayJournal(TJournalIndex& leftover, uint64_t& logicalSize) {
  struct stat st {};
  if (::fstat(file_.Fd(), &st) != 0) throw EZevError("Cannot stat \"" + fileName_ + "\"");
  std::string path = TJournal::PathFor(fileName_);
  if (!ReadOnly()) journal_ = std::make_unique<TJournal>(path, st.st_dev, st.st_ino);
  if (!FileExists(path)) return;
  TFileHandle journal(path, O_RDONLY);
  TJournalIndex pages;
  uint64_t committedSize = 0, unfinishedBase = 0;
  bool committed = TJournal::ReadCommitted(journal, st.st_dev, st.st_ino, pages, committedSize, unfinishedBase);
  // An unfinished flush may have written new pages past the tree's end: they are cut off.
  const uint64_t treeEnd = !unfinishedBase ? 0 : committed ? committedSize : unfinishedBase;
  if (ReadOnly()) {
    if (committed) {
      leftover = std::move(pages);
      logicalSize = std::max(logicalSize, committedSize);
      leftoverJournal_ = std::move(journal);
    }
    if (treeEnd) logicalSize = std::min(logicalSize, treeEnd);
    return;
  }
  if (committed) {
    std::vector<uint32_t> positions;
    for (auto& [position, frame] : pages) positions.push_back(position);
    std::sort(positions.begin(), positions.end());
    std::vector<uint8_t> data(kRootSize);
    for (uint32_t position : positions) {
      const TJournalFrame& frame = pages[position];
      if (journal.ReadAt(frame.offset, data.data(), frame.length) != frame.length)
        throw EZevError("Journal \"" + path + "\" is truncated");
      file_.WriteAt(position, data.data(), frame.length);
    }
    file_.SyncData();
    logicalSize = std::max(file_.Size() / kPageSize * kPageSize, committedSize);
    LogError(FormatText(Tr("Completed the interrupted write of \"%s\" from its journal (%zu pages)."),
                        fileName_.c_str(), positions.size()));
  }
  if (treeEnd && file_.Size() > treeEnd) {
    file_.Truncate(treeEnd);
    file_.SyncData();
    logicalSize = treeEnd;
  }
  journal.Close();
  ::unlink(path.c_str());
}

// The root and the first data page are read at open; a file whose fixed pages are not what
// this kind of tree writes is refused rather than half used.
void TBTree::CheckFixedPages() {
  uint8_t kindBit = KeysInNodes() ? ntType2 : 0;
  TPageRef rootRef = cache_->Get(0);
  TNode root(rootRef.Data(), kRootSize);
  std::string why;
  if ((root.Kind() & ~(ntDir | ntType2)) != nt3x || (root.Kind() & ntType2) != kindBit)
    why = FormatText("root kind %u", root.Kind());
  else
    root.Valid(&why);
  TPageRef firstRef = cache_->Get(kFirstDataPage);
  TDataPage first(firstRef.Data(), kFirstDataPage);
  if (why.empty() && first.Kind() != (ntData | kindBit)) why = FormatText("first data page kind %u", first.Kind());
  if (!why.empty())
    throw EZevError(FormatText(Tr("\"%s\" is not a database file of this kind (%s)."), fileName_.c_str(),
                               why.c_str()));
  rootRef.SetVerdict(1);
  firstRef.SetVerdict(first.FreeListValid() ? 1 : 2);
}

bool TBTree::Writable() const {
  if (ReadOnly()) LogError(FormatText("\"%s\" is open for reading only", fileName_.c_str()));
  else if (cache_->Broken())
    LogError(FormatText(Tr("\"%s\" could not be written and takes no more changes until it is opened again."),
                        fileName_.c_str()));
  return !ReadOnly() && !cache_->Broken();
}

// Keys are zero-terminated texts in the file: a key ends at its first zero byte.
std::string_view TBTree::NormalizeKey(std::string_view key, bool logTruncation) const {
  key = key.substr(0, std::min(key.size(), key.find('\0')));
  if (key.size() > kMaxKeyLength) {
    if (logTruncation)
      LogError(FormatText(Tr("Attempt to insert too long key \"%s\"! Truncated to %d characters."),
                          std::string(key).c_str(), static_cast<int>(kMaxKeyLength)));
    key = key.substr(0, kMaxKeyLength);
  }
  return key;
}

uint32_t TBTree::RecordSlotSize(std::string_view key) const {
  return KeysInNodes() ? sizeParam_ : RoundUp8(sizeParam_ + static_cast<uint32_t>(key.size()) + 1);
}

void TBTree::Warn(const std::string& text, uint32_t position, std::string_view caller) {
  if (!(options_ & boWarnings)) return;
  LogError(text, 1);
  DumpPage(position, caller);
}

bool TBTree::ValidChild(uint32_t position) const {
  return position >= kNewFileSize && OffsetIn(position) == 0 && position < FileSize();
}

// An index page other than the root, checked once after it was read.
TPageRef TBTree::IndexPage(uint32_t position) {
  if (!ValidChild(position)) return {};
  TPageRef ref = cache_->Get(position);
  if (!ref) return {};
  TNode node(ref.Data(), kPageSize);
  if (ref.Verdict() == 0) {
    std::string why;
    uint8_t kindBit = KeysInNodes() ? ntType2 : 0;
    if ((node.Kind() & ~(ntDir | ntType2)) != 0 || (node.Kind() & ntType2) != kindBit)
      why = FormatText("kind %u is not an index page of this tree", node.Kind());
    else
      node.Valid(&why);
    ref.SetVerdict(why.empty() ? 1 : 2);
    if (!why.empty())
      LogError(FormatText(Tr("Index page %u of \"%s\" is damaged (%s). This is a sign of possible database "
                             "corruption."),
                          position, fileName_.c_str(), why.c_str()));
  }
  if (ref.Verdict() != 1) return {};
  return ref;
}

TPageRef TBTree::DataPageRef(uint32_t position) {
  if (position != kFirstDataPage && !ValidChild(position)) return {};
  TPageRef ref = cache_->Get(position);
  if (!ref) return {};
  uint8_t kind = ref.Data()[kKindField];
  if (kind != (ntData | (KeysInNodes() ? ntType2 : 0))) return {};
  return ref;
}

// Where the key text of the record `dp` starts and how many bytes of the page follow it.
bool TBTree::TKeyReader::RecordText(TDataPointer dp, const char*& text, size_t& room) {
  uint32_t position = PageOf(dp);
  uint32_t at = OffsetIn(dp) + tree_.sizeParam_;
  if (OffsetIn(dp) < kKeyedFirstSlot || at >= kPageSize) return false;
  const uint8_t* data = nullptr;
  if (exclusive_) {
    if (position != kFirstDataPage && !tree_.ValidChild(position)) return false;
    data = tree_.cache_->Peek(position);
    if (!data || data[kKindField] != ntData) return false;
  } else {
    TPageRef* page = nullptr;
    for (TPageRef& p : pages_)
      if (p && p.Position() == position) page = &p;
    if (!page) {
      page = &pages_[next_++ % pages_.size()];
      *page = tree_.DataPageRef(position);
      if (!*page) return false;
    }
    data = page->Data();
  }
  text = reinterpret_cast<const char*>(data + at);
  room = kPageSize - at;
  return true;
}

bool TBTree::TKeyReader::RecordKey(TDataPointer dp, std::string_view& key) {
  const char* text;
  size_t room;
  if (!RecordText(dp, text, room)) return false;
  size_t len = strnlen(text, room);
  if (len == room || len > kMaxKeyLength) return false;
  key = std::string_view(text, len);
  return true;
}

// Index of the first entry whose key is not below `key`. A key that cannot be read sorts
// after every key, so a damaged entry is never taken for a match.
uint32_t TBTree::LowerBound(const TNode& node, std::string_view key, bool& equal, TKeyReader& keys) {
  uint32_t lo = 0, hi = node.Count();
  bool ci = CaseInsensitive();
  equal = false;
  const bool keysInNode = node.KeysInNode();
  // Every probe reads its entry before its key: fetching the whole entry array at once
  // turns a chain of waits on memory into one.
  if (keysInNode) node.PrefetchEntries();
  while (lo < hi) {
    uint32_t mid = lo + (hi - lo) / 2;
    // A search through a large tree waits on memory at every key it reads. The next key
    // read is the middle of one half or the other: asking for both now overlaps their
    // waits with this comparison.
    if (keysInNode) {
      if (uint32_t next = lo + (mid - lo) / 2; next < mid) __builtin_prefetch(node.KeyText(next));
      if (uint32_t next = mid + 1 + (hi - mid - 1) / 2; next < hi) __builtin_prefetch(node.KeyText(next));
    }
    int c = keys.Compare(node, mid, key, ci);
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
      if (c == 0) equal = true;
    }
  }
  if (equal) equal = lo < node.Count() && keys.Compare(node, lo, key, ci) == 0;
  return lo;
}

// Walks from the root to the leaf where `key` is or belongs. With `pinPath` every node on
// the way stays pinned in `path` (writers restructure it); otherwise only the leaf.
bool TBTree::Descend(std::string_view key, TPath& path, bool pinPath) {
  path.steps.clear();
  TKeyReader keys(*this, pinPath);
  TStep step{cache_->Get(0), 0};
  for (size_t depth = 0;; ++depth) {
    TNode node(step.page.Data(), step.page.Size());
    bool equal = false;
    uint32_t i = LowerBound(node, key, equal, keys);
    if (!node.IsDir()) {
      path.index = i;
      path.found = equal;
      path.steps.push_back(std::move(step));
      return true;
    }
    uint32_t slot = equal ? i + 1 : i;  // the LT child is slot 0
    uint32_t child = node.SlotChild(slot);
    TPageRef next = depth < kMaxDepth ? IndexPage(child) : TPageRef();
    if (!next) {
      Warn(FormatText(Tr("Invalid child %u in index page %u of \"%s\"."), child, step.page.Position(),
                      fileName_.c_str()),
           step.page.Position(), "TBTree.Descend");
      return false;
    }
    if (pinPath) path.steps.push_back(std::move(step));
    step = TStep{std::move(next), slot};
  }
}

bool TBTree::Find(std::string_view key, TDataPointer& dp) {
  std::string_view k = NormalizeKey(key, false);
  std::shared_lock lock(lock_);
  TPath path;
  dp = 0;
  if (!Descend(k, path, false) || !path.found) return false;
  TNode leaf(path.steps.back().page.Data(), path.steps.back().page.Size());
  dp = leaf.Dp(path.index);
  return true;
}

// The page and offset of a stored record: a data page of this tree, a record boundary, and
// not inside a free slot. Anything else is a stale or damaged pointer.
bool TBTree::LocateRecord(TDataPointer dp, TPageRef& page, uint32_t& offset) {
  if (dp < kFirstDataPage || dp >= FileSize()) return false;
  page = DataPageRef(PageOf(dp));
  if (!page) return false;
  TDataPage data(page.Data(), page.Position());
  offset = OffsetIn(dp);
  if (offset < data.Start()) return false;
  if (KeysInNodes() ? !TDataPage::FixedAligned(offset, sizeParam_)
                    : (offset % 8 != 0 || data.SlotSize(offset, sizeParam_) == 0))
    return false;
  return !data.InFreeSlot(offset, KeysInNodes() ? sizeParam_ : kSlotHeaderSize + 4);
}

bool TBTree::ReadRecord(TDataPointer dp, void* record) {
  std::shared_lock lock(lock_);
  TPageRef page;
  uint32_t offset;
  if (!LocateRecord(dp, page, offset)) return false;
  std::memcpy(record, page.Data() + offset, sizeParam_);
  return true;
}

bool TBTree::ReadRecordAndKey(TDataPointer dp, std::string& key, void* header) {
  std::shared_lock lock(lock_);
  key.clear();
  TPageRef page;
  uint32_t offset;
  if (!LocateRecord(dp, page, offset)) return false;
  std::memcpy(header, page.Data() + offset, sizeParam_);
  if (KeysInNodes()) return false;
  key = reinterpret_cast<const char*>(page.Data() + offset + sizeParam_);
  if (key.size() > kMaxKeyLength) key.resize(kMaxKeyLength);
  return true;
}

std::string TBTree::ReadKeyText(TDataPointer dp) {
  std::string key;
  std::vector<uint8_t> header(sizeParam_ + 1);
  ReadRecordAndKey(dp, key, header.data());
  return key;
}

bool TBTree::FindKeyOfData(std::string& key, TDataPointer dp) {
  if (!KeysInNodes()) return false;
  std::string prefix(NormalizeKey(key, false));
  std::shared_lock lock(lock_);
  TPath path;
  if (!Descend(prefix, path, false)) return false;
  TPageRef leafRef = std::move(path.steps.back().page);
  uint32_t i = path.index;
  bool ci = CaseInsensitive();
  for (uint64_t pages = 0; pages <= FileSize() / kPageSize; ++pages) {
    TNode leaf(leafRef.Data(), leafRef.Size());
    for (; i < leaf.Count(); ++i) {
      std::string_view k = leaf.Key(i);
      if (!KeyHasPrefix(k, prefix, ci)) return false;
      if (leaf.Dp(i) == dp) {
        key = k;
        return true;
      }
    }
    // The root's link field is the free-list head, never a next leaf.
    if (leafRef.Position() == 0 || leaf.Next() == 0) return false;
    leafRef = IndexPage(leaf.Next());
    if (!leafRef || TNode(leafRef.Data(), kPageSize).IsDir()) return false;
    i = 0;
  }
  return false;
}

uint32_t TBTree::RecordCount() {
  std::shared_lock lock(lock_);
  return TDataPage(cache_->Get(kFirstDataPage).Data(), kFirstDataPage).Count();
}

// The leftmost leaf, reached through the LT children.
TPageRef TBTree::FirstLeaf() {
  TPageRef ref = cache_->Get(0);
  for (size_t depth = 0; ref; ++depth) {
    TNode node(ref.Data(), ref.Size());
    if (gDebugSwitch) DumpPage(ref.Position(), "TBTree.GetMap2(1): Debug");
    if (!node.IsDir()) return ref;
    uint32_t lt = node.Lt();
    TPageRef next = depth < kMaxDepth ? IndexPage(lt) : TPageRef();
    if (!next) DumpPage(ref.Position(), "TBTree.GetMap2(2): Invalid child sector");
    ref = std::move(next);
  }
  return {};
}

// The first data page's count sizes a map, but a damaged count must not: a file holds at
// most one index entry per 8 bytes.
size_t TBTree::MapReserve(uint32_t count) const {
  return static_cast<size_t>(std::min<uint64_t>(count, FileSize() / kEntrySize)) + 256;
}

std::vector<TDataPointer> TBTree::GetMap() {
  std::vector<TDataPointer> map;
  map.reserve(MapReserve(RecordCount()));
  for (auto& [dp, ordinal] : GetMap2(-1)) map.push_back(dp);
  return map;
}

std::vector<TMapPair> TBTree::GetMap2(int fieldOffset) {
  std::shared_lock lock(lock_);
  std::vector<TMapPair> map;
  map.reserve(MapReserve(TDataPage(cache_->Get(kFirstDataPage).Data(), kFirstDataPage).Count()));
  TPageRef leafRef = FirstLeaf();
  TPageRef dataRef;
  uint32_t ordinal = 0;
  for (uint64_t pages = 0; leafRef && pages <= FileSize() / kPageSize; ++pages) {
    TNode leaf(leafRef.Data(), leafRef.Size());
    if (gDebugSwitch && pages > 0) DumpPage(leafRef.Position(), "TBTree.GetMap2(3): Debug");
    for (uint32_t i = 0, n = leaf.Count(); i < n; ++i) {
      TDataPointer dp = leaf.Dp(i);
      if (fieldOffset < 0) {
        map.emplace_back(dp, ordinal++);
        continue;
      }
      if (dp < kFirstDataPage || dp >= FileSize() || OffsetIn(dp) + uint64_t(fieldOffset) + 4 > kPageSize) {
        DumpPage(leafRef.Position(), "TBTree.GetMap2(4): Invalid index");
        continue;
      }
      if (!dataRef || dataRef.Position() != PageOf(dp)) dataRef = cache_->Get(PageOf(dp));
      if (!dataRef) continue;
      map.emplace_back(dp, Load32(dataRef.Data() + OffsetIn(dp) + fieldOffset));
    }
    uint32_t next = leaf.Next();
    if (leafRef.Position() == 0 || next == 0) break;
    if (gDebugSwitch) DumpPage(leafRef.Position(), "TBTree.GetMap2(6): Debug");
    TPageRef nextRef = IndexPage(next);
    if (!nextRef || TNode(nextRef.Data(), kPageSize).IsDir()) {
      DumpPage(leafRef.Position(), "TBTree.GetMap2(5): Invalid next sector");
      break;
    }
    leafRef = std::move(nextRef);
  }
  return map;
}

void TBTree::Precache() {
  std::shared_lock lock(lock_);
  uint64_t end = FileSize();
  ::posix_fadvise(file_.Fd(), 0, static_cast<off_t>(end), POSIX_FADV_WILLNEED);
  size_t limit = cache_->Capacity();
  for (uint64_t position = kNewFileSize; position < end && limit > 0; position += kPageSize, --limit)
    cache_->Get(static_cast<uint32_t>(position));
}

void TBTree::Flush(bool wait, bool force) {
  if (ReadOnly()) return;
  if (!force && !FlushDue(lastFlush_)) return;
  std::unique_lock lock(lock_, std::defer_lock);
  if (wait) lock.lock();
  else if (!lock.try_lock()) return;
  CheckpointLocked();
}

void TBTree::CheckpointLocked() {
  cache_->Checkpoint();
  lastFlush_ = NowTicks();
}

// Between operations: flush when the journal holds much or the last flush is a minute old.
void TBTree::AfterWrite() {
  bool due = cache_->JournalBytes() >= journalLimit_ || FlushDue(lastFlush_);
  if (!due) return;
  try {
    CheckpointLocked();
  } catch (const std::exception& e) {
    LogException(e, "TBTree.Flush", fileName_);
  }
}

}  // namespace zev
