// Part files: joining in any arrival order without quadratic copying, duplicates, name
// boundaries, free names, and full disks that leave the parts intact.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "core/Crc32.h"
#include "core/Log.h"
#include "DecoderTestSupport.h"
#include "download/DownloadNames.h"
#include "download/PartJoiner.h"
#include "download/PartLedger.h"

using namespace zev;
using namespace zev::test;

namespace {

class PartJoinerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = Scratch("zevpj_");
    SetErrorLogPath(dir_ + "../zevpj_error.log");
  }
  // The file cut into `total` parts of `partSize` bytes (the last one shorter).
  void MakeFile(size_t size, uint32_t total, uint32_t seed = 1) {
    file_ = RandomBytes(size, seed);
    total_ = total;
    partSize_ = (size + total - 1) / total;
  }
  FPartData Part(uint32_t p) { return FilePart(dir_, "movie.mkv", file_, p, total_); }
  FJoinResult Save(uint32_t p) { return joiner_.Save(Part(p)); }

  std::string dir_, file_;
  uint32_t total_ = 0;
  size_t partSize_ = 0;
  TCountingFs fs_;
  TPartLedger ledger_;
  TPartJoiner joiner_{fs_, ledger_};
};

std::vector<uint32_t> PairsDescending(uint32_t total) {
  std::vector<uint32_t> order;
  for (uint32_t p = total; p >= 2; p -= 2) {
    order.push_back(p - 1);
    order.push_back(p);
  }
  return order;
}

TEST_F(PartJoinerTest, AnyArrivalOrderGivesTheFileWithBoundedCopying) {
  struct FOrder {
    const char* label;
    std::vector<uint32_t> parts;
  };
  std::vector<FOrder> orders = {{"in order", {1, 2, 3}},       {"3 1 2", {3, 1, 2}},
                                {"reverse", {3, 2, 1}},        {"2 3 1", {2, 3, 1}},
                                {"reverse of 64", {}},         {"pairs descending of 64", PairsDescending(64)},
                                {"shuffled 24 (a)", {}},       {"shuffled 24 (b)", {}}};
  for (uint32_t p = 64; p >= 1; --p) orders[4].parts.push_back(p);
  for (uint32_t seed : {1u, 2u}) {
    std::vector<uint32_t> shuffled(24);
    std::iota(shuffled.begin(), shuffled.end(), 1u);
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(seed));
    orders[5 + seed].parts = shuffled;
  }
  for (const FOrder& order : orders) {
    SCOPED_TRACE(order.label);
    const auto total = static_cast<uint32_t>(order.parts.size());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    MakeFile(total * 1000 - 123, total);
    fs_.written = fs_.copied = 0;
    FJoinResult last;
    for (size_t i = 0; i < order.parts.size(); ++i) {
      last = Save(order.parts[i]);
      EXPECT_TRUE(last.written);
      EXPECT_EQ(last.complete, i + 1 == order.parts.size());
    }
    EXPECT_EQ(last.fileName, "movie.mkv");
    EXPECT_FALSE(last.duplicate);
    EXPECT_EQ(last.fileSize, file_.size());
    EXPECT_EQ(ReadAll(dir_ + "movie.mkv"), file_);
    EXPECT_EQ(FilesIn(dir_), std::vector<std::string>{"movie.mkv"}) << "no part or temporary file is left";
    ASSERT_TRUE(last.fileCrc.has_value()) << "combined from the parts, not read again";
    EXPECT_EQ(*last.fileCrc, UpdateCrc32(file_.data(), file_.size(), 0));
    EXPECT_EQ(fs_.written, file_.size()) << "every part is written once";
    const double bound = file_.size() * (std::log2(total) + 1);
    EXPECT_LE(fs_.copied, bound) << "copied " << fs_.copied;
  }
}

