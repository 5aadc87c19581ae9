#include "TestCertificates.h"

#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace zev::testserver {
namespace {

struct FDeleter {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
  void operator()(X509* p) const { X509_free(p); }
  void operator()(BIO* p) const { BIO_free(p); }
};
using TKey = std::unique_ptr<EVP_PKEY, FDeleter>;
using TCert = std::unique_ptr<X509, FDeleter>;
using TBio = std::unique_ptr<BIO, FDeleter>;

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("making a test certificate failed: ") + what);
}

TKey NewKey() {
  TKey key(EVP_EC_gen("P-256"));
  Check(key != nullptr, "EC key");
  return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
  Check(ext != nullptr, "extension");
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
}

TCert NewCertificate(EVP_PKEY* key, const std::string& commonName) {
  TCert cert(X509_new());
  X509_set_version(cert.get(), 2);
  unsigned char serial[16];
  RAND_bytes(serial, sizeof serial);
  serial[0] &= 0x7F;
  BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
  BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
  BN_free(bn);
  // Valid from an hour ago, so that a clock a little behind does not reject it.
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 60L * 60 * 24 * 365 * 10);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  return cert;
}

std::string AltNames(const FCertificateNames& names) {
  std::string out;
  for (const std::string& dns : names.dnsNames) out += (out.empty() ? "" : ",") + ("DNS:" + dns);
  for (const std::string& ip : names.ipAddresses) out += (out.empty() ? "" : ",") + ("IP:" + ip);
  return out;
}

FPemPair ToPem(X509* cert, EVP_PKEY* key) {
  TBio certBio(BIO_new(BIO_s_mem())), keyBio(BIO_new(BIO_s_mem()));
  Check(PEM_write_bio_X509(certBio.get(), cert) == 1, "PEM certificate");
  Check(PEM_write_bio_PrivateKey(keyBio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1, "PEM key");
  char* data = nullptr;
  FPemPair pair;
  long size = BIO_get_mem_data(certBio.get(), &data);
  pair.certPem.assign(data, static_cast<size_t>(size));
  size = BIO_get_mem_data(keyBio.get(), &data);
  pair.keyPem.assign(data, static_cast<size_t>(size));
  return pair;
}

TCert ReadCert(const std::string& pem) {
  TBio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  TCert cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  Check(cert != nullptr, "reading a PEM certificate");
  return cert;
}

TKey ReadKey(const std::string& pem) {
  TBio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  TKey key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
  Check(key != nullptr, "reading a PEM key");
  return key;
}

FPemPair MakeLeaf(X509* issuer, EVP_PKEY* issuerKey, const FCertificateNames& names, bool selfSigned) {
  TKey key = NewKey();
  TCert cert = NewCertificate(key.get(), names.dnsNames.empty() ? "zevrin-newsd" : names.dnsNames[0]);
  X509* signer = selfSigned ? cert.get() : issuer;
  X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
  AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
  AddExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature,keyEncipherment");
  AddExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
  AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
  if (!selfSigned) AddExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
  AddExtension(cert.get(), signer, NID_subject_alt_name, AltNames(names));
  Check(X509_sign(cert.get(), selfSigned ? key.get() : issuerKey, EVP_sha256()) > 0, "signing");
  return ToPem(cert.get(), key.get());
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace

FPemPair MakeTestCa(const std::string& commonName) {
  TKey key = NewKey();
  TCert cert = NewCertificate(key.get(), commonName);
  X509_set_issuer_name(cert.get(), X509_get_subject_name(cert.get()));
  AddExtension(cert.get(), cert.get(), NID_basic_constraints, "critical,CA:TRUE");
  AddExtension(cert.get(), cert.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
  AddExtension(cert.get(), cert.get(), NID_subject_key_identifier, "hash");
  Check(X509_sign(cert.get(), key.get(), EVP_sha256()) > 0, "signing the CA");
  return ToPem(cert.get(), key.get());
}

FPemPair MakeServerCertificate(const FPemPair& ca, const FCertificateNames& names) {
  TCert caCert = ReadCert(ca.certPem);
  TKey caKey = ReadKey(ca.keyPem);
  return MakeLeaf(caCert.get(), caKey.get(), names, false);
}

FPemPair MakeSelfSignedCertificate(const FCertificateNames& names) {
  return MakeLeaf(nullptr, nullptr, names, true);
}

std::string CertificateFingerprint(const std::string& certPem) {
  TCert cert = ReadCert(certPem);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  Check(X509_digest(cert.get(), EVP_sha256(), digest, &size) == 1, "fingerprint");
  std::string out;
  char hex[4];
  for (unsigned int i = 0; i < size; ++i) {
    std::snprintf(hex, sizeof hex, "%02X", digest[i]);
    out += (i ? ":" : "") + std::string(hex);
  }
  return out;
}

void WriteTestCertificates(const std::string& directory) {
  const FPemPair ca = MakeTestCa();
  const FPemPair server = MakeServerCertificate(ca);
  const FPemPair self = MakeSelfSignedCertificate();
  WriteFile(directory + "/ca.pem", ca.certPem);
  WriteFile(directory + "/ca-key.pem", ca.keyPem);
  WriteFile(directory + "/server.pem", server.certPem);
  WriteFile(directory + "/server-key.pem", server.keyPem);
  WriteFile(directory + "/self-signed.pem", self.certPem);
  WriteFile(directory + "/self-signed-key.pem", self.keyPem);
}

}  // namespace zev::testserver
