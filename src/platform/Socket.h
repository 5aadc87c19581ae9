#pragma once
// A non-blocking TCP stream socket whose every wait can be cut short by a TWakeEvent, so
// that a thread told to stop never sits in connect(), send() or recv(). Failures come back
// as socket error codes (SocketError.h). Writing to a connection the peer closed is an
// error code, never a SIGPIPE.
#include <sys/types.h>

#include <chrono>
#include <cstddef>

#include "platform/AddressLookup.h"
#include "platform/WakeEvent.h"

namespace zev::platform {

enum TWaitResult {
  wrReady,    // the socket can be read (or written)
  wrTimeout,
  wrWoken,    // the wake event is set
  wrError,    // poll failed; see the error code
};

class TSocket {
 public:
  TSocket() = default;
  ~TSocket() { Close(); }
  TSocket(const TSocket&) = delete;
  TSocket& operator=(const TSocket&) = delete;

  // A new socket of `family` (AF_INET, AF_INET6); 0 or an error code.
  int Open(int family);
  bool IsOpen() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  int Family() const { return family_; }
  bool Connected() const { return connected_; }

  // Connects; returns 0, seInterrupted when `stop` was set first, seTimedOut after
  // `timeout`, or the connect's error code. After a failure the socket must be reopened
  // (a failed connect leaves a TCP socket unusable).
  int Connect(const FSocketAddress& address, const TWakeEvent& stop, std::chrono::milliseconds timeout);

  // Sends all of `data`, waiting for room as needed; 0 or an error code (seInterrupted
  // when `stop` was set while the peer would not take more).
  int SendAll(const void* data, size_t size, const TWakeEvent& stop);
  // Reads what is there, at most `size` bytes: > 0 bytes read, 0 the peer closed, -1 an
  // error (in `error`; seWouldBlock when nothing is there yet).
  ssize_t Receive(void* buffer, size_t size, int& error);

  // Waits until the socket is readable (or writable), `stop` or `wake` is set, or the time
  // is up. A negative timeout waits without limit.
  TWaitResult Wait(bool forWriting, const TWakeEvent& stop, int timeoutMs, int& error,
                   const TWakeEvent* wake = nullptr) const;

  // Tells the peer we are done (both directions); the socket stays open.
  void Shutdown();
  void Close();

 private:
  int fd_ = -1;
  int family_ = 0;
  bool connected_ = false;
};

}  // namespace zev::platform
