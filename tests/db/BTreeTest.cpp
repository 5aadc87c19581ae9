// File layout facts and the edge cases of single operations.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>

#include "core/Error.h"
#include "core/Log.h"
#include "db/BTree.h"
#include "db/BTreeCheck.h"
#include "db/BTreeFormat.h"
#include "db/BTreeNode.h"
#include "db/Expirer.h"
#include "DbTestUtil.h"

using namespace zev;
using namespace zev::fmt;

namespace {

constexpr uint8_t kArticleOptions = boKeepCount | boKeysInNodes;
constexpr uint8_t kStringOptions = boKeepCount | boCaseInsensitive;

struct TRecord77 {
  uint8_t bytes[77] = {};
  explicit TRecord77(uint32_t tag = 0) {
    std::memcpy(bytes, "MsgIdXYZ", 8);
    std::memcpy(bytes + 8, &tag, 4);
    bytes[76] = 0x5A;
  }
};

std::string Key(int i) { return "key" + std::to_string(100000 + i) + "@example.net"; }

TEST(BTreeLayout, NewFileIsRootAndFirstDataPage) {
  struct TCase {
    uint8_t options;
    uint32_t sizeParam;
    uint8_t rootKind, dataKind;
  };
  for (TCase c : {TCase{kArticleOptions, 77, nt3x | ntType2, ntData | ntType2},
                  TCase{kStringOptions, 8, nt3x, ntData}}) {
    std::string path = test::ScratchDir() + "New.zev";
    {
      TBTree tree(path, c.options, 1 << 20, c.sizeParam);
      EXPECT_EQ(tree.RecordCount(), 0u);
      EXPECT_TRUE(tree.GetMap().empty());
      EXPECT_EQ(tree.FileSize(), 32768u);
    }
    auto bytes = test::ReadBytes(path);
    ASSERT_EQ(bytes.size(), 32768u);
    EXPECT_EQ(bytes[0], c.rootKind);
    EXPECT_EQ(Load32(&bytes[kCountField]), 0u);
    EXPECT_EQ(bytes[kFirstDataPage], c.dataKind);
    EXPECT_EQ(Load32(&bytes[kFirstDataPage + kLastField]), 24u);           // first free slot
    EXPECT_EQ(Load16(&bytes[kFirstDataPage + 24]), 0u);                    // no next slot
    EXPECT_EQ(Load16(&bytes[kFirstDataPage + 26]), 8168u);                 // slot size
    EXPECT_FALSE(test::FileExists(path + "-journal"));
  }
}

TEST(BTreeLayout, FixedRecordsFillPagesFromTheEnd) {
  std::string path = test::ScratchDir() + "MsgLst.zev";
  std::vector<TDataPointer> dps;
  {
    TBTree tree(path, kArticleOptions, 1 << 20, 77);
    for (int i = 0; i < 107; ++i) {
      TRecord77 r(i);
      TDataPointer dp = 0;
      ASSERT_TRUE(tree.Insert(Key(i), r.bytes, dp));
      dps.push_back(dp);
    }
    EXPECT_EQ(tree.RecordCount(), 107u);
    test::ExpectSound(tree);
  }
  EXPECT_EQ(dps[0], 0x7FB3u);
  EXPECT_EQ(dps[105], kFirstDataPage + 30);  // the lowest record of a page sits at 30
  EXPECT_EQ(dps[106], 0x8000u + 8192 - 77);  // the 107th opens a page appended after the first
  auto bytes = test::ReadBytes(path);
  ASSERT_EQ(bytes.size(), 0x8000u + 8192);
  EXPECT_EQ(Load32(&bytes[kFirstDataPage + kNextField]), 0x8000u);
  EXPECT_EQ(Load32(&bytes[kFirstDataPage + kPrevField]), 0x8000u);  // allocation hint
  EXPECT_EQ(Load32(&bytes[0x8000 + kPrevField]), uint32_t{kFirstDataPage});
  EXPECT_EQ(bytes[0x8000], ntData | ntType2);
  EXPECT_EQ(Load32(&bytes[0x8000 + kCountField]), 1u);
  EXPECT_EQ(Load32(&bytes[kFirstDataPage + kCountField]), 107u);  // the total of the tree
}

TEST(BTreeOps, InsertExistingKeyReturnsTheStoredRecord) {
  TBTree tree(test::ScratchDir() + "t.zev", kArticleOptions, 1 << 20, 77);
  TRecord77 first(1), second(2);
  TDataPointer dp1 = 0, dp2 = 0;
  ASSERT_TRUE(tree.Insert("same@id", first.bytes, dp1));
  EXPECT_FALSE(tree.Insert("same@id", second.bytes, dp2));
  EXPECT_EQ(dp2, dp1);
  EXPECT_EQ(std::memcmp(second.bytes, TRecord77(1).bytes, 77), 0);
  EXPECT_EQ(tree.RecordCount(), 1u);
}

TEST(BTreeOps, OverlongKeyIsCutTo255WithOneLogEntry) {
  std::string dir = test::ScratchDir();
  SetErrorLogPath(dir + "error.log");
  TakePendingReport();
  TBTree tree(dir + "t.zev", kStringOptions, 1 << 20, 8);
  std::string key(300, 'k');
  uint8_t header[8] = {};
  TDataPointer dp = 0;
  ASSERT_TRUE(tree.Insert(key, header, dp));
  EXPECT_EQ(tree.ReadKeyText(dp), std::string(255, 'k'));
  TDataPointer found = 0;
  EXPECT_TRUE(tree.Find(std::string(255, 'k'), found));
  EXPECT_EQ(found, dp);
  std::string report = TakePendingReport();
  EXPECT_NE(report.find("Attempt to insert too long key"), std::string::npos);
  EXPECT_EQ(report.find("Attempt to insert", report.find("Attempt to insert") + 1), std::string::npos);
}

TEST(BTreeOps, FreedSlotIsReused) {
  TBTree tree(test::ScratchDir() + "t.zev", kArticleOptions, 1 << 20, 77);
  std::vector<TDataPointer> dps;
  for (int i = 0; i < 300; ++i) {
    TRecord77 r(i);
    TDataPointer dp;
    ASSERT_TRUE(tree.Insert(Key(i), r.bytes, dp));
    dps.push_back(dp);
  }
  ASSERT_TRUE(tree.DeleteKey(Key(10), true));
  TRecord77 r(999);
  TDataPointer dp;
  ASSERT_TRUE(tree.Insert("newcomer@x", r.bytes, dp));
  EXPECT_EQ(dp, dps[10]);
  test::ExpectSound(tree);
}

TEST(BTreeOps, AddToRecordStaysWithin32Bits) {
  TBTree tree(test::ScratchDir() + "t.zev", kStringOptions, 1 << 20, 8);
  struct TCase {
    uint32_t start;
    int32_t delta;
    uint32_t expected;
  };
  const TCase cases[] = {{3, -5, 0}, {3, 2, 5}, {0xFFFFFFF0u, 100, 0xFFFFFFFFu}, {7, 0, 7}};
  int n = 0;
  for (const TCase& c : cases) {
    uint8_t header[8] = {};
    std::memcpy(header + 4, &c.start, 4);
    TDataPointer dp;
    ASSERT_TRUE(tree.Insert("text" + std::to_string(n++), header, dp));
    int32_t deltas[2] = {0, c.delta};
    ASSERT_TRUE(tree.AddToRecord(dp, deltas));
    uint8_t back[8];
    ASSERT_TRUE(tree.ReadRecord(dp, back));
    EXPECT_EQ(Load32(back + 4), c.expected) << c.start << " + " << c.delta;
  }
}

TEST(BTreeOps, ChangeRecordStoresOnlyWhatTheCallbackKeeps) {
  const std::string path = test::ScratchDir() + "t.zev";
  TDataPointer dp;
  {
    TBTree tree(path, kArticleOptions, 1 << 20, 77);
    ASSERT_TRUE(tree.Insert("a@b", TRecord77(1).bytes, dp));
    // Scribbled on, but not kept: the page stays as it was.
    EXPECT_TRUE(tree.ChangeRecord(dp, [](uint8_t* r) {
      r[8] = 99;
      return false;
    }));
    EXPECT_TRUE(tree.ChangeRecord(dp, [](uint8_t* r) {
      EXPECT_EQ(r[8], 1);
      r[9] = 7;
      return true;
    }));
  }
  TBTree tree(path, kArticleOptions, 1 << 20, 77);
  TRecord77 expected(1);
  expected.bytes[9] = 7;
  uint8_t back[77];
  ASSERT_TRUE(tree.ReadRecord(dp, back));
  EXPECT_EQ(std::memcmp(back, expected.bytes, 77), 0);
}

TEST(BTreeOps, RecordOperationsRefuseInvalidPointers) {
  TBTree tree(test::ScratchDir() + "t.zev", kArticleOptions, 1 << 20, 77);
  TRecord77 r(1);
  TDataPointer dp;
  ASSERT_TRUE(tree.Insert("a@b", r.bytes, dp));
  ASSERT_TRUE(tree.Insert("c@d", r.bytes, dp));
  ASSERT_TRUE(tree.DeleteKey("c@d", true));
  uint8_t out[77];
  for (TDataPointer bad : {0u, 16u, 100u, 0x6001u, 0x7FB4u, dp /* freed */, 0x100000u}) {
    EXPECT_FALSE(tree.ReadRecord(bad, out)) << bad;
    EXPECT_FALSE(tree.WriteRecord(bad, r.bytes)) << bad;
    EXPECT_FALSE(tree.DeleteData(bad)) << bad;
    EXPECT_FALSE(tree.ChangeRecord(bad, [](uint8_t*) { return true; })) << bad;
  }
  test::ExpectSound(tree);
}

TEST(BTreeOps, SequenceNumbersCountRecords) {
  TBTree tree(test::ScratchDir() + "GrpLst.zev", boSequenceNumbers, 1 << 20, 8);
  for (uint32_t i = 1; i <= 3; ++i) {
    uint8_t header[8] = {};
    TDataPointer dp;
    ASSERT_TRUE(tree.Insert("alt.binaries.test" + std::to_string(i), header, dp));
    EXPECT_EQ(Load32(header), i);
    uint8_t back[8];
    ASSERT_TRUE(tree.ReadRecord(dp, back));
    EXPECT_EQ(Load32(back), i);
  }
}

TEST(BTreeOps, FindKeyOfDataStopsAtTheEndOfThePrefix) {
  TBTree tree(test::ScratchDir() + "t.zev", kArticleOptions, 1 << 20, 77);
  TRecord77 r;
  TDataPointer target = 0, dp;
  for (int i = 0; i < 2000; ++i) {
    ASSERT_TRUE(tree.Insert("abcdefgh" + std::to_string(i) + "@x", r.bytes, dp));
    if (i == 1234) target = dp;
    ASSERT_TRUE(tree.Insert("zzz" + std::to_string(i), r.bytes, dp));
  }
  std::string key = "abcdefgh";
  EXPECT_TRUE(tree.FindKeyOfData(key, target));
  EXPECT_EQ(key, "abcdefgh1234@x");
  std::string other = "abcdefgi";  // nothing with this prefix holds the record
  EXPECT_FALSE(tree.FindKeyOfData(other, target));
  EXPECT_EQ(other, "abcdefgi");
}

TEST(BTreeOps, CaseInsensitiveTreesFoldAsciiLetters) {
  TBTree tree(test::ScratchDir() + "t.zev", kStringOptions, 1 << 20, 8);
  uint8_t h[8] = {};
  TDataPointer dp, found;
  ASSERT_TRUE(tree.Insert("John Doe <jd@x>", h, dp));
  EXPECT_FALSE(tree.Insert("JOHN DOE <JD@X>", h, found));
  EXPECT_EQ(found, dp);
  EXPECT_TRUE(tree.Find("john doe <jd@x>", found));
  EXPECT_EQ(tree.ReadKeyText(found), "John Doe <jd@x>");
}

TEST(BTreeOps, SecondOpenOfAFileIsRefused) {
  std::string path = test::ScratchDir() + "t.zev";
  TBTree tree(path, kArticleOptions, 1 << 20, 77);
  EXPECT_THROW(TBTree(path, kArticleOptions, 1 << 20, 77), EZevError);
  EXPECT_THROW(TBTree(path, kArticleOptions, 1 << 20, 77, TBTree::TAccess::ReadOnly), EZevError);
}

TEST(BTreeOps, FileOfAnotherKindIsRefused) {
  std::string path = test::ScratchDir() + "t.zev";
  { TBTree tree(path, kArticleOptions, 1 << 20, 77); }
  EXPECT_THROW(TBTree(path, kStringOptions, 1 << 20, 8), EZevError);
  test::WriteBytes(path, std::vector<uint8_t>(20000, 0));
  EXPECT_THROW(TBTree(path, kArticleOptions, 1 << 20, 77), EZevError);
}

}  // namespace

