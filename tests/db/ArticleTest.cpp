// The article accessor: string references, templates, sizes, the stale-offset guard and
// part chains.
#include <gtest/gtest.h>

#include <cstring>

#include "core/Log.h"
#include "db/Article.h"
#include "db/BTree.h"
#include "db/BTreeFormat.h"
#include "db/Expirer.h"
#include "db/NwsStore.h"
#include "DbTestUtil.h"

using namespace zev;

namespace {

class ArticleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::ScratchDir();
    SetErrorLogPath(dir_ + "error.log");
    TakePendingReport();
    store_.SetPath(dir_);
    store_.SetActive(true);
    expirer_ = std::make_unique<TExpirer>(dir_ + "Expired.zev");
    gExpirer = expirer_.get();
    gArticle = &art_;
  }
  void TearDown() override {
    gArticle = nullptr;
    gExpirer = nullptr;
  }

  TArticleOffset NewArticle(const std::string& id) {
    TArticleOffset offset = 0;
    EXPECT_TRUE(art_.New(id, offset)) << id;
    return offset;
  }
  // Reference count of `text` in `list`, 0 when the text is not there.
  uint32_t RefCount(TBTree* list, const std::string& text) {
    TDataPointer dp;
    uint8_t header[8];
    if (!list->Find(text, dp) || !list->ReadRecord(dp, header)) return 0;
    return fmt::Load32(header + 4);
  }
  FMsgData Stored(TArticleOffset offset) {
    FMsgData r{};
    store_.MsgLst()->ReadRecord(offset, &r);
    return r;
  }

  std::string dir_;
  TNewsStore store_{[] { return uint64_t{1} << 30; }};
  TArticle art_{store_};
  std::unique_ptr<TExpirer> expirer_;
};

TEST_F(ArticleTest, StringListsCountTheirReferences) {
  TArticleOffset a = NewArticle("aaaaaaaa1@x"), b = NewArticle("bbbbbbbb2@x");
  struct TStep {
    TArticleOffset article;
    const char* author;
    bool created;                       // SetAuthor's result
    std::vector<std::pair<const char*, uint32_t>> counts;  // afterwards
  };
  const TStep steps[] = {
      {a, "Joe <joe@x>", true, {{"Joe <joe@x>", 1}}},
      {b, "Joe <joe@x>", false, {{"Joe <joe@x>", 2}}},
      {b, "JOE <JOE@X>", false, {{"Joe <joe@x>", 2}}},  // same text in other case: nothing changes
      {b, "Ann <ann@x>", true, {{"Joe <joe@x>", 1}, {"Ann <ann@x>", 1}}},
      {a, "Ann <ann@x>", false, {{"Joe <joe@x>", 0}, {"Ann <ann@x>", 2}}},  // the last user left: deleted
      {a, "", false, {{"Ann <ann@x>", 1}}},
  };
  for (const TStep& s : steps) {
    ASSERT_TRUE(art_.Read(s.article));
    EXPECT_EQ(art_.SetAuthor(s.author), s.created) << s.author;
    art_.Write();
    for (auto& [text, count] : s.counts) EXPECT_EQ(RefCount(store_.AuthLst(), text), count) << s.author << " / " << text;
  }
  ASSERT_TRUE(art_.Read(a));
  EXPECT_EQ(art_.Data().FAuthor, 0u);
  EXPECT_EQ(art_.GetAuthor(), "");
  ASSERT_TRUE(art_.Read(b));
  EXPECT_EQ(art_.GetAuthor(), "Ann <ann@x>");
  EXPECT_EQ(store_.AuthLst()->RecordCount(), 1u);
  test::ExpectSound(*store_.AuthLst());
}

