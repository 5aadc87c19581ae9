// The Newsgroups page, headless: the grid over the newsgroup list, the find box, sorting,
// and the commands Subscribe, UnSubscribe, All/Subscribed, Force Exist/NonExist, Reload.
#include "ui/NewsgroupsPage.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>

#include "NewsServerFixture.h"
#include "QueueStandIns.h"
#include "UiTestSupport.h"
#include "db/ConnState.h"
#include "db/GroupList.h"
#include "db/GroupListRows.h"
#include "db/SGLst.h"
#include "nntp/ConnectionPool.h"
#include "nntp/GroupListFeed.h"
#include "ui/Main.h"
#include "ui/NewsgroupListModel.h"
#include "ui/ServerCfg.h"

namespace zev::ui {
namespace {

class NewsgroupsPageTest : public ::testing::Test {
 protected:
  NewsgroupsPageTest() {
    old_ = {gGroupList, gNewsgroupCatalog, gServerGroups};
    gGroupList = &list;
    gNewsgroupCatalog = &list;
    gServerGroups = &serverGroups;
    a = AddServer("News A", "news.a");
    b = AddServer("News B", "news.b");
    list.HandleListResponse(*a, "alt.bin.misc 300 1 y\nalt.bin.tv 50 1 y\nalt.test 3 1 y\n", true);
    list.HandleListResponse(*b, "alt.bin.tv 900 1 y\nalt.test 20 1 y\ncomp.lang 5 1 y\n", true);
    for (QAction** action : {&actions.subscribe, &actions.unsubscribe, &actions.all, &actions.subscribed,
                             &actions.reload, &actions.forceExist, &actions.forceNonExist})
      *action = new QAction(&owner);
  }
  ~NewsgroupsPageTest() override {
    gGroupList = old_.list;
    gNewsgroupCatalog = old_.catalog;
    gServerGroups = old_.serverGroups;
  }

  TServer* AddServer(const char* name, const char* host) {
    TServer* s = env.servers->CreateServerNode(name, snNewsServer, env.servers->Roots()[0].get());
    s->SetHost(host);
    return s;
  }
  static QString Cell(TNewsgroupsPage& page, int row, int column) {
    return page.Model()->index(row, column).data().toString();
  }
  static QString Header(TNewsgroupsPage& page, int column) {
    return page.Model()->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
  }
  static std::vector<std::string> Names(TNewsgroupsPage& page) {
    std::vector<std::string> out;
    for (int r = 0; r < page.Model()->rowCount(); ++r) out.push_back(Cell(page, r, 0).toStdString());
    return out;
  }
  static void Select(TNewsgroupsPage& page, const std::string& name, int column) {
    const size_t row = page.Rows().RowOf(name);
    ASSERT_LT(row, page.Rows().RowCount()) << name;
    page.drgGroups->selectionModel()->setCurrentIndex(page.Model()->index(static_cast<int>(row), column),
                                                      QItemSelectionModel::ClearAndSelect);
  }

  test::TUiEnvironment env;
  test::TScriptedModals modals;
  TGroupList list{env.dir, 1 << 20};
  TSGLst serverGroups;
  QWidget owner;
  FNewsgroupActions actions;
  TServer* a = nullptr;
  TServer* b = nullptr;