namespace {

TEST(BTreeScan, EveryRecordAndTheListedPages) {
  std::string dir = test::ScratchDir();
  TBTree tree(dir + "MsgLst.zev", kArticleOptions, 1 << 20, 77);
  std::vector<TDataPointer> dps;
  for (int i = 0; i < 500; ++i) {
    TRecord77 r(i);
    TDataPointer dp;
    ASSERT_TRUE(tree.Insert(Key(i), r.bytes, dp));
    dps.push_back(dp);
  }
  // The callback may change the tree: delete every record it is given of an odd tag.
  size_t seen = 0;
  tree.ForEachRecord([&](TDataPointer dp, const uint8_t* record) {
    ++seen;
    if (Load32(record + 8) % 2) {
      EXPECT_TRUE(tree.DeleteData(dp));
    }
  });
  EXPECT_EQ(seen, 500u);
  EXPECT_EQ(tree.RecordCount(), 250u);

  TExpirer expiry(dir + "Expired.zev");
  for (int i : {0, 2, 4, 498}) expiry.Add(dps[i]);  // three in the first page, one in the last
  std::vector<TDataPointer> visited;
  tree.ForEachRecordInPages(expiry, [&](TDataPointer dp, const uint8_t*) { visited.push_back(dp); });
  EXPECT_EQ(visited.size(), 53u + 38u);  // the even records of the first and the last page, once each
  EXPECT_EQ(std::set<TDataPointer>(visited.begin(), visited.end()).size(), visited.size());
  EXPECT_EQ(expiry.Count(), 0u);
  tree.Flush(true, true);
  EXPECT_EQ(std::filesystem::file_size(dir + "MsgLst.zev"), tree.FileSize());
}

}  // namespace

