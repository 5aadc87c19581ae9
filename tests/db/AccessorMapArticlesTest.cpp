// The maps on the real article database: every entry that leaves a map takes exactly one
// reference off its article record, and automatic marking changes the stored records.
#include "db/AccessorMapArticles.h"

#include <gtest/gtest.h>

#include "MapTestUtil.h"
#include "db/Article.h"
#include "db/Expirer.h"
#include "db/NwsStore.h"

using namespace zev;

namespace {

class AccessorMapArticlesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store_.SetPath(world_.dir);
    store_.SetActive(true);
    expirer_ = std::make_unique<TExpirer>(world_.dir + "Expired.zev");
    gExpirer = expirer_.get();
    gArticle = &article_;
    gMapArticles = &access_;
  }
  void TearDown() override {
    gMapArticles = &world_.articles;  // the world puts back its own on destruction
    gArticle = nullptr;
    gExpirer = nullptr;
  }
  TArticleOffset New(const std::string& id) {
    TArticleLock lock(article_);
    TArticleOffset offset = 0;
    EXPECT_TRUE(article_.New(id, offset));
    article_.Write();
    return offset;
  }
  void AddReference(TArticleOffset offset) {
    TArticleLock lock(article_);
    ASSERT_TRUE(article_.Read(offset));
    article_.AdjustRefCount(1);
    article_.Write();
  }
  FMsgData Stored(TArticleOffset offset) {
    FMsgData r{};
    EXPECT_TRUE(access_.Read(offset, r));
    return r;
  }

  test::TMapWorld world_;
  TNewsStore store_{[] { return uint64_t{1} << 30; }};
  TArticle article_{store_};
  TAccessorMapArticles access_{article_, store_};
  std::unique_ptr<TExpirer> expirer_;
};

}  // namespace

TEST_F(AccessorMapArticlesTest, EntriesLeavingAMapDropTheirReference) {
  TServer& a = world_.AddServer("a");
  TServer& b = world_.AddServer("b");
  TGroup g(gnNewsgroup, "alt.test", nullptr);
  auto sa = world_.serverGroups.FindOrCreate(a, g, true);
  auto sb = world_.serverGroups.FindOrCreate(b, g, true);
  sa->AdjustServerFile(1, 6, false);
  sb->AdjustServerFile(1, 6, false);
  std::vector<TArticleOffset> offsets;
  for (int i = 1; i <= 6; ++i) offsets.push_back(New("part" + std::to_string(i) + "@example"));
  {
    TMapUse useA(*sa), useB(*sb);
    for (uint32_t n = 1; n <= 6; ++n) {
      sa->SetEntry(n, offsets[n - 1]);
      if (n <= 2) {
        sb->SetEntry(n, offsets[n - 1]);
        AddReference(offsets[n - 1]);
      }
    }
  }
  // Server a expired its first three articles; b still has 1 and 2.
  sa->AdjustServerFile(4, 8, false);
  EXPECT_EQ(Stored(offsets[0]).FRefCount, 1u);
  EXPECT_EQ(Stored(offsets[1]).FRefCount, 1u);
  EXPECT_EQ(Stored(offsets[2]).FRefCount, 0u) << "the last reference went";
  EXPECT_EQ(Stored(offsets[3]).FRefCount, 1u);
  // b's range starts anew: its references go too.
  sb->AdjustServerFile(100, 110, false);
  EXPECT_EQ(Stored(offsets[0]).FRefCount, 0u);
  EXPECT_EQ(Stored(offsets[1]).FRefCount, 0u);
}

TEST_F(AccessorMapArticlesTest, AutoMarkChangesTheStoredRecords) {
  TServer& a = world_.AddServer("a");
  TGroup g(gnNewsgroup, "alt.test", nullptr);
  auto sg = world_.serverGroups.FindOrCreate(a, g, true);
  sg->AdjustServerFile(1, 2, false);
  TArticleOffset one = New("one@example"), two = New("two@example");
  {
    TArticleLock lock(article_);
    ASSERT_TRUE(article_.Read(one));
    article_.SetNextPartLink(two);
    article_.SetDownloadDir("/wanted/");
    article_.Write();
    ASSERT_TRUE(article_.Read(two));
    article_.SetPrevPartLink(one);
    article_.SetPartNo(2);
    article_.SetPartTotal(2);
    article_.Write();
  }
  {
    TMapUse use(*sg);
    sg->SetEntry(1, one);
    sg->SetEntry(2, two);
    sg->AutoMarkFile(one, world_.queue);
  }
  EXPECT_EQ(world_.queue.items.size(), 2u);
  EXPECT_TRUE(HasFlag(Stored(one), afMarked));
  EXPECT_TRUE(HasFlag(Stored(two), afMarked));
  EXPECT_EQ(access_.DownloadDir(two), "/wanted/");
  EXPECT_EQ(access_.FirstPart(two), one);
  EXPECT_EQ(world_.queueIndex.ArtNo(a, g, two), 2u);
}
