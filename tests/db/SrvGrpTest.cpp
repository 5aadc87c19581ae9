#include "db/SrvGrp.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "MapTestUtil.h"
#include "core/Error.h"
#include "db/GroupFileName.h"
#include "db/OffsMapFile.h"

using namespace zev;
using zev::test::ReadFile;
using zev::test::TMapWorld;
using zev::test::WriteFile;

namespace {

std::string Bytes(std::initializer_list<uint32_t> values) {
  std::string s;
  for (uint32_t v : values)
    for (int b = 0; b < 4; ++b) s += static_cast<char>(v >> (8 * b));
  return s;
}

struct FPairFixture : TMapWorld {
  FPairFixture() : server(AddServer("news.example.net")), group(gnNewsgroup, "alt.binaries.test", nullptr) {}
  TSrvGrp& Pair() { return *serverGroups.FindOrCreate(server, group, true); }
  std::string MapPath() { return dir + "news.example.net.119/alt.binaries.test.zev"; }
  // A map of first..last whose entries are offsets 1000 + number (each an article with one
  // reference) where `withArticles`, markers 1 elsewhere.
  void StoreMap(uint32_t first, uint32_t last) {
    std::vector<uint32_t> map{first};
    for (uint32_t n = first; n <= last; ++n) {
      bool article = n % 3 != 0;
      map.push_back(article ? 1000 + n : mmMissing);
      if (article) articles.Add(1000 + n);
    }
    std::filesystem::create_directories(dir + "news.example.net.119");
    WriteMapFile(MapPath(), map);
  }
  std::vector<uint32_t> Stored() {
    std::vector<uint32_t> v;
    ReadMapFile(MapPath(), v);
    return v;
  }
  std::string Pending() {
    std::string s;
    for (const FArticleRange& r : Pair().PendingRanges().Ranges())
      s += "(" + std::to_string(r.start) + "," + std::to_string(r.count) + ")";
    return s;
  }
  TServer& server;
  TGroup group;
};

}  // namespace

