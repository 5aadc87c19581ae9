// The server and group property dialogs: what Apply stores, the enabling rules, and the
// data directory that follows a server's host and port.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <filesystem>

#include "UiTestSupport.h"
#include "ui/GroupCfg.h"
#include "ui/ServerCfg.h"

namespace zev::ui {
namespace {

class ServerDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    TServer* root = env.servers->Roots().front().get();
    server = env.servers->CreateServerNode("News", snNewsServer, root);
    server->SetHost("news.example");
    env.servers->AdjustSlots(*server);
  }
  test::TUiEnvironment env;
  test::TScriptedModals modals;
  TServer* server = nullptr;
};

TEST_F(ServerDialog, XhdrLinesNeedsXhdr) {
  TfrmServerCfg dialog(*server, *env.servers);
  dialog.chxInherit->setChecked(false);
  dialog.rdbXover->setChecked(true);
  dialog.rdbXhdrLines->setChecked(true);
  modals.Accept();
  dialog.Apply();
  ASSERT_EQ(modals.texts.size(), 1u);
  EXPECT_NE(modals.texts[0].find("You can not use \"XHDR Lines\""), std::string::npos);
  EXPECT_FALSE(server->Has(sfXHDRLines));
  EXPECT_FALSE(dialog.ApplyEnabled());
  EXPECT_TRUE(dialog.rdbListgroup->isChecked());  // the controls show what was stored
}

TEST_F(ServerDialog, ChangingThePortMovesTheDataDirectory) {
  const std::string oldDir = ServerDataDir(*server);
  std::filesystem::create_directories(oldDir);
  test::WriteFile(oldDir + "alt.test.zev", "map");
  TfrmServerCfg dialog(*server, *env.servers);
  dialog.edtPort->setText("563");
  dialog.Apply();
  EXPECT_EQ(server->Port.load(), 563);
  const std::string newDir = ServerDataDir(*server);
  EXPECT_NE(newDir, oldDir);
  EXPECT_EQ(test::ReadFile(newDir + "alt.test.zev"), "map");
  EXPECT_FALSE(std::filesystem::exists(oldDir));
}

TEST_F(ServerDialog, ADataDirectoryNeverReplacesAnother) {
  const std::string oldDir = ServerDataDir(*server);
  std::filesystem::create_directories(oldDir);
  test::WriteFile(oldDir + "mine.zev", "old");
  TfrmServerCfg dialog(*server, *env.servers);
  dialog.edtHost->setText("other.example");
  server->SetHost("other.example");
  const std::string taken = ServerDataDir(*server);
  server->SetHost("news.example");
  std::filesystem::create_directories(taken);
  test::WriteFile(taken + "theirs.zev", "other server");
  dialog.Apply();
  EXPECT_EQ(test::ReadFile(taken + "theirs.zev"), "other server");
  EXPECT_EQ(test::ReadFile(oldDir + "mine.zev"), "old");
}

TEST_F(ServerDialog, ConnectionLimitFollowsAuthentication) {
  server->MaxConn = 2;
  TfrmServerCfg dialog(*server, *env.servers);
  EXPECT_EQ(dialog.speMaxConn->maximum(), 4);
  dialog.chxNeedAuth->setChecked(true);
  EXPECT_EQ(dialog.speMaxConn->maximum(), 100);
  dialog.speMaxConn->setValue(8);
  dialog.chxNeedAuth->setChecked(false);
  EXPECT_EQ(dialog.speMaxConn->value(), 4);
  EXPECT_EQ(dialog.speMaxConn->maximum(), 4);
  dialog.Apply();
  EXPECT_EQ(server->MaxConn.load(), 4u);
  int slotCount = 0;
  for (const auto& c : server->Children()) slotCount += c->IsSlot();
  EXPECT_EQ(slotCount, 4);
}

TEST_F(ServerDialog, EnablingRules) {
  TfrmServerCfg dialog(*server, *env.servers);
  dialog.edtHost->clear();
  emit dialog.edtHost->textEdited({});
  EXPECT_FALSE(dialog.OkEnabled());
  dialog.edtHost->setText("h");
  emit dialog.edtHost->textEdited("h");
  EXPECT_TRUE(dialog.OkEnabled());
  dialog.chxInherit->setChecked(true);
  EXPECT_FALSE(dialog.pgcPages->widget(2)->isEnabled());
  EXPECT_TRUE(dialog.speMaxConn->isEnabled());
  dialog.chxInherit->setChecked(false);
  dialog.cbxServerMode->setCurrentIndex(smArticles);
  EXPECT_TRUE(dialog.rdbMessageId->isChecked());
  EXPECT_FALSE(dialog.rdbArtNumber->isEnabled());
  dialog.cbxServerMode->setCurrentIndex(smNormal);
  dialog.rdbArtNumber->setChecked(true);
  EXPECT_FALSE(dialog.chxSkipGroup->isChecked());
  EXPECT_FALSE(dialog.chxSkipGroup->isEnabled());
  EXPECT_TRUE(dialog.ApplyEnabled());

  TfrmServerCfg rootDialog(*env.servers->Roots().front(), *env.servers);
  EXPECT_FALSE(rootDialog.chxInherit->isEnabled());
  EXPECT_FALSE(rootDialog.edtHost->isEnabled());
  EXPECT_TRUE(rootDialog.OkEnabled());
}

