// The existing-file check: CSV inventories, the existing-file list and its match codes,
// the background check run, the file-name cache and the directory-to-CSV writer.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "core/Crc32.h"
#include "core/Error.h"
#include "core/Log.h"
#include "core/TextUtil.h"
#include "db/BTree.h"
#include "db/BTreeFormat.h"
#include "download/CsvFile.h"
#include "download/Dir2CSV.h"
#include "download/ExistList.h"
#include "download/FileCheck.h"

using namespace zev;
namespace fs = std::filesystem;

namespace {

std::string ScratchDir() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string dir = ::testing::TempDir() + "zevfc_" + info->test_suite_name() + "_" + info->name() + "/";
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

void WriteFile(const std::string& path, const std::string& content) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// File names the article database knows, with their keys.
class TFakeNames : public TFileNameIndex {
 public:
  explicit TFakeNames(std::map<std::string, uint64_t> names) {
    for (auto& [name, key] : names) names_[LowerAscii(name)] = key;
  }
  bool Empty() override { return names_.empty(); }
  bool Find(std::string_view name, uint64_t& key) override {
    auto it = names_.find(LowerAscii(name));
    if (it == names_.end()) return false;
    key = it->second;
    return true;
  }

 private:
  std::map<std::string, uint64_t> names_;
};

// ---------------------------------------------------------------- CSV

TEST(CsvFile, SplitsFieldsWithQuotes) {
  struct FCase {
    const char* line;
    std::vector<std::string> fields;
  };
  const FCase cases[] = {
      {"a,1,ff,/d/,", {"a", "1", "ff", "/d/", ""}},
      {"\"a,b.jpg\",3,x,/dl/,", {"a,b.jpg", "3", "x", "/dl/", ""}},
      {"\"say \"\"hi\"\"\",1", {"say \"hi\"", "1"}},
      {"\"unterminated,1,2", {"unterminated,1,2"}},
      {"mid\"quote,1", {"mid\"quote", "1"}},  // a quote inside a field is a character
      {"", {""}},
  };
  for (const FCase& c : cases) EXPECT_EQ(SplitCsvLine(c.line), c.fields) << c.line;
}

TEST(CsvFile, WrittenFieldsReadBackUnchanged) {
  for (std::string name : {"plain.jpg", "a,b.jpg", "quote\"in.rar", "\"starts", "both,\"x\".bin", "line\r\nbreak"}) {
    const std::string line = CsvField(name) + ",10," + CsvField(name) + ",";
    const std::vector<std::string> fields = SplitCsvLine(line);
    ASSERT_EQ(fields.size(), 4u) << line;
    std::string expected = name;
    for (char& c : expected)
      if (c == '\r' || c == '\n') c = ' ';
    EXPECT_EQ(fields[0], expected);
    EXPECT_EQ(fields[2], expected);
  }
}

TEST(CsvFile, InventoryLines) {
  struct FCase {
    const char* line;
    bool ok;
    const char* name;
    uint64_t size;
    const char* dir;
  };
  const FCase cases[] = {
      {"pic.jpg,1000,0,/photos/,", true, "pic.jpg", 1000, "/photos/"},
      {"pic.jpg,1000,0,\\photos\\,", true, "pic.jpg", 1000, "\\photos\\"},  // made on Windows
      {"pic.jpg,1000,0,photos/,", true, "pic.jpg", 1000, ""},               // no leading separator
      {"pic.jpg,1000,0,/photos,", true, "pic.jpg", 1000, ""},               // no trailing separator
      {"pic.jpg,12ab,0,/p/", true, "pic.jpg", 12, "/p/"},                   // digits up to the first other
      {"big.iso,99999999999999999999999,0,/p/", true, "big.iso", UINT64_MAX, "/p/"},
      {"pic.jpg,1000,0", false, "", 0, ""},
      {",1000,0,/p/", false, "", 0, ""},
  };
  for (const FCase& c : cases) {
    FCsvInventoryLine entry;
    ASSERT_EQ(ParseInventoryLine(c.line, entry), c.ok) << c.line;
    if (!c.ok) continue;
    EXPECT_EQ(entry.name, c.name) << c.line;
    EXPECT_EQ(entry.size, c.size) << c.line;
    EXPECT_EQ(entry.directory, c.dir) << c.line;
  }
}

TEST(CsvFile, ReaderSkipsOverlongLinesAndHandlesLineEnds) {
  const std::string dir = ScratchDir();
  const std::string longLine(TCsvLineReader::kMaxLine + 5000, 'x');
  WriteFile(dir + "a.csv", "first\r\n" + longLine + "\nsecond\n\nlast-without-end");
  TCsvLineReader reader(dir + "a.csv");
  std::vector<std::string> lines;
  for (std::string line; reader.Next(line);) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"first", "second", "", "last-without-end"}));
  EXPECT_THROW(TCsvLineReader(dir + "missing.csv"), EZevError);
}

