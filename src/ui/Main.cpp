#include "ui/Main.h"

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "core/Config.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "db/GroupList.h"
#include "db/GroupTree.h"
#include "db/ServerTree.h"
#include "ui/About.h"
#include "ui/AppIcon.h"
#include "ui/ConnectionPanels.h"
#include "ui/EngineLink.h"
#include "ui/ModalRunner.h"
#include "ui/NewsgroupsPage.h"
#include "ui/NodeRemoval.h"
#include "ui/NodeTreeModel.h"
#include "ui/NodeTreeView.h"
#include "ui/QueueModel.h"
#include "ui/ShutdownWhenFinished.h"

namespace zev::ui {

TfrmMain* gMainWindow = nullptr;

namespace {

QString T(const char* text) { return QString::fromUtf8(Tr(text)); }

QToolBar* PageToolBar(QWidget* page) {
  auto* bar = new QToolBar(page);
  bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  bar->setIconSize(QSize(16, 16));
  return bar;
}

QVBoxLayout* PageLayout(QWidget* page) {
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  return layout;
}

}  // namespace

TfrmMain::TfrmMain(TServerTree& servers, TGroupTree& groups, QWidget* parent)
    : QMainWindow(parent), servers_(servers), groups_(groups), finish_(std::make_unique<TShutdownWhenFinished>(this)) {
  gMainWindow = this;
  SetDialogParent(this);
  setWindowIcon(AppIcon());
  setWindowTitle(QString::fromStdString(gConfig->CaptionString));
  CreateActions();
  CreateMenus();
  pgcControl = new QTabWidget(this);
  pgcControl->setDocumentMode(true);
  pgcControl->addTab(CreateServersPage(), ThemeIcon("network-server", QStyle::SP_DriveNetIcon), T("Servers"));
  pgcControl->addTab(CreateGroupsPage(), ThemeIcon("folder", QStyle::SP_DirIcon), T("Groups"));
  if (gGroupList) {
    newsgroupsPage_ = new TNewsgroupsPage(*gGroupList, servers_, groups_,
                                          {actSubscribe, actUnSubscribe, actAll, actSubscribed, actReload,
                                           actForceExist, actForceNonExist},
                                          this);
    newsgroupsPage_->removeGroup = [this](TGroup& group) {
      trvGroups->SelectNode(&group);
      RemoveGroup();
    };
    newsgroupsPage_->groupsChanged = [this] { RefreshTrees(); };
    tbsNewsgroups = newsgroupsPage_;
    pgcControl->addTab(tbsNewsgroups, ThemeIcon("view-list-details", QStyle::SP_FileDialogListView), T("Newsgroups"));
  }
  pgcControl->addTab(CreateQueuePage(), ThemeIcon("go-down", QStyle::SP_ArrowDown), T("Queue"));
  pgcControl->addTab(CreateDirScanPage(), ThemeIcon("folder-saved-search", QStyle::SP_FileDialogContentsView),
                     T("DirScan"));
  pgcControl->addTab(CreateErrorsPage(), ThemeIcon("dialog-warning", QStyle::SP_MessageBoxWarning), T("Errors"));
  pgcControl->setTabVisible(pgcControl->indexOf(tbsErrors), false);
  setCentralWidget(pgcControl);
  connect(pgcControl, &QTabWidget::currentChanged, this, &TfrmMain::PageChanged);
  CreateStatusBar();
  CreateTray();
  ConnectTrees();
  removal_ = std::make_unique<TNodeRemoval>(this);
  auto* next = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), this);
  auto* previous = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), this);
  connect(next, &QShortcut::activated, this,
          [this] { pgcControl->setCurrentIndex((pgcControl->currentIndex() + 1) % pgcControl->count()); });
  connect(previous, &QShortcut::activated, this, [this] {
    const int n = pgcControl->count();
    pgcControl->setCurrentIndex((pgcControl->currentIndex() + n - 1) % n);
  });
  timer_ = new QTimer(this);
  timer_->setInterval(kTimerMs);
  connect(timer_, &QTimer::timeout, this, &TfrmMain::Tick);
  RestoreGeometry();
  RefreshTrees();
  UpdateActions();
  qApp->installEventFilter(this);
}

