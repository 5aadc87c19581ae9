#include "core/Config.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "DefaultSettings.h"
#include "FakeHost.h"
#include "TestUtil.h"
#include "core/ColumnLayout.h"
#include "core/ConfigNames.h"
#include "core/ZevIniFile.h"

using namespace zev;
using namespace std::chrono;
using zev::test::ReadFile;
using zev::test::ScratchDir;
using zev::test::WriteFile;

namespace {

// Loads `text` as the settings file, runs Load (and Save when asked), returns the config.
struct FConfigFixture {
  explicit FConfigFixture(const std::string& text, std::string dataDir = {}) : dir(ScratchDir()) {
    if (!text.empty()) WriteFile(dir + "Zev2.ini", text);
    ini = std::make_unique<TZevIniFile>(dir + "Zev2.ini");
    config = std::make_unique<TConfig>(*ini, dataDir);
    config->Load();
  }
  std::string Saved() {
    config->Save();
    return ReadFile(dir + "Zev2.ini");
  }
  std::string dir;
  std::unique_ptr<TZevIniFile> ini;
  std::unique_ptr<TConfig> config;
};

}  // namespace

TEST(Config, EmptyFileSavesEveryDefaultAndASecondSaveIsIdentical) {
  FConfigFixture f("");
  std::string first = f.Saved();
  EXPECT_EQ(first, kDefaultSettingsText);
  FConfigFixture again(first);
  EXPECT_EQ(again.Saved(), first);
  EXPECT_EQ(f.config->DataStore, f.dir);
  EXPECT_TRUE(f.config->IsBold(crMarked));
  EXPECT_EQ(f.config->WarningsLevel(), TWarningsLevel::Normal);
}

TEST(Config, UnknownSectionsAndKeysSurviveLoadAndSave) {
  FConfigFixture f(
      "[Config]\nINIVersion=6\nExePatterns=*.rar,*.par2,\nFutureKey=kept\n"
      "[Server:0]\nHost=news.example.net\nDailyLimit=512\n"
      "[NZB]\nLastDir=/home/u/\n");
  std::string saved = f.Saved();
  EXPECT_NE(saved.find("ExePatterns=*.rar,*.par2,\nFutureKey=kept\n"), std::string::npos);
  EXPECT_NE(saved.find("[Server:0]\nHost=news.example.net\nDailyLimit=512\n"), std::string::npos) << "version 6: no migration";
  EXPECT_NE(saved.find("[NZB]\nLastDir=/home/u/\n"), std::string::npos);
}

TEST(Config, OldFilesAreMigrated) {
  FConfigFixture f(
      "[Config]\nINIVersion=4\nFlags=20000000\n"
      "[Colors]\nMarkedFG=00000000\nNewFG=0000FF02\n"
      "[Server:0]\nDailyLimit=512\nMonthlyLimit=2048\n"
      "[Server:1]\nMonthlyLimit=1048576\n"
      "[Server:3]\nDailyLimit=100\n"
      "[ViewFilter:0]\nShowRE=x\nHideRE=y\n");
  TConfig& c = *f.config;
  EXPECT_FALSE(c.Has(cfAuthorNamesOnly)) << "cleared below version 6";
  EXPECT_FALSE(c.Has(cfMarkWhenAdjustingScore)) << "view filters are converted only below version 3";
  EXPECT_FALSE(c.IsBold(crMarked)) << "version 4 keeps stored styles";
  EXPECT_TRUE(c.IsItalic(crNew));
  EXPECT_EQ(c.FGColors[crNew], 0xFF0000u);
  EXPECT_FALSE(f.ini->ValueExists("Server:0", "DailyLimit"));
  EXPECT_EQ(f.ini->ReadInteger("Server:0", "MonthlyLimit", 0), 2);
  EXPECT_EQ(f.ini->ReadInteger("Server:1", "MonthlyLimit", 0), 1024);
  EXPECT_EQ(f.ini->ReadInteger("Server:3", "DailyLimit", 0), 100) << "numbering stops at the first gap";
  EXPECT_NE(ReadFile(f.dir + "Zev2.ini").find("MonthlyLimit=2\n"), std::string::npos) << "written at once";
}

TEST(Config, UnversionedFilesLoseTheirColoursAndGetViewFilterBits) {
  FConfigFixture f(
      "[Colors]\nNewFG=FF000000\n"
      "[ViewFilter:0]\nShowRE=x\nHideRE=y\n"
      "[ViewFilter:1]\nShowRE=x\nFlags=A0020000\n"  // 5, 7 and 9 already set
      "[ViewFilter:3]\nShowRE=never read\n");
  TConfig& c = *f.config;
  EXPECT_FALSE(f.ini->SectionExists("Colors"));
  EXPECT_EQ(c.FGColors[crNew], 0u);
  EXPECT_TRUE(c.IsBold(crMarked));
  EXPECT_TRUE(c.Has(cfMarkWhenAdjustingScore));
  EXPECT_EQ(f.ini->ReadString("ViewFilter:0", "Flags", ""), "60060000");  // bits 5, 6, 9, 10
  EXPECT_EQ(f.ini->ReadString("ViewFilter:1", "Flags", ""), "A0020000");
  EXPECT_FALSE(f.ini->ValueExists("ViewFilter:3", "Flags"));
}

