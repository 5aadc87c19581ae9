#include "platform/WakeEvent.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <system_error>

namespace zev::platform {

TWakeEvent::TWakeEvent() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

TWakeEvent::~TWakeEvent() { close(fd_); }

void TWakeEvent::Signal() {
  const uint64_t one = 1;
  // The counter cannot overflow in practice; a full counter is still "set".
  [[maybe_unused]] ssize_t n = write(fd_, &one, sizeof one);
}

void TWakeEvent::Clear() {
  uint64_t value = 0;
  [[maybe_unused]] ssize_t n = read(fd_, &value, sizeof value);
}

bool TWakeEvent::Wait(std::chrono::milliseconds timeout) const {
  pollfd p{fd_, POLLIN, 0};
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    const int rc = poll(&p, 1, static_cast<int>(std::max<int64_t>(0, left.count())));
    if (rc > 0) return true;
    if (rc == 0) return false;
    if (errno != EINTR) return false;
  }
}

}  // namespace zev::platform
