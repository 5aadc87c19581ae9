#include "db/SGLst.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "MapTestUtil.h"
#include "core/ZevIniFile.h"
#include "db/GroupTree.h"
#include "db/OffsMapFile.h"
#include "db/ServerTree.h"

using namespace zev;
using zev::test::TMapWorld;

TEST(SGLst, BuildAllPairsEveryCarryingServerWithEveryUsableGroup) {
  TMapWorld w;
  TZevIniFile ini("");
  TServerTree servers(ini);
  TGroupTree groups(ini, "/dl");
  servers.LoadServers();
  groups.LoadGroups();
  TServer* a = servers.CreateServerNode("A", snNewsServer, servers.Roots()[0].get());
  TServer* b = servers.CreateServerNode("B", snNewsServer, servers.Roots()[0].get());
  a->SetHost("a");
  b->SetHost("b");
  TGroup* g1 = groups.CreateGroupNode(gnNewsgroup, "alt.one", groups.Roots()[0].get());
  TGroup* g2 = groups.CreateGroupNode(gnNewsgroup, "GrpLst", groups.Roots()[0].get());
  for (TServer* s : {a, b})
    for (const char* g : {"alt.one", "GrpLst"}) w.catalog.carried.insert({s, g});
  w.catalog.carried.erase({b, "alt.one"});
  w.serverGroups.BuildAll(servers, groups);
  EXPECT_EQ(w.serverGroups.Count(), 1u) << "b does not carry alt.one; GrpLst would overwrite the group list";
  EXPECT_TRUE(w.log.Contains("GrpLst"));

  w.catalog.carried.insert({b, "alt.one"});
  w.serverGroups.AddServer(*b, groups);
  w.serverGroups.AddGroup(*g1, servers);
  EXPECT_EQ(w.serverGroups.Count(), 2u) << "no duplicates";
  EXPECT_EQ(w.serverGroups.CountForGroup(*g1, false), 2);
  b->ServerMode = smArticles;
  EXPECT_EQ(w.serverGroups.CountForGroup(*g1, true), 1);
  EXPECT_EQ(w.serverGroups.CountForGroup(*g2, false), 0);

  // Freeing a server takes its entries along, in both lists.
  w.queueIndex.SetArtNo(*b, *g1, 77, 5000);
  TSGLst::TEntry kept = w.serverGroups.FindOrCreate(*b, *g1, false);
  servers.FreeServerNodes(b);
  EXPECT_EQ(w.serverGroups.Count(), 1u);
  EXPECT_FALSE(w.queueIndex.AnyHolds(5000));
  EXPECT_EQ(kept->GetReverse(5000), 0u) << "a removed entry stays valid for its holder";
  groups.FreeGroupNodes(g1);
  EXPECT_EQ(w.serverGroups.Count(), 0u);
}

TEST(SGLst, ReverseMapQueriesAndTheQueueFileFragment) {
  TMapWorld w;
  TServer& plain = w.AddServer("news.example.net");
  TServer& secure = w.AddServer("ssl.example.net", 563);
  TGroup g(gnNewsgroup, "alt.<bin>&co", nullptr);
  TGroup h(gnNewsgroup, "alt.other", nullptr);
  TSGLst& index = w.queueIndex;
  index.SetArtNo(plain, g, 0, 9000);
  EXPECT_EQ(index.Count(), 0u) << "no number, no entry";
  index.SetArtNo(plain, g, 1234, 9000);
  index.SetArtNo(secure, g, 98765, 9000);
  index.SetArtNo(secure, h, 5, 9000);
  EXPECT_EQ(index.XmlFragment(9000),
            "<srvgrp><server><host>news.example.net</host></server><group>alt.&lt;bin&gt;&amp;co</group>"
            "<artid>1234</artid></srvgrp>"
            "<srvgrp><server><host>ssl.example.net</host><port>563</port></server><group>alt.&lt;bin&gt;&amp;co"
            "</group><artid>98765</artid></srvgrp>"
            "<srvgrp><server><host>ssl.example.net</host><port>563</port></server><group>alt.other</group>"
            "<artid>5</artid></srvgrp>");
  EXPECT_EQ(index.ArticleIds(9000), "news.example.net:alt.<bin>&co:0000001234, ssl.example.net:alt.<bin>&co:"
                                    "0000098765, ssl.example.net:alt.other:0000000005");
  EXPECT_EQ(index.GroupNames(9000), "alt.<bin>&co, alt.<bin>&co, alt.other");
  EXPECT_EQ(index.ArtNo(secure, h, 9000), 5u);
  EXPECT_EQ(index.ArtNoAnyGroup(secure, 9000).second, 98765u);
  EXPECT_EQ(index.GroupOf(9000), &g);
  index.SetArtNo(plain, g, 0, 9000);
  EXPECT_EQ(index.ArtNo(plain, g, 9000), 0u) << "forgotten";
  EXPECT_EQ(index.XmlFragment(1), "");
}

