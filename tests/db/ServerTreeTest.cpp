#include "db/ServerTree.h"

#include <gtest/gtest.h>

#include "ModelTestUtil.h"
#include "core/ZevIniFile.h"
#include "db/ServerSection.h"
#include "db/SlotConnection.h"

using namespace zev;
using zev::test::MakeDateTime;
using zev::test::ScratchDir;
using zev::test::TCapturedLog;

namespace {

const TDateTime kNow = MakeDateTime(2024, 3, 15, 10, 20, 30);
constexpr const char* kPackedNow = "1483690639";

// The keys every stored node ends with, for a node whose totals are zero and whose periods
// started at kNow with the default schedules.
std::string Tail(const std::string& mode = "Normal") {
  return std::string("DailyTotal=0\nDailyBodies=0\nDailyLastReset=") + kPackedNow +
         "\nDailyReset=2\nMonthlyTotal=0\nMonthlyBodies=0\nMonthlyLastReset=" + kPackedNow +
         "\nMonthlyReset=12\nServerMode=" + mode + "\n\n";
}

struct FTreeFixture {
  explicit FTreeFixture(const std::string& text) : dir(ScratchDir()), log(dir), ini("") {
    ini.SetText(text);
    tree.LoadServers(kNow);
  }
  std::string Saved() {
    tree.WriteServers();
    return ini.Text();
  }
  TServer& Node(std::initializer_list<size_t> path) {
    TServer* node = tree.Roots()[0].get();
    for (size_t i : path) node = node->Children()[i].get();
    return *node;
  }
  std::string dir;
  TCapturedLog log;
  TZevIniFile ini;
  TServerTree tree{ini};
};

const std::string kCanonical =
    "[Server:0]\nType=00\nParent=-1\nName=Servers\nFlags=02A80000\nMaxConn=100\nRetry=10\nTimeOut=120\n" + Tail() +
    "[Server:1]\nType=01\nParent=0\nName=Europe\nFlags=02A90000\n" + Tail() +
    "[Server:2]\nType=02\nParent=1\nName=Example News\nHost=news.example.net\nPort=563\nFlags=134E0100\n"
    "User=alice\nPass=46585665586714\nMaxConn=4\nPreference=-3\nMaxHeaders=300\nIdle=300\n"
    "DailyTotal=2048\nDailyBodies=1024\nDailyLastReset=1483652960\nDailyReset=176947243\nDailyLimit=1048576\n"
    "MonthlyTotal=4096\nMonthlyBodies=3000\nMonthlyLastReset=1482752000\nMonthlyReset=12\nServerMode=Headers\n\n"
    "[Server:3]\nType=02\nParent=0\nName=Backup\nHost=::1\nPort=40000\nFlags=42A90000\nPass=plain secret\n" +
    Tail("Articles");

}  // namespace

TEST(ServerTree, CanonicalSectionsLoadAndSaveUnchanged) {
  FTreeFixture f(kCanonical);
  EXPECT_EQ(f.Saved(), kCanonical);

  TServer& news = f.Node({0, 0});
  EXPECT_EQ(news.Host(), "news.example.net");
  EXPECT_EQ(news.Port, 563);
  EXPECT_EQ(news.Pass(), "Secret!");
  EXPECT_EQ(news.Preference(), -3);
  EXPECT_TRUE(news.Has(sfNegPreference));
  EXPECT_EQ(news.Daily.Total, 2048u * 1024);
  EXPECT_EQ(news.Daily.Limit, 1048576ull * 1024);
  ASSERT_EQ(news.Children().size(), 4u);
  EXPECT_EQ(news.Children()[3]->Name(), "#4");
  EXPECT_EQ(news.Children()[3]->IconIndex(), 3);

  TServer& backup = f.Node({1});
  EXPECT_EQ(backup.ServerMode, smArticles);
  EXPECT_TRUE(backup.Has(sfByMessageID));
  EXPECT_EQ(backup.Retry, 10u) << "inherited from the root";
  EXPECT_EQ(backup.Port, 40000);
  EXPECT_EQ(f.tree.FindServerByHost("::1", 40000), &backup);
  EXPECT_EQ(f.tree.FindServerByHost("::1", 119), nullptr);
}

