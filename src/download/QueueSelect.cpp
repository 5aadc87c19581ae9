// The scheduler: which item a connection gets, and whether one more connection of a server
// would find work.
//
// The rules: a server serves the body items targeted at it first. Otherwise the highest
// score wins, where items of the group the connection has selected get SameGroupScore on
// top (switching groups costs a command). At equal score a body item goes before header
// work; bodies then prefer the most suitable server for the article (TQueueRanking) and the
// oldest article, or simply list order with the "queued" download order; header work keeps
// list order. A body starts only when its file fits on the disk.
#include <algorithm>

#include "core/Intl.h"
#include "core/Log.h"
#include "core/TextUtil.h"
#include "db/Group.h"
#include "db/RateMeter.h"
#include "db/Server.h"
#include "download/QueueInternal.h"

namespace zev {

namespace {

// Items one selection may look at and turn down (no room on disk, backing off) before it
// gives up: a full disk must not make every request walk the whole queue.
constexpr int kProbeBudget = 64;

bool TakesBodies(uint32_t mode) { return mode != smHeaders && mode != smDormant; }

}  // namespace

void TQueue::BeginRanking(const FSelection& s) {
  const int64_t tick = TickCountMs();
  ranking_.Begin(
      [this, &s, tick](TNodeId id) {
        FServerStanding standing;
        if (const TServer* server = refs_.Servers.Resolve(id)) {
          standing.preference = server->Preference();
          standing.rate = server->AverageRate(tick);
          standing.offline = s.offline && std::find(s.offline->begin(), s.offline->end(), server) != s.offline->end();
        }
        return standing;
      },
      settings_.lowerPriorityWhenOffline);
}

int TQueue::BucketRank(uint32_t bucket, const FSelection& s) {
  const FBucketKey& key = scheduler_.Key(bucket);
  const int rank = ranking_.Rank(s.serverId, carriers_.Members(key.carriers));
  // What the user targeted at this server is its own to serve, whoever else has it.
  return key.target == s.serverId ? std::max(rank, 1) : rank;
}

TQueueItem* TQueue::TopFor(uint32_t bucket, FSelection& s) {
  while (TQueueItem* item = scheduler_.Top(bucket)) {
    if (!backoff_.Blocks(item, s.serverId, s.nowMs)) return item;
    if (--s.probes <= 0) return nullptr;
    scheduler_.SetAside(bucket);
  }
  return nullptr;
}

bool TQueue::HeaderItemEligible(const TQueueItem* item, const FSelection& s, bool targetedOnly) const {
  if (item->Handler || item->IsHandled()) return false;
  if (item->Target != s.serverId && (item->Target || targetedOnly)) return false;
  // Work that was left for any server is header work: not for servers that serve no headers.
  if (!item->Target && (s.mode == smArticles || s.mode == smDormant)) return false;
  return !backoff_.Blocks(item, s.serverId, s.nowMs);
}

int TQueue::Effective(const TQueueItem* item, const FSelection& s) const {
  const bool sameGroup = s.currentGroup && item->Group == s.currentGroup;
  return item->Score + (sameGroup ? settings_.sameGroupScore : 0);
}

TQueue::FCandidate TQueue::BestHeaderItem(const FSelection& s, bool targetedOnly) {
  FCandidate best;
  for (TQueueItem* item : headerItems_) {
    if (!HeaderItemEligible(item, s, targetedOnly)) continue;
    FCandidate c{item, Effective(item, s), 0, 0};
    if (!best.item || Better(c, best)) best = c;
  }
  return best;
}

bool TQueue::Better(const FCandidate& a, const FCandidate& b) const {
  if (!b.item) return true;
  if (a.eff != b.eff) return a.eff > b.eff;
  const TQueueItem& x = *a.item;
  const TQueueItem& y = *b.item;
  if (settings_.queuedOrder || (!x.IsBody() && !y.IsBody())) return x.seq_ < y.seq_;
  if (x.IsBody() != y.IsBody()) return x.IsBody();
  if (a.rank != b.rank) return a.rank > b.rank;
  if (x.Data[3] != y.Data[3]) return x.Data[3] < y.Data[3];
  return x.seq_ < y.seq_;
}

bool TQueue::HasTargetedBody(FSelection& s) {
  for (uint32_t bucket : scheduler_.BucketsOf(s.serverId)) {
    const FBucketKey& key = scheduler_.Key(bucket);
    if (key.target == s.serverId && carriers_.Contains(key.carriers, s.serverId) && TopFor(bucket, s)) return true;
  }
  return false;
}

uint32_t TQueue::ResolveOnServer(TQueueItem* item, const FSelection& s, TNodeId& group) {
  sources_.clear();
  serverGroups_.Sources(item->Data[0], sources_);
  uint32_t artNo = 0;
  for (const FArticleSource& source : sources_) {
    if (source.server != s.server || !source.artNo) continue;
    const TNodeId id = refs_.Groups.FromIndex(source.group);
    if (!id) continue;
    if (id == item->Group || !artNo) {
      artNo = source.artNo;
      group = id;
    }
    if (id == item->Group) break;
  }
  RecomputeCarriers(item, sources_);
  if (artNo) return artNo;
  // Not (or no longer) on this server: file it where it belongs.
  if (item->Target == s.serverId) {
    item->Target = 0;
    changed_ = true;
  }
  Refile(item);
  return 0;
}

FSpaceResult TQueue::CheckSpace(TQueueItem* item, FSelection& s) {
  const bool wasBad = item->Has(qfBadPath);
  const FSpaceResult result = freeSpace_.Check(*item, refs_.Groups.Resolve(item->Group), settings_);
  switch (result.verdict) {
    case TSpaceVerdict::Fits: break;
    case TSpaceVerdict::BadPath:
      if (!wasBad)
        LogError(FormatText("Cannot check the free disk space of \"%s\" (article offset %u); the download waits.",
                            result.directory.c_str(), item->Data[0]),
                 1);
      s.heldBack = FormatText(Tr("Download waits: cannot check the free disk space of \"%s\""),
                              result.directory.c_str());
      changed_ = true;
      break;
    case TSpaceVerdict::NoRoom:
    case TSpaceVerdict::Delayed:
      if (result.verdict == TSpaceVerdict::NoRoom || s.heldBack.empty())
        s.heldBack = FormatText(Tr("Download waits for free disk space in \"%s\""), result.directory.c_str());
      changed_ = true;
      break;
  }
  return result;
}

TQueueItem* TQueue::SelectNextItem(FSelection& s) {
  const bool bodies = TakesBodies(s.mode);
  s.probes = kProbeBudget;
  BeginRanking(s);
  const bool targetedOnly = bodies && HasTargetedBody(s);
  FCandidate header = BestHeaderItem(s, targetedOnly);
  candidates_.clear();
  if (bodies) {
    for (uint32_t bucket : scheduler_.BucketsOf(s.serverId)) {
      if (targetedOnly && scheduler_.Key(bucket).target != s.serverId) continue;
      const int rank = BucketRank(bucket, s);
      if (rank == 0) continue;
      FCandidate c{TopFor(bucket, s), 0, rank, bucket};
      if (c.item) c.eff = Effective(c.item, s);
      candidates_.push_back(c);
    }
  }
  TQueueItem* chosen = nullptr;
  for (;;) {
    FCandidate* best = header.item ? &header : nullptr;
    for (FCandidate& c : candidates_)
      if (c.item && (!best || Better(c, *best))) best = &c;
    if (!best) break;
    if (!best->item->IsBody()) {
      chosen = best->item;
      break;
    }
    if (HandOut(best->item, best->bucket, s)) {
      chosen = best->item;
      break;
    }
    if (--s.probes <= 0) break;
    best->item = TopFor(best->bucket, s);
    if (best->item) best->eff = Effective(best->item, s);
  }
  scheduler_.RestoreSetAside();
  if (chosen) {
    chosen->Handler = s.slotId;
    changed_ = true;
  }
  return chosen;
}

bool TQueue::HandOut(TQueueItem* item, uint32_t bucket, FSelection& s) {
  TNodeId group = 0;
  const uint32_t artNo = ResolveOnServer(item, s, group);
  if (!artNo) return false;  // filed elsewhere; its entry here is stale now
  if (!CheckSpace(item, s).MayStart()) {
    scheduler_.SetAside(bucket);
    return false;
  }
  scheduler_.Pop(bucket);
  item->Data[2] = artNo;
  if (group != item->Group) {
    // The article is reached through another group on this server.
    GroupCountDelta(item->Group, -1);
    GroupCountDelta(group, +1);
    item->Group = group;
  }
  return true;
}

bool TQueue::WorkAvailable(TServer& slot) {
  try {
    TServer& server = slot.NewsServer();
    const FSlotFacts facts = ReadSlotFacts(server, slot);
    const int needed = facts.aliveIdle - (kAliveIdleStates.Contains(slot.State()) ? 1 : 0);
    std::lock_guard lock(lock_);
    if (paused_) return false;
    FSelection s;
    s.server = &server;
    s.slot = &slot;
    s.serverId = refs_.Servers.Register(&server);
    s.slotId = refs_.Servers.Register(&slot);
    s.mode = server.ServerMode;
    s.nowMs = clock_();
    s.offline = &facts.offline;
    s.probes = kProbeBudget;
    return CountWork(s, needed);
  } catch (const std::exception& e) {
    LogException(e, "TQueue.WorkAvailable");
    return false;
  }
}

bool TQueue::CountWork(FSelection& s, int needed) {
  // True once the work found exceeds what the server's idle connections will take.
  int found = 0;
  auto oneMore = [&] { return found++ >= needed; };
  for (TQueueItem* item : headerItems_) {
    if (!HeaderItemEligible(item, s, false)) continue;
    if (item->Target == s.serverId || oneMore()) return true;
  }
  if (!TakesBodies(s.mode)) return false;
  BeginRanking(s);
  bool enough = false;
  for (uint32_t bucket : scheduler_.BucketsOf(s.serverId)) {
    const FBucketKey& key = scheduler_.Key(bucket);
    const bool targeted = key.target == s.serverId;
    if (targeted && !carriers_.Contains(key.carriers, s.serverId)) continue;
    if (!targeted && BucketRank(bucket, s) == 0) continue;
    scheduler_.ForEachFiled(bucket, [&](TQueueItem* item) {
      if (backoff_.Blocks(item, s.serverId, s.nowMs)) return true;
      if (targeted) return !(enough = true);
      if (--s.probes < 0) return false;
      if (CheckSpace(item, s).MayStart() && oneMore()) enough = true;
      return !enough;
    });
    if (enough || s.probes < 0) break;
  }
  return enough;
}

}  // namespace zev
