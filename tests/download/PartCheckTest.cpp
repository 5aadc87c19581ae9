// The part check over a real article database: parts in any order become one linked,
// complete file; sizes tell reposts apart; read states; chains; eviction and expiry.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "../core/TestUtil.h"
#include "core/Config.h"
#include "core/ZevIniFile.h"
#include "db/Article.h"
#include "db/NwsStore.h"
#include "db/PartCheckHook.h"
#include "download/PartCheck.h"

namespace zev {
namespace {

struct FPartPlan {
  uint16_t no, total;
  uint32_t size;
  bool read = false;
};

class PartCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::ScratchDir();
    store_.SetPath(dir_);
    store_.SetCacheSizes({1 << 20, 1 << 18, 1 << 18, 1 << 18});
    store_.SetActive(true);
    article_ = std::make_unique<TArticle>(store_);
    gArticle = article_.get();
    gNewsStore = &store_;
    check_ = std::make_unique<TPartCheck>(store_, *article_);
  }
  void TearDown() override {
    gPartCheckHook = nullptr;
    check_.reset();
    article_.reset();
    gArticle = nullptr;
    gNewsStore = nullptr;
    gConfig = nullptr;
  }

  TArticleOffset MakePart(const std::string& id, const FPartPlan& p, const std::string& name = "movie.mkv",
                          const std::string& subject = "\x03 - \x04") {
    TArticleLock lock(*article_);
    TArticleOffset offset = 0;
    EXPECT_TRUE(article_->New(id, offset));
    FMsgData& r = article_->Data();
    r.FPartNo = p.no;
    r.FPartTotal = p.total;
    r.FPartSize = p.size;
    r.FFlags = FlagBit(afMultiPart) | (p.read ? FlagBit(afRead) : 0);
    article_->MarkDirty();
    article_->SetSubject(subject);
    article_->SetFileName(name);
    article_->Write();
    article_->Clear();
    return offset;
  }

  bool Arrive(TArticleOffset offset) {
    TArticleLock lock(*article_);
    article_->Read(offset);
    bool complete = check_->CheckItem(offset, false);
    article_->Clear();
    return complete;
  }

  FMsgData Record(TArticleOffset offset) {
    FMsgData r{};
    store_.MsgLst()->ReadRecord(offset, &r);
    return r;
  }

  // The parts form one chain 1 -> ... -> T both ways, all but the last hidden.
  void ExpectLinkedComplete(const std::vector<TArticleOffset>& parts, uint32_t fileSize) {
    for (size_t i = 0; i < parts.size(); ++i) {
      SCOPED_TRACE("part " + std::to_string(i + 1));
      FMsgData r = Record(parts[i]);
      EXPECT_TRUE(HasFlag(r, afGoodParts));
      EXPECT_FALSE(HasFlag(r, afBadParts));
      EXPECT_EQ(HasFlag(r, afHideIfCombined), i + 1 < parts.size());
      EXPECT_EQ(r.FPrevPart, i == 0 ? 0 : parts[i - 1]);
      EXPECT_EQ(r.FNextPart, i + 1 == parts.size() ? 0 : parts[i + 1]);
      EXPECT_EQ(r.FFileSize, fileSize);
    }
  }

  std::string dir_;
  TNewsStore store_;
  std::unique_ptr<TArticle> article_;
  std::unique_ptr<TPartCheck> check_;
};

// Four parts of 1,000,000 bytes with a last part of 400,000, in every arrival order.
TEST_F(PartCheckTest, PartsInAnyOrderBecomeOneCompleteFile) {
  std::vector<int> order{0, 1, 2, 3};
  int run = 0;
  do {
    SCOPED_TRACE("order " + std::to_string(order[0] + 1) + std::to_string(order[1] + 1) +
                 std::to_string(order[2] + 1) + std::to_string(order[3] + 1));
    std::vector<TArticleOffset> parts;
    const std::string name = "file" + std::to_string(run++) + ".rar";
    for (uint16_t no = 1; no <= 4; ++no)
      parts.push_back(MakePart(name + "-part" + std::to_string(no) + "@x", {no, 4, no == 4 ? 400000u : 1000000u}, name));
    for (size_t k = 0; k < order.size(); ++k) {
      const bool complete = Arrive(parts[order[k]]);
      EXPECT_EQ(complete, k + 1 == order.size());
      if (!complete) {
        EXPECT_TRUE(HasFlag(Record(parts[order[k]]), afBadParts));
      }
    }
    ExpectLinkedComplete(parts, 3400000);
  } while (std::next_permutation(order.begin(), order.end()));
  EXPECT_EQ(check_->FilesCompleted(), 24u);
  EXPECT_EQ(check_->OpenMaps(), 0u);
}

// Two posts of the same name and subject whose parts differ by more than 1/32 in size
// arrive interleaved: each becomes its own file.
TEST_F(PartCheckTest, SizesKeepRepostsApart) {
  std::vector<TArticleOffset> a, b;
  for (uint16_t no = 1; no <= 3; ++no) {
    a.push_back(MakePart("post-a" + std::to_string(no) + "@example", {no, 3, 500000}));
    b.push_back(MakePart("post-b" + std::to_string(no) + "@example", {no, 3, 600000}));
  }
  for (int i : {2, 0, 1}) {
    Arrive(a[i]);
    Arrive(b[i]);
  }
  ExpectLinkedComplete(a, 1500000);
  ExpectLinkedComplete(b, 1800000);
}

