#include "db/GroupTree.h"

#include <gtest/gtest.h>

#include "ModelTestUtil.h"
#include "core/ZevIniFile.h"
#include "db/GroupSection.h"

using namespace zev;
using zev::test::MakeDateTime;
using zev::test::ScratchDir;
using zev::test::TCapturedLog;

namespace {

struct FGroupFixture {
  explicit FGroupFixture(const std::string& text, bool extraColumns = false) : dir(ScratchDir()), log(dir), ini("") {
    ini.SetText(text);
    tree.ExtraSortColumns = extraColumns;
    tree.LoadGroups();
  }
  std::string Saved() {
    tree.WriteGroups();
    return ini.Text();
  }
  TGroup& Node(std::initializer_list<size_t> path) {
    TGroup* node = tree.Roots()[0].get();
    for (size_t i : path) node = node->Children()[i].get();
    return *node;
  }
  std::string dir;
  TCapturedLog log;
  TZevIniFile ini;
  TGroupTree tree{ini, "/home/u/Downloads"};
};

const std::string kCanonical =
    "[Group:0]\nType=00\nParent=-1\nName=Newsgroups\nFlags=00000020\nDecodeDir=/home/u/Downloads/\n"
    "PrimarySort=Subject\nSecondarySort=Filename\n\n"
    "[Group:1]\nType=01\nParent=0\nName=Pictures\nFlags=4E000000\nDecodeDir=/data/pics/\nHeaderScore=5\n\n"
    "[Group:2]\nType=02\nParent=1\nName=alt.binaries.pictures\nFlags=4F000000\nLastOpen=1483690639\n"
    "NewCount=12\nKillCount=3\n\n"
    "[Group:3]\nType=02\nParent=0\nName=alt.binaries.e-book\nFlags=20400020\nDecodeDir=/data/books/\n"
    "MaxHeaders=5000\nFilterHist=ebook,pdf\nWantCount=2\nPrimarySort=-Size\nSecondarySort=Author\n\n";

}  // namespace

TEST(GroupTree, CanonicalSectionsLoadAndSaveUnchanged) {
  FGroupFixture f(kCanonical);
  EXPECT_EQ(f.Saved(), kCanonical);

  TGroup& pictures = f.Node({0, 0});
  EXPECT_EQ(pictures.HeaderScore, 5) << "inherited from its folder";
  EXPECT_EQ(pictures.RefreshInterval(), ri6Hours);
  EXPECT_EQ(pictures.EffectiveDecodeDir(), "/data/pics/alt.binaries.pictures/");
  EXPECT_EQ(pictures.PrimarySort(), scSubject) << "the root's sort order";
  TGroup& ebook = f.Node({1});
  EXPECT_EQ(ebook.EffectiveDecodeDir(), "/data/books/ABE-B/");
  EXPECT_EQ(ebook.PrimarySort(), scSize);
  EXPECT_TRUE(ebook.PrimaryReverse());
  EXPECT_EQ(f.tree.FindGroupByName("alt.binaries.e-book"), &ebook);
  EXPECT_EQ(f.tree.FindGroupByName("ALT.binaries.e-book"), nullptr) << "names compare exactly";

  pictures.PendingNew = 4;
  EXPECT_NE(f.Saved().find("NewCount=16\n"), std::string::npos) << "pending new articles are saved as new";
}

TEST(GroupTree, EmptyFileGivesARootInTheDownloadFolder) {
  FGroupFixture f("");
  EXPECT_EQ(f.Saved(), "[Group:0]\nType=00\nParent=-1\nName=Newsgroups\nFlags=00000020\n"
                       "DecodeDir=/home/u/Downloads/\nPrimarySort=Subject\nSecondarySort=Filename\n\n");
}

