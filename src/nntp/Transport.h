#pragma once
// The byte channel of one connection: the socket itself, or TLS over it (implicit TLS,
// NNTPS). The connection reads, writes and waits through it without caring which.
//
// A TLS server is trusted when its chain leads to a trusted certificate and names the
// host we dialled, or when its certificate's fingerprint is the one the user pinned.
// Nothing of NNTP, and so no password, ever goes to an untrusted server.
#include <sys/types.h>

#include <cstddef>
#include <string>

#include "platform/Socket.h"

struct ssl_st;

namespace zev {

class TTlsContext;

struct FTlsOutcome {
  int error = 0;           // a socket error code when the handshake itself failed
  bool trusted = false;
  std::string reason;      // why the certificate is not trusted (OpenSSL's words)
  std::string fingerprint; // SHA-256 of the server's certificate, "AB:CD:..."
};

class TTransport {
 public:
  // Every wait ends early once `stop` is set.
  TTransport(platform::TSocket& socket, const platform::TWakeEvent& stop) : socket_(socket), stop_(stop) {}
  ~TTransport() { Reset(); }
  TTransport(const TTransport&) = delete;
  TTransport& operator=(const TTransport&) = delete;

  // Runs the TLS handshake on the connected socket and checks the certificate against
  // `host` (a name or an address literal). Afterwards the transport is encrypted when the
  // outcome is trusted.
  FTlsOutcome StartTls(const TTlsContext& context, const std::string& host, const std::string& pinnedFingerprint,
                       int timeoutMs);
  bool Encrypted() const { return ssl_ != nullptr; }

  // As TSocket::Receive, SendAll and Wait(for reading).
  ssize_t Receive(void* buffer, size_t size, int& error);
  int SendAll(const void* data, size_t size);
  // Also ends when `wake` is set.
  platform::TWaitResult WaitReadable(const platform::TWakeEvent& wake, int timeoutMs, int& error);

  // Ends TLS (without waiting for the server's answer) and shuts the socket down.
  void Shutdown();
  // Forgets the TLS state; the socket is left as it is.
  void Reset();

 private:
  int WaitFor(int sslError, int timeoutMs);

  platform::TSocket& socket_;
  const platform::TWakeEvent& stop_;
  ssl_st* ssl_ = nullptr;
};

}  // namespace zev
