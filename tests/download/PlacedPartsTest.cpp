// Parts written at their place in the file: any arrival order with every byte written once
// and nothing copied, a later run carrying on from the trailer, the files left to the part
// joiner, duplicates, parts that do not make up their file, full disks and racing copies.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/Crc32.h"
#include "core/Log.h"
#include "DecoderTestSupport.h"
#include "download/PlacedParts.h"

using namespace zev;
using namespace zev::test;

namespace {

constexpr const char* kName = "movie.mkv";

class PlacedPartsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = Scratch("zevpp_");
    SetErrorLogPath(dir_ + "../zevpp_error.log");
    MakeFile(10000, 7);
  }
  void MakeFile(size_t size, uint32_t total, uint32_t seed = 1) {
    file_ = RandomBytes(size, seed);
    total_ = total;
    partSize_ = (size + total - 1) / total;
  }
  FPartData Part(uint32_t p) const { return FilePart(dir_, kName, file_, p, total_); }
  // Opens and places part p; answers what Place said (Duplicate also for a finished file).
  TPlaceOutcome Place(TPlacedParts& placed, uint32_t p) {
    bool duplicate = false;
    const FPartData part = Part(p);
    TPlacedParts::TFileRef file = placed.Open(part, duplicate);
    if (duplicate) return TPlaceOutcome::Duplicate;
    EXPECT_TRUE(file) << "part " << p;
    if (!file) return TPlaceOutcome::Duplicate;
    const TPlaceOutcome outcome = placed.Place(*file, part);
    if (outcome == TPlaceOutcome::Completed) finished_.push_back(placed.Finish(*file));
    return outcome;
  }
  std::string Trailerless() const { return ReadAll(dir_ + kName + std::string(".zevpart")).substr(0, file_.size()); }

  std::string dir_, file_;
  uint32_t total_ = 0;
  size_t partSize_ = 0;
  TCountingFs fs_;
  TPlacedParts placed_{fs_};
  std::vector<FJoinResult> finished_;
};

TEST_F(PlacedPartsTest, AnyArrivalOrderWritesEveryByteOnceAndCopiesNothing) {
  std::vector<uint32_t> inOrder(7);
  std::iota(inOrder.begin(), inOrder.end(), 1u);
  std::vector<uint32_t> reversed(inOrder.rbegin(), inOrder.rend());
  std::vector<uint32_t> shuffled = inOrder;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(5));
  for (const auto& order : {inOrder, reversed, shuffled}) {
    SetUp();
    finished_.clear();
    fs_.written = fs_.copied = 0;
    for (size_t i = 0; i < order.size(); ++i)
      EXPECT_EQ(Place(placed_, order[i]), i + 1 == order.size() ? TPlaceOutcome::Completed : TPlaceOutcome::Written);
    ASSERT_EQ(finished_.size(), 1u);
    const FJoinResult& done = finished_[0];
    EXPECT_TRUE(done.complete);
    EXPECT_FALSE(done.damaged);
    EXPECT_EQ(done.fileName, kName);
    EXPECT_EQ(done.fileSize, file_.size());
    EXPECT_EQ(done.fileCrc, UpdateCrc32(file_.data(), file_.size(), 0)) << "combined from the parts";
    EXPECT_EQ(ReadAll(dir_ + kName), file_);
    EXPECT_EQ(FilesIn(dir_), std::vector<std::string>{kName}) << "the trailer and the working name are gone";
    EXPECT_EQ(fs_.copied, 0u);
    EXPECT_EQ(fs_.written, file_.size() + 32 * (1 + total_)) << "the bytes once, one header, one slot a part";
  }
}

