#include "nntp/BandwidthBudget.h"

#include <gtest/gtest.h>

#include "db/Server.h"

using namespace zev;

TEST(BandwidthBudget, NodeBudgetFollowsTheLimit) {
  struct {
    const char* name;
    FBudgetInput in;
    int64_t budget;
  } cases[] = {
      // 100 kB/s: half a second is 51200 bytes, the 15-second window 1536000.
      {"fresh", {100, 0, 0, 0, 0, 0}, 51200 + 1536000},
      {"shared by two", {100, 0, 0, 0, 2, 0}, 25600 + 1536000},
      {"window used up", {100, 1536000, 1536000, 0, 1, 10}, 51200},
      {"over the limit", {100, 1700000, 1536000, 0, 1, 10}, 0},
      // After 30 active seconds the long-run average steers: 4 MB in 30 s is above
      // 100 kB/s, so the allowance shrinks by half the excess.
      {"average too high", {100, 4000000, 3990000, 2500000, 1, 30}, 51200 - 10000 + 1536000 - 1490000 +
                                                                         (102400 - 133333) / 2},
      // Totals beyond 4 GB broke the 32-bit arithmetic.
      {"huge totals", {100, 5'000'000'000ull, 5'000'000'000ull, 4'999'000'000ull, 1, 10}, 51200 + 536000},
  };
  for (const auto& c : cases) EXPECT_EQ(NodeBudget(c.in), c.budget) << c.name;
}

TEST(BandwidthBudget, SlotAsksTheFirstLimitedNodeAbove) {
  TServer root(snRoot, "root", nullptr);
  TServer server(snNewsServer, "server", &root);
  TServer slot(snSlot, "#1", &server);
  // Nothing received since the last sample: a fresh slot starts small.
  EXPECT_EQ(BandwidthBudget(slot), 128);
  slot.AddReceivedBytes(1000);
  EXPECT_EQ(BandwidthBudget(slot), kUnlimitedBudget);
  root.Include(sfBandwidth);
  root.Bandwidth = 10;
  EXPECT_EQ(BandwidthBudget(slot), 10 * 512 - 1000 + 10 * 15360);
  server.Include(sfBandwidth);
  server.Bandwidth = 1;
  EXPECT_EQ(BandwidthBudget(slot), 512 - 1000 + 15360);
}
