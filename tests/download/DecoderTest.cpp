// TDecoder with a real article database: files assembled and recorded (flags, exact name
// and size, the existing-file list, the download logs), failures that put the article back,
// hostile names, duplicates, full disks, damaged joins, and decoding from several threads.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <random>
#include <thread>

#include "core/Config.h"
#include "core/Crc32.h"
#include "core/Log.h"
#include "core/TextUtil.h"
#include "core/ZevIniFile.h"
#include "db/Article.h"
#include "db/Expirer.h"
#include "db/Group.h"
#include "db/NwsStore.h"
#include "db/Server.h"
#include "DecoderTestSupport.h"
#include "download/Decoder.h"
#include "download/ExistList.h"

using namespace zev;
using namespace zev::test;

namespace {

class DecoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = Scratch("zevdec_");
    dl_ = dir_ + "dl/";
    SetErrorLogPath(dir_ + "error.log");
    TakePendingReport();
    store_.SetPath(dir_);
    store_.SetActive(true);
    expirer_ = std::make_unique<TExpirer>(dir_ + "Expired.zev");
    gExpirer = expirer_.get();
    gArticle = &art_;
    config_.DataStore = dir_;
    config_.Flags = 0;
    gConfig = &config_;
    group_.SetDecodeDir(dl_);
    group_.Include(gfCsvLog);
    group_.Include(gfLogFile);
    group_.Include(gfDescriptIon);
    exist_ = std::make_unique<TExistList>(dir_ + "ExistLst.zev", &art_);
    decoder_.SetExistList(exist_.get());
    decoder_.SetCompletionListener([this](const FCompletedFile& f) { completed_.push_back(f); });
  }
  void TearDown() override {
    gConfig = nullptr;
    gArticle = nullptr;
    gExpirer = nullptr;
  }

  // The articles of a file of `total` parts (1 for a single post), linked as the part
  // check links them; the subject shows the name and the size the poster claimed.
  std::vector<TArticleOffset> AddFile(const std::string& fileName, uint32_t total, uint32_t claimedSize) {
    std::vector<TArticleOffset> parts;
    TArticleLock lock(art_);
    for (uint32_t p = 1; p <= total; ++p) {
      TArticleOffset offset = 0;
      EXPECT_TRUE(art_.New(fileName + "." + std::to_string(p) + "." + std::to_string(nextId_++) + "@test", offset));
      EXPECT_TRUE(art_.Read(offset));
      art_.SetSubject(std::string("\x03 - \x05 bytes yEnc (\x04)"));
      art_.SetFileName(fileName);
      art_.SetPartNo(static_cast<uint16_t>(p));
      art_.SetPartTotal(static_cast<uint16_t>(total));
      art_.SetFileSize(claimedSize);
      art_.Include(afBuildSubject);
      art_.Include(afyEncode);
      art_.Include(afMarked);
      if (total > 1) art_.Include(afMultiPart);
      if (!parts.empty()) art_.SetPrevPartLink(parts.back());
      art_.Write();
      if (!parts.empty()) {
        EXPECT_TRUE(art_.Read(parts.back()));
        art_.SetNextPartLink(offset);
        art_.Write();
      }
      parts.push_back(offset);
    }
    return parts;
  }
  FMsgData Record(TArticleOffset offset) {
    TArticleLock lock(art_);
    EXPECT_TRUE(art_.Read(offset));
    return art_.Data();
  }
  std::string Text(TArticleOffset offset, bool subject) {
    TArticleLock lock(art_);
    EXPECT_TRUE(art_.Read(offset));
    return subject ? art_.GetSubject() : art_.GetFileName();
  }
  TDecodeResult Decode(TArticleOffset offset, std::string body, bool saveAsText = false) {
    return decoder_.Decode(&group_, server_, saveAsText, offset, body);
  }

  std::string dir_, dl_;
  TNewsStore store_{[] { return uint64_t{1} << 30; }};
  TArticle art_{store_};
  std::unique_ptr<TExpirer> expirer_;
  TZevIniFile ini_{""};
  TConfig config_{ini_};
  TGroup group_{gnNewsgroup, "alt.binaries.test", nullptr};
  TServer server_{snNewsServer, "news.test", nullptr};
  TCountingFs fs_;
  TDecoder decoder_{art_, fs_};
  std::unique_ptr<TExistList> exist_;
  std::vector<FCompletedFile> completed_;
  int nextId_ = 1;
};

