#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/Config.h"
#include "core/ZevIniFile.h"
#include "filters/ExeMatcher.h"

using namespace zev;

namespace {

class ExeMatcherTest : public ::testing::Test {
 protected:
  std::string path_ = ::testing::TempDir() + "zev_exematcher/Zev2.ini";

  void SetUp() override { std::filesystem::remove_all(std::filesystem::path(path_).parent_path()); }

  std::string FileText() const {
    std::ifstream in(path_);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
};

TEST_F(ExeMatcherTest, LoadsTheDefaultWhenTheKeyIsAbsentAndSavesOnlyChanges) {
  TZevIniFile ini(path_);
  TConfig config(ini);
  TExeMatcher m;
  m.Load(config);
  EXPECT_FALSE(m.Modified());
  EXPECT_TRUE(m.Matches("/home/u/Downloads/Photo.JPG"));
  EXPECT_FALSE(m.Matches("/home/u/Downloads/setup.exe"));
  m.Save(config);
  EXPECT_FALSE(ini.ValueExists("Config", "ExePatterns"));

  EXPECT_TRUE(m.AddPattern("*.mkv"));
  m.Save(config);
  EXPECT_TRUE(m.Modified());
  EXPECT_NE(FileText().find("ExePatterns="), std::string::npos);

  TZevIniFile reread(path_);
  TConfig config2(reread);
  TExeMatcher loaded;
  loaded.Load(config2);
  EXPECT_TRUE(loaded.Matches("movie.mkv"));
  EXPECT_TRUE(loaded.Matches("a.png"));
}

TEST_F(ExeMatcherTest, StoredValueReplacesTheDefaultAndLoadAddsToTheSet) {
  TZevIniFile ini(path_);
  ini.WriteString("Config", "ExePatterns", "*.pdf,\"*.my doc\"");
  TConfig config(ini);
  TExeMatcher m;
  m.AddPattern("*.iso");
  m.Load(config);
  EXPECT_TRUE(m.Matches("x.pdf"));
  EXPECT_TRUE(m.Matches("x.my doc"));
  EXPECT_TRUE(m.Matches("x.iso"));
  EXPECT_FALSE(m.Matches("x.jpg"));
  EXPECT_FALSE(m.Modified());
}

}  // namespace