// ---------------------------------------------------------------- the list and its codes

class ExistListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ScratchDir();
    SetErrorLogPath(dir_ + "error.log");
    list_ = std::make_unique<TExistList>(dir_ + "ExistLst.zev", nullptr);
  }
  FExistQuery Query(uint64_t size, bool exact, uint64_t key = 7) {
    FExistQuery q;
    q.key = key;
    q.size = size;
    q.exactSize = exact;
    q.fileName = "file.bin";
    return q;
  }

  std::string dir_;
  std::unique_ptr<TExistList> list_;
};

TEST_F(ExistListTest, SizeRulesGiveTheMatchCodes) {
  struct FCase {
    uint64_t articleSize;
    bool exact;
    uint64_t found;
    TExistSource source;
    bool csv;
    TFileMatch expected;
  };
  const FCase cases[] = {
      {1000, true, 1000, esFound, false, fmDiskExact},
      {1000, true, 1001, esFound, false, fmNone},
      {1000, false, 1040, esFound, false, fmDiskExact},  // 40 <= 5% of 1040
      {1000, false, 1200, esFound, false, fmDiskName},   // 200 <= 25% of 1200
      {1000, false, 2000, esFound, false, fmNone},
      {1000, true, 1000, esFound, true, fmCSVExact},
      {1000, false, 1200, esFound, true, fmCSVName},
      {1000, true, 1000, esWantCsv, true, fmCSVInfo},  // a want list never says more
      {1000, true, 1000, esKillCsv, true, fmCSVInfo},
      {1000, true, 1000, esScanCsv, true, fmCSVInfo},
      {1000, true, 1000 + (uint64_t{1} << 32), esFound, false, fmNone},  // beyond the record's 32 bits
  };
  for (const FCase& c : cases) {
    TExistList list(dir_ + "case.zev", nullptr);
    list.AddEntry("/dl/", c.csv ? "/lists/a.csv" : "", 7, c.found, c.source);
    EXPECT_EQ(list.Classify(Query(c.articleSize, c.exact), "/dl/", false), c.expected)
        << c.articleSize << (c.exact ? " exact" : " approx") << " vs " << c.found << " source " << int(c.source);
  }
}

TEST_F(ExistListTest, BestEntryWinsAndReportListsTheOthers) {
  list_->AddEntry("/media/lists/", "/media/a.csv", 7, 1200, esFound);
  list_->AddEntry("/dl/x/", "", 7, 1000, esFound);
  list_->AddEntry("/dl/y/", "", 8, 1000, esFound);  // another name
  EXPECT_EQ(list_->Classify(Query(1000, false), "/dl/", false), fmDiskExact);
  const std::string report = list_->Report(Query(1000, false), "/dl/");
  EXPECT_EQ(report.find("Disk match in /dl/x/, 1"), 0u) << report;
  EXPECT_NE(report.find("\r\nOther possible matches:\r\nCSV match in \"/media/a.csv\", /media/lists/, 1"),
            std::string::npos)
      << report;
  EXPECT_EQ(list_->Classify(Query(1000, false, 0), "/dl/", false), fmNone) << "key 0 matches nothing";
}

