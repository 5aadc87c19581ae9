#include "nntp/TlsContext.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <cctype>
#include <mutex>

#include "core/Error.h"

namespace zev {
namespace {

void AddPemCertificates(SSL_CTX* ctx, const std::string& pem) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  if (!bio) throw EZevError("TLS: out of memory");
  X509_STORE* store = SSL_CTX_get_cert_store(ctx);
  int added = 0;
  while (X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
    if (X509_STORE_add_cert(store, cert) == 1) ++added;
    X509_free(cert);
  }
  BIO_free(bio);
  ERR_clear_error();  // the end of the PEM text reads as an error
  if (added == 0) throw EZevError("TLS: no certificate in the given CA text");
}

}  // namespace

TTlsContext::TTlsContext(const std::string& extraCaPem, bool systemStore) {
  ctx_ = SSL_CTX_new(TLS_client_method());
  if (!ctx_) throw EZevError("TLS: cannot create a context");
  SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
  // The certificate is checked after the handshake (TTlsSession), so that a failure can
  // be told in words and a pinned certificate can still be accepted.
  SSL_CTX_set_verify(ctx_, SSL_VERIFY_NONE, nullptr);
  SSL_CTX_set_mode(ctx_, SSL_MODE_AUTO_RETRY);
  if (systemStore) SSL_CTX_set_default_verify_paths(ctx_);
  if (!extraCaPem.empty()) {
    try {
      AddPemCertificates(ctx_, extraCaPem);
    } catch (...) {
      SSL_CTX_free(ctx_);
      throw;
    }
  }
}

TTlsContext::~TTlsContext() { SSL_CTX_free(ctx_); }

std::shared_ptr<TTlsContext> TTlsContext::System() {
  static std::mutex lock;
  static std::shared_ptr<TTlsContext> context;
  std::lock_guard guard(lock);
  if (!context) context = std::make_shared<TTlsContext>();
  return context;
}

std::string NormalizeFingerprint(const std::string& text) {
  std::string hex;
  for (char c : text) {
    if (c == ':' || c == ' ' || c == '\t' || c == '-') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
    hex += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  if (hex.size() != 64) return {};
  std::string out;
  for (size_t i = 0; i < hex.size(); i += 2) {
    if (i) out += ':';
    out.append(hex, i, 2);
  }
  return out;
}

}  // namespace zev