TfrmMain::~TfrmMain() {
  qApp->removeEventFilter(this);
  if (gMainWindow == this) gMainWindow = nullptr;
  if (tray_) tray_->hide();
}

QAction* TfrmMain::NewAction(const char* text, const char* icon, int fallback) {
  auto* action = new QAction(T(text), this);
  if (icon && fallback >= 0) action->setIcon(ThemeIcon(icon, static_cast<QStyle::StandardPixmap>(fallback)));
  else if (icon) action->setIcon(ThemeIcon(icon));
  return action;
}

void TfrmMain::CreateActions() {
  actOpenGroup = NewAction("&Open", "document-open", QStyle::SP_DialogOpenButton);
  actRefreshGroup = NewAction("&Refresh", "view-refresh", QStyle::SP_BrowserReload);
  actGroupProperties = NewAction("&Properties", "document-properties", QStyle::SP_FileDialogDetailedView);
  actNewGroupFolder = NewAction("New &Folder", "folder-new", QStyle::SP_FileDialogNewFolder);
  actRemoveGroup = NewAction("Re&move", "edit-delete", QStyle::SP_TrashIcon);
  actResetGroup = NewAction("Re&set");
  actConnectServer = NewAction("&Connect", "network-connect", QStyle::SP_MediaPlay);
  actDisconnectServer = NewAction("&Disconnect", "network-disconnect", QStyle::SP_MediaStop);
  actServerProperties = NewAction("&Properties", "document-properties", QStyle::SP_FileDialogDetailedView);
  actNewServer = NewAction("New &Server", "list-add", QStyle::SP_FileDialogNewFolder);
  actNewServerFolder = NewAction("New &Folder", "folder-new", QStyle::SP_FileDialogNewFolder);
  actRemoveServer = NewAction("Re&move", "edit-delete", QStyle::SP_TrashIcon);
  actLogServer = NewAction("&Log", "text-x-generic", QStyle::SP_FileIcon);
  actPauseServer = NewAction("P&ause", "media-playback-pause", QStyle::SP_MediaPause);
  actSubscribe = NewAction("&Subscribe");
  actUnSubscribe = NewAction("&UnSubscribe");
  actAll = NewAction("&All");
  actSubscribed = NewAction("Su&bscribed");
  actReload = NewAction("&Reload", "view-refresh", QStyle::SP_BrowserReload);
  actForceExist = NewAction("Force &Exist");
  actForceNonExist = NewAction("Force &NonExist");
  actPauseQueue = NewAction("&Pause", "media-playback-pause", QStyle::SP_MediaPause);
  actQueueScore = NewAction("&Score");
  actQueueDel = NewAction("&Delete", "edit-delete", QStyle::SP_TrashIcon);
  actQueueSelectAll = NewAction("Select &All", "edit-select-all");
  actTarget = NewAction("&Target");
  actClearCompleted = NewAction("&Clear Completed", "edit-clear");
  actOptions = NewAction("&Options...", "preferences-system");
  actFilters = NewAction("&Filters...");
  actHide = NewAction("&Hide");
  actShow = NewAction("&Show");
  actCloseWhenFinished = NewAction("&Close Zev When Finished");
  actShutdownWhenFinished = NewAction("&Shutdown Computer When Finished");
  actNewsRCImport = NewAction("Import .&newsrc...");
  actNewsRCExport = NewAction("Export .n&ewsrc...");
  actImportNZB = NewAction("&Import NZB...", "document-import");
  actExportNZB = NewAction("E&xport NZB...", "document-export");
  actArtProperties = NewAction("Article &Properties...");
  actCombineParts = NewAction("&Combine Parts");
  actExit = NewAction("E&xit", "application-exit", QStyle::SP_DialogCloseButton);
  actAbout = NewAction("&About Zevrin...", "help-about");
  actServerColumns = NewAction("&Server Columns...");
  actGroupColumns = NewAction("&Group Columns...");
  actQueueColumns = NewAction("&Queue Columns...");

  for (QAction* a : {actPauseQueue, actPauseServer, actLogServer, actCloseWhenFinished, actShutdownWhenFinished})
    a->setCheckable(true);
  actPauseQueue->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
  actPauseQueue->setShortcutContext(Qt::ApplicationShortcut);
  actExit->setShortcut(QKeySequence::Quit);
  // The same key on both trees: each answers only where the focus is.
  for (QAction* a : {actServerProperties, actGroupProperties}) {
    a->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Return));
    a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  }
  actRefreshGroup->setShortcut(QKeySequence(Qt::Key_F5));

  // Owned by later parts of the program; present so the menus are complete.
  for (QAction* a : {actOpenGroup, actResetGroup, actSubscribe, actUnSubscribe, actAll, actSubscribed, actReload,
                     actForceExist, actForceNonExist, actTarget, actOptions, actFilters, actNewsRCImport,
                     actNewsRCExport, actImportNZB, actExportNZB, actArtProperties, actCombineParts})
    a->setEnabled(false);

  connect(actConnectServer, &QAction::triggered, this, &TfrmMain::ConnectServer);
  connect(actDisconnectServer, &QAction::triggered, this, &TfrmMain::DisconnectServer);
  connect(actPauseServer, &QAction::triggered, this, &TfrmMain::PauseServer);
  connect(actLogServer, &QAction::triggered, this, &TfrmMain::LogServer);
  connect(actServerProperties, &QAction::triggered, this, &TfrmMain::ServerProperties);
  connect(actNewServer, &QAction::triggered, this, &TfrmMain::NewServer);
  connect(actNewServerFolder, &QAction::triggered, this, &TfrmMain::NewServerFolder);
  connect(actRemoveServer, &QAction::triggered, this, &TfrmMain::RemoveServer);
  connect(actRefreshGroup, &QAction::triggered, this, &TfrmMain::RefreshGroup);
  connect(actGroupProperties, &QAction::triggered, this, &TfrmMain::GroupProperties);
  connect(actNewGroupFolder, &QAction::triggered, this, &TfrmMain::NewGroupFolder);
  connect(actRemoveGroup, &QAction::triggered, this, &TfrmMain::RemoveGroup);
  connect(actPauseQueue, &QAction::triggered, this, &TfrmMain::TogglePause);
  connect(actHide, &QAction::triggered, this, &TfrmMain::Hide);
  connect(actShow, &QAction::triggered, this, &TfrmMain::Show);
  connect(actExit, &QAction::triggered, this, &QWidget::close);
  connect(actCloseWhenFinished, &QAction::toggled, this, &TfrmMain::SetCloseWhenFinished);
  connect(actShutdownWhenFinished, &QAction::toggled, this, &TfrmMain::SetShutdownWhenFinished);
  connect(actServerColumns, &QAction::triggered, this, [this] { EditColumns(static_cast<int>(TColumnGrid::Servers)); });
  connect(actGroupColumns, &QAction::triggered, this, [this] { EditColumns(static_cast<int>(TColumnGrid::Groups)); });
  connect(actQueueColumns, &QAction::triggered, this, [this] { EditColumns(static_cast<int>(TColumnGrid::Queue)); });
  connect(actAbout, &QAction::triggered, this, [this] {
    TfrmAbout about(this);
    ExecModal(about);
  });
}

