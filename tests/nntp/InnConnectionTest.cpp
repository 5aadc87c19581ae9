// The program's connections against a real server: INN 2.7 on loopback, started by
// scripts/inn-lab.sh and filled with the test server's generated content. Needs root (the
// script installs and runs INN); skipped without it, except in CI, where it must run.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <sstream>

#include "../db/ModelTestUtil.h"
#include "ArticleGenerator.h"
#include "InnLab.h"
#include "StandInSource.h"
#include "TestCertificates.h"
#include "core/ZevIniFile.h"
#include "db/ServerTree.h"
#include "nntp/ConnectionPool.h"
#include "nntp/TlsContext.h"

using namespace zev;
using namespace zev::test;

namespace {

const ::testing::Environment* const kInn =
    ::testing::AddGlobalTestEnvironment(new testserver::TInnLabEnvironment("nntp", "--seed 1 --generate standard"));

testserver::FInnLab& Lab() { return testserver::InnLab(); }

class TInnConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Lab().ready) GTEST_SKIP() << Lab().skipReason;
    dir_ = ScratchDir();
    log_ = std::make_unique<TCapturedLog>(dir_);
    testserver::TArticleGenerator generator(content_, 1);
    generator.PostStandardSet({});
    manifest_ = generator.Manifest();
  }
  void TearDown() override { pool_.reset(); }

  TServer& AddServer(uint16_t port, bool tls = false, const std::string& pass = {}, const std::string& pin = {}) {
    TServer* root = tree_.Roots().empty() ? tree_.CreateServerNode("Servers", snRoot, nullptr)
                                          : tree_.Roots()[0].get();
    TServer* server = tree_.CreateServerNode("INN", snNewsServer, root);
    server->Flags = ServerFlagBit(sfAlways);  // no retry on any error: failures must show
    server->SetHost("127.0.0.1");
    server->Port = port;
    server->Retry = 1;
    server->UseTls = tls;
    server->SetTlsFingerprint(pin);
    if (!pass.empty()) {
      server->Include(sfNeedAuth);
      server->SetLogin("testuser", pass);
    }
    tree_.AdjustSlots(*server);
    return *server;
  }
  TServer& Slot(TServer& server) { return *server.Children()[0]; }
  TConnectionPool& Pool() {
    if (!pool_) {
      FConnectionEnv env;
      env.source = &source_;
      env.feed = &feed_;
      env.tls = tls_;
      env.logDir = dir_ + "logs";
      pool_ = std::make_unique<TConnectionPool>(env);
    }
    return *pool_;
  }
  // Runs the stand-in's items on one connection of `server`; false when they did not
  // all finish.
  bool Run(TServer& server) {
    if (Pool().StartSlot(Slot(server), false, 1) != 1) return false;
    return source_.WaitAllDone(std::chrono::seconds(60));
  }
  // What INN sends for an article body: our stuffed body without its last line end.
  std::string WireBody(const std::string& messageId) {
    auto lock = content_.ReadLock();
    std::string body(content_.FindMessageId(messageId)->Body());
    return body.substr(0, body.size() - 2);
  }

  std::string dir_;
  std::unique_ptr<TCapturedLog> log_;
  testserver::TArticleStore content_;
  testserver::FManifest manifest_;
  TZevIniFile ini_{""};
  TServerTree tree_{ini_};
  TStandInSource source_;
  TRecordingFeed feed_;
  std::shared_ptr<TTlsContext> tls_;
  std::unique_ptr<TConnectionPool> pool_;
};

}  // namespace

TEST_F(TInnConnectionTest, FirstConnectionListsTheGroupsAndTakesTheServerDate) {
  source_.Add("group zevrin.test.text", dmNone, false);
  TServer& server = AddServer(Lab().port);
  ASSERT_TRUE(Run(server));
  EXPECT_EQ(source_.ItemAt(0).code, 211);
  EXPECT_NE(feed_.Data().find("zevrin.test.binaries.yenc "), std::string::npos) << feed_.Data();
  EXPECT_EQ(feed_.Updates(), 1);
  EXPECT_NEAR(feed_.Last(), NowLocal(), 1.0 / 24 / 60) << "INN's clock, turned into local time";
}

