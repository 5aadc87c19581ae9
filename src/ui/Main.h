#pragma once
// The program's main window: the pages (Servers, Groups, Queue, DirScan, Errors), the
// trees of servers and groups, the half-second timer that drives connections, refreshes
// and every status display, the status bar, the tray icon, "close when finished", the
// window geometry, and the closing sequence that waits for the connections and saves.
#include <QMainWindow>
#include <QRect>
#include <memory>
#include <string>
#include <vector>

#include "core/ConfigNames.h"

class QAction;
class QKeyEvent;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QSystemTrayIcon;
class QTabWidget;
class QTableView;
class QTimer;
class QToolBar;

namespace zev {
class TGroup;
class TGroupTree;
class TServer;
class TServerTree;
}

namespace zev::ui {

class TConnectionPanels;
class TNodeRemoval;
class TNewsgroupsPage;
class TNodeTreeView;
class TQueueModel;
class TShutdownWhenFinished;

class TfrmMain : public QMainWindow {
  Q_OBJECT
 public:
  static constexpr int kTimerMs = 500;

  TfrmMain(TServerTree& servers, TGroupTree& groups, QWidget* parent = nullptr);
  ~TfrmMain() override;

  // --- What start-up and other parts call ---
  void TogglePause();
  // Shows the window (maximised when it was) and brings it to the front.
  void ShowAndActivate();
  // "Start minimized to the tray": the tray icon only, or the window when there is no tray.
  void StartHidden();
  void SetCloseWhenFinished(bool on);
  void SetShutdownWhenFinished(bool on);
  void FlatToolbars();
  void ActivatePage(QWidget* page);
  // A progress text replaces the status bar's panels until it is cleared ("").
  void SetProgressText(const std::string& text);
  // Delays the next tick by a whole interval.
  void TimerRestart();
  void StartTimer();
  // The timer's work; tests call it directly.
  void Tick();
  int ExitCode() const { return exitCode_; }
  bool ShuttingDown() const { return shuttingDown_; }
  bool RemovalRunning() const;
  TShutdownWhenFinished& Finish() { return *finish_; }
  QString StatusSummary() const;
  const TConnectionPanels* Panels() const { return connPanels_; }

  // --- Widgets and actions (named as the rest of the program refers to them) ---
  QTabWidget* pgcControl;
  QWidget* tbsServers;
  QWidget* tbsGroups;
  QWidget* tbsNewsgroups = nullptr;  // only with a newsgroup list (gGroupList)
  QWidget* tbsQueue;
  QWidget* tbsDirScan;
  QWidget* tbsErrors;
  TNodeTreeView* trvServers;
  TNodeTreeView* trvGroups;
  QTableView* drgQueue;
  QLabel* lblETA;
  QPlainTextEdit* mmoErrors;

  QAction* actOpenGroup;
  QAction* actRefreshGroup;
  QAction* actGroupProperties;
  QAction* actNewGroupFolder;
  QAction* actRemoveGroup;
  QAction* actResetGroup;
  QAction* actConnectServer;
  QAction* actDisconnectServer;
  QAction* actServerProperties;
  QAction* actNewServer;
  QAction* actNewServerFolder;
  QAction* actRemoveServer;
  QAction* actLogServer;
  QAction* actPauseServer;
  QAction* actSubscribe;
  QAction* actUnSubscribe;
  QAction* actAll;
  QAction* actSubscribed;
  QAction* actReload;
  QAction* actForceExist;
  QAction* actForceNonExist;
  QAction* actPauseQueue;
  QAction* actQueueScore;
  QAction* actQueueDel;
  QAction* actQueueSelectAll;
  QAction* actTarget;
  QAction* actClearCompleted;
  QAction* actOptions;
  QAction* actFilters;
  QAction* actHide;
  QAction* actShow;
  QAction* actCloseWhenFinished;
  QAction* actShutdownWhenFinished;
  QAction* actNewsRCImport;
  QAction* actNewsRCExport;
  QAction* actImportNZB;
  QAction* actExportNZB;
  QAction* actArtProperties;
  QAction* actCombineParts;
  QAction* actExit;
  QAction* actAbout;
  QAction* actServerColumns;
  QAction* actGroupColumns;
  QAction* actQueueColumns;