TEST_F(PartJoinerTest, PartsAlreadyOnDiskAreNotWrittenAgain) {
  MakeFile(5000, 5);
  Save(1);
  Save(2);
  Save(4);
  fs_.written = 0;
  EXPECT_FALSE(Save(2).written) << "inside the range 1-2";
  EXPECT_FALSE(Save(4).written) << "its own part file, same content";
  EXPECT_EQ(fs_.written, 0u);
  // A part file larger than the new copy is kept: the shorter copy is the damaged one.
  FPartData shorter = Part(4);
  shorter.size -= 10;
  EXPECT_FALSE(joiner_.Save(shorter).written);
  Save(3);
  EXPECT_TRUE(Save(5).complete);
  EXPECT_EQ(ReadAll(dir_ + "movie.mkv"), file_);
  // The file is complete: a part downloaded again matches it in place and changes nothing.
  const FJoinResult again = Save(3);
  EXPECT_TRUE(again.duplicate);
  EXPECT_FALSE(again.written);
  EXPECT_EQ(FilesIn(dir_), std::vector<std::string>{"movie.mkv"});
}

TEST_F(PartJoinerTest, OnlyDigitSuffixesArePartFiles) {
  MakeFile(2000, 2);
  for (const char* other : {"movie.mkv.txt.02", "movie.mkv.02x", "movie.mkvx.01", "movie.mkv.1-", "movie.mkv.2-1"})
    WriteAll(dir_ + other, "not a part");
  Save(2);
  EXPECT_TRUE(Save(1).complete);
  EXPECT_EQ(ReadAll(dir_ + "movie.mkv"), file_);
  for (const char* other : {"movie.mkv.txt.02", "movie.mkv.02x", "movie.mkvx.01", "movie.mkv.1-", "movie.mkv.2-1"})
    EXPECT_EQ(ReadAll(dir_ + other), "not a part") << other;

  struct FName {
    const char* file;
    bool part;
    uint32_t first, last;
  };
  for (const FName& n : std::vector<FName>{{"f.07", true, 7, 7},
                                           {"f.03-07", true, 3, 7},
                                           {"f.0", false, 0, 0},
                                           {"f.07-03", false, 0, 0},
                                           {"f.txt.02", false, 0, 0},
                                           {"f.-1", false, 0, 0},
                                           {"f.1234567890", false, 0, 0}}) {
    FPartRange r;
    EXPECT_EQ(ParsePartFileName(n.file, "f", r), n.part) << n.file;
    if (n.part) {
      EXPECT_TRUE(r.first == n.first && r.last == n.last) << n.file;
    }
  }
  EXPECT_EQ(PartFileName("pic.jpg", {7, 7}, 12), "pic.jpg.07");
  EXPECT_EQ(PartFileName("pic.jpg", {3, 7}, 12), "pic.jpg.03-07");
  EXPECT_EQ(PartFileName("pic.jpg", {3, 7}, 9), "pic.jpg.3-7");
}

TEST_F(PartJoinerTest, ExistingFileOfTheSameNameIsKept) {
  MakeFile(2000, 2);
  WriteAll(dir_ + "movie.mkv", file_);
  // yEnc parts know their place: each one is found in the file and nothing is written.
  for (uint32_t p : {1u, 2u}) {
    const FJoinResult r = Save(p);
    EXPECT_TRUE(r.duplicate && !r.written && !r.complete) << p;
  }
  EXPECT_EQ(FilesIn(dir_), std::vector<std::string>{"movie.mkv"});
  // Parts without a place (uuencode) are joined, and the identical copy goes.
  auto placeless = [&](uint32_t p) {
    FPartData d = Part(p);
    d.offset.reset();
    d.fileSize.reset();
    return joiner_.Save(d);
  };
  placeless(1);
  const FJoinResult same = placeless(2);
  EXPECT_TRUE(same.complete && same.duplicate);
  EXPECT_EQ(FilesIn(dir_), std::vector<std::string>{"movie.mkv"});

  WriteAll(dir_ + "movie.mkv", "something else");
  Save(1);
  const FJoinResult other = Save(2);
  EXPECT_TRUE(other.complete && !other.duplicate);
  EXPECT_EQ(other.fileName, "movie(2).mkv");
  EXPECT_EQ(ReadAll(dir_ + "movie(2).mkv"), file_);
  EXPECT_EQ(ReadAll(dir_ + "movie.mkv"), "something else");
}

