// A connection against the test news server: the start-up conversation, commands from the
// stand-in queue, log-in, logs, time-outs and addresses.
#include "nntp/Connection.h"

#include <gtest/gtest.h>

#include <cstring>
#include <latch>
#include <thread>

#include "ConnectionHarness.h"
#include "core/DateTime.h"
#include "nntp/ConnMgr.h"
#include "nntp/Dialup.h"

using namespace zev;
using namespace zev::test;
using testserver::FTranscript;

namespace {

constexpr int64_t kServerClock = 1718452800 + 3600;  // 2024-06-15 13:00:00 UTC

std::string Body(int i) { return "line one of " + std::to_string(i) + "\r\n..dotted\r\nlast line"; }

class TConnectionTest : public TConnectionHarness {
 protected:
  void ConfigureServer(testserver::FServerOptions& options) override {
    options.session.fixedNow = kServerClock;
    options.session.users = {{"alice", "secret"}};
  }
  void FillStore(testserver::TArticleStore& store) override {
    store.AddGroup("alt.test", "A group", 1718452800);
    for (int i = 1; i <= 3; ++i)
      store.Post("alt.test", {{"Subject", "part " + std::to_string(i)}, {"Message-ID", "<m" + std::to_string(i) + "@t>"}},
                 "line one of " + std::to_string(i) + "\n.dotted\nlast line\n");
  }
  // Runs one slot until the stand-in's items are done and the connection has timed out
  // idle; returns the server's transcript of it.
  FTranscript RunOnce(TServer& server) {
    EXPECT_EQ(Pool().StartSlot(SlotOf(server), false, 1), 1);
    EXPECT_TRUE(source_.WaitAllDone());
    EXPECT_TRUE(WaitEnded());
    return ClosedTranscript(Server().TotalConnections());
  }
};

}  // namespace

TEST_F(TConnectionTest, ReadyConnectionTakesNewWorkWhenStartedAgain) {
  // A "second" far longer than the test: the connection never reaches an idle tick, so
  // only the nudge of a new start can hand it work added while it waited.
  second_ = std::chrono::minutes(10);
  TServer& server = AddServer({.idle = 4});
  ASSERT_EQ(Pool().StartSlot(SlotOf(server), false, 1), 1);
  ASSERT_TRUE(source_.WaitNextCalls(1));
  source_.Add("body <m1@t>");
  bool done = false;
  // Started again until the item is done: a nudge that meets the connection still busy
  // with its first question is not lost for good, it only waits for the next start.
  for (int i = 0; i < 100 && !done; ++i) {
    EXPECT_EQ(Pool().StartSlot(SlotOf(server), false, 1), 0) << "the slot keeps its connection";
    done = source_.WaitAllDone(std::chrono::milliseconds(200));
  }
  EXPECT_TRUE(done);
  EXPECT_EQ(source_.ItemAt(0).code, 222);
  Pool().TerminateAll(false);
  EXPECT_TRUE(WaitEnded());
}

TEST_F(TConnectionTest, FirstConnectionListsTheGroupsThenTakesWork) {
  setenv("TZ", "UTC0", 1);
  tzset();
  source_.Add("body <m1@t>");
  source_.Add("body 2");  // no group selected: the server refuses, the answer still arrives
  TServer& server = AddServer({.idle = 4});
  const FTranscript t = RunOnce(server);
  EXPECT_EQ(t.Commands(), (std::vector<std::string>{"mode reader", "help", "list", "date", "body <m1@t>", "body 2"}));
  EXPECT_NE(feed_.Data().find("alt.test 0000000003 0000000001 y\n<end>"), std::string::npos) << feed_.Data();
  EXPECT_DOUBLE_EQ(feed_.Last(), UtcDateTimeFromUnix(kServerClock));
  const FStandInItem first = source_.ItemAt(0), second = source_.ItemAt(1);
  EXPECT_EQ(first.code, 222);
  EXPECT_EQ(first.data, Body(1));
  EXPECT_EQ(first.stored, 1);
  EXPECT_EQ(second.code, 412);
  EXPECT_EQ(second.data, "");
  EXPECT_EQ(SlotOf(server).State(), csIdle);
  EXPECT_EQ(SlotOf(server).Status.Get(TSlotStatus::StatusMessage), "Timed out (idle for 4 seconds)");
  unsetenv("TZ");
  tzset();
}

TEST_F(TConnectionTest, LaterConnectionAsksOnlyForNewGroupsInGmt) {
  setenv("TZ", "UTC0", 1);
  tzset();
  feed_.SetLast(UtcDateTimeFromUnix(1718452800 - 86400));
  source_.Add("body <m3@t>");
  const FTranscript t = RunOnce(AddServer({.idle = 2}));
  EXPECT_EQ(t.Commands(),
            (std::vector<std::string>{"mode reader", "help", "newgroups 20240614 120000 GMT", "date", "body <m3@t>"}));
  EXPECT_NE(feed_.Data().find("alt.test"), std::string::npos);
  EXPECT_EQ(source_.ItemAt(0).data, Body(3));
  unsetenv("TZ");
  tzset();
}

