#include "platform/Socket.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/SocketError.h"

namespace zev::platform {

int TSocket::Open(int family) {
  Close();
  fd_ = socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return SocketErrorFromErrno(errno);
  family_ = family;
  // Commands are single short lines sent one at a time: Nagle's delay would only make
  // each of them wait for the server's delayed ACK.
  int on = 1;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return seNone;
}

int TSocket::Connect(const FSocketAddress& address, const TWakeEvent& stop, std::chrono::milliseconds timeout) {
  if (fd_ < 0) return seNotSocket;
  if (connect(fd_, reinterpret_cast<const sockaddr*>(&address.addr), address.length) == 0) {
    connected_ = true;
    return seNone;
  }
  if (errno != EINPROGRESS && errno != EINTR) return SocketErrorFromErrno(errno);
  int error = 0;
  switch (Wait(true, stop, static_cast<int>(timeout.count()), error)) {
    case wrReady: break;
    case wrTimeout: return seTimedOut;
    case wrWoken: return seInterrupted;
    case wrError: return error;
  }
  int soError = 0;
  socklen_t length = sizeof soError;
  if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &soError, &length) != 0) return SocketErrorFromErrno(errno);
  if (soError != 0) return SocketErrorFromErrno(soError);
  connected_ = true;
  return seNone;
}

int TSocket::SendAll(const void* data, size_t size, const TWakeEvent& stop) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = send(fd_, p, size, MSG_NOSIGNAL);
    if (n > 0) {
      p += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return SocketErrorFromErrno(errno);
    int error = 0;
    switch (Wait(true, stop, -1, error)) {
      case wrReady: break;
      case wrTimeout: return seTimedOut;
      case wrWoken: return seInterrupted;
      case wrError: return error;
    }
  }
  return seNone;
}

ssize_t TSocket::Receive(void* buffer, size_t size, int& error) {
  while (true) {
    const ssize_t n = recv(fd_, buffer, size, 0);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    error = (errno == EAGAIN || errno == EWOULDBLOCK) ? static_cast<int>(seWouldBlock) : SocketErrorFromErrno(errno);
    return -1;
  }
}

TWaitResult TSocket::Wait(bool forWriting, const TWakeEvent& stop, int timeoutMs, int& error,
                          const TWakeEvent* wake) const {
  pollfd fds[3] = {{fd_, static_cast<short>(forWriting ? POLLOUT : POLLIN), 0},
                   {stop.Fd(), POLLIN, 0},
                   {wake ? wake->Fd() : -1, POLLIN, 0}};
  while (true) {
    const int rc = poll(fds, wake ? 3 : 2, timeoutMs);
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) {
      error = SocketErrorFromErrno(errno);
      return wrError;
    }
    if (rc == 0) return wrTimeout;
    // Socket first: data that is already there is read even when a stop is pending,
    // the caller checks its stop flag right after.
    if (fds[0].revents) return wrReady;
    return wrWoken;
  }
}

void TSocket::Shutdown() {
  if (fd_ >= 0) shutdown(fd_, SHUT_RDWR);
}

void TSocket::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  family_ = 0;
  connected_ = false;
}

}  // namespace zev::platform