// The accessor remembers where the texts it referenced are stored; a text that was freed
// and whose place went to another text must not pass its count on to that one.
TEST_F(ArticleTest, AFreedTextsPlaceIsNotCountedForItLater) {
  TArticleOffset a = NewArticle("aaaaaaaa1@x"), b = NewArticle("bbbbbbbb2@x");
  ASSERT_TRUE(art_.Read(a));
  EXPECT_TRUE(art_.SetAuthor("Joe <joe@x>"));
  const uint32_t joe = art_.Data().FAuthor;
  EXPECT_FALSE(art_.SetAuthor("Joe <joe@x>"));  // the same text: nothing to do
  art_.SetAuthor("");                            // the last reference: Joe's record is freed
  art_.Write();
  TArticle other(store_);
  ASSERT_TRUE(other.Read(b));
  EXPECT_TRUE(other.SetAuthor("Zed <zed@x>"));
  ASSERT_EQ(other.Data().FAuthor, joe) << "the test needs the freed place reused";
  other.Write();

  ASSERT_TRUE(art_.Read(a));
  EXPECT_TRUE(art_.SetAuthor("Joe <joe@x>"));
  art_.Write();
  EXPECT_EQ(RefCount(store_.AuthLst(), "Joe <joe@x>"), 1u);
  EXPECT_EQ(RefCount(store_.AuthLst(), "Zed <zed@x>"), 1u);
  EXPECT_EQ(art_.GetAuthor(), "Joe <joe@x>");
  test::ExpectSound(*store_.AuthLst());
}

TEST_F(ArticleTest, EveryTextKindHasItsOwnList) {
  NewArticle("cccccccc3@x");
  EXPECT_TRUE(art_.SetSubject("Holiday \x04 pictures"));
  EXPECT_TRUE(art_.SetFileName("holiday.part01.rar"));
  EXPECT_TRUE(art_.SetDownloadDirCached("/home/u/Downloads/Überall"));
  TArticleOffset offset = art_.Offset();
  art_.Clear();
  ASSERT_TRUE(art_.Read(offset));
  EXPECT_EQ(art_.GetSubjectTemplate(), "Holiday \x04 pictures");
  EXPECT_EQ(art_.GetFileName(), "holiday.part01.rar");
  EXPECT_EQ(art_.GetDownloadDir(), "/home/u/Downloads/Überall");
  EXPECT_EQ(RefCount(store_.SubjLst(), "Holiday \x04 pictures"), 1u);
  EXPECT_EQ(RefCount(store_.DirLst(), "/home/u/Downloads/Überall"), 1u);
  EXPECT_TRUE(gNewFileNames.exchange(false));
}

TEST(ArticleTemplate, Expansion) {
  struct TCase {
    std::string tmpl;
    uint16_t partNo, partTotal, fileNo, fileTotal;
    uint32_t fileSize;
    bool reply;
    std::string expected;
  };
  const TCase cases[] = {
      {"\x04", 7, 120, 0, 0, 0, false, "007/120"},
      {"\x01", 0, 0, 1, 1, 0, false, "1/1"},
      {"\x02", 0, 0, 3, 12, 0, false, "03 of 12"},
      {"\x06", 0, 0, 0, 0, 1536, false, "1,50"},
      {"\x06", 0, 0, 0, 0, 2048, false, "2"},
      {"\x05 bytes", 0, 0, 0, 0, 123456, false, "123456 bytes"},
      {"[\x01] \"\x03\" \x07 (\x04)", 3, 12, 2, 5, 0, false, "[2/5] \"f.rar\" yEnc (03/12)"},
      {"abc", 0, 0, 0, 0, 0, true, "Re: abc"},
  };
  for (const TCase& c : cases) {
    FMsgData r{};
    r.FPartNo = c.partNo;
    r.FPartTotal = c.partTotal;
    r.FFileNo = c.fileNo;
    r.FFileTotal = c.fileTotal;
    r.FFileSize = c.fileSize;
    if (c.reply) SetFlag(r, afIsReply);
    EXPECT_EQ(TArticle::ExpandTemplate(c.tmpl, r, "f.rar", ','), c.expected) << c.expected;
  }
  EXPECT_EQ(TArticle::PatternOf("Cost $5 \x01 \x02 \x03 \x04 \x05 \x06 \x07"), "Cost $$5 $S $S $F $P $B $K yEnc");
}

TEST_F(ArticleTest, VisibleAndSortSubjects) {
  NewArticle("dddddddd4@x");
  art_.SetSubject("abc \x04");
  art_.Data().FPartNo = 2;
  art_.Data().FPartTotal = 9;
  EXPECT_EQ(art_.GetSubject(), "abc \x04");  // stored as is until it is to be built
  art_.Include(afBuildSubject);
  art_.Include(afIsReply);
  EXPECT_EQ(art_.GetSubject(), "Re: abc 2/9");
  EXPECT_EQ(art_.GetSortSubject(), "ABC 2/9(2)");
  art_.SetSubject("/../Movies: part \x04");
  EXPECT_EQ(art_.SubjectDirectory().find('\x04'), std::string::npos);
  EXPECT_NE(art_.SubjectDirectory().front(), '/');
  art_.Clear();
  EXPECT_EQ(art_.GetSubject(), "(invalid article)");
}

