#include "ui/EngineLink.h"

#include <algorithm>
#include <memory>

#include "core/Intl.h"
#include "db/Group.h"
#include "db/SGLst.h"
#include "db/Server.h"
#include "db/ServerTree.h"
#include "download/Queue.h"
#include "nntp/ConnMgr.h"
#include "nntp/Connection.h"
#include "nntp/ConnectionPool.h"
#include "ui/QueryDlg.h"

namespace zev::ui {
namespace {

std::unique_ptr<TConnMgr> gManager;

// The names behind an item's identities.
std::string NodeName(TQueue::TLockedList& list, TNodeId id, const std::string& none) {
  if (!id) return none;
  (void)list;
  return "#" + std::to_string(id);  // PENDING-QUEUE-ACCESSOR
}

std::string GroupName(TQueue::TLockedList& list, TNodeId id) {
  (void)list;
  return id ? "#" + std::to_string(id) : "(NULL)";  // PENDING-QUEUE-ACCESSOR
}

std::string DataText(const TQueueItem& item) {
  std::string text;
  for (uint8_t i = 0; i < item.DataCount && i < item.Data.size(); ++i) text += std::to_string(item.Data[i]) + " ";
  return text;
}

}  // namespace

bool QueuePaused() { return gQueue && gQueue->IsPaused(); }
void SetQueuePaused(bool paused) {
  if (gQueue) gQueue->SetPaused(paused);
}
size_t QueueItemCount() { return gQueue ? gQueue->ItemCount() : 0; }
uint64_t QueueBytes() { return gQueue ? gQueue->TotalBytes() : 0; }
std::string QueueSummary() { return gQueue ? gQueue->SummaryText() : "0 (0 kB)"; }

std::string QueueHint(const std::string& eta) {
  return gQueue ? gQueue->StatusHint(eta) : std::string(Tr("No marked articles in queue"));
}

bool QueueFinished() {
  if (!gQueue) return true;
  auto list = gQueue->LockList();
  for (size_t i = 0; i < list.Count(); ++i) {
    const TQueueItem* item = list.Item(i);
    if (item && !item->IsHandled()) return false;
  }
  return true;
}

bool QueueTakeChanged() { return gQueue && gQueue->TakeChanged(); }

FGroupFigures GroupFigures(const TGroup& group) {
  FGroupFigures f;
  if (gQueue) {
    f.queuedBodies = gQueue->QueuedBodies(group);
    f.pendingServers = gQueue->CountPendingServers(group);
  }
  if (gServerGroups) {
    for (const TSGLst::TEntry& e : gServerGroups->EntriesOf(group)) {
      ++f.servers;
      f.articles = std::max(f.articles, e->ArtCount());
    }
  }
  return f;
}

void RefreshGroups(TGroup& node, bool automatic) {
  if (gQueue) gQueue->ScheduleRefresh(node, automatic, rmPlain);
}

void QueueForgetServer(TServer& node) {
  if (gQueue) gQueue->ForgetServer(node);
}

void QueueForgetGroup(TGroup& node) {
  if (gQueue) gQueue->RemoveForNode(node);
}

std::vector<FQueueRow> QueueRows() {
  std::vector<FQueueRow> rows;
  if (!gQueue) return rows;
  auto list = gQueue->LockList();
  rows.reserve(list.Count());
  for (size_t i = 0; i < list.Count(); ++i) {
    const TQueueItem* item = list.Item(i);
    if (!item) continue;
    FQueueRow r;
    r.item = item;
    r.type = QueueKindTypeText(item->Kind);
    r.score = item->Score;
    r.handled = item->IsHandled();
    r.working = item->Handler != 0;
    r.handler = NodeName(list, item->Handler, "-");
    r.target = r.handled ? Tr("(handled)") : NodeName(list, item->Target, Tr("any"));
    r.group = GroupName(list, item->Group);
    r.data = DataText(*item);
    rows.push_back(std::move(r));
  }
  return rows;
}

void ScoreQueueItems(const std::vector<const void*>& items, int value, bool relative) {
  if (!gQueue || items.empty()) return;
  std::vector<std::pair<TArticleOffset, int>> articles;
  {
    auto list = gQueue->LockList();
    for (size_t i = 0; i < list.Count(); ++i) {
      TQueueItem* item = list.Item(i);
      if (!item || item->IsHandled() || std::find(items.begin(), items.end(), item) == items.end()) continue;
      const int delta = std::clamp(value, -256, 256);
      const int score = std::clamp(relative ? item->Score + delta : value, -128, 127);
      // A body's score is its article's; the queue files it anew from there.
      if (item->IsBody()) articles.emplace_back(item->Offset(), score);
      else item->Score = static_cast<int8_t>(score);
    }
  }
  for (auto [offset, score] : articles) gQueue->SetArticleScore(offset, score);
}

void DeleteQueueItems(const std::vector<const void*>& items) {
  if (!gQueue || items.empty()) return;
  auto list = gQueue->LockList();
  std::vector<TQueueItem*> chosen;
  for (size_t i = 0; i < list.Count(); ++i) {
    TQueueItem* item = list.Item(i);
    if (item && std::find(items.begin(), items.end(), item) != items.end()) chosen.push_back(item);
  }
  gQueue->DeleteItems(list, chosen);
}

int ConnectNode(TServer& node, int count) { return StartSlot(node, false, count); }

void DisconnectNode(TServer& node, bool force) {
  StopSlots(node, true, force, [] {
    bool remember = false;
    return QueryUser(kForceDisconnectQuestion, 0, remember, anNo) == anYes;
  });
}

void StopAllConnections(bool force) {
  if (!gServers) return;
  for (const auto& root : gServers->Roots()) StopSlots(*root, true, force);
}

bool ConnectionsBelow(const TServer& node) {
  if (node.IsSlot()) return node.Connection.load() != nullptr || kBusyStates.Contains(node.State());
  for (const auto& child : node.Children())
    if (ConnectionsBelow(*child)) return true;
  return false;
}

size_t RunningConnections() { return gConnectionPool ? gConnectionPool->RunningCount() : 0; }

void KickConnectionManager(TServerTree& tree) {
  if (!gConnectionPool) return;
  if (!gManager) {
    gManager = std::make_unique<TConnMgr>(tree, *gConnectionPool);
    gConnMgr = gManager.get();
  }
  gManager->Kick();
}

void EndConnectionManager() {
  gConnMgr = nullptr;
  gManager.reset();
}

bool ConnectionManagerExists() { return gManager != nullptr; }

}  // namespace zev::ui