TEST_F(DecoderTest, MultiPartFileIsJoinedAndRecordedOnEveryPart) {
  const std::string file = RandomBytes(9000, 7);
  const std::vector<TArticleOffset> parts = AddFile("holiday.rar", 3, 8000);
  const std::string subjectBefore = Text(parts[0], true);
  for (uint32_t p : {3u, 1u, 2u}) ASSERT_EQ(Decode(parts[p - 1], YencPart("holiday.rar", file, p, 3)), drSaved) << p;

  EXPECT_EQ(ReadAll(dl_ + "holiday.rar"), file);
  EXPECT_EQ(FilesIn(dl_), (std::vector<std::string>{"Zev.log", "descript.ion", "holiday.rar"}));
  for (TArticleOffset part : parts) {
    const FMsgData d = Record(part);
    EXPECT_TRUE(HasFlag(d, afDownloaded));
    EXPECT_TRUE(HasFlag(d, afExactSize));
    EXPECT_TRUE(HasFlag(d, afExactName));
    EXPECT_EQ(d.FFileSize, 9000u);
    EXPECT_EQ(d.FPartSize, 3000u);
    EXPECT_EQ(Text(part, true).substr(0, 24), subjectBefore.substr(0, 24)) << "the subject still shows what was posted";
  }
  EXPECT_NE(Text(parts[1], true).find("8000 bytes"), std::string::npos) << Text(parts[1], true);
  ASSERT_EQ(completed_.size(), 1u);
  EXPECT_FALSE(completed_[0].damaged);
  const uint32_t crc = UpdateCrc32(file.data(), file.size(), 0);
  EXPECT_EQ(completed_[0].crc, crc);
  EXPECT_EQ(ReadAll(dir_ + "Zev.csv"), "holiday.rar,9000," + FormatText("%08X", crc) + "," + dl_ + ",\r\n");
  EXPECT_EQ(ReadAll(dl_ + "Zev.log").find("holiday.rar\t"), 0u);
  EXPECT_EQ(ReadAll(dl_ + "descript.ion").find("holiday.rar "), 0u);
  {
    TArticleLock lock(art_);
    ASSERT_TRUE(art_.Read(parts[0]));
    EXPECT_EQ(exist_->Classify(dl_, false), fmDiskExact) << "entered in the existing-file list";
  }
}

TEST_F(DecoderTest, NameFromThePostWinsAndTheSubjectStays) {
  const std::string data = RandomBytes(500, 8);
  const TArticleOffset a = AddFile("guess", 1, 500)[0];
  const std::string subject = Text(a, true);
  ASSERT_EQ(Decode(a, YencBody("real name.bin", data, 0, 0, 1, data)), drSaved);
  EXPECT_EQ(ReadAll(dl_ + "real name.bin"), data);
  EXPECT_EQ(Text(a, false), "real name.bin");
  EXPECT_EQ(Text(a, true), subject);
  EXPECT_NE(ReadAll(dl_ + "descript.ion").find("\"real name.bin\" "), std::string::npos);
}

