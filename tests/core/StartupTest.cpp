#include "core/Startup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <filesystem>

#include "FakeHost.h"
#include "TestUtil.h"
#include "core/Config.h"
#include "core/Error.h"
#include "core/TerminationSignal.h"
#include "core/ZevIniFile.h"

using namespace zev;
using zev::test::ReadFile;
using zev::test::ScratchDir;
using zev::test::WriteFile;

namespace {

// A host that records the order of everything the sequence did.
class TRecordingHost : public zev::test::TFakeHost {
 public:
  explicit TRecordingHost(std::vector<std::string>& log) : log_(log) {}
  void ShowStatus(const std::string& text) override { log_.push_back("status " + text); }
  void CloseSplash() override { log_.push_back("closeSplash"); }
  int RunEventLoop() override {
    log_.push_back("eventLoop");
    if (loopThrows) throw EZevError("boom");
    return 0;
  }
  bool loopThrows = false;

 private:
  std::vector<std::string>& log_;
};

struct FStartupFixture {
  FStartupFixture() : dir(ScratchDir()), host(log) {
    std::filesystem::create_directories(dir + "prog");
    env = FPathEnvironment{dir + "prog/", true, dir + "cfg/", dir + "data/", dir};
    auto rec = [this](const char* name) { return [this, name] { log.push_back(name); }; };
    hooks.createGroupList = rec("createGroupList");
    hooks.createQueue = rec("createQueue");
    hooks.openNewsStore = [this](bool warnings, bool dump) {
      log.push_back(std::string("openNewsStore ") + (warnings ? "w" : "-") + (dump ? "d" : "-"));
    };
    hooks.createMainWindow = rec("createMainWindow");
    hooks.togglePause = rec("togglePause");
    hooks.loadQueue = [this](const std::string& f) { log.push_back("loadQueue " + f.substr(f.rfind('/') + 1)); };
    hooks.runExpiry = [this](bool present) { log.push_back(std::string("runExpiry ") + (present ? "1" : "0")); };
    hooks.rebuildQueueFromMarked = rec("rebuildQueueFromMarked");
    hooks.deleteListFiles = rec("deleteListFiles");
    hooks.destroyQueue = rec("destroyQueue");
    hooks.destroyGroupList = rec("destroyGroupList");
  }
  int Run(std::vector<std::string> args) {
    TStartup s(host, hooks, env);
    return s.Run(args);
  }
  bool Logged(const std::string& entry) const { return std::find(log.begin(), log.end(), entry) != log.end(); }
  // Makes the database look present and scanned today.
  void FreshDatabase(const std::string& data) {
    std::filesystem::create_directories(data);
    WriteFile(data + "MsgLst.zev", "");
    WriteFile(data + "GrpLst.zev", "");
  }

  std::string dir;
  std::vector<std::string> log;
  TRecordingHost host;
  FPathEnvironment env;
  FStartupHooks hooks;
};

}  // namespace

TEST(Startup, RunsEveryStepInOrderAndWritesTheSettings) {
  FStartupFixture f;
  ASSERT_EQ(f.Run({}), 0);
  std::vector<std::string> expected = {
      "status Starting...", "status Loading configuration...", "deleteListFiles", "createGroupList",
      "createQueue", "status Opening article database...", "openNewsStore wd", "status Initializing user interface...",
      "createMainWindow", "togglePause", "status Scanning database...",
      "status Determining newsgroups needing a refresh...", "closeSplash", "togglePause", "eventLoop",
      "destroyQueue", "destroyGroupList"};
  EXPECT_EQ(f.log, expected);
  std::string ini = ReadFile(f.dir + "prog/Zev2.ini");
  EXPECT_NE(ini.find("INIVersion=6"), std::string::npos);
  EXPECT_EQ(gConfig, nullptr);
}

TEST(Startup, QueueIsRestoredAccordingToScanAndSwitches) {
  struct Case {
    std::vector<std::string> args;
    bool queueFile, scanDue;
    std::vector<std::string> expected;  // the queue steps
  } cases[] = {
      {{}, true, false, {"loadQueue queue.xml"}},
      {{}, false, false, {"rebuildQueueFromMarked"}},
      {{}, false, true, {"runExpiry 0"}},
      {{}, true, true, {"runExpiry 1", "loadQueue queue.xml"}},
      {{"-quick"}, false, true, {}},
      {{"-quick"}, true, true, {"loadQueue queue.xml"}},
      {{"-quick", "-debug"}, false, false, {"runExpiry 0"}},  // debug makes the scan due and overrides quick
      {{"-scan"}, true, false, {"runExpiry 1", "loadQueue queue.xml"}},
  };
  for (const Case& c : cases) {
    FStartupFixture f;
    std::string data = f.dir + "prog/";
    f.FreshDatabase(data);
    if (c.queueFile) WriteFile(data + "queue.xml", "<queue/>");
    WriteFile(data + "Zev2.ini", std::string("[Config]\nINIVersion=6\nDBScanDate=") + (c.scanDue ? "20010101" : "29991231") + "\n");
    ASSERT_EQ(f.Run(c.args), 0);
    std::string where = (c.args.empty() ? "" : c.args[0]) + (c.queueFile ? " queue" : "") + (c.scanDue ? " due" : "");
    std::vector<std::string> steps;
    for (const std::string& e : f.log)
      if (e.rfind("loadQueue", 0) == 0 || e.rfind("runExpiry", 0) == 0 || e == "rebuildQueueFromMarked") steps.push_back(e);
    EXPECT_EQ(steps, c.expected) << where;
    EXPECT_FALSE(f.Logged("deleteListFiles")) << where;
    EXPECT_FALSE(gDebugSwitch.load());
  }
}