TEST_F(TConnectionTest, ConnectionsAfterTheFirstGoStraightToWork) {
  source_.Add("body <m1@t>");
  TServer& server = AddServer({.idle = 2});
  server.CommandsChecked = 1;
  EXPECT_EQ(RunOnce(server).Commands(), (std::vector<std::string>{"mode reader", "body <m1@t>"}));
  EXPECT_EQ(feed_.Updates(), 0);
}

TEST_F(TConnectionTest, LoginWithTheRightPasswordNeverLogsIt) {
  source_.Add("body <m2@t>");
  TServer& server = AddServer({.idle = 2, .flags = 1u << sfNeedAuth | 1u << sfLog, .user = "alice", .pass = "secret"});
  server.CommandsChecked = 1;
  EXPECT_EQ(RunOnce(server).Commands(),
            (std::vector<std::string>{"mode reader", "authinfo user alice", "authinfo pass secret", "body <m2@t>"}));
  const std::string connectionLog = ReadFile(dir_ + "logs/#1.log");
  EXPECT_NE(connectionLog.find("authinfo pass ****"), std::string::npos) << connectionLog;
  EXPECT_EQ(connectionLog.find("secret"), std::string::npos) << connectionLog;
  EXPECT_EQ(LogText().find("secret"), std::string::npos);
}

TEST_F(TConnectionTest, WrongPasswordIsAnErrorStateWithTheServersWords) {
  source_.Add("body <m1@t>");
  TServer& server = AddServer({.flags = 1u << sfNeedAuth, .user = "alice", .pass = "wrong"});
  ASSERT_EQ(Pool().StartSlot(SlotOf(server), false, 1), 1);
  ASSERT_TRUE(WaitEnded());
  EXPECT_EQ(SlotOf(server).State(), csError);
  EXPECT_TRUE(SlotOf(server).Status.Get(TSlotStatus::StatusMessage).starts_with("481")) <<
      SlotOf(server).Status.Get(TSlotStatus::StatusMessage);
  EXPECT_EQ(SlotOf(server).Status.Get(TSlotStatus::LastCommandText), "authinfo pass ****");
  EXPECT_EQ(source_.ItemAt(0).state, FStandInItem::free);
  EXPECT_EQ(Server().TotalConnections(), 1u) << "no retry without sfRetryAnyError";
}

TEST_F(TConnectionTest, GarbledServerDateFallsBackToTheLocalClock) {
  AddFault("DATE:error=111/garbage");
  source_.Add("body <m1@t>");
  const TDateTime before = NowLocal();
  RunOnce(AddServer({.idle = 2}));
  EXPECT_GE(feed_.Last(), before);
  EXPECT_LE(feed_.Last(), NowLocal());
  EXPECT_EQ(source_.ItemAt(0).stored, 1) << "the connection went on to work";
}

TEST_F(TConnectionTest, ServerWithoutNewgroupsStillGivesItsDate) {
  feed_.SetLast(NowLocal() - 1);
  AddFault("NEWGROUPS:error=500");
  source_.Add("body <m1@t>");
  const FTranscript t = RunOnce(AddServer({.idle = 2}));
  EXPECT_EQ(t.Commands()[3], "date");
  EXPECT_NE(LogText().find("Informational: Test does not support the newgroups command."), std::string::npos);
}

TEST_F(TConnectionTest, CommandWithALineBreakIsNeverSent) {
  source_.Add("body <m1@t>\r\nQUIT");
  TServer& server = AddServer({.idle = 3});
  server.CommandsChecked = 1;
  ASSERT_EQ(Pool().StartSlot(SlotOf(server), false, 1), 1);
  ASSERT_TRUE(WaitEnded());
  EXPECT_EQ(ClosedTranscript(1).Commands(), std::vector<std::string>{"mode reader"});
  EXPECT_GE(source_.Failed(), 1);
}

TEST_F(TConnectionTest, SlotIsNeverStartedTwice) {
  // A slow greeting keeps the first connection alive while the others race for the slot;
  // a connection that had already ended would rightly let the slot start again.
  // The latch lines the racers up, so a thread the scheduler starts late cannot arrive after
  // the winner has already finished its greeting and ended. The pool is made before the race:
  // the harness makes it on first use, which is not meant for several threads at once.
  AddFault("CONNECT:drip,bytes=4,delay=50");
  TServer& server = AddServer({.idle = 3});
  server.CommandsChecked = 1;
  TConnectionPool& pool = Pool();
  std::atomic<int> started{0};
  std::latch ready(4);
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&, i] {
      ready.arrive_and_wait();
      started += pool.StartSlot(SlotOf(server), i % 2 == 1, 1);
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(started.load(), 1);
  EXPECT_EQ(Pool().RunningCount(), 1u);
  ASSERT_TRUE(WaitEnded());
  EXPECT_EQ(Server().TotalConnections(), 1u);
}

