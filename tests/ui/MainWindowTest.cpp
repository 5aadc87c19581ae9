// The real main window, headless: geometry, "shut down when finished", the server and group
// flows with their questions, and a connection to the test news server seen in the tree
// and the status bar.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTreeView>

#include "NewsServerFixture.h"
#include "QueueStandIns.h"
#include "UiTestSupport.h"
#include "nntp/ConnectionPool.h"
#include "ui/ConnectionPanels.h"
#include "ui/EngineLink.h"
#include "ui/Main.h"
#include "ui/NodeTreeModel.h"
#include "ui/NodeTreeView.h"
#include "ui/ServerCfg.h"
#include "ui/Shutdown.h"
#include "ui/ShutdownWhenFinished.h"

namespace zev::ui {
namespace {

int64_t IniInt(test::TUiEnvironment& env, const char* key) { return env.ini->ReadInteger("Config", key, 12345); }

// The text of a tree row's column, found by the node's name.
QString RowText(TNodeTreeView& tree, const std::string& name, int column) {
  for (const FNodeRow& r : tree.Model()->Rows())
    if (r.texts.value(0).toStdString() == name) return r.texts.value(column);
  return "<no row " + QString::fromStdString(name) + ">";
}

TEST(MainWindow, FirstStartCentresA640x480WindowAndWritesTheKeys) {
  test::TUiEnvironment env;
  TfrmMain window(*env.servers, *env.groups);
  const QRect screen = QApplication::primaryScreen()->geometry();
  EXPECT_EQ(IniInt(env, "Left"), (screen.width() - 640) / 2);
  EXPECT_EQ(IniInt(env, "Top"), (screen.height() - 480) / 2);
  EXPECT_EQ(IniInt(env, "Width"), 640);
  EXPECT_EQ(IniInt(env, "Height"), 480);
  EXPECT_EQ(window.size(), QSize(640, 480));
  EXPECT_EQ(window.pos(), QPoint((screen.width() - 640) / 2, (screen.height() - 480) / 2));
}

TEST(MainWindow, ClosingMaximisedStoresANegativeHeightAndReopensMaximised) {
  test::TUiEnvironment env("[Config]\nLeft=10\nTop=20\nWidth=700\nHeight=500\n");
  {
    TfrmMain window(*env.servers, *env.groups);
    window.show();
    window.showMaximized();
    ASSERT_TRUE(window.close());
  }
  EXPECT_EQ(IniInt(env, "Height"), -500);
  EXPECT_EQ(IniInt(env, "Width"), 700);
  EXPECT_EQ(IniInt(env, "Left"), 10);
  TfrmMain again(*env.servers, *env.groups);
  EXPECT_TRUE(again.windowState() & Qt::WindowMaximized);
  EXPECT_EQ(again.size().height() >= 500 || again.isMaximized(), true);
}

TEST(MainWindow, ShutdownWhenFinishedPowersOffAfterThirtyTicksOnceAllIsSaved) {
  test::TUiEnvironment env;
  test::TFakePower power;
  env.config->ShutdownMethod = smPoweroff;
  TfrmMain window(*env.servers, *env.groups);
  window.show();
  window.actShutdownWhenFinished->trigger();
  EXPECT_TRUE(window.actCloseWhenFinished->isChecked());
  window.Tick();  // all work is done: the countdown appears
  ASSERT_NE(window.Finish().Dialog(), nullptr);
  EXPECT_EQ(window.Finish().Dialog()->windowTitle(), "Shutdown Computer");
  for (int i = 0; i < TShutdownWhenFinished::kCountdownTicks - 1; ++i) window.Tick();
  EXPECT_TRUE(power.performed.empty());
  window.Tick();
  ASSERT_EQ(power.performed.size(), 1u);
  EXPECT_EQ(power.performed[0], smPoweroff);
  EXPECT_EQ(window.ExitCode(), 64 + smPoweroff);
  EXPECT_FALSE(window.isVisible());
  EXPECT_FALSE(window.actCloseWhenFinished->isChecked());
  EXPECT_NE(env.IniText().find("Height=480"), std::string::npos);  // saved before the power-off
}

TEST(MainWindow, UncheckingCloseUnchecksShutdown) {
  test::TUiEnvironment env;
  TfrmMain window(*env.servers, *env.groups);
  window.actShutdownWhenFinished->trigger();
  window.actCloseWhenFinished->trigger();
  EXPECT_FALSE(window.actShutdownWhenFinished->isChecked());
  EXPECT_FALSE(window.Finish().Shutdown());
}

class WindowWithQueue : public ::testing::Test {
 protected:
  void SetUp() override {
    TServer* root = env.servers->Roots().front().get();
    server = env.servers->CreateServerNode("News", snNewsServer, root);
    server->SetHost("127.0.0.1");
    env.servers->AdjustSlots(*server);
    group = env.groups->CreateGroupNode(gnNewsgroup, "alt.test", env.groups->Roots().front().get());
    queue.carried.Carry(*server, *group);
  }
  test::TUiEnvironment env;
  test::TScriptedModals modals;
  test::TQueueInPlace queue{*env.servers};
  TServer* server = nullptr;
  TGroup* group = nullptr;
};

TEST_F(WindowWithQueue, RefreshFromTheGroupsPageQueuesIt) {
  TfrmMain window(*env.servers, *env.groups);
  window.trvGroups->SelectNode(group);
  window.actRefreshGroup->trigger();
  EXPECT_EQ(QueueItemCount(), 1u);
  window.Tick();
  EXPECT_EQ(RowText(*window.trvGroups, "alt.test", 6), "0%");  // "Ready": its server has not refreshed yet
  window.ActivatePage(window.tbsQueue);
  ASSERT_EQ(QueueRows().size(), 1u);
  EXPECT_EQ(QueueRows()[0].type, QueueKindTypeText(qkGroup));
  EXPECT_EQ(QueueRows()[0].handler, "-");
}

// Sound behaviour: a paused queue has no connection manager, and that alone must not count
// as "all work done".
TEST_F(WindowWithQueue, NoShutdownWhileWorkWaitsInAPausedQueue) {
  test::TFakePower power;
  TfrmMain window(*env.servers, *env.groups);
  RefreshGroups(*group, false);
  window.TogglePause();
  ASSERT_TRUE(QueuePaused());
  window.actShutdownWhenFinished->trigger();
  for (int i = 0; i < 100; ++i) window.Tick();
  EXPECT_EQ(window.Finish().Dialog(), nullptr);
  EXPECT_TRUE(power.performed.empty());
  EXPECT_FALSE(window.ShuttingDown());
}

// While a connection works on an item, closing asks whether to let it finish; Cancel keeps
// the program running with nothing stopped.
TEST_F(WindowWithQueue, ClosingAsksToWaitOnlyWhileAConnectionWorks) {
  ASSERT_FALSE(server->Children().empty());
  TServer& slot = *server->Children().front();
  slot.SetState(csArticle);
  TfrmMain window(*env.servers, *env.groups);
  window.show();
  modals.Answer(anCancel);
  EXPECT_FALSE(window.close());
  ASSERT_EQ(modals.texts.size(), 1u);
  EXPECT_EQ(modals.texts[0], "Wait for connections to finish current items?");
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.ShuttingDown());
  EXPECT_EQ(slot.State(), csArticle) << "nothing was stopped";