TEST(GroupTree, MisplacedParentsAppendToTheRoot) {
  FGroupFixture f(
      "[Group:0]\nType=00\nName=Root\nFlags=01000000\n"
      "[Group:1]\nType=02\nParent=0\nName=a.b\n"
      "[Group:2]\nType=02\nParent=1\nName=below.a.newsgroup\n"
      "[Group:3]\nType=01\nParent=17\nName=Late\n"
      "[Group:4]\nType=09\nParent=0\nName=Odd\n"
      "[Group:6]\nName=stale\n");
  EXPECT_TRUE(f.log.Contains("Group out of order, appending to root"));
  ASSERT_EQ(f.tree.Roots().size(), 1u);
  TGroup& root = *f.tree.Roots()[0];
  EXPECT_TRUE(root.Has(gfCustomSort));
  EXPECT_FALSE(root.Has(gfInherit)) << "a root never inherits";
  std::string order;
  for (auto& child : root.Children()) order += child->Name() + "|";
  EXPECT_EQ(order, "Late|Odd|a.b|below.a.newsgroup|");
  EXPECT_EQ(root.Children()[1]->Type(), gnFolder);
  std::string saved = f.Saved();
  EXPECT_NE(saved.find("[Group:4]\nType=02\nParent=0\nName=below.a.newsgroup\n"), std::string::npos);
  EXPECT_NE(saved.find("[Group:6]\nName=stale\n"), std::string::npos) << "only the gapless run belongs to the tree";
}

TEST(GroupTree, StoredDecodeDirsAreCleaned) {
  FGroupFixture f(
      "[Group:0]\nType=00\nParent=-1\nName=R\nFlags=00000020\nDecodeDir=/srv/dl\n"
      "[Group:1]\nType=02\nParent=0\nName=g\nFlags=00000000\nDecodeDir=/srv/x/../../etc\n"
      "[Group:2]\nType=02\nParent=0\nName=h\nFlags=00000000\n");
  EXPECT_EQ(f.tree.Roots()[0]->DecodeDir(), "/srv/dl/");
  EXPECT_EQ(f.Node({0}).DecodeDir().find(".."), std::string::npos);
  EXPECT_EQ(f.Node({1}).DecodeDir(), "/srv/dl/") << "missing: the parent's effective directory";
}

TEST(GroupTree, SortColumnsAndTheTestSwitch) {
  std::string text = "[Group:0]\nType=00\nParent=-1\nName=R\nPrimarySort=-lines\nSecondarySort=nonsense\n";
  FGroupFixture plain(text), test(text, true);
  EXPECT_EQ(plain.Node({}).PrimarySort(), scSubject) << "test columns need the switch";
  EXPECT_EQ(test.Node({}).PrimarySort(), scLines);
  EXPECT_TRUE(test.Node({}).PrimaryReverse());
  EXPECT_EQ(test.Node({}).SecondarySort(), scFilename) << "an unknown name changes nothing";
  EXPECT_EQ(SortColumnText(200, false), "200");
}

TEST(GroupTree, SortSettingsBelongToTheNearestCustomAncestor) {
  FGroupFixture f("");
  TGroup* root = f.tree.Roots()[0].get();
  TGroup* folder = f.tree.CreateGroupNode(gnFolder, "F", root);
  folder->Exclude(gfCustomSort);
  TGroup* group = f.tree.CreateGroupNode(gnNewsgroup, "g", folder);
  group->Exclude(gfCustomSort);
  group->SetPrimarySort(scAuthor, true);
  EXPECT_EQ(root->PrimarySort(), scAuthor) << "written on the root";
  folder->Include(gfCustomSort);
  folder->SetOwnSortOrder({scSize, scDateTime, false, false});
  EXPECT_EQ(group->PrimarySort(), scSize);
  EXPECT_EQ(group->SecondarySort(), scDateTime);
}