TEST_F(PartJoinerTest, FullDiskLeavesThePartsIntactAndARetryCompletes) {
  MakeFile(6000, 3);
  Save(1);
  Save(2);
  const std::vector<std::string> before = FilesIn(dir_);
  const std::string range = ReadAll(dir_ + "movie.mkv.1-2");
  fs_.budget = 700;  // part 3 is 2000 bytes: the append and the part file of its own both fail
  EXPECT_THROW(Save(3), EDecodeIoError);
  EXPECT_EQ(FilesIn(dir_), before) << "no half-written part file, no temporary file";
  EXPECT_EQ(ReadAll(dir_ + "movie.mkv.1-2"), range) << "cut back to its old length";
  fs_.budget = -1;
  EXPECT_TRUE(Save(3).complete);
  EXPECT_EQ(ReadAll(dir_ + "movie.mkv"), file_);

  // The final join fails: every piece stays, and the part arriving again completes the file.
  std::filesystem::remove_all(dir_);
  std::filesystem::create_directories(dir_);
  Save(3);
  Save(2);
  fs_.budget = 2000 + 10;  // part 1 fits; copying 2-3 after it does not
  EXPECT_THROW(Save(1), EDecodeIoError);
  EXPECT_EQ(FilesIn(dir_), (std::vector<std::string>{"movie.mkv.1", "movie.mkv.2-3"}));
  EXPECT_EQ(ReadAll(dir_ + "movie.mkv.1"), file_.substr(0, 2000));
  fs_.budget = -1;
  const FJoinResult retry = Save(1);
  EXPECT_FALSE(retry.written);
  EXPECT_TRUE(retry.complete);
  EXPECT_EQ(ReadAll(dir_ + "movie.mkv"), file_);
}

TEST(DownloadNames, FreeNamesAndPostNames) {
  const std::string dir = Scratch("zevnames_");
  for (const char* existing : {"a.jpg", "a(2).jpg", "b", "c (4).tar.gz", "c (4).tar(2).gz"}) WriteAll(dir + existing, "x");
  struct FCase {
    const char* name;
    const char* free;
  };
  for (const FCase& c : std::vector<FCase>{{"new.jpg", "new.jpg"},
                                           {"a.jpg", "a(3).jpg"},
                                           {"a(2).jpg", "a(3).jpg"},
                                           {"b", "b(2)"},
                                           {"c (4).tar.gz", "c (4).tar(3).gz"}})
    EXPECT_EQ(MakeUniqueName(SystemDecodeFs(), dir, c.name), c.free) << c.name;

  for (const char* hostile : {"../../etc/passwd", "..\\..\\x", "/abs/path", "a\x01" "b", "..", ".", "", "   ",
                              "dir/", "x\xc3"}) {
    const std::string clean = CleanPostName(hostile);
    EXPECT_FALSE(clean.empty()) << hostile;
    EXPECT_EQ(clean.find('/'), std::string::npos) << hostile;
    EXPECT_EQ(clean.find('\\'), std::string::npos) << hostile;
    EXPECT_TRUE(clean != "." && clean != "..") << hostile;
    for (char c : clean) EXPECT_GE(static_cast<unsigned char>(c), 32) << hostile;
  }
  EXPECT_LE(CleanPostName(std::string(400, 'n') + ".rar").size(), kMaxBaseName);
  EXPECT_EQ(RespellFromSubject("myphoto.jpg", "\"my photo.jpg\" yEnc (1/1)"), "my photo.jpg");
  EXPECT_EQ(RespellFromSubject("other.jpg", "\"my photo.jpg\" yEnc"), "other.jpg");
}

}  // namespace
