#include "db/GroupList.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <thread>

#include "GroupListWorld.h"
#include "db/BTreeCheck.h"
#include "db/GroupListLine.h"
#include "db/SrvGrp.h"

using namespace zev;
using zev::test::TListWorld;

namespace {

// The count file's bytes as stored: LastUpdate, then one 32-bit slot per GroupId.
std::string CountFileBytes(TDateTime lastUpdate, const std::vector<uint32_t>& slots) {
  std::string bytes(8 + 4 * slots.size(), '\0');
  std::memcpy(bytes.data(), &lastUpdate, 8);
  if (!slots.empty()) std::memcpy(bytes.data() + 8, slots.data(), 4 * slots.size());
  return bytes;
}

}  // namespace

TEST(GroupListLine, CountsNamesAndRefusals) {
  struct FCase {
    std::string line;
    TListLineVerdict verdict;
    std::string name;
    uint32_t count;
  };
  const std::string longName(252, 'a');
  const FCase cases[] = {
      {"alt.test 100 1 y", TListLineVerdict::Stored, "alt.test", 100},
      {"alt.test 5 9 y", TListLineVerdict::Stored, "alt.test", 1},           // high below low
      {"alt.test 0000000009 0000000010 y\r", TListLineVerdict::Stored, "alt.test", 1},  // empty group
      {"alt.test\t10\t\t1", TListLineVerdict::Stored, "alt.test", 10},
      {"alt.test 7", TListLineVerdict::Stored, "alt.test", 8},              // low missing: read as 0
      {"alt.test 99999999999999999999999 0 y", TListLineVerdict::Stored, "alt.test", UINT32_MAX},
      {"de.alt.müll 3 1 y", TListLineVerdict::Stored, "de.alt.müll", 3},
      {"alt.test", TListLineVerdict::Ignored, "", 0},
      {"", TListLineVerdict::Ignored, "", 0},
      {"\r", TListLineVerdict::Ignored, "", 0},
      {" 12 1 y", TListLineVerdict::Refused, "", 0},
      {"../../etc 1 1 y", TListLineVerdict::Refused, "", 0},
      {".hidden 1 1 y", TListLineVerdict::Refused, "", 0},
      {"alt/bin 1 1 y", TListLineVerdict::Refused, "", 0},
      {"alt\\bin 1 1 y", TListLineVerdict::Refused, "", 0},
      {std::string("alt.\x1b[2Jx 1 1 y"), TListLineVerdict::Refused, "", 0},
      {"GrpLst 1 1 y", TListLineVerdict::Refused, "", 0},
      {"grplst 1 1 y", TListLineVerdict::Refused, "", 0},
      {"alt.*.bin 1 1 y", TListLineVerdict::Refused, "", 0},
      {"alt,bin 1 1 y", TListLineVerdict::Refused, "", 0},
      {longName + " 1 1 y", TListLineVerdict::Refused, "", 0},  // never cut to another group's name
  };
  for (const FCase& c : cases) {
    FListLine out;
    const char* problem = nullptr;
    EXPECT_EQ(ParseListLine(c.line, out, problem), c.verdict) << c.line;
    EXPECT_EQ(problem != nullptr, c.verdict == TListLineVerdict::Refused) << c.line;
    if (c.verdict != TListLineVerdict::Stored) continue;
    EXPECT_EQ(out.name, c.name) << c.line;
    EXPECT_EQ(out.count, c.count) << c.line;
  }
}

TEST(GroupList, FirstListStoresNamesCountsAndMarksTheServer) {
  TListWorld w;
  TServer& a = w.AddServer("news.a");
  EXPECT_EQ(w.list->LastUpdate(a), 0) << "a server that never listed";
  EXPECT_EQ(w.Count(a, "alt.test"), 0u);
  const uint64_t generation = w.list->IndexGeneration();

  // Unsorted, with CR LF line ends, a line without numbers and leading empty lines.
  w.list->HandleListResponse(a, "\r\n\r\nalt.zzz 20 11 y\r\nalt.test 100 1 y\r\nmisc.test 5 9 y\r\nnonumbers\r\n",
                             false);
  EXPECT_EQ(w.list->GroupCount(), 3u);
  EXPECT_NE(w.list->IndexGeneration(), generation) << "new names make the rows stale";
  EXPECT_EQ(w.Count(a, "alt.test"), 100u);
  EXPECT_EQ(w.Count(a, "alt.zzz"), 10u);
  EXPECT_EQ(w.Count(a, "misc.test"), 1u);
  EXPECT_EQ(w.Carriers("alt.test"), 1u);
  EXPECT_FALSE(a.ServerGroupsDirty) << "only the final block marks the server";
  EXPECT_EQ(w.list->LastUpdate(a), 0) << "an unfinished list is fetched whole again";

  w.list->HandleListResponse(a, "comp.test 3 1 y", true);
  EXPECT_TRUE(a.ServerGroupsDirty);
  EXPECT_TRUE(w.list->GroupListsChanged);
  EXPECT_NEAR(w.list->LastUpdate(a), NowLocal(), 1.0 / 24);

  // Sequence numbers in insertion order: sorted within each block.
  FGroupHeader header;
  ASSERT_TRUE(w.list->FindGroup("alt.test", header));
  EXPECT_EQ(header.GroupId, 1u);
  ASSERT_TRUE(w.list->FindGroup("comp.test", header));
  EXPECT_EQ(header.GroupId, 4u);

  // The same after a restart: everything is on disk.
  w.Close();
  w.Open();
  EXPECT_EQ(w.Count(a, "alt.zzz"), 10u);
  EXPECT_EQ(w.list->GroupCount(), 4u);
}

