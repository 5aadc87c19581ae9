// Against a real server: INN 2.7 started on loopback by scripts/inn-lab.sh and filled
// with the test server's generated content by zevrin-innfeed. Needs root (INN is
// installed when missing); skipped without it, except in CI, where it must run.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <fstream>
#include <sstream>

#include "ArticleGenerator.h"
#include "NntpTestClient.h"
#include "TestCertificates.h"

namespace zev::testserver {
namespace {

struct FInnLab {
  bool ready = false;
  std::string skipReason;
  std::string dir;
  uint16_t port = 0, authPort = 0, tlsPort = 0, feedPort = 0;
  std::string caPem, certPem;
};

FInnLab& Lab() {
  static FInnLab lab;
  return lab;
}

uint16_t FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t length = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
  close(fd);
  return ntohs(addr.sin_port);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

int Shell(const std::string& command) {
  const int rc = std::system(command.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

class TInnEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    FInnLab& lab = Lab();
    const bool ci = std::getenv("CI") != nullptr;
    if (geteuid() != 0) {
      lab.skipReason = "INN tests need root (INN is installed and run as root)";
      return;
    }
    const std::string script = std::string("bash ") + ZEV_INN_LAB_SCRIPT;
    if (Shell(script + " install") != 0) {
      if (ci) ADD_FAILURE() << "inn2 could not be installed in CI";
      lab.skipReason = "inn2 could not be installed";
      return;
    }
    lab.dir = "/tmp/zevrin-inn-test-" + std::to_string(getpid());
    lab.port = FreePort();
    lab.authPort = FreePort();
    lab.tlsPort = FreePort();
    lab.feedPort = FreePort();
    std::ostringstream start;
    start << script << " start --dir " << lab.dir << " --port " << lab.port << " --auth-port " << lab.authPort
          << " --tls-port " << lab.tlsPort << " --feed-port " << lab.feedPort;
    ASSERT_EQ(Shell(start.str()), 0) << "INN did not start; logs in " << lab.dir << "/log";
    started_ = true;
    ASSERT_EQ(Shell(script + " fill --dir " + lab.dir + " --feeder " + ZEV_INN_FEEDER +
                    " -- --seed 1 --generate standard"),
              0);
    lab.caPem = ReadFile(lab.dir + "/etc/ca.pem");
    lab.certPem = ReadFile(lab.dir + "/etc/server.pem");
    lab.ready = true;
  }
  void TearDown() override {
    if (started_) Shell(std::string("bash ") + ZEV_INN_LAB_SCRIPT + " stop --purge --dir " + Lab().dir);
  }

 private:
  bool started_ = false;
};

const ::testing::Environment* const kInn = ::testing::AddGlobalTestEnvironment(new TInnEnvironment);

class TInnTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Lab().ready) GTEST_SKIP() << Lab().skipReason;
    TArticleGenerator generator(content_, 1);
    generator.PostStandardSet({});
    manifest_ = generator.Manifest();
  }
  // What we posted, un-stuffed, for comparing with what INN serves.
  std::string OurBody(const std::string& messageId) {
    auto lock = content_.ReadLock();
    TArticlePtr article = content_.FindMessageId(messageId);
    if (!article) return "<not ours>";
    std::string out;
    std::string_view body = article->Body();
    for (size_t pos = 0; pos < body.size();) {
      size_t end = body.find("\r\n", pos) + 2;
      std::string_view line = body.substr(pos, end - pos);
      if (line[0] == '.') line.remove_prefix(1);
      out += line;
      pos = end;
    }
    return out;
  }
  TArticleStore content_;
  FManifest manifest_;
};

