// The news store, the expiry list and the phantom list.
#include <gtest/gtest.h>

#include "core/Config.h"
#include "core/Error.h"
#include "core/ZevIniFile.h"
#include "db/Article.h"
#include "db/Expirer.h"
#include "db/NwsStore.h"
#include "db/Phantoms.h"
#include "DbTestUtil.h"

using namespace zev;

namespace {

constexpr uint64_t MiB = 1 << 20;

TEST(NewsStore, PathChangesOnlyWhileClosed) {
  std::string dir = test::ScratchDir();
  TNewsStore store;
  store.SetPath(dir);
  store.SetActive(true);
  for (const char* name : {"MsgLst.zev", "AuthLst.zev", "SubjLst.zev", "FileLst.zev", "DirLst.zev"})
    EXPECT_TRUE(test::FileExists(dir + name)) << name;
  EXPECT_THROW(store.SetPath(dir + "other/"), EZevError);
  EXPECT_EQ(store.Path(), dir);
  store.SetActive(false);
  store.SetPath(dir + "other");
  EXPECT_EQ(store.Path(), dir + "other/");
}

TEST(NewsStore, ListFilesAreDeletedForARebuild) {
  std::string dir = test::ScratchDir();
  TNewsStore store;
  store.SetPath(dir);
  store.SetActive(true);
  store.Phantoms()->Add(0x7FB3);
  store.SetActive(false);
  test::WriteBytes(dir + "Expired.zev", {1, 2, 3, 4});
  test::WriteBytes(dir + "MsgLst.log", {1});
  store.DeleteListFiles();
  store.DeleteLogFiles();
  for (const char* name : {"AuthLst.zev", "SubjLst.zev", "FileLst.zev", "DirLst.zev", "Expired.zev", "Phantoms.zev",
                           "MsgLst.log"})
    EXPECT_FALSE(test::FileExists(dir + name)) << name;
  EXPECT_TRUE(test::FileExists(dir + "MsgLst.zev"));
}

TEST(NewsStore, RecommendedCacheSizes) {
  std::string dir = test::ScratchDir();
  uint64_t memory = 0;
  TNewsStore store([&] { return memory; });
  store.SetPath(dir);
  struct TCase {
    uint64_t memory;
    int kind;
    uint64_t listSize;  // of the subject list on disk
    int64_t expected;
  };
  const TCase cases[] = {
      {32 * MiB, ckArticles, 0, 2097152},
      {1024 * MiB, ckArticles, 0, 32 * MiB + 262144},
      {1024 * MiB, ckSubjects, 20 * MiB, 16 * MiB + 262144},  // capped at a 64th of memory
      {1024 * MiB, ckSubjects, 10 * MiB, 10 * MiB + 262144},
      {1024 * MiB, ckSubjects, 1 * MiB, 4 * MiB + 262144},
      {1024 * MiB, ckGroupLists, 0, 4194304},
      {256ull << 30, ckArticles, 0, TNewsStore::kMaxCacheSize},  // never negative or 0
      {0, ckAuthors, 0, 262144},                                  // memory unknown
  };
  for (const TCase& c : cases) {
    memory = c.memory;
    test::WriteBytes(dir + "SubjLst.zev", {});
    std::filesystem::resize_file(dir + "SubjLst.zev", c.listSize);
    EXPECT_EQ(store.RecommendedCacheSize(c.kind), c.expected) << c.memory << " kind " << c.kind;
  }
}

TEST(Expirer, BuffersAndReads) {
  std::string path = test::ScratchDir() + "Expired.zev";
  {
    TExpirer expirer(path);
    for (uint32_t i = 1; i <= 4097; ++i) {
      expirer.Add(1000 + i);
      if (i == 4095) {
        EXPECT_EQ(std::filesystem::file_size(path), 0u);
      }
      if (i == 4096) {
        EXPECT_EQ(std::filesystem::file_size(path), 4096u * 4);
      }
    }
  }
  EXPECT_EQ(std::filesystem::file_size(path), 4097u * 4);
  TExpirer expirer(path);
  EXPECT_THROW(expirer.Next(), EZevError);
  expirer.BeginRead();
  uint32_t expected = 1001, n = 0;
  for (TArticleOffset o; (o = expirer.Next()) != 0; ++n) EXPECT_EQ(o, expected++);
  EXPECT_EQ(n, 4097u);
  expirer.Add(5);  // added during a run: kept for the next one
  expirer.EndRead();
  EXPECT_THROW(expirer.EndRead(), EZevError);
  EXPECT_EQ(expirer.Count(), 1u);
  expirer.Clear();
  EXPECT_EQ(expirer.Count(), 0u);
}

TEST(Expirer, EmptyListLeavesNoFile) {
  std::string path = test::ScratchDir() + "Expired.zev";
  { TExpirer expirer(path); }
  EXPECT_FALSE(test::FileExists(path));
}

TEST(Phantoms, SortedUniqueAndScanned) {
  std::string dir = test::ScratchDir();
  TNewsStore store;
  store.SetPath(dir);
  store.SetActive(true);
  TArticle art(store);
  TExpirer expirer(dir + "Expired.zev");
  gExpirer = &expirer;
  TArticleOffset keep, drop;
  art.New("marked@x", keep);
  art.Include(afMarked);
  art.New("unmarked@x", drop);
  art.Clear();
  TPhantomList& list = *store.Phantoms();
  for (TArticleOffset o : {drop, keep, drop, 16u, 0u}) list.Add(o);
  EXPECT_EQ(list.Offsets(), (std::vector<TArticleOffset>{std::min(keep, drop), std::max(keep, drop)}));
  TPhantomList reloaded(dir + "Phantoms.zev");
  EXPECT_EQ(reloaded.Offsets(), list.Offsets());
  list.Scan(art);
  EXPECT_EQ(list.Offsets(), std::vector<TArticleOffset>{keep});
  EXPECT_EQ(TPhantomList(dir + "Phantoms.zev").Offsets(), std::vector<TArticleOffset>{keep});
  EXPECT_EQ(expirer.Count(), 1u);
  gExpirer = nullptr;
}

TEST(Phantoms, HostileFileIsTidied) {
  std::string path = test::ScratchDir() + "Phantoms.zev";
  test::WriteBytes(path, {0x00, 0x80, 0, 0, 5, 0, 0, 0, 0x00, 0x70, 0, 0, 0x00, 0x80, 0, 0, 9});
  EXPECT_EQ(TPhantomList(path).Offsets(), (std::vector<TArticleOffset>{0x7000, 0x8000}));
}

}  // namespace

namespace {

TEST(NewsStore, AutoSizeCachesUnlessManual) {
  TZevIniFile ini(test::ScratchDir() + "Zev2.ini");
  TConfig config(ini);
  TNewsStore store([] { return uint64_t{1} << 30; });
  store.SetPath(test::ScratchDir());
  store.AutoSizeCaches(config);
  EXPECT_EQ(config.MsgCacheSize, 32 * MiB + 262144);
  EXPECT_EQ(config.GrpCacheSize, 4194304);
  config.MsgCacheSize = 123;
  config.Include(cfManualCacheSizes);
  store.AutoSizeCaches(config);
  EXPECT_EQ(config.MsgCacheSize, 123);
}

}  // namespace