TEST(GroupList, CarrierCountsFollowServersNotLines) {
  TListWorld w;
  TServer& a = w.AddServer("news.a");
  TServer& b = w.AddServer("news.b", 563);
  w.List(a, "alt.one 10 1 y\nalt.two 10 1 y\n");
  w.List(b, "alt.two 30 1 y\nalt.three 5 1 y\n");
  EXPECT_EQ(w.Carriers("alt.one"), 1u);
  EXPECT_EQ(w.Carriers("alt.two"), 2u);
  EXPECT_EQ(w.Count(a, "alt.two"), 10u);
  EXPECT_EQ(w.Count(b, "alt.two"), 30u);
  EXPECT_EQ(w.Count(a, "alt.three"), 0u);

  // "newgroups" since a time the server rounds down sends a group again, and a list may
  // name a group twice: the server still carries it once.
  w.List(b, "alt.three 6 1 y\nalt.three 7 1 y\n");
  w.List(b, "alt.three 8 1 y\n");
  EXPECT_EQ(w.Carriers("alt.three"), 1u);
  EXPECT_EQ(w.Count(b, "alt.three"), 8u);
}

TEST(GroupList, HostileLinesAreSkippedLoggedAndWriteNothingOutside) {
  TListWorld w;
  TServer& a = w.AddServer("news.a");
  // As sent on the wire, where a line's leading dot is doubled.
  std::string text = "alt.good 2 1 y\n.../../escape 1 1 y\nGrpLst 1 1 y\n/etc/passwd 1 1 y\n";
  for (int i = 0; i < 20; ++i) text += ".dot" + std::to_string(i) + " 1 1 y\n";
  text += std::string("alt.\x07\x1b[31mred 1 1 y\n");
  w.List(a, text);
  EXPECT_EQ(w.list->GroupCount(), 1u);
  EXPECT_EQ(w.Count(a, "alt.good"), 2u);
  EXPECT_TRUE(w.log.Contains("Skipped the newsgroup \"../../escape\""));
  EXPECT_TRUE(w.log.Contains("more newsgroups with unusable names")) << "a flood is summed up";
  EXPECT_FALSE(w.log.Contains("\x1b")) << "control characters never reach the log";
  // Only the index and the server's own directory exist in the data directory.
  std::vector<std::string> entries;
  for (const auto& e : std::filesystem::directory_iterator(w.dir)) entries.push_back(e.path().filename().string());
  for (const std::string& e : entries)
    EXPECT_TRUE(e.rfind("GrpLst.zev", 0) == 0 || e == "news.a.119" || e == "error.log") << e;
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(w.dir + "news.a.119"), {}), 1);
}