TEST_F(TInnTest, GreetingsAndLogin) {
  TNntpTestClient plain, auth;
  EXPECT_EQ(plain.Connect("127.0.0.1", Lab().port).code, 200);
  FReply greeting = auth.Connect("127.0.0.1", Lab().authPort);
  EXPECT_EQ(greeting.code, 200);
  EXPECT_NE(greeting.line.find("(no posting)"), std::string::npos) << greeting.line;
  EXPECT_EQ(auth.Command("GROUP zevrin.test.text").code, 480);
  EXPECT_EQ(auth.Command("AUTHINFO USER testuser").code, 381);
  EXPECT_EQ(auth.Command("AUTHINFO PASS wrong").code, 481);
  TNntpTestClient again;
  again.Connect("127.0.0.1", Lab().authPort);
  EXPECT_EQ(again.Command("AUTHINFO USER testuser").code, 381);
  EXPECT_EQ(again.Command("AUTHINFO PASS testpass").code, 281);
  EXPECT_EQ(again.Command("GROUP zevrin.test.text").code, 211);
  EXPECT_EQ(plain.Command("GROUP zevrin.test.private.binaries").code, 480) << "private before login";
}

TEST_F(TInnTest, TlsTrustedUntrustedAndPinned) {
  FClientTls tls;
  tls.enabled = true;
  tls.trustedCaPem = Lab().caPem;
  tls.verifyName = "127.0.0.1";
  TNntpTestClient trusted;
  EXPECT_EQ(trusted.Connect("127.0.0.1", Lab().tlsPort, tls).code, 200);
  EXPECT_EQ(trusted.Command("GROUP zevrin.test.text").code, 211);

  FClientTls untrusted;
  untrusted.enabled = true;
  TNntpTestClient refused;
  try {
    refused.Connect("127.0.0.1", Lab().tlsPort, untrusted);
    ADD_FAILURE() << "an unknown CA was accepted";
  } catch (const ENntpClientError& e) {
    EXPECT_TRUE(std::string(e.what()).starts_with("certificate not trusted")) << e.what();
  }
  FClientTls pinned;
  pinned.enabled = true;
  pinned.pinnedFingerprint = CertificateFingerprint(Lab().certPem);
  TNntpTestClient pin;
  EXPECT_EQ(pin.Connect("127.0.0.1", Lab().tlsPort, pinned).code, 200);
}

TEST_F(TInnTest, OverviewMatchesWhatWasPosted) {
  TNntpTestClient client;
  client.Connect("127.0.0.1", Lab().port);
  FReply group = client.Command("GROUP zevrin.test.binaries.yenc");
  ASSERT_EQ(group.code, 211) << group.line;
  ASSERT_EQ(client.Command("XOVER 1-").code, 224);
  std::vector<std::string> lines = client.ReadDataLines();
  std::map<std::string, std::string> subjectById;
  for (const FManifestFile& f : manifest_.files)
    for (const FManifestPart& p : f.parts)
      if (std::find(f.groups.begin(), f.groups.end(), "zevrin.test.binaries.yenc") != f.groups.end())
        subjectById[p.messageId] = p.subject;
  ASSERT_EQ(lines.size(), subjectById.size());
  for (const std::string& line : lines) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
    ASSERT_GE(fields.size(), 8u) << line;
    EXPECT_EQ(subjectById[fields[4]], fields[1]) << line;
  }
}

TEST_F(TInnTest, BodyByNumberAndByMessageId) {
  TNntpTestClient client;
  client.Connect("127.0.0.1", Lab().port);
  ASSERT_EQ(client.Command("GROUP zevrin.test.text").code, 211);
  // Text articles hold lines that start with dots: they must survive both ways.
  for (int n : {1, 2, 3}) {
    FReply reply = client.Command("BODY " + std::to_string(n));
    ASSERT_EQ(reply.code, 222) << reply.line;
    const std::string id = reply.line.substr(reply.line.find('<'), reply.line.find('>') - reply.line.find('<') + 1);
    EXPECT_EQ(client.ReadData(), OurBody(id)) << reply.line;
    ASSERT_EQ(client.Command("BODY " + id).code, 222);
    EXPECT_EQ(client.ReadData(), OurBody(id)) << id;
  }
  const FManifestPart& part = manifest_.FindFile("photo.jpg")->parts[1];
  ASSERT_EQ(client.Command("BODY " + part.messageId).code, 222);
  EXPECT_EQ(client.ReadData(), OurBody(part.messageId));
  EXPECT_EQ(client.Command("BODY " + manifest_.FindFile("missing.part.bin")->parts[1].messageId).code, 430);
}

}  // namespace
}  // namespace zev::testserver