TEST(ServerTree, EmptyFileGivesOneRootWithLanServerFlags) {
  FTreeFixture f("");
  ASSERT_EQ(f.tree.Roots().size(), 1u);
  TServer& root = *f.tree.Roots()[0];
  EXPECT_EQ(root.Name(), "Servers");
  EXPECT_EQ(root.Flags, ServerFlagBit(sfAlways) | ServerFlagBit(sfARTICLE) | ServerFlagBit(sfConnectOnDemand) |
                            ServerFlagBit(sfRetryAnyError));
  EXPECT_EQ(f.Saved(), "[Server:0]\nType=00\nParent=-1\nName=Servers\nFlags=02A80000\nMaxConn=100\nRetry=10\n"
                       "TimeOut=120\n" + Tail());
}

TEST(ServerTree, OldSlotCountingParentsAreConvertedAndSectionsRenumbered) {
  // In the old numbering the folder was item 4: root 0, S1 1, its slots 2 and 3.
  FTreeFixture f(
      "[Server:0]\nType=00\nParent=-1\nName=Root\nFlags=00000000\n"
      "[Server:1]\nType=02\nParent=0\nName=S1\nHost=a\nMaxConn=2\n"
      "[Server:2]\nType=01\nParent=0\nName=F\n"
      "[Server:3]\nType=02\nParent=4\nName=S2\nHost=b\n"
      "[Server:4]\nType=02\nParent=3\nName=S3\nHost=c\n"
      "[Server:5]\nType=02\nParent=0\nName=Stale\nHost=d\n"
      "[Server:7]\nName=beyond the gap\n");
  EXPECT_EQ(f.Node({0, 0}).Name(), "S2") << "under the folder";
  EXPECT_EQ(f.Node({1}).Name(), "S1") << "folders stand before servers";
  EXPECT_EQ(f.Node({2}).Name(), "S3") << "an old slot index cannot be a parent";
  EXPECT_TRUE(f.log.Contains("Invalid parent index, appending to root"));
  f.tree.FreeServerNodes(&f.Node({3}));

  std::string inherit = "Flags=00010000\n";  // sfInherit only: the root has no flags
  EXPECT_EQ(f.Saved(),
            "[Server:0]\nType=00\nParent=-1\nName=Root\nFlags=00000000\n" + Tail() +
            "[Server:1]\nType=01\nParent=0\nName=F\n" + inherit + Tail() +
            "[Server:2]\nType=02\nParent=1\nName=S2\nHost=b\nPort=119\n" + inherit + Tail() +
            "[Server:3]\nType=02\nParent=0\nName=S1\nHost=a\nPort=119\n" + inherit + "MaxConn=2\n" + Tail() +
            "[Server:4]\nType=02\nParent=0\nName=S3\nHost=c\nPort=119\n" + inherit + Tail() +
            "[Server:7]\nName=beyond the gap\n\n");
}

TEST(ServerTree, FirstSectionIsAlwaysARoot) {
  for (const char* parent : {"Parent=0\n", ""}) {
    FTreeFixture f(std::string("[Server:0]\nType=01\n") + parent + "Name=X\n");
    ASSERT_EQ(f.tree.Roots().size(), 1u);
    EXPECT_EQ(f.tree.Roots()[0]->Parent(), nullptr);
    EXPECT_TRUE(f.log.Contains("First server entry must be root")) << parent;
  }
}

TEST(ServerTree, HostileParentsNeverMakeAServerAParent) {
  FTreeFixture f(
      "[Server:0]\nType=02\nParent=-1\nName=LoneServer\nHost=a\n"
      "[Server:1]\nType=02\nParent=0\nName=Child\nHost=b\n"
      "[Server:2]\nType=07\nParent=99999999999\nName=Odd\n");
  ASSERT_EQ(f.tree.Roots().size(), 3u);
  EXPECT_EQ(f.tree.Roots()[0]->Name(), "Odd") << "an unknown type reads as a folder";
  EXPECT_EQ(f.tree.Roots()[0]->Type(), snFolder);
  f.tree.ForEachNode([](TServer& node) {
    if (node.IsNewsServer()) {
      EXPECT_EQ(node.Children().size(), 1u) << node.Name() << ": only its slot";
    }
  });
}