TEST(SrvGrp, AdjustmentTable) {
  struct FCase {
    const char* what;
    uint32_t oldFirst, oldLast;  // 0, 0: no map file
    uint32_t serverLimit, groupLimit;  // 0: no limit
    uint8_t refreshKind;
    uint32_t newFirst, newLast;
    bool extend;
    uint32_t first;
    size_t values;
    const char* pending;
    size_t releases;
  } cases[] = {
      {"new map, server limit", 0, 0, 300, 0, rkPlain, 1000, 1999, false, 1700, 301, "(1700,300)", 0},
      {"group limit lower", 0, 0, 300, 50, rkPlain, 1000, 1999, false, 1950, 51, "(1950,50)", 0},
      {"group limit alone", 0, 0, 0, 50, rkPlain, 1000, 1999, false, 1950, 51, "(1950,50)", 0},
      {"expired at the front", 1700, 1999, 300, 0, rkPlain, 1800, 2050, false, 1800, 252, "(2000,51)", 67},
      {"no overlap: rebuild", 1700, 1999, 0, 0, rkPlain, 1, 5, false, 1, 6, "(1,5)", 200},
      {"start moved back: rebuild", 100, 199, 0, 0, rkPlain, 50, 250, false, 50, 202, "(50,201)", 67},
      {"new at the end", 10, 19, 0, 0, rkXpat, 10, 25, false, 10, 17, "(20,6)", 0},
      {"unchanged", 10, 19, 0, 0, rkPlain, 10, 19, false, 10, 11, "", 0},
      {"older ones wanted", 100, 199, 0, 0, rkPlain, 50, 180, true, 50, 132, "(50,50)", 13},
      {"older ones, XPAT", 100, 199, 0, 0, rkXpat, 50, 180, true, 50, 132, "", 13},
      {"extend, shorter", 100, 199, 0, 0, rkPlain, 100, 150, true, 100, 101, "", 0},
      {"extend, shrink both ends", 100, 199, 0, 0, rkPlain, 120, 150, true, 120, 32, "", 47},
      {"extend, no overlap", 100, 199, 0, 0, rkPlain, 300, 310, true, 300, 12, "(300,11)", 67},
      {"group emptied", 100, 199, 0, 0, rkPlain, 200, 199, false, 200, 1, "", 67},
      {"new map, XPAT", 0, 0, 0, 0, rkXpat, 1, 10, false, 1, 11, "", 0},
  };
  for (const FCase& c : cases) {
    FPairFixture f;
    if (c.oldLast) f.StoreMap(c.oldFirst, c.oldLast);
    f.server.SetFlag(sfHeaderLimit, c.serverLimit != 0);
    f.server.MaxHeaders = c.serverLimit;
    f.group.SetFlag(gfHeaderLimit, c.groupLimit != 0);
    f.group.MaxHeaders = c.groupLimit;
    TSrvGrp& sg = f.Pair();
    sg.RefreshKind = c.refreshKind;
    sg.AdjustServerFile(c.newFirst, c.newLast, c.extend);

    std::vector<uint32_t> map = f.Stored();
    ASSERT_EQ(map.size(), c.values) << c.what;
    EXPECT_EQ(map[0], c.first) << c.what;
    EXPECT_EQ(f.Pending(), c.pending) << c.what;
    EXPECT_EQ(f.articles.released.size(), c.releases) << c.what;
    EXPECT_EQ(f.articles.flushes, c.releases ? 1 : 0) << c.what;
    // Every entry still in the map names its own article number; new ones are unfetched.
    for (size_t i = 1; i < map.size(); ++i) {
      uint32_t n = map[0] + static_cast<uint32_t>(i) - 1;
      uint32_t v = map[i];
      EXPECT_TRUE(v == mmNotFetched || v == mmMissing || v == 1000 + n) << c.what << " number " << n << ": " << v;
    }
    // No article keeps a reference from an entry that left the map.
    for (TArticleOffset released : f.articles.released)
      EXPECT_EQ(std::count(map.begin() + 1, map.end(), released), 0) << c.what;
    EXPECT_TRUE(sg.IsUnused()) << c.what;
  }
}

TEST(SrvGrp, ExpiredFrontKeepsEntriesInPlace) {
  FPairFixture f;
  f.StoreMap(1700, 1999);
  f.server.Include(sfHeaderLimit);
  f.server.MaxHeaders = 300;
  f.Pair().AdjustServerFile(1800, 2050, false);
  std::vector<uint32_t> map = f.Stored();
  EXPECT_EQ(map[1], mmMissing) << "1800 was missing on the server";
  EXPECT_EQ(map[2], 1000u + 1801) << "the kept entries moved down by 100";
  EXPECT_EQ(map[200], 1000u + 1999);
  EXPECT_EQ(map[201], 0u);
  EXPECT_EQ(map[251], 0u);
}

TEST(SrvGrp, HugeRangesAreCappedAndLogged) {
  FPairFixture f;
  gMaxMapEntries = 1000;
  f.Pair().AdjustServerFile(1, 4294967295u, false);
  gMaxMapEntries = kMaxMapEntries;
  std::vector<uint32_t> map = f.Stored();
  EXPECT_EQ(map.size(), 1001u);
  EXPECT_EQ(map[0], 4294967295u - 999);
  EXPECT_EQ(f.Pending(), "(4294966296,1000)");
  EXPECT_TRUE(f.log.Contains("only the newest 1000 are kept"));
}