void TfrmMain::CreateMenus() {
  QMenu* file = menuBar()->addMenu(T("&File"));
  file->addActions({actImportNZB, actExportNZB});
  file->addSeparator();
  file->addActions({actNewsRCImport, actNewsRCExport});
  file->addSeparator();
  file->addActions({actCloseWhenFinished, actShutdownWhenFinished});
  file->addSeparator();
  file->addActions({actHide, actShow, actExit});
  QMenu* servers = menuBar()->addMenu(T("&Servers"));
  servers->addActions({actConnectServer, actDisconnectServer, actPauseServer});
  servers->addSeparator();
  servers->addActions({actNewServer, actNewServerFolder, actRemoveServer});
  servers->addSeparator();
  servers->addActions({actLogServer, actServerProperties});
  QMenu* groups = menuBar()->addMenu(T("&Groups"));
  groups->addActions({actOpenGroup, actRefreshGroup, actResetGroup});
  groups->addSeparator();
  groups->addActions({actNewGroupFolder, actRemoveGroup});
  groups->addSeparator();
  groups->addAction(actGroupProperties);
  QMenu* newsgroups = menuBar()->addMenu(T("&Newsgroups"));
  newsgroups->addActions({actSubscribe, actUnSubscribe, actAll, actSubscribed, actReload, actForceExist,
                          actForceNonExist});
  QMenu* articles = menuBar()->addMenu(T("&Articles"));
  articles->addActions({actArtProperties, actCombineParts});
  QMenu* queue = menuBar()->addMenu(T("&Queue"));
  queue->addActions({actPauseQueue, actQueueScore, actQueueDel, actQueueSelectAll, actTarget, actClearCompleted});
  QMenu* tools = menuBar()->addMenu(T("&Tools"));
  tools->addActions({actOptions, actFilters});
  tools->addSeparator();
  tools->addActions({actServerColumns, actGroupColumns, actQueueColumns});
  QMenu* help = menuBar()->addMenu(T("&Help"));
  help->addAction(actAbout);
}