TEST(GroupList, CountFileReadsDamagedFilesAsZero) {
  TListWorld w;
  TServer& a = w.AddServer("news.a");
  w.List(a, "alt.a 5 1 y\nalt.b 6 1 y\nalt.c 7 1 y\n");
  const std::string path = w.CountFilePath(a);
  const TDateTime day = 45000.5;

  struct FCase {
    const char* what;
    std::string bytes;
    TDateTime lastUpdate;
    uint32_t a, b, c;  // alt.a, alt.b and alt.c have GroupIds 1, 2 and 3
  };
  std::string torn = CountFileBytes(day, {0, 11, 22});
  torn += std::string("\x33\x00", 2);
  const FCase cases[] = {
      {"complete", CountFileBytes(day, {0, 11, 22, 33}), day, 11, 22, 33},
      {"short: later slots are 0", CountFileBytes(day, {0, 11}), day, 11, 0, 0},
      {"a torn last slot", torn, day, 11, 22, 0},
      {"no slots", CountFileBytes(day, {}), day, 0, 0, 0},
      {"shorter than its date", "\x01\x02\x03", 0, 0, 0, 0},
      {"a date that is not a number", CountFileBytes(std::numeric_limits<double>::quiet_NaN(), {0, 1}), 0, 1, 0, 0},
      {"a date past 9999", CountFileBytes(1e12, {}), 0, 0, 0, 0},
      {"a negative date", CountFileBytes(-5, {}), 0, 0, 0, 0},
  };
  for (const FCase& c : cases) {
    zev::test::WriteFile(path, c.bytes);
    EXPECT_EQ(w.list->LastUpdate(a), c.lastUpdate) << c.what;
    EXPECT_EQ(w.Count(a, "alt.a"), c.a) << c.what;
    EXPECT_EQ(w.Count(a, "alt.b"), c.b) << c.what;
    EXPECT_EQ(w.Count(a, "alt.c"), c.c) << c.what;
  }

  // Writing into a damaged file keeps every slot in its place.
  zev::test::WriteFile(path, torn);
  w.list->SetArticleCount(a, "alt.c", 44);
  EXPECT_EQ(w.Count(a, "alt.b"), 22u);
  EXPECT_EQ(w.Count(a, "alt.c"), 44u);
  zev::test::WriteFile(path, "\x09\x09\x09");
  w.list->SetArticleCount(a, "alt.b", 5);
  EXPECT_EQ(w.list->LastUpdate(a), 0);
  EXPECT_EQ(w.Count(a, "alt.b"), 5u);
  EXPECT_EQ(zev::test::ReadFile(path).size(), 8u + 4 * 3);
}

TEST(GroupList, GroupRepliesSetCounts) {
  TListWorld w;
  TServer& a = w.AddServer("news.a");
  TServer& never = w.AddServer("news.never");
  w.List(a, "alt.one 10 1 y\n");
  w.List(w.AddServer("news.b"), "alt.two 10 1 y\n");

  w.list->SetArticleCount(a, "alt.one", 250);
  EXPECT_EQ(w.Count(a, "alt.one"), 250u);
  w.list->SetArticleCount(a, "alt.one", 0);
  EXPECT_EQ(w.Count(a, "alt.one"), 1u) << "an empty group is still carried";
  w.list->SetArticleCount(a, "alt.two", 7);
  EXPECT_EQ(w.Count(a, "alt.two"), 7u);
  EXPECT_EQ(w.Carriers("alt.two"), 2u);
  w.list->SetArticleCount(a, "alt.unknown", 7);
  EXPECT_EQ(w.Count(a, "alt.unknown"), 0u) << "names come into the index only from lists";

  w.list->SetArticleCount(never, "alt.one", 0);
  EXPECT_FALSE(std::filesystem::exists(w.CountFilePath(never))) << "nothing to store";
  EXPECT_EQ(w.list->LastUpdate(never), 0);
  w.list->SetArticleCount(never, "alt.one", 3);
  EXPECT_EQ(w.Count(never, "alt.one"), 3u);
  EXPECT_EQ(w.list->LastUpdate(never), 0) << "its first connection still downloads the whole list";

  // "411 no such group": the server no longer carries it.
  w.list->MarkNotCarried(a, "alt.one");
  EXPECT_EQ(w.Count(a, "alt.one"), 0u);
  EXPECT_EQ(w.Carriers("alt.one"), 1u) << "news.never still carries it";
}

TEST(GroupList, ServerGroupsOnlyForServersThatCarryTheGroup) {
  TListWorld w;
  TServer& a = w.AddServer("news.a");
  TServer& b = w.AddServer("news.b");
  w.AddServer("news.never");
  TGroup& one = w.Subscribe("alt.one");
  w.Subscribe("alt.two");
  w.List(a, "alt.one 10 1 y\nalt.two 10 1 y\n");
  w.List(b, "alt.two 10 1 y\n");
  w.serverGroups.BuildAll(w.servers, w.groups);
  EXPECT_EQ(w.serverGroups.Count(), 3u);
  EXPECT_EQ(w.serverGroups.CountForGroup(one, false), 1);

  // What the window's timer does after a list update.
  w.List(b, "alt.one 10 1 y\n");
  ASSERT_TRUE(b.ServerGroupsDirty.exchange(false));
  w.serverGroups.AddServer(b, w.groups);
  EXPECT_EQ(w.serverGroups.CountForGroup(one, false), 2);
}