TEST(ArticleAuthor, DisplayNames) {
  const std::pair<const char*, const char*> cases[] = {
      {"John Doe <jd@x.com>", "John Doe"},
      {"\"Jane Roe\" <jr@x.com>", "Jane Roe"},
      {"<only@x.com>", "<only@x.com>"},
      {"Name <a@b> (Home)", "Name (Home)"},
      {"jd@x.com (John Doe)", "John Doe"},
      {"jd@x.com (j@y.com)", "jd@x.com"},
      {"Plain (comment", "Plain (comment"},
      {"nobody", "nobody"},
  };
  for (auto& [author, name] : cases) EXPECT_EQ(TArticle::DisplayNameOf(author), name) << author;
}

TEST_F(ArticleTest, LinesGiveSizeEstimates) {
  struct TCase {
    uint32_t lines;
    bool yEnc;
    uint16_t partTotal;
    uint32_t partSize, lineCount;
  };
  const TCase cases[] = {{2003, false, 1, 90000, 2003}, {2001, true, 1, 90000, 2001}, {2011, true, 1, 253386, 2011},
                         {30, false, 1, 750, 30},       {100, false, 1, 4410, 100},    {20000, false, 4, 225000, 5000}};
  int n = 0;
  for (const TCase& c : cases) {
    NewArticle("lines" + std::to_string(n++) + "@x");
    art_.Data().FPartTotal = c.partTotal;
    if (c.partTotal > 1) art_.Include(afMultiPart);
    if (c.yEnc) art_.Include(afyEncode);
    art_.SetLines(c.lines);
    EXPECT_EQ(art_.Data().FPartSize, c.partSize) << c.lines;
    EXPECT_EQ(art_.Data().FLines, c.lineCount) << c.lines;
  }
  NewArticle("small@x");
  art_.SetLines(30);
  EXPECT_TRUE(HasFlag(art_.Data(), afBadSize));
  EXPECT_EQ(art_.Data().FFileSize, 0u);
  NewArticle("medium@x");
  art_.SetLines(100);
  EXPECT_EQ(art_.Data().FFileSize, 4410u);

  EXPECT_TRUE(TArticle::SizesClose(100500, 100000, false));
  EXPECT_TRUE(TArticle::SizesClose(102400, 100000, false));
  EXPECT_FALSE(TArticle::SizesClose(103000, 100000, false));
}

TEST_F(ArticleTest, CountersSaturate) {
  TArticleOffset offset = NewArticle("counter@x");
  art_.SetRefCount(3);
  EXPECT_EQ(art_.AdjustRefCount(-5), 0u);
  EXPECT_EQ(expirer_->Count(), 1u);
  art_.SetRefCount(0xFFFFFFFFu);
  EXPECT_EQ(art_.AdjustRefCount(1), 0xFFFFFFFFu);
  art_.SetScore(0);
  art_.AdjustScore(1000);
  EXPECT_EQ(art_.Data().FScore, 127);
  art_.SetScore(100);
  art_.AdjustScore(-1000);
  EXPECT_EQ(art_.Data().FScore, -128);
  art_.Clear();
  EXPECT_EQ(Stored(offset).FScore, -128);
}

TEST_F(ArticleTest, NewWithAKnownIdKeepsTheStoredRecord) {
  TArticleOffset first = NewArticle("known@x");
  art_.SetRefCount(4);
  art_.Write();
  TArticleOffset again = 0;
  EXPECT_FALSE(art_.New("known@x", again));
  EXPECT_EQ(again, first);
  EXPECT_EQ(art_.Data().FRefCount, 4u);
  EXPECT_FALSE(art_.Dirty());
}

TEST_F(ArticleTest, ReadFailuresLeaveTheAccessorEmpty) {
  NewArticle("some@x");
  for (TArticleOffset bad : {0u, 16u, 17u, 0x6001u, 0x7FFFFFu}) {
    EXPECT_FALSE(art_.Read(bad)) << bad;
    EXPECT_EQ(art_.Offset(), 0u);
    EXPECT_EQ(art_.Data().FRefCount, 0u);
  }
}

