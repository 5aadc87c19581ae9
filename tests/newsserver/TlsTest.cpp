// Implicit TLS with certificates made at test time: a trusted CA, no trust, and a
// pinned fingerprint.
#include <gtest/gtest.h>

#include "NewsServerFixture.h"
#include "NntpTestClient.h"
#include "TestCertificates.h"

namespace zev::testserver {
namespace {

const FPemPair& TestCa() {
  static const FPemPair ca = MakeTestCa();
  return ca;
}

class TTlsTest : public TNewsServerFixture {
 protected:
  void ConfigureServer(FServerOptions& options) override {
    const FPemPair server = MakeServerCertificate(TestCa());
    serverCertPem_ = server.certPem;
    options.tlsPort = 0;
    options.tlsCertPem = server.certPem;
    options.tlsKeyPem = server.keyPem;
  }
  void FillStore(TArticleStore& store) override {
    store.Post("alt.test", {{"Subject", "big"}, {"Message-ID", "<big@test>"}}, std::string(300000, 'y') + "\n");
  }
  std::string Failure(const FClientTls& tls, const std::string& host = "127.0.0.1") {
    TNntpTestClient client;
    try {
      client.Connect(host, TlsPort(), tls);
    } catch (const ENntpClientError& e) {
      return e.what();
    }
    return "connected";
  }
  std::string serverCertPem_;
};

TEST_F(TTlsTest, TrustedCaVerifiesChainAndNameAndCarriesData) {
  for (const char* name : {"localhost", "127.0.0.1"}) {
    FClientTls tls;
    tls.enabled = true;
    tls.trustedCaPem = TestCa().certPem;
    tls.verifyName = name;
    TNntpTestClient client;
    ASSERT_EQ(client.Connect("127.0.0.1", TlsPort(), tls).code, 200) << name;
    ASSERT_EQ(client.Command("BODY <big@test>").code, 222);
    EXPECT_EQ(client.ReadData().size(), 300002u);
  }
  EXPECT_TRUE(ClosedTranscript(1).tls);
  TNntpTestClient plain;
  EXPECT_EQ(plain.Connect("127.0.0.1", Port()).code, 200) << "the plain port stays plain";
}

TEST_F(TTlsTest, VerificationFailuresAreReported) {
  FClientTls untrusted;
  untrusted.enabled = true;
  EXPECT_EQ(Failure(untrusted), "certificate not trusted: unable to get local issuer certificate");
  FClientTls otherCa = untrusted;
  otherCa.trustedCaPem = MakeTestCa("Another CA").certPem;
  EXPECT_EQ(Failure(otherCa), "certificate not trusted: unable to get local issuer certificate");
  FClientTls wrongName = untrusted;
  wrongName.trustedCaPem = TestCa().certPem;
  wrongName.verifyName = "news.example.test";
  EXPECT_EQ(Failure(wrongName), "certificate not trusted: hostname mismatch");
}

TEST_F(TTlsTest, PinnedFingerprintAcceptsExactlyThatCertificate) {
  FClientTls pinned;
  pinned.enabled = true;
  pinned.pinnedFingerprint = CertificateFingerprint(serverCertPem_);
  EXPECT_EQ(Failure(pinned), "connected");
  pinned.pinnedFingerprint = CertificateFingerprint(MakeSelfSignedCertificate().certPem);
  EXPECT_TRUE(Failure(pinned).starts_with("certificate fingerprint mismatch")) << Failure(pinned);
}

class TSelfSignedTest : public TTlsTest {
 protected:
  void ConfigureServer(FServerOptions& options) override {
    const FPemPair self = MakeSelfSignedCertificate();
    serverCertPem_ = self.certPem;
    options.port = -1;
    options.tlsPort = 0;
    options.tlsCertPem = self.certPem;
    options.tlsKeyPem = self.keyPem;
  }
};

TEST_F(TSelfSignedTest, SelfSignedIsUntrustedUnlessPinnedOrTrustedItself) {
  FClientTls tls;
  tls.enabled = true;
  EXPECT_EQ(Failure(tls), "certificate not trusted: self-signed certificate");
  tls.pinnedFingerprint = CertificateFingerprint(serverCertPem_);
  EXPECT_EQ(Failure(tls, "::1"), "connected");
  tls.pinnedFingerprint.clear();
  tls.trustedCaPem = serverCertPem_;
  EXPECT_EQ(Failure(tls), "connected");
}

TEST_F(TTlsTest, PlainClientOnTheTlsPortDoesNotHangTheServer) {
  TNntpTestClient client;
  EXPECT_THROW(client.Connect("127.0.0.1", TlsPort(), {}, 500), ENntpClientError);
  client.Close();
  EXPECT_NE(ClosedTranscript(1).Text().find("TLS handshake failed"), std::string::npos);
}

}  // namespace
}  // namespace zev::testserver
