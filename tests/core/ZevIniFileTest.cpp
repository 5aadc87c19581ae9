#include "core/ZevIniFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "TestUtil.h"
#include "core/Error.h"

using namespace zev;
using zev::test::ReadFile;
using zev::test::ScratchDir;
using zev::test::WriteFile;

TEST(ZevIniFile, KeepsUnknownContentAndExactValuesAcrossSaves) {
  std::string dir = ScratchDir();
  WriteFile(dir + "a.ini",
            "; written by hand\r\n"
            "[Config]\r\n"
            "Caption =  two spaces kept  \r\n"
            "Strange line without equals\r\n"
            "[Unknown:7]\r\n"
            "Whatever=1,2,3\r\n"
            "[config]\r\n"
            "Late=merged into Config\r\n");
  TZevIniFile ini(dir + "a.ini");
  EXPECT_EQ(ini.ReadString("CONFIG", "caption", "?"), "  two spaces kept  ");
  EXPECT_EQ(ini.ReadString("Config", "late", "?"), "merged into Config");
  EXPECT_EQ(ini.ReadString("unknown:7", "WHATEVER", "?"), "1,2,3");
  ini.WriteString("config", "CAPTION", "new");  // replaces in place, keeps the stored spelling
  ini.UpdateFile();
  std::string first = ReadFile(dir + "a.ini");
  EXPECT_EQ(first,
            "; written by hand\n\n"
            "[Config]\nCaption=new\nStrange line without equals\nLate=merged into Config\n\n"
            "[Unknown:7]\nWhatever=1,2,3\n\n");
  TZevIniFile again(dir + "a.ini");
  again.UpdateFile();
  EXPECT_EQ(ReadFile(dir + "a.ini"), first);
}

TEST(ZevIniFile, WrittenValuesCannotStartNewKeysOrSections) {
  TZevIniFile ini("");
  ini.WriteString("Group:0", "Name", "alt.binaries.x\n[Config]\r\nDataStore=/etc/");
  ini.SetText(ini.Text());
  EXPECT_FALSE(ini.SectionExists("Config"));
  EXPECT_EQ(ini.Sections(), std::vector<std::string>{"Group:0"});
  EXPECT_EQ(ini.Keys("Group:0"), std::vector<std::string>{"Name"});
}

TEST(ZevIniFile, NumbersAndBooleans) {
  struct Case {
    const char* stored;
    int64_t expected;
  } cases[] = {{"12", 12},   {" 12 ", 12}, {"-5", -5},  {"+7", 7},   {"", 99},
               {"abc", 99},  {"12x", 99},  {"+-3", 99}, {"0x10", 99}, {"99999999999999999999", 99}};
  TZevIniFile ini("");
  for (const Case& c : cases) {
    ini.WriteString("S", "K", c.stored);
    EXPECT_EQ(ini.ReadInteger("S", "K", 99), c.expected) << c.stored;
  }
  ini.WriteString("S", "B", "2");
  EXPECT_TRUE(ini.ReadBool("S", "B", false));
  ini.WriteBool("S", "B", false);
  EXPECT_EQ(ini.ReadString("S", "B", ""), "0");
  EXPECT_TRUE(ini.ReadBool("S", "Missing", true));
}

TEST(ZevIniFile, HexBytesAreInMemoryOrderWithUpperCaseDigits) {
  TZevIniFile ini("");
  uint32_t three = 3, yellow = 0x0000FFFF;
  ini.WriteHexBytes("S", "Three", 4, &three);
  ini.WriteHexBytes("S", "Yellow", 4, &yellow);
  EXPECT_EQ(ini.ReadString("S", "Three", ""), "03000000");
  EXPECT_EQ(ini.ReadString("S", "Yellow", ""), "FFFF0000");
  ini.WriteString("S", "Short", "ab1");  // one whole byte, then the text ends
  uint32_t v = 0xDEADBEEF;
  ini.ReadHexBytes("S", "Short", 4, &v);
  EXPECT_EQ(v, 0xABu);
}

TEST(ZevIniFile, SectionsAndKeysCanBeErased) {
  TZevIniFile ini("");
  ini.SetText("[A]\nx=1\ny=2\n[B]\nz=3\n");
  ini.DeleteKey("a", "X");
  ini.EraseSection("b");
  EXPECT_FALSE(ini.ValueExists("A", "x"));
  EXPECT_TRUE(ini.ValueExists("A", "y"));
  EXPECT_FALSE(ini.SectionExists("B"));
  ini.WriteString("B", "z", "4");  // a new section goes to the end
  EXPECT_EQ(ini.Text(), "[A]\ny=2\n\n[B]\nz=4\n\n");
}

namespace {
// Fails one chosen system call of the atomic write.
class TFailingOps : public TFileOps {
 public:
  explicit TFailingOps(std::string step) : step_(std::move(step)) {}
  ssize_t Write(int fd, const void* data, size_t size) override {
    if (step_ == "write") {
      // Half of the data reaches the temporary file before the disk is full.
      TFileOps::Write(fd, data, size / 2);
      errno = ENOSPC;
      return -1;
    }
    return TFileOps::Write(fd, data, size);
  }
  int Sync(int fd) override { return step_ == "sync" ? (errno = EIO, -1) : TFileOps::Sync(fd); }
  int Rename(const std::string& from, const std::string& to) override {
    return step_ == "rename" ? (errno = EACCES, -1) : TFileOps::Rename(from, to);
  }

 private:
  std::string step_;
};
}  // namespace

TEST(ZevIniFile, FailedWriteLeavesTheOldFileIntact) {
  for (const char* step : {"write", "sync", "rename"}) {
    SCOPED_TRACE(step);
    std::string dir = ScratchDir();
    WriteFile(dir + "Zev2.ini", "[Server:0]\nHost=news.example.net\n");
    TFailingOps ops(step);
    TZevIniFile ini(dir + "Zev2.ini", ops);
    for (int i = 0; i < 1000; ++i) ini.WriteInteger("Group:" + std::to_string(i), "NewCount", i);
    EXPECT_THROW(ini.UpdateFile(), EFCreateError);
    EXPECT_EQ(ReadFile(dir + "Zev2.ini"), "[Server:0]\nHost=news.example.net\n");
    int files = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir)) ++files;
    EXPECT_EQ(files, 1) << "no temporary file may be left behind";
  }
}

TEST(ZevIniFile, CreatesItsDirectoryOrSaysItCannot) {
  std::string dir = ScratchDir();
  TZevIniFile ini(dir + "deep/er/Zev2.ini");
  ini.WriteString("Config", "INIVersion", "6");
  ini.UpdateFile();
  EXPECT_EQ(ReadFile(dir + "deep/er/Zev2.ini"), "[Config]\nINIVersion=6\n\n");
  EXPECT_EQ(std::filesystem::status(dir + "deep/er/Zev2.ini").permissions() & std::filesystem::perms::others_read,
            std::filesystem::perms::none);

  WriteFile(dir + "plainfile", "x");
  try {
    TZevIniFile bad(dir + "plainfile/sub/Zev2.ini");
    FAIL() << "no exception";
  } catch (const EFCreateError& e) {
    EXPECT_STREQ(e.what(), "Could not create directory for .ini file.");
  }
}
