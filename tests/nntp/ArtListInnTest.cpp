// Header retrieval against a real server: INN 2.7 on loopback (scripts/inn-lab.sh), filled
// with a few thousand generated multi-part yEnc posts. A refresh must store every posted
// part and link each file's parts into one complete chain. Needs root (INN is installed
// and run as root); skipped without it, except in CI, where it must run.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "ArtListHarness.h"
#include "ArticleGenerator.h"
#include "GenerateRequest.h"
#include "InnLab.h"

namespace zev::test {
namespace {

const char* const kGroup = "zevrin.test.binaries.yenc";
const char* const kContent = "standard:files=300,file-size=60000,part-size=4000,texts=10";

const ::testing::Environment* const kInn = ::testing::AddGlobalTestEnvironment(
    new testserver::TInnLabEnvironment("artlist", std::string("--seed 7 --generate ") + kContent));

testserver::FInnLab& Lab() { return testserver::InnLab(); }

class ArtListInnTest : public TArtListHarness {
 protected:
  void SetUp() override {
    if (!Lab().ready) GTEST_SKIP() << Lab().skipReason;
    TArtListHarness::SetUp();
    // What the feeder posted, made again from the same seed.
    testserver::TArticleStore posted;
    testserver::TArticleGenerator generator(posted, 7);
    testserver::FGenerateRequest request;
    std::string error;
    ASSERT_TRUE(testserver::ParseGenerate(kContent, request, error)) << error;
    testserver::GenerateContent(generator, request);
    for (const auto& file : generator.Manifest().files) {
      if (std::find(file.groups.begin(), file.groups.end(), kGroup) == file.groups.end()) continue;
      size_t parts = 0;
      for (const auto& part : file.parts) parts += part.posted;
      posted_ += parts;
      if (file.broken.empty() && file.parts.size() > 1) files_[file.name] = static_cast<uint32_t>(file.parts.size());
    }
  }

  size_t posted_ = 0;
  std::map<std::string, uint32_t> files_;  // complete multi-part files: name -> parts
};

TEST_F(ArtListInnTest, RefreshStoresEveryPartAndLinksCompleteFiles) {
  AddServer(ServerFlagBit(sfChunks), 2, Lab().port);
  server_->ChunkSize = 1000;
  TGroup& group = Subscribe(kGroup);
  ASSERT_TRUE(Refresh(group));
  ASSERT_GT(files_.size(), 100u);

  std::vector<uint32_t> map = MapOf(group);
  size_t stored = 0;
  std::map<std::string, uint32_t> complete;
  TArticle& article = *engine_->Article();
  TArticleLock lock(article);
  for (size_t i = 1; i < map.size(); ++i) {
    if (map[i] < kFirstArticleOffset || !article.Read(map[i])) continue;
    ++stored;
    const FMsgData r = article.Data();
    if (!HasFlag(r, afMultiPart) || r.FNextPart != 0) continue;
    // The last part of a complete file stands for it; its chain goes back part by part.
    SCOPED_TRACE(article.GetFileName());
    EXPECT_TRUE(HasFlag(r, afGoodParts));
    EXPECT_FALSE(HasFlag(r, afHideIfCombined));
    uint32_t parts = 1, expected = r.FPartNo;
    TArticleOffset from = map[i];
    for (FMsgData p = r; p.FPrevPart != 0 && parts <= r.FPartTotal; ++parts) {
      const TArticleOffset at = p.FPrevPart;
      p = Record(at);
      EXPECT_EQ(p.FNextPart, from);
      EXPECT_EQ(p.FPartNo, --expected);
      EXPECT_TRUE(HasFlag(p, afGoodParts) && HasFlag(p, afHideIfCombined));
      from = at;
    }
    if (HasFlag(r, afGoodParts)) complete[article.GetFileName()] = parts;
  }
  EXPECT_EQ(stored, posted_);
  for (const auto& [name, parts] : files_) EXPECT_EQ(complete[name], parts) << name;
}

}  // namespace
}  // namespace zev::test
