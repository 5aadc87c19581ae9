#pragma once
// Certificates made at test time with OpenSSL's API: a throw-away CA and a server
// certificate it signs, or a lone self-signed one. Tests trust the CA, leave it out to
// see verification fail, or pin the server certificate's fingerprint.
#include <string>
#include <vector>

namespace zev::testserver {

struct FPemPair {
  std::string certPem;
  std::string keyPem;
};

struct FCertificateNames {
  std::vector<std::string> dnsNames = {"localhost"};
  std::vector<std::string> ipAddresses = {"127.0.0.1", "::1"};
};

// Keys are ECDSA P-256: made in a millisecond, unlike RSA.
FPemPair MakeTestCa(const std::string& commonName = "Zevrin Test CA");
FPemPair MakeServerCertificate(const FPemPair& ca, const FCertificateNames& names = {});
FPemPair MakeSelfSignedCertificate(const FCertificateNames& names = {});

// SHA-256 of the DER certificate as upper-case hex pairs joined by ':'.
std::string CertificateFingerprint(const std::string& certPem);

// The CA, a server certificate it signs and a self-signed one, written as PEM files into
// `directory`: "ca.pem", "ca-key.pem", "server.pem", "server-key.pem", "self-signed.pem",
// "self-signed-key.pem". Throws when a file cannot be written.
void WriteTestCertificates(const std::string& directory);

}  // namespace zev::testserver