TEST_F(TInnConnectionTest, LoginRightAndWrong) {
  source_.Add("group zevrin.test.text", dmNone, false);
  TServer& right = AddServer(Lab().authPort, false, "testpass");
  right.CommandsChecked = 1;
  ASSERT_TRUE(Run(right));
  EXPECT_EQ(source_.ItemAt(0).code, 211);

  TServer& wrong = AddServer(Lab().authPort, false, "wrong");
  wrong.CommandsChecked = 1;
  ASSERT_EQ(Pool().StartSlot(Slot(wrong), false, 1), 1);
  Pool().StopSlots(right, true, true);
  ASSERT_TRUE(Pool().WaitAllEnded(std::chrono::seconds(60)));
  EXPECT_EQ(Slot(wrong).State(), csError);
  EXPECT_TRUE(Slot(wrong).Status.Get(TSlotStatus::StatusMessage).starts_with("481"))
      << Slot(wrong).Status.Get(TSlotStatus::StatusMessage);
  EXPECT_EQ(log_->Text().find("wrong"), std::string::npos) << "no password in the error log";
}

TEST_F(TInnConnectionTest, TlsTrustedUntrustedAndPinned) {
  source_.Add("group zevrin.test.text", dmNone, false);
  tls_ = std::make_shared<TTlsContext>(Lab().caPem, false);
  TServer& trusted = AddServer(Lab().tlsPort, true);
  trusted.CommandsChecked = 1;
  ASSERT_TRUE(Run(trusted));
  EXPECT_TRUE(Slot(trusted).Encrypted.load());
  pool_.reset();

  tls_.reset();  // the system store does not know the lab's CA
  TServer& untrusted = AddServer(Lab().tlsPort, true);
  ASSERT_EQ(Pool().StartSlot(Slot(untrusted), false, 1), 1);
  ASSERT_TRUE(Pool().WaitAllEnded(std::chrono::seconds(60)));
  EXPECT_EQ(Slot(untrusted).State(), csError);
  EXPECT_TRUE(Slot(untrusted).Status.Get(TSlotStatus::StatusMessage).starts_with("certificate not trusted: "));

  source_.Add("group zevrin.test.text", dmNone, false);
  TServer& pinned = AddServer(Lab().tlsPort, true, {}, testserver::CertificateFingerprint(Lab().certPem));
  pinned.CommandsChecked = 1;
  ASSERT_TRUE(Run(pinned));
  EXPECT_EQ(source_.ItemAt(1).code, 211);
}

TEST_F(TInnConnectionTest, OverviewOfAGroup) {
  const std::string group = "zevrin.test.binaries.yenc";
  std::map<std::string, std::string> subjectById;
  for (const testserver::FManifestFile& f : manifest_.files)
    if (std::find(f.groups.begin(), f.groups.end(), group) != f.groups.end())
      for (const testserver::FManifestPart& p : f.parts) subjectById[p.messageId] = p.subject;
  source_.Add("group " + group, dmNone, false);
  const size_t xover = source_.Add("xover 1-" + std::to_string(subjectById.size() + 10), dmLines, true);
  TServer& server = AddServer(Lab().port);
  server.CommandsChecked = 1;
  ASSERT_TRUE(Run(server));
  const FStandInItem item = source_.ItemAt(xover);
  ASSERT_EQ(item.code, 224);
  std::istringstream lines(item.data);
  size_t count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
    ASSERT_GE(fields.size(), 8u) << line;
    EXPECT_EQ(subjectById[fields[4]], fields[1]) << line;
  }
  EXPECT_EQ(count, subjectById.size());
}

TEST_F(TInnConnectionTest, BodyByNumberAndByMessageId) {
  const testserver::FManifestPart& part = manifest_.FindFile("photo.jpg")->parts[1];
  source_.Add("group zevrin.test.text", dmNone, false);
  source_.Add("body 1");
  source_.Add("body " + part.messageId);
  TServer& server = AddServer(Lab().port);
  server.CommandsChecked = 1;
  ASSERT_TRUE(Run(server));
  const FStandInItem byNumber = source_.ItemAt(1);
  ASSERT_EQ(byNumber.code, 222);
  // Text articles hold lines that start with dots: they arrive stuffed, as sent.
  const size_t open = byNumber.statusLine.find('<'), close = byNumber.statusLine.find('>');
  ASSERT_NE(close, std::string::npos) << byNumber.statusLine;
  EXPECT_EQ(byNumber.data, WireBody(byNumber.statusLine.substr(open, close - open + 1)));
  const FStandInItem byId = source_.ItemAt(2);
  ASSERT_EQ(byId.code, 222);
  EXPECT_EQ(byId.data, WireBody(part.messageId));
}
