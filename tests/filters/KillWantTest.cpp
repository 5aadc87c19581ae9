// Kill and want filters: their files as tables, selection, scores, directories, and the
// filter built from an article.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../core/TestUtil.h"
#include "core/DateTime.h"
#include "core/ZevIniFile.h"
#include "db/MsgData.h"
#include "filters/KillWant.h"

namespace zev {
namespace {

constexpr uint32_t kKilled = FlagBit(afKilled);
constexpr uint32_t kWanted = FlagBit(afWanted);
constexpr uint32_t kMarked = FlagBit(afMarked);

TDateTime Date(int y, int m, int d) {
  TDateTime t = 0;
  TryEncodeDate(y, m, d, t);
  return t;
}

class KillWantTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::ScratchDir();
    set_ = std::make_unique<TKillWant>(dir_);
    set_->SetClock([this] { return now_; });
  }

  TKillWant::TFilter Make(uint8_t flags, const std::string& regex, int8_t score = 0, const std::string& dir = {},
                          const std::string& groups = {}) {
    auto f = std::make_shared<TKWItem>();
    f->SetFlags(flags);
    f->Expression.SetPattern(regex);
    if (!groups.empty()) f->Groups.SetPattern(groups);
    f->Score = score;
    f->DownloadDir = dir;
    return f;
  }

  std::string dir_;
  TDateTime now_ = Date(2024, 6, 1);
  std::unique_ptr<TKillWant> set_;
};

TEST_F(KillWantTest, LoadsFilterFilesAsStored) {
  const uint32_t future = PackFileDate(Date(2024, 7, 1));
  const uint32_t past = PackFileDate(Date(2024, 5, 1));
  test::WriteFile(dir_ + "KillFile.ini",
                  "[Filter:0]\nRegEx=spam\nFlags=73\nScore=200\n"
                  "[Filter:1]\nFlags=73\n"                                // no RegEx: skipped
                  "[Filter:2]\nRegEx=(unclosed\nFlags=73\n"               // does not compile: skipped
                  "[Filter:3]\nRegEx=junk\nGroups=[bad\nFlags=33\n"        // broken groups: every group
                  "[Filter:4]\nRegEx=old\nFlags=73\nExpire=" + std::to_string(past) + "\n"
                  "[Filter:6]\nRegEx=unreached\n");                       // after the gap: not read
  test::WriteFile(dir_ + "WantFile.ini",
                  "[Filter:0]\nRegEx=only regex\n"
                  "[Filter:1]\nRegEx=x\nFlags=5D\nScore=-3\nDlDir=/dl/x/\nGroups=binaries\nExpire=" +
                      std::to_string(future) + "\n"
                  "[Filter:2]\nRegEx=nokind\nFlags=71\n");
  set_->Load();

  struct FExpect {
    std::string regex;
    uint8_t flags;
    int score;
    std::string groups, dir;
    bool hasExpiry;
  } expect[] = {
      {"spam", 0x73, -56, "", "", false},
      {"junk", 0x33, 0, "", "", false},
      {"old", 0x72, 0, "", "", false},  // expired: inactive, expiry forgotten
      {"only regex", kwWant, 0, "", "", false},
      {"x", 0x5D, -3, "binaries", "/dl/x/", true},
      {"nokind", 0x75, 0, "", "", false},  // a filter of no kind takes its file's
  };
  auto filters = set_->Filters();
  ASSERT_EQ(filters.size(), std::size(expect));
  for (size_t i = 0; i < filters.size(); ++i) {
    SCOPED_TRACE(expect[i].regex);
    EXPECT_EQ(filters[i]->Expression.Pattern(), expect[i].regex);
    EXPECT_EQ(filters[i]->Flags(), expect[i].flags);
    EXPECT_EQ(filters[i]->Score, expect[i].score);
    EXPECT_EQ(filters[i]->Groups.Pattern(), expect[i].groups);
    EXPECT_EQ(filters[i]->DownloadDir, expect[i].dir);
    EXPECT_EQ(filters[i]->Expiry() != 0, expect[i].hasExpiry);
  }
  EXPECT_EQ(set_->CountOfKind(true), 3);
  EXPECT_EQ(set_->ItemOfKind(false, 2)->Expression.Pattern(), "old");
  EXPECT_EQ(set_->ItemOfKind(false, 3), nullptr);
}