TEST_F(PlacedPartsTest, ALaterRunCarriesOnFromTheTrailer) {
  ASSERT_EQ(Place(placed_, 1), TPlaceOutcome::Written);
  ASSERT_EQ(Place(placed_, 3), TPlaceOutcome::Written);
  ASSERT_EQ(Place(placed_, 5), TPlaceOutcome::Written);
  {
    // Part 5's slot is torn (the program stopped while writing it): that part is not in.
    std::string onDisk = ReadAll(dir_ + kName + std::string(".zevpart"));
    onDisk[file_.size() + 32 * 5 + 20] ^= 1;
    WriteAll(dir_ + kName + std::string(".zevpart"), onDisk);
  }
  TPlacedParts later(fs_);
  fs_.written = 0;
  EXPECT_EQ(Place(later, 1), TPlaceOutcome::Duplicate);
  EXPECT_EQ(Place(later, 3), TPlaceOutcome::Duplicate);
  EXPECT_EQ(fs_.written, 0u);
  for (uint32_t p : {2u, 4u, 5u, 6u}) EXPECT_EQ(Place(later, p), TPlaceOutcome::Written) << p;
  EXPECT_EQ(Place(later, 7), TPlaceOutcome::Completed);
  EXPECT_EQ(ReadAll(dir_ + kName), file_);
}

TEST_F(PlacedPartsTest, FilesTheJoinerKeeps) {
  struct FCase {
    const char* what;
    void (*prepare)(const std::string& dir, const std::string& file);
    void (*change)(FPartData& part);
  };
  const FCase cases[] = {
      {"parts of an earlier run in part files",
       [](const std::string& dir, const std::string& file) { WriteAll(dir + kName + std::string(".2"), file.substr(0, 10)); },
       [](FPartData&) {}},
      {"a working file of a different file of that name",
       [](const std::string& dir, const std::string&) {
         WriteAll(dir + kName + std::string(".zevpart"), std::string(20000, 'x'));
       },
       [](FPartData&) {}},
      {"no place given", nullptr, [](FPartData& p) { p.offset.reset(); }},
      {"no file size given", nullptr, [](FPartData& p) { p.fileSize.reset(); }},
      {"a part reaching past the file", nullptr, [](FPartData& p) { *p.offset = *p.fileSize - 1; }},
      {"a single part", nullptr, [](FPartData& p) { p.total = 1, p.part = 1; }},
      {"an unbelievable size", nullptr, [](FPartData& p) { p.fileSize = TPlacedParts::kMaxFileSize + 1; }},
      {"more parts than believed", nullptr, [](FPartData& p) { p.total = TPlacedParts::kMaxParts + 1; }},
  };
  for (const FCase& c : cases) {
    SetUp();
    if (c.prepare) c.prepare(dir_, file_);
    TPlacedParts placed(fs_);
    FPartData part = Part(2);
    c.change(part);
    bool duplicate = true;
    EXPECT_FALSE(placed.Open(part, duplicate)) << c.what;
    EXPECT_FALSE(duplicate) << c.what;
  }
}

TEST_F(PlacedPartsTest, FinishedFilesAndTheirNames) {
  // A part of a file that is complete already is a duplicate, and nothing is started.
  WriteAll(dir_ + kName, file_);
  bool duplicate = false;
  EXPECT_FALSE(placed_.Open(Part(4), duplicate));
  EXPECT_TRUE(duplicate);
  EXPECT_EQ(FilesIn(dir_), std::vector<std::string>{kName});

  // A different file of the same name stays; the new one takes a free name.
  WriteAll(dir_ + kName, "another film");
  for (uint32_t p = 1; p <= total_; ++p) Place(placed_, p);
  ASSERT_EQ(finished_.size(), 1u);
  EXPECT_EQ(finished_[0].fileName, "movie(2).mkv");
  EXPECT_EQ(ReadAll(dir_ + "movie(2).mkv"), file_);
  EXPECT_EQ(ReadAll(dir_ + kName), "another film");
}