TEST_F(DecoderTest, BadBodiesFailAndWriteNothing) {
  const std::string data = RandomBytes(500, 9);
  const std::string good = YencBody("x.bin", data, 0, 0, 1, data);
  std::string badCrc = good;
  badCrc.replace(badCrc.find("crc32=") + 6, 8, "00000000");
  struct FCase {
    const char* label;
    std::string body;
  };
  for (const FCase& c : std::vector<FCase>{{"empty body", ""},
                                           {"whole-file CRC wrong", badCrc},
                                           {"cut before =yend", good.substr(0, good.find("=yend"))}}) {
    const TArticleOffset a = AddFile("x.bin", 1, 500)[0];
    EXPECT_EQ(Decode(a, c.body), drFailed) << c.label;
    EXPECT_FALSE(HasFlag(Record(a), afDownloaded)) << c.label;
  }
  EXPECT_FALSE(std::filesystem::exists(dl_ + "x.bin"));
  EXPECT_TRUE(completed_.empty());
  EXPECT_EQ(Decode(0x7FFFFFF0, good), drNotSaved) << "an article that is gone";
}

TEST_F(DecoderTest, DuplicatesAreNotWrittenTwice) {
  const std::string data = RandomBytes(700, 10);
  const TArticleOffset a = AddFile("d.bin", 1, 700)[0];
  ASSERT_EQ(Decode(a, YencBody("d.bin", data, 0, 0, 1, data)), drSaved);
  ASSERT_EQ(Decode(a, YencBody("d.bin", data, 0, 0, 1, data)), drSaved);
  EXPECT_EQ(FilesIn(dl_), (std::vector<std::string>{"Zev.log", "d.bin", "descript.ion"}));
  EXPECT_EQ(completed_.size(), 1u);
  const std::string other = RandomBytes(700, 11);
  ASSERT_EQ(Decode(a, YencBody("d.bin", other, 0, 0, 1, other)), drSaved);
  EXPECT_EQ(ReadAll(dl_ + "d(2).bin"), other);
}

