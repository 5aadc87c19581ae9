// TPartCheck: placing parts into part maps, linking neighbours, completing files.
#include "download/PartCheck.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "core/Config.h"
#include "core/Log.h"
#include "db/NwsStore.h"

namespace zev {

TPartCheck* gPartCheck = nullptr;

namespace {

// Entry 0 of a part map.
constexpr uint32_t kSizeFromLastPart = 1u << 31;
constexpr uint32_t kSawReadPart = 1u << 30;
constexpr uint32_t kSawUnreadPart = 1u << 29;
constexpr uint32_t kSizeMask = 0x0FFFFFFF;

constexpr uint32_t kSizeFlags = FlagBit(afApproxSize) | FlagBit(afExactSize);

// Offsets up to this value are never records.
constexpr TArticleOffset kLastInvalidRecord = 16;

uint32_t TypicalSize(const std::vector<uint32_t>& entries) { return entries[0] & kSizeMask; }

void SetTypicalSize(std::vector<uint32_t>& entries, uint64_t size) {
  entries[0] = (entries[0] & ~kSizeMask) | static_cast<uint32_t>(std::min<uint64_t>(size, kSizeMask));
}

// Whether `offset` is one of the map's entries above (or below) entry i.
bool IsEntryAbove(const std::vector<uint32_t>& entries, TArticleOffset offset, size_t i) {
  return std::find(entries.begin() + static_cast<std::ptrdiff_t>(i) + 1, entries.end(), offset) != entries.end();
}

bool IsEntryBelow(const std::vector<uint32_t>& entries, TArticleOffset offset, size_t i) {
  return std::find(entries.begin() + 1, entries.begin() + static_cast<std::ptrdiff_t>(i), offset) !=
         entries.begin() + static_cast<std::ptrdiff_t>(i);
}

}  // namespace

TPartCheck::TPartCheck(TNewsStore& store, TArticle& shared, size_t entryBudget)
    : store_(store), shared_(shared), own_(store), entryBudget_(std::max<size_t>(entryBudget, 1024)) {}

TPartCheck::~TPartCheck() = default;

uint64_t TPartCheck::KeyOf(const FMsgData& record) { return uint64_t{record.FFileName} << 32 | record.FSubject; }

bool TPartCheck::CheckItem(TArticleOffset offset, bool doNotWrite) {
  if (offset <= kLastInvalidRecord) return false;
  std::lock_guard lock(lock_);
  try {
    if (shared_.Offset() != offset && !shared_.Read(offset)) return false;
    const FMsgData before = shared_.Data();
    FPart part{offset, before.FPartNo, before.FPartTotal, std::min<uint32_t>(before.FPartSize, kSizeMask),
               HasFlag(before, afRead)};
    // A part number beyond the part count would have no place in the map.
    if (!HasFlag(before, afMultiPart) || part.total < 2 || part.no == 0 || part.no > part.total) return false;
    noWrite_ = doNotWrite;
    EvictIfOverBudget();
    if (Place(part)) return true;
    shared_.Include(afBadParts);
    shared_.Exclude(afGoodParts);
    if (!doNotWrite && std::memcmp(&before, &shared_.Data(), sizeof before) != 0) shared_.Write();
    return false;
  } catch (const std::exception& e) {
    LogException(e, "TPartCheck.CheckItem", {}, 2);
    return false;
  }
}

bool TPartCheck::Place(const FPart& part) {
  const uint64_t key = KeyOf(shared_.Data());
  auto found = index_.find(key);
  if (found == index_.end()) {
    index_[key].push_back(NewMap(part));
    return false;
  }
  TMapList& list = found->second;
  const size_t chosen = ChooseMap(list, part);
  if (chosen == list.size()) {
    list.push_back(NewMap(part));
    return false;
  }
  FPartMap& map = list[chosen];
  const size_t before = map.entries.size();
  Enter(map, part.no, part.offset, part.size, part.read);
  LinkPrevious(map, part);
  LinkNext(map, part);
  map.touched = ++clock_;
  if (!Complete(map)) return false;
  FinishFile(map, part);
  entries_ -= before;
  --maps_;
  list.erase(list.begin() + static_cast<std::ptrdiff_t>(chosen));
  if (list.empty()) index_.erase(found);
  return true;
}

TPartCheck::FPartMap TPartCheck::NewMap(const FPart& part) {
  FPartMap map;
  map.entries.assign(size_t{part.total} + 1, 0);
  map.entries[part.no] = part.offset;
  map.entries[0] = part.size | (part.no == part.total ? kSizeFromLastPart : 0) |
                   (part.read ? kSawReadPart : kSawUnreadPart);
  map.touched = ++clock_;
  entries_ += map.entries.size();
  ++maps_;
  ++mapsCreated_;
  return map;
}

// Picks the map the part belongs to by its size: the last part of a file may be smaller
// than the others, every other part must lie within 1/32 of the map's typical size. Of
// several fitting maps a later one wins only when it is closer by at least half its own
// tolerance, so near-identical reposts keep filling the map that was started first.
size_t TPartCheck::ChooseMap(const TMapList& list, const FPart& part) const {
  size_t chosen = list.size();
  uint64_t chosenDiff = 0;
  for (size_t m = 0; m < list.size(); ++m) {
    const std::vector<uint32_t>& e = list[m].entries;
    if (e.size() != size_t{part.total} + 1 || (e[part.no] != 0 && e[part.no] != part.offset)) continue;
    const uint64_t a = TypicalSize(e), h = a / 32, s = part.size;
    if (part.no == part.total) {
      if (s <= a + h) return m;
      continue;
    }
    uint64_t diff;
    if (e[0] & kSizeFromLastPart) {
      if (s + h < a) continue;
      diff = 0;
    } else {
      diff = a > s ? a - s : s - a;
      if (diff > h) continue;
    }
    if (chosen == list.size() || diff + h / 2 <= chosenDiff) {
      chosen = m;
      chosenDiff = diff;
    }
  }
  return chosen;
}

void TPartCheck::Enter(FPartMap& map, uint32_t no, TArticleOffset offset, uint32_t size, bool read) {
  std::vector<uint32_t>& e = map.entries;
  e[no] = offset;
  const size_t total = e.size() - 1;
  if (no < total) {
    if (e[0] & kSizeFromLastPart) {
      e[0] &= ~kSizeFromLastPart;
      SetTypicalSize(e, size);
    } else {
      SetTypicalSize(e, (uint64_t{TypicalSize(e)} + size) / 2);
    }
  }
  e[0] |= read ? kSawReadPart : kSawUnreadPart;
}

bool TPartCheck::ReadPart(TArticleOffset offset, FMsgData& record) {
  if (offset <= kLastInvalidRecord) return false;
  if (!own_.Read(offset)) return false;
  record = own_.Data();
  own_.Clear();
  // A freed slot reads as zeros beyond the first characters of its Message-ID.
  return record.FMsgId[4] != 0;
}

void TPartCheck::LinkPrevious(FPartMap& map, const FPart& part) {
  std::vector<uint32_t>& e = map.entries;
  // Each round either ends or clears one entry, so the loop is bounded by the part count.
  for (;;) {
    size_t i = part.no - 1;
    while (i > 0 && e[i] == 0) --i;
    const TArticleOffset link = shared_.Data().FPrevPart;
    FMsgData n{};
    if (i == 0) {
      if (link == 0) return;
      if (!ReadPart(link, n)) {
        shared_.SetPrevPartLink(0);
        return;
      }
      if (n.FNextPart == part.offset && n.FPartNo > 0 && n.FPartNo < part.no && n.FPartTotal == part.total)
        Enter(map, n.FPartNo, link, std::min<uint32_t>(n.FPartSize, kSizeMask), HasFlag(n, afRead));
      return;
    }
    if (link != 0 && link != e[i]) return;
    if (!ReadPart(e[i], n) || n.FPartNo != i) {
      e[i] = 0;
      shared_.SetPrevPartLink(0);
      continue;
    }
    shared_.SetPrevPartLink(e[i]);
    if (n.FNextPart == part.offset) return;
    if (n.FNextPart != 0 && !IsEntryAbove(e, n.FNextPart, i)) return;
    store_.AddFlagsSetNextPart(e[i], FlagBit(afHideIfCombined), part.offset);
    return;
  }
}

void TPartCheck::LinkNext(FPartMap& map, const FPart& part) {
  std::vector<uint32_t>& e = map.entries;
  for (;;) {
    size_t i = part.no + 1;
    while (i < e.size() && e[i] == 0) ++i;
    const TArticleOffset link = shared_.Data().FNextPart;
    FMsgData n{};
    if (i == e.size()) {
      if (link == 0 || !ReadPart(link, n)) {
        // Without a following part nothing may hide this one.
        shared_.SetNextPartLink(0);
        shared_.Exclude(afHideIfCombined);
        return;
      }
      if (n.FPrevPart == part.offset && n.FPartNo > part.no && n.FPartNo <= part.total && n.FPartTotal == part.total)
        Enter(map, n.FPartNo, link, std::min<uint32_t>(n.FPartSize, kSizeMask), HasFlag(n, afRead));
      return;
    }
    if (link != 0 && link != e[i]) return;
    if (!ReadPart(e[i], n) || n.FPartNo != i) {
      e[i] = 0;
      shared_.Exclude(afHideIfCombined);
      shared_.SetNextPartLink(0);
      continue;
    }
    shared_.Include(afHideIfCombined);
    shared_.SetNextPartLink(e[i]);
    if (n.FPrevPart != part.offset && (n.FPrevPart == 0 || IsEntryBelow(e, n.FPrevPart, i)))
      store_.SetPrevPart(e[i], part.offset);
    return;
  }
}

bool TPartCheck::Complete(const FPartMap& map) {
  return std::find(map.entries.begin() + 1, map.entries.end(), 0u) == map.entries.end();
}

uint32_t TPartCheck::FileSize(const FPartMap& map, const FPart& part) {
  const FMsgData& r = shared_.Data();
  if (r.FFlags & kSizeFlags) return r.FFileSize;
  const uint64_t others = uint64_t{part.total} - 1;
  uint64_t size;
  if (part.no == part.total) {
    size = others * TypicalSize(map.entries) + part.size;
  } else {
    FMsgData last{};
    size = others * part.size + (ReadPart(map.entries[part.total], last) ? last.FPartSize : part.size);
  }
  return static_cast<uint32_t>(std::min<uint64_t>(size, std::numeric_limits<uint32_t>::max()));
}

// readState: -1 leave as it is, 0 unread, 1 read.
void TPartCheck::MarkComplete(FMsgData& r, uint32_t no, uint32_t total, uint32_t fileSize, int readState) const {
  if (!(r.FFlags & kSizeFlags)) r.FFileSize = fileSize;
  SetFlag(r, afGoodParts);
  ClearFlag(r, afBadParts);
  if (readState == 1) SetFlag(r, afRead);
  if (readState == 0) ClearFlag(r, afRead);
  // The last part stands for the whole file in the article list.
  if (no == total) ClearFlag(r, afHideIfCombined);
  else SetFlag(r, afHideIfCombined);
}

void TPartCheck::FinishFile(const FPartMap& map, const FPart& part) {
  ++filesCompleted_;
  const uint32_t fileSize = FileSize(map, part);
  const std::vector<uint32_t>& e = map.entries;
  int readState = -1;
  if (!recheck_ && (e[0] & kSawReadPart) && (e[0] & kSawUnreadPart))
    readState = gConfig && gConfig->Has(cfNewWhenAllPartsNew) ? 1 : 0;
  for (uint32_t i = 1; i <= part.total; ++i) {
    if (e[i] == part.offset) {
      FMsgData r = shared_.Data();
      MarkComplete(r, i, part.total, fileSize, readState);
      if (std::memcmp(&r, &shared_.Data(), sizeof r) != 0) {
        shared_.Data() = r;
        shared_.MarkDirty();
      }
      if (!noWrite_) shared_.Write();
      continue;
    }
    if (!own_.Read(e[i])) continue;
    MarkComplete(own_.Data(), i, part.total, fileSize, readState);
    own_.MarkDirty();
    own_.Write();
    own_.Clear();
  }
}

void TPartCheck::CollectChain(TArticleOffset start, bool forward, std::vector<TArticleOffset>& out) {
  FMsgData r{};
  if (!ReadPart(start, r)) return;
  const uint32_t bound = std::max<uint32_t>(r.FPartTotal, 1);
  TArticleOffset at = forward ? r.FNextPart : r.FPrevPart;
  for (uint32_t steps = 0; steps < bound && at > kLastInvalidRecord && at != start; ++steps) {
    if (!ReadPart(at, r)) return;
    out.push_back(at);
    at = forward ? r.FNextPart : r.FPrevPart;
  }
}

void TPartCheck::RecheckChain(TArticleOffset offset) {
  TArticleLock articleLock(shared_);
  std::lock_guard lock(lock_);
  std::vector<TArticleOffset> chain;
  CollectChain(offset, false, chain);
  CollectChain(offset, true, chain);
  chain.push_back(offset);
  recheck_ = true;
  for (TArticleOffset part : chain) CheckItem(part, false);
  recheck_ = false;
}

bool TPartCheck::RecheckKnown(TArticleOffset offset) {
  std::lock_guard lock(lock_);
  FMsgData r{};
  if (offset <= kLastInvalidRecord || !store_.MsgLst() || !store_.MsgLst()->ReadRecord(offset, &r)) return false;
  if (!HasFlag(r, afMultiPart)) return false;
  auto found = index_.find(KeyOf(r));
  if (found == index_.end()) return false;
  // Stale neighbours are found by the linking steps when the next part arrives; the
  // article itself simply leaves every map it sat in.
  for (FPartMap& map : found->second)
    for (size_t i = 1; i < map.entries.size(); ++i)
      if (map.entries[i] == offset) map.entries[i] = 0;
  return false;
}

void TPartCheck::EvictIfOverBudget() {
  if (entries_ <= entryBudget_) return;
  // Drop the maps touched longest ago until a quarter of the budget is free again, so
  // eviction runs rarely and its cost spreads over many arrivals.
  std::vector<uint64_t> ages;
  ages.reserve(maps_);
  for (const auto& [key, list] : index_)
    for (const FPartMap& map : list) ages.push_back(map.touched);
  std::sort(ages.begin(), ages.end());
  const size_t target = entryBudget_ / 4 * 3;
  // Walk the ages upwards, estimating by the average map size, to find a cut-off.
  const size_t average = std::max<size_t>(entries_ / std::max<size_t>(maps_, 1), 1);
  const size_t drop = std::min(ages.size(), (entries_ - target + average - 1) / average);
  const uint64_t cutoff = drop == 0 ? 0 : ages[drop - 1];
  for (auto it = index_.begin(); it != index_.end();) {
    TMapList& list = it->second;
    std::erase_if(list, [&](const FPartMap& map) {
      if (map.touched > cutoff) return false;
      entries_ -= map.entries.size();
      --maps_;
      ++mapsEvicted_;
      return true;
    });
    it = list.empty() ? index_.erase(it) : std::next(it);
  }
}

uint64_t TPartCheck::MapsCreated() const {
  std::lock_guard lock(lock_);
  return mapsCreated_;
}

uint64_t TPartCheck::FilesCompleted() const {
  std::lock_guard lock(lock_);
  return filesCompleted_;
}

uint64_t TPartCheck::MapsEvicted() const {
  std::lock_guard lock(lock_);
  return mapsEvicted_;
}

size_t TPartCheck::OpenMaps() const {
  std::lock_guard lock(lock_);
  return maps_;
}

size_t TPartCheck::OpenEntries() const {
  std::lock_guard lock(lock_);
  return entries_;
}

}  // namespace zev