QWidget* TfrmMain::CreateServersPage() {
  tbsServers = new QWidget(this);
  QToolBar* bar = PageToolBar(tbsServers);
  bar->addActions({actConnectServer, actDisconnectServer, actServerProperties});
  bar->addSeparator();
  bar->addActions({actNewServer, actNewServerFolder, actRemoveServer});
  bar->addSeparator();
  bar->addActions({actPauseServer, actLogServer});
  toolBars_.push_back(bar);
  trvServers = new TNodeTreeView(TColumnGrid::Servers, tbsServers);
  trvServers->addActions({actConnectServer, actDisconnectServer, actPauseServer});
  auto* separator = new QAction(trvServers);
  separator->setSeparator(true);
  trvServers->addAction(separator);
  trvServers->addActions({actNewServer, actNewServerFolder, actRemoveServer, actServerProperties});
  QVBoxLayout* layout = PageLayout(tbsServers);
  layout->addWidget(bar);
  layout->addWidget(trvServers, 1);
  return tbsServers;
}

QWidget* TfrmMain::CreateGroupsPage() {
  tbsGroups = new QWidget(this);
  QToolBar* bar = PageToolBar(tbsGroups);
  bar->addActions({actOpenGroup, actGroupProperties});
  bar->addSeparator();
  bar->addActions({actNewGroupFolder, actRemoveGroup});
  bar->addSeparator();
  bar->addAction(actRefreshGroup);
  toolBars_.push_back(bar);
  trvGroups = new TNodeTreeView(TColumnGrid::Groups, tbsGroups);
  trvGroups->addActions({actOpenGroup, actRefreshGroup, actNewGroupFolder, actRemoveGroup, actGroupProperties});
  QVBoxLayout* layout = PageLayout(tbsGroups);
  layout->addWidget(bar);
  layout->addWidget(trvGroups, 1);
  return tbsGroups;
}

QWidget* TfrmMain::CreateQueuePage() {
  tbsQueue = new QWidget(this);
  QToolBar* bar = PageToolBar(tbsQueue);
  bar->addActions({actQueueScore, actQueueDel});
  lblETA = new QLabel(tbsQueue);
  lblETA->setContentsMargins(12, 0, 12, 0);
  bar->addSeparator();
  bar->addWidget(lblETA);
  bar->addSeparator();
  bar->addActions({actTarget, actPauseQueue});
  toolBars_.push_back(bar);
  queueModel_ = new TQueueModel(this);
  drgQueue = new QTableView(tbsQueue);
  drgQueue->setModel(queueModel_);
  drgQueue->setSelectionBehavior(QAbstractItemView::SelectRows);
  drgQueue->setSelectionMode(QAbstractItemView::ExtendedSelection);
  drgQueue->verticalHeader()->hide();
  drgQueue->verticalHeader()->setDefaultSectionSize(drgQueue->fontMetrics().height() + 6);
  drgQueue->horizontalHeader()->setSectionsMovable(true);
  drgQueue->horizontalHeader()->setHighlightSections(false);
  drgQueue->horizontalHeader()->setStretchLastSection(true);
  drgQueue->setShowGrid(false);
  drgQueue->setAlternatingRowColors(true);
  drgQueue->setWordWrap(false);
  drgQueue->addActions({actPauseQueue, actQueueScore, actQueueDel, actQueueSelectAll});
  drgQueue->setContextMenuPolicy(Qt::ActionsContextMenu);
  queueModel_->SetLayout(gConfig->QueueColumns);
  queueModel_->ApplyWidths(*drgQueue);
  connect(drgQueue->horizontalHeader(), &QHeaderView::sectionResized, this, [this] { queueColumnsChanged_ = true; });
  connect(drgQueue->horizontalHeader(), &QHeaderView::sectionMoved, this, [this] { queueColumnsChanged_ = true; });
  connect(actQueueScore, &QAction::triggered, this, &TfrmMain::QueueScore);
  connect(actQueueDel, &QAction::triggered, this, &TfrmMain::QueueDelete);
  connect(actQueueSelectAll, &QAction::triggered, drgQueue, &QTableView::selectAll);
  QVBoxLayout* layout = PageLayout(tbsQueue);
  layout->addWidget(bar);
  layout->addWidget(drgQueue, 1);
  return tbsQueue;
}

