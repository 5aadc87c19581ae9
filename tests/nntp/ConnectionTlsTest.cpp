// Implicit TLS: a chain we trust, a certificate we do not, and one the user pinned.
#include <gtest/gtest.h>

#include "ConnectionHarness.h"
#include "TestCertificates.h"
#include "nntp/TlsContext.h"

using namespace zev;
using namespace zev::test;

namespace {

const testserver::FPemPair& Ca() {
  static const testserver::FPemPair ca = testserver::MakeTestCa();
  return ca;
}

class TTlsTest : public TConnectionHarness {
 protected:
  // Which names the server's certificate carries.
  virtual testserver::FCertificateNames Names() { return {}; }
  void ConfigureServer(testserver::FServerOptions& options) override {
    cert_ = testserver::MakeServerCertificate(Ca(), Names());
    options.tlsPort = 0;
    options.tlsCertPem = cert_.certPem;
    options.tlsKeyPem = cert_.keyPem;
    options.session.users = {{"alice", "secret"}};
  }
  void FillStore(testserver::TArticleStore& store) override {
    store.Post("alt.test", {{"Subject", "s"}, {"Message-ID", "<m1@t>"}}, "secret body\n");
  }
  TServer& TlsServer(const std::string& host = "127.0.0.1", const std::string& pin = {}) {
    TServer& server = AddServer({.host = host,
                                 .port = TlsPort(),
                                 .idle = 1000,
                                 .flags = 1u << sfNeedAuth,
                                 .user = "alice",
                                 .pass = "secret",
                                 .tls = true,
                                 .pin = pin});
    server.CommandsChecked = 1;
    return server;
  }
  std::vector<std::string> CommandsSeen() {
    std::vector<std::string> all;
    for (const auto& t : Transcripts())
      for (const std::string& c : t.Commands()) all.push_back(c);
    return all;
  }
  testserver::FPemPair cert_;
};

}  // namespace

TEST_F(TTlsTest, TrustedChainCarriesTheSession) {
  tls_ = std::make_shared<TTlsContext>(Ca().certPem, false);
  source_.Add("body <m1@t>");
  TServer& server = TlsServer();
  ASSERT_EQ(Pool().StartSlot(SlotOf(server), false, 1), 1);
  ASSERT_TRUE(source_.WaitAllDone());
  EXPECT_EQ(source_.ItemAt(0).data, "secret body");
  EXPECT_TRUE(SlotOf(server).Encrypted.load()) << "the connection entry shows the session is encrypted";
  ASSERT_EQ(Transcripts().size(), 1u);
  EXPECT_TRUE(Transcripts()[0].tls);
  Pool().StopSlots(server, true, true);
  ASSERT_TRUE(WaitEnded());
  EXPECT_FALSE(SlotOf(server).Encrypted.load());
}

TEST_F(TTlsTest, UntrustedCertificateGetsNoPassword) {
  // The system store does not know the test CA.
  source_.Add("body <m1@t>");
  TServer& server = TlsServer();
  ASSERT_EQ(Pool().StartSlot(SlotOf(server), false, 1), 1);
  ASSERT_TRUE(WaitEnded());
  EXPECT_EQ(SlotOf(server).State(), csError);
  const std::string status = SlotOf(server).Status.Get(TSlotStatus::StatusMessage);
  EXPECT_TRUE(status.starts_with("certificate not trusted: ")) << status;
  EXPECT_NE(status.find(testserver::CertificateFingerprint(cert_.certPem)), std::string::npos)
      << "the text names the fingerprint the user may pin";
  EXPECT_TRUE(CommandsSeen().empty()) << "not a single command, let alone the password";
  EXPECT_EQ(source_.ItemAt(0).state, FStandInItem::free);
}

TEST_F(TTlsTest, PinnedFingerprintIsAcceptedInAnyNotation) {
  std::string pin = testserver::CertificateFingerprint(cert_.certPem);
  std::erase(pin, ':');
  for (char& c : pin) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  source_.Add("body <m1@t>");
  TServer& server = TlsServer("127.0.0.1", pin);
  ASSERT_EQ(Pool().StartSlot(SlotOf(server), false, 1), 1);
  ASSERT_TRUE(source_.WaitAllDone());
  EXPECT_EQ(source_.ItemAt(0).data, "secret body");
}

TEST_F(TTlsTest, PinOfAnotherCertificateDoesNotHelp) {
  const std::string other = testserver::CertificateFingerprint(testserver::MakeSelfSignedCertificate().certPem);
  TServer& server = TlsServer("127.0.0.1", other);
  ASSERT_EQ(Pool().StartSlot(SlotOf(server), false, 1), 1);
  ASSERT_TRUE(WaitEnded());
  EXPECT_EQ(SlotOf(server).State(), csError);
  EXPECT_TRUE(CommandsSeen().empty());
}

namespace {

class TWrongNameTest : public TTlsTest {
 protected:
  testserver::FCertificateNames Names() override { return {{"news.example"}, {}}; }
};

}  // namespace

TEST_F(TWrongNameTest, CertificateForAnotherHostIsNotTrusted) {
  tls_ = std::make_shared<TTlsContext>(Ca().certPem, false);
  TServer& server = TlsServer("127.0.0.1");
  ASSERT_EQ(Pool().StartSlot(SlotOf(server), false, 1), 1);
  ASSERT_TRUE(WaitEnded());
  const std::string status = SlotOf(server).Status.Get(TSlotStatus::StatusMessage);
  EXPECT_TRUE(status.starts_with("certificate not trusted: IP address mismatch")) << status;
  EXPECT_TRUE(CommandsSeen().empty());
}

TEST(TlsFingerprint, NotationsNormalize) {
  const std::string canonical =
      "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89";
  EXPECT_EQ(NormalizeFingerprint(canonical), canonical);
  EXPECT_EQ(NormalizeFingerprint("abcdef0123456789abcdef0123456789abcdef0123456789abcdef0123456789"), canonical);
  EXPECT_EQ(NormalizeFingerprint(" ab cd ef 01 23 45 67 89 ab cd ef 01 23 45 67 89 ab cd ef 01 23 45 67 89 "
                                 "ab cd ef 01 23 45 67 89"),
            canonical);
  EXPECT_EQ(NormalizeFingerprint("AB:CD"), "");
  EXPECT_EQ(NormalizeFingerprint(canonical + ":00"), "");
  EXPECT_EQ(NormalizeFingerprint("zz" + canonical.substr(2)), "");
}
