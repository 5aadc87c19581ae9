// Servers that misbehave: every fault ends in the state the connection should take, a
// reconnect where the connection broke, and every item done again and stored exactly once.
#include <gtest/gtest.h>

#include <algorithm>

#include "ConnectionHarness.h"

using namespace zev;
using namespace zev::test;

namespace {

std::string Body(int i) { return "first line of " + std::to_string(i) + "\r\n..dotted\r\nlast line"; }

class TFaultTest : public TConnectionHarness {
 protected:
  void FillStore(testserver::TArticleStore& store) override {
    store.AddGroup("alt.test");
    for (int i = 1; i <= 3; ++i)
      store.Post("alt.test", {{"Subject", "part " + std::to_string(i)}, {"Message-ID", "<m" + std::to_string(i) + "@t>"}},
                 "first line of " + std::to_string(i) + "\n.dotted\nlast line\n");
  }
  TServer& ReadyServer(uint32_t timeOut = 200, uint32_t flags = 0) {
    TServer& server = AddServer({.timeOut = timeOut, .flags = flags});
    server.CommandsChecked = 1;
    return server;
  }
};

}  // namespace

struct FBodyFault {
  const char* fault;
  uint32_t timeOut;
  uint32_t connections;
  const char* status;  // what the slot shows afterwards
};

class TBodyFaultTest : public TFaultTest, public ::testing::WithParamInterface<FBodyFault> {};

TEST_P(TBodyFaultTest, BodiesAreDoneAgainAndStoredOnce) {
  const FBodyFault& c = GetParam();
  AddFault(c.fault);
  source_.Add("body <m1@t>");
  source_.Add("body <m2@t>");
  TServer& server = ReadyServer(c.timeOut);
  ASSERT_EQ(Pool().StartSlot(SlotOf(server), false, 1), 1);
  ASSERT_TRUE(source_.WaitAllDone());
  for (int i : {0, 1}) {
    const FStandInItem item = source_.ItemAt(i);
    EXPECT_EQ(item.data, Body(i + 1));
    EXPECT_EQ(item.stored, 1);
    EXPECT_EQ(item.blocks, std::vector<TBlockType>{btComplete});
  }
  EXPECT_EQ(Server().TotalConnections(), c.connections);
  EXPECT_EQ(source_.ItemAt(0).sawPartial, c.connections > 1) << "the target learns the first try was cut short";
  EXPECT_TRUE(SlotOf(server).Status.Get(TSlotStatus::StatusMessage).starts_with(c.status))
      << SlotOf(server).Status.Get(TSlotStatus::StatusMessage);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, TBodyFaultTest,
    ::testing::Values(FBodyFault{"BODY:reset-status,conn=1", 200, 2, "Error \"WSAECONNRESET"},
                      FBodyFault{"BODY:reset-data,conn=1", 200, 2, "Error \"WSAECONNRESET"},
                      FBodyFault{"BODY:close,conn=1", 200, 2, "Connection closed by the server"},
                      FBodyFault{"BODY:silent,conn=1", 10, 2, "Timed out (no response for 10 seconds)"},
                      FBodyFault{"BODY:drip,bytes=7,delay=1,times=1", 200, 1, ""},
                      FBodyFault{"BODY:split=0/1/2/3/4/5,times=1", 200, 1, ""},
                      FBodyFault{"BODY:split=3,times=1", 200, 1, ""}));

// The overview's terminator split at every position: the response ends where it should,
// whatever way the bytes arrive.
class TSplitOverviewTest : public TFaultTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(TSplitOverviewTest, EndsWhereItShould) {
  AddFault(std::string("XOVER:split=") + GetParam());
  source_.Add("group alt.test", dmNone, false);
  const size_t xover = source_.Add("xover 1-3", dmLines, true, 3);
  TServer& server = ReadyServer();
  ASSERT_EQ(Pool().StartSlot(SlotOf(server), false, 1), 1);
  ASSERT_TRUE(source_.WaitAllDone());
  const FStandInItem item = source_.ItemAt(xover);
  EXPECT_EQ(item.code, 224);
  EXPECT_EQ(std::count(item.data.begin(), item.data.end(), '\n'), 2) << item.data;
  EXPECT_TRUE(item.data.starts_with("1\tpart 1\t")) << item.data;
  EXPECT_EQ(SlotOf(server).Status.Progress.load(), 3) << "progress counts overview lines";
  EXPECT_EQ(Server().TotalConnections(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Cuts, TSplitOverviewTest, ::testing::Values("0", "1", "2", "3", "4", "5", "1/3", "2/4"));

class TErrorAnswerTest : public TFaultTest, public ::testing::WithParamInterface<int> {};

TEST_P(TErrorAnswerTest, ReachesTheTargetAndTheConnectionGoesOn) {
  const int code = GetParam();
  AddFault("BODY:error=" + std::to_string(code) + ",times=1");
  source_.Add("body <m1@t>");
  source_.Add("body <m2@t>");
  TServer& server = ReadyServer();
  ASSERT_EQ(Pool().StartSlot(SlotOf(server), false, 1), 1);
  ASSERT_TRUE(source_.WaitAllDone());
  EXPECT_EQ(source_.ItemAt(0).code, code);
  EXPECT_EQ(source_.ItemAt(0).data, "");
  EXPECT_EQ(source_.ItemAt(1).data, Body(2));
  EXPECT_EQ(Server().TotalConnections(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Codes, TErrorAnswerTest, ::testing::Values(400, 411, 423, 430, 480, 500, 502, 503));

TEST_F(TFaultTest, BusyGreetingIsRetriedOnlyWhenAllowed) {
  AddFault("CONNECT:error=400,times=1");
  TServer& plain = ReadyServer();
  ASSERT_EQ(Pool().StartSlot(SlotOf(plain), false, 1), 1);
  ASSERT_TRUE(WaitEnded());
  EXPECT_EQ(SlotOf(plain).State(), csError);
  EXPECT_TRUE(SlotOf(plain).Status.Get(TSlotStatus::StatusMessage).starts_with("400"));

  AddFault("CONNECT:error=400,times=1");
  source_.Add("body <m3@t>");
  TServer& retrying = ReadyServer(200, 1u << sfAutoRetry);
  ASSERT_EQ(Pool().StartSlot(SlotOf(retrying), false, 1), 1);
  ASSERT_TRUE(source_.WaitAllDone());
  EXPECT_EQ(source_.ItemAt(0).data, Body(3));
  EXPECT_EQ(Server().TotalConnections(), 3u);
}

TEST_F(TFaultTest, ClosedBeforeTheGreetingIsRetried) {
  AddFault("CONNECT:close,times=1");
  source_.Add("body <m1@t>");
  TServer& server = ReadyServer();
  ASSERT_EQ(Pool().StartSlot(SlotOf(server), false, 1), 1);
  ASSERT_TRUE(source_.WaitAllDone());
  EXPECT_EQ(source_.ItemAt(0).stored, 1);
  EXPECT_EQ(Server().TotalConnections(), 2u);
}
