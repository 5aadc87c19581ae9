// The queue as the connections see it: header chunks, bodies missing on one server,
// pausing, refusals, surplus slots, a full disk, and several connection threads at once.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "QueueTestSupport.h"

using namespace zev;

namespace {

class RecordingObserver : public TQueueHeaderObserver {
 public:
  void HeaderCommandFailed(TConnectionFace&, TQueueKind kind, const std::string& group) override {
    failed.emplace_back(kind, group);
  }
  std::vector<std::pair<TQueueKind, std::string>> failed;
};

class QueueConnectionTest : public zev::test::TQueueFixture {
 protected:
  QueueConnectionTest() {
    a = AddServer("A");
    b = AddServer("B");
    g = AddGroup("alt.binaries.test");
    queue.SetHeaderObserver(&observer);
  }
  // An article carried by A as offset + 5000 and by B as offset + 7000.
  void QueueArticle(TArticleOffset offset, const std::string& on = "AB", TQueueFileSet* set = nullptr) {
    if (!articles.records.count(offset)) AddArticle(offset);
    if (on.find('A') != std::string::npos) serverGroups.Carry(offset, a, g, offset + 5000);
    if (on.find('B') != std::string::npos) serverGroups.Carry(offset, b, g, offset + 7000);
    ASSERT_TRUE(Enqueue(offset, g, 0, set));
  }
  std::vector<std::pair<uint32_t, uint32_t>> Ranges() {
    std::vector<std::pair<uint32_t, uint32_t>> ranges;
    for (TQueueItem* item : Items()) ranges.emplace_back(item->Data[0], item->Data[1]);
    return ranges;
  }
  void SelectGroup(zev::test::TFakeConnection& c) {
    c.Slot().Status.Set(TSlotStatus::CurrentGroup, g->Name());
  }

