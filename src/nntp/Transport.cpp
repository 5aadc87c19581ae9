#include "nntp/Transport.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "nntp/TlsContext.h"
#include "platform/SocketError.h"

namespace zev {

using namespace zev::platform;

namespace {

bool IsAddressLiteral(const std::string& host) {
  unsigned char buffer[16];
  return inet_pton(AF_INET, host.c_str(), buffer) == 1 || inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

std::string Fingerprint(X509* cert) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (X509_digest(cert, EVP_sha256(), digest, &size) != 1) return {};
  std::string text;
  char pair[4];
  for (unsigned int i = 0; i < size; ++i) {
    std::snprintf(pair, sizeof pair, i ? ":%02X" : "%02X", digest[i]);
    text += pair;
  }
  return text;
}

int ErrorOfSsl(int sslError) {
  if (sslError == SSL_ERROR_SYSCALL && errno != 0) return SocketErrorFromErrno(errno);
  // A protocol failure (bad record, failed handshake) aborts the connection like a
  // broken link would.
  return seConnAborted;
}

}  // namespace

FTlsOutcome TTransport::StartTls(const TTlsContext& context, const std::string& host,
                                 const std::string& pinnedFingerprint, int timeoutMs) {
  Reset();
  FTlsOutcome outcome;
  ssl_ = SSL_new(context.Get());
  if (!ssl_ || SSL_set_fd(ssl_, socket_.Fd()) != 1) {
    outcome.error = seNoBufs;
    Reset();
    return outcome;
  }
  if (IsAddressLiteral(host)) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), host.c_str());
  } else {
    SSL_set1_host(ssl_, host.c_str());
    SSL_set_tlsext_host_name(ssl_, host.c_str());
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    ERR_clear_error();
    errno = 0;
    const int rc = SSL_connect(ssl_);
    if (rc == 1) break;
    const int sslError = SSL_get_error(ssl_, rc);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    const int waitError = WaitFor(sslError, static_cast<int>(std::max<int64_t>(0, left.count())));
    if (waitError != seNone) {
      outcome.error = waitError;
      Reset();
      return outcome;
    }
  }
  X509* cert = SSL_get1_peer_certificate(ssl_);
  if (!cert) {
    outcome.reason = "no certificate";
  } else {
    outcome.fingerprint = Fingerprint(cert);
    X509_free(cert);
    const long verify = SSL_get_verify_result(ssl_);
    outcome.trusted = verify == X509_V_OK;
    if (!outcome.trusted) {
      outcome.reason = X509_verify_cert_error_string(verify);
      const std::string pin = NormalizeFingerprint(pinnedFingerprint);
      outcome.trusted = !pin.empty() && pin == outcome.fingerprint;
    }
  }
  if (!outcome.trusted) Reset();
  return outcome;
}

int TTransport::WaitFor(int sslError, int timeoutMs) {
  if (sslError != SSL_ERROR_WANT_READ && sslError != SSL_ERROR_WANT_WRITE) return ErrorOfSsl(sslError);
  if (timeoutMs == 0) return seTimedOut;
  int error = 0;
  switch (socket_.Wait(sslError == SSL_ERROR_WANT_WRITE, stop_, timeoutMs, error)) {
    case wrReady: return seNone;
    case wrTimeout: return seTimedOut;
    case wrWoken: return seInterrupted;
    case wrError: return error;
  }
  return seNone;
}

ssize_t TTransport::Receive(void* buffer, size_t size, int& error) {
  if (!ssl_) return socket_.Receive(buffer, size, error);
  while (true) {
    ERR_clear_error();
    errno = 0;
    size_t got = 0;
    if (SSL_read_ex(ssl_, buffer, size, &got) == 1) return static_cast<ssize_t>(got);
    const int sslError = SSL_get_error(ssl_, 0);
    switch (sslError) {
      case SSL_ERROR_WANT_READ:
        error = seWouldBlock;
        return -1;
      case SSL_ERROR_ZERO_RETURN:
        return 0;
      case SSL_ERROR_WANT_WRITE: {
        // A renegotiation wants to write first.
        const int waitError = WaitFor(sslError, -1);
        if (waitError != seNone) {
          error = waitError;
          return -1;
        }
        continue;
      }
      default:
        // A peer that closes without close_notify is treated as a plain close, which is
        // what most servers do at the end of a session.
        if (sslError == SSL_ERROR_SSL && ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING)
          return 0;
        error = ErrorOfSsl(sslError);
        return -1;
    }
  }
}

int TTransport::SendAll(const void* data, size_t size) {
  if (!ssl_) return socket_.SendAll(data, size, stop_);
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ERR_clear_error();
    errno = 0;
    size_t written = 0;
    if (SSL_write_ex(ssl_, p, size, &written) == 1) {
      p += written;
      size -= written;
      continue;
    }
    const int waitError = WaitFor(SSL_get_error(ssl_, 0), -1);
    if (waitError != seNone) return waitError;
  }
  return seNone;
}

TWaitResult TTransport::WaitReadable(const TWakeEvent& wake, int timeoutMs, int& error) {
  // Decrypted bytes already inside OpenSSL never show up on the socket again.
  if (ssl_ && SSL_pending(ssl_) > 0) return wrReady;
  return socket_.Wait(false, stop_, timeoutMs, error, &wake);
}

void TTransport::Shutdown() {
  if (ssl_) {
    ERR_clear_error();
    SSL_shutdown(ssl_);
  }
  socket_.Shutdown();
}

void TTransport::Reset() {
  if (ssl_) SSL_free(ssl_);
  ssl_ = nullptr;
  ERR_clear_error();
}

}  // namespace zev
