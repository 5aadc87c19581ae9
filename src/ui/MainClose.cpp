// Closing the main window: wait for the connections, save, and carry out a pending
// shutdown method; geometry, hiding in the tray.
#include <QApplication>
#include <QCloseEvent>
#include <QSystemTrayIcon>
#include <QTimer>

#include "core/Busy.h"
#include "core/Config.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "db/GroupTree.h"
#include "db/ServerTree.h"
#include "ui/EngineLink.h"
#include "ui/Main.h"
#include "ui/PowerControl.h"
#include "ui/QueryDlg.h"
#include "ui/ShutdownWhenFinished.h"

namespace zev::ui {

// The first close request stops the connections and waits for them by returning to the
// event loop: the timer closes the window again once none is left, and any request in
// between is refused.
void TfrmMain::closeEvent(QCloseEvent* event) {
  if (saved_) {
    event->accept();
    return;
  }
  if (!shuttingDown_ && !BeginShutdown()) {
    event->ignore();
    return;
  }
  if (AnyConnectionActive() || RemovalRunning()) {
    event->ignore();
    return;
  }
  CompleteShutdown();
  event->accept();
}

bool TfrmMain::BeginShutdown() {
  SetProgressText(Tr("Zev is shutting down (waiting for all threads to terminate)..."));
  bool force = true;
  // Only a connection at work has a current item to finish; one that merely stays
  // connected is stopped without asking.
  if (AnyConnectionBusy() && !gConfig->Has(cfNoDelayedDisconnect)) {
    bool remember = false;
    const int answer = QueryUser(Tr("Wait for connections to finish current items?"), qoCancel, remember, anYes);
    if (answer == anCancel) {
      SetProgressText("");
      return false;
    }
    force = answer == anNo;
  }
  StopAllConnections(force);
  EndConnectionManager();
  BeginBusy();
  shuttingDown_ = true;
  return true;
}

void TfrmMain::CompleteShutdown() {
  SetProgressText(Tr("Zev is shutting down (saving queue and ini settings)..."));
  timer_->stop();
  try {
    StoreGeometry();
    gConfig->Save();
    groups_.SaveGroups();
    servers_.SaveServers();
  } catch (const std::exception& e) {
    LogException(e, "TfrmMain.FormCloseQuery");
  }
  if (tray_) tray_->hide();
  saved_ = true;
  EndBusy();
  // Only now, with everything on disk, may the computer go down.
  PerformShutdownMethod();
  const int code = exitCode_;
  QTimer::singleShot(0, qApp, [code] { QCoreApplication::exit(code); });
}

void TfrmMain::PerformShutdownMethod() {
  if (pendingMethod_ < 0) return;
  const auto method = static_cast<TShutdownMethod>(pendingMethod_);
  pendingMethod_ = -1;
  if (!PowerControl().Perform(method))
    LogError("The computer could not be shut down: the system refused (" + ShutdownMethodName(method) + ").");
}

void TfrmMain::StoreGeometry() {
  FWindowGeometry g;
  QRect normal = isMaximized() || isMinimized() ? normal_ : QRect(pos(), size());
  if (!positionsKnown_) normal.moveTopLeft(normal_.topLeft());
  g.left = normal.x();
  g.top = normal.y();
  g.width = normal.width();
  g.height = normal.height();
  g.maximized = isMaximized();
  gConfig->WriteWindowGeometry(g);
}

void TfrmMain::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  if (positionsKnown_ && !(windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen)))
    normal_.moveTopLeft(pos());
}

void TfrmMain::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  if (!(windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen)))
    normal_.setSize(size());
}

void TfrmMain::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange) UpdateActions();
}

void TfrmMain::StartHidden() {
  if (tray_) {
    Hide();
    return;
  }
  // Without a tray the window would be out of reach; it shows as soon as the loop runs.
  QTimer::singleShot(0, this, &TfrmMain::ShowAndActivate);
}

void TfrmMain::Hide() {
  if (!tray_) return;
  tray_->setToolTip(windowTitle());
  tray_->show();
  hide();
  UpdateActions();
}

void TfrmMain::Show() {
  if (isMaximized()) showMaximized();
  else showNormal();
  raise();
  activateWindow();
  if (tray_) tray_->hide();
  UpdateActions();
}

}  // namespace zev::ui