TEST(SGLst, ServerChoiceTable) {
  struct FCase {
    const char* what;
    int8_t otherPreference;
    bool otherHolds, otherFaster, otherOffline, skipOffline;
    int expected;
  } cases[] = {
      {"nobody else has it", 0, false, false, false, false, 3},
      {"a preferred server has it", 1, true, false, false, false, 0},
      {"an equal, faster one has it", 0, true, true, false, false, 1},
      {"an equal, slower one has it", 0, true, false, false, false, 2},
      {"a less preferred one is ignored", -1, true, true, false, false, 3},
      {"a preferred one offline, not skipped", 1, true, false, true, false, 0},
      {"a preferred one offline, skipped", 1, true, false, true, true, 3},
  };
  for (const FCase& c : cases) {
    TMapWorld w;
    TZevIniFile ini("");
    TServerTree tree(ini);
    tree.LoadServers();
    TServer& me = *tree.CreateServerNode("me", snNewsServer, tree.Roots()[0].get());
    TServer& other = *tree.CreateServerNode("other", snNewsServer, tree.Roots()[0].get());
    tree.AdjustSlots(other);
    other.SetPreference(c.otherPreference);
    if (c.otherOffline) other.Children()[0]->StoreState(csRetrying);
    w.config.Flags = c.skipOffline ? 1u << cfLowerPriorityWhenOffline : 0;
    // One second of activity each: 100 kB for me, 50 or 200 kB for the other server.
    for (auto [node, kb] : {std::pair{&me, 100}, std::pair{&other, c.otherFaster ? 200 : 50}}) {
      node->BeginTransfer(0);
      node->AddReceivedBytes(uint64_t(kb) * 1024);
      node->EndTransfer(1000);
    }
    TGroup g(gnNewsgroup, "alt.test", nullptr);
    w.queueIndex.SetArtNo(me, g, 10, 4242);
    w.queueIndex.SetArtNo(other, g, 20, c.otherHolds ? 4242 : 1111);
    EXPECT_EQ(w.queueIndex.ServerChoice(me, g, 4242), c.expected) << c.what;
  }
}