TEST(SrvGrp, MapFilesAreReadWhateverTheyHold) {
  struct FCase {
    std::string bytes;
    bool loads;
    uint32_t first, last, count;
  } cases[] = {
      {Bytes({500, 12345}), true, 500, 500, 1},
      {Bytes({500, 12345}) + "\x01\x02\x03", true, 500, 500, 1},  // a torn tail is ignored
      {Bytes({7}), true, 7, 0, 0},
      {"", false, 0, 0, 0},
      {Bytes({4294967295u, 20, 21, 22}), true, 4294967295u, 4294967295u, 1},  // cut at the last number
  };
  for (const FCase& c : cases) {
    FPairFixture f;
    std::filesystem::create_directories(f.dir + "news.example.net.119");
    WriteFile(f.MapPath(), c.bytes);
    TSrvGrp& sg = f.Pair();
    EXPECT_EQ(sg.LoadOffsMap(), c.loads);
    EXPECT_EQ(sg.FirstArtNo(), c.first);
    EXPECT_EQ(sg.LastArtNo(), c.last);
    EXPECT_EQ(sg.ArtCount(), c.count);
    EXPECT_EQ(sg.GetEntry(c.first + 1), 0u);
    sg.SetEntry(c.first + 1, 99);  // outside: ignored
    sg.ReleaseOffsMap();
    EXPECT_EQ(ReadFile(f.MapPath()), c.bytes) << "nothing changed, nothing written";
  }
  FPairFixture f;
  f.StoreMap(500, 500);
  TSrvGrp& sg = f.Pair();
  ASSERT_TRUE(sg.LoadOffsMap());
  EXPECT_EQ(sg.GetEntry(500), 1500u);
  EXPECT_EQ(sg.GetEntry(501), 0u);
  sg.ReleaseOffsMap();
}

TEST(SrvGrp, OversizedAndUnreadableFilesLeaveTheMapEmpty) {
  FPairFixture f;
  gMaxMapEntries = 4;
  f.StoreMap(1, 10);
  EXPECT_FALSE(f.Pair().LoadOffsMap());
  f.Pair().ReleaseOffsMap();
  gMaxMapEntries = kMaxMapEntries;
  EXPECT_TRUE(f.log.Contains("is ignored"));

  std::filesystem::remove(f.MapPath());
  std::filesystem::create_directories(f.MapPath());  // a directory where the file should be
  EXPECT_FALSE(f.Pair().LoadOffsMap());
  f.Pair().ReleaseOffsMap();
  EXPECT_TRUE(f.log.Contains("TSrvGrp.LoadOffsMap"));
}

TEST(SrvGrp, SavingReplacesTheFileAndALastReleaseSaves) {
  FPairFixture f;
  f.StoreMap(1, 10);
  struct stat before {};
  stat(f.MapPath().c_str(), &before);
  TSrvGrp& sg = f.Pair();
  {
    TMapUse outer(sg);
    TMapUse inner(sg);
    sg.SetEntry(3, 4242);
  }
  EXPECT_TRUE(sg.IsUnused());
  struct stat after {};
  stat(f.MapPath().c_str(), &after);
  EXPECT_NE(before.st_ino, after.st_ino) << "written beside and renamed, never truncated in place";
  EXPECT_EQ(f.Stored()[3], 4242u) << "the change was not lost with the memory";
}

TEST(SrvGrp, ReleasingAllArticlesDropsEveryReference) {
  FPairFixture f;
  f.StoreMap(1, 9);
  TSrvGrp& sg = f.Pair();
  TMapUse use(sg);
  EXPECT_TRUE(sg.ReleaseAllArticles());
  EXPECT_EQ(f.articles.released.size(), 6u);
  for (uint32_t n = 1; n <= 9; ++n) EXPECT_EQ(sg.GetEntry(n), 0u);
  EXPECT_FALSE(sg.ReleaseAllArticles()) << "nothing left to drop";
}