TEST_F(ArticleTest, SelfLinksAreRemovedOnRead) {
  TArticleOffset offset = NewArticle("selfish@x");
  art_.Clear();
  FMsgData r = Stored(offset);
  r.FPrevPart = offset;
  r.FNextFile = offset;
  store_.MsgLst()->WriteRecord(offset, &r);
  ASSERT_TRUE(art_.Read(offset));
  EXPECT_EQ(art_.Data().FPrevPart, 0u);
  EXPECT_EQ(art_.Data().FNextFile, 0u);
  EXPECT_TRUE(art_.Dirty());
}

// A write through an offset whose slot was freed and taken by another article must leave
// the other article alone.
TEST_F(ArticleTest, WriteThroughAStaleOffsetIsRefused) {
  struct TCase {
    const char* first;
    const char* second;  // takes the freed slot
  };
  const TCase cases[] = {{"alpha123@x", "omega456@x"}, {"part1of2.first@x", "part1of2.other@x"}};
  int filler = 0;
  for (const TCase& c : cases) {
    // Fill a page up to its last record slot, so the freed slot is the only one that fits.
    TArticleOffset last = 0;
    while ((last & 8191) != 30 + 77) {
      art_.New("filler" + std::to_string(filler++) + "@x", last);
      art_.Clear();
    }
    TArticleOffset offset = NewArticle(c.first);
    art_.Data().FScore = 11;  // unsaved change
    ASSERT_TRUE(store_.MsgLst()->DeleteKey(c.first, true));
    TArticle other(store_);
    TArticleOffset taken = 0;
    ASSERT_TRUE(other.New(c.second, taken));
    other.SetScore(-3);
    other.Clear();
    ASSERT_EQ(taken, offset) << "the test needs the freed slot reused";
    TakePendingReport();
    art_.Write();
    EXPECT_EQ(Stored(offset).FScore, -3) << c.second;
    EXPECT_NE(TakePendingReport().find("Call of TArticle.Write to Offs="), std::string::npos);
    art_.Clear();
  }
}

TEST_F(ArticleTest, DestroyingADirtyAccessorStoresIt) {
  TArticleOffset offset;
  {
    TArticle local(store_);
    ASSERT_TRUE(local.New("leaving@x", offset));
    local.SetScore(42);
  }
  EXPECT_EQ(Stored(offset).FScore, 42);
}

// Three parts linked 1 <-> 2 <-> 3, the last one visible.
std::vector<TArticleOffset> MakeFile(TArticle& art, TNewsStore& store, const std::string& name, int parts) {
  std::vector<TArticleOffset> offsets;
  for (int i = 1; i <= parts; ++i) {
    TArticleOffset o;
    art.New(name + std::to_string(i) + "@x", o);
    offsets.push_back(o);
    art.SetPartNo(static_cast<uint16_t>(i));
    art.SetPartTotal(static_cast<uint16_t>(parts));
    art.Include(afMultiPart);
    art.Include(afGoodParts);
    art.Include(afMarked);
    if (i < parts) art.Include(afHideIfCombined);
    art.Clear();
  }
  for (int i = 0; i < parts; ++i) {
    art.Read(offsets[i]);
    if (i > 0) art.SetPrevPartLink(offsets[i - 1]);
    if (i + 1 < parts) art.SetNextPartLink(offsets[i + 1]);
    art.Clear();
  }
  (void)store;
  return offsets;
}

TEST_F(ArticleTest, ExpiringTheVisibleLastPartPassesVisibilityOn) {
  auto parts = MakeFile(art_, store_, "file.part", 3);
  EXPECT_TRUE(art_.Expire(parts[2]));
  EXPECT_EQ(art_.Offset(), 0u);
  FMsgData middle = Stored(parts[1]), first = Stored(parts[0]), gone = Stored(parts[2]);
  EXPECT_FALSE(HasFlag(middle, afHideIfCombined));
  EXPECT_EQ(middle.FNextPart, 0u);
  for (const FMsgData& r : {middle, first}) {
    EXPECT_TRUE(HasFlag(r, afBadParts));
    EXPECT_FALSE(HasFlag(r, afGoodParts));
    EXPECT_FALSE(HasFlag(r, afMarked));
  }
  EXPECT_EQ(gone.FRefCount, 0u);
  EXPECT_EQ(gone.FPrevPart, 0u);
  EXPECT_EQ(expirer_->Count(), 1u);
}

