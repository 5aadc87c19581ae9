// The reader commands of the test news server, as a client sees them on the wire.
#include <gtest/gtest.h>

#include <thread>

#include "NewsServerFixture.h"
#include "NntpTestClient.h"

namespace zev::testserver {
namespace {

const std::string kTrickyBody = ".\n..two dots\n.leading\nplain\n. \nend\n";

class TProtocolTest : public TNewsServerFixture {
 protected:
  void FillStore(TArticleStore& store) override {
    store.AddGroup("alt.test", "A test group", 1718452800);  // 2024-06-15
    store.AddGroup("alt.empty", "Nothing here");
    for (int i = 1; i <= 5; ++i)
      store.Post("alt.test",
                 {{"From", "a <a@b.test>"},
                  {"Subject", "part " + std::to_string(i) + "\tof five"},
                  {"Date", "Sat, 15 Jun 2024 12:00:00 +0000"},
                  {"Message-ID", "<m" + std::to_string(i) + "@test>"}},
                 i == 3 ? kTrickyBody : "body " + std::to_string(i) + "\n");
    store.Remove("alt.test", 4);  // a gap, as expiry leaves them
  }

  FReply Connect(TNntpTestClient& client) { return client.Connect("127.0.0.1", Port()); }
};

TEST_F(TProtocolTest, StatusLinesOfCommands) {
  struct FCase {
    std::vector<std::string> before;  // commands sent first (replies skipped)
    std::string command;
    std::string expected;             // the whole status line
  };
  const std::vector<FCase> cases = {
      {{}, "GROUP alt.test", "211 4 1 5 alt.test"},
      {{}, "GROUP alt.empty", "211 0 1 0 alt.empty"},
      {{}, "GROUP no.such", "411 No such group no.such"},
      {{}, "STAT 1", "412 Not in a newsgroup"},
      {{}, "XOVER 1-2", "412 Not in a newsgroup"},
      {{"GROUP alt.test"}, "STAT", "223 1 <m1@test> status"},
      {{"GROUP alt.test"}, "STAT 4", "423 No such article number 4"},
      {{"GROUP alt.test"}, "STAT 99999999999999999999", "501 Syntax error"},
      {{}, "STAT <m2@test>", "223 0 <m2@test> status"},
      {{}, "BODY <gone@test>", "430 No such article"},
      {{"GROUP alt.test"}, "XOVER 6-", "423 No articles in that range"},
      {{"GROUP alt.test"}, "XHDR Subject 4", "423 No articles in that range"},
      {{"GROUP alt.test", "STAT 3"}, "NEXT", "223 5 <m5@test> status"},
      {{"GROUP alt.test", "STAT 3"}, "LAST", "223 2 <m2@test> status"},
      {{"GROUP alt.test", "STAT 5"}, "NEXT", "421 No next article"},
      {{"GROUP alt.empty"}, "STAT", "420 No current article"},
      {{}, "FROB", "500 What?"},
      {{}, "LIST FOO", "501 Syntax error"},
      {{}, "MODE STREAM", "501 Syntax error"},
      {{}, "MODE READER", "200 zevrin-newsd ready (posting ok)"},
      {{}, "NEWGROUPS 2024 000000", "501 Syntax error"},
      {{}, "NEWGROUPS 20240101 250000", "501 Syntax error"},
      {{}, "AUTHINFO PASS x", "482 Authentication commands issued out of sequence"},
      {{"AUTHINFO USER a", "AUTHINFO PASS b"}, "AUTHINFO USER a", "502 Already authenticated"},
      {{}, "POST", "440 Posting not permitted"},
      {{}, "QUIT", "205 Bye!"},
  };
  for (const FCase& c : cases) {
    TNntpTestClient client;
    EXPECT_EQ(Connect(client).line, "200 zevrin-newsd ready (posting ok)");
    for (const std::string& b : c.before) client.Command(b);
    EXPECT_EQ(client.Command(c.command).line, c.expected) << c.command;
  }
}

TEST_F(TProtocolTest, DotStuffingRoundTripsAndRawBytesAreStuffed) {
  TNntpTestClient client;
  Connect(client);
  client.Command("GROUP alt.test");
  ASSERT_EQ(client.Command("BODY 3").code, 222);
  std::string expected;
  for (size_t pos = 0; pos < kTrickyBody.size();) {
    size_t nl = kTrickyBody.find('\n', pos);
    expected += kTrickyBody.substr(pos, nl - pos) + "\r\n";
    pos = nl + 1;
  }
  EXPECT_EQ(client.ReadData(), expected);

  client.SendRaw("BODY <m3@test>\r\nQUIT\r\n");
  bool reset = false;
  const std::string raw = client.ReadUntilClosed(reset);
  EXPECT_EQ(raw,
            "222 0 <m3@test> body\r\n..\r\n...two dots\r\n..leading\r\nplain\r\n.. \r\nend\r\n.\r\n205 Bye!\r\n");
}

TEST_F(TProtocolTest, OverviewAndHeaderCommands) {
  TNntpTestClient client;
  Connect(client);
  client.Command("GROUP alt.test");
  ASSERT_EQ(client.Command("XOVER 2-").code, 224);
  std::vector<std::string> lines = client.ReadDataLines();
  ASSERT_EQ(lines.size(), 3u);  // 2, 3 and 5: number 4 is gone
  // The tab inside the subject became a blank: tabs separate the fields.
  EXPECT_TRUE(lines[0].starts_with("2\tpart 2 of five\ta <a@b.test>\tSat, 15 Jun 2024 12:00:00 +0000\t<m2@test>\t\t"))
      << lines[0];
  EXPECT_TRUE(lines[2].starts_with("5\t")) << lines[2];
  EXPECT_TRUE(lines[2].ends_with("\tXref: zevrin-newsd alt.test:5")) << lines[2];

  ASSERT_EQ(client.Command("OVER <m1@test>").code, 224);
  EXPECT_TRUE(client.ReadDataLines().at(0).starts_with("0\tpart 1 of five")) << "by Message-ID: number 0";

  ASSERT_EQ(client.Command("XHDR Message-ID 1-3").code, 221);
  EXPECT_EQ(client.ReadDataLines(), (std::vector<std::string>{"1 <m1@test>", "2 <m2@test>", "3 <m3@test>"}));
  ASSERT_EQ(client.Command("XHDR X-Missing 1-2").code, 221);
  EXPECT_EQ(client.ReadDataLines(), (std::vector<std::string>{"1 (none)", "2 (none)"}));
  ASSERT_EQ(client.Command("HDR :lines 5").code, 225);
  EXPECT_EQ(client.ReadDataLines(), (std::vector<std::string>{"5 1"}));

  ASSERT_EQ(client.Command("XPAT Subject 1-5 *of five,!part 2*").code, 221);
  EXPECT_EQ(client.ReadDataLines(),
            (std::vector<std::string>{"1 part 1 of five", "3 part 3 of five", "5 part 5 of five"}));
  ASSERT_EQ(client.Command("XPAT Subject 1- part ? of five").code, 221) << "a pattern with blanks";
  EXPECT_EQ(client.ReadDataLines().size(), 4u);

  ASSERT_EQ(client.Command("LISTGROUP alt.test 2-4").code, 211);
  EXPECT_EQ(client.ReadDataLines(), (std::vector<std::string>{"2", "3"}));
}

TEST_F(TProtocolTest, ListAndNewgroups) {
  TNntpTestClient client;
  Connect(client);
  ASSERT_EQ(client.Command("LIST ACTIVE alt.t*").code, 215);
  EXPECT_EQ(client.ReadDataLines(), (std::vector<std::string>{"alt.test 0000000005 0000000001 y"}));
  ASSERT_EQ(client.Command("LIST NEWSGROUPS").code, 215);
  EXPECT_EQ(client.ReadDataLines(),
            (std::vector<std::string>{"alt.empty\tNothing here", "alt.test\tA test group"}));
  ASSERT_EQ(client.Command("LIST OVERVIEW.FMT").code, 215);
  EXPECT_EQ(client.ReadDataLines().size(), 8u);
  // alt.test was created on 2024-06-15, alt.empty on 2024-01-01.
  for (const char* command : {"NEWGROUPS 20240301 000000 GMT", "NEWGROUPS 240301 000000"}) {
    ASSERT_EQ(client.Command(command).code, 231) << command;
    EXPECT_EQ(client.ReadDataLines(), (std::vector<std::string>{"alt.test 5 1 y"})) << command;
  }
}

TEST_F(TProtocolTest, OverlongLineIsRefusedAndTheSessionGoesOn) {
  TNntpTestClient client;
  Connect(client);
  client.SendRaw("XPAT Subject 1- " + std::string(100000, '*') + "\r\n");
  EXPECT_EQ(client.ReadStatus().code, 501);
  EXPECT_EQ(client.Command("DATE").code, 111);
}

TEST_F(TProtocolTest, TranscriptRecordsCommandsAndStatusLines) {
  {
    TNntpTestClient client;
    Connect(client);
    client.Command("GROUP alt.test");
    client.Command("BODY 1");
    client.ReadData();
    client.Command("QUIT");
  }
  FTranscript t = ClosedTranscript(1);
  EXPECT_EQ(t.Commands(), (std::vector<std::string>{"GROUP alt.test", "BODY 1", "QUIT"}));
  EXPECT_EQ(t.Statuses(), (std::vector<std::string>{"200 zevrin-newsd ready (posting ok)", "211 4 1 5 alt.test",
                                                    "222 1 <m1@test> body", "205 Bye!"}));
  EXPECT_TRUE(t.peer.starts_with("127.0.0.1:")) << t.peer;
}

TEST_F(TProtocolTest, ServesIpv6LoopbackOnTheSamePort) {
  TNntpTestClient client;
  EXPECT_EQ(client.Connect("::1", Port()).code, 200);
  client.Close();
  EXPECT_TRUE(ClosedTranscript(1).peer.starts_with("[::1]:"));
}

TEST_F(TProtocolTest, ParallelClientsGetTheirOwnAnswers) {
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  for (int k = 0; k < 8; ++k)
    threads.emplace_back([&, k] {
      TNntpTestClient client;
      client.Connect("127.0.0.1", Port());
      client.Command("GROUP alt.test");
      bool ok = true;
      for (int round = 0; round < 50; ++round) {
        const int n = (k + round) % 2 == 0 ? 1 : 5;
        ok = ok && client.Command("BODY " + std::to_string(n)).code == 222 &&
             client.ReadData() == "body " + std::to_string(n) + "\r\n";
      }
      if (ok) ++good;
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(good.load(), 8);
}

class TAuthTest : public TProtocolTest {
 protected:
  void ConfigureServer(FServerOptions& options) override {
    options.session.users = {{"alice", "secret"}};
    options.session.requireAuth = true;
    options.session.greetingCode = 201;
  }
};

TEST_F(TAuthTest, LoginRequiredBeforeReading) {
  TNntpTestClient client;
  EXPECT_EQ(Connect(client).line, "201 zevrin-newsd ready (no posting)");
  EXPECT_EQ(client.Command("GROUP alt.test").code, 480);
  EXPECT_EQ(client.Command("DATE").code, 111);
  EXPECT_EQ(client.Command("AUTHINFO USER alice").code, 381);
  EXPECT_EQ(client.Command("AUTHINFO PASS wrong").code, 481);
  EXPECT_EQ(client.Command("GROUP alt.test").code, 480);
  EXPECT_EQ(client.Command("AUTHINFO USER alice").code, 381);
  EXPECT_EQ(client.Command("AUTHINFO PASS secret").code, 281);
  EXPECT_EQ(client.Command("GROUP alt.test").code, 211);
}

class TPrivateGroupTest : public TProtocolTest {
 protected:
  void ConfigureServer(FServerOptions& options) override { options.session.users = {{"alice", "secret"}}; }
  void FillStore(TArticleStore& store) override {
    TProtocolTest::FillStore(store);
    store.Post("alt.private", {{"Subject", "s"}, {"Message-ID", "<p1@test>"}, {"Newsgroups", "alt.private"}}, "x\n");
    store.SetRequiresAuth("alt.private", true);
  }
};

TEST_F(TPrivateGroupTest, PrivateGroupNeedsLoginOthersDoNot) {
  TNntpTestClient client;
  Connect(client);
  EXPECT_EQ(client.Command("GROUP alt.test").code, 211);
  EXPECT_EQ(client.Command("GROUP alt.private").line, "480 Read access denied");
  EXPECT_EQ(client.Command("BODY <p1@test>").line, "480 Read access denied for this article");
  ASSERT_EQ(client.Command("LIST").code, 215);
  EXPECT_EQ(client.ReadDataLines().size(), 2u) << "the private group is not listed before login";
  client.Command("AUTHINFO USER alice");
  client.Command("AUTHINFO PASS secret");
  EXPECT_EQ(client.Command("GROUP alt.private").code, 211);
  EXPECT_EQ(client.Command("BODY <p1@test>").code, 222);
}

class TBulkTest : public TNewsServerFixture {
 protected:
  void FillStore(TArticleStore& store) override {
    FBulkOptions options;
    options.name = "bulk.million";
    options.count = 1000000;
    options.firstNumber = 5000001;
    store.AddBulkGroup(options);
  }
};

TEST_F(TBulkTest, MillionHeadersAreServedFromComputedOverview) {
  TNntpTestClient client;
  client.Connect("127.0.0.1", Port());
  EXPECT_EQ(client.Command("GROUP bulk.million").line, "211 1000000 5000001 6000000 bulk.million");
  ASSERT_EQ(client.Command("XOVER 5999998-6000005").code, 224);
  std::vector<std::string> lines = client.ReadDataLines();
  ASSERT_EQ(lines.size(), 3u);
  // Subject of the style posting tools produce, and a Message-ID that BODY finds again.
  EXPECT_NE(lines[2].find("\" yEnc ("), std::string::npos) << lines[2];
  std::vector<std::string> fields;
  for (size_t pos = 0; pos <= lines[2].size();) {
    size_t tab = std::min(lines[2].find('\t', pos), lines[2].size());
    fields.push_back(lines[2].substr(pos, tab - pos));
    pos = tab + 1;
  }
  ASSERT_EQ(fields.size(), 9u);
  const std::string id = fields[4];
  ASSERT_EQ(client.Command("BODY " + id).code, 222);
  const std::string body = client.ReadData();
  EXPECT_TRUE(body.starts_with("=ybegin part=")) << body.substr(0, 80);
  ASSERT_EQ(client.Command("XHDR Message-ID 6000000").code, 221);
  EXPECT_EQ(client.ReadDataLines().at(0), "6000000 " + id);
  EXPECT_EQ(client.Command("BODY <000000000000$6000000@bulk.million.bulk.test>").code, 430) << "forged hash";
}

}  // namespace
}  // namespace zev::testserver
