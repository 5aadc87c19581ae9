// The queue's items: adding, counting, file sets, refreshes and removal.
#include "QueueTestSupport.h"
#include "core/Format.h"
#include "db/SGLst.h"
#include "download/QueueServerGroupLists.h"

using namespace zev;

namespace {

class QueueTest : public zev::test::TQueueFixture {
 protected:
  QueueTest() {
    a = AddServer("A");
    b = AddServer("B");
    g = AddGroup("alt.binaries.test");
  }
  // A multi-part file: offsets first, first + 1, ... linked both ways.
  void AddFile(TArticleOffset first, int parts, uint64_t size = 1000) {
    for (int i = 0; i < parts; ++i) {
      FQueueArticle& art = AddArticle(first + i, size);
      art.PrevPart = i > 0 ? first + i - 1 : 0;
      art.NextPart = i + 1 < parts ? first + i + 1 : 0;
    }
  }
  void CarryOn(TServer* server, std::initializer_list<TArticleOffset> offsets) {
    for (TArticleOffset o : offsets) serverGroups.Carry(o, server, g, o + 5000);
  }
  TServer* a;
  TServer* b;
  TGroup* g;
};

TEST_F(QueueTest, AddingTakesEachArticleOnceWithItsScoreClamped) {
  struct FCase {
    int requested;
    int8_t own;
    int8_t stored;
  } cases[] = {{-300, 42, 42}, {200, 0, 127}, {-150, 0, -128}, {5, -7, 5}};
  TArticleOffset offset = 100;
  for (const FCase& c : cases) {
    SCOPED_TRACE(c.requested);
    AddArticle(offset, 1000, 1000, c.own);
    ASSERT_TRUE(Enqueue(offset, g, c.requested));
    EXPECT_EQ(ItemOf(offset)->Score, c.stored);
    ++offset;
  }
  EXPECT_FALSE(Enqueue(100, g)) << "already queued";
  EXPECT_FALSE(Enqueue(999, g)) << "no such article";
  EXPECT_FALSE(Enqueue(16, g)) << "never an article";
  EXPECT_EQ(queue.BodyCount(), 4);
  EXPECT_EQ(queue.TotalBytes(), 4000u);
  EXPECT_EQ(queue.QueuedBodies(*g), 4u);
}

TEST_F(QueueTest, BodyItemsCarryTheArticlesFacts) {
  AddArticle(100, uint64_t{5} << 32, 777).Flags = FlagBit(afSaveAsText);
  ASSERT_TRUE(Enqueue(100, g, 0, nullptr, qfByMessageID));
  const TQueueItem* item = ItemOf(100);
  EXPECT_EQ(item->Kind, qkBody);
  EXPECT_EQ(item->Data[1], kOversizedArticle);
  EXPECT_EQ(item->Data[3], 777u);
  EXPECT_EQ(item->Flags, uint32_t{qfArticle | qfSaveAsText | qfByMessageID});
}

TEST_F(QueueTest, MarkHandledRetiresOnlyTheHandlersItems) {
  for (TArticleOffset o : {100, 101}) AddArticle(o);
  CarryOn(a, {100, 101});
  Enqueue(100, g);
  Enqueue(101, g);
  auto& c = Connect(a);
  ASSERT_EQ(c.Ask(), "body 5100");
  queue.MarkHandled(101, &SlotOf(a));  // nobody works on 101
  queue.MarkHandled(100, &SlotOf(b));  // B does not work on 100
  EXPECT_EQ(queue.BodyCount(), 2);
  queue.BodyReceived(c);
  queue.MarkHandled(100, &SlotOf(a));
  EXPECT_EQ(queue.BodyCount(), 1);
  EXPECT_EQ(queue.TotalBytes(), 1000u);
  EXPECT_EQ(queue.ItemCount(), 1u);
  // Unmarking in an article view: the item nobody works on.
  queue.MarkHandled(101, nullptr);
  EXPECT_EQ(queue.ItemCount(), 0u);
  EXPECT_EQ(queue.BodyCount(), 0);
}

TEST_F(QueueTest, FinishedItemsStayVisibleUntilPurgedButAreNoLongerQueued) {
  AddArticle(100);
  CarryOn(a, {100});
  queue.SetPurgeMode(false);
  Enqueue(100, g);
  auto& c = Connect(a);
  c.Ask();
  queue.BodyReceived(c);
  queue.MarkHandled(100, &SlotOf(a));
  ASSERT_EQ(queue.ItemCount(), 1u);
  EXPECT_TRUE(ItemOf(100)->IsHandled());
  EXPECT_EQ(queue.BodyCount(), 0);
  EXPECT_TRUE(Enqueue(100, g)) << "a finished item does not block queueing the article again";
  queue.PurgeHandled();
  EXPECT_EQ(queue.ItemCount(), 2u) << "only in purge mode";
  queue.SetPurgeMode(true);
  queue.PurgeHandled();
  EXPECT_EQ(queue.ItemCount(), 1u);
}

TEST_F(QueueTest, PartsOfOneFileShareTheirSet) {
  AddFile(100, 3, 1000);
  {
    auto list = queue.LockList();
    TQueueFileSet* set = queue.FindOrCreateSet(list, 100);
    ASSERT_NE(set, nullptr);
    queue.PutBodyCommand(list, g, 0, set, 0, 100);
    EXPECT_EQ(queue.FindOrCreateSet(list, 102), set) << "found through the part chain";
    queue.PutBodyCommand(list, g, 0, queue.FindOrCreateSet(list, 102), 0, 102);
    EXPECT_EQ(queue.FindOrCreateSet(list, 999), nullptr) << "unreadable article";
    queue.FindOrCreateSet(list, 101);  // a new set that stays unused is freed with the list
  }
  TQueueFileSet* set = ItemOf(100)->FileSet;
  EXPECT_EQ(ItemOf(102)->FileSet, set);
  EXPECT_EQ(set->RefCount, 2);
  EXPECT_EQ(set->TotalBytes, 2000u);
  queue.MarkHandled(102, nullptr);
  EXPECT_EQ(set->RefCount, 1);
  EXPECT_EQ(set->TotalBytes, 1000u);
}

TEST_F(QueueTest, LinkSetsJoinsQueuedPartsAndSurvivesAnUnreadablePart) {
  AddFile(40, 2);
  AddFile(100, 3);
  AddArticle(30).NextPart = 31;  // 31 cannot be read
  for (TArticleOffset o : {41, 100, 40, 101, 102, 30}) Enqueue(o, g);
  queue.LinkSets();
  TQueueFileSet* file = ItemOf(102)->FileSet;
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(ItemOf(100)->FileSet, file);
  EXPECT_EQ(ItemOf(101)->FileSet, file);
  EXPECT_EQ(file->RefCount, 3);
  EXPECT_EQ(file->TotalBytes, 3000u);
  ASSERT_NE(ItemOf(40)->FileSet, nullptr) << "linking went on after the unreadable part";
  EXPECT_EQ(ItemOf(41)->FileSet, ItemOf(40)->FileSet);
  EXPECT_NE(ItemOf(40)->FileSet, file);
}

TEST_F(QueueTest, ScoresAndSizesFollowTheArticle) {
  AddFile(100, 2, 1000);
  {
    auto list = queue.LockList();
    TQueueFileSet* set = queue.FindOrCreateSet(list, 100);
    queue.PutBodyCommand(list, g, 0, set, 0, 100);
    queue.PutBodyCommand(list, g, 0, set, 0, 101);
  }
  queue.SetArticleScore(101, 500);
  EXPECT_EQ(ItemOf(101)->Score, 127);
  queue.UpdateSizes({{100, 4000}, {101, 500}});
  EXPECT_EQ(queue.TotalBytes(), 4500u);
  EXPECT_EQ(ItemOf(100)->FileSet->TotalBytes, 4500u);
}

TEST_F(QueueTest, ManualRefreshQueuesEachCarryingServerOnce) {
  TServer* articlesOnly = AddServer("Articles");
  articlesOnly->ServerMode = smArticles;
  for (TServer* s : {a, b, articlesOnly}) serverGroups.pairs[{s, g}];
  queue.ScheduleRefresh(*g, false, rmAllAgain);
  queue.ScheduleRefresh(*g, false, rmAllAgain);
  auto items = Items();
  ASSERT_EQ(items.size(), 2u) << "A and B, once each";
  for (TQueueItem* item : items) EXPECT_EQ(item->Kind, qkGroup);
  EXPECT_EQ(queue.CountPendingServers(*g), 2);
  EXPECT_EQ((serverGroups.pairs[{a, g}].kind), rmAllAgain);
  EXPECT_FALSE((serverGroups.pairs[{a, g}].idle));
  EXPECT_EQ(g->LastRefresh.load(), today);
  EXPECT_EQ(g->RefreshChanged.load(), 1u);
  auto list = queue.LockList();
  EXPECT_NE(queue.FindItem(list, a, g, 1u << qkGroup), nullptr);
  EXPECT_EQ(queue.FindItem(list, a, g, 1u << qkBody), nullptr);
}

TEST_F(QueueTest, AutomaticRefreshOnlyWhenDue) {
  serverGroups.pairs[{a, g}].last = today - 2.0;
  g->Include(gfAutoRefresh);
  g->SetRefreshInterval(ri24Hours);
  queue.ScheduleRefresh(*g, true, rmPlain);
  EXPECT_EQ(Items().size(), 1u) << "refreshed two days ago, due every day";
  EXPECT_EQ(g->LastRefresh.load(), today);

  TGroup* fresh = AddGroup("alt.fresh");
  fresh->Include(gfAutoRefresh);
  fresh->SetRefreshInterval(ri24Hours);
  serverGroups.pairs[{a, fresh}].last = today - 0.5;
  queue.ScheduleRefresh(*fresh, true, rmPlain);
  EXPECT_EQ(Items().size(), 1u) << "refreshed twelve hours ago";
  EXPECT_EQ(fresh->LastRefresh.load(), today - 0.5) << "the server's time stands in for the group's";

  TGroup* manual = AddGroup("alt.manual");
  serverGroups.pairs[{a, manual}];
  queue.ScheduleRefresh(*manual, true, rmPlain);
  EXPECT_EQ(Items().size(), 1u) << "no automatic refresh";
}

TEST_F(QueueTest, RemovingAGroupTakesItsItemsEvenOneInProgress) {
  TGroup* other = AddGroup("alt.other");
  for (TArticleOffset o : {100, 101, 102}) AddArticle(o);
  CarryOn(a, {100, 101});
  serverGroups.Carry(102, a, other, 9102);
  Enqueue(100, g);
  Enqueue(101, g);
  Enqueue(102, other);
  auto& c = Connect(a);
  ASSERT_EQ(c.Ask(), "body 5100");
  queue.RemoveForNode(*g);
  EXPECT_EQ(queue.BodyCount(), 1);
  EXPECT_EQ(queue.ItemCount(), 2u) << "the item in progress waits for its connection";
  groups.erase(groups.begin());  // the group node is freed now
  g = nullptr;
  queue.BodyReceived(c);
  EXPECT_EQ(queue.ItemCount(), 1u);
  EXPECT_EQ(c.Ask(), "body 9102");
  EXPECT_EQ(queue.QueuedBodies(*other), 1u);
}

TEST_F(QueueTest, ForgettingAServerClearsWhatRefersToIt) {
  for (TArticleOffset o : {100, 101}) AddArticle(o);
  CarryOn(a, {100, 101});
  CarryOn(b, {100, 101});
  Enqueue(100, g);
  Enqueue(101, g);
  {
    auto list = queue.LockList();
    queue.Retarget(list, list.Item(0), b);
  }
  serverGroups.pairs[{b, g}];
  queue.ScheduleRefresh(*g, false, rmPlain);
  ASSERT_EQ(queue.ItemCount(), 3u);
  queue.ForgetServer(*b);
  std::erase_if(serverGroups.sources[100], [&](auto& s) { return s.server == b; });
  std::erase_if(serverGroups.sources[101], [&](auto& s) { return s.server == b; });
  servers.FreeServerNodes(b);
  EXPECT_EQ(queue.ItemCount(), 2u) << "B's refresh went with it";
  EXPECT_EQ(ItemOf(100)->Target, 0u);
  auto& c = Connect(a);
  EXPECT_EQ(c.Ask(), "body 5100");
  queue.BodyReceived(c);
  EXPECT_EQ(c.Ask(), "body 5101");
}

TEST_F(QueueTest, DeletingItemsUnmarksArticlesAndAllowsANewRefresh) {
  AddArticle(100);
  AddArticle(101);
  CarryOn(a, {100, 101});
  Enqueue(100, g);
  Enqueue(101, g);
  serverGroups.pairs[{a, g}];
  queue.ScheduleRefresh(*g, false, rmPlain);
  auto& c = Connect(a);
  ASSERT_EQ(c.Ask(), "body 5100");
  {
    auto list = queue.LockList();
    std::vector<TQueueItem*> all;
    for (size_t i = list.Count(); i-- > 0;) all.push_back(list.Item(i));
    queue.DeleteItems(list, all);
  }
  EXPECT_EQ(queue.ItemCount(), 1u) << "the item in progress stays";
  EXPECT_EQ(articles.unmarked, std::vector<TArticleOffset>{101});
  EXPECT_TRUE((serverGroups.pairs[{a, g}].idle));
  EXPECT_EQ(queue.BodyCount(), 1);
}

TEST_F(QueueTest, NumbersRegisteredWhileTheListIsHeldCountWhenItIsReleased) {
  // Automatic marking and the start-up scan queue an article first and note the servers'
  // numbers afterwards, both under one LockList.
  AddArticle(100);
  {
    auto list = queue.LockList();
    TBodyQueue& marking = list;
    marking.PutBodyCommand(*g, 0, -300, 100);
    CarryOn(a, {100});
    CarryOn(b, {100});
  }
  EXPECT_EQ(Connect(b).Ask(), "body 5100") << "B's number counted too";
}

TEST_F(QueueTest, AnArticleNoServerCarriedIsTakenOnceOneDoes) {
  AddArticle(100);
  Enqueue(100, g);
  auto& c = Connect(a);
  EXPECT_EQ(c.Ask(), "");
  CarryOn(a, {100});  // a refresh of A found it; nobody tells the queue
  EXPECT_EQ(c.Ask(), "") << "looked at again only once a second";
  nowMs += 1000;
  EXPECT_EQ(c.Ask(), "body 5100");
}

TEST_F(QueueTest, SummaryTexts) {
  EXPECT_EQ(queue.StatusHint("1 min"), "No marked articles in queue");
  AddArticle(100, 2 * 1024 * 1024);
  Enqueue(100, g);
  EXPECT_EQ(queue.SummaryText(), "1 (" + FormatSizeKB(uint64_t{2048}) + ")");
  EXPECT_EQ(queue.StatusHint("5 mins"), "Marked 1 articles totaling " + FormatSizeKB(uint64_t{2048}) +
                                            " for download, ETA 5 mins");
}

TEST_F(QueueTest, TheServerGroupListsAnswerForTheQueue) {
  TSGLst serverGroupList, queueIndex;
  TQueueServerGroupLists lists(serverGroupList, queueIndex);
  TGroup* other = AddGroup("alt.other");
  queueIndex.SetArtNo(*a, *g, 500, 100);
  queueIndex.SetArtNo(*b, *other, 700, 100);
  std::vector<FArticleSource> found;
  lists.Sources(100, found);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].server, a);
  EXPECT_EQ(found[0].artNo, 500u);
  EXPECT_EQ(found[1].group, other);
  lists.ForgetArtNo(*b, nullptr, 100);
  found.clear();
  lists.Sources(100, found);
  EXPECT_EQ(found.size(), 1u);

  EXPECT_FALSE(lists.HasRecord(*a, *g));
  auto entry = serverGroupList.FindOrCreate(*a, *g, true);
  ASSERT_TRUE(lists.HasRecord(*a, *g));
  entry->Validated = true;
  lists.RefreshQueued(*a, *g);
  EXPECT_FALSE(lists.RefreshIdle(*a, *g));
  EXPECT_FALSE(entry->FirstRefresh);
  EXPECT_FALSE(entry->Validated) << "the first refresh since start-up checks for expired articles";
  entry->Validated = true;
  lists.RefreshQueued(*a, *g);
  EXPECT_TRUE(entry->Validated);
  lists.SetRefreshKind(*a, *g, rmNewOnly);
  EXPECT_EQ(entry->RefreshKind, rmNewOnly);
  entry->SetLastRefresh(today);
  EXPECT_EQ(lists.LastRefresh(*a, *g), today);
}

TEST(QueueItemKinds, XmlWordsReadBackInAnyCase) {
  for (int k = 1; k < kQueueKindCount; ++k) {
    const auto kind = static_cast<TQueueKind>(k);
    std::string word = QueueKindXmlWord(kind);
    for (char& ch : word) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_EQ(QueueKindFromXmlWord(word), kind) << word;
  }
  EXPECT_EQ(QueueKindFromXmlWord("nonsense"), qkGroup);
  EXPECT_STREQ(QueueKindTypeText(qkSize), "xhdr Lines");
}

}  // namespace
