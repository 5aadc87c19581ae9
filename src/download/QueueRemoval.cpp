// Items leave the queue when their group or server goes away, when the user deletes them,
// and when finished items are cleared.
#include "db/Group.h"
#include "db/Server.h"
#include "download/QueueInternal.h"

namespace zev {

namespace {

void CollectNewsgroups(TGroup& node, std::vector<TGroup*>& out) {
  if (node.IsNewsgroup()) out.push_back(&node);
  for (const auto& child : node.Children()) CollectNewsgroups(*child, out);
}

void CollectServerNodes(TServer& node, std::vector<TServer*>& out) {
  out.push_back(&node);
  for (const auto& child : node.Children()) CollectServerNodes(*child, out);
}

}  // namespace

void TQueue::Orphan(TQueueItem* item) {
  // A connection still works on it: finished, and freed when the connection lets go.
  Uncount(item);
  if (item->IsBody() && !item->IsHandled()) {
    offsets_.Remove(item);
    GroupCountDelta(item->Group, -1);
  }
  item->Target = kHandledTarget;
  changed_ = true;
}

void TQueue::RemoveForNode(TGroup& node) {
  std::vector<TGroup*> groups;
  CollectNewsgroups(node, groups);
  std::lock_guard lock(lock_);
  std::vector<TNodeId> ids;
  for (TGroup* group : groups)
    if (TNodeId id = refs_.Groups.Find(group)) ids.push_back(id);
  std::vector<TQueueItem*> victims;
  for (TQueueItem* item : list_)
    if (item && std::find(ids.begin(), ids.end(), item->Group) != ids.end()) victims.push_back(item);
  for (TQueueItem* item : victims) item->Handler ? Orphan(item) : Retire(item);
  for (TNodeId id : ids) {
    xpat_.erase(id);
    queuedBodies_.erase(id);
  }
  for (TGroup* group : groups) refs_.Groups.Forget(group);
}

void TQueue::ForgetServer(TServer& node) {
  std::vector<TServer*> nodes;
  CollectServerNodes(node, nodes);
  std::lock_guard lock(lock_);
  ForgetServers(nodes);
}

void TQueue::ForgetServers(const std::vector<TServer*>& nodes) {
  std::vector<TNodeId> ids;
  for (TServer* n : nodes)
    if (TNodeId id = refs_.Servers.Find(n)) ids.push_back(id);
  auto gone = [&](TNodeId id) { return id && std::find(ids.begin(), ids.end(), id) != ids.end(); };
  // From here on the server-group lists may still report these nodes for a moment; the
  // queue no longer takes them from there.
  for (TServer* n : nodes) refs_.Servers.Forget(n);
  for (TNodeId slot : ids) {
    switches_.erase(slot);
    slotGroups_.erase(slot);
  }
  std::vector<TQueueItem*> affected;
  for (TQueueItem* item : list_)
    if (item) affected.push_back(item);
  for (TQueueItem* item : affected) {
    if (gone(item->Handler)) item->Handler = 0;
    if (!item->IsBody()) {
      // Header work belongs to its server's numbering and goes with it.
      if (gone(item->Target) || (item->IsHandled() && !item->Handler)) item->Handler ? Orphan(item) : Retire(item);
      continue;
    }
    if (item->IsHandled()) {
      if (!item->Handler) Retire(item);
      continue;
    }
    if (gone(item->Target)) item->Target = 0;
    const auto& members = carriers_.Members(item->carriers_);
    if (std::any_of(members.begin(), members.end(), gone))
      Resource(item);
    else
      Refile(item);
  }
  changed_ = true;
}

void TQueue::DeleteItems(TLockedList&, const std::vector<TQueueItem*>& items) {
  for (TQueueItem* item : items) {
    if (!item || !pool_.Owns(item) || !TQueueItemPool::IsLive(item)) continue;
    if (item->IsHandled()) {
      FreeItem(item);
      continue;
    }
    if (item->Handler) continue;
    if (!item->IsBody() && item->Kind != qkXpat) {
      // The refresh may be scheduled anew.
      TServer* server = refs_.Servers.Resolve(item->Target);
      TGroup* group = refs_.Groups.Resolve(item->Group);
      if (server && group) serverGroups_.SetRefreshIdle(*server, *group, true);
    }
    if (item->IsBody() && item->Data[0] > kLastInvalidOffset) articles_.Unmark(item->Data[0]);
    FreeItem(item);
  }
  changed_ = true;
}

void TQueue::Retarget(TLockedList&, TQueueItem* item, TServer* server) {
  if (!item || !pool_.Owns(item) || !TQueueItemPool::IsLive(item)) return;
  if (item->Handler || item->IsHandled() || !item->Has(qfArticle)) return;
  item->Target = server ? refs_.Servers.Register(&server->NewsServer()) : 0;
  backoff_.Forget(item);
  Refile(item);
  changed_ = true;
}

void TQueue::PurgeHandled() {
  std::lock_guard lock(lock_);
  if (!purge_) return;
  std::vector<TQueueItem*> handled;
  for (TQueueItem* item : list_)
    if (item && item->IsHandled()) handled.push_back(item);
  for (TQueueItem* item : handled) FreeItem(item);
}

}  // namespace zev