TEST_F(PlacedPartsTest, PartsThatDoNotMakeUpTheFileGiveADamagedFile) {
  // A hostile post: part 2 claims part 1's place, so the file keeps a hole.
  bool duplicate = false;
  for (uint32_t p = 1; p <= total_; ++p) {
    FPartData part = Part(p);
    if (p == 2) part.offset = 0;
    TPlacedParts::TFileRef file = placed_.Open(part, duplicate);
    ASSERT_TRUE(file);
    if (placed_.Place(*file, part) == TPlaceOutcome::Completed) finished_.push_back(placed_.Finish(*file));
  }
  ASSERT_EQ(finished_.size(), 1u);
  EXPECT_TRUE(finished_[0].complete);
  EXPECT_TRUE(finished_[0].damaged);
  EXPECT_FALSE(finished_[0].fileCrc);
  EXPECT_EQ(ReadAll(dir_ + kName).size(), file_.size()) << "kept for repair tools";
}

TEST_F(PlacedPartsTest, AFullDiskLeavesThePlacedPartsAndARetryCompletes) {
  ASSERT_EQ(Place(placed_, 1), TPlaceOutcome::Written);
  ASSERT_EQ(Place(placed_, 2), TPlaceOutcome::Written);
  fs_.budget = 100;
  EXPECT_THROW(Place(placed_, 3), EDecodeIoError);
  fs_.budget = -1;
  EXPECT_EQ(Trailerless().substr(0, 2 * partSize_), file_.substr(0, 2 * partSize_));
  {
    TPlacedParts later(fs_);  // part 3's slot was never written: it is not taken as in place
    for (uint32_t p = 3; p < total_; ++p) EXPECT_EQ(Place(later, p), TPlaceOutcome::Written) << p;
    EXPECT_EQ(Place(later, total_), TPlaceOutcome::Completed);
  }
  EXPECT_EQ(ReadAll(dir_ + kName), file_);
}

TEST_F(PlacedPartsTest, AWorkingFileRemovedBehindOurBackIsNeverFinishedInItsSuccessorsPlace) {
  for (uint32_t p = 1; p < total_; ++p) ASSERT_EQ(Place(placed_, p), TPlaceOutcome::Written);
  bool duplicate = false;
  TPlacedParts::TFileRef old = placed_.Open(Part(total_), duplicate);  // a handler thread holds it
  ASSERT_TRUE(old);
  std::filesystem::remove(dir_ + kName + std::string(".zevpart"));
  EXPECT_EQ(Place(placed_, 1), TPlaceOutcome::Written) << "a new working file";
  ASSERT_EQ(placed_.Place(*old, Part(total_)), TPlaceOutcome::Completed);
  EXPECT_THROW(placed_.Finish(*old), EDecodeIoError);
  EXPECT_FALSE(std::filesystem::exists(dir_ + kName));
  EXPECT_EQ(Trailerless().substr(0, partSize_), file_.substr(0, partSize_)) << "the new working file is untouched";
}

TEST_F(PlacedPartsTest, ThreadsPlaceOneFileTogetherAndExactlyOneFinishes) {
  MakeFile(200000, 40, 9);
  std::vector<uint32_t> work;
  for (uint32_t p = 1; p <= total_; ++p) work.insert(work.end(), {p, p});  // every part comes twice
  std::shuffle(work.begin(), work.end(), std::mt19937(4));
  bool duplicate = false;
  TPlacedParts::TFileRef file = placed_.Open(Part(1), duplicate);
  ASSERT_TRUE(file);
  std::atomic<size_t> next{0}, written{0}, duplicates{0}, completed{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (size_t i; (i = next++) < work.size();) {
        switch (placed_.Place(*file, Part(work[i]))) {
          case TPlaceOutcome::Written: ++written; break;
          case TPlaceOutcome::Duplicate: ++duplicates; break;
          case TPlaceOutcome::Completed: ++completed; break;
        }
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(completed, 1u);
  EXPECT_EQ(written + completed, total_);
  EXPECT_EQ(duplicates, total_);
  const FJoinResult done = placed_.Finish(*file);
  EXPECT_EQ(done.fileCrc, UpdateCrc32(file_.data(), file_.size(), 0));
  EXPECT_EQ(ReadAll(dir_ + kName), file_);
}

}  // namespace