TEST(GroupList, ForceCommandsChangeCarriersAndServerGroups) {
  TListWorld w;
  TServer& a = w.AddServer("news.a");
  TServer& b = w.AddServer("news.b");
  TGroup& group = w.Subscribe("alt.bin");
  w.List(a, "alt.bin 12 1 y\nalt.other 3 1 y\n");
  w.List(b, "alt.other 3 1 y\n");
  w.serverGroups.BuildAll(w.servers, w.groups);
  ASSERT_TRUE(w.serverGroups.FindOrCreate(a, group, false));
  a.ServerGroupsDirty = b.ServerGroupsDirty = false;

  EXPECT_TRUE(w.list->ForceCount(a, "alt.bin", 0));
  EXPECT_EQ(w.Count(a, "alt.bin"), 0u);
  EXPECT_EQ(w.Carriers("alt.bin"), 0u);
  EXPECT_FALSE(w.serverGroups.FindOrCreate(a, group, false)) << "its server-group goes";
  EXPECT_FALSE(w.list->ForceCount(a, "alt.bin", 0)) << "nothing to change";

  EXPECT_TRUE(w.list->ForceCount(b, "alt.bin", 1));
  EXPECT_EQ(w.Count(b, "alt.bin"), 1u);
  EXPECT_EQ(w.Carriers("alt.bin"), 1u);
  EXPECT_TRUE(b.ServerGroupsDirty) << "a subscribed group gets its server-group on the next tick";
  w.list->GroupListsChanged = false;
  EXPECT_TRUE(w.list->ForceCount(a, "alt.other", 0));
  EXPECT_TRUE(w.list->ForceCount(a, "alt.other", 1));
  EXPECT_FALSE(a.ServerGroupsDirty) << "not subscribed";
  EXPECT_FALSE(w.list->ForceCount(a, "alt.missing", 1));
}

TEST(GroupList, ReloadForgetsTheServersListAndAsksForItAgain) {
  TListWorld w;
  TServer& a = w.AddServer("news.a");
  TServer& b = w.AddServer("news.b");
  w.List(a, "alt.one 10 1 y\nalt.two 10 1 y\n");
  w.List(b, "alt.two 10 1 y\n");
  w.list->SetLastUpdate(a, 45000.25);
  a.CommandsChecked = 1;

  w.list->ForgetServer(a);
  EXPECT_FALSE(std::filesystem::exists(w.CountFilePath(a)));
  EXPECT_EQ(w.list->LastUpdate(a), 0) << "the next connection sends \"list\"";
  EXPECT_EQ(a.CommandsChecked, 0u) << "and the list step runs again in this run";
  EXPECT_EQ(w.Carriers("alt.one"), 0u);
  EXPECT_EQ(w.Carriers("alt.two"), 1u);
  EXPECT_EQ(w.Count(b, "alt.two"), 10u);
  EXPECT_EQ(w.list->GroupCount(), 2u) << "names stay in the index";

  w.List(a, "alt.one 10 1 y\n");
  EXPECT_EQ(w.Carriers("alt.one"), 1u);
  w.list->ForgetServer(w.AddServer("news.never"));
  EXPECT_EQ(w.Carriers("alt.one"), 1u);
}

TEST(GroupList, ServersWithoutHostStoreNothing) {
  TListWorld w;
  TServer& blank = w.AddServer("");
  w.List(blank, "alt.one 10 1 y\n");
  EXPECT_EQ(w.Count(blank, "alt.one"), 0u);
  EXPECT_EQ(w.list->LastUpdate(blank), 0);
  EXPECT_EQ(w.list->GroupCount(), 0u);
}

TEST(GroupList, ListsFromSeveralConnectionsAtOnce) {
  TListWorld w;
  std::vector<TServer*> servers;
  for (int s = 0; s < 4; ++s) servers.push_back(&w.AddServer("news." + std::to_string(s)));
  std::vector<std::thread> threads;
  for (int s = 0; s < 4; ++s)
    threads.emplace_back([&, s] {
      for (int block = 0; block < 5; ++block) {
        std::string text;
        for (int g = 0; g < 200; ++g) text += "alt.g" + std::to_string(block * 200 + g) + " 9 1 y\n";
        w.list->HandleListResponse(*servers[s], text, block == 4);
        w.list->SetArticleCount(*servers[s], "alt.g" + std::to_string(block), 2);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(w.list->GroupCount(), 1000u);
  EXPECT_EQ(w.Carriers("alt.g999"), 4u);
  for (TServer* s : servers) EXPECT_EQ(w.Count(*s, "alt.g999"), 9u);
  const TCheckReport report = w.list->CheckIndex();
  EXPECT_TRUE(report.Ok()) << report.Text();
}
