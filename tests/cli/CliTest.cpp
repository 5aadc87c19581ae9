// zevrin-cli as a user runs it: a settings file of its own, the test news server, and
// the commands in turn; the output and the exit codes are what scripts rely on.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "NewsServerFixture.h"

namespace zev::test {
namespace {

struct FRun {
  int code = -1;
  std::string out;
};

class CliTest : public testserver::TNewsServerFixture {
 protected:
  void ConfigureServer(testserver::FServerOptions& options) override {
    options.session.users = {{"reader", "secret"}};
  }
  void FillStore(testserver::TArticleStore& store) override {
    for (int part = 1; part <= 3; ++part)
      store.Post("alt.binaries.cli",
                 {{"Subject", "holiday - \"beach.jpg\" yEnc (" + std::to_string(part) + "/3)"},
                  {"From", "Poster <poster@example.com>"},
                  {"Message-ID", "<beach" + std::to_string(part) + "@zevrin.test>"}},
                 std::string(part == 3 ? 500 : 2000, 'x') + "\n");
    store.Post("alt.binaries.cli", {{"Subject", "notes.txt (1/1)"}, {"Message-ID", "<notes@zevrin.test>"}}, "n\n");
    store.Post("alt.private", {{"Subject", "secret (1/1)"}, {"Message-ID", "<secret@zevrin.test>"}}, "s\n");
    store.SetRequiresAuth("alt.private", true);
  }
  void SetUp() override {
    TNewsServerFixture::SetUp();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = ::testing::TempDir() + "zev_cli_" + info->name() + "/";
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }

  // Runs zevrin-cli with the test's settings file; standard output is returned.
  FRun Cli(const std::string& arguments) {
    const std::string command =
        std::string(ZEV_CLI_PROGRAM) + " -ini " + dir_ + "Zev2.ini " + arguments + " 2>" + dir_ + "stderr.txt";
    FRun run;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
  }
  std::string Errors() {
    std::ifstream in(dir_ + "stderr.txt");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::string dir_;
};

TEST_F(CliTest, AddSubscribeRefreshAndList) {
  const std::string server = "127.0.0.1:" + std::to_string(Port());
  EXPECT_EQ(Cli("add-server " + server + " --connections 2").code, 0) << Errors();
  EXPECT_EQ(Cli("add-server " + server).code, 1);
  FRun servers = Cli("servers");
  EXPECT_EQ(servers.out, "127.0.0.1\t" + server + "\tplain\t2\tnormal\t\n");
  EXPECT_EQ(Cli("subscribe alt.binaries.cli").code, 0);
  FRun refresh = Cli("refresh");
  EXPECT_EQ(refresh.code, 0) << Errors();
  EXPECT_EQ(refresh.out, "alt.binaries.cli\t4\n");
  FRun list = Cli("list alt.binaries.cli");
  EXPECT_EQ(list.code, 0);
  // One row per file (the size column aside): the three parts are one complete file.
  std::vector<std::string> rows;
  std::istringstream lines(list.out);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> cells;
    std::istringstream row(line);
    for (std::string cell; std::getline(row, cell, '\t');) cells.push_back(cell);
    if (line.back() == '\t') cells.push_back("");
    ASSERT_EQ(cells.size(), 5u) << line;
    rows.push_back(cells[0] + "|" + cells[1] + "|" + cells[2] + "|" + cells[4]);
  }
  EXPECT_EQ(rows, (std::vector<std::string>{"holiday - \"beach.jpg\" yEnc (3/3)|beach.jpg|3/3|C",
                                            "notes.txt (1/1)|notes.txt|1/1|"}));
  FRun groups = Cli("groups");
  EXPECT_EQ(groups.out, "alt.binaries.cli\t4\t0\t0\t127.0.0.1\n");
  // Nothing new: a second refresh stores nothing.
  EXPECT_EQ(Cli("refresh alt.binaries.cli").out, "alt.binaries.cli\t0\n");
}

TEST_F(CliTest, ExitCodesTellWhatWentWrong) {
  const std::string server = "127.0.0.1:" + std::to_string(Port());
  struct FCase {
    std::string arguments;
    int code;
  } cases[] = {
      {"", 2},
      {"frobnicate", 2},
      {"add-server", 2},
      {"add-server host:99999", 2},
      {"add-server " + server + " --password-file /nonexistent --user u", 1},
      {"list alt.nothing", 4},
      {"refresh alt.nothing", 4},
      {"refresh", 4},
      {"subscribe ../escape", 2},
      {"get", 2},
      {"get alt.binaries.cli", 2},
      {"get alt.nothing '*'", 4},
      {"run now", 2},
  };
  for (const FCase& c : cases) EXPECT_EQ(Cli(c.arguments).code, c.code) << c.arguments << ": " << Errors();
}

// A group the server lists only after a log-in is not carried for a server added without
// one; the refresh says so instead of trying.
TEST_F(CliTest, GroupHiddenWithoutLoginIsNotCarried) {
  ASSERT_EQ(Cli("add-server 127.0.0.1:" + std::to_string(Port())).code, 0);
  ASSERT_EQ(Cli("subscribe alt.private").code, 0);
  EXPECT_EQ(Cli("refresh").code, 4);
  EXPECT_NE(Errors().find("no news server carries alt.private"), std::string::npos) << Errors();
}

TEST_F(CliTest, LoginFromAPasswordFile) {
  std::ofstream(dir_ + "password") << "secret\n";
  ASSERT_EQ(Cli("add-server 127.0.0.1:" + std::to_string(Port()) + " --user reader --password-file " + dir_ +
                "password")
                .code,
            0)
      << Errors();
  ASSERT_EQ(Cli("subscribe alt.private").code, 0);
  FRun refresh = Cli("refresh");
  EXPECT_EQ(refresh.code, 0) << Errors();
  EXPECT_EQ(refresh.out, "alt.private\t1\n");
}

class CliLoginTest : public CliTest {
 protected:
  void ConfigureServer(testserver::FServerOptions& options) override {
    CliTest::ConfigureServer(options);
    options.session.requireAuth = true;
  }
};

// A server that wants a log-in it does not get: the refresh gives up at once with the
// server's answer instead of waiting for ever.
TEST_F(CliLoginTest, RefusedLoginEndsTheRefresh) {
  ASSERT_EQ(Cli("add-server 127.0.0.1:" + std::to_string(Port())).code, 0);
  ASSERT_EQ(Cli("subscribe alt.binaries.cli").code, 0);
  EXPECT_EQ(Cli("refresh").code, 3);
  EXPECT_NE(Errors().find("480"), std::string::npos) << Errors();
}

}  // namespace
}  // namespace zev::test