TEST(Config, ValuesAreReadAndWrittenInTheirStoredForms) {
  FConfigFixture f(
      "[Config]\nINIVersion=6\nMaxHistory=300\nShutdownMethod=sleep\nQuickFilterMethod=regex\n"
      "TrimCharList=#20#23x#2A#G1\nExtraDirs=/data/old,\nFCCSV=\"/my files/a.csv\" /b.csv,,\n"
      "AutoExpire=oops\nNewsgroupsHistory=a.b,c.d\nDataStore=/srv/zev\n");
  TConfig& c = *f.config;
  EXPECT_EQ(c.MaxHistory, 10);
  EXPECT_EQ(c.ShutdownMethod, smSuspend);
  EXPECT_EQ(c.QuickFilterMethod, qmRegEx);
  EXPECT_EQ(c.TrimCharList, " #x*#G1");
  EXPECT_EQ(c.ExtraDirs, std::vector<std::string>{"/data/old"});
  EXPECT_EQ(c.FCCSV, (std::vector<std::string>{"/my files/a.csv", "/b.csv"}));
  EXPECT_EQ(c.AutoExpire, 7);
  EXPECT_EQ(c.DataStore, "/srv/zev/");
  std::string saved = f.Saved();
  for (const char* line : {"\nShutdownMethod=Suspend\n", "\nTrimCharList=#20#23x*#23G1\n", "\nExtraDirs=/data/old,\n",
                           "\nFCCSV=\"/my files/a.csv\",/b.csv,\n", "\nDataStore=/srv/zev/\n",
                           "\nNewsgroupsHistory=a.b,c.d\n", "\nQuickFilterMethod=RegEx\n"})
    EXPECT_NE(saved.find(line), std::string::npos) << line;

  c.MaxHistory = 0;
  c.ExtraDirs.clear();
  c.DataStore = f.dir;  // the default again
  saved = f.Saved();
  for (const char* key : {"NewsgroupsHistory=", "ExtraDirs=", "DataStore="})
    EXPECT_EQ(saved.find(key), std::string::npos) << key;
}

TEST(Config, ConfirmationsReadBothStoredForms) {
  FConfigFixture f(
      "[Confirmations]\nMarkIncomplete=TRUE\nMarkExisting=false\nMarkDownloaded=Yes\nDeleteServer=no\n"
      "DeleteGroup=Ask\nDeleteFile=1\nAutoDeleteFile=1\nDeleteROFile=1\nAutoDeleteROFile=0\n");
  struct Case {
    TConfirmation c;
    bool answer, automatic;
  } cases[] = {{cnMarkIncomplete, true, false}, {cnMarkExisting, false, false}, {cnMarkDownloaded, true, true},
               {cnDeleteServer, false, true},   {cnDeleteGroup, false, false},  {cnDeleteFile, true, true},
               {cnDeleteROFile, true, false},   {cnReload, false, false}};
  for (const Case& k : cases) {
    EXPECT_EQ(f.config->ConfirmAnswer[k.c], k.answer) << ConfirmationName(k.c);
    EXPECT_EQ(f.config->ConfirmAuto[k.c], k.automatic) << ConfirmationName(k.c);
  }
}

TEST(Config, DatabaseScanDate) {
  FConfigFixture f("[Config]\nINIVersion=6\nDBScanDate=20240301\n");
  TConfig& c = *f.config;
  year_month_day mar1{year{2024}, March, day{1}}, mar2{year{2024}, March, day{2}};
  c.DeleteExpired = 1;
  EXPECT_FALSE(c.DbScanDue(mar1));
  EXPECT_TRUE(c.DbScanDue(mar2));
  c.DeleteExpired = 0;
  EXPECT_TRUE(c.DbScanDue(mar1));
  c.DeleteExpired = -1;
  EXPECT_FALSE(c.DbScanDue(mar2));
  c.SetDbScanDate(true, mar1);  // never-expire: back-dating writes today
  EXPECT_EQ(f.ini->ReadInteger("Config", "DBScanDate", 0), 20240301);
  c.DeleteExpired = 3;
  c.SetDbScanDate(true, mar2);  // across the leap day
  EXPECT_EQ(f.ini->ReadInteger("Config", "DBScanDate", 0), 20240228);
  EXPECT_TRUE(c.DbScanDue(mar2));
  EXPECT_NE(ReadFile(f.dir + "Zev2.ini").find("DBScanDate=20240228"), std::string::npos);
  f.ini->WriteString("Config", "DBScanDate", "20241399");
  EXPECT_TRUE(c.DbScanDue(mar1)) << "a damaged date must not postpone the scan forever";
}

