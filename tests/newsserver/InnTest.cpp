// Against a real server: INN 2.7 started on loopback by scripts/inn-lab.sh and filled
// with the test server's generated content by zevrin-innfeed. Needs root (INN is
// installed when missing); skipped without it, except in CI, where it must run.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "ArticleGenerator.h"
#include "InnLab.h"
#include "NntpTestClient.h"
#include "TestCertificates.h"

namespace zev::testserver {
namespace {

const ::testing::Environment* const kInn =
    ::testing::AddGlobalTestEnvironment(new TInnLabEnvironment("test", "--seed 1 --generate standard"));

FInnLab& Lab() { return InnLab(); }

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