TEST_F(ExistListTest, LooksOnDiskWhenNothingWasCollected) {
  WriteFile(dir_ + "d/file.bin", std::string(1000, 'x'));
  FExistQuery q = Query(1000, true);
  EXPECT_EQ(list_->Classify(q, dir_ + "d/", false), fmNone);
  EXPECT_EQ(list_->Classify(q, dir_ + "d/", true), fmDiskExact);
  EXPECT_EQ(list_->FindOnDisk(q, dir_ + "d"), dir_ + "d/");
  // The article's own directory is tried after the given one.
  q.ownDir = dir_ + "d/";
  EXPECT_EQ(list_->Classify(q, dir_ + "elsewhere/", true), fmDiskExact);
  q.size = 900;
  EXPECT_EQ(list_->Classify(q, dir_ + "d/", true), fmNone) << "exact size differs";
  // A hostile recorded name is cleaned before it is looked for: never leaves the directory.
  q.fileName = "../d/file.bin";
  q.size = 1000;
  q.ownDir.clear();
  EXPECT_EQ(list_->Classify(q, dir_ + "e/", true), fmNone);
}

TEST_F(ExistListTest, PathsNearestCsvAndForget) {
  WriteFile(dir_ + "media/photos/2020/keep.txt", "x");
  const std::string csv = dir_ + "media/lists/photos.csv";
  list_->AddEntry("/dl/", "", 7, 1000, esFound);
  list_->AddEntry("/photos/2020/", csv, 7, 990, esScanCsv);
  list_->AddEntry("/photos/2019/", csv, 7, 500, esScanCsv);
  list_->AddEntry("/dl/", "", 9, 1, esFound);
  std::vector<std::string> paths{"/dl/"};
  list_->ListPaths(7, paths);
  EXPECT_EQ(paths, (std::vector<std::string>{"/dl/", dir_ + "media/photos/2020/", dir_ + "media/lists/photos/2019/"}));
  EXPECT_NE(list_->NearestCSVInfo(7, 1000).find("/photos/2020/, 990 bytes."), std::string::npos);
  EXPECT_EQ(list_->NearestCSVInfo(9, 1), "");

  list_->ForgetFile("/dl", 7);
  EXPECT_EQ(list_->FindOnDisk(Query(1000, true), "/nowhere/"), "");
  EXPECT_EQ(list_->Classify(Query(990, true), "/nowhere/", false), fmCSVInfo) << "the CSV entries stay";
  EXPECT_EQ(list_->Classify(Query(1, true, 9), "/nowhere/", false), fmDiskExact) << "other keys stay";
}

TEST_F(ExistListTest, RecordsKeepLongTextsWithinTheirLimit) {
  const std::string longDir = "/" + std::string(600, 'd') + "/";
  const std::string csv = "/lists/" + std::string(100, 'c') + ".csv";
  ASSERT_TRUE(list_->AddEntry(longDir, csv, 7, 5, esFound));
  std::vector<std::string> paths;
  list_->ListPaths(7, paths);
  ASSERT_EQ(paths.size(), 1u);
  EXPECT_LE(fs::file_size(dir_ + "ExistLst.zev"), 16u + 512u);
  EXPECT_EQ(list_->Count(), 1u);
}

TEST_F(ExistListTest, FileIsRemovedWithTheList) {
  list_->AddEntry("/dl/", "", 7, 5, esFound);
  EXPECT_TRUE(fs::exists(dir_ + "ExistLst.zev"));
  list_.reset();
  EXPECT_FALSE(fs::exists(dir_ + "ExistLst.zev"));
}

TEST(ExistPaths, CsvDirectoriesResolveBelowTheInventory) {
  const std::string dir = ScratchDir();
  WriteFile(dir + "disk/photos/a.jpg", "x");
  struct FCase {
    std::string csv, entry, expected;
  };
  const FCase cases[] = {
      {dir + "disk/lists/all.csv", "/photos/", dir + "disk/photos/"},   // found above the list
      {dir + "disk/lists/all.csv", "\\photos\\", dir + "disk/photos/"}, // Windows separators
      {dir + "disk/lists/all.csv", "/gone/", dir + "disk/lists/gone/"}, // nowhere: below the list
      {dir + "disk/lists/all.csv", "", dir + "disk/lists/"},
  };
  for (const FCase& c : cases) EXPECT_EQ(ResolveCsvDirectory(c.csv, c.entry), c.expected) << c.entry;
}