TEST(SGLst, AutoMarkQueuesEveryUnfinishedPartAndNotesItsNumbers) {
  TMapWorld w;
  w.config.FirstPartScore = 10;
  TServer& server = w.AddServer("h");
  TServer& articlesOnly = w.AddServer("mid");
  articlesOnly.ServerMode = smArticles;
  TGroup g(gnNewsgroup, "alt.bin", nullptr);
  // A three-part file at 101 <-> 102 <-> 103; part 2 is downloaded already.
  for (uint16_t p = 1; p <= 3; ++p) {
    FMsgData& r = w.articles.Add(100 + p);
    r.FPartNo = p;
    r.FPartTotal = 3;
    r.FScore = 5;
    SetFlag(r, afMultiPart);
    r.FPrevPart = p > 1 ? 100 + p - 1 : 0;
    r.FNextPart = p < 3 ? 100 + p + 1 : 0;
  }
  SetFlag(w.articles.records[102], afDownloaded);
  w.articles.dirs[103] = "/wanted/";
  auto sg = w.serverGroups.FindOrCreate(server, g, true);
  w.serverGroups.FindOrCreate(articlesOnly, g, true);
  sg->AdjustServerFile(1, 3, false);
  {
    TMapUse use(*sg);
    for (uint32_t n = 1; n <= 3; ++n) sg->SetEntry(n, 100 + n);
    sg->AutoMarkFile(103, w.queue);
  }
  ASSERT_EQ(w.queue.items.size(), 2u);
  EXPECT_EQ(w.queue.items[0].offset, 101u);
  EXPECT_EQ(w.queue.items[0].score, 15) << "part 1 gets the first-part bonus";
  EXPECT_EQ(w.queue.items[1].score, 5);
  EXPECT_TRUE(HasFlag(w.articles.records[101], afMarked));
  EXPECT_FALSE(HasFlag(w.articles.records[102], afMarked));
  EXPECT_EQ(w.articles.dirs[101], "/wanted/");
  EXPECT_EQ(w.queueIndex.ArtNo(server, g, 101), 1u);
  EXPECT_EQ(w.queueIndex.ArtNo(server, g, 103), 3u);
  EXPECT_EQ(w.queueIndex.ArtNo(server, g, 102), 0u) << "downloaded parts are not fetched";
  EXPECT_EQ(w.queueIndex.ArtNo(articlesOnly, g, 101), 1u) << "by Message-ID";

  // A file that exists exactly is not marked again.
  struct FExists : TExistingFileCheck {
    TFileMatch Classify(TArticleOffset, const std::string&) override { return fmDiskExact; }
  } exists;
  gExistingFiles = &exists;
  w.queue.items.clear();
  sg->AutoMarkFile(103, w.queue);
  gExistingFiles = nullptr;
  EXPECT_TRUE(w.queue.items.empty());
  EXPECT_TRUE(w.log.Contains("Skipped auto-mark due to file \"file103.rar\" already existing."));
}

TEST(SGLst, AutoMarkSurvivesALoopedPartChain) {
  TMapWorld w;
  TServer& server = w.AddServer("h");
  TGroup g(gnNewsgroup, "alt.bin", nullptr);
  w.articles.Add(201).FNextPart = 202;
  w.articles.Add(202).FNextPart = 201;  // damaged: back to the start
  auto sg = w.serverGroups.FindOrCreate(server, g, true);
  sg->AutoMarkFile(201, w.queue);
  EXPECT_EQ(w.queue.items.size(), 2u);
}

TEST(SGLst, QueueMarkedQueuesOnlyWhatIsNotQueuedYet) {
  TMapWorld w;
  TServer& server = w.AddServer("h");
  TGroup g(gnNewsgroup, "alt.bin", nullptr);
  auto sg = w.serverGroups.FindOrCreate(server, g, true);
  sg->AdjustServerFile(500, 504, false);
  TMap2 marked{{300, 1}, {301, 0}, {999, 1}};
  TMapUse use(*sg);
  sg->SetEntry(500, 300);
  sg->SetEntry(502, 301);
  sg->SetEntry(503, 1);
  sg->QueueMarked(marked, w.queue);
  ASSERT_EQ(w.queue.items.size(), 1u);
  EXPECT_EQ(w.queue.items[0].offset, 300u);
  EXPECT_EQ(w.queue.items[0].score, -300);
  EXPECT_EQ(marked[0].value, 0u) << "now queued";
  EXPECT_EQ(marked[2].value, 1u) << "not in this map";
  EXPECT_EQ(w.queueIndex.ArtNo(server, g, 300), 500u);
  EXPECT_EQ(w.queueIndex.ArtNo(server, g, 301), 502u);
}

TEST(SGLst, RemovingAGroupFromAServerDropsItsReferencesAndFile) {
  TMapWorld w;
  TServer& server = w.AddServer("h");
  TGroup g(gnNewsgroup, "alt.gone", nullptr);
  w.catalog.carried.insert({&server, "alt.gone"});
  auto sg = w.serverGroups.FindOrCreate(server, g, true);
  sg->AdjustServerFile(1, 3, false);
  {
    TMapUse use(*sg);
    for (uint32_t n = 1; n <= 3; ++n) {
      w.articles.Add(400 + n);
      sg->SetEntry(n, 400 + n);
    }
  }
  std::string path = sg->MapFileName();
  ASSERT_TRUE(std::filesystem::exists(path));
  w.serverGroups.RemoveGroupFromServer(server, "alt.gone", true);
  EXPECT_EQ(w.serverGroups.Count(), 0u);
  EXPECT_EQ(w.articles.released.size(), 3u);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_TRUE(w.catalog.carried.empty());
}