namespace {

// The checker names the broken invariant of each damaged file and never crashes on it.
TEST(BTreeCheck, ReportsDamage) {
  std::string dir = test::ScratchDir();
  std::string good = dir + "good.zev";
  {
    TBTree tree(good, kArticleOptions, 1 << 20, 77);
    for (int i = 0; i < 3000; ++i) {
      TRecord77 r(i);
      TDataPointer dp;
      ASSERT_TRUE(tree.Insert(Key(i), r.bytes, dp));
    }
    test::ExpectSound(tree);
  }
  const std::vector<uint8_t> image = test::ReadBytes(good);
  ASSERT_EQ(image[0] & ntDir, ntDir) << "the test needs a root with children";
  const uint32_t leaf = PagePosition(Load32(&image[kLastField]) & kChildMask);  // the LT child
  struct TCase {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> damage;
    const char* expected;
  };
  const TCase cases[] = {
      {"keys swapped",
       [&](auto& b) {
         uint32_t e0 = leaf + kHeaderSize + 4, e1 = e0 + kEntrySize;
         uint32_t w0 = Load32(&b[e0]), w1 = Load32(&b[e1]);
         Store32(&b[e0], w1);
         Store32(&b[e1], w0);
       },
       "out of order"},
      {"leaf chain cut", [&](auto& b) { Store32(&b[leaf + kNextField], 0); }, "links on to"},
      {"child outside the file", [&](auto& b) { Store32(&b[kLastField], 100000); }, "outside the file"},
      {"free list into a used page", [&](auto& b) { Store32(&b[kNextField], leaf); }, "free page"},
      {"record count", [&](auto& b) { Store32(&b[kFirstDataPage + kCountField], 7); }, "counts"},
      {"record count beyond any file", [&](auto& b) { Store32(&b[kFirstDataPage + kCountField], 0x80000000); },
       "counts"},
      {"free slot not cleared", [&](auto& b) { b[kFirstDataPage + 28] = 1; }, "not cleared"},
      {"first free slot near 2^32",
       [&](auto& b) { Store32(&b[kFirstDataPage + kLastField], 0xFFFFFFFE); }, "beyond the page"},
      {"file cut short", [&](auto& b) { b.resize(b.size() - kPageSize); }, "outside the file"},
      // The first data page is never claimed like the others: a chain back to it would
      // be walked for ever.
      {"first data page links to itself", [&](auto& b) { Store32(&b[kFirstDataPage + kNextField], kFirstDataPage); },
       "links back to the first"},
      {"data chain back to the first page",
       [&](auto& b) {
         const uint32_t second = Load32(&b[kFirstDataPage + kNextField]);
         Store32(&b[second + kNextField], kFirstDataPage);
       },
       "links back to the first"},
  };
  for (const TCase& c : cases) {
    std::string path = dir + "damaged.zev";
    std::vector<uint8_t> bytes = image;
    c.damage(bytes);
    test::WriteBytes(path, bytes);
    TBTree tree(path, kArticleOptions, 1 << 20, 77, TBTree::TAccess::ReadOnly);
    TCheckReport report = tree.Check();
    EXPECT_FALSE(report.Ok()) << c.name;
    EXPECT_NE(report.Text().find(c.expected), std::string::npos) << c.name << ":\n" << report.Text();
    // A damaged count must not size the map (it once asked for gigabytes).
    EXPECT_LE(tree.GetMap().capacity(), bytes.size() / kEntrySize + 256) << c.name;
    EXPECT_LE(tree.GetMap2(8).capacity(), bytes.size() / kEntrySize + 256) << c.name;
    TDataPointer dp;
    tree.Find(Key(1), dp);
    for (uint32_t position : {0u, kFirstDataPage, leaf}) tree.DumpText(position);
  }
}

TEST(BTreeOps, NodeKeyTextsCompareInKeyOrder) {
  struct FCase {
    const char* text;  // as stored: ends with a zero byte unless cut by `room`
    size_t room;
    const char* key;
    int expected;
  };
  const FCase cases[] = {
      {"abc", 4, "abc", 0},
      {"abc", 4, "abd", -1},
      {"abd", 4, "abc", 1},
      {"bbc", 4, "abc", 1},
      {"ab", 3, "abc", -1},           // a shorter text sorts first
      {"abcd", 5, "abc", 1},          // a longer text sorts after
      {"\xe9t\xe9", 4, "zzz", 1},  // bytes above 127 sort after ASCII
      {"abc", 3, "abc", 1},           // no end within the room: after every key
      {"abcdef", 2, "abc", 1},        // cut before the key's end: after every key
      {"", 1, "a", -1},
      // Keys of eight bytes and more: a difference inside or past the first eight, an
      // end inside them, a missing end past them.
      {"part12of50.abc", 15, "part12of50.abc", 0},
      {"part12of50.abc", 15, "part13of50.abc", -1},
      {"part13of50.abc", 15, "part12of50.abc", 1},
      {"part12of50.abd", 15, "part12of50.abc", 1},
      {"part12of50.ab", 14, "part12of50.abc", -1},
      {"part12of50.abcd", 16, "part12of50.abc", 1},
      {"part", 5, "part12of50.abc", -1},
      {"part12\xe9zz", 10, "part12zzz", 1},
      {"part12of50.abc", 12, "part12of50.abc", 1},
      {"part12of50.abc", 8, "part12of50.abc", 1},
  };
  for (const FCase& c : cases) {
    std::string text = c.text;
    text.push_back('\0');
    EXPECT_EQ(CompareTextBounded(text.data(), c.room, c.key, false), c.expected) << c.text << " vs " << c.key;
  }
  // Case-insensitive lists fold a..z only.
  EXPECT_EQ(CompareTextBounded("ABC", 4, "abc", true), 0);
  EXPECT_EQ(CompareTextBounded("ABC", 4, "abd", true), -1);
  EXPECT_EQ(CompareTextBounded("[", 2, "a", true), 1);
}

}  // namespace