// ---------------------------------------------------------------- the check run

class FileCheckRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ScratchDir();
    SetErrorLogPath(dir_ + "error.log");
  }
  // Runs a check to its end.
  void RunCheck(TExistList& list, FFileCheckSettings settings, std::map<std::string, uint64_t> names) {
    list.StartCheck(std::move(settings), std::make_unique<TFakeNames>(std::move(names)));
    list.WaitForCheck();
  }
  std::string dir_;
};

TEST_F(FileCheckRunTest, ScansDirectoriesAndInventories) {
  WriteFile(dir_ + "dl/a.jpg", std::string(100, 'a'));
  WriteFile(dir_ + "dl/unknown.jpg", std::string(100, 'u'));  // no article carries it
  WriteFile(dir_ + "dl/empty.jpg", "");                       // size 0: not a file worth listing
  WriteFile(dir_ + "dl/sub/b.rar", std::string(50, 'b'));
  WriteFile(dir_ + "dl/.hidden/c.zip", std::string(10, 'c'));  // hidden directories are skipped
  WriteFile(dir_ + "dl/sub/old.csv", "c.zip,10,0,/archive/,\r\nnot-known,1,0,/x/,\r\n");
  WriteFile(dir_ + "lists/have.csv", "d.iso,4000,0,/dvd/,\r\n");
  WriteFile(dir_ + "lists/want.csv", "e.mkv,77,0,/want/,\r\n");
  fs::create_directory_symlink(dir_ + "dl", dir_ + "dl/sub/loop");  // never followed

  TExistList list(dir_ + "ExistLst.zev", nullptr);
  FFileCheckSettings s;
  s.scanDirs = {dir_ + "dl/"};
  s.foundCsv = {dir_ + "lists/have*.csv"};
  s.wantCsv = {dir_ + "lists/want.csv"};
  RunCheck(list, s, {{"a.jpg", 1}, {"b.rar", 2}, {"c.zip", 3}, {"d.iso", 4}, {"e.mkv", 5}, {"empty.jpg", 6}});

  auto code = [&](uint64_t key, uint64_t size) {
    FExistQuery q;
    q.key = key;
    q.size = size;
    q.exactSize = true;
    return list.Classify(q, "/nowhere/", false);
  };
  EXPECT_EQ(code(1, 100), fmDiskExact);
  EXPECT_EQ(code(2, 50), fmDiskExact);
  EXPECT_EQ(code(3, 10), fmCSVInfo) << "from the CSV met in the scan, not from the hidden directory";
  EXPECT_EQ(code(4, 4000), fmCSVExact);
  EXPECT_EQ(code(5, 77), fmCSVInfo);
  EXPECT_EQ(code(6, 0), fmNone);
  EXPECT_EQ(list.Count(), 5u);
  EXPECT_FALSE(list.Checking());
  EXPECT_EQ(list.StatusText(), "");
}

TEST_F(FileCheckRunTest, NewRunDropsTheOldEntries) {
  WriteFile(dir_ + "dl/a.jpg", "aaaa");
  TExistList list(dir_ + "ExistLst.zev", nullptr);
  list.AddEntry("/old/", "", 9, 1, esFound);
  FFileCheckSettings s;
  s.scanDirs = {dir_ + "dl/"};
  RunCheck(list, s, {{"a.jpg", 1}});
  EXPECT_EQ(list.Count(), 1u);
}

TEST_F(FileCheckRunTest, StopEndsALongRunAtOnce) {
  for (int i = 0; i < 200; ++i) WriteFile(dir_ + "dl/d" + std::to_string(i) + "/f.bin", "x");
  TExistList list(dir_ + "ExistLst.zev", nullptr);
  // The request arrives while the scan is in its first directory.
  list.SetStatusListener([&](const std::string& text) {
    if (text.find("Checking for files") == 0) list.RequestStop();
  });
  FFileCheckSettings s;
  s.scanDirs = {dir_ + "dl/"};
  list.StartCheck(s, std::make_unique<TFakeNames>(std::map<std::string, uint64_t>{{"f.bin", 1}}));
  list.WaitForCheck();
  EXPECT_FALSE(list.Checking());
  EXPECT_EQ(list.Count(), 0u);
}

