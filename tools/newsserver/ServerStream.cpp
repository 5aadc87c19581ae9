#include "ServerStream.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>
#include <string>

#include <openssl/err.h>

namespace zev::testserver {

void SetNoDelay(int fd) {
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void ResetSocket(int fd) {
  linger lg{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
  shutdown(fd, SHUT_RD);  // wakes a thread that might still be reading it
}

TPlainStream::~TPlainStream() {
  if (fd_ >= 0) close(fd_);
}

long TPlainStream::Read(char* buffer, size_t size) {
  while (true) {
    ssize_t n = recv(fd_, buffer, size, 0);
    if (n >= 0) return static_cast<long>(n);
    if (errno != EINTR) return -1;
  }
}

bool TPlainStream::WriteAll(const iovec* parts, int count) {
  std::vector<iovec> rest(parts, parts + count);
  size_t first = 0;
  while (first < rest.size()) {
    msghdr msg{};
    msg.msg_iov = rest.data() + first;
    msg.msg_iovlen = std::min<size_t>(rest.size() - first, IOV_MAX);
    // MSG_NOSIGNAL: a client that went away must not kill the server with SIGPIPE.
    ssize_t n = sendmsg(fd_, &msg, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    auto sent = static_cast<size_t>(n);
    while (first < rest.size() && sent >= rest[first].iov_len) sent -= rest[first++].iov_len;
    if (first < rest.size()) {
      rest[first].iov_base = static_cast<char*>(rest[first].iov_base) + sent;
      rest[first].iov_len -= sent;
    }
  }
  return true;
}

void TPlainStream::Reset() { ResetSocket(fd_); }

TTlsStream::TTlsStream(int fd, SSL_CTX* context) : fd_(fd), ssl_(SSL_new(context)) {
  SSL_set_fd(ssl_, fd_);
}

TTlsStream::~TTlsStream() {
  SSL_free(ssl_);
  if (fd_ >= 0) close(fd_);
}

bool TTlsStream::Handshake(std::string& error) {
  ERR_clear_error();
  if (SSL_accept(ssl_) == 1) return true;
  char text[256];
  ERR_error_string_n(ERR_get_error(), text, sizeof text);
  error = text;
  return false;
}

long TTlsStream::Read(char* buffer, size_t size) {
  ERR_clear_error();
  int n = SSL_read(ssl_, buffer, static_cast<int>(std::min<size_t>(size, 1 << 30)));
  if (n > 0) return n;
  return SSL_get_error(ssl_, n) == SSL_ERROR_ZERO_RETURN ? 0 : -1;
}

bool TTlsStream::WriteAll(const iovec* parts, int count) {
  // Small pieces are gathered so that a status line and a short answer share one record.
  std::string gathered;
  auto flush = [&]() {
    if (gathered.empty()) return true;
    bool ok = SSL_write(ssl_, gathered.data(), static_cast<int>(gathered.size())) > 0;
    gathered.clear();
    return ok;
  };
  for (int i = 0; i < count; ++i) {
    const char* data = static_cast<const char*>(parts[i].iov_base);
    size_t size = parts[i].iov_len;
    if (size < 16384) {
      gathered.append(data, size);
      continue;
    }
    if (!flush()) return false;
    for (size_t pos = 0; pos < size;) {
      const int chunk = static_cast<int>(std::min<size_t>(size - pos, 1 << 20));
      ERR_clear_error();
      if (SSL_write(ssl_, data + pos, chunk) <= 0) return false;
      pos += static_cast<size_t>(chunk);
    }
  }
  return flush();
}

void TTlsStream::Reset() { ResetSocket(fd_); }

}  // namespace zev::testserver
