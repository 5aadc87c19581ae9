// Group refreshes over real connections to the test news server: the commands a refresh
// sends (transcripts), what lands in the database, and the refreshes that must end
// cleanly when the server has nothing or refuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ArtListHarness.h"
#include "db/NwsStore.h"
#include "db/OffsMapFile.h"
#include "filters/KillWant.h"

namespace zev::test {
namespace {

using testserver::FBulkOptions;
using testserver::TArticleStore;

using TCommands = std::vector<std::string>;

class ArtListRefreshTest : public TArtListHarness {
 protected:
  void FillStore(TArticleStore& store) override {
    FBulkOptions bulk;
    bulk.name = "zevrin.test.bulk";
    bulk.count = 12000;
    store.AddBulkGroup(bulk);
    FBulkOptions high;
    high.name = "zevrin.test.high";
    high.count = 300;
    high.firstNumber = 3000000000u;
    store.AddBulkGroup(high);
    for (int i = 1; i <= 100; ++i) PostSmall(store, "alt.small", i);
    store.AddGroup("alt.empty");
  }

  static void PostSmall(TArticleStore& store, const std::string& group, int i, const std::string& tag = "small") {
    store.Post(group,
               {{"Subject", "post " + std::to_string(i) + " - notes.txt (1/1)"},
                {"From", "Poster <poster@example.com>"},
                {"Date", "Sat, 15 Jun 2024 12:00:00 +0000"},
                {"Message-ID", "<" + tag + std::to_string(i) + "@zevrin.test>"}},
               "line one\nline two\n");
  }

