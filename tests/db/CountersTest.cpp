// Several connections download at once: every byte is counted exactly once on the slot,
// the server, the folder and the root.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "core/ZevIniFile.h"
#include "db/ServerTree.h"

using namespace zev;

TEST(ServerCounters, ConcurrentTransfersAddUpExactly) {
  TZevIniFile ini("");
  TServerTree tree(ini);
  tree.LoadServers();
  TServer* root = tree.Roots()[0].get();
  TServer* folder = tree.CreateServerNode("F", snFolder, root);
  std::vector<TServer*> servers;
  for (const char* name : {"A", "B"}) {
    TServer* s = tree.CreateServerNode(name, snNewsServer, folder);
    s->MaxConn = 4;
    tree.AdjustSlots(*s);
    servers.push_back(s);
  }
  constexpr int kBlocks = 20000;
  constexpr uint64_t kBlock = 1237, kBody = 1000;
  std::vector<std::thread> threads;
  for (TServer* s : servers)
    for (auto& slot : s->Children())
      threads.emplace_back([&, node = slot.get()] {
        for (int i = 0; i < kBlocks; ++i) {
          node->BeginTransfer(i);
          node->AddReceivedBytes(kBlock);
          node->AddArticleBytes(kBody);
          node->EndTransfer(i + 1);
        }
      });
  for (auto& t : threads) t.join();

  const uint64_t perSlot = kBlocks * kBlock, slots = threads.size();
  for (TServer* s : servers) {
    EXPECT_EQ(s->Daily.Total, 4 * perSlot);
    EXPECT_EQ(s->Monthly.Bodies, 4 * kBlocks * kBody);
    EXPECT_EQ(s->Children()[0]->Rate.ReceivedTotal(), perSlot);
  }
  for (TServer* n : {folder, root}) {
    EXPECT_EQ(n->Daily.Total, slots * perSlot);
    EXPECT_EQ(n->Monthly.Total, slots * perSlot);
    EXPECT_EQ(n->Daily.Bodies, slots * kBlocks * kBody);
    EXPECT_EQ(n->Daily.Headers(), slots * kBlocks * (kBlock - kBody));
    EXPECT_EQ(n->Rate.ActiveCount(), 0) << "every transfer that began has ended";
  }
}

TEST(ServerCounters, ASlotCountsOneTransferAtATime) {
  TServer server(snNewsServer, "S", nullptr);
  TServer slot(snSlot, "#1", &server);
  slot.BeginTransfer(1000);
  slot.BeginTransfer(1500);  // already active: not counted again, on the server neither
  EXPECT_EQ(server.Rate.ActiveCount(), 1);
  slot.EndTransfer(3000);
  slot.EndTransfer(3500);
  EXPECT_EQ(server.Rate.ActiveCount(), 0);
  EXPECT_EQ(server.Rate.ActiveTime(9999), 2000);
  slot.AddReceivedBytes(2048 * 2);
  EXPECT_DOUBLE_EQ(server.AverageRate(9999), 2.0) << "4 kB in 2 s";
}

TEST(ServerCounters, CurrentRateSpansTheSamplesTaken) {
  TRateMeter meter;
  EXPECT_EQ(meter.CurrentRate(), 0);
  for (int i = 0; i < 4; ++i) {
    meter.AddReceived(5120);
    meter.TakeSample();
  }
  EXPECT_DOUBLE_EQ(meter.CurrentRate(), 10.0) << "5 kB per half second";
  for (int i = 0; i < 100; ++i) {
    meter.AddReceived(i < 50 ? 5120 : 1024);
    meter.TakeSample();
  }
  EXPECT_DOUBLE_EQ(meter.CurrentRate(), 2.0) << "the last 29 intervals only";
}