 private:
  struct {
    TGroupList* list;
    TNewsgroupCatalog* catalog;
    TSGLst* serverGroups;
  } old_;
};

using TNames = std::vector<std::string>;

TEST_F(NewsgroupsPageTest, GridShowsEveryGroupWithOneColumnPerServer) {
  TNewsgroupsPage page(list, *env.servers, *env.groups, actions);
  EXPECT_EQ(page.Model()->columnCount(), 3);
  EXPECT_EQ(Header(page, 0), "Newsgroup name (total 4 groups)");
  EXPECT_EQ(Header(page, 1), "News A");
  EXPECT_EQ(Header(page, 2), "News B");
  EXPECT_EQ(Names(page), (TNames{"alt.bin.misc", "alt.bin.tv", "alt.test", "comp.lang"}));
  EXPECT_EQ(Cell(page, 1, 1), "50");
  EXPECT_EQ(Cell(page, 1, 2), "900");
  EXPECT_EQ(Cell(page, 0, 2), "") << "not carried: nothing shown";
  EXPECT_EQ(page.Model()->index(1, 1).data(Qt::TextAlignmentRole).toInt() & Qt::AlignRight, Qt::AlignRight);

  // A new server, a renamed one, and a list arriving while the page is open.
  TServer* c = AddServer("News C", "news.c");
  a->SetName("Provider A");
  page.ServersChanged();
  EXPECT_EQ(page.Model()->columnCount(), 4);
  EXPECT_EQ(Header(page, 1), "Provider A");
  list.HandleListResponse(*c, "alt.zzz 7 1 y\n", true);
  page.Tick();
  EXPECT_EQ(Header(page, 0), "Newsgroup name (total 5 groups)");
  EXPECT_EQ(Names(page), (TNames{"alt.bin.misc", "alt.bin.tv", "alt.test", "alt.zzz", "comp.lang"}))
      << "a new name takes its place in name order";
  EXPECT_EQ(Cell(page, 3, 3), "7");
  list.SetArticleCount(*a, "alt.test", 44);
  page.Tick();
  EXPECT_EQ(Cell(page, 2, 1), "44");
  env.servers->FreeServerNodes(c);
  page.ServersChanged();
  EXPECT_EQ(page.Model()->columnCount(), 3);
}

TEST_F(NewsgroupsPageTest, FindBoxFiltersAndKeepsAHistory) {
  env.config->MaxHistory = 2;
  TNewsgroupsPage page(list, *env.servers, *env.groups, actions);
  for (const char* text : {"test", "bin", "test", "lang"}) {
    page.cbxGrpFind->setEditText(text);
    emit page.cbxGrpFind->lineEdit()->returnPressed();
  }
  EXPECT_EQ(Names(page), (TNames{"comp.lang"}));
  EXPECT_EQ(env.config->NewsgroupsHistory, "lang,test") << "newest first, each once, at most MaxHistory";
  EXPECT_EQ(page.cbxGrpFind->count(), 2);

  // Typing alone filters only when the quick filter applies itself.
  page.cbxGrpFind->setEditText("bin");
  page.Tick();
  EXPECT_EQ(Names(page), (TNames{"comp.lang"}));
  env.config->Flags |= 1u << cfAutoQuickFilter;
  page.Tick();
  EXPECT_EQ(Names(page), (TNames{"alt.bin.misc", "alt.bin.tv"}));
  page.cbxGrpFind->setEditText("");
  page.Tick();
  EXPECT_EQ(page.Model()->rowCount(), 4);
}

TEST_F(NewsgroupsPageTest, HeaderClicksSortByAServersCounts) {
  TNewsgroupsPage page(list, *env.servers, *env.groups, actions);
  Select(page, "alt.test", 0);
  page.drgGroups->horizontalHeader()->sectionClicked(2);
  EXPECT_EQ(Names(page), (TNames{"alt.bin.tv", "alt.test", "comp.lang", "alt.bin.misc"})) << "most articles first";
  EXPECT_EQ(page.drgGroups->currentIndex().row(), 1) << "the current group stays current";
  page.drgGroups->horizontalHeader()->sectionClicked(2);
  EXPECT_EQ(Names(page).back(), "alt.bin.tv");
  EXPECT_EQ(page.drgGroups->horizontalHeader()->sortIndicatorOrder(), Qt::AscendingOrder);
  page.drgGroups->horizontalHeader()->sectionClicked(0);
  EXPECT_EQ(Names(page), (TNames{"alt.bin.misc", "alt.bin.tv", "alt.test", "comp.lang"}));
}

TEST_F(NewsgroupsPageTest, SubscribeAddsTheGroupTreeEntryAndItsServerGroups) {
  TNewsgroupsPage page(list, *env.servers, *env.groups, actions);
  std::vector<std::string> removed;
  page.removeGroup = [&](TGroup& g) {
    removed.push_back(g.Name());
    env.groups->FreeGroupNodes(&g);
  };
  int redraws = 0;
  page.groupsChanged = [&] { ++redraws; };
  EXPECT_FALSE(actions.subscribe->isEnabled()) << "nothing selected";

  Select(page, "alt.bin.tv", 0);
  ASSERT_TRUE(actions.subscribe->isEnabled());
  EXPECT_FALSE(actions.unsubscribe->isEnabled());
  actions.subscribe->trigger();
  TGroup* group = env.groups->FindGroupByName("alt.bin.tv");
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->Parent(), env.groups->Roots()[0].get());
  EXPECT_EQ(serverGroups.CountForGroup(*group, false), 2) << "both servers carry it";
  EXPECT_NE(env.IniText().find("alt.bin.tv"), std::string::npos) << "the group tree is saved";
  EXPECT_EQ(redraws, 1);
  EXPECT_TRUE(page.Rows().IsSubscribedRow(1));
  EXPECT_TRUE(page.Model()->index(1, 0).data(Qt::BackgroundRole).isValid()) << "subscribed rows stand out";
  EXPECT_FALSE(actions.subscribe->isEnabled());
  EXPECT_TRUE(actions.unsubscribe->isEnabled());