  RecordingObserver observer;
  TServer* a;
  TServer* b;
  TGroup* g;
};

using FRanges = std::vector<std::pair<uint32_t, uint32_t>>;

TEST_F(QueueConnectionTest, HeaderRangesSplitIntoChunksNewestFirst) {
  struct FCase {
    const char* name;
    TQueueKind kind;
    bool chunks;
    uint32_t chunkSize;
    uint32_t low, high;
    std::string sent;
    FRanges items;
  } cases[] = {
      {"chunks of 5000", qkMessageID, true, 5000, 1, 12000, "xover 7001-12000",
       {{7001, 12000}, {2001, 7000}, {1, 2000}}},
      {"reversed ends", qkSubject, true, 5000, 12000, 1, "xhdr Subject 7001-12000",
       {{7001, 12000}, {2001, 7000}, {1, 2000}}},
      {"a range that fits", qkDate, true, 5000, 10, 5009, "xhdr Date 10-5009", {{10, 5009}}},
      {"chunk size 0 counts as 1", qkSize, true, 0, 1, 3, "xhdr Lines 3-3", {{3, 3}, {2, 2}, {1, 1}}},
      {"chunks off", qkMessageID, false, 5000, 1, 12000, "xover 1-12000", {{1, 12000}}},
      {"listgroup is never split", qkListgroup, true, 5000, 1, 12000, "listgroup alt.binaries.test", {{1, 12000}}},
  };
  for (const FCase& c : cases) {
    SCOPED_TRACE(c.name);
    TGroup* group = AddGroup("alt.binaries.test");
    serverGroups.pairs[{a, group}];
    a->SetFlag(sfChunks, c.chunks);
    a->ChunkSize = c.chunkSize;
    auto& conn = Connect(a);
    queue.EnqueueHeaderCmnd(conn, c.kind, 0, c.high, c.low, group);
    ASSERT_FALSE(conn.commands.empty());
    EXPECT_EQ(conn.commands.back().text, c.sent);
    EXPECT_EQ(Ranges(), c.items);
    queue.FinishCurrent(conn);
    queue.RemoveForNode(*group);
    EXPECT_EQ(queue.ItemCount(), 0u);
  }
}

TEST_F(QueueConnectionTest, TwoConnectionsWorkTheChunksOfOneRangeOnce) {
  a->Include(sfChunks);
  a->ChunkSize = 5000;
  serverGroups.pairs[{a, g}];
  auto& c1 = Connect(a, 0);
  auto& c2 = Connect(a, 1);
  SelectGroup(c1);
  queue.EnqueueHeaderCmnd(c1, qkMessageID, 0, 12000, 1, g);
  EXPECT_EQ(c1.commands.back().text, "xover 7001-12000");
  EXPECT_EQ(c1.commands.back().expected, 5000u);
  EXPECT_EQ(c1.FirstArtNo(), 7001u);
  EXPECT_EQ(c2.Ask(), "xover 2001-7000") << "the second connection selects the group and takes the next chunk";
  EXPECT_NE(c1.CurrentItem(), nullptr);
  EXPECT_NE(c2.CurrentItem(), nullptr);
  queue.FinishCurrent(c1);
  EXPECT_EQ(c1.Ask(), "xover 1-2000");
  queue.FinishCurrent(c2);
  EXPECT_EQ(c2.Ask(), "");
  queue.FinishCurrent(c1);
  EXPECT_EQ(c1.Ask(), "");
  EXPECT_EQ(queue.ItemCount(), 0u);
  std::vector<std::string> sent;
  for (auto* c : {&c1, &c2})
    for (auto& command : c->commands)
      if (command.text.rfind("xover", 0) == 0) sent.push_back(command.text);
  std::sort(sent.begin(), sent.end());
  EXPECT_EQ(sent, (std::vector<std::string>{"xover 1-2000", "xover 2001-7000", "xover 7001-12000"}));
}

TEST_F(QueueConnectionTest, AnArticleMissingOnOneServerIsFetchedFromTheOther) {
  a->SetPreference(1);
  QueueArticle(100);
  auto& ca = Connect(a);
  auto& cb = Connect(b);
  EXPECT_EQ(cb.Ask(), "") << "B gives way to the preferred A";
  EXPECT_EQ(ca.Ask(), "body 5100");
  queue.ReleaseForOtherServers(ca);  // A answered 430
  EXPECT_EQ(ca.Ask(), "");
  EXPECT_EQ(cb.Ask(), "body 7100");
}

TEST_F(QueueConnectionTest, ABodyThatFailsToDecodeIsTriedOnAnotherServer) {
  QueueArticle(100);
  auto& ca = Connect(a);
  auto& cb = Connect(b);
  ASSERT_EQ(ca.Ask(), "body 5100");
  queue.BodyReceived(ca);
  EXPECT_EQ(ca.Ask(), "");
  queue.PutBack(100, SlotOf(a));
  EXPECT_TRUE(ItemOf(100)->Has(qfDecodeError));
  EXPECT_EQ(ca.Ask(), "");
  EXPECT_EQ(cb.Ask(), "body 7100");
}

TEST_F(QueueConnectionTest, PauseHoldsEverythingAndResumeGoesOn) {
  serverGroups.pairs[{a, g}];
  QueueArticle(100, "A");
  queue.SetPaused(true);
  auto& c = Connect(a);
  EXPECT_EQ(c.Ask(), "");
  EXPECT_EQ(c.readies, 1);
  EXPECT_FALSE(queue.WorkAvailable(SlotOf(a)));
  queue.EnqueueHeaderCmnd(c, qkMessageID, 0, 500, 1, g);
  EXPECT_TRUE(c.commands.empty()) << "nothing is sent while paused";
  EXPECT_EQ(c.readies, 2);
  ASSERT_EQ(Items().size(), 2u);
  EXPECT_EQ(Items()[1]->Kind, qkGroup) << "a refresh stands in for the planned range";

  queue.SetPaused(false);
  EXPECT_TRUE(queue.WorkAvailable(SlotOf(a)));
  EXPECT_EQ(c.Ask(), "group alt.binaries.test") << "the stand-in keeps the range's score";
  queue.FinishCurrent(c);
  EXPECT_EQ(c.Ask(), "body 5100");
}

TEST_F(QueueConnectionTest, RefusedHeaderWorkBacksOffAndIsDroppedAfterFiveRefusals) {
  serverGroups.pairs[{a, g}];
  queue.ScheduleRefresh(*g, false, rmPlain);
  auto& c = Connect(a);
  int64_t wait = TQueueBackoff::kFirstWaitMs;
  for (int refusal = 1; refusal <= TQueueBackoff::kMaxHeaderRefusals; ++refusal) {
    SCOPED_TRACE(refusal);
    ASSERT_EQ(c.Ask(), "group alt.binaries.test");
    queue.CommandFailed(c);
    if (refusal == TQueueBackoff::kMaxHeaderRefusals) break;
    EXPECT_EQ(c.Ask(), "") << "not straight back to the server that refused it";
    EXPECT_EQ(Connect(b).Ask(), "") << "header work stays with its server";
    nowMs += wait - 1;
    EXPECT_EQ(c.Ask(), "");
    nowMs += 1;
    wait *= 2;
  }
  EXPECT_EQ(queue.ItemCount(), 0u);
  EXPECT_TRUE(log.Contains("refused it 5 times"));
  ASSERT_EQ(observer.failed.size(), 1u);
  EXPECT_EQ(observer.failed[0], std::make_pair(qkGroup, g->Name()));
}

TEST_F(QueueConnectionTest, ARefusedOverviewBecomesAFullRefreshAndTheHeaderLogicIsTold) {
  serverGroups.pairs[{a, g}];
  auto& c = Connect(a);
  SelectGroup(c);
  queue.EnqueueHeaderCmnd(c, qkMessageID, 0, 200, 101, g);
  queue.CommandFailed(c);
  ASSERT_EQ(Items().size(), 1u);
  EXPECT_EQ(Items()[0]->Kind, qkGroup);
  EXPECT_EQ(Items()[0]->DataCount, 0);
  ASSERT_EQ(observer.failed.size(), 1u);
  EXPECT_EQ(observer.failed[0].first, qkMessageID);
  EXPECT_EQ(c.Ask(), "");
  nowMs += TQueueBackoff::kFirstWaitMs;
  EXPECT_EQ(c.Ask(), "group alt.binaries.test");
}

TEST_F(QueueConnectionTest, ARefusedBodyGoesToAnotherServerAtOnce) {
  QueueArticle(100);
  auto& ca = Connect(a);
  auto& cb = Connect(b);
  ASSERT_EQ(ca.Ask(), "body 5100");
  queue.CommandFailed(ca);
  EXPECT_EQ(ca.Ask(), "");
  EXPECT_EQ(cb.Ask(), "body 7100");
  EXPECT_EQ(queue.ItemCount(), 1u) << "a body is never dropped for refusals";
}

TEST_F(QueueConnectionTest, ABodyWhoseGroupCannotBeSelectedIsTriedElsewhereOrLater) {
  QueueArticle(100);
  auto& ca = Connect(a);
  EXPECT_EQ(ca.Ask(411), "group alt.binaries.test");
  EXPECT_EQ(ca.readies, 1) << "no second attempt straight away";
  EXPECT_EQ(ca.Slot().Status.Get(TSlotStatus::CurrentGroup), "");
  EXPECT_EQ(Connect(b).Ask(), "body 7100");
}

TEST_F(QueueConnectionTest, ABodyWhoseGroupCannotBeSelectedAnywhereWaits) {
  QueueArticle(100, "A");
  auto& c = Connect(a);
  c.Ask(411);
  c.Ask(411);
  EXPECT_EQ(c.commands.size(), 1u) << "backing off";
  nowMs += TQueueBackoff::kFirstWaitMs;
  EXPECT_EQ(c.Ask(), "body 5100");
}

TEST_F(QueueConnectionTest, SurplusAndDisconnectingConnectionsGetNoWork) {
  QueueArticle(100, "A");
  a->MaxConn = 1;
  auto& surplus = Connect(a, 1);
  EXPECT_EQ(surplus.Ask(), "");
  EXPECT_EQ(surplus.disconnects, 1);
  EXPECT_EQ(changes.Drain(), (std::vector<FChangeNote>{{TChange::SurplusSlots, a, 0}}));
  auto& kept = Connect(a, 0);
  kept.request = drByUser;
  EXPECT_EQ(kept.Ask(), "");
  EXPECT_EQ(kept.disconnects, 1);
  kept.request = drNone;
  EXPECT_EQ(kept.Ask(), "body 5100");
}

TEST_F(QueueConnectionTest, AFileThatDidNotFitIsHeldBackThenTriedAgain) {
  for (TArticleOffset o : {100, 101}) {
    FQueueArticle& art = AddArticle(o, 1000);
    art.NextPart = o == 100 ? 101 : 0;
    art.PrevPart = o == 101 ? 100 : 0;
  }
  {
    auto list = queue.LockList();
    TQueueFileSet* set = queue.FindOrCreateSet(list, 100);
    for (TArticleOffset o : {100, 101}) {
      serverGroups.Carry(o, a, g, o + 5000);
      queue.PutBodyCommand(list, g, 0, set, 0, o);
    }
  }
  freeBytes = queue.Settings().reserveBytes + 1500;  // room for one part, not the file
  auto& c = Connect(a);
  EXPECT_EQ(c.Ask(), "");
  EXPECT_NE(SlotOf(a).Status.Get(TSlotStatus::StatusMessage).find("free disk space"), std::string::npos);
  freeBytes = uint64_t{1} << 40;
  int attempts = 1;
  while (c.Ask().empty() && attempts < 100) ++attempts;
  EXPECT_GT(attempts, 1) << "held back after the disk had room again";
  EXPECT_LE(attempts, TQueueFreeSpace::kDelayAttempts);
  EXPECT_EQ(c.commands.back().text, "body 5100");
  EXPECT_EQ(SlotOf(a).Status.Get(TSlotStatus::StatusMessage), "");
}

TEST_F(QueueConnectionTest, AFailedFreeSpaceQueryMeansDoNotStart) {
  QueueArticle(100, "A");
  diskReadable = false;
  auto& c = Connect(a);
  EXPECT_EQ(c.Ask(), "");
  EXPECT_TRUE(ItemOf(100)->Has(qfBadPath));
  EXPECT_TRUE(log.Contains("Cannot check the free disk space"));
  diskReadable = true;
  EXPECT_EQ(c.Ask(), "body 5100");
  EXPECT_EQ(probed.back(), dir) << "the group's download directory was asked";
}

TEST_F(QueueConnectionTest, WorkAvailableCountsWhatIdleConnectionsWillTake) {
  QueueArticle(100, "A");
  QueueArticle(101, "A");
  EXPECT_TRUE(queue.WorkAvailable(SlotOf(a, 0)));
  SlotOf(a, 1).StoreState(csReady);  // one connection of A waits already
  EXPECT_TRUE(queue.WorkAvailable(SlotOf(a, 0)));
  queue.MarkHandled(101, nullptr);
  EXPECT_FALSE(queue.WorkAvailable(SlotOf(a, 0))) << "the waiting connection will take the one article";
  EXPECT_TRUE(queue.WorkAvailable(SlotOf(a, 1))) << "the asking slot does not count itself";
  EXPECT_FALSE(queue.WorkAvailable(SlotOf(b, 0)));
  serverGroups.pairs[{b, g}];
  queue.ScheduleRefresh(*g, false, rmPlain);
  EXPECT_TRUE(queue.WorkAvailable(SlotOf(b, 0))) << "work targeted at B";
}

TEST_F(QueueConnectionTest, ConnectionsOnSeveralThreadsNeverShareAnItem) {
  constexpr int kArticles = 3000;
  a->MaxConn = 4;
  servers.AdjustSlots(*a);
  for (TArticleOffset o = 100; o < 100 + kArticles / 2; ++o) QueueArticle(o);
  std::atomic<bool> adding{true};
  std::mutex fetchedLock;
  std::vector<uint32_t> fetched;
  auto work = [&](zev::test::TFakeConnection& c) {
    for (;;) {
      const std::string text = c.Ask();
      if (text.empty()) {
        if (!adding) break;
        std::this_thread::yield();
        continue;
      }
      // The group was selected for an item that another connection took meanwhile: ask again.
      if (text.starts_with("group ")) continue;
      const auto number = static_cast<uint32_t>(std::stoul(text.substr(5)));
      const TArticleOffset offset = number - (&c.Server() == a ? 5000 : 7000);
      {
        std::lock_guard lock(fetchedLock);
        fetched.push_back(offset);
      }
      queue.BodyReceived(c);
      queue.MarkHandled(offset, &c.Slot());
    }
  };
  std::vector<zev::test::TFakeConnection*> conns;
  for (size_t i = 0; i < 4; ++i) conns.push_back(&Connect(a, i));
  for (size_t i = 0; i < 2; ++i) conns.push_back(&Connect(b, i));
  std::vector<std::thread> threads;
  for (auto* c : conns) threads.emplace_back(work, std::ref(*c));
  for (TArticleOffset o = 100 + kArticles / 2; o < 100 + kArticles; ++o) {
    // The stand-ins are read by the connections under the queue's lock.
    auto list = queue.LockList();
    AddArticle(o);
    serverGroups.Carry(o, a, g, o + 5000);
    queue.PutBodyCommand(list, g, 0, nullptr, 0, o);
  }
  adding = false;
  for (auto& t : threads) t.join();
  std::sort(fetched.begin(), fetched.end());
  EXPECT_EQ(std::adjacent_find(fetched.begin(), fetched.end()), fetched.end()) << "an article fetched twice";
  EXPECT_EQ(fetched.size(), static_cast<size_t>(kArticles));
  EXPECT_EQ(queue.BodyCount(), 0);
}

}  // namespace