TEST_F(KillWantTest, SavesSectionsWithoutGapsAndDefaultKeys) {
  test::WriteFile(dir_ + "KillFile.ini",
                  "[Filter:0]\nRegEx=a\nFlags=73\n[Filter:1]\nRegEx=b\nFlags=73\nScore=5\n"
                  "[Filter:2]\nRegEx=c\nFlags=73\nExpire=" + std::to_string(PackFileDate(Date(2024, 1, 1))) + "\n");
  set_->Load();
  set_->Remove(set_->ItemOfKind(false, 1).get());
  auto want = Make(kwActive | kwWant | kwSubject | kwAutoMark, "w", 7, "/d/", "alt\\.bin");
  want->SetExpiry(Date(2024, 12, 24) + 0.5);
  set_->Add(want);
  set_->Save();

  TZevIniFile kill(dir_ + "KillFile.ini");
  EXPECT_EQ(kill.ReadString("Filter:0", "RegEx", ""), "a");
  EXPECT_EQ(kill.ReadString("Filter:1", "RegEx", ""), "c");
  EXPECT_FALSE(kill.SectionExists("Filter:2"));
  EXPECT_EQ(kill.ReadString("Filter:1", "Flags", ""), "72");  // expired at load
  for (const char* key : {"Expire", "Score", "Groups", "DlDir"}) EXPECT_FALSE(kill.ValueExists("Filter:1", key)) << key;

  TZevIniFile wantFile(dir_ + "WantFile.ini");
  EXPECT_EQ(wantFile.ReadString("Filter:0", "Flags", ""), "1D");
  EXPECT_EQ(wantFile.ReadString("Filter:0", "Groups", ""), "alt\\.bin");
  EXPECT_EQ(wantFile.ReadInteger("Filter:0", "Score", 0), 7);
  EXPECT_EQ(wantFile.ReadString("Filter:0", "DlDir", ""), "/d/");
  EXPECT_EQ(wantFile.ReadInteger("Filter:0", "Expire", 0), PackFileDate(Date(2024, 12, 24) + 0.5));

  // What was saved loads back the same.
  TKillWant again(dir_);
  again.SetClock([this] { return now_; });
  again.Load();
  ASSERT_EQ(again.Filters().size(), 3u);
  EXPECT_NEAR(again.Filters()[2]->Expiry(), Date(2024, 12, 24) + 0.5, 1.0 / 86400);
}

TEST_F(KillWantTest, ApplySumsScoresWithinOneByte) {
  struct FCase {
    int8_t a, b, start;
    int expect;
  } cases[] = {{100, 100, 0, 127}, {-100, -100, 0, -128}, {100, -100, 5, 5}, {-128, 127, 127, 126}};
  for (const FCase& c : cases) {
    TKillWant set(dir_);
    set.Add(Make(kwActive | kwKill | kwSubject, "movie", c.a));
    set.Add(Make(kwActive | kwKill | kwSubject, "mov", c.b));
    set.SelectForGroup("alt.binaries", kwOverviewPass);
    int8_t score = c.start;
    std::string dir;
    EXPECT_EQ(set.Apply("A Movie (1/2)", kwSubject, score, dir), kKilled);
    EXPECT_EQ(score, c.expect) << int(c.a) << " " << int(c.b);
  }
}

TEST_F(KillWantTest, AutoMarkFilterChoosesTheDirectory) {
  for (bool autoMarkFirst : {true, false}) {
    TKillWant set(dir_);
    auto autoMark = Make(kwActive | kwWant | kwAutoMark | kwSubject, "movie", 0, "/D/");
    auto plain = Make(kwActive | kwWant | kwSubject, "movie", 0, "/E/");
    set.Add(autoMarkFirst ? autoMark : plain);
    set.Add(autoMarkFirst ? plain : autoMark);
    set.SelectForGroup("g", kwSubjectPass);
    int8_t score = 0;
    std::string dir = "stale";
    EXPECT_EQ(set.Apply("movie", kwSubject, score, dir), kWanted | kMarked);
    EXPECT_EQ(dir, "/D/") << autoMarkFirst;
  }
  // Without an auto-mark filter the last want filter decides, even with an empty directory.
  TKillWant set(dir_);
  set.Add(Make(kwActive | kwWant | kwSubject, "movie", 0, "/E/"));
  set.Add(Make(kwActive | kwWant | kwSubject, "movie"));
  set.SelectForGroup("g", kwSubjectPass);
  int8_t score = 0;
  std::string dir = "stale";
  set.Apply("movie", kwSubject, score, dir);
  EXPECT_EQ(dir, "");
}

