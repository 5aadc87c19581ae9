// The main window's half-second timer and the status displays it keeps current.
#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableView>
#include <exception>
#include <shared_mutex>

#include "core/ChangeQueue.h"
#include "core/Config.h"
#include "core/Format.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "core/TextUtil.h"
#include "db/GroupTree.h"
#include "db/SGLst.h"
#include "db/Server.h"
#include "db/ServerTree.h"
#include "nntp/ConnMgr.h"
#include "ui/ConnectionPanels.h"
#include "ui/EngineLink.h"
#include "ui/Main.h"
#include "ui/NewsgroupsPage.h"
#include "ui/NodeTreeModel.h"
#include "ui/NodeTreeView.h"
#include "ui/QueueModel.h"
#include "ui/ShutdownWhenFinished.h"
#include "ui/StatusTexts.h"
#include "ui/TreeRows.h"

namespace zev::ui {
namespace {

// Once a minute the groups due for an automatic refresh are queued.
constexpr uint64_t kRefreshCheckTicks = 121;

template <typename Fn>
void Guarded(const char* where, Fn fn) {
  try {
    fn();
  } catch (const std::exception& e) {
    LogException(e, where);
  }
}

// The connections as the status displays see them, in tree order.
std::vector<FConnView> Connections(const TServerTree& tree) {
  std::vector<FConnView> out;
  tree.ForEachNode([&](TServer& node) {
    if (!node.IsSlot() || !IsActiveConnection(node.State())) return;
    FConnView c;
    c.server = node.Parent() ? node.Parent()->Name() : node.Name();
    c.state = node.State();
    const int64_t total = node.Status.ProgressTotal.load();
    if (total > 0) c.percent = static_cast<int>(std::min<int64_t>(100, node.Status.Progress.load() * 100 / total));
    c.group = node.Status.Get(TSlotStatus::CurrentGroup);
    out.push_back(std::move(c));
  });
  return out;
}

}  // namespace

void TfrmMain::Tick() {
  ++ticks_;
  Guarded("TfrmMain.Timer1Timer|SaveColumns", [this] { SaveChangedColumns(); });
  Guarded("TfrmMain.Timer1Timer|Changes", [this] { DrainChanges(); });
  ShowStatus();
  if (newsgroupsPage_) newsgroupsPage_->Tick();
  Guarded("TfrmMain.Timer1Timer|UpdateActions", [this] { UpdateActions(); });
  if (shuttingDown_) {
    if (!AnyConnectionActive() && !RemovalRunning()) close();
    return;
  }
  Guarded("TfrmMain.Timer1Timer|Servers", [this] {
    if (ticks_ % 2 == 0 && !servers_.Roots().empty() && !QueuePaused()) KickConnectionManager(servers_);
    ServersTick();
  });
  Guarded("TfrmMain.Timer1Timer|Refresh", [this] {
    if (std::exchange(refreshNow_, false) || ticks_ % kRefreshCheckTicks == 0)
      for (const auto& root : groups_.Roots()) RefreshGroups(*root, true);
  });
  Guarded("TfrmMain.Timer1Timer|Finish", [this] { FinishStep(); });
}

void TfrmMain::SaveChangedColumns() {
  bool changed = false;
  if (trvServers->TakeColumnsChanged()) {
    gConfig->ServersColumns = trvServers->Layout();
    changed = true;
  }
  if (trvGroups->TakeColumnsChanged()) {
    gConfig->GroupsColumns = trvGroups->Layout();
    changed = true;
  }
  if (std::exchange(queueColumnsChanged_, false)) {
    gConfig->QueueColumns = queueModel_->Layout(*drgQueue);
    changed = true;
  }
  if (changed) gConfig->Save();
}

// Engine threads leave notes for what only this thread may do to the trees.
void TfrmMain::DrainChanges() {
  if (!gChangeQueue) return;
  bool structure = false;
  for (const FChangeNote& note : gChangeQueue->Drain()) {
    if (note.what != TChange::SurplusSlots) continue;
    TServer* server = LiveServer(note.subject);
    if (server && server->IsNewsServer()) structure |= servers_.AdjustSlots(*server);
  }
  if (structure) RefreshTrees();
}

double TfrmMain::TotalSpeed() const {
  double speed = 0;
  servers_.ForEachNode([&](TServer& node) {
    if (node.IsNewsServer()) speed += node.CurrentRate();
  });
  return speed;
}

void TfrmMain::ShowStatus() {
  const double speed = TotalSpeed();
  const double remainingKB = static_cast<double>(QueueBytes()) / 1024.0;
  const std::string eta = EtaText(remainingKB, speed);
  lblETA->setText(QString::fromStdString(FormatText(Tr("ETA: %s"), eta.c_str())));
  Guarded("ShowStatus|lServerStatus", [this] { ShowTrees(); });
  Guarded("ShowStatus|lServerPanels", [&] { ShowStatusBar(eta); });
  Guarded("ShowStatus|lMinimizedStatus", [&] {
    const std::string overview = StatusOverview(static_cast<int64_t>(QueueItemCount()), QueueBytes() / 1024,
                                                ShortEtaText(remainingKB, speed), Connections(servers_));
    ShowCaption(overview);
  });
  Guarded("ShowStatus|lErrors", [this] { ShowErrors(); });
  Guarded("ShowStatus|lQueue", [this] { ShowQueue(false); });
}

void TfrmMain::ShowCaption(const std::string& overview) {
  const bool hidden = !isVisible() || isMinimized();
  const bool active = QApplication::applicationState() == Qt::ApplicationActive;
  const std::string title = gConfig->CaptionString;
  const QString caption =
      QString::fromStdString(CaptionShowsOverview(gConfig->CaptionMode, hidden, active) ? overview : title);
  if (windowTitle() != caption) setWindowTitle(caption);
  if (tray_ && tray_->isVisible() && tray_->toolTip() != caption) tray_->setToolTip(caption);
}

void TfrmMain::ShowStatusBar(const std::string& eta) {
  if (!progressText_.empty()) return;
  queueSummary_->setText(QString::fromStdString(QueueSummary()));
  queueSummary_->setToolTip(QString::fromStdString(QueueHint(eta)));
  std::vector<FPanel> panels;
  for (const FConnView& c : Connections(servers_)) panels.push_back(ConnectionPanel(c, gConfig->StatusBarMode));
  connPanels_->SetPanels(std::move(panels));
}

void TfrmMain::ShowErrors() {
  const std::string report = TakePendingReport();
  if (report.empty()) return;
  mmoErrors->appendPlainText(QString::fromStdString(report).trimmed());
  pgcControl->setTabVisible(pgcControl->indexOf(tbsErrors), true);
}

void TfrmMain::RefreshTrees() {
  ShowTrees();
  if (newsgroupsPage_) newsgroupsPage_->ServersChanged();
}

void TfrmMain::ShowTrees() {
  const void* currentServer = trvServers->CurrentNode();
  if (trvServers->Model()->Update(ServerTreeRows(servers_, trvServers->Columns(), TickCountMs()))) {
    trvServers->RestoreExpansion();
    trvServers->SelectNode(currentServer);
  }
  const void* currentGroup = trvGroups->CurrentNode();
  if (trvGroups->Model()->Update(GroupTreeRows(groups_, trvGroups->Columns(), NowLocal(), GroupFigures))) {
    trvGroups->RestoreExpansion();
    trvGroups->SelectNode(currentGroup);
  }
}

void TfrmMain::ShowQueue(bool force) {
  const bool changed = QueueTakeChanged();
  if (force || changed || pgcControl->currentWidget() == tbsQueue) queueModel_->SetRows(QueueRows());
}

void TfrmMain::UpdateActions() {
  const TServer* s = SelectedServer();
  const bool busy = RemovalRunning();
  actConnectServer->setEnabled(s && !busy);
  actDisconnectServer->setEnabled(s && ConnectionsBelow(*s));
  actServerProperties->setEnabled(s && !busy);
  actRemoveServer->setEnabled(s && !s->IsSlot() && s->Parent() && !busy && !ConnectionsBelow(*s));
  actPauseServer->setEnabled(s != nullptr);
  actPauseServer->setChecked(s && s->Paused.load());
  actLogServer->setEnabled(s && !s->IsFolderLike());
  actLogServer->setChecked(s && !s->IsFolderLike() && s->NewsServer().Has(sfLog));
  const TGroup* g = SelectedGroup();
  actRefreshGroup->setEnabled(!groups_.Roots().empty() && !busy);
  actGroupProperties->setEnabled(g && !busy);
  actRemoveGroup->setEnabled(g && g->Parent() && !busy);
  actPauseQueue->setChecked(QueuePaused());
  const std::vector<const void*> items = SelectedQueueItems();
  actQueueScore->setEnabled(!items.empty());
  actQueueDel->setEnabled(!items.empty());
  actQueueSelectAll->setEnabled(queueModel_->rowCount() > 0);
  actHide->setVisible(isVisible());
  actHide->setEnabled(tray_ != nullptr);
  actShow->setVisible(!isVisible());
}

void TfrmMain::ServersTick() {
  servers_.TakeRateSamples();
  servers_.CheckResets(NowLocal());
  // A server whose newsgroup list changed gets its missing server-groups, and the groups
  // it now carries are checked for a refresh at once.
  std::vector<TServer*> dirty;
  servers_.ForEachNode([&](TServer& node) {
    if (node.IsNewsServer() && node.ServerGroupsDirty.exchange(false)) dirty.push_back(&node);
  });
  for (TServer* server : dirty)
    if (gServerGroups) gServerGroups->AddServer(*server, groups_);
  if (!dirty.empty()) refreshNow_ = true;
}

// Work is done when nothing is left in the queue and no connection works; a missing
// connection manager (a paused queue) proves nothing.
bool TfrmMain::WorkDone() const {
  if (!QueueFinished()) return false;
  if (servers_.Roots().empty()) return true;
  for (const auto& root : servers_.Roots())
    if (servers_.CountInStates(*root, kBusyStates) > 0) return false;
  const TConnMgr* manager = gConnMgr.load();
  return !manager || manager->AllIdle();
}

bool TfrmMain::AnyConnectionActive() const {
  bool active = false;
  servers_.ForEachNode([&](TServer& node) {
    if (node.IsSlot() && (node.Connection.load() || kBusyStates.Contains(node.State()))) active = true;
  });
  return active || RunningConnections() > 0;
}

bool TfrmMain::AnyConnectionBusy() const {
  bool busy = false;
  servers_.ForEachNode([&](TServer& node) {
    if (node.IsSlot() && kBusyStates.Contains(node.State())) busy = true;
  });
  return busy;
}

void TfrmMain::FinishStep() {
  if (!finish_->Close()) return;
  const bool shutdown = finish_->Shutdown();
  const uint8_t method = finish_->Method();
  switch (finish_->Tick(WorkDone())) {
    case TShutdownWhenFinished::swCancelled:
      SetCloseWhenFinished(false);
      break;
    case TShutdownWhenFinished::swShutDown:
      pendingMethod_ = shutdown ? method : -1;
      exitCode_ = shutdown ? 64 + method : 0;
      SetCloseWhenFinished(false);
      close();
      break;
    default: break;
  }
}

}  // namespace zev::ui
