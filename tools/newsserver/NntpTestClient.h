#pragma once
// A small blocking NNTP client for tests of the test server and of real servers (INN):
// plain or implicit TLS, with a trusted CA, a pinned fingerprint, or no trust at all.
// The program's own client lives in src/nntp; this one only has to be obviously right.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <openssl/ssl.h>

namespace zev::testserver {

class ENntpClientError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct FClientTls {
  bool enabled = false;
  std::string trustedCaPem;        // verify the chain against this CA
  std::string pinnedFingerprint;   // or accept exactly this certificate (SHA-256, "AB:CD:...")
  std::string verifyName = "localhost";  // host name or IP address the certificate must name
};

struct FReply {
  int code = 0;
  std::string line;  // the whole status line without CRLF
};

class TNntpTestClient {
 public:
  TNntpTestClient() = default;
  ~TNntpTestClient();
  TNntpTestClient(const TNntpTestClient&) = delete;
  TNntpTestClient& operator=(const TNntpTestClient&) = delete;

  // Connects and reads the greeting. Throws ENntpClientError: "connect: Connection
  // refused", "certificate not trusted: ...", "certificate fingerprint mismatch", ...
  FReply Connect(const std::string& host, uint16_t port, const FClientTls& tls = {}, int timeoutMs = 10000);
  // Sends a command line (CRLF added) and reads the status line.
  FReply Command(const std::string& line);
  void SendRaw(const std::string& bytes);
  FReply ReadStatus();
  // Reads multi-line data up to the terminator, undoes dot-stuffing, keeps CRLF line ends.
  std::string ReadData();
  std::vector<std::string> ReadDataLines();
  // Everything the server still sends until it closes; `reset` tells a reset from a close.
  std::string ReadUntilClosed(bool& reset);
  void Close();
  bool Tls() const { return ssl_ != nullptr; }
  std::string PeerFingerprint() const;

 private:
  long RawRead(char* buffer, size_t size);
  void Fill();
  std::string ReadLine();
  void StartTls(const FClientTls& tls);

  int fd_ = -1;
  SSL_CTX* ctx_ = nullptr;
  SSL* ssl_ = nullptr;
  std::string buffer_;
  size_t pos_ = 0;
  bool reset_ = false;
};

}  // namespace zev::testserver