  slot.SetState(csReady);
  EXPECT_TRUE(window.close()) << "a slot at rest has nothing to finish";
  EXPECT_EQ(modals.texts.size(), 1u);
}

TEST_F(WindowWithQueue, RemovingAServerAsksRemembersAndExpiresOnAWorker) {
  TfrmMain window(*env.servers, *env.groups);
  window.trvServers->SelectNode(server);
  modals.Answer(anYes, true);
  window.actRemoveServer->trigger();
  ASSERT_EQ(modals.texts.size(), 1u);
  EXPECT_EQ(modals.texts[0], "Are you sure you wish to delete server \"News\"?");
  ASSERT_TRUE(test::WaitFor([&] { return !window.RemovalRunning(); }));
  EXPECT_EQ(RowText(*window.trvServers, "News", 0), "<no row News>");
  EXPECT_TRUE(env.config->ConfirmAuto[cnDeleteServer]);
  EXPECT_TRUE(env.config->ConfirmAnswer[cnDeleteServer]);
  EXPECT_EQ(env.IniText().find("Name=News"), std::string::npos);
}

TEST_F(WindowWithQueue, RemovalRefusedByTheStoredAnswer) {
  env.config->ConfirmAuto[cnDeleteGroup] = true;
  env.config->ConfirmAnswer[cnDeleteGroup] = false;
  TfrmMain window(*env.servers, *env.groups);
  window.trvGroups->SelectNode(group);
  modals.Accept();
  window.actRemoveGroup->trigger();
  ASSERT_EQ(modals.texts.size(), 1u);
  EXPECT_NE(modals.texts[0].find("Removal of groups or group folders is disallowed."), std::string::npos);
  EXPECT_EQ(RowText(*window.trvGroups, "alt.test", 0), "alt.test");
}

class FakeFeed : public TNewsgroupFeed {
 public:
  void HandleResponse(TConnectionFace&, const FResponseBlock&) override {}
  TDateTime LastUpdate(const TServer&) override { return 1; }
  void SetLastUpdate(const TServer&, TDateTime) override {}
};

class WindowOnNewsServer : public testserver::TNewsServerFixture {
 protected:
  void FillStore(testserver::TArticleStore& store) override {
    store.Post("alt.test", {{"Message-ID", "<1@zevrin.test>"}, {"Subject", "hello"}, {"From", "a@b.c"}}, "body\n");
  }
};

TEST_F(WindowOnNewsServer, NewServerThroughTheDialogConnectsAndShowsItsState) {
  test::TUiEnvironment env;
  test::TScriptedModals modals;
  test::TQueueInPlace queue{*env.servers};
  FakeFeed feed;
  gNewsgroupFeed = &feed;
  TConnectionPool pool;
  gConnectionPool = &pool;
  {
    TfrmMain window(*env.servers, *env.groups);
    window.show();
    modals.Then([&](QDialog& d) {
      auto& dialog = dynamic_cast<TfrmServerCfg&>(d);
      dialog.edtName->setText("Test");
      dialog.edtHost->setText("127.0.0.1");
      dialog.edtPort->setText(QString::number(Port()));
      dialog.btnOk->click();
      return d.result();
    });
    modals.Answer(anYes);  // open a connection now
    window.actNewServer->trigger();
    EXPECT_TRUE(modals.Done());
    EXPECT_NE(modals.texts[1].find("Do you wish to open a connection to \"Test\""), std::string::npos);
    const bool ready = test::WaitFor([&] {
      window.Tick();
      return RowText(*window.trvServers, "#1", 5) == "Ready";
    });
    EXPECT_TRUE(ready) << RowText(*window.trvServers, "#1", 5).toStdString();
    ASSERT_EQ(window.Panels()->Panels().size(), 1u);
    EXPECT_EQ(window.Panels()->Panels()[0].text, "Test:Ready");
    EXPECT_EQ(window.Panels()->Panels()[0].background, 0x00FF00u);
    EXPECT_EQ(RowText(*window.trvServers, "Test", 5), "1 ready, 0 busy, 0 disc, 0 error");

    window.trvServers->SelectNode(window.trvServers->Model()->Rows()[1].node);
    window.actDisconnectServer->trigger();
    EXPECT_TRUE(test::WaitFor([&] {
      window.Tick();
      return RowText(*window.trvServers, "#1", 5).startsWith("User disconnected");
    }));
    window.close();
    EXPECT_TRUE(test::WaitFor([&] {
      window.Tick();
      return !window.isVisible();
    }));
  }
  gConnectionPool = nullptr;
  gNewsgroupFeed = nullptr;
  EXPECT_NE(env.IniText().find("Name=Test"), std::string::npos);
}

}  // namespace
}  // namespace zev::ui
