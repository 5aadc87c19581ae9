#include "core/TerminationSignal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>

namespace zev {
namespace {

std::atomic<bool> gRequested{false};
int gPipe[2] = {-1, -1};
std::once_flag gInstalled;

void Notify() {
  gRequested.store(true);
  if (gPipe[1] >= 0) {
    int saved = errno;
    char byte = 1;
    // Non-blocking: a full pipe already wakes every reader.
    [[maybe_unused]] ssize_t n = write(gPipe[1], &byte, 1);
    errno = saved;
  }
}

void OnSignal(int) { Notify(); }

}  // namespace

void TTerminationSignal::Install() {
  std::call_once(gInstalled, [] {
    if (pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) gPipe[0] = gPipe[1] = -1;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
  });
}

bool TTerminationSignal::Requested() { return gRequested.load(); }

int TTerminationSignal::WakeupFd() { return gPipe[0]; }

bool TTerminationSignal::Wait(int timeoutMs) {
  if (Requested() || gPipe[0] < 0) return Requested();
  pollfd p{gPipe[0], POLLIN, 0};
  while (poll(&p, 1, timeoutMs) < 0 && errno == EINTR) {
  }
  return Requested();
}

void TTerminationSignal::Raise() { Notify(); }

}  // namespace zev