TEST(Startup, OldArticleDatabaseIsDiscarded) {
  FStartupFixture f;
  std::string data = f.dir + "prog/";
  f.FreshDatabase(data);
  WriteFile(data + "Zev2.ini", "[Config]\nINIVersion=6\nAutoExpire=7\n[Group:0]\nNewCount=5\nName=a.b\n"
                               "[Server:0]\nType=2\nHost=news.example.net\n[Server:1]\nType=2\nHost=../../outside\nPort=563\n");
  std::filesystem::create_directories(data + "news.example.net.119");
  WriteFile(data + "news.example.net.119/GrpLst.zev", "");
  WriteFile(data + "news.example.net.119/a.b.zev", "");
  WriteFile(f.dir + "outside.563.zev", "must survive");
  struct utimbuf old {100000, 100000};
  utime((data + "MsgLst.zev").c_str(), &old);
  ASSERT_EQ(f.Run({}), 0);
  EXPECT_FALSE(std::filesystem::exists(data + "MsgLst.zev"));
  EXPECT_TRUE(f.Logged("deleteListFiles"));
  EXPECT_TRUE(std::filesystem::exists(data + "news.example.net.119/GrpLst.zev"));
  EXPECT_FALSE(std::filesystem::exists(data + "news.example.net.119/a.b.zev"));
  EXPECT_TRUE(std::filesystem::exists(f.dir + "outside.563.zev"));
  std::string ini = ReadFile(data + "Zev2.ini");
  EXPECT_EQ(ini.find("NewCount"), std::string::npos);
  EXPECT_NE(ini.find("Name=a.b"), std::string::npos);
}

TEST(Startup, DatabaseFailureEndsWithoutSaving) {
  FStartupFixture f;
  f.hooks.openNewsStore = [](bool, bool) { throw EZevError("locked"); };
  EXPECT_EQ(f.Run({}), 1);
  EXPECT_TRUE(f.Logged("status Unable to open database!"));
  EXPECT_FALSE(f.Logged("createMainWindow"));
  EXPECT_FALSE(f.Logged("destroyQueue"));
  EXPECT_EQ(f.host.lingered, 3000);
  EXPECT_EQ(ReadFile(f.dir + "prog/Zev2.ini").find("INIVersion"), std::string::npos) << "the configuration is not saved";
}

TEST(Startup, SettingsFailureGoesStraightToShutdown) {
  FStartupFixture g;
  g.env.programDirWritable = false;
  WriteFile(g.dir + "cfg", "a file where the config directory should be");
  EXPECT_EQ(g.Run({}), 1);
  EXPECT_TRUE(g.Logged("status Could not create directory for .ini file."));
  EXPECT_FALSE(g.Logged("createGroupList"));
  EXPECT_TRUE(g.Logged("destroyQueue")) << "shutdown still runs";
}

TEST(Startup, ExceptionInTheMainPartIsLoggedAndShutdownRuns) {
  FStartupFixture f;
  f.host.loopThrows = true;
  std::string data = f.dir + "prog/";
  f.FreshDatabase(data);
  WriteFile(data + "Zev2.ini", "[Config]\nINIVersion=6\nFlags=03010000\n");  // warnings level Verbose
  EXPECT_EQ(f.Run({"-error", "err.log"}), 1);
  EXPECT_NE(ReadFile(data + "err.log").find("Exception boom in Main!\r\nTerminating Program!\r\nStack trace:"),
            std::string::npos);
  EXPECT_TRUE(f.Logged("destroyQueue"));
  EXPECT_NE(ReadFile(data + "Zev2.ini").find("INIVersion=6"), std::string::npos);
}

TEST(Startup, TerminationSignalSkipsTheEventLoopButSaves) {
  FStartupFixture f;
  TTerminationSignal::Install();
  f.hooks.createMainWindow = [] { raise(SIGTERM); };
  EXPECT_EQ(f.Run({}), 0);
  EXPECT_TRUE(TTerminationSignal::Requested());
  EXPECT_TRUE(TTerminationSignal::Wait(0));
  EXPECT_FALSE(f.Logged("eventLoop"));
  EXPECT_TRUE(std::filesystem::exists(f.dir + "prog/Zev2.ini"));
}
