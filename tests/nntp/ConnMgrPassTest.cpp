// The connection manager's decisions over server trees, with the connections faked.
#include "nntp/ConnMgrPass.h"

#include <gtest/gtest.h>

#include <set>

#include "core/ZevIniFile.h"
#include "db/ServerTree.h"

using namespace zev;

namespace {

class TFakeSlots : public TManagedSlots {
 public:
  bool HasConnection(const TServer& slot) override { return connected.count(&slot) > 0; }
  bool DisconnectPending(const TServer& slot) override { return pending.count(&slot) > 0; }
  bool UserDisconnectPending(const TServer& slot) override { return userPending.count(&slot) > 0; }
  bool WorkAvailable(TServer& slot) override { return withWork.count(&slot.NewsServer()) > 0; }
  void Stop(TServer& slot) override { stopped.push_back(&slot); }
  void Nudge(TServer& slot) override { nudged.push_back(&slot); }

  // A live connection in `state` on the slot.
  void Live(TServer& slot, TConnState state, bool automatic = true) {
    connected.insert(&slot);
    slot.StoreState(state);
    slot.AutoStarted = automatic;
  }

  std::set<const TServer*> connected, pending, userPending, withWork;
  std::vector<TServer*> stopped, nudged;
};

class TConnMgrPassTest : public ::testing::Test {
 protected:
  TServer& Folder(uint32_t maxConn, TServer* parent = nullptr) {
    TServer* folder = tree_.CreateServerNode("folder", parent ? snFolder : snRoot, parent);
    folder->Exclude(sfInherit);
    folder->MaxConn = maxConn;
    return *folder;
  }
  TServer& Server(TServer& parent, uint32_t maxConn, int8_t preference = 0, uint32_t flags = 1u << sfConnectOnDemand) {
    TServer* server = tree_.CreateServerNode("server", snNewsServer, &parent);
    server->Exclude(sfInherit);
    server->Flags = ServerFlagBit(sfAlways) | flags;
    server->MaxConn = maxConn;
    server->SetPreference(preference);
    tree_.AdjustSlots(*server);
    return *server;
  }
  TServer& Slot(TServer& server, size_t i) { return *server.Children()[i]; }
  FPassResult Pass() { return TConnMgrPass(slots_).Run(tree_.Roots()); }

  TZevIniFile ini_{""};
  TServerTree tree_{ini_};
  TFakeSlots slots_;
};

}  // namespace

TEST_F(TConnMgrPassTest, OneConnectionAtATimeUnlessParallelConnectsAreAllowed) {
  for (bool parallel : {false, true}) {
    SCOPED_TRACE(parallel);
    TServer& root = Folder(100);
    TServer& server = Server(root, 2, 0, 1u << sfConnectOnDemand | (parallel ? 1u << sfParallelConnects : 0));
    slots_ = {};
    slots_.withWork.insert(&server);
    EXPECT_EQ(Pass().startCandidate, &Slot(server, 0));
    slots_.Live(Slot(server, 0), csConnecting);
    EXPECT_EQ(Pass().startCandidate, parallel ? &Slot(server, 1) : nullptr);
    // Once the first one is downloading, the second may come.
    Slot(server, 0).StoreState(csArticle);
    EXPECT_EQ(Pass().startCandidate, &Slot(server, 1));
    slots_.Live(Slot(server, 1), csArticle);
    const FPassResult full = Pass();
    EXPECT_EQ(full.startCandidate, nullptr);
    EXPECT_FALSE(full.limitHit) << "its own connections are busy with its own work";
    tree_.FreeServerNodes(&root);
  }
}

TEST_F(TConnMgrPassTest, HigherPreferenceWinsWhateverTheOrder) {
  TServer& root = Folder(100);
  TServer& low = Server(root, 1, 0);
  TServer& high = Server(root, 1, 5);
  TServer& lower = Server(root, 1, -2);
  slots_.withWork = {&low, &high, &lower};
  EXPECT_EQ(Pass().startCandidate, &Slot(high, 0));
}

