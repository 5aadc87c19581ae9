// TArtList: the state of the refreshes under way. A refresh keeps its server-group's map
// loaded from the first planned command to its end and remembers the ranges it handed to
// the queue and has not had answered, so that it ends once, when the last one is in, and
// lets go of the map exactly once.
#include <algorithm>
#include <mutex>

#include "db/Group.h"
#include "db/SGLst.h"
#include "nntp/ArtListInternal.h"

namespace zev {

TArtList::FRefresh& TArtList::RefreshOf(const std::shared_ptr<TSrvGrp>& sg) {
  FRefresh& refresh = refreshes_[sg.get()];
  if (!refresh.sg) refresh.sg = sg;
  return refresh;
}

void TArtList::HoldMap(const std::shared_ptr<TSrvGrp>& sg) {
  FRefresh& refresh = RefreshOf(sg);
  if (!refresh.holdsMap) {
    sg->LoadOffsMap();
    refresh.holdsMap = true;
  }
  sg->RefreshIdle = false;
}

void TArtList::AddInFlight(const std::shared_ptr<TSrvGrp>& sg, TQueueKind kind, uint32_t low, uint32_t high) {
  RefreshOf(sg).inFlight.push_back({kind, std::min(low, high), std::max(low, high)});
}

void TArtList::RemoveInFlight(TSrvGrp& sg, TQueueKind kind, uint32_t low, uint32_t high) {
  auto it = refreshes_.find(&sg);
  if (it == refreshes_.end()) return;
  std::vector<FInFlight> kept;
  for (const FInFlight& f : it->second.inFlight) {
    if (f.kind != kind || f.high < low || f.low > high) {
      kept.push_back(f);
      continue;
    }
    // The answered part leaves; what lies around it is still expected.
    if (f.low < low) kept.push_back({kind, f.low, low - 1});
    if (f.high > high) kept.push_back({kind, high + 1, f.high});
  }
  it->second.inFlight.swap(kept);
}

bool TArtList::HasInFlight(TSrvGrp& sg) const {
  auto it = refreshes_.find(&sg);
  return it != refreshes_.end() && !it->second.inFlight.empty();
}

bool TArtList::HasRangesInFlight(TSrvGrp& sg) const {
  auto it = refreshes_.find(&sg);
  if (it == refreshes_.end()) return false;
  return std::any_of(it->second.inFlight.begin(), it->second.inFlight.end(),
                     [](const FInFlight& f) { return f.IsRange(); });
}

bool TArtList::HasRangesInFlightBeyond(TSrvGrp& sg, uint32_t low, uint32_t high) const {
  auto it = refreshes_.find(&sg);
  if (it == refreshes_.end()) return false;
  return std::any_of(it->second.inFlight.begin(), it->second.inFlight.end(), [&](const FInFlight& f) {
    return f.IsRange() && (f.low < low || f.high > high);
  });
}

void TArtList::EndRefresh(TSrvGrp& sg) {
  bool wasRefreshing = !sg.RefreshIdle.load();
  if (auto it = refreshes_.find(&sg); it != refreshes_.end()) {
    if (it->second.holdsMap) {
      CheckpointMap(sg, true);
      sg.ReleaseOffsMap();
    }
    refreshes_.erase(it);
    wasRefreshing = true;
  }
  sg.RefreshIdle = true;
  sg.RefreshKind = rkPlain;
  sg.Group().RefreshChanged.exchange(1);
  if (wasRefreshing) ++refreshesEnded_;
}

void TArtList::PlanOrEnd(const std::shared_ptr<TSrvGrp>& sg, TConnectionFace& connection, FFollowUp& follow,
                         TQueueKind kind, uint32_t low, uint32_t high) {
  if (PlanNextCommand(*sg, connection, kind, low, high)) {
    HoldMap(sg);
    AddInFlight(sg, kind, low, high);
    follow.action = FFollowUp::faEnqueue;
    follow.kind = kind;
    follow.low = low;
    follow.high = high;
    follow.group = &sg->Group();
    follow.sg = sg;
    return;
  }
  if (!HasInFlight(*sg)) EndRefresh(*sg);
  follow.action = FFollowUp::faNext;
}

void TArtList::EndAllRefreshes() {
  std::lock_guard lock(gHeaderRetrievalLock);
  for (auto& [key, refresh] : refreshes_)
    if (refresh.holdsMap) {
      CheckpointMap(*refresh.sg, true);
      refresh.sg->ReleaseOffsMap();
    }
  refreshes_.clear();
}

bool TArtList::Refreshing(const TSrvGrp& sg) const {
  std::lock_guard lock(gHeaderRetrievalLock);
  return !sg.RefreshIdle.load() || refreshes_.count(&sg) != 0;
}

}  // namespace zev