TEST_F(FileCheckRunTest, ScanListKeepsOnlyTheOutermostDirectories) {
  std::vector<std::string> dirs;
  for (const char* d : {"/dl/a/", "/dl/b", "/dl/", "/dl/a/x/", "/other/", "/dlx/"}) AddScanDir(dirs, d);
  EXPECT_EQ(dirs, (std::vector<std::string>{"/dl/", "/other/", "/dlx/"}));
}

// The names of the file-name list, with a buffer too small for all of them.
TEST_F(FileCheckRunTest, NameCacheFallsBackToTheListBeyondItsBudget) {
  TBTree tree(dir_ + "FileLst.zev", boKeepCount | boCaseInsensitive, 1 << 20, 8);
  std::map<std::string, TDataPointer> keys;
  for (int i = 0; i < 300; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "file%03d.jpg", i);
    uint8_t header[8] = {};
    TDataPointer dp = 0;
    ASSERT_TRUE(tree.Insert(name, header, dp));
    keys[name] = dp;
  }
  for (size_t budget : {size_t{1} << 20, size_t{1500}}) {
    TFileNameCache cache(tree, budget);
    std::atomic<bool> stop{false};
    cache.Prepare(stop);
    EXPECT_FALSE(cache.Empty());
    for (auto& [name, dp] : keys) {
      uint64_t key = 0;
      ASSERT_TRUE(cache.Find(UpperAscii(name), key)) << name << " budget " << budget;
      EXPECT_EQ(key, dp);
    }
    uint64_t key = 0;
    EXPECT_FALSE(cache.Find("file999.jpg", key));
    EXPECT_FALSE(cache.Find("aaa.jpg", key));
  }
}

// ---------------------------------------------------------------- directory to CSV

TEST_F(FileCheckRunTest, DirectoryToCsvWritesWhatTheCheckReadsBack) {
  WriteFile(dir_ + "photos/a,b.jpg", "abc");
  WriteFile(dir_ + "photos/sub/z.jpg", "zz");
  WriteFile(dir_ + "photos/.hidden/h.jpg", "h");
  const std::string csv = dir_ + "inv.csv";
  std::atomic<bool> cancel{false};
  std::vector<uint64_t> progress;
  TDir2CSV writer({dir_ + "photos", csv, false, true});
  EXPECT_EQ(writer.Run(cancel, [&](uint64_t n) { progress.push_back(n); }), 2u);
  const std::string text = ReadFile(csv);
  const std::string zzCrc = FormatText("%08x", UpdateCrc32("zz", 2, 0));
  EXPECT_EQ(text, "\"a,b.jpg\",3,352441c2," + dir_ + "photos/,\r\nz.jpg,2," + zzCrc + "," + dir_ + "photos/sub/,\r\n");
  EXPECT_EQ(progress, (std::vector<uint64_t>{1, 2}));

  // Without CRCs, appended to the same file.
  TDir2CSV again({dir_ + "photos/sub", csv, true, false});
  EXPECT_EQ(again.Run(cancel), 1u);
  EXPECT_NE(ReadFile(csv).find("z.jpg,2,00000000,"), std::string::npos);

  TExistList list(dir_ + "ExistLst.zev", nullptr);
  FFileCheckSettings s;
  s.foundCsv = {csv};
  list.StartCheck(s, std::make_unique<TFakeNames>(std::map<std::string, uint64_t>{{"a,b.jpg", 1}}));
  list.WaitForCheck();
  std::vector<std::string> paths;
  list.ListPaths(1, paths);
  ASSERT_EQ(paths.size(), 1u);
  EXPECT_EQ(paths[0], dir_ + "photos/");
}

}  // namespace