TEST_F(TConnMgrPassTest, FullFolderAsksAnIdleAutomaticConnectionToLeave) {
  TServer& root = Folder(100);
  TServer& folder = Folder(1, &root);
  TServer& a = Server(folder, 1, 0);
  TServer& b = Server(folder, 1, 5);
  slots_.Live(Slot(a, 0), csReady);
  slots_.withWork.insert(&b);
  const FPassResult result = Pass();
  EXPECT_EQ(result.startCandidate, nullptr);
  EXPECT_TRUE(result.limitHit);
  EXPECT_EQ(result.stopCandidate, &Slot(a, 0));
  // A connection the user opened, or one already asked to leave, is not a candidate.
  Slot(a, 0).AutoStarted = false;
  EXPECT_EQ(Pass().stopCandidate, nullptr);
  Slot(a, 0).AutoStarted = true;
  slots_.pending.insert(&Slot(a, 0));
  EXPECT_EQ(Pass().stopCandidate, nullptr);
}

TEST_F(TConnMgrPassTest, SurplusIdleConnectionIsStoppedAtOnce) {
  TServer& root = Folder(100);
  TServer& server = Server(root, 2);
  slots_.Live(Slot(server, 0), csArticle);
  slots_.Live(Slot(server, 1), csReady);
  server.MaxConn = 1;  // lowered by the user while both run
  Pass();
  EXPECT_EQ(slots_.stopped, std::vector<TServer*>{&Slot(server, 1)});
}

TEST_F(TConnMgrPassTest, SlotsThatMustNotBeStarted) {
  struct {
    const char* name;
    void (*arrange)(TServer& server, TServer& slot, TFakeSlots& slots);
  } cases[] = {
      {"daily limit reached",
       [](TServer& server, TServer&, TFakeSlots&) {
         server.Include(sfDailyLimit);
         server.Daily.Limit = 1000;
         server.Daily.Total = 1000;
       }},
      {"monthly limit reached",
       [](TServer& server, TServer&, TFakeSlots&) {
         server.Include(sfMonthlyLimit);
         server.Monthly.Limit = 10;
         server.Monthly.Total = 11;
       }},
      {"disconnected by the user", [](TServer&, TServer& slot, TFakeSlots&) { slot.StoreState(csUserDisconnected); }},
      {"in error", [](TServer&, TServer& slot, TFakeSlots&) { slot.StoreState(csError); }},
      {"paused", [](TServer&, TServer& slot, TFakeSlots&) { slot.Paused = true; }},
      {"not managed", [](TServer& server, TServer&, TFakeSlots&) { server.Exclude(sfConnectOnDemand); }},
      {"no work", [](TServer& server, TServer&, TFakeSlots& slots) { slots.withWork.erase(&server); }},
  };
  for (const auto& c : cases) {
    TServer& root = Folder(100);
    TServer& server = Server(root, 1);
    slots_ = {};
    slots_.withWork.insert(&server);
    c.arrange(server, Slot(server, 0), slots_);
    EXPECT_EQ(Pass().startCandidate, nullptr) << c.name;
    tree_.FreeServerNodes(&root);
  }
}

TEST_F(TConnMgrPassTest, ReadyConnectionHearsOfWorkAtOnce) {
  TServer& root = Folder(100);
  TServer& server = Server(root, 3);
  slots_.Live(Slot(server, 0), csArticle);
  slots_.Live(Slot(server, 1), csReady);
  slots_.Live(Slot(server, 2), csConnecting);
  Pass();
  EXPECT_TRUE(slots_.nudged.empty()) << "no work, nothing to tell";
  slots_.withWork.insert(&server);
  const FPassResult result = Pass();
  EXPECT_EQ(slots_.nudged, std::vector<TServer*>{&Slot(server, 1)}) << "only the ready one, which is idle";
  EXPECT_EQ(result.startCandidate, nullptr) << "it takes the work itself";
}