TEST_F(PartCheckTest, ArticlesOutsideMultiPartFilesAreLeftAlone) {
  struct FCase {
    const char* what;
    FPartPlan plan;
    bool multiPart;
  } cases[] = {
      {"single part", {1, 1, 1000}, true},
      {"description part 0", {0, 5, 1000}, true},
      {"part beyond its total", {9, 5, 1000}, true},
      {"not flagged multi-part", {1, 5, 1000}, false},
  };
  int n = 0;
  for (const FCase& c : cases) {
    SCOPED_TRACE(c.what);
    TArticleOffset offset = MakePart("odd" + std::to_string(n++) + "@x", c.plan);
    if (!c.multiPart) {
      TArticleLock lock(*article_);
      article_->Read(offset);
      article_->Exclude(afMultiPart);
      article_->Write();
      article_->Clear();
    }
    FMsgData before = Record(offset);
    EXPECT_FALSE(Arrive(offset));
    FMsgData after = Record(offset);
    EXPECT_EQ(0, std::memcmp(&before, &after, sizeof before));
  }
  EXPECT_EQ(check_->MapsCreated(), 0u);
}

// A complete file whose parts were read and unread at once: configuration Flags bit 10
// makes all parts read, without it all become unread; a recheck leaves them alone.
TEST_F(PartCheckTest, CompleteFileGetsOneReadState) {
  TZevIniFile ini("");
  TConfig config(ini);
  gConfig = &config;
  struct FCase {
    bool allPartsNewRule;
    bool viaRecheck;
    bool expectRead[2];
  } cases[] = {
      {true, false, {true, true}},
      {false, false, {false, false}},
      {true, true, {true, false}},
  };
  int n = 0;
  for (const FCase& c : cases) {
    SCOPED_TRACE(n);
    if (c.allPartsNewRule) config.Include(cfNewWhenAllPartsNew);
    else config.Exclude(cfNewWhenAllPartsNew);
    const std::string name = "read" + std::to_string(n++) + ".bin";
    TArticleOffset p1 = MakePart(name + "1@x", {1, 2, 1000, true}, name);
    TArticleOffset p2 = MakePart(name + "2@x", {2, 2, 1000, false}, name);
    if (c.viaRecheck) {
      Arrive(p1);
      TPartCheck fresh(store_, *article_);
      fresh.RecheckChain(p1);
      fresh.RecheckChain(p2);
      EXPECT_TRUE(HasFlag(Record(p2), afGoodParts));
    } else {
      Arrive(p1);
      EXPECT_TRUE(Arrive(p2));
    }
    EXPECT_EQ(HasFlag(Record(p1), afRead), c.expectRead[0]);
    EXPECT_EQ(HasFlag(Record(p2), afRead), c.expectRead[1]);
  }
}

// An expired part leaves its map, and a repost of that part completes the file.
TEST_F(PartCheckTest, ExpiredPartIsForgottenAndRepostCompletesFile) {
  gPartCheckHook = check_.get();
  std::vector<TArticleOffset> parts;
  for (uint16_t no = 1; no <= 3; ++no) parts.push_back(MakePart("expiring" + std::to_string(no) + "@example", {no, 3, 2000}));
  Arrive(parts[0]);
  Arrive(parts[1]);
  {
    TArticleLock lock(*article_);
    EXPECT_TRUE(article_->Expire(parts[1]));
  }
  EXPECT_FALSE(Arrive(parts[2]));
  parts[1] = MakePart("e2-repost@x", {2, 3, 2000});
  EXPECT_TRUE(Arrive(parts[1]));
  ExpectLinkedComplete(parts, 6000);
}

// A chain whose links loop (damaged database) ends the walk after the part count.
TEST_F(PartCheckTest, RecheckOfLoopingChainEnds) {
  TArticleOffset a = MakePart("loop1@x", {1, 3, 100});
  TArticleOffset b = MakePart("loop2@x", {2, 3, 100});
  store_.AddFlagsSetNextPart(a, 0, b);
  store_.SetPrevPart(a, b);
  store_.AddFlagsSetNextPart(b, 0, a);
  store_.SetPrevPart(b, a);
  check_->RecheckChain(a);
  EXPECT_LE(check_->OpenMaps(), 2u);
}

// Files that never complete cannot grow the index beyond its budget.
TEST_F(PartCheckTest, IncompleteFilesAreEvictedOverBudget) {
  check_ = std::make_unique<TPartCheck>(store_, *article_, 2048);
  for (int f = 0; f < 200; ++f) {
    const std::string name = "never" + std::to_string(f) + ".bin";
    Arrive(MakePart(name + "@x", {1, 50, 1000}, name));
  }
  EXPECT_GT(check_->MapsEvicted(), 0u);
  EXPECT_LE(check_->OpenEntries(), 2048u + 51u);
  // A file touched recently still completes after others were evicted.
  const std::string name = "late.bin";
  std::vector<TArticleOffset> parts;
  for (uint16_t no = 1; no <= 2; ++no) parts.push_back(MakePart(name + std::to_string(no) + "@x", {no, 2, 10}, name));
  Arrive(parts[0]);
  EXPECT_TRUE(Arrive(parts[1]));
}

}  // namespace
}  // namespace zev