TEST_F(ServerDialog, TlsAndFingerprint) {
  TfrmServerCfg dialog(*server, *env.servers);
  dialog.chxUseTls->setChecked(true);
  EXPECT_EQ(dialog.edtPort->text(), "563");
  const std::string fp(64, 'a');
  dialog.edtFingerprint->setText(QString::fromStdString(fp));
  dialog.Apply();
  EXPECT_TRUE(server->UseTls.load());
  EXPECT_EQ(server->TlsFingerprint().substr(0, 5), "AA:AA");
  dialog.edtFingerprint->setText("not a fingerprint");
  modals.Accept();  // the complaint
  dialog.Apply();
  EXPECT_EQ(server->TlsFingerprint().substr(0, 5), "AA:AA");
}

class GroupDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    TGroup* root = env.groups->Roots().front().get();
    folder = env.groups->CreateGroupNode(gnFolder, "Pictures", root);
    folder->Exclude(gfInherit);
    folder->SetDecodeDir("/data/pictures/");
    folder->HeaderScore = 5;
    group = env.groups->CreateGroupNode(gnNewsgroup, "alt.binaries.test", folder);
  }
  test::TUiEnvironment env;
  TGroup* folder = nullptr;
  TGroup* group = nullptr;
};

TEST_F(GroupDialog, TypedDirectoryWithTheGroupsNameStoresTheBase) {
  TfrmGroupCfg dialog(*group, *env.groups);
  dialog.chxInherit->setChecked(false);
  dialog.rdbAppendName->setChecked(true);
  dialog.edtDecodeDir->setText("/srv/files/alt.binaries.test");
  emit dialog.edtDecodeDir->textEdited(dialog.edtDecodeDir->text());
  dialog.Apply();
  EXPECT_EQ(group->DecodeDir(), "/srv/files/");
  EXPECT_EQ(group->EffectiveDecodeDir(), "/srv/files/alt.binaries.test/");
  EXPECT_EQ(dialog.edtDecodeDir->text(), "/srv/files/alt.binaries.test/");
}

TEST_F(GroupDialog, InheritingTakesAndPassesDownTheParentsSettings) {
  TfrmGroupCfg dialog(*folder, *env.groups);
  dialog.speHeaderScore->setValue(9);
  dialog.Apply();
  EXPECT_EQ(folder->HeaderScore.load(), 9);
  EXPECT_EQ(group->HeaderScore.load(), 9);  // inherits

  group->Exclude(gfInherit);
  group->HeaderScore = -3;
  TfrmGroupCfg own(*group, *env.groups);
  EXPECT_EQ(own.speHeaderScore->value(), -3);
  own.chxInherit->setChecked(true);  // the parent's settings show at once
  EXPECT_EQ(own.speHeaderScore->value(), 9);
  EXPECT_FALSE(own.speHeaderScore->isEnabled());
  own.Apply();
  EXPECT_TRUE(group->Has(gfInherit));
  EXPECT_EQ(group->HeaderScore.load(), 9);
}

TEST_F(GroupDialog, RootKeepsItsOwnSortOrder) {
  TGroup& root = *env.groups->Roots().front();
  TfrmGroupCfg dialog(root, *env.groups);
  EXPECT_TRUE(dialog.chxCustomSort->isChecked());
  EXPECT_FALSE(dialog.chxCustomSort->isEnabled());
  EXPECT_FALSE(dialog.chxInherit->isEnabled());
  dialog.cbxPrimary->setCurrentIndex(scSize);
  dialog.chxPrimaryReverse->setChecked(true);
  dialog.Apply();
  EXPECT_TRUE(root.Has(gfCustomSort));
  EXPECT_EQ(root.PrimarySort(), scSize);
  EXPECT_TRUE(root.PrimaryReverse());
}

}  // namespace
}  // namespace zev::ui