QWidget* TfrmMain::CreateDirScanPage() {
  tbsDirScan = new QWidget(this);
  auto* text = new QLabel(T("No directory is being scanned."), tbsDirScan);
  text->setAlignment(Qt::AlignCenter);
  text->setEnabled(false);
  QVBoxLayout* layout = PageLayout(tbsDirScan);
  layout->addWidget(text, 1);
  return tbsDirScan;
}

QWidget* TfrmMain::CreateErrorsPage() {
  tbsErrors = new QWidget(this);
  mmoErrors = new QPlainTextEdit(tbsErrors);
  mmoErrors->setReadOnly(true);
  mmoErrors->setLineWrapMode(QPlainTextEdit::NoWrap);
  mmoErrors->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  auto* clear = new QPushButton(T("&Clear"), tbsErrors);
  connect(clear, &QPushButton::clicked, this, [this] {
    mmoErrors->clear();
    pgcControl->setTabVisible(pgcControl->indexOf(tbsErrors), false);
  });
  QVBoxLayout* layout = PageLayout(tbsErrors);
  layout->addWidget(mmoErrors, 1);
  auto* row = new QHBoxLayout;
  row->setContentsMargins(6, 6, 6, 6);
  row->addStretch(1);
  row->addWidget(clear);
  layout->addLayout(row);
  return tbsErrors;
}

void TfrmMain::CreateStatusBar() {
  queueSummary_ = new QLabel(this);
  pagePanel_ = new QLabel(this);
  countsPanel_ = new QLabel(this);
  countsPanel_->hide();
  connPanels_ = new TConnectionPanels(this);
  statusBar()->addWidget(queueSummary_);
  statusBar()->addWidget(pagePanel_);
  statusBar()->addWidget(countsPanel_);
  statusBar()->addWidget(connPanels_, 1);
}

void TfrmMain::CreateTray() {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    actHide->setEnabled(false);
    LogError("Failed to interface with system tray, disabling hide feature.", 1);
    return;
  }
  tray_ = new QSystemTrayIcon(AppIcon(), this);
  trayMenu_ = new QMenu(this);
  trayMenu_->addActions({actShow, actPauseQueue, actCloseWhenFinished, actShutdownWhenFinished});
  trayMenu_->addSeparator();
  trayMenu_->addAction(actExit);
  tray_->setContextMenu(trayMenu_);
  connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) Show();
  });
}

