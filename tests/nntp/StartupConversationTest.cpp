#include "nntp/StartupConversation.h"

#include <gtest/gtest.h>

#include "../db/ModelTestUtil.h"
#include "StandInSource.h"
#include "db/Server.h"
#include "nntp/ResponseFramer.h"

using namespace zev;
using zev::test::MakeDateTime;

namespace {

struct FStartupFixture {
  explicit FStartupFixture(uint32_t flags = 0) : server(snNewsServer, "Example", nullptr) {
    server.Flags = server.Flags.load() | flags;
    server.SetLogin("alice", "secret");
  }
  FStartupStep Answer(TConnState state, uint16_t code, std::string statusLine = {}, std::string data = {}) {
    if (statusLine.empty()) statusLine = std::to_string(code) + " text";
    return conversation.OnResponse(state, code, statusLine, data, MakeDateTime(2024, 5, 1, 8, 0, 0));
  }
  TServer server;
  zev::test::TRecordingFeed feed;
  TStartupConversation conversation{server, &feed};
};

}  // namespace

TEST(StartupConversation, EachAnswerLeadsToItsNextStep) {
  struct {
    TConnState state;
    uint16_t code;
    uint32_t flags;
    TStartupAction action;
    TConnState next;
    const char* command;
    size_t notes;
  } cases[] = {
      {csConnected, 200, 0, saSend, csModeReader, "mode reader", 0},
      {csConnected, 201, 0, saSend, csModeReader, "mode reader", 0},
      {csConnected, 205, 0, saSend, csModeReader, "mode reader", 1},
      {csConnected, 400, 0, saFail, csError, "", 0},
      {csConnected, 400, 1u << sfAutoRetry, saRetry, csRetrying, "", 0},
      {csConnected, 502, 1u << sfAutoRetry, saFail, csError, "", 0},
      {csModeReader, 200, 1u << sfNeedAuth, saSend, csAuthUser, "authinfo user alice", 0},
      {csModeReader, 480, 1u << sfNeedAuth, saSend, csAuthUser, "authinfo user alice", 0},
      {csModeReader, 500, 0, saSend, csCheckCommands, "help", 1},
      {csModeReader, 502, 0, saFail, csError, "", 0},
      {csAuthUser, 381, 0, saSend, csAuthPass, "authinfo pass secret", 0},
      // A server that needs no password for this user (RFC 4643) has logged us in.
      {csAuthUser, 281, 0, saSend, csCheckCommands, "help", 0},
      {csAuthUser, 481, 0, saFail, csError, "", 0},
      {csAuthPass, 281, 0, saSend, csCheckCommands, "help", 0},
      {csAuthPass, 250, 0, saSend, csCheckCommands, "help", 1},
      {csAuthPass, 481, 0, saFail, csError, "", 0},
      {csAuthPass, 502, 0, saFail, csError, "", 0},
      {csCheckCommands, 500, 0, saSend, csNewsgroups, "list", 0},
      {csNewsgroups, 215, 0, saSend, csDate, "date", 0},
      {csNewsgroups, 230, 0, saSend, csDate, "date", 1},
      {csNewsgroups, 503, 0, saSend, csDate, "date", 1},
      {csNewsgroups, 480, 0, saFail, csError, "", 0},
  };
  for (const auto& c : cases) {
    FStartupFixture f(c.flags);
    const FStartupStep step = f.Answer(c.state, c.code);
    EXPECT_EQ(step.action, c.action) << int(c.state) << " " << c.code;
    EXPECT_EQ(step.next, c.next) << int(c.state) << " " << c.code;
    EXPECT_EQ(step.command, c.command) << int(c.state) << " " << c.code;
    EXPECT_EQ(step.notes.size(), c.notes) << int(c.state) << " " << c.code;
  }
}

TEST(StartupConversation, OnlyOneConnectionPerServerUpdatesTheList) {
  FStartupFixture f;
  EXPECT_EQ(f.Answer(csModeReader, 200).command, "help");
  EXPECT_EQ(f.server.CommandsChecked.load(), 1u);
  FStartupFixture later;
  later.server.CommandsChecked = 1;
  EXPECT_EQ(later.Answer(csModeReader, 200).action, saReady);
  // Without a newsgroup list nothing is claimed.
  TServer alone(snNewsServer, "Alone", nullptr);
  TStartupConversation withoutFeed(alone, nullptr);
  EXPECT_EQ(withoutFeed.OnResponse(csModeReader, 200, "200 ok", {}, 0).action, saReady);
  EXPECT_EQ(alone.CommandsChecked.load(), 0u);
}

TEST(StartupConversation, NewgroupsSinceTheLastUpdateInTheFormTheHelpShows) {
  setenv("TZ", "UTC0", 1);
  tzset();
  struct {
    uint16_t code;
    const char* help;
    const char* command;
  } cases[] = {
      {100, "  list\r\n  newgroups [yy]yymmdd hhmmss [GMT]\r\n  next", "newgroups 20240415 063000 GMT"},
      {100, "NEWGROUPS YYYYMMDD HHMMSS\r\n", "newgroups 20240415 063000 GMT"},
      {100, "newgroups date time\r\nother yyyymmdd\r\n", "newgroups 240415 063000 GMT"},
      {100, "no such line", "newgroups 240415 063000 GMT"},
      {500, "newgroups yyyymmdd", "newgroups 240415 063000 GMT"},
  };
  for (const auto& c : cases) {
    FStartupFixture f;
    f.feed.SetLast(MakeDateTime(2024, 4, 15, 6, 30, 0));
    const FStartupStep step = f.Answer(csCheckCommands, c.code, {}, c.help);
    EXPECT_EQ(step.command, c.command) << c.help;
    EXPECT_TRUE(step.toFeed);
  }
  unsetenv("TZ");
  tzset();
}

TEST(StartupConversation, DateAnswerSetsTheListTimeAndABadOneFallsBackToTheClock) {
  setenv("TZ", "UTC0", 1);
  tzset();
  FStartupFixture good;
  EXPECT_EQ(good.Answer(csDate, 111, "111 20240229235959").action, saReady);
  EXPECT_DOUBLE_EQ(good.feed.Last(), MakeDateTime(2024, 2, 29, 23, 59, 59));
  for (const char* line : {"111 garbage", "500 what?", "111 20241399000000"}) {
    FStartupFixture bad;
    EXPECT_EQ(bad.Answer(csDate, StatusCode(line), line).action, saReady) << line;
    EXPECT_DOUBLE_EQ(bad.feed.Last(), MakeDateTime(2024, 5, 1, 8, 0, 0)) << line;
  }
  unsetenv("TZ");
  tzset();
}