TEST(SrvGrp, HostileGroupNamesNeverBecomeFiles) {
  for (const char* name : {"../escape", "a/b", "a\\b", ".hidden", "..", "", "bad\nname", "tab\tname", "GrpLst",
                           "grplst"}) {
    EXPECT_NE(GroupFileNameProblem(name), nullptr) << name;
  }
  for (const char* name : {"alt.binaries.test", "GrpLst2", "comp.lang.c++", "de.alt.bin\xC3\xA4r"})
    EXPECT_EQ(GroupFileNameProblem(name), nullptr) << name;
  EXPECT_NE(GroupFileNameProblem(std::string(252, 'a')), nullptr) << "no room for the extension";

  TMapWorld w;
  TServer& server = w.AddServer("h");
  TGroup evil(gnNewsgroup, "../../outside\n", nullptr);
  TSrvGrp sg(&server, &evil);
  EXPECT_EQ(sg.MapFileName(), "");
  sg.AdjustServerFile(1, 10, false);
  EXPECT_EQ(sg.ArtCount(), 0u);
  EXPECT_TRUE(w.log.Contains("cannot be used as a file name"));
  EXPECT_TRUE(w.log.Contains("outside\\x0A")) << "control characters are shown, not written";
  size_t files = 0;
  for (auto& e : std::filesystem::recursive_directory_iterator(w.dir)) files += e.is_regular_file();
  EXPECT_EQ(files, 1u) << "only the error log";
  EXPECT_FALSE(std::filesystem::exists(w.dir + "../outside"));
}

TEST(SrvGrp, ReadRangesListsReadArticlesAsRuns) {
  FPairFixture f;
  std::vector<uint32_t> map{1};
  for (uint32_t n = 1; n <= 7; ++n) {
    FMsgData& r = f.articles.Add(100 + n);
    if (n == 1 || n == 2 || n == 3 || n == 5 || n == 7) SetFlag(r, afRead);
    map.push_back(n == 7 ? mmMissing : 100 + n);
  }
  std::filesystem::create_directories(f.dir + "news.example.net.119");
  WriteMapFile(f.MapPath(), map);
  EXPECT_EQ(f.Pair().ReadRanges(), "1-3,5");
}

TEST(SrvGrp, ReverseMapAndRefreshState) {
  FPairFixture f;
  TSrvGrp& sg = f.Pair();
  sg.SetReverse(5000, 42);
  sg.SetReverse(17, 7);
  EXPECT_EQ(sg.GetReverse(5000), 42u);
  sg.SetReverse(5000, 0);
  EXPECT_EQ(sg.GetReverse(5000), 0u);
  sg.SetReverse(6000, 0);
  EXPECT_FALSE(sg.HoldsArticle(6000));
  f.StoreMap(1, 3);
  EXPECT_GT(sg.GetLastRefresh(), 0) << "the map file's time";
  sg.Validated = true;
  sg.ResetState();
  EXPECT_FALSE(sg.Validated);
  EXPECT_EQ(sg.GetReverse(17), 0u);
  EXPECT_THROW(TSrvGrp(nullptr, &f.group), EZevError);
}

TEST(SrvGrp, TheMapStaysUsableWhileTheArticleLockIsHeld) {
  // The queue holds the article lock while it looks at maps; dropping references takes
  // that lock. With the map lock held across Expire the two would wait for each other.
  FPairFixture f;
  TSrvGrp& sg = f.Pair();
  std::atomic<bool> stop{false};
  std::thread queue([&] {
    while (!stop) {
      std::lock_guard article(f.articles.articleLock);
      TMapUse use(sg);
      sg.GetEntry(sg.FirstArtNo());
    }
  });
  for (uint32_t round = 0; round < 60; ++round) {
    {
      TMapUse use(sg);
      for (uint32_t n = sg.FirstArtNo(); n <= sg.LastArtNo(); ++n) {
        std::lock_guard article(f.articles.articleLock);
        f.articles.Add(100000 + n);
        sg.SetEntry(n, 100000 + n);
      }
    }
    sg.AdjustServerFile(round * 10 + 1, round * 10 + 20, false);
  }
  stop = true;
  queue.join();
  EXPECT_GT(f.articles.released.size(), 500u);
}