void TfrmMain::ConnectTrees() {
  trvServers->SetLayout(gConfig->ServersColumns);
  trvGroups->SetLayout(gConfig->GroupsColumns);
  trvServers->Model()->SetRenamable([this](const void* node) {
    const TServer* s = LiveServer(node);
    return s && s->Type() == snFolder ? true : s && s->IsNewsServer();
  });
  trvGroups->Model()->SetRenamable([this](const void* node) {
    const TGroup* g = LiveGroup(node);
    return g && g->Type() == gnFolder;
  });
  connect(trvServers->Model(), &TNodeTreeModel::Renamed, this,
          [this](const void* node, const QString& text) { RenameNode(node, text, true); });
  connect(trvGroups->Model(), &TNodeTreeModel::Renamed, this,
          [this](const void* node, const QString& text) { RenameNode(node, text, false); });
  trvServers->canDrop = [this](const void* d, const void* t) { return CanDropServer(d, t); };
  trvGroups->canDrop = [this](const void* d, const void* t) { return CanDropGroup(d, t); };
  trvServers->drop = [this](const void* d, const void* t) { DropServer(d, t); };
  trvGroups->drop = [this](const void* d, const void* t) { DropGroup(d, t); };
  trvServers->expandedChanged = [this](const void* node, bool on) {
    if (TServer* s = LiveServer(node)) s->SetFlag(sfExpanded, on);
  };
  trvGroups->expandedChanged = [this](const void* node, bool on) {
    if (TGroup* g = LiveGroup(node)) g->SetFlag(gfExpanded, on);
  };
  connect(trvServers, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) {
    if (index.column() != 0 || !trvServers->Model()->rowCount(index)) ServerProperties();
  });
  connect(trvGroups, &QTreeView::doubleClicked, this, [this] { GroupProperties(); });
  for (QAbstractItemView* view : std::initializer_list<QAbstractItemView*>{trvServers, trvGroups, drgQueue})
    connect(view->selectionModel(), &QItemSelectionModel::currentChanged, this, &TfrmMain::UpdateActions);
}

// Missing keys get the centred default and are written at once. Where the display server
// places windows itself (Wayland) the position is only a wish; the size and the maximised
// state are still restored.
void TfrmMain::RestoreGeometry() {
  positionsKnown_ = !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
  const QRect screen = QApplication::primaryScreen() ? QApplication::primaryScreen()->geometry() : QRect(0, 0, 640, 480);
  FWindowGeometry g = gConfig->ReadWindowGeometry(screen.width(), screen.height());
  resize(std::max(g.width, 200), std::max(g.height, 150));
  move(g.left, g.top);
  normal_ = QRect(QPoint(g.left, g.top), size());
  if (g.maximized) setWindowState(windowState() | Qt::WindowMaximized);
}

void TfrmMain::PageChanged(int index) {
  QWidget* page = pgcControl->widget(index);
  if (page == tbsQueue) ShowQueue(true);
  countsPanel_->setVisible(false);
}

void TfrmMain::ActivatePage(QWidget* page) {
  const int index = pgcControl->indexOf(page);
  if (index < 0) return;
  pgcControl->setTabVisible(index, true);
  pgcControl->setCurrentIndex(index);
}

void TfrmMain::SetProgressText(const std::string& text) {
  progressText_ = text;
  if (text.empty()) statusBar()->clearMessage();
  else statusBar()->showMessage(QString::fromStdString(text));
  statusBar()->repaint();
}

void TfrmMain::TimerRestart() {
  timer_->stop();
  timer_->start(kTimerMs);
}

void TfrmMain::StartTimer() { timer_->start(kTimerMs); }

void TfrmMain::TogglePause() {
  SetQueuePaused(!QueuePaused());
  actPauseQueue->setChecked(QueuePaused());
}

void TfrmMain::ShowAndActivate() {
  show();  // maximised when the geometry said so
  raise();
  activateWindow();
}

void TfrmMain::SetCloseWhenFinished(bool on) {
  finish_->SetClose(on);
  const QSignalBlocker a(actCloseWhenFinished), b(actShutdownWhenFinished);
  actCloseWhenFinished->setChecked(finish_->Close());
  actShutdownWhenFinished->setChecked(finish_->Shutdown());
}

void TfrmMain::SetShutdownWhenFinished(bool on) {
  finish_->SetShutdown(on, gConfig->ShutdownMethod);
  const QSignalBlocker a(actCloseWhenFinished), b(actShutdownWhenFinished);
  actCloseWhenFinished->setChecked(finish_->Close());
  actShutdownWhenFinished->setChecked(finish_->Shutdown());
}

// Tool buttons without a frame until the pointer is over them.
void TfrmMain::FlatToolbars() {
  for (QToolBar* bar : toolBars_)
    for (QToolButton* button : bar->findChildren<QToolButton*>()) button->setAutoRaise(true);
}

bool TfrmMain::RemovalRunning() const { return removal_ && removal_->Running(); }

QString TfrmMain::StatusSummary() const { return queueSummary_->text(); }

}  // namespace zev::ui