TEST(Config, WindowGeometryDefaultsAreWrittenAtOnce) {
  FConfigFixture f("[Config]\nHeight=-600\n");
  FWindowGeometry g = f.config->ReadWindowGeometry(1920, 1080);
  EXPECT_EQ(g.left, 640);
  EXPECT_EQ(g.top, 300);
  EXPECT_TRUE(g.maximized);
  EXPECT_EQ(g.height, 600);
  EXPECT_EQ(f.ini->ReadInteger("Config", "Left", 0), 640);
  g = FConfigFixture("").config->ReadWindowGeometry(600, 400);
  EXPECT_EQ(g.left, 0);
  EXPECT_EQ(g.top, 0);
}

namespace {
class TRenameFails : public TFileOps {
 public:
  int Rename(const std::string&, const std::string&) override {
    errno = EBUSY;
    return -1;
  }
};
}  // namespace

TEST(Config, UnwritableFileAsksRetryUntilIgnored) {
  std::string dir = ScratchDir();
  WriteFile(dir + "Zev2.ini", "[Config]\nINIVersion=6\n");
  TRenameFails ops;
  TZevIniFile ini(dir + "Zev2.ini", ops);
  zev::test::TFakeHost host;
  host.answers = {true, true};  // Retry twice, then Ignore
  TConfig c(ini, {}, &host);
  c.Load();
  c.Save();
  ASSERT_EQ(host.questions.size(), 3u);
  EXPECT_EQ(host.questions[0], "Unable to write " + dir +
                                   "Zev2.ini! Make sure it is not in use by another program and then click \"Retry\".");
  EXPECT_EQ(ReadFile(dir + "Zev2.ini"), "[Config]\nINIVersion=6\n");
  EXPECT_TRUE(ini.ValueExists("Colors", "NewFG")) << "the memory image stays";
}

TEST(ConfigNames, SortKeysShutdownAndQuickFilter) {
  int code = -1;
  bool desc = false;
  EXPECT_TRUE(ParseSortKey("-filename", false, code, desc));
  EXPECT_EQ(code, skFilename);
  EXPECT_TRUE(desc);
  EXPECT_FALSE(ParseSortKey("Lines", false, code, desc)) << "extra columns only with test1";
  EXPECT_EQ(code, skFilename);
  EXPECT_TRUE(ParseSortKey("Lines", true, code, desc));
  EXPECT_EQ(code, skLines);
  EXPECT_TRUE(ParseSortCaption("date/time", false, code, desc));
  EXPECT_EQ(code, skDateTime);
  EXPECT_EQ(SortKeyName(skSubject, true), "-Subject");
  EXPECT_EQ(SortKeyName(42, false), "42");
  EXPECT_EQ(SortKeyCaption(skDirectory, false), "Download Directory");

  struct Case {
    const char* text;
    uint8_t method;
  } shutdown[] = {{"Exit", 0}, {"LOGOFF", 1}, {"hibernate", 6}, {"SLEEP", 5}, {"9", 9}, {"bogus", 0}};
  for (const Case& k : shutdown) EXPECT_EQ(ParseShutdownMethod(k.text), k.method) << k.text;
  EXPECT_EQ(ShutdownMethodName(9), "9");
  EXPECT_EQ(ParseQuickFilterMethod("case sensitive"), qmCaseSensitive);
  EXPECT_EQ(ParseQuickFilterMethod("bogus"), qmCaseInsensitive);
}

TEST(ColumnLayout, EntriesAndCaptions) {
  struct Case {
    TColumnGrid grid;
    const char* entry;
    char letter;
    int width;
    bool autoWidth;
    char align;
  } cases[] = {{TColumnGrid::Servers, "M:60C", 'M', 60, false, 'C'}, {TColumnGrid::Servers, "S:150l", 'S', 150, false, 'L'},
               {TColumnGrid::Servers, "A:80", 'A', 80, false, 'C'},  {TColumnGrid::Groups, "E:aR", 'E', 100, true, 'R'},
               {TColumnGrid::Articles, "S:300", 'S', 300, false, 'L'}, {TColumnGrid::Articles, "S:x", 'S', 100, false, 'L'},
               {TColumnGrid::Articles, "S:A", 'S', 100, true, 'L'}};
  for (const Case& k : cases) {
    FColumn c = ParseColumnEntry(k.grid, k.entry);
    EXPECT_EQ(c.letter, k.letter) << k.entry;
    EXPECT_EQ(c.autoWidth, k.autoWidth) << k.entry;
    if (!k.autoWidth) {
      EXPECT_EQ(c.width, k.width) << k.entry;
    }
    EXPECT_EQ(c.align, k.align) << k.entry;
  }
  EXPECT_EQ(ColumnCaption(TColumnGrid::Queue, 'Y'), "Type");
  EXPECT_EQ(ColumnCaption(TColumnGrid::Queue, 'Q'), "Q (unknown)");
  FConfigFixture f("");
  EXPECT_EQ(f.config->ColumnIndex('F'), 2);
  EXPECT_EQ(f.config->QueueColumnIndex('A'), 6);
  EXPECT_EQ(f.config->ColumnIndex('Z'), -1);
}
