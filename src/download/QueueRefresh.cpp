// Refresh scheduling: a group item per server that carries the group, manual or when an
// automatic refresh is due; and the look-ups over header work that go with it.
#include <algorithm>

#include "db/Group.h"
#include "db/Server.h"
#include "db/ServerTree.h"
#include "download/QueueInternal.h"

namespace zev {

namespace {

void CollectNewsgroups(TGroup& node, std::vector<TGroup*>& out) {
  if (node.IsNewsgroup()) out.push_back(&node);
  for (const auto& child : node.Children()) CollectNewsgroups(*child, out);
}

constexpr uint32_t KindBit(TQueueKind kind) { return 1u << kind; }
// A refresh or header command already pending for the pair.
constexpr uint32_t kRefreshKinds = ~(KindBit(qkXpat) | KindBit(qkBody)) & ((1u << kQueueKindCount) - 1);

}  // namespace

void TQueue::ScheduleRefresh(TGroup& node, bool automatic, TRefreshMode mode) {
  std::vector<TGroup*> groups;
  CollectNewsgroups(node, groups);
  std::vector<TServer*> servers;
  servers_.ForEachNode([&](TServer& s) {
    if (s.IsNewsServer() && s.ServerMode != smArticles && s.ServerMode != smDormant) servers.push_back(&s);
  });
  std::lock_guard lock(lock_);
  const TDateTime now = dateClock_();
  for (TGroup* group : groups) ScheduleGroupRefresh(*group, servers, automatic, mode, now);
}

void TQueue::ScheduleGroupRefresh(TGroup& group, const std::vector<TServer*>& servers, bool automatic,
                                  TRefreshMode mode, TDateTime now) {
  const TNodeId groupId = refs_.Groups.Register(&group);
  bool queued = false;
  TDateTime latest = 0;
  for (TServer* server : servers) {
    if (!serverGroups_.HasRecord(*server, group)) continue;
    if (!automatic) serverGroups_.SetRefreshKind(*server, group, mode);
    const TNodeId serverId = refs_.Servers.Register(server);
    if (FindHeaderItem(serverId, groupId, kRefreshKinds, false)) continue;
    bool due = !automatic;
    if (automatic) {
      TDateTime last = group.LastRefresh;
      if (last == 0) {
        last = serverGroups_.LastRefresh(*server, group);
        latest = std::max(latest, last);
      }
      due = group.Has(gfAutoRefresh) && serverGroups_.RefreshIdle(*server, group) && group.RefreshThreshold(now) > last;
    }
    if (!due) continue;
    serverGroups_.RefreshQueued(*server, group);
    TQueueItem* item = NewItem(qkGroup, groupId, group.HeaderScore);
    item->Target = serverId;
    Append(item);
    queued = true;
  }
  if (queued) {
    group.LastRefresh = now;
    group.RefreshChanged.exchange(1);
  } else if (group.LastRefresh == 0) {
    group.LastRefresh = latest;
  }
}

TQueueItem* TQueue::FindHeaderItem(TNodeId target, TNodeId group, uint32_t kinds, bool withHandled) const {
  for (TQueueItem* item : headerItems_)
    if (item->Target == target && item->Group == group && (kinds >> item->Kind & 1u) &&
        (withHandled || !item->IsHandled()))
      return item;
  return nullptr;
}

TQueueItem* TQueue::FindItem(TLockedList&, const TServer* target, const TGroup* group, uint32_t kinds) {
  const TNodeId targetId = target ? refs_.Servers.Find(target) : 0;
  const TNodeId groupId = group ? refs_.Groups.Find(group) : 0;
  if ((target && !targetId) || (group && !groupId)) return nullptr;
  if (!(kinds & KindBit(qkBody))) return FindHeaderItem(targetId, groupId, kinds, true);
  Compact();
  for (TQueueItem* item : list_)
    if (item->Target == targetId && item->Group == groupId && (kinds >> item->Kind & 1u)) return item;
  return nullptr;
}

int TQueue::CountPendingServers(const TGroup& group) {
  std::lock_guard lock(lock_);
  const TNodeId groupId = refs_.Groups.Find(&group);
  if (!groupId) return 0;
  std::vector<TNodeId> servers;
  for (const TQueueItem* item : headerItems_)
    if (item->Group == groupId && item->Target && !item->IsHandled()) servers.push_back(item->Target);
  std::sort(servers.begin(), servers.end());
  return static_cast<int>(std::unique(servers.begin(), servers.end()) - servers.begin());
}

}  // namespace zev