TEST(ServerTree, ReadingKeepsTheLoadInvariants) {
  struct FCase {
    const char* keys;
    uint16_t port;
    uint32_t mode;
    uint32_t maxConn;
    bool xhdrLines, skipGroup, byMessageId;
  } cases[] = {
      {"Port=563\n", 563, smNormal, 1, false, false, false},
      {"Port=8119\n", 8119, smNormal, 1, false, false, false},
      {"Port=-25536\n", 40000, smNormal, 1, false, false, false},  // written by a 16-bit signed version
      {"Port=70000\n", 119, smNormal, 1, false, false, false},
      {"Port=0\nServerMode=aRTICLES\n", 119, smArticles, 1, false, false, true},
      {"ServerMode=7\n", 119, 7, 1, false, false, false},
      {"ServerMode=bogus\n", 119, smNormal, 1, false, false, false},
      {"Flags=00040000\n", 119, smNormal, 1, false, false, false},        // XHDR Lines without XHDR
      {"Flags=00060004\n", 119, smNormal, 1, true, false, false},         // with XHDR (bit 9)
      {"Flags=00000004\nServerMode=Articles\n", 119, smArticles, 1, false, false, true},
      {"Flags=40000004\n", 119, smNormal, 1, false, true, true},          // skip GROUP with Message-ID
      {"Flags=00000004\n", 119, smNormal, 1, false, false, false},        // skip GROUP alone
      {"MaxConn=100000000\n", 119, smNormal, kMaxConnections, false, false, false},
      {"MaxConn=-5\n", 119, smNormal, 1, false, false, false},
  };
  for (const FCase& c : cases) {
    FTreeFixture f(std::string("[Server:0]\nType=00\nParent=-1\nName=R\n[Server:1]\nType=02\nParent=0\nName=S\n") +
                   c.keys);
    TServer& s = f.Node({0});
    EXPECT_EQ(s.Port, c.port) << c.keys;
    EXPECT_EQ(s.ServerMode, c.mode) << c.keys;
    EXPECT_EQ(s.MaxConn, c.maxConn) << c.keys;
    EXPECT_EQ(s.Children().size(), c.maxConn) << c.keys;
    EXPECT_EQ(s.Has(sfXHDRLines), c.xhdrLines) << c.keys;
    EXPECT_EQ(s.Has(sfSkipGroup), c.skipGroup) << c.keys;
    EXPECT_EQ(s.Has(sfByMessageID), c.byMessageId) << c.keys;
    if (c.mode == 7) {
      EXPECT_NE(f.Saved().find("ServerMode=7\n"), std::string::npos);
    }
  }
}

TEST(ServerTree, ScrambledPasswordsRoundTripAndNeverReachTheLog) {
  struct FCase {
    std::string pass, readBack;
  } cases[] = {
      {"Secret!", "Secret!"},
      {"before\rafter", "before"},  // code 13 is stored as the zero byte that ends it
      {std::string(200, 'x'), std::string(128, 'x')},
      {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},
  };
  for (const FCase& c : cases) {
    FTreeFixture f("[Server:0]\nType=00\nParent=-1\nName=R\n");
    TServer* s = f.tree.CreateServerNode("S", snNewsServer, f.tree.Roots()[0].get(), kNow);
    s->Exclude(sfInherit);
    s->Include(sfCryptPass);
    s->SetLogin("bob", c.pass);
    std::string saved = f.Saved();
    EXPECT_EQ(saved.find(c.pass.substr(0, 6)), std::string::npos) << "stored scrambled";
    FTreeFixture again(saved + "[Server:2]\nType=02\nParent=0\nName=T\nPort=99999\n");
    EXPECT_EQ(again.Node({0}).Pass(), c.readBack);
    EXPECT_EQ(again.log.Text().find(c.pass.substr(0, 6)), std::string::npos);
    EXPECT_FALSE(again.log.Text().empty()) << "the bad port was logged";
  }
}