TEST_F(KillWantTest, SelectionFollowsGroupMaskActivityAndExpiry) {
  auto groupOnly = Make(kwActive | kwKill | kwSubject, "x", 0, "", "BINARIES\\.tv");
  auto authorOnly = Make(kwActive | kwKill | kwAuthor, "x");
  auto inactive = Make(kwKill | kwSubject, "x");
  auto expiring = Make(kwActive | kwKill | kwSubject, "x");
  expiring->SetExpiry(Date(2024, 6, 2));
  for (auto& f : {groupOnly, authorOnly, inactive, expiring}) set_->Add(f);

  struct FCase {
    const char* group;
    uint8_t mask;
    TDateTime now;
    uint32_t subjectResult, authorResult;
  } cases[] = {
      {"alt.binaries.tv", kwOverviewPass, Date(2024, 6, 1), kKilled, kKilled},
      {"alt.binaries.movies", kwSubjectPass, Date(2024, 6, 1), kKilled, 0},
      {"alt.binaries.movies", kwAuthorPass, Date(2024, 6, 1), 0, kKilled},
      {"alt.binaries.movies", kwSubjectPass, Date(2024, 6, 3), 0, 0},  // the expiring one expired
  };
  for (const FCase& c : cases) {
    SCOPED_TRACE(std::string(c.group) + " " + std::to_string(c.mask));
    now_ = c.now;
    set_->SelectForGroup(c.group, c.mask);
    int8_t score = 0;
    std::string dir;
    EXPECT_EQ(set_->Apply("x", kwSubject, score, dir), c.subjectResult);
    EXPECT_EQ(set_->Apply("x", kwAuthor, score, dir), c.authorResult);
  }
  EXPECT_FALSE(expiring->Has(kwActive));
  EXPECT_EQ(expiring->Expiry(), 0);
}

// A filter removed while a pass holds it in its selection stays usable until the next one.
TEST_F(KillWantTest, RemovedFilterOutlivesTheRunningPass) {
  auto f = Make(kwActive | kwKill | kwSubject, "x");
  set_->Add(f);
  set_->SelectForGroup("g", kwOverviewPass);
  TKWItem* raw = f.get();
  f.reset();
  set_->Remove(raw);
  int8_t score = 0;
  std::string dir;
  EXPECT_EQ(set_->Apply("x", kwSubject, score, dir), kKilled);
  set_->SelectForGroup("g", kwOverviewPass);
  EXPECT_EQ(set_->Apply("x", kwSubject, score, dir), 0u);
}

TEST_F(KillWantTest, NewFilterFromArticleQuotesTextsAndSaves) {
  FKWDialogSeed seen;
  bool confirm = true;
  set_->SetEditor([&](TKWItem&, const FKWDialogSeed& seed) {
    seen = seed;
    return confirm;
  });
  ASSERT_TRUE(set_->NewFilterFromArticle(false, "a.b (1/2)", "", "", "alt.bin", "a.b"));
  auto f = set_->ItemOfKind(false, 0);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->Expression.Pattern(), "a\\.b \\(1/2\\)|a\\.b");
  EXPECT_EQ(f->Groups.Pattern(), "alt\\.bin");
  EXPECT_FALSE(f->Has(kwAuthor));
  EXPECT_TRUE(f->Has(kwSubject) && f->Has(kwFilename) && f->Has(kwKill));
  EXPECT_EQ(f->Action(), kKilled);
  EXPECT_EQ(seen.caption, "Create a new Kill filter");
  EXPECT_EQ(TKillWant::BuildExpression(seen, kwFilename), "a\\.b");
  EXPECT_TRUE(TZevIniFile(dir_ + "KillFile.ini").SectionExists("Filter:0"));

  confirm = false;
  EXPECT_FALSE(set_->NewFilterFromArticle(true, "s", "who", "/dl/", "", ""));
  EXPECT_EQ(set_->CountOfKind(true), 0);
}

}  // namespace
}  // namespace zev