TEST_F(ArticleTest, ExpireDropsOneReferenceAtATime) {
  TArticleOffset offset = NewArticle("shared@x");
  art_.SetRefCount(2);
  art_.Clear();
  EXPECT_FALSE(art_.Expire(offset));
  EXPECT_EQ(Stored(offset).FRefCount, 1u);
  EXPECT_TRUE(art_.Expire(offset));
  EXPECT_EQ(Stored(offset).FRefCount, 0u);
}

TEST_F(ArticleTest, ChainWalksEndOnALoop) {
  auto parts = MakeFile(art_, store_, "loop.part", 3);
  FMsgData last = Stored(parts[2]);
  last.FNextPart = parts[0];  // 1 -> 2 -> 3 -> 1 ...
  store_.MsgLst()->WriteRecord(parts[2], &last);
  FMsgData first = Stored(parts[0]);
  first.FPrevPart = parts[2];
  store_.MsgLst()->WriteRecord(parts[0], &first);
  ASSERT_TRUE(art_.Read(parts[1]));
  art_.Exclude(afGoodParts);
  EXPECT_LE(art_.CountParts(), 9u);
  EXPECT_LE(art_.TotalLines(), 9u);
  art_.CombinedFlags();
  std::vector<TArticleOffset> map;
  EXPECT_TRUE(art_.PartMap(map));
  EXPECT_EQ(map, parts);
  EXPECT_TRUE(art_.FirstPart());
  EXPECT_TRUE(art_.Expire(parts[1]));  // the expiry walks end as well
}

TEST_F(ArticleTest, CountPartsRepairsBackLinks) {
  auto parts = MakeFile(art_, store_, "repair.part", 3);
  FMsgData middle = Stored(parts[1]);
  middle.FNextPart = 0;  // 3 still links back to 2, but 2 lost its link to 3
  store_.MsgLst()->WriteRecord(parts[1], &middle);
  ASSERT_TRUE(art_.Read(parts[2]));
  art_.Exclude(afGoodParts);
  EXPECT_EQ(art_.CountParts(), 3u);
  EXPECT_EQ(Stored(parts[1]).FNextPart, parts[2]);
  ASSERT_TRUE(art_.Read(parts[2]));
  ASSERT_TRUE(art_.FirstPart());
  EXPECT_EQ(art_.Offset(), parts[0]);
}

TEST_F(ArticleTest, SwapPartAndSetNumbers) {
  auto parts = MakeFile(art_, store_, "swap.part", 2);
  ASSERT_TRUE(art_.Read(parts[0]));
  art_.Exclude(afMarked);
  art_.SetSubject("Set \x01 - file \x04");
  art_.Data().FFileNo = 3;
  art_.Data().FFileTotal = 7;
  art_.SwapPartAndSetNumbers();
  EXPECT_EQ(art_.GetSubjectTemplate(), "Set \x04 - file \x01");
  EXPECT_EQ(art_.Data().FPartNo, 3);
  EXPECT_EQ(art_.Data().FPartTotal, 7);
  EXPECT_EQ(art_.Data().FFileNo, 1);
  EXPECT_EQ(art_.Data().FFileTotal, 2);
  EXPECT_EQ(art_.Data().FNextPart, 0u);
  EXPECT_EQ(Stored(parts[1]).FPrevPart, 0u);
  EXPECT_TRUE(HasFlag(Stored(parts[1]), afBadParts));
}

TEST_F(ArticleTest, DirectAccessorsUseTheSharedCopy) {
  TArticleOffset a = NewArticle("direct1@x");
  art_.Clear();
  TArticleOffset b = NewArticle("direct2@x");
  art_.Data().FScore = 5;  // unsaved change of the held record
  uint32_t flags = 0;
  TArticleOffset link = 0;
  EXPECT_FALSE(store_.ReadFlagsAndPrevPart(16, flags, link));
  EXPECT_FALSE(store_.SetPrevPart(0, 1));
  EXPECT_TRUE(store_.AddFlagsSetNextPart(b, FlagBit(afMarked), a));
  EXPECT_EQ(Stored(b).FNextPart, a);
  EXPECT_EQ(Stored(b).FScore, 5);  // the held copy was stored, not overwritten
  EXPECT_TRUE(store_.SetPrevPart(a, b));
  EXPECT_TRUE(store_.ReadFlagsAndPrevPart(a, flags, link));
  EXPECT_EQ(link, b);
  EXPECT_TRUE(store_.ReadFlagsAndNextPart(b, flags, link));
  EXPECT_EQ(link, a);
  EXPECT_TRUE(flags & FlagBit(afMarked));
}

}  // namespace