TEST(ServerTree, FoldersAreInsertedInNameOrderBeforeServers) {
  FTreeFixture f("");
  TServer* root = f.tree.Roots()[0].get();
  f.tree.CreateServerNode("s1", snNewsServer, root);
  for (const char* name : {"m", "c", "x", "a", "C"}) f.tree.CreateServerNode(name, snFolder, root);
  f.tree.CreateServerNode("s2", snNewsServer, root);
  std::string order;
  for (auto& child : root->Children()) order += child->Name() + " ";
  EXPECT_EQ(order, "C a c m x s1 s2 ");
}

TEST(ServerTree, CreatedNodesCopyTheirParentAndInherit) {
  FTreeFixture f("");
  TServer* root = f.tree.Roots()[0].get();
  root->Retry = 77;
  root->SetPreference(4);
  root->Include(sfLog);
  TServer* folder = f.tree.CreateServerNode("F", snFolder, root);
  TServer* server = f.tree.CreateServerNode("S", snNewsServer, folder);
  EXPECT_EQ(server->Retry, 77u);
  EXPECT_EQ(server->Preference(), 4);
  EXPECT_TRUE(server->Has(sfPosPreference));
  EXPECT_TRUE(server->Has(sfInherit));
  EXPECT_FALSE(server->Has(sfLog)) << "logging is each node's own";

  root->Retry = 9;
  root->InheritFromParent();  // a root has no parent: nothing happens
  folder->InheritFromParent();
  EXPECT_EQ(server->Retry, 9u) << "passed down to inheriting children";
  EXPECT_TRUE(folder->Has(sfInherit)) << "inheriting keeps the inheritance";
}

namespace {

class TFakeConnection : public TSlotConnection {
 public:
  int HeldItemCount() const override { return held; }
  void ReleaseCurrentItem() override {
    held = 0;
    ++releases;
  }
  int held = 1, releases = 0;
};

}  // namespace

TEST(ServerTree, SlotCountFollowsMaxConn) {
  FTreeFixture f("");
  TServer* server = f.tree.CreateServerNode("S", snNewsServer, f.tree.Roots()[0].get());
  auto names = [&] {
    std::string s;
    for (auto& slot : server->Children()) s += slot->Name() + " ";
    return s;
  };
  server->MaxConn = 4;
  EXPECT_TRUE(f.tree.AdjustSlots(*server));
  EXPECT_EQ(names(), "#1 #2 #3 #4 ");

  server->Children()[1]->StoreState(csHeaders);
  server->Children()[3]->StoreState(csReady);
  TFakeConnection connection;
  server->Children()[3]->Connection = &connection;
  server->MaxConn = 1;
  f.tree.AdjustSlots(*server);
  EXPECT_EQ(names(), "#2 #4 ") << "busy slots and slots with a connection stay";

  server->Children()[1]->Connection = nullptr;
  server->MaxConn = 3;
  f.tree.AdjustSlots(*server);
  EXPECT_EQ(names(), "#1 #2 #4 ") << "the first missing number is filled in";
}

TEST(ServerTree, LeavingTheWorkingStatesGivesTheQueueItemBack) {
  FTreeFixture f("");
  TServer* server = f.tree.CreateServerNode("S", snNewsServer, f.tree.Roots()[0].get());
  f.tree.AdjustSlots(*server);
  TServer& slot = *server->Children()[0];
  TFakeConnection connection;
  slot.Connection = &connection;
  for (TConnState s : {csGroup, csHeaders, csArticle}) slot.SetState(s);
  EXPECT_EQ(connection.releases, 0);
  slot.SetState(csReady);
  EXPECT_EQ(connection.releases, 1);
  slot.SetState(csError);
  EXPECT_EQ(connection.releases, 1) << "nothing held any more";
  slot.Connection = nullptr;
}

