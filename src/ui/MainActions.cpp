// The main window's commands on the server and group trees.
#include <QTableView>

#include "core/Config.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "core/TextUtil.h"
#include "db/Group.h"
#include "db/GroupTree.h"
#include "db/NewsgroupCatalog.h"
#include "db/SGLst.h"
#include "db/Server.h"
#include "db/ServerTree.h"
#include "ui/ColumnCfg.h"
#include "ui/Confirmation.h"
#include "ui/EngineLink.h"
#include "ui/GroupCfg.h"
#include "ui/Main.h"
#include "ui/MessageBoxes.h"
#include "ui/NodeRemoval.h"
#include "ui/NodeTreeView.h"
#include "ui/QueryDlg.h"
#include "ui/QueueModel.h"
#include "ui/ServerCfg.h"
#include "ui/TreePlacement.h"

namespace zev::ui {
namespace {

void CollectNewsServers(TServer& node, std::vector<TServer*>& out) {
  if (node.IsNewsServer()) out.push_back(&node);
  else if (!node.IsSlot())
    for (const auto& child : node.Children()) CollectNewsServers(*child, out);
}

void CollectNewsgroups(TGroup& node, std::vector<TGroup*>& out) {
  if (node.IsNewsgroup()) out.push_back(&node);
  for (const auto& child : node.Children()) CollectNewsgroups(*child, out);
}

void SetPausedBelow(TServer& node, bool paused) {
  node.Paused = paused;
  for (const auto& child : node.Children()) SetPausedBelow(*child, paused);
}

// Drops every server-group of the pairs: their map files go, and with them the articles'
// references (articles nobody else refers to expire).
void ExpireServerGroups(const std::vector<std::pair<TServer*, std::string>>& pairs) {
  if (!gServerGroups) return;
  for (const auto& [server, group] : pairs) gServerGroups->RemoveGroupFromServer(*server, group, false);
}

}  // namespace

TServer* TfrmMain::LiveServer(const void* node) const {
  if (!node) return nullptr;
  TServer* found = nullptr;
  servers_.ForEachNode([&](TServer& n) {
    if (&n == node) found = &n;
  });
  return found;
}

TGroup* TfrmMain::LiveGroup(const void* node) const {
  if (!node) return nullptr;
  TGroup* found = nullptr;
  groups_.ForEachNode([&](TGroup& n) {
    if (&n == node) found = &n;
  });
  return found;
}

TServer* TfrmMain::SelectedServer() const { return LiveServer(trvServers->CurrentNode()); }
TGroup* TfrmMain::SelectedGroup() const { return LiveGroup(trvGroups->CurrentNode()); }

TServer* TfrmMain::FolderForNewServerNode() const {
  TServer* node = SelectedServer();
  if (node && node->IsSlot()) node = node->Parent();
  if (node && node->IsNewsServer()) node = node->Parent();
  if (!node && !servers_.Roots().empty()) node = servers_.Roots().front().get();
  return node;
}

TGroup* TfrmMain::FolderForNewGroupNode() const {
  TGroup* node = SelectedGroup();
  if (node && node->IsNewsgroup()) node = node->Parent();
  if (!node && !groups_.Roots().empty()) node = groups_.Roots().front().get();
  return node;
}

void TfrmMain::ConnectServer() {
  if (TServer* node = SelectedServer()) ConnectNode(*node);
  ShowTrees();
}

void TfrmMain::DisconnectServer() {
  if (TServer* node = SelectedServer()) DisconnectNode(*node, gConfig->Has(cfNoDelayedDisconnect));
  ShowTrees();
}

void TfrmMain::PauseServer() {
  TServer* node = SelectedServer();
  if (!node) return;
  SetPausedBelow(*node, !node->Paused.load());
  ShowTrees();
  UpdateActions();
}

void TfrmMain::LogServer() {
  TServer* node = SelectedServer();
  if (!node) return;
  TServer& server = node->NewsServer();
  server.SetFlag(sfLog, !server.Has(sfLog));
  servers_.SaveServers();
  UpdateActions();
}

void TfrmMain::ServerProperties() {
  TServer* node = SelectedServer();
  if (!node) return;
  EditServer(node->IsSlot() ? node->NewsServer() : *node, servers_);
  RefreshTrees();
}

void TfrmMain::NewServer() {
  TServer* parent = FolderForNewServerNode();
  TServer* server = servers_.CreateServerNode(Tr("New Server"), snNewsServer, parent);
  servers_.AdjustSlots(*server);
  RefreshTrees();
  trvServers->SelectNode(server);
  if (!EditServer(*server, servers_)) {
    QueueForgetServer(*server);
    servers_.FreeServerNodes(server);
    servers_.SaveServers();
    RefreshTrees();
    return;
  }
  servers_.SaveServers();
  if (gServerGroups) gServerGroups->AddServer(*server, groups_);
  RefreshTrees();
  trvServers->SelectNode(server);
  bool remember = false;
  const std::string question =
      FormatText(Tr("Do you wish to open a connection to \"%s\" and download the list of available newsgroups now? "
                    "If you choose No, then the list of newsgroups will be downloaded the first time you manually "
                    "connect to this server."),
                 server->Name().c_str());
  if (QueryUser(question, 0, remember, anYes) == anYes) ConnectNode(*server, 1);
  ShowTrees();
}

void TfrmMain::NewServerFolder() {
  std::string name;
  if (!AskText(Tr("New Server Folder Name"), Tr("Enter name of the new server folder"), name)) return;
  if (Trim(name).empty()) return;
  TServer* folder = servers_.CreateServerNode(std::string(Trim(name)), snFolder, FolderForNewServerNode());
  servers_.SaveServers();
  RefreshTrees();
  trvServers->SelectNode(folder);
}

void TfrmMain::RemoveServer() {
  TServer* node = SelectedServer();
  if (!node || node->IsSlot() || !node->Parent() || RemovalRunning()) return;
  if (ConnectionsBelow(*node)) return;
  const std::string name = node->Name();
  const std::string question =
      node->IsFolderLike()
          ? FormatText(Tr("Are you sure you wish to delete the %s folder (all servers in this folder will be deleted "
                          "as well)?"),
                       name.c_str())
          : FormatText(Tr("Are you sure you wish to delete server \"%s\"?"), name.c_str());
  const std::string refusal = Tr(
      "Removal of servers or server folders is disallowed.  See to Options | Confirmations to change settings and "
      "try again.");
  if (Confirm(cnDeleteServer, question, refusal, true) != anYes) return;
  SetProgressText(Tr("Removing server and expiring articles...May take a while for servers with many articles"));
  std::vector<TServer*> newsServers;
  CollectNewsServers(*node, newsServers);
  // Nothing may start on the servers while their articles go.
  SetPausedBelow(*node, true);
  QueueForgetServer(*node);
  std::vector<std::pair<TServer*, std::string>> pairs;
  if (gServerGroups)
    for (size_t i = 0; i < gServerGroups->Count(); ++i)
      if (TSGLst::TEntry e = gServerGroups->Item(i))
        for (TServer* s : newsServers)
          if (&e->Server() == s) pairs.emplace_back(s, e->Group().Name());
  removal_->Run(Tr("Removing server and expiring articles..."), [pairs] { ExpireServerGroups(pairs); },
                [this, node] {
                  if (TServer* live = LiveServer(node)) servers_.FreeServerNodes(live);
                  servers_.SaveServers();
                  SetProgressText("");
                  RefreshTrees();
                  UpdateActions();
                });
}

void TfrmMain::RefreshGroup() {
  TGroup* node = SelectedGroup();
  if (!node && !groups_.Roots().empty()) node = groups_.Roots().front().get();
  if (!node) return;
  RefreshGroups(*node, false);
  ShowTrees();
}

void TfrmMain::GroupProperties() {
  TGroup* node = SelectedGroup();
  if (!node) return;
  EditGroup(*node, groups_);
  RefreshTrees();
}

void TfrmMain::NewGroupFolder() {
  std::string name;
  if (!AskText(Tr("New Group Folder Name"), Tr("Enter name of the new group folder"), name)) return;
  if (Trim(name).empty()) return;
  TGroup* folder = groups_.CreateGroupNode(gnFolder, std::string(Trim(name)), FolderForNewGroupNode());
  groups_.SaveGroups();
  RefreshTrees();
  trvGroups->SelectNode(folder);
}

void TfrmMain::RemoveGroup() {
  TGroup* node = SelectedGroup();
  if (!node || !node->Parent() || RemovalRunning()) return;
  const std::string name = node->Name();
  const std::string question =
      node->IsNewsgroup()
          ? FormatText(Tr("Are you sure you wish to unsubscribe from \"%s\"?"), name.c_str())
          : FormatText(Tr("Are you sure you wish to delete the %s folder (all subscribed newsgroups in this folder "
                          "will be deleted as well)?"),
                       name.c_str());
  const std::string refusal = Tr(
      "Removal of groups or group folders is disallowed.  See to Options | Confirmations to change settings and try "
      "again.");
  if (Confirm(cnDeleteGroup, question, refusal, true) != anYes) return;
  SetProgressText(
      Tr("Removing newsgroup and expiring articles...May take a while for newsgroups with many articles"));
  std::vector<TGroup*> newsgroups;
  CollectNewsgroups(*node, newsgroups);
  QueueForgetGroup(*node);
  std::vector<std::pair<TServer*, std::string>> pairs;
  if (gServerGroups)
    for (TGroup* g : newsgroups)
      for (const TSGLst::TEntry& e : gServerGroups->EntriesOf(*g)) pairs.emplace_back(&e->Server(), g->Name());
  removal_->Run(Tr("Removing newsgroup and expiring articles..."), [pairs] { ExpireServerGroups(pairs); },
                [this, node] {
                  if (TGroup* live = LiveGroup(node)) groups_.FreeGroupNodes(live);
                  groups_.SaveGroups();
                  if (gNewsgroupCatalog) gNewsgroupCatalog->SubscriptionsChanged();
                  SetProgressText("");
                  RefreshTrees();
                  UpdateActions();
                });
}

void TfrmMain::RenameNode(const void* node, const QString& text, bool serverTree) {
  if (serverTree) {
    TServer* s = LiveServer(node);
    if (!s || !(s->Type() == snFolder || s->IsNewsServer())) return;
    s->SetName(text.toStdString());
    servers_.SaveServers();
  } else {
    TGroup* g = LiveGroup(node);
    if (!g || g->Type() != gnFolder) return;
    g->SetName(text.toStdString());
    groups_.SaveGroups();
  }
  QMetaObject::invokeMethod(this, &TfrmMain::RefreshTrees, Qt::QueuedConnection);
}

bool TfrmMain::CanDropServer(const void* dragged, const void* target) const {
  const TServer* d = LiveServer(dragged);
  const TServer* t = LiveServer(target);
  if (!d || !t || d->IsSlot() || t->IsSlot()) return false;
  return PlaceDrop(TServerPlacement(), d, t).accepted;
}

bool TfrmMain::CanDropGroup(const void* dragged, const void* target) const {
  const TGroup* d = LiveGroup(dragged);
  const TGroup* t = LiveGroup(target);
  return d && t && PlaceDrop(TGroupPlacement(), d, t).accepted;
}

void TfrmMain::DropServer(const void* dragged, const void* target) {
  if (!CanDropServer(dragged, target)) return;
  const FPlacement p = PlaceDrop(TServerPlacement(), dragged, target);
  TServer* node = LiveServer(dragged);
  servers_.MoveNode(node, LiveServer(p.parent), LiveServer(p.before));
  servers_.SaveServers();
  RefreshTrees();
  trvServers->SelectNode(node);
}

void TfrmMain::DropGroup(const void* dragged, const void* target) {
  if (!CanDropGroup(dragged, target)) return;
  const FPlacement p = PlaceDrop(TGroupPlacement(), dragged, target);
  TGroup* node = LiveGroup(dragged);
  groups_.MoveNode(node, LiveGroup(p.parent), LiveGroup(p.before));
  groups_.SaveGroups();
  RefreshTrees();
  trvGroups->SelectNode(node);
}

void TfrmMain::EditColumns(int grid) {
  const auto kind = static_cast<TColumnGrid>(grid);
  std::vector<std::string>& layout = kind == TColumnGrid::Servers  ? gConfig->ServersColumns
                                     : kind == TColumnGrid::Groups ? gConfig->GroupsColumns
                                                                   : gConfig->QueueColumns;
  std::vector<std::string> edited = kind == TColumnGrid::Servers  ? trvServers->Layout()
                                    : kind == TColumnGrid::Groups ? trvGroups->Layout()
                                                                  : queueModel_->Layout(*drgQueue);
  if (!ui::EditColumns(kind, edited)) return;
  layout = edited;
  if (kind == TColumnGrid::Servers) trvServers->SetLayout(layout);
  else if (kind == TColumnGrid::Groups) trvGroups->SetLayout(layout);
  else {
    queueModel_->SetLayout(layout);
    queueModel_->ApplyWidths(*drgQueue);
  }
  gConfig->Save();
  RefreshTrees();
}

}  // namespace zev::ui
