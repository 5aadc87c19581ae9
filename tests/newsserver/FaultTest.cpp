// Injected faults: each one does to the client exactly what it says, and only when and
// where it was asked for.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "NewsServerFixture.h"
#include "NntpTestClient.h"

namespace zev::testserver {
namespace {

const std::string kBody = std::string(2000, 'x') + "\n" + "last line\n";

class TFaultTest : public TNewsServerFixture {
 protected:
  void FillStore(TArticleStore& store) override {
    store.Post("alt.test", {{"Subject", "one"}, {"Message-ID", "<one@test>"}}, kBody);
    store.Post("alt.test", {{"Subject", "two"}, {"Message-ID", "<two@test>"}}, "short\n");
  }
  std::string Failure(const std::function<void()>& action) {
    try {
      action();
    } catch (const ENntpClientError& e) {
      return e.what();
    }
    return "no failure";
  }
};

TEST_F(TFaultTest, ConnectFaults) {
  struct FCase {
    std::string fault;
    std::string failure;  // what the client sees on connecting
  };
  const std::vector<FCase> cases = {
      {"CONNECT:close,conn=1", "connection closed"},
      {"CONNECT:reset-data,conn=2", "connection reset"},
      {"CONNECT:reset-status,conn=3", "connection reset"},
      {"CONNECT:silent,conn=4", "read failed: Resource temporarily unavailable"},
  };
  for (const FCase& c : cases) AddFault(c.fault);
  for (const FCase& c : cases) {
    TNntpTestClient client;
    EXPECT_EQ(Failure([&] { client.Connect("127.0.0.1", Port(), {}, 300); }), c.failure) << c.fault;
  }
  TNntpTestClient client;
  EXPECT_EQ(client.Connect("127.0.0.1", Port()).code, 200) << "connection 5 has no fault";
  EXPECT_EQ(ClosedTranscript(3).Text(), "> 200 zevrin-newsd ready (posting ok)\n! reset after 3 bytes of the status line\n");
}

TEST_F(TFaultTest, ErrorCodesReplaceTheAnswer) {
  for (int code : {400, 411, 412, 423, 430, 480, 481, 500, 502, 503}) {
    Server().Faults().Clear();
    AddFault("BODY:error=" + std::to_string(code) + ",times=1");
    TNntpTestClient client;
    client.Connect("127.0.0.1", Port());
    client.Command("GROUP alt.test");
    EXPECT_EQ(client.Command("BODY 1").code, code);
    EXPECT_EQ(client.Command("BODY 2").code, 222) << "times=1: the next BODY is answered";
  }
  Server().Faults().Clear();
  AddFault("CONNECT:error=502/Too many connections");
  TNntpTestClient client;
  EXPECT_EQ(client.Connect("127.0.0.1", Port()).line, "502 Too many connections");
}

TEST_F(TFaultTest, ResetCutsTheAnswerWhereAsked) {
  struct FCase {
    std::string fault;
    std::string command;
    std::string received;  // everything the client gets before the reset
  };
  const std::string status = "222 1 <one@test> body\r\n";
  const std::vector<FCase> cases = {
      {"BODY:reset-status,bytes=5", "BODY 1", "222 1"},
      {"BODY:reset-data,bytes=100", "BODY 1", status + std::string(100, 'x')},
      {"BODY:reset-data", "BODY 1", status + std::string(1006, 'x')},  // half of the body
      {"BODY:reset-data,bytes=999999", "BODY 2", "222 2 <two@test> body\r\nshort\r\n"},  // before the terminator
      {"XOVER:reset-data,bytes=10", "XOVER 1-2", "224 Overview information follows\r\n1\tone\t\t\t<o"},
      {"GROUP:reset-data", "GROUP alt.test", "211 2 1 2 alt.test\r\n"},
  };
  for (const FCase& c : cases) {
    Server().Faults().Clear();
    TNntpTestClient client;
    client.Connect("127.0.0.1", Port());
    if (c.command != "GROUP alt.test") client.Command("GROUP alt.test");
    AddFault(c.fault);
    client.SendRaw(c.command + "\r\n");
    bool reset = false;
    EXPECT_EQ(client.ReadUntilClosed(reset), c.received) << c.fault;
    EXPECT_TRUE(reset) << c.fault;
  }
}

TEST_F(TFaultTest, CloseAndSilenceEndTheConversation) {
  AddFault("GROUP:close,conn=1");
  AddFault("GROUP:silent,conn=2");
  {
    TNntpTestClient client;
    client.Connect("127.0.0.1", Port());
    client.SendRaw("GROUP alt.test\r\n");
    bool reset = true;
    EXPECT_EQ(client.ReadUntilClosed(reset), "");
    EXPECT_FALSE(reset);
  }
  TNntpTestClient client;
  client.Connect("127.0.0.1", Port(), {}, 300);
  EXPECT_EQ(Failure([&] { client.Command("GROUP alt.test"); }), "read failed: Resource temporarily unavailable");
  // A silent connection must not hold up stopping the server.
  Server().Stop();
  EXPECT_EQ(ClosedTranscript(2).Text(), "> 200 zevrin-newsd ready (posting ok)\n< GROUP alt.test\n! silent\n");
}

TEST_F(TFaultTest, DripDeliversTheSameBytesSlowly) {
  AddFault("BODY:drip,bytes=7,delay=1");
  TNntpTestClient client;
  client.Connect("127.0.0.1", Port());
  client.Command("GROUP alt.test");
  EXPECT_EQ(client.Command("BODY 2").code, 222);
  EXPECT_EQ(client.ReadData(), "short\r\n");
}

// Reads raw segments as they arrive, so that the cuts the server made are visible.
std::vector<std::string> ReadSegments(int fd, size_t total) {
  std::vector<std::string> segments;
  size_t got = 0;
  char buffer[65536];
  while (got < total) {
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    segments.emplace_back(buffer, static_cast<size_t>(n));
    got += static_cast<size_t>(n);
  }
  return segments;
}

TEST_F(TFaultTest, TerminatorIsSplitAtTheAskedOffsets) {
  const std::string answer = "222 2 <two@test> body\r\nshort\r\n.\r\n";
  const size_t tailStart = answer.size() - 5;  // "\r\n.\r\n"
  for (const std::vector<int>& cuts : std::vector<std::vector<int>>{{1}, {2}, {3}, {4}, {1, 3}, {2, 4}}) {
    Server().Faults().Clear();
    FFault fault;
    fault.command = "BODY";
    fault.kind = fkSplitEnd;
    fault.splits = cuts;
    fault.delayMs = 250;
    AddFault(fault);
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(Port());
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ReadSegments(fd, std::string("200 zevrin-newsd ready (posting ok)\r\n").size());
    send(fd, "GROUP alt.test\r\n", 16, 0);
    ReadSegments(fd, std::string("211 2 1 2 alt.test\r\n").size());
    send(fd, "BODY 2\r\n", 8, 0);
    std::vector<std::string> segments = ReadSegments(fd, answer.size());
    close(fd);
    std::string joined;
    std::vector<size_t> boundaries;
    for (const std::string& segment : segments) {
      joined += segment;
      boundaries.push_back(joined.size());
    }
    EXPECT_EQ(joined, answer);
    // Each cut is followed by a pause long enough that the waiting read ends exactly there.
    for (int cut : cuts)
      EXPECT_NE(std::find(boundaries.begin(), boundaries.end(), tailStart + static_cast<size_t>(cut)), boundaries.end())
          << "no segment ends at tail offset " << cut;
  }
}

TEST_F(TFaultTest, FaultsPickConnectionsAndOccasions) {
  AddFault("BODY:error=430,conn=1");
  AddFault("BODY:error=503,conn=2,skip=1,times=1");
  TNntpTestClient first, second;
  first.Connect("127.0.0.1", Port());
  second.Connect("127.0.0.1", Port());
  first.Command("GROUP alt.test");
  second.Command("GROUP alt.test");
  EXPECT_EQ(first.Command("BODY 2").code, 430);
  EXPECT_EQ(first.Command("BODY 2").code, 430) << "no times limit: always";
  EXPECT_EQ(second.Command("BODY 2").code, 222) << "skip=1: the first passes";
  second.ReadData();
  EXPECT_EQ(second.Command("BODY 2").code, 503);
  EXPECT_EQ(second.Command("BODY 2").code, 222) << "times=1";
}

TEST_F(TFaultTest, RefusingClosesThePortUntilLifted) {
  Server().SetRefusing(true);
  TNntpTestClient client;
  EXPECT_EQ(Failure([&] { client.Connect("127.0.0.1", Port()); }), "connect: Connection refused");
  EXPECT_EQ(Failure([&] { client.Connect("::1", Port()); }), "connect: Connection refused");
  Server().SetRefusing(false);
  EXPECT_EQ(client.Connect("127.0.0.1", Port()).code, 200);
}

class TLimitTest : public TFaultTest {
 protected:
  void ConfigureServer(FServerOptions& options) override { options.maxConnections = 1; }
};

TEST_F(TLimitTest, ConnectionsOverTheLimitAreTurnedAway) {
  TNntpTestClient first, second;
  EXPECT_EQ(first.Connect("127.0.0.1", Port()).code, 200);
  EXPECT_EQ(second.Connect("127.0.0.1", Port()).line, "400 Too many connections, try again later");
  first.Close();
  // Both the first and the turned-away connection count until their workers end.
  ClosedTranscript(1);
  ClosedTranscript(2);
  EXPECT_EQ(second.Connect("127.0.0.1", Port()).code, 200) << "room again";
}

TEST(FaultSpecTest, ParsesTheNotationAndRejectsNonsense) {
  FFault f;
  std::string error;
  ASSERT_TRUE(ParseFault("body:reset-data,bytes=10,conn=2,skip=1,times=3", f, error)) << error;
  EXPECT_EQ(f.command, "BODY");
  EXPECT_EQ(f.kind, fkReset);
  EXPECT_EQ(f.resetPoint, rpData);
  EXPECT_EQ(f.bytes, 10u);
  EXPECT_EQ(f.connection, 2u);
  EXPECT_EQ(f.skip, 1u);
  EXPECT_EQ(f.times, 3u);
  ASSERT_TRUE(ParseFault("XOVER:split=1/3", f, error));
  EXPECT_EQ(f.splits, (std::vector<int>{1, 3}));
  ASSERT_TRUE(ParseFault("CONNECT:error=502/Go away now", f, error)) << error;
  EXPECT_EQ(f.code, 502);
  EXPECT_EQ(f.text, "Go away now");
  for (const char* bad : {"", "BODY", ":close", "BODY:explode", "BODY:error=42", "BODY:split=6", "BODY:close=1",
                          "BODY:close,conn", "BODY:close,conn=x", "BODY:close,color=1", "BODY:error=99999999999999999999"}) {
    EXPECT_FALSE(ParseFault(bad, f, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

}  // namespace
}  // namespace zev::testserver
