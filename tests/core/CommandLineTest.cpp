#include "core/CommandLine.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "FakeHost.h"
#include "TestUtil.h"

using namespace zev;
using zev::test::ScratchDir;
using zev::test::WriteFile;

TEST(CommandLine, Switches) {
  FSwitches sw = ParseCommandLine({"-DEBUG", "/scan", "-Quick", "-dump", "-pause", "-error", "my.log", "-test2", "x"});
  EXPECT_TRUE(sw.debug);
  EXPECT_FALSE(sw.scan) << "\"/\" does not introduce a switch";
  EXPECT_TRUE(sw.quick);
  EXPECT_TRUE(sw.dump);
  EXPECT_EQ(sw.dumpArg, "") << "the next switch is no dump path";
  EXPECT_TRUE(sw.pause) << "and it still counts";
  EXPECT_EQ(sw.errorArg, "my.log");
  EXPECT_TRUE(sw.test2);
  EXPECT_FALSE(sw.autoClose);

  sw = ParseCommandLine({"-INI", "-auto", "-dump", "d.log", "-ini"});
  EXPECT_TRUE(sw.iniGiven);
  EXPECT_EQ(sw.iniArg, "-auto") << "the ini value is consumed, not read as a switch";
  EXPECT_FALSE(sw.autoClose);
  EXPECT_EQ(sw.dumpArg, "d.log");
  EXPECT_FALSE(ParseCommandLine({"-ini"}).iniGiven) << "ini as the last argument means the default";
}

TEST(CommandLine, SettingsAndLogPaths) {
  std::string root = ScratchDir();
  for (const char* d : {"prog", "cfg", "data", "cwd", "existing", "cwd/rel", "logs"}) std::filesystem::create_directories(root + d);
  WriteFile(root + "existing/Other.INI", "");
  FPathEnvironment portable{root + "prog/", true, root + "cfg/", root + "data/", root + "cwd/"};
  FPathEnvironment installed = portable;
  installed.programDirWritable = false;
  const std::string xdgIni = root + "cfg/zevrin/Zev2.ini";

  struct Case {
    std::vector<std::string> args;
    const FPathEnvironment* env;
    std::deque<bool> answers;
    std::string ini;
    std::string dataDir;
  } cases[] = {
      {{}, &portable, {}, root + "prog/Zev2.ini", root + "prog/"},
      {{}, &installed, {}, xdgIni, root + "data/zevrin/"},
      {{"-ini"}, &installed, {}, xdgIni, root + "data/zevrin/"},
      {{"-INI", root + "existing"}, &installed, {}, root + "existing/Zev2.ini", root + "existing/"},
      {{"-ini", root + "existing/Other.INI"}, &installed, {}, root + "existing/Other.INI", root + "existing/"},
      {{"-ini", root + "existing/New.INI"}, &installed, {true}, root + "existing/New.INI/Zev2.ini", root + "existing/New.INI/"},
      {{"-ini", root + "existing/new.ini"}, &installed, {}, root + "existing/new.ini", root + "existing/"},
      {{"-ini", "rel/x.ini"}, &installed, {}, root + "cwd/rel/x.ini", root + "cwd/rel/"},
      {{"-ini", root + "missing/a/b.ini"}, &installed, {false}, xdgIni, root + "data/zevrin/"},
      {{"-ini", root + "made/a/b.ini"}, &portable, {true}, root + "made/a/b.ini", root + "made/a/"},
  };
  for (const Case& c : cases) {
    zev::test::TFakeHost host;
    host.answers = c.answers;
    FSwitches sw = ParseCommandLine(c.args);
    std::string ini = ResolveIniPath(sw, *c.env, &host);
    std::string where = c.args.empty() ? "(none)" : c.args.back();
    EXPECT_EQ(ini, c.ini) << where;
    EXPECT_EQ(DefaultDataDir(ini, *c.env), c.dataDir) << where;
    EXPECT_EQ(host.questions.size(), c.answers.size()) << where;
  }
  EXPECT_TRUE(std::filesystem::is_directory(root + "made/a"));

  std::string data = root + "data/";
  struct LogCase {
    std::string given, expected;
  } logs[] = {
      {"", data + "error.log"},
      {root + "logs", root + "logs/error.log"},
      {root + "logs/my.log", root + "logs/my.log"},
      {root + "nowhere/my.log", data + "my.log"},
      {"bare.log", data + "bare.log"},
      {root + "logs/", root + "logs/error.log"},
  };
  for (const LogCase& l : logs) EXPECT_EQ(ResolveLogPath(l.given, data, "error.log"), l.expected) << l.given;
}
