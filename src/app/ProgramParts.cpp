#include "app/ProgramParts.h"

#include "app/QtHost.h"
#include "core/ChangeQueue.h"
#include "core/Config.h"
#include "db/GroupTree.h"
#include "db/ServerTree.h"
#include "nntp/ConnectionPool.h"
#include "nntp/EngineParts.h"
#include "ui/EngineLink.h"
#include "ui/Main.h"

namespace zev::app {

TProgramParts::TProgramParts(TQtHost& host, TEngineParts& engine) : host_(host), engine_(engine) {}

TProgramParts::~TProgramParts() { AfterEventLoop(); }

void TProgramParts::AddHooks(FStartupHooks& hooks) {
  hooks.createMainWindow = [this] { CreateMainWindow(); };
  hooks.togglePause = [this] {
    if (window_) window_->TogglePause();
  };
  hooks.flatToolbars = [this] {
    if (window_) window_->FlatToolbars();
  };
  hooks.showMainWindow = [this] {
    if (window_) window_->ShowAndActivate();
  };
  hooks.closeWhenFinished = [this] {
    if (window_) window_->SetCloseWhenFinished(true);
  };
  host_.SetEventLoopHooks([this] { BeforeEventLoop(); }, [this] { AfterEventLoop(); });
  // A signal during start-up skips the event loop; the window and the connections must
  // still go before the first shutdown step frees what they use.
  hooks.destroyDirScanner = [this, next = hooks.destroyDirScanner] {
    AfterEventLoop();
    if (next) next();
  };
}

// The window's create handler: the connections and the change notifications, then the
// window over the engine's trees, with its geometry.
void TProgramParts::CreateMainWindow() {
  TServerTree* servers = engine_.Servers();
  TGroupTree* groups = engine_.Groups();
  if (!servers || !groups) return;  // the engine did not get that far; the program ends
  changes_ = std::make_unique<TChangeQueue>();
  gChangeQueue = changes_.get();
  pool_ = std::make_unique<TConnectionPool>();
  gConnectionPool = pool_.get();
  window_ = std::make_unique<ui::TfrmMain>(*servers, *groups);
  if (gConfig->Has(cfStartInTray)) window_->StartHidden();
  host_.SetMainWindow(window_.get());
}

void TProgramParts::BeforeEventLoop() {
  if (window_) window_->StartTimer();
}

// The window has closed (its close saved the trees); what it showed goes now, and the
// connections end before the shutdown hooks free the trees and the queue they use.
void TProgramParts::AfterEventLoop() {
  ui::EndConnectionManager();
  host_.SetMainWindow(nullptr);
  window_.reset();
  gConnectionPool = nullptr;
  pool_.reset();
  gChangeQueue = nullptr;
  changes_.reset();
}

}  // namespace zev::app
