#include "app/ProgramParts.h"

#include "app/QtHost.h"
#include "core/ChangeQueue.h"
#include "core/Config.h"
#include "db/GroupTree.h"
#include "db/SGLst.h"
#include "db/ServerTree.h"
#include "nntp/ConnectionPool.h"
#include "ui/EngineLink.h"
#include "ui/Main.h"

namespace zev::app {

TProgramParts::TProgramParts(TQtHost& host) : host_(host) {}

TProgramParts::~TProgramParts() { AfterEventLoop(); }

void TProgramParts::AddHooks(FStartupHooks& hooks) {
  hooks.createServerGroupLists = [this] { CreateServerGroupLists(); };
  hooks.destroyServerGroupLists = [this] { DestroyServerGroupLists(); };
  hooks.createMainWindow = [this] { CreateMainWindow(); };
  hooks.togglePause = [this] {
    if (window_) window_->TogglePause();
  };
  hooks.flatToolbars = [this] {
    if (window_) window_->FlatToolbars();
  };
  hooks.buildServerGroups = [this] {
    if (gServerGroups && servers_ && groups_) gServerGroups->BuildAll(*servers_, *groups_);
  };
  hooks.queueDueRefreshes = [this] {
    if (!groups_) return;
    for (const auto& root : groups_->Roots()) ui::RefreshGroups(*root, true);
  };
  hooks.showMainWindow = [this] {
    if (window_) window_->ShowAndActivate();
  };
  hooks.closeWhenFinished = [this] {
    if (window_) window_->SetCloseWhenFinished(true);
  };
  host_.SetEventLoopHooks([this] { BeforeEventLoop(); }, [this] { AfterEventLoop(); });
}

void TProgramParts::CreateServerGroupLists() {
  serverGroups_ = std::make_unique<TSGLst>();
  queueIndex_ = std::make_unique<TSGLst>();
  gServerGroups = serverGroups_.get();
  gQueueIndex = queueIndex_.get();
}

void TProgramParts::DestroyServerGroupLists() {
  gQueueIndex = nullptr;
  gServerGroups = nullptr;
  queueIndex_.reset();
  serverGroups_.reset();
}

// The window's create handler: the trees from the settings file, the connections, the
// change notifications, then the window with its geometry.
void TProgramParts::CreateMainWindow() {
  TZevIniFile& ini = gConfig->Ini();
  servers_ = std::make_unique<TServerTree>(ini);
  groups_ = std::make_unique<TGroupTree>(ini);
  servers_->LoadServers();
  groups_->LoadGroups();
  gServers = servers_.get();
  gGroups = groups_.get();
  changes_ = std::make_unique<TChangeQueue>();
  gChangeQueue = changes_.get();
  pool_ = std::make_unique<TConnectionPool>();
  gConnectionPool = pool_.get();
  window_ = std::make_unique<ui::TfrmMain>(*servers_, *groups_);
  if (gConfig->Has(cfStartInTray)) window_->StartHidden();
  host_.SetMainWindow(window_.get());
}

void TProgramParts::BeforeEventLoop() {
  if (window_) window_->StartTimer();
}

// The window has closed (its close saved the trees); what it showed goes now, the
// connections before the trees their slots belong to.
void TProgramParts::AfterEventLoop() {
  ui::EndConnectionManager();
  host_.SetMainWindow(nullptr);
  window_.reset();
  gConnectionPool = nullptr;
  pool_.reset();
  gChangeQueue = nullptr;
  changes_.reset();
  gServers = nullptr;
  gGroups = nullptr;
  servers_.reset();
  groups_.reset();
}

}  // namespace zev::app
