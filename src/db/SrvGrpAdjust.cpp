// Keeping a server-group's offset map in line with the article range its server reports.
#include <algorithm>
#include <limits>

#include "core/Log.h"
#include "core/TextUtil.h"
#include "db/Group.h"
#include "db/GroupFileName.h"
#include "db/MapArticles.h"
#include "db/OffsMapFile.h"
#include "db/Server.h"
#include "db/SrvGrp.h"

namespace zev {

namespace {

constexpr uint64_t kNoLimit = std::numeric_limits<uint64_t>::max();

uint64_t RangeCount(uint64_t first, uint64_t last) { return last >= first ? last - first + 1 : 0; }
uint64_t Excess(uint64_t count, uint64_t limit) { return count > limit ? count - limit : 0; }

void ExpireAll(const std::vector<uint32_t>& offsets) {
  if (offsets.empty() || !gMapArticles) return;
  for (uint32_t offset : offsets) gMapArticles->Expire(offset);
  gMapArticles->Flush();
}

}  // namespace

uint64_t TSrvGrp::HeaderLimit() const {
  uint64_t limit = kNoLimit;
  if (server_->Has(sfHeaderLimit)) limit = server_->MaxHeaders;
  if (group_->Has(gfHeaderLimit)) limit = std::min<uint64_t>(limit, group_->MaxHeaders);
  // "At most 0 headers" would leave no range at all; one header is the least there is.
  return std::max<uint64_t>(limit, 1);
}

void TSrvGrp::CollectReferences(size_t from, size_t to, std::vector<uint32_t>& out) const {
  to = std::min(to, offsMap_.size());
  for (size_t i = from; i < to; ++i)
    if (offsMap_[i] >= kFirstArticleOffset) out.push_back(offsMap_[i]);
}

void TSrvGrp::ReleaseAllLocked(std::vector<uint32_t>& released) {
  CollectReferences(1, offsMap_.size(), released);
  if (offsMap_.size() > 1) {
    std::fill(offsMap_.begin() + 1, offsMap_.end(), 0);
    dirty_ = true;
  }
}

bool TSrvGrp::ReleaseAllArticles() {
  std::vector<uint32_t> released;
  {
    std::lock_guard lock(mapLock_);
    ReleaseAllLocked(released);
  }
  ExpireAll(released);
  return !released.empty();
}

void TSrvGrp::FixWindow(uint64_t excess, uint64_t oldLastPos) {
  size_t size = offsMap_.size();
  for (size_t i = excess + 1; i < size; ++i)
    if (offsMap_[i] == mmBeyondLimit) offsMap_[i] = mmNotFetched;
  uint64_t end = std::min<uint64_t>(std::max(excess, oldLastPos), size - 1);
  for (uint64_t i = oldLastPos + 1; i <= end; ++i)
    if (offsMap_[i] == mmNotFetched) offsMap_[i] = mmBeyondLimit;
}

void TSrvGrp::Rebuild(uint32_t first, uint32_t last, uint64_t limit) {
  uint64_t count = RangeCount(first, last), excess = Excess(count, limit);
  offsMap_.assign(count + 1, mmNotFetched);
  offsMap_[0] = first;
  std::fill(offsMap_.begin() + 1, offsMap_.begin() + 1 + static_cast<std::ptrdiff_t>(excess), mmBeyondLimit);
  dirty_ = true;
  SaveOffsMap();
  Validated = true;
  ValidationQueued = false;
  // Ranges of the old numbering name articles that are gone.
  pending_.Clear();
  if (RefreshKind != rkXpat && count > excess)
    pending_.Add(static_cast<uint32_t>(first + excess), static_cast<uint32_t>(count - excess));
}

void TSrvGrp::Grow(uint32_t newLast, uint64_t limit) {
  uint64_t first = offsMap_[0], oldLast = first + offsMap_.size() - 2;
  offsMap_.resize(RangeCount(first, newLast) + 1, mmNotFetched);
  FixWindow(Excess(RangeCount(first, newLast), limit), oldLast - first + 1);
  dirty_ = true;
  pending_.Add(static_cast<uint32_t>(oldLast + 1), static_cast<uint32_t>(newLast - oldLast));
}

void TSrvGrp::ShiftForward(uint32_t newFirst, uint32_t newLast, uint64_t limit, std::vector<uint32_t>& released) {
  uint64_t oldFirst = offsMap_[0], oldCount = offsMap_.size() - 1, oldLast = oldFirst + oldCount - 1;
  uint64_t gone = std::min<uint64_t>(newFirst - oldFirst, oldCount);
  uint64_t newCount = RangeCount(newFirst, newLast);
  try {
    CollectReferences(1, gone + 1, released);
    // With `extend` the range may also end earlier: those entries leave the map too.
    if (oldCount - gone > newCount) CollectReferences(1 + gone + newCount, offsMap_.size(), released);
    offsMap_.erase(offsMap_.begin() + 1, offsMap_.begin() + 1 + static_cast<std::ptrdiff_t>(gone));
    offsMap_[0] = newFirst;
    offsMap_.resize(newCount + 1, mmNotFetched);
    FixWindow(Excess(newCount, limit), oldLast >= newFirst ? oldLast - newFirst + 1 : 0);
    if (RefreshKind != rkXpat && newLast > oldLast)
      pending_.Add(static_cast<uint32_t>(oldLast + 1), static_cast<uint32_t>(newLast - oldLast));
    dirty_ = true;
  } catch (const std::exception& e) {
    LogException(e, "TSrvGrp.AdjustServerFile",
                 FormatText(" Length(OffsMap)=%zu, OldFirst=%llu, OldLast=%llu, NewFirst=%u, NewLast=%u, llCount=%llu.",
                            offsMap_.size(), static_cast<unsigned long long>(oldFirst),
                            static_cast<unsigned long long>(oldLast), newFirst, newLast,
                            static_cast<unsigned long long>(gone)));
    throw;
  }
}

void TSrvGrp::ExtendFront(uint32_t newFirst, uint32_t newLast, uint64_t limit, std::vector<uint32_t>& released) {
  uint64_t oldFirst = offsMap_[0], oldCount = offsMap_.size() - 1, oldLast = oldFirst + oldCount - 1;
  uint64_t gap = oldFirst - newFirst, newCount = RangeCount(newFirst, newLast);
  uint64_t kept = std::min(oldCount, newCount > gap ? newCount - gap : 0);
  CollectReferences(1 + kept, offsMap_.size(), released);
  std::vector<uint32_t> grown(newCount + 1, mmNotFetched);
  grown[0] = newFirst;
  std::copy_n(offsMap_.begin() + 1, kept, grown.begin() + 1 + static_cast<std::ptrdiff_t>(gap));
  offsMap_.swap(grown);
  FixWindow(Excess(newCount, limit), oldLast - newFirst + 1);
  if (RefreshKind != rkXpat) {
    pending_.Add(newFirst, static_cast<uint32_t>(gap));
    if (newLast > oldLast)
      pending_.Add(static_cast<uint32_t>(oldLast + 1), static_cast<uint32_t>(newLast - oldLast));
  }
  dirty_ = true;
}

void TSrvGrp::AdjustLocked(uint32_t fn, uint32_t ln, bool extend, std::vector<uint32_t>& released) {
  uint64_t limit = HeaderLimit();
  if (RangeCount(fn, ln) > limit) fn = static_cast<uint32_t>(ln - limit + 1);
  if (RangeCount(fn, ln) > gMaxMapEntries.load()) {
    LogError(FormatText("Newsgroup \"%s\" on \"%s\" reports %llu articles; only the newest %llu are kept.",
                        PrintableName(group_->Name()).c_str(), PrintableName(server_->Name()).c_str(),
                        static_cast<unsigned long long>(RangeCount(fn, ln)),
                        static_cast<unsigned long long>(gMaxMapEntries.load())));
    fn = static_cast<uint32_t>(ln - gMaxMapEntries.load() + 1);
  }
  if (!LoadOffsMap() || offsMap_.size() < 2) return Rebuild(fn, ln, limit);
  uint64_t fo = offsMap_[0], lo = fo + offsMap_.size() - 2;
  bool rebuild = extend ? (lo < fn || ln < fo) : !(fn >= fo && ln >= lo && lo >= fn);
  if (rebuild) {
    ReleaseAllLocked(released);
    return Rebuild(fn, ln, limit);
  }
  if (fn < fo) ExtendFront(fn, ln, limit, released);
  else if (fn > fo) ShiftForward(fn, ln, limit, released);
  else if (ln > lo) Grow(ln, limit);
  else if (ln == lo) {
    FixWindow(Excess(RangeCount(fn, ln), limit), lo - fn + 1);
    // Saved even when nothing changed: the file's time records the refresh.
    dirty_ = true;
  }
  pending_.Clip(FirstArtNo(), LastArtNo());
}

void TSrvGrp::AdjustServerFile(uint32_t newFirst, uint32_t newLast, bool extend) {
  std::vector<uint32_t> released;
  {
    std::lock_guard lock(mapLock_);
    struct FRelease {
      TSrvGrp& sg;
      ~FRelease() {
        sg.SaveOffsMap();
        sg.ReleaseOffsMap();
      }
    } release{*this};
    AdjustLocked(newFirst, newLast, extend, released);
  }
  ExpireAll(released);
}

void TSrvGrp::RebuildServerFile(uint32_t newFirst, uint32_t newLast) {
  std::vector<uint32_t> released;
  {
    std::lock_guard lock(mapLock_);
    struct FRelease {
      TSrvGrp& sg;
      ~FRelease() {
        sg.SaveOffsMap();
        sg.ReleaseOffsMap();
      }
    } release{*this};
    // A map cut to its first value stays loaded, and the adjustment rebuilds it.
    LoadOffsMap();
    CollectReferences(1, offsMap_.size(), released);
    offsMap_.resize(1);
    AdjustLocked(newFirst, newLast, false, released);
    ReleaseOffsMap();
  }
  ExpireAll(released);
}

}  // namespace zev