  // Multi-part articles of the map that are not part of a complete file.
  size_t IncompleteParts(TGroup& group) {
    size_t n = 0;
    for (uint32_t offset : MapOf(group)) {
      if (offset < kFirstArticleOffset) continue;
      FMsgData r = Record(offset);
      if (HasFlag(r, afMultiPart) && !HasFlag(r, afGoodParts)) ++n;
    }
    return n;
  }
};

// A new group of 12,000 articles with chunks of 5,000: newest chunk first, every range
// exactly once, and the files linked complete; the next refresh finds nothing new.
TEST_F(ArtListRefreshTest, NewGroupIsFetchedInChunksNewestFirstExactlyOnce) {
  TServer& server = AddServer(ServerFlagBit(sfChunks));
  server.ChunkSize = 5000;
  TGroup& group = Subscribe("zevrin.test.bulk");
  ASSERT_TRUE(Refresh(group));
  EXPECT_EQ(SentCommands(1),
            (TCommands{"group zevrin.test.bulk", "xover 7001-12000", "xover 2001-7000", "xover 1-2000"}));
  std::vector<uint32_t> map = MapOf(group);
  ASSERT_EQ(map.size(), 12001u);
  EXPECT_EQ(std::count_if(map.begin() + 1, map.end(), [](uint32_t e) { return e >= kFirstArticleOffset; }), 12000);
  EXPECT_EQ(engine_->ArtList()->Stats().headersStored, 12000u);
  EXPECT_EQ(group.PendingNew, 12000u);
  // Only the files cut off by either end of the group stay incomplete.
  EXPECT_LE(IncompleteParts(group), 2 * 40u);
  EXPECT_TRUE(Pair(group)->IsUnused());

  ASSERT_TRUE(Refresh(group));
  EXPECT_EQ(SentCommands(2), TCommands{"group zevrin.test.bulk"});
  EXPECT_EQ(engine_->ArtList()->Stats().headersStored, 12000u);
  EXPECT_TRUE(Pair(group)->IsUnused());
}

TEST_F(ArtListRefreshTest, ExpiredLowArticlesLeaveAndNewHighOnesArrive) {
  AddServer();
  TGroup& group = Subscribe("alt.small");
  ASSERT_TRUE(Refresh(group));
  SentCommands(1);
  const std::vector<uint32_t> before = MapOf(group);
  for (uint64_t n = 1; n <= 20; ++n) Store().Remove("alt.small", n);
  for (int i = 101; i <= 120; ++i) PostSmall(Store(), "alt.small", i);
  ASSERT_TRUE(Refresh(group));
  EXPECT_EQ(SentCommands(2), (TCommands{"group alt.small", "xover 101-120"}));
  std::vector<uint32_t> after = MapOf(group);
  ASSERT_EQ(after.size(), 101u);
  EXPECT_EQ(after[0], 21u);
  for (size_t i = 1; i < after.size(); ++i) EXPECT_GE(after[i], kFirstArticleOffset) << i;
  for (size_t n = 1; n <= 20; ++n) EXPECT_EQ(Record(before[n]).FRefCount, 0u) << n;
  EXPECT_EQ(Record(before[21]).FRefCount, 1u);
}

// Without overview the XHDR passes fetch Message-IDs, then sizes, subjects, authors and
// dates, and the records end up as an overview would have made them.
TEST_F(ArtListRefreshTest, ServerWithoutOverviewIsFilledByHeaderPasses) {
  AddServer(ServerFlagBit(sfXHDR));
  AddFault("XOVER:error=500");
  TGroup& group = Subscribe("alt.small");
  ASSERT_TRUE(Refresh(group));
  EXPECT_EQ(SentCommands(1), (TCommands{"group alt.small", "xhdr Message-ID 1-100", "xhdr Lines 1-100",
                                        "xhdr Subject 1-100", "xhdr From 1-100", "xhdr Date 1-100"}));
  std::vector<uint32_t> map = MapOf(group);
  TArticle& article = *engine_->Article();
  TArticleLock lock(article);
  ASSERT_TRUE(article.Read(map[42]));
  EXPECT_EQ(article.GetSubject(), "post 42 - notes.txt (1/1)");
  EXPECT_EQ(article.GetAuthor(), "Poster <poster@example.com>");
  EXPECT_EQ(article.GetFileName(), "notes.txt");
  EXPECT_NE(article.Data().FDate, 0u);
}

// A group the server has emptied or does not carry ends its refresh at once.
TEST_F(ArtListRefreshTest, EmptyOrMissingGroupEndsTheRefresh) {
  AddServer();
  for (const char* name : {"alt.empty", "alt.not.carried"}) {
    SCOPED_TRACE(name);
    TGroup& group = Subscribe(name);
    auto sg = Pair(group);
    ASSERT_TRUE(Refresh(group));
    EXPECT_TRUE(sg->RefreshIdle);
    EXPECT_TRUE(sg->IsUnused());
  }
  EXPECT_FALSE(Pair(*engine_->Groups()->FindGroupByName("alt.not.carried")));
}

// The server renumbered the group: the newest known article no longer has its number, and
// the whole map is fetched again rather than keeping entries of the old numbering.
TEST_F(ArtListRefreshTest, RenumberedGroupIsRebuilt) {
  AddServer();
  TGroup& group = Subscribe("alt.small");
  ASSERT_TRUE(Refresh(group));
  SentCommands(1);
  const std::vector<uint32_t> old = MapOf(group);
  for (uint64_t n = 1; n <= 120; ++n) Store().Remove("alt.small", n);
  for (int i = 1; i <= 80; ++i) {
    auto article = testserver::MakeArticle({{"Subject", "renumbered " + std::to_string(i)},
                                            {"From", "x <x@y>"},
                                            {"Message-ID", "<renum" + std::to_string(i) + "@zevrin.test>"}},
                                           "body\n");
    Store().PostNumbered("alt.small", static_cast<uint64_t>(i), article);
  }
  ASSERT_TRUE(Refresh(group));
  EXPECT_EQ(SentCommands(2), (TCommands{"group alt.small", "xhdr Message-ID 80", "xover 1-80"}));
  std::vector<uint32_t> map = MapOf(group);
  ASSERT_EQ(map.size(), 81u);
  TArticle& article = *engine_->Article();
  TArticleLock lock(article);
  ASSERT_TRUE(article.Read(map[80]));
  EXPECT_EQ(article.GetMessageId(), "renum80@zevrin.test");
  for (size_t n = 1; n <= 100; ++n) EXPECT_EQ(Record(old[n]).FRefCount, 0u) << n;
}

// A server that refuses the one-article check still gets its new range fetched.
TEST_F(ArtListRefreshTest, RefusedCheckDoesNotStopTheRefresh) {
  AddServer();
  TGroup& group = Subscribe("alt.small");
  ASSERT_TRUE(Refresh(group));
  SentCommands(1);
  for (uint64_t n = 91; n <= 100; ++n) Store().Remove("alt.small", n);
  AddFault("XHDR:error=500");
  ASSERT_TRUE(Refresh(group));
  EXPECT_EQ(SentCommands(2), (TCommands{"group alt.small", "xhdr Message-ID 90", "xover 1-90"}));
  std::vector<uint32_t> map = MapOf(group);
  ASSERT_EQ(map.size(), 91u);
  EXPECT_GE(map[90], kFirstArticleOffset);
}

TEST_F(ArtListRefreshTest, ArticleNumbersBeyondTwoToTheThirtyOne) {
  AddServer();
  TGroup& group = Subscribe("zevrin.test.high");
  ASSERT_TRUE(Refresh(group));
  EXPECT_EQ(SentCommands(1), (TCommands{"group zevrin.test.high", "xover 3000000000-3000000299"}));
  std::vector<uint32_t> map = MapOf(group);
  ASSERT_EQ(map.size(), 301u);
  EXPECT_EQ(map[0], 3000000000u);
  EXPECT_EQ(std::count_if(map.begin() + 1, map.end(), [](uint32_t e) { return e >= kFirstArticleOffset; }), 300);
}

// Kill and want filters judge the new headers: flags, scores, counters, and the want
// filter's automatic marking with its download directory.
// The map file names records by their place in the database, so it may only name records
// the database holds on disk. A copy of the data taken right after a refresh, as the
// files are (the program dying at that moment), opens with every mapped article present.
TEST_F(ArtListRefreshTest, MapOnDiskNamesOnlyRecordsOnDisk) {
  AddServer();
  TGroup& group = Subscribe("alt.small");
  ASSERT_TRUE(Refresh(group));
  const std::string mapPath = Pair(group)->MapFileName();
  ASSERT_TRUE(mapPath.starts_with(dir_)) << mapPath;
  const std::string copy = dir_.substr(0, dir_.size() - 1) + "_as_on_disk/";
  std::filesystem::remove_all(copy);
  std::filesystem::copy(dir_, copy, std::filesystem::copy_options::recursive);

  std::vector<uint32_t> map;
  ASSERT_EQ(ReadMapFile(copy + mapPath.substr(dir_.size()), map), TMapFileRead::Loaded);
  ASSERT_EQ(map.size(), 101u);
  TNewsStore store;
  store.SetPath(copy + config_->DataStore.substr(dir_.size()));
  store.SetActive(true);
  for (size_t n = 1; n < map.size(); ++n) {
    ASSERT_GE(map[n], kFirstArticleOffset) << n;
    FMsgData r{};
    ASSERT_TRUE(store.MsgLst()->ReadRecord(map[n], &r)) << n;
    EXPECT_GE(r.FRefCount, 1u) << n;
    EXPECT_NE(r.FSubject, 0u) << n;
  }
  store.SetActive(false);
  std::filesystem::remove_all(copy);
}

TEST_F(ArtListRefreshTest, FiltersJudgeNewHeaders) {
  AddServer();
  // The want filter queues its article, and the connection goes on to fetch it once the
  // refresh ends; a body that never comes keeps the mark in place while the test looks.
  AddFault("BODY:silent");
  AddFault("ARTICLE:silent");
  TKillWant& filters = *engine_->KillWant();
  auto want = std::make_shared<TKWItem>();
  want->SetFlags(kwActive | kwWant | kwAutoMark | kwSubject);
  want->Expression.SetPattern("post 5 ");
  want->DownloadDir = dir_ + "wanted/";
  want->Score = 20;
  filters.Add(want);
  auto kill = std::make_shared<TKWItem>();
  kill->SetFlags(kwActive | kwKill | kwFilename);
  kill->Expression.SetPattern("^notes");
  kill->Groups.SetPattern("small");
  kill->Score = -50;
  filters.Add(kill);
  TGroup& group = Subscribe("alt.small");
  ASSERT_TRUE(Refresh(group));
  std::vector<uint32_t> map = MapOf(group);
  FMsgData wanted = Record(map[5]), other = Record(map[6]);
  EXPECT_TRUE(HasFlag(wanted, afWanted));
  EXPECT_TRUE(HasFlag(wanted, afMarked));
  EXPECT_TRUE(HasFlag(wanted, afKilled));
  EXPECT_EQ(wanted.FScore, 20 - 50);
  EXPECT_FALSE(HasFlag(other, afWanted));
  EXPECT_TRUE(HasFlag(other, afKilled));
  EXPECT_EQ(group.WantCount, 1u);
  EXPECT_EQ(group.KillCount, 100u);
  TArticle& article = *engine_->Article();
  TArticleLock lock(article);
  ASSERT_TRUE(article.Read(map[5]));
  EXPECT_EQ(article.GetDownloadDir(), dir_ + "wanted/");
}

}  // namespace
}  // namespace zev::test