TEST_F(DecoderTest, HostileNamesStayInsideTheDownloadDirectory) {
  const std::string data = RandomBytes(300, 12);
  for (const char* name : {"../../escape.bin", "..\\..\\escape2.bin", "/tmp/escape3.bin", "..", "run.sh"}) {
    const TArticleOffset a = AddFile("n.bin", 1, 300)[0];
    ASSERT_EQ(Decode(a, YencBody(name, data, 0, 0, 1, data)), drSaved) << name;
  }
  // Uuencode asks for mode 755: decoded files are never executable.
  const TArticleOffset u = AddFile("u.bin", 1, 300)[0];
  ASSERT_EQ(Decode(u, Received("begin 755 ../tool\n" + UuLines(data) + "`\nend\n")), drSaved);
  EXPECT_FALSE(std::filesystem::exists(dir_ + "escape.bin"));
  EXPECT_FALSE(std::filesystem::exists(dir_ + "tool"));
  for (const std::string& name : FilesIn(dl_)) {
    struct stat st {};
    ASSERT_EQ(::stat((dl_ + name).c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << name;
    EXPECT_EQ(st.st_mode & 0111, 0u) << name;
  }
  for (const char* expected : {"escape.bin", "escape2.bin", "escape3.bin", "run.sh", "tool"})
    EXPECT_EQ(ReadAll(dl_ + expected), data) << expected;
  for (const auto& entry : std::filesystem::directory_iterator(dir_))
    EXPECT_TRUE(entry.path().filename() == "dl" || entry.is_regular_file()) << entry.path();
}

TEST_F(DecoderTest, FullDiskKeepsThePartsAndTheArticleQueued) {
  const std::string file = RandomBytes(9000, 13);
  const std::vector<TArticleOffset> parts = AddFile("big.bin", 3, 9000);
  ASSERT_EQ(Decode(parts[0], YencPart("big.bin", file, 1, 3)), drSaved);
  fs_.budget = 1000;
  EXPECT_THROW(Decode(parts[1], YencPart("big.bin", file, 2, 3)), EDecodeIoError);
  EXPECT_FALSE(HasFlag(Record(parts[1]), afDownloaded));
  EXPECT_EQ(ReadAll(dl_ + "big.bin.zevpart").substr(0, 3000), file.substr(0, 3000));
  fs_.budget = -1;
  ASSERT_EQ(Decode(parts[1], YencPart("big.bin", file, 2, 3)), drSaved);
  ASSERT_EQ(Decode(parts[2], YencPart("big.bin", file, 3, 3)), drSaved);
  EXPECT_EQ(ReadAll(dl_ + "big.bin"), file);
}

TEST_F(DecoderTest, JoinedFileFailingItsPostIsKeptButNotCounted) {
  const std::string file = RandomBytes(6000, 14);
  const std::vector<TArticleOffset> parts = AddFile("bad.bin", 2, 6000);
  ASSERT_EQ(Decode(parts[0], YencPart("bad.bin", file, 1, 2)), drSaved);
  // The last part carries the whole file's CRC, and it does not match what was joined.
  std::string last = YencPart("bad.bin", file, 2, 2);
  last.insert(last.rfind("pcrc32="), "crc32=0badc0de ");
  ASSERT_EQ(Decode(parts[1], last), drSaved);
  EXPECT_EQ(ReadAll(dl_ + "bad.bin"), file) << "kept for repair tools";
  ASSERT_EQ(completed_.size(), 1u);
  EXPECT_TRUE(completed_[0].damaged);
  EXPECT_FALSE(HasFlag(Record(parts[1]), afExactSize));
  EXPECT_FALSE(std::filesystem::exists(dir_ + "Zev.csv"));
  EXPECT_NE(ReadAll(dir_ + "error.log").find("does not match its post"), std::string::npos);
}

TEST_F(DecoderTest, TextAndSubjectDirectories) {
  const TArticleOffset a = AddFile("notes", 1, 10)[0];
  ASSERT_EQ(Decode(a, Received("..hello\nworld\n"), true), drSaved);
  EXPECT_EQ(ReadAll(dl_ + "notes.nws"), "..hello\r\nworld");
  EXPECT_FALSE(HasFlag(Record(a), afExactSize)) << "a text copy is not the file";
  EXPECT_TRUE(HasFlag(Record(a), afDownloaded));

  group_.Include(gfAppendSubject);
  const TArticleOffset b = AddFile("s.bin", 1, 10)[0];
  {
    TArticleLock lock(art_);
    ASSERT_TRUE(art_.Read(b));
    art_.SetSubject("Album one");
    art_.Exclude(afBuildSubject);
    art_.Write();
  }
  const std::string data = RandomBytes(10, 15);
  ASSERT_EQ(Decode(b, YencBody("s.bin", data, 0, 0, 1, data)), drSaved);
  EXPECT_EQ(ReadAll(dl_ + "Album one/s.bin"), data);
}

TEST_F(DecoderTest, ThreadsDecodeDifferentFilesAtOnce) {
  constexpr uint32_t kFiles = 4, kParts = 12;
  std::vector<std::string> files;
  std::vector<std::vector<TArticleOffset>> articles;
  std::vector<std::pair<uint32_t, uint32_t>> work;  // file, part
  for (uint32_t f = 0; f < kFiles; ++f) {
    files.push_back(RandomBytes(kParts * 1000 - 7 * f, 100 + f));
    articles.push_back(AddFile("t" + std::to_string(f) + ".bin", kParts, kParts * 1000));
    for (uint32_t p = 1; p <= kParts; ++p) work.emplace_back(f, p);
  }
  std::shuffle(work.begin(), work.end(), std::mt19937(3));
  std::atomic<size_t> next{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (size_t i; (i = next++) < work.size();) {
        const auto [f, p] = work[i];
        std::string body = YencPart("t" + std::to_string(f) + ".bin", files[f], p, kParts);
        EXPECT_EQ(decoder_.Decode(&group_, server_, false, articles[f][p - 1], body), drSaved);
      }
    });
  for (auto& t : threads) t.join();
  for (uint32_t f = 0; f < kFiles; ++f) EXPECT_EQ(ReadAll(dl_ + "t" + std::to_string(f) + ".bin"), files[f]) << f;
  EXPECT_EQ(completed_.size(), kFiles);
}

}  // namespace
