#include "NntpTestClient.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include "TestCertificates.h"

namespace zev::testserver {
namespace {

int ConnectSocket(const std::string& host, uint16_t port, int timeoutMs) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  const std::string service = std::to_string(port);
  if (int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &list); rc != 0)
    throw ENntpClientError("lookup: " + std::string(gai_strerror(rc)));
  std::string error = "no address";
  int fd = -1;
  for (addrinfo* ai = list; ai && fd < 0; ai = ai->ai_next) {
    fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) continue;
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    if (connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
      error = std::strerror(errno);
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(list);
  if (fd < 0) throw ENntpClientError("connect: " + error);
  return fd;
}

std::string VerifyText(long result) { return X509_verify_cert_error_string(result); }

}  // namespace

TNntpTestClient::~TNntpTestClient() { Close(); }

void TNntpTestClient::Close() {
  if (ssl_) SSL_free(ssl_);
  if (ctx_) SSL_CTX_free(ctx_);
  if (fd_ >= 0) close(fd_);
  ssl_ = nullptr;
  ctx_ = nullptr;
  fd_ = -1;
  buffer_.clear();
  pos_ = 0;
}

FReply TNntpTestClient::Connect(const std::string& host, uint16_t port, const FClientTls& tls, int timeoutMs) {
  Close();
  fd_ = ConnectSocket(host, port, timeoutMs);
  if (tls.enabled) StartTls(tls);
  return ReadStatus();
}

void TNntpTestClient::StartTls(const FClientTls& tls) {
  ctx_ = SSL_CTX_new(TLS_client_method());
  const bool verifyChain = tls.pinnedFingerprint.empty();
  if (verifyChain) {
    if (!tls.trustedCaPem.empty()) {
      BIO* bio = BIO_new_mem_buf(tls.trustedCaPem.data(), static_cast<int>(tls.trustedCaPem.size()));
      while (X509* ca = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
        X509_STORE_add_cert(SSL_CTX_get_cert_store(ctx_), ca);
        X509_free(ca);
      }
      ERR_clear_error();
      BIO_free(bio);
    }
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
  }
  ssl_ = SSL_new(ctx_);
  SSL_set_fd(ssl_, fd_);
  if (verifyChain) {
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl_);
    if (X509_VERIFY_PARAM_set1_ip_asc(param, tls.verifyName.c_str()) != 1) {
      SSL_set1_host(ssl_, tls.verifyName.c_str());
      SSL_set_tlsext_host_name(ssl_, tls.verifyName.c_str());
    }
  }
  if (SSL_connect(ssl_) != 1) {
    const long verify = SSL_get_verify_result(ssl_);
    char text[256];
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    throw ENntpClientError(verify != X509_V_OK ? "certificate not trusted: " + VerifyText(verify)
                                               : "TLS handshake failed: " + std::string(text));
  }
  if (!verifyChain && PeerFingerprint() != tls.pinnedFingerprint)
    throw ENntpClientError("certificate fingerprint mismatch: " + PeerFingerprint());
}

std::string TNntpTestClient::PeerFingerprint() const {
  if (!ssl_) return {};
  X509* cert = SSL_get1_peer_certificate(ssl_);
  if (!cert) return {};
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(bio, cert);
  char* data = nullptr;
  long size = BIO_get_mem_data(bio, &data);
  std::string pem(data, static_cast<size_t>(size));
  BIO_free(bio);
  X509_free(cert);
  return CertificateFingerprint(pem);
}

long TNntpTestClient::RawRead(char* buffer, size_t size) {
  if (ssl_) {
    int n = SSL_read(ssl_, buffer, static_cast<int>(size));
    if (n > 0) return n;
    const int error = SSL_get_error(ssl_, n);
    if (error == SSL_ERROR_ZERO_RETURN) return 0;
    if (error == SSL_ERROR_SYSCALL && errno == 0) return 0;
    reset_ = errno == ECONNRESET;
    return -1;
  }
  while (true) {
    ssize_t n = recv(fd_, buffer, size, 0);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    reset_ = errno == ECONNRESET;
    return -1;
  }
}

void TNntpTestClient::Fill() {
  if (pos_ > 0) {
    buffer_.erase(0, pos_);
    pos_ = 0;
  }
  char chunk[65536];
  errno = 0;
  long n = RawRead(chunk, sizeof chunk);
  if (n == 0) throw ENntpClientError("connection closed");
  if (n < 0) throw ENntpClientError(reset_ ? "connection reset" : "read failed: " + std::string(std::strerror(errno)));
  buffer_.append(chunk, static_cast<size_t>(n));
}

std::string TNntpTestClient::ReadLine() {
  while (true) {
    size_t nl = buffer_.find("\r\n", pos_);
    if (nl != std::string::npos) {
      std::string line = buffer_.substr(pos_, nl - pos_);
      pos_ = nl + 2;
      return line;
    }
    Fill();
  }
}

FReply TNntpTestClient::ReadStatus() {
  FReply reply;
  reply.line = ReadLine();
  if (reply.line.size() < 3 || !isdigit(static_cast<unsigned char>(reply.line[0])))
    throw ENntpClientError("not a status line: " + reply.line);
  reply.code = std::stoi(reply.line.substr(0, 3));
  return reply;
}

FReply TNntpTestClient::Command(const std::string& line) {
  SendRaw(line + "\r\n");
  return ReadStatus();
}

void TNntpTestClient::SendRaw(const std::string& bytes) {
  size_t pos = 0;
  while (pos < bytes.size()) {
    long n = ssl_ ? SSL_write(ssl_, bytes.data() + pos, static_cast<int>(bytes.size() - pos))
                  : send(fd_, bytes.data() + pos, bytes.size() - pos, MSG_NOSIGNAL);
    if (n <= 0) throw ENntpClientError("send failed");
    pos += static_cast<size_t>(n);
  }
}

std::string TNntpTestClient::ReadData() {
  std::string data;
  while (true) {
    std::string line = ReadLine();
    if (line == ".") return data;
    if (!line.empty() && line[0] == '.') line.erase(0, 1);
    data += line;
    data += "\r\n";
  }
}

std::vector<std::string> TNntpTestClient::ReadDataLines() {
  std::vector<std::string> lines;
  while (true) {
    std::string line = ReadLine();
    if (line == ".") return lines;
    if (!line.empty() && line[0] == '.') line.erase(0, 1);
    lines.push_back(std::move(line));
  }
}

std::string TNntpTestClient::ReadUntilClosed(bool& reset) {
  std::string out = buffer_.substr(pos_);
  buffer_.clear();
  pos_ = 0;
  char chunk[65536];
  while (true) {
    errno = 0;
    reset_ = false;
    long n = RawRead(chunk, sizeof chunk);
    if (n <= 0) {
      reset = n < 0 && reset_;
      return out;
    }
    out.append(chunk, static_cast<size_t>(n));
  }
}

}  // namespace zev::testserver