TEST_F(TConnectionTest, FailedNameLookupIsAnErrorWithItsText) {
  TServer& server = AddServer({.host = ""});
  ASSERT_EQ(Pool().StartSlot(SlotOf(server), false, 1), 1);
  ASSERT_TRUE(WaitEnded());
  EXPECT_EQ(SlotOf(server).State(), csError);
  EXPECT_TRUE(SlotOf(server).Status.Get(TSlotStatus::StatusMessage).starts_with("Error \"WSAHOST_NOT_FOUND"));
  EXPECT_NE(LogText().find("Test#1: Error \"WSAHOST_NOT_FOUND (Host not found)\""), std::string::npos);
}

TEST_F(TConnectionTest, UserDisconnectEndsAReadyConnectionAndTheManagerLeavesIt) {
  TServer& server = AddServer({});
  server.CommandsChecked = 1;
  ASSERT_EQ(Pool().StartSlot(SlotOf(server), false, 1), 1);
  ASSERT_TRUE(source_.WaitNextCalls(1));
  Pool().StopSlots(server, true, false);
  ASSERT_TRUE(WaitEnded());
  EXPECT_EQ(SlotOf(server).State(), csUserDisconnected);
  EXPECT_EQ(Pool().StartSlot(SlotOf(server), true, 1), 0) << "automatic starts leave it alone";
}

TEST_F(TConnectionTest, IPv6Loopback) {
  source_.Add("body <m1@t>");
  TServer& server = AddServer({.host = "::1", .idle = 2});
  server.CommandsChecked = 1;
  const FTranscript t = RunOnce(server);
  EXPECT_TRUE(t.peer.starts_with("[::1]:")) << t.peer;
  EXPECT_EQ(source_.ItemAt(0).data, Body(1));
  EXPECT_EQ(server.ResolvedAddress(), "0:0:0:0:0:0:0:1");
}

namespace {

class TRefusingAddressTest : public TConnectionTest {
 protected:
  void ConfigureServer(testserver::FServerOptions& options) override {
    TConnectionTest::ConfigureServer(options);
    options.bindAddresses = {"127.0.0.1"};  // nothing listens on ::1
  }
};

}  // namespace

TEST_F(TRefusingAddressTest, RefusedAddressIsFollowedByTheNextOne) {
  source_.Add("body <m1@t>");
  TServer& server = AddServer({.host = "localhost", .idle = 2, .flags = 1u << sfLog});
  server.CommandsChecked = 1;
  std::vector<platform::FSocketAddress> found(2);
  ASSERT_EQ(platform::LookupHost("::1", server.Port, found), 0);
  std::vector<platform::FSocketAddress> v4;
  ASSERT_EQ(platform::LookupHost("127.0.0.1", server.Port, v4), 0);
  std::vector<FServerAddress> addresses(2);
  std::memcpy(&addresses[0].addr, &found[0].addr, sizeof found[0].addr);
  addresses[0].length = found[0].length;
  std::memcpy(&addresses[1].addr, &v4[0].addr, sizeof v4[0].addr);
  addresses[1].length = v4[0].length;
  server.SetResolved("0:0:0:0:0:0:0:1", addresses);
  RunOnce(server);
  EXPECT_EQ(source_.ItemAt(0).data, Body(1));
  const std::string connectionLog = ReadFile(dir_ + "logs/#1.log");
  const size_t first = connectionLog.find("Connecting to 0:0:0:0:0:0:0:1...");
  const size_t retry = connectionLog.find("Retrying after 1 seconds...");
  const size_t second = connectionLog.find("Connecting to 127.0.0.1...");
  ASSERT_NE(first, std::string::npos) << connectionLog;
  EXPECT_LT(first, retry);
  EXPECT_LT(retry, second);
  EXPECT_NE(connectionLog.find("WSAECONNREFUSED"), std::string::npos) << connectionLog;
}

TEST_F(TConnectionTest, ManagerOpensAConnectionForQueuedWork) {
  source_.Add("body <m1@t>");
  source_.Add("body <m2@t>");
  TServer& server = AddServer({.maxConn = 2, .idle = 2, .flags = 1u << sfConnectOnDemand});
  server.CommandsChecked = 1;
  TConnMgr manager(tree_, Pool(), &source_, std::chrono::milliseconds(20));
  manager.Kick();
  ASSERT_TRUE(source_.WaitAllDone());
  EXPECT_TRUE(SlotOf(server, 0).AutoStarted.load());
  ASSERT_TRUE(WaitEnded());
  // Nothing left to do: a pass opens nothing more.
  manager.RunPass();
  EXPECT_EQ(Pool().RunningCount(), 0u);
  EXPECT_EQ(source_.ItemAt(0).stored + source_.ItemAt(1).stored, 2);
}

TEST(Dialup, ListingIsEmptyAndSaysWhy) {
  const std::string dir = ScratchDir();
  TCapturedLog log(dir);
  const FDialupListing listing = ListDialupEntries();
  EXPECT_TRUE(listing.entries.empty());
  EXPECT_EQ(listing.result, 635);
  EXPECT_TRUE(log.Contains("Warning! Received RAS error code 635 trying to obtain list of RAS connections"));
}