  // Only servers that carry a group get its server-group.
  Select(page, "comp.lang", 0);
  actions.subscribe->trigger();
  TGroup* lang = env.groups->FindGroupByName("comp.lang");
  ASSERT_NE(lang, nullptr);
  ASSERT_EQ(serverGroups.CountForGroup(*lang, false), 1);
  EXPECT_EQ(&serverGroups.EntriesOf(*lang)[0]->Server(), b);

  actions.subscribed->trigger();
  EXPECT_EQ(Names(page), (TNames{"alt.bin.tv", "comp.lang"}));
  EXPECT_TRUE(actions.subscribed->isChecked());
  Select(page, "alt.bin.tv", 0);
  actions.unsubscribe->trigger();
  EXPECT_EQ(removed, (TNames{"alt.bin.tv"}));
  EXPECT_EQ(Names(page), (TNames{"comp.lang"}));
  actions.all->trigger();
  EXPECT_EQ(page.Model()->rowCount(), 4);
}

TEST_F(NewsgroupsPageTest, ForceExistAndNonExistOnAServerCell) {
  TNewsgroupsPage page(list, *env.servers, *env.groups, actions);
  Select(page, "alt.bin.misc", 2);
  EXPECT_TRUE(actions.forceExist->isEnabled());
  EXPECT_FALSE(actions.forceNonExist->isEnabled());
  actions.forceExist->trigger();
  EXPECT_EQ(list.ArticleCountByName(*b, "alt.bin.misc"), 1u);
  EXPECT_EQ(Cell(page, 0, 2), "1");
  EXPECT_TRUE(actions.forceNonExist->isEnabled());

  TGroup* group = env.groups->CreateGroupNode(gnNewsgroup, "alt.test", env.groups->Roots()[0].get());
  serverGroups.AddGroup(*group, *env.servers);
  ASSERT_EQ(serverGroups.CountForGroup(*group, false), 2);
  Select(page, "alt.test", 1);
  actions.forceNonExist->trigger();
  EXPECT_EQ(list.ArticleCountByName(*a, "alt.test"), 0u);
  EXPECT_EQ(serverGroups.CountForGroup(*group, false), 1) << "News A's server-group goes";
  Select(page, "alt.test", 0);
  EXPECT_FALSE(actions.forceExist->isEnabled()) << "the name column has no server";
  EXPECT_FALSE(actions.reload->isEnabled());
}

TEST_F(NewsgroupsPageTest, ReloadAsksThenForgetsTheServersList) {
  TNewsgroupsPage page(list, *env.servers, *env.groups, actions);
  a->CommandsChecked = 1;
  Select(page, "alt.test", 1);
  ASSERT_TRUE(actions.reload->isEnabled());
  modals.Answer(anNo);
  actions.reload->trigger();
  EXPECT_EQ(Cell(page, 2, 1), "3");
  modals.Answer(anYes);
  actions.reload->trigger();
  ASSERT_EQ(modals.texts.size(), 2u);
  EXPECT_NE(modals.texts[1].find("Are you sure you wish to reload newsgroups from the selected server?"),
            std::string::npos);
  EXPECT_EQ(Cell(page, 2, 1), "");
  EXPECT_EQ(Cell(page, 2, 2), "20") << "the other server's list stays";
  EXPECT_EQ(list.LastUpdate(*a), 0) << "the next connection downloads the whole list";
  EXPECT_EQ(a->CommandsChecked, 0u);
}

TEST_F(NewsgroupsPageTest, TwoHundredThousandGroups) {
  std::string text;
  for (int i = 0; i < 200000; ++i) text += "alt.g" + std::to_string(1000000 + i).substr(1) + " 9 1 y\n";
  list.HandleListResponse(*a, text, true);
  TNewsgroupsPage page(list, *env.servers, *env.groups, actions);
  page.resize(800, 600);
  page.show();
  EXPECT_EQ(page.Model()->rowCount(), 200004);
  page.drgGroups->scrollToBottom();
  QApplication::processEvents();
  page.cbxGrpFind->setEditText("g19999");
  emit page.cbxGrpFind->lineEdit()->returnPressed();
  EXPECT_EQ(page.Model()->rowCount(), 10);
  EXPECT_EQ(Cell(page, 9, 0), "alt.g199999");
  EXPECT_EQ(Cell(page, 9, 1), "9");
}

// The whole flow: a new server, the question, the connection's "list", the grid, and
// subscribing to a group the server just listed.
class NewServerOnTestServer : public testserver::TNewsServerFixture {
 protected:
  void FillStore(testserver::TArticleStore& store) override {
    store.AddGroup("alt.binaries.test").SetNextNumber(1001);
    store.Post("alt.test", {{"Message-ID", "<1@zevrin.test>"}, {"Subject", "hello"}, {"From", "a@b.c"}}, "body\n");
  }
};

TEST_F(NewServerOnTestServer, TheQuestionsYesDownloadsTheListIntoTheGrid) {
  test::TUiEnvironment env;
  test::TScriptedModals modals;
  test::TQueueInPlace queue{*env.servers};
  TGroupList list(env.dir, 1 << 20);
  TGroupListFeed feed(list);
  TSGLst serverGroups;
  gGroupList = &list;
  gNewsgroupCatalog = &list;
  gNewsgroupFeed = &feed;
  gServerGroups = &serverGroups;
  TConnectionPool pool;
  gConnectionPool = &pool;
  {
    TfrmMain window(*env.servers, *env.groups);
    window.show();
    auto* page = dynamic_cast<TNewsgroupsPage*>(window.tbsNewsgroups);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->Model()->rowCount(), 0);
    EXPECT_TRUE(window.actAll->isEnabled() && window.actSubscribed->isEnabled()) << "the page's modes work at once";
    modals.Then([&](QDialog& d) {
      auto& dialog = dynamic_cast<TfrmServerCfg&>(d);
      dialog.edtName->setText("Test");
      dialog.edtHost->setText("127.0.0.1");
      dialog.edtPort->setText(QString::number(Port()));
      dialog.btnOk->click();
      return d.result();
    });
    modals.Answer(anYes);
    window.actNewServer->trigger();
    ASSERT_TRUE(modals.Done());
    EXPECT_NE(modals.texts[1].find("Do you wish to open a connection to \"Test\" and download the list of "
                                   "available newsgroups now?"),
              std::string::npos);
    // The grid fills as soon as the list is stored, before the connection has finished its
    // start-up; it is waited for too, so that closing finds nothing at work.
    const TServer& root = *env.servers->Roots()[0];
    EXPECT_TRUE(test::WaitFor(
        [&] {
          window.Tick();
          return page->Model()->rowCount() == 2 && env.servers->CountInStates(root, TConnStateSet{csReady}) == 1 &&
                 env.servers->CountInStates(root, kBusyStates) == 0;
        },
        30000))
        << page->Model()->rowCount();
    EXPECT_EQ(page->Model()->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), "Test");
    EXPECT_EQ(page->Model()->index(0, 0).data().toString(), "alt.binaries.test");
    EXPECT_EQ(page->Model()->index(1, 1).data().toString(), "1");

    page->drgGroups->selectionModel()->setCurrentIndex(page->Model()->index(1, 0), QItemSelectionModel::ClearAndSelect);
    window.actSubscribe->trigger();
    TGroup* group = env.groups->FindGroupByName("alt.test");
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(serverGroups.CountForGroup(*group, false), 1);
    EXPECT_EQ(serverGroups.EntriesOf(*group)[0]->Server().Name(), "Test");

    // A connection that is only connected has no current item: closing stops it unasked.
    window.close();
    EXPECT_TRUE(test::WaitFor(
        [&] {
          window.Tick();
          return !window.isVisible();
        },
        30000));
    EXPECT_EQ(modals.texts.size(), 2u);
  }
  gConnectionPool = nullptr;
  gNewsgroupFeed = nullptr;
  gServerGroups = nullptr;
  gNewsgroupCatalog = nullptr;
  gGroupList = nullptr;
}

}  // namespace
}  // namespace zev::ui
