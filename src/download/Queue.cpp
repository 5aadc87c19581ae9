#include "download/Queue.h"

#include <algorithm>
#include <unordered_set>

#include "core/Log.h"
#include "db/Group.h"
#include "db/RateMeter.h"
#include "download/QueueGroupSelection.h"
#include "download/QueueInternal.h"

namespace zev {

TQueue* gQueue = nullptr;

namespace {

int8_t ClampScore(int score) { return static_cast<int8_t>(std::clamp(score, -128, 127)); }

uint32_t Size32(uint64_t size) { return size > kOversizedArticle ? kOversizedArticle : static_cast<uint32_t>(size); }

}  // namespace

// --- The locked list ---

TQueue::TLockedList::TLockedList(TQueue& queue) : queue_(&queue), lock_(queue.lock_) {}

TQueue::TLockedList::~TLockedList() {
  if (!lock_.owns_lock()) return;
  queue_->FileUnfiled();
  queue_->FreeUnusedSets();
}

void TQueue::TLockedList::PutBodyCommand(TGroup& group, uint32_t flags, int score, TArticleOffset offset) {
  queue_->PutBody(&group, flags, nullptr, score, offset);
}

size_t TQueue::TLockedList::Count() {
  queue_->Compact();
  return queue_->list_.size();
}

TQueueItem* TQueue::TLockedList::Item(size_t row) {
  queue_->Compact();
  return row < queue_->list_.size() ? queue_->list_[row] : nullptr;
}

TQueue::TLockedList TQueue::LockList() { return TLockedList(*this); }

// --- Construction and settings ---

TQueue::TQueue(TQueueArticles& articles, TQueueServerGroups& serverGroups, TServerTree& servers)
    : articles_(articles),
      serverGroups_(serverGroups),
      servers_(servers),
      freeSpace_(articles),
      clock_(&TickCountMs),
      dateClock_(&NowLocal),
      groupSelection_(std::make_unique<TQueueGroupSelection>(*this)) {}

TQueue::~TQueue() {
  std::lock_guard lock(lock_);
  for (TQueueItem* item : list_)
    if (item) FreeItem(item);
  FreeUnusedSets();
}

void TQueue::SetResponseTarget(TResponseTarget* target) {
  std::lock_guard lock(lock_);
  target_ = target;
}

void TQueue::SetHeaderObserver(TQueueHeaderObserver* observer) {
  std::lock_guard lock(lock_);
  observer_ = observer;
}

void TQueue::ApplySettings(const FQueueSettings& settings) {
  std::lock_guard lock(lock_);
  const bool reorder = settings.queuedOrder != settings_.queuedOrder;
  settings_ = settings;
  offlineCheck_ = settings.lowerPriorityWhenOffline;
  if (!reorder) return;
  // The heaps are ordered by date or by list order: file everything again.
  scheduler_.SetQueuedOrder(settings.queuedOrder);
  scheduler_.Rebuild(list_, [&](uint32_t set) { return carriers_.Members(set); });
}

FQueueSettings TQueue::Settings() const {
  std::lock_guard lock(lock_);
  return settings_;
}

void TQueue::SetClock(std::function<int64_t()> nowMs) {
  std::lock_guard lock(lock_);
  clock_ = std::move(nowMs);
}

void TQueue::SetDateClock(std::function<TDateTime()> now) {
  std::lock_guard lock(lock_);
  dateClock_ = std::move(now);
}

void TQueue::SetDiskSpaceProbe(TDiskSpaceProbe probe) {
  std::lock_guard lock(lock_);
  freeSpace_.SetProbe(std::move(probe));
}

// --- Items and the list ---

TQueueItem* TQueue::NewItem(TQueueKind kind, TNodeId group, int8_t score) {
  TQueueItem* item = pool_.Allocate();
  item->Kind = kind;
  item->Group = group;
  item->Score = score;
  return item;
}

void TQueue::Append(TQueueItem* item, bool file) {
  if (nextSeq_ == UINT32_MAX) {
    // Sequence numbers only order the list; renumber before they run out.
    Compact();
    nextSeq_ = 1;
    for (TQueueItem* i : list_) i->seq_ = nextSeq_++;
    scheduler_.Rebuild(list_, [&](uint32_t set) { return carriers_.Members(set); });
  }
  item->seq_ = nextSeq_++;
  item->listPos_ = static_cast<uint32_t>(list_.size());
  list_.push_back(item);
  if (item->IsBody()) {
    offsets_.Add(item);
    if (file) scheduler_.File(item, carriers_.Members(item->carriers_));
  } else {
    headerItems_.push_back(item);
  }
  primarySort_ = -1;
  changed_ = true;
}

void TQueue::Refile(TQueueItem* item) {
  if (!item->IsBody()) return;
  scheduler_.File(item, carriers_.Members(item->carriers_));
  if (scheduler_.Cluttered(pool_.LiveCount()))
    scheduler_.Rebuild(list_, [&](uint32_t set) { return carriers_.Members(set); });
}

void TQueue::RecomputeCarriers(TQueueItem* item, const std::vector<FArticleSource>& sources) {
  std::vector<TNodeId> servers;
  servers.reserve(sources.size());
  for (const FArticleSource& s : sources)
    if (s.artNo != 0)
      if (TNodeId id = refs_.Servers.FromIndex(s.server)) servers.push_back(id);
  const uint32_t before = item->carriers_;
  item->carriers_ = carriers_.Intern(std::move(servers));
  if (item->carriers_ == TQueueCarrierSets::kEmpty && before != TQueueCarrierSets::kEmpty)
    homeless_.push_back({item, item->seq_});
}

void TQueue::Resource(TQueueItem* item) {
  sources_.clear();
  serverGroups_.Sources(item->Data[0], sources_);
  RecomputeCarriers(item, sources_);
  Refile(item);
}

void TQueue::FileUnfiled() {
  // Callers that add many articles register the servers' numbers around their adds, so the
  // servers are looked up now, once per article.
  for (const FItemRef& ref : unfiled_) {
    if (!ref.Valid() || !ref.item->IsBody()) continue;
    ref.item->carriers_ = ~0u;  // not looked up yet: an empty result counts as homeless
    Resource(ref.item);
  }
  unfiled_ = {};
}

void TQueue::SweepHomeless(int64_t nowMs) {
  // An article no server was known to carry may have been found since (a refresh of
  // another server); nothing would tell the queue, so it looks again once a second, a
  // batch at a time. Those still without a server go to the back.
  constexpr size_t kBatch = 256;
  if (homeless_.empty() || nowMs - lastSweepMs_ < 1000) return;
  lastSweepMs_ = nowMs;
  const auto take = static_cast<std::ptrdiff_t>(std::min(kBatch, homeless_.size()));
  std::vector<FItemRef> batch(homeless_.begin(), homeless_.begin() + take);
  homeless_.erase(homeless_.begin(), homeless_.begin() + take);
  std::unordered_set<TQueueItem*> seen;
  for (const FItemRef& ref : batch) {
    TQueueItem* item = ref.item;
    if (!ref.Valid() || !item->IsBody() || item->IsHandled() || item->carriers_ != TQueueCarrierSets::kEmpty) continue;
    if (!seen.insert(item).second) continue;
    item->carriers_ = ~0u;
    Resource(item);
  }
}

void TQueue::GroupCountDelta(TNodeId group, int delta) {
  if (!group) return;
  uint32_t& count = queuedBodies_[group];
  if (delta < 0 && count == 0) return;
  count += delta;
}

void TQueue::Uncount(TQueueItem* item) {
  if (!item->IsBody() || item->Has(qfUncounted)) return;
  const uint32_t size = item->Data[1];
  bodyCount_.fetch_sub(1);
  totalBytes_.fetch_sub(std::min<uint64_t>(size, totalBytes_.load()));
  if (TQueueFileSet* set = item->FileSet) set->TotalBytes -= std::min<uint64_t>(size, set->TotalBytes);
  item->Data[1] = 0;
  item->Flags |= qfUncounted;
}

void TQueue::FreeItem(TQueueItem* item) {
  if (!TQueueItemPool::IsLive(item)) return;
  // The totals follow every way an item leaves the queue, not only a download.
  Uncount(item);
  if (item->IsBody()) {
    if (!item->IsHandled()) GroupCountDelta(item->Group, -1);
    offsets_.Remove(item);
  } else {
    RemoveHeaderItem(item);
  }
  if (TQueueFileSet* set = item->FileSet) {
    item->FileSet = nullptr;
    ReleaseSet(set);
  }
  backoff_.Forget(item);
  if (item->listPos_ < list_.size() && list_[item->listPos_] == item) {
    list_[item->listPos_] = nullptr;
    ++holes_;
  }
  pool_.Free(item);
  changed_ = true;
  if (holes_ > 1024 && holes_ > list_.size() / 2) Compact();
}

void TQueue::Retire(TQueueItem* item) {
  Uncount(item);
  if (purge_) return FreeItem(item);
  // Kept for the grid until the user clears finished work; no longer queued.
  if (item->IsBody() && !item->IsHandled()) {
    offsets_.Remove(item);
    GroupCountDelta(item->Group, -1);
  }
  item->Target = kHandledTarget;
  item->Handler = 0;
  changed_ = true;
}

void TQueue::RemoveHeaderItem(TQueueItem* item) {
  auto it = std::find(headerItems_.begin(), headerItems_.end(), item);
  if (it != headerItems_.end()) headerItems_.erase(it);
}

void TQueue::Compact() {
  if (holes_ == 0) return;
  size_t kept = 0;
  for (TQueueItem* item : list_) {
    if (!item) continue;
    item->listPos_ = static_cast<uint32_t>(kept);
    list_[kept++] = item;
  }
  list_.resize(kept);
  holes_ = 0;
}

// --- File sets ---

TQueueFileSet* TQueue::NewSet(bool fresh) {
  auto set = std::make_unique<TQueueFileSet>();
  set->index_ = static_cast<uint32_t>(sets_.size());
  set->fresh_ = fresh;
  sets_.push_back(std::move(set));
  if (fresh) freshSets_.push_back(sets_.back().get());
  return sets_.back().get();
}

void TQueue::ReleaseSet(TQueueFileSet* set) {
  if (--set->RefCount > 0 || set->fresh_) return;
  // Swap with the last set so that removal is O(1).
  const uint32_t index = set->index_;
  std::swap(sets_[index], sets_.back());
  sets_[index]->index_ = index;
  sets_.pop_back();
}

void TQueue::FreeUnusedSets() {
  // A fresh set is never freed before this point, so the pointers here are all valid.
  for (TQueueFileSet* set : freshSets_) {
    set->fresh_ = false;
    if (set->RefCount > 0) continue;
    set->RefCount = 1;
    ReleaseSet(set);
  }
  freshSets_.clear();
}

// --- Adding and finding articles ---

bool TQueue::PutBodyCommand(TLockedList&, TGroup* group, uint32_t flags, TQueueFileSet* set, int score,
                            TArticleOffset offset) {
  return PutBody(group, flags, set, score, offset);
}

bool TQueue::PutBody(TGroup* group, uint32_t flags, TQueueFileSet* set, int score, TArticleOffset offset) {
  if (offset <= kLastInvalidOffset || offsets_.Contains(offset)) return false;
  FQueueArticle article;
  if (!articles_.Read(offset, article)) return false;
  TQueueItem* item = nullptr;
  try {
    item = NewItem(qkBody, refs_.Groups.Register(group), score < -199 ? article.Score : ClampScore(score));
    item->Flags = flags | qfArticle | ((article.Flags & FlagBit(afSaveAsText)) ? uint32_t{qfSaveAsText} : 0u);
    item->Data = {offset, Size32(article.Size), 0, article.Date};
    item->DataCount = 4;
    if (set) {
      item->FileSet = set;
      ++set->RefCount;
      set->TotalBytes += item->Data[1];
    }
    GroupCountDelta(item->Group, +1);
    Append(item, false);
    unfiled_.push_back({item, item->seq_});
    bodyCount_.fetch_add(1);
    totalBytes_.fetch_add(item->Data[1]);
    return true;
  } catch (const std::exception& e) {
    if (item && item->seq_ == 0) {
      if (item->FileSet) ReleaseSet(item->FileSet);
      pool_.Free(item);
    }
    LogException(e, "TQueue.PutBodyCommand", "Skipping article!", 2);
    return false;
  }
}

bool TQueue::IsQueued(TLockedList&, TArticleOffset offset) { return offsets_.Contains(offset); }

void TQueue::MarkHandled(TLockedList&, TArticleOffset offset, const TServer* handlerSlot) {
  MarkHandledLocked(offset, handlerSlot);
}

void TQueue::MarkHandled(TArticleOffset offset, const TServer* handlerSlot) {
  std::lock_guard lock(lock_);
  MarkHandledLocked(offset, handlerSlot);
}

void TQueue::MarkHandledLocked(TArticleOffset offset, const TServer* handlerSlot) {
  const TNodeId handler = handlerSlot ? refs_.Servers.Find(handlerSlot) : 0;
  if (handlerSlot && !handler) return;
  offsets_.ForEach(offset, [&](TQueueItem* item) {
    if (item->Handler == handler) Retire(item);
  });
}

void TQueue::SetArticleScore(TArticleOffset offset, int score) {
  std::lock_guard lock(lock_);
  offsets_.ForEach(offset, [&](TQueueItem* item) {
    item->Score = ClampScore(score);
    Refile(item);
    changed_ = true;
  });
}

void TQueue::UpdateSizes(const std::vector<std::pair<TArticleOffset, uint64_t>>& sizes) {
  std::lock_guard lock(lock_);
  for (const auto& entry : sizes) {
    const uint32_t after = Size32(entry.second);
    offsets_.ForEach(entry.first, [&](TQueueItem* item) {
      if (item->Has(qfUncounted)) return;
      const uint32_t before = item->Data[1];
      item->Data[1] = after;
      totalBytes_.fetch_add(after);
      totalBytes_.fetch_sub(std::min<uint64_t>(before, totalBytes_.load()));
      if (TQueueFileSet* set = item->FileSet) set->TotalBytes = set->TotalBytes - std::min<uint64_t>(before, set->TotalBytes) + after;
      changed_ = true;
    });
  }
}

void TQueue::SourcesChanged(TArticleOffset offset) {
  std::lock_guard lock(lock_);
  offsets_.ForEach(offset, [&](TQueueItem* item) { Resource(item); });
}

// --- State for the main window ---

void TQueue::SetPaused(bool paused) {
  paused_ = paused;
  changed_ = true;
}

bool TQueue::PurgeMode() const {
  std::lock_guard lock(lock_);
  return purge_;
}

void TQueue::SetPurgeMode(bool purge) {
  std::lock_guard lock(lock_);
  purge_ = purge;
}

size_t TQueue::ItemCount() const {
  std::lock_guard lock(lock_);
  return list_.size() - holes_;
}

uint32_t TQueue::QueuedBodies(const TGroup& group) const {
  std::lock_guard lock(lock_);
  const TNodeId id = refs_.Groups.Find(&group);
  auto it = queuedBodies_.find(id);
  return id && it != queuedBodies_.end() ? it->second : 0;
}

int TQueue::PrimarySortColumn() const {
  std::lock_guard lock(lock_);
  return primarySort_;
}

}  // namespace zev
