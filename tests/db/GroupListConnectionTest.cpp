// The newsgroup list filled by real connections from the test news server: the first
// connection sends "list", later runs send "newgroups" since the server's last date, in
// GMT whatever the local zone.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "GroupListWorld.h"
#include "NewsServerFixture.h"
#include "core/DateTime.h"
#include "download/CommandSource.h"
#include "nntp/ConnectionPool.h"
#include "nntp/GroupListFeed.h"

using namespace zev;
using testserver::FTranscript;

namespace {

constexpr int64_t kListed = 1718452800;          // 2024-06-15 12:00:00 UTC: the first connection
constexpr int64_t kLater = kListed + 7 * 86400;  // the next run, a week later

// No queue work: connections run their start-up and time out idle.
class TNoWork final : public TCommandSource {
 public:
  void NextCommand(TConnectionFace& connection) override { connection.SetReady(); }
  void CommandFailed(TConnectionFace&) override {}
  void ReleaseItem(TConnectionFace& connection) override { connection.SetCurrentItem(nullptr); }
  bool WorkAvailable(TServer&) override { return false; }
};

// Local time is New York's, so that a date sent without conversion would be hours off.
class TZone {
 public:
  explicit TZone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }
  ~TZone() {
    unsetenv("TZ");
    tzset();
  }
};

class TGroupListConnectionTest : public testserver::TNewsServerFixture {
 protected:
  void ConfigureServer(testserver::FServerOptions& options) override { options.session.fixedNow = kListed; }
  void FillStore(testserver::TArticleStore& store) override {
    store.AddGroup("alt.binaries.old", "", kListed - 86400);
    store.AddGroup("alt.test", "", kListed - 86400).SetNextNumber(101);
    // Created in the second the list was taken: "newgroups" since then names it again.
    store.AddGroup("alt.borderline", "", kListed);
    store.AddGroup("../../escape", "", kListed - 86400);
    store.AddGroup("GrpLst", "", kListed - 86400);
  }

  // One connection (by default the first of a new program run): start-up, then idle
  // until it times out.
  FTranscript RunConnection(bool newRun = true) {
    if (newRun) server_->CommandsChecked = 0;
    TGroupListFeed feed(*w_.list);
    TNoWork source;
    FConnectionEnv env;
    env.source = &source;
    env.feed = &feed;
    env.second = std::chrono::milliseconds(50);
    env.logDir = w_.dir + "logs";
    TConnectionPool pool(env);
    EXPECT_EQ(pool.StartSlot(*server_->Children()[0], false, 1), 1);
    EXPECT_TRUE(pool.WaitAllEnded(std::chrono::seconds(30)));
    return ClosedTranscript(Server().TotalConnections());
  }

  void SetUp() override {
    TNewsServerFixture::SetUp();
    server_ = &w_.AddServer("127.0.0.1", Port());
    server_->Exclude(sfInherit);
    server_->MaxConn = 1;
    server_->Idle = 2;
    server_->Retry = 1;
    w_.servers.AdjustSlots(*server_);
    for (const auto& slot : server_->Children()) slot->InheritFromParent();
  }

  TZone zone_{"EST5EDT"};
  zev::test::TListWorld w_;
  TServer* server_ = nullptr;
};

}  // namespace

TEST_F(TGroupListConnectionTest, FirstConnectionListsLaterOnesAskForNewGroupsInGmt) {
  EXPECT_EQ(RunConnection().Commands(), (std::vector<std::string>{"mode reader", "help", "list", "date"}));
  EXPECT_EQ(w_.list->GroupCount(), 3u) << "the two hostile names are skipped";
  EXPECT_EQ(w_.Count(*server_, "alt.test"), 1u) << "an empty group is still carried";
  EXPECT_GT(w_.Count(*server_, "alt.binaries.old"), 0u);
  EXPECT_TRUE(w_.log.Contains("Skipped the newsgroup \"../../escape\""));
  EXPECT_TRUE(w_.log.Contains("Skipped the newsgroup \"GrpLst\""));
  EXPECT_FALSE(std::filesystem::exists(w_.dir + "../escape.zev"));
  EXPECT_DOUBLE_EQ(w_.list->LastUpdate(*server_), LocalDateTimeFromUnix(kListed));
  EXPECT_TRUE(server_->ServerGroupsDirty);
  EXPECT_EQ(w_.Carriers("alt.borderline"), 1u);

  // A week later, after a restart: only what is new since the server's own date.
  w_.Close();
  w_.Open();
  Store().AddGroup("alt.binaries.new", "", kLater - 3600);
  Server().SessionConfig().fixedNow = kLater;
  EXPECT_EQ(RunConnection().Commands(),
            (std::vector<std::string>{"mode reader", "help", "newgroups 20240615 120000 GMT", "date"}));
  EXPECT_GT(w_.Count(*server_, "alt.binaries.new"), 0u);
  EXPECT_EQ(w_.Carriers("alt.borderline"), 1u) << "named again, still one server";
  EXPECT_EQ(w_.list->GroupCount(), 4u);
  EXPECT_DOUBLE_EQ(w_.list->LastUpdate(*server_), LocalDateTimeFromUnix(kLater));
}

TEST_F(TGroupListConnectionTest, ReloadMakesTheNextConnectionListEverythingAgain) {
  RunConnection();
  server_->CommandsChecked = 1;  // as after the first connection of this run
  w_.list->ForgetServer(*server_);
  EXPECT_EQ(w_.Count(*server_, "alt.test"), 0u);
  // Still the same run: the reset claim lets the next connection update the list.
  EXPECT_EQ(RunConnection(false).Commands(), (std::vector<std::string>{"mode reader", "help", "list", "date"}));
  EXPECT_EQ(w_.Count(*server_, "alt.test"), 1u);
  EXPECT_EQ(w_.Carriers("alt.test"), 1u);
}