TEST(GroupTree, NewsgroupsAreSubscribedWhileTheyExist) {
  FGroupFixture f("");
  TGroup* root = f.tree.Roots()[0].get();
  TGroup* folder = f.tree.CreateGroupNode(gnFolder, "F", root);
  f.tree.CreateGroupNode(gnNewsgroup, "alt.a", folder);
  auto detached = f.tree.CreateDetachedGroup(gnNewsgroup, "alt.b", root);
  EXPECT_EQ(f.tree.FindGroupByName("alt.b"), detached.get()) << "imports see their own groups";
  TGroup* attached = f.tree.AttachGroup(std::move(detached), folder);
  EXPECT_EQ(attached->Parent(), folder);
  EXPECT_EQ(f.tree.SubscribedGroups().Snapshot().size(), 2u);
  f.tree.FreeGroupNodes(folder);
  EXPECT_TRUE(f.tree.SubscribedGroups().Snapshot().empty());
  f.tree.CreateDetachedGroup(gnNewsgroup, "alt.c", root).reset();
  EXPECT_EQ(f.tree.FindGroupByName("alt.c"), nullptr) << "a dropped import leaves nothing behind";
}

TEST(Group, AbbreviationTable) {
  struct FCase {
    const char* name;
    const char* abbreviation;
  } cases[] = {
      {"alt.binaries.pictures", "ABP"},
      {"alt.binaries.e-book", "ABE-B"},
      {"alt.binaries.mp3.1990s", "ABM1990"},
      {"alt.binaries.sounds.mp3", "ABSM"},
      {"alt.2600", "A2600"},
      {"a.-b", "A"},  // after a "." only a letter or digits count
      {"x", "X"},
      {"", ""},
  };
  for (const FCase& c : cases) EXPECT_EQ(AbbreviateGroupName(c.name), c.abbreviation) << c.name;
  TGroup folder(gnFolder, "My.Folder", nullptr);
  EXPECT_EQ(folder.GroupAbbreviation(), "My.Folder");
}

TEST(Group, EffectiveDecodeDirNeverLeavesTheDecodeDir) {
  struct FCase {
    const char* name;
    TGroupFlag append;
    const char* expected;
  } cases[] = {
      {"alt.binaries.test", gfAppendName, "/dl/alt.binaries.test/"},
      {"alt.binaries.test", gfAppendAbbr, "/dl/ABT/"},
      {"../../etc", gfAppendName, "/dl/etc/"},
      {"..", gfAppendName, "/dl/unknown/"},
      {".hidden", gfAppendName, "/dl/hidden/"},
      {"a/b\\c", gfAppendName, "/dl/a_b_c/"},
      {"/", gfAppendAbbr, "/dl/unknown/"},
  };
  TGroup root(gnRoot, "R", nullptr);
  root.SetDecodeDir("/dl/");
  for (const FCase& c : cases) {
    TGroup g(gnNewsgroup, c.name, &root);
    g.SetDecodeDir("/dl/");
    g.Include(c.append);
    EXPECT_EQ(g.EffectiveDecodeDir(), c.expected) << c.name;
  }
  root.Include(gfAppendName);
  EXPECT_EQ(root.EffectiveDecodeDir(), "/dl/") << "a root's directory is its own";
}

TEST(Group, RefreshThresholdTable) {
  TDateTime now = MakeDateTime(2024, 3, 15, 12);
  struct FCase {
    uint32_t interval;
    TDateTime expected;
  } cases[] = {
      {riProgramStart, ProgramStartTime()},
      {ri24Hours, MakeDateTime(2024, 3, 14, 12)},
      {ri12Hours, MakeDateTime(2024, 3, 15, 0)},
      {ri6Hours, MakeDateTime(2024, 3, 15, 6)},
      {ri3Hours, MakeDateTime(2024, 3, 15, 9)},
      {riHour, MakeDateTime(2024, 3, 15, 11)},
      {ri30Minutes, MakeDateTime(2024, 3, 15, 11, 30)},
      {7, 0},
  };
  TGroup g(gnNewsgroup, "g", nullptr);
  g.Include(gfMarkReadNever);
  for (const FCase& c : cases) {
    g.SetRefreshInterval(c.interval);
    EXPECT_NEAR(g.RefreshThreshold(now), c.expected, 1e-9) << c.interval;
    EXPECT_TRUE(g.Has(gfMarkReadNever)) << "the interval bits leave the others alone";
  }
}