  // The selected nodes, checked against the live trees (nullptr when none).
  TServer* SelectedServer() const;
  TGroup* SelectedGroup() const;
  // Rebuilds both tree snapshots now (after a change to the trees).
  void RefreshTrees();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void changeEvent(QEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // Construction (Main.cpp).
  void CreateActions();
  QAction* NewAction(const char* text, const char* icon = nullptr, int fallback = -1);
  void CreateMenus();
  QWidget* CreateServersPage();
  QWidget* CreateGroupsPage();
  QWidget* CreateQueuePage();
  QWidget* CreateDirScanPage();
  QWidget* CreateErrorsPage();
  void CreateStatusBar();
  void CreateTray();
  void ConnectTrees();
  void RestoreGeometry();
  void PageChanged(int index);

  // Server and group commands (MainActions.cpp).
  void ConnectServer();
  void DisconnectServer();
  void PauseServer();
  void LogServer();
  void ServerProperties();
  void NewServer();
  void NewServerFolder();
  void RemoveServer();
  void RefreshGroup();
  void GroupProperties();
  void NewGroupFolder();
  void RemoveGroup();
  void RenameNode(const void* node, const QString& text, bool serverTree);
  bool CanDropServer(const void* dragged, const void* target) const;
  bool CanDropGroup(const void* dragged, const void* target) const;
  void DropServer(const void* dragged, const void* target);
  void DropGroup(const void* dragged, const void* target);
  void EditColumns(int grid);
  TServer* FolderForNewServerNode() const;
  TGroup* FolderForNewGroupNode() const;
  TServer* LiveServer(const void* node) const;
  TGroup* LiveGroup(const void* node) const;

  // The timer (MainTimer.cpp).
  void SaveChangedColumns();
  void DrainChanges();
  void ShowStatus();
  void ShowCaption(const std::string& overview);
  void ShowStatusBar(const std::string& eta);
  void ShowErrors();
  void ShowTrees();
  void ShowQueue(bool force);
  void UpdateActions();
  void ServersTick();
  void FinishStep();
  bool WorkDone() const;
  // A slot with a connection or in a busy state: closing waits for these.
  bool AnyConnectionActive() const;
  // A slot at work (connecting, logging in, a command under way).
  bool AnyConnectionBusy() const;
  double TotalSpeed() const;

  // Closing (MainClose.cpp).
  bool BeginShutdown();
  void CompleteShutdown();
  void StoreGeometry();
  void PerformShutdownMethod();
  void Hide();
  void Show();

  // The queue page's keys and commands (MainQueue.cpp).
  std::vector<const void*> SelectedQueueItems() const;
  void QueueScore();
  void QueueDelete();
  bool QueueKey(QKeyEvent* event);

  TServerTree& servers_;
  TGroupTree& groups_;
  QTimer* timer_;
  uint64_t ticks_ = 0;
  std::string progressText_;
  QLabel* queueSummary_;
  QLabel* pagePanel_;
  QLabel* countsPanel_;
  TConnectionPanels* connPanels_;
  QSystemTrayIcon* tray_ = nullptr;
  QMenu* trayMenu_ = nullptr;
  TQueueModel* queueModel_;
  TNewsgroupsPage* newsgroupsPage_ = nullptr;
  std::unique_ptr<TShutdownWhenFinished> finish_;
  std::unique_ptr<TNodeRemoval> removal_;
  QRect normal_;
  // Where the display server places windows itself (Wayland) the program never learns
  // their position: the stored one is kept as it was.
  bool positionsKnown_ = true;
  bool refreshNow_ = false;
  bool queueColumnsChanged_ = false;
  bool shuttingDown_ = false;
  bool saved_ = false;
  int exitCode_ = 0;
  int pendingMethod_ = -1;  // the shutdown method to carry out once everything is saved
  std::vector<QToolBar*> toolBars_;
};

extern TfrmMain* gMainWindow;

}  // namespace zev::ui