TEST(ServerTree, AggregateStateOfAServer) {
  struct FCase {
    std::vector<TConnState> slots;
    bool onDemand;
    TConnState expected;
  } cases[] = {
      {{csError, csError}, true, csError},
      {{csConnecting, csRetrying}, true, csRetrying},
      {{csUserDisconnected, csIdle}, false, csUserDisconnected},
      {{csUserDisconnected, csIdle}, true, csIdle},
      {{csReady, csError}, true, csIdle},
      {{csError, csRetrying}, true, csRetrying},
  };
  for (const FCase& c : cases) {
    FTreeFixture f("");
    TServer* server = f.tree.CreateServerNode("S", snNewsServer, f.tree.Roots()[0].get());
    server->MaxConn = static_cast<uint32_t>(c.slots.size());
    f.tree.AdjustSlots(*server);
    server->SetFlag(sfConnectOnDemand, c.onDemand);
    for (size_t i = 0; i < c.slots.size(); ++i) server->Children()[i]->StoreState(c.slots[i]);
    f.tree.TakeRateSamples();
    EXPECT_EQ(server->State(), c.expected) << c.slots.size() << " " << c.onDemand;
  }
}

TEST(ServerTree, SubtreeCounting) {
  FTreeFixture f("");
  TServer* root = f.tree.Roots()[0].get();
  TServer* a = f.tree.CreateServerNode("A", snNewsServer, root);
  TServer* b = f.tree.CreateServerNode("B", snNewsServer, root);
  a->MaxConn = 3;
  b->MaxConn = 2;
  f.tree.AdjustSlots(*a);
  f.tree.AdjustSlots(*b);
  a->Children()[0]->StoreState(csHeaders);
  a->Children()[1]->StoreState(csReady);
  b->Children()[0]->StoreState(csRetrying);
  EXPECT_EQ(f.tree.CountLive(*root), 2);
  EXPECT_EQ(f.tree.CountInStates(*root, kAliveIdleStates), 2);
  EXPECT_EQ(f.tree.CountInStates(*a->Children()[0], kBusyStates), 1) << "a slot counts itself";
  EXPECT_TRUE(f.tree.AnyInState(*b, csRetrying));
  EXPECT_FALSE(f.tree.AnyInState(*a, csRetrying));
  f.tree.TakeRateSamples();
  EXPECT_EQ(root->BusyCount, 2u);
}

TEST(ServerTree, DueResetsZeroTheTotalsAndSave) {
  std::string dir = ScratchDir();
  TZevIniFile ini(dir + "Zev2.ini");
  TServerTree tree(ini);
  tree.LoadServers(MakeDateTime(2024, 3, 14, 23, 59));
  TServer& root = *tree.Roots()[0];
  root.AddReceivedBytes(5000);
  EXPECT_FALSE(tree.CheckResets(MakeDateTime(2024, 3, 14, 23, 59, 59)));
  EXPECT_TRUE(tree.CheckResets(MakeDateTime(2024, 3, 15, 0, 0, 1)));
  EXPECT_EQ(root.Daily.Total, 0u);
  EXPECT_EQ(root.Monthly.Total, 5000u) << "the month goes on";
  EXPECT_DOUBLE_EQ(root.Daily.NextReset, MakeDateTime(2024, 3, 16));
  EXPECT_NE(zev::test::ReadFile(dir + "Zev2.ini").find("[Server:0]"), std::string::npos);
}

TEST(ServerDataDir, AnyHostStaysOneDirectoryInsideTheDataStore) {
  struct FCase {
    std::string host;
    uint16_t port;
    std::string expected;
  } cases[] = {
      {"10.1.2.3", 119, "10.1.2.3.119"},
      {"a:b", 119, "a_b.119"},
      {"::1", 563, "__1.563"},
      {"[2001:db8::1]", 40000, "[2001_db8__1].40000"},
      {"../../etc", 119, ".._.._etc.119"},
      {"evil\\name\n", 119, "evil_name_.119"},
  };
  for (const FCase& c : cases) EXPECT_EQ(ServerDirName(c.host, c.port, "\\/:*?\"<>|"), c.expected) << c.host;
  EXPECT_EQ(ServerDirName("a/b:c", 119, ""), "a_b:c.119") << "separators go even with an empty list";
  std::string longName = ServerDirName(std::string(400, 'h'), 65535, "");
  EXPECT_EQ(longName.size(), 255u);
  EXPECT_EQ(longName.substr(longName.size() - 6), ".65535");

  TServer server(snNewsServer, "S", nullptr);
  server.SetHost("news.example.net");
  TServer slot(snSlot, "#1", &server);
  EXPECT_EQ(ServerDataDir(slot, "/data", ":"), "/data/news.example.net.119/") << "a slot uses its server";
}
