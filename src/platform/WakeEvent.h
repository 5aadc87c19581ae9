#pragma once
// A wake-up a thread can wait for beside its sockets: poll() on Fd() alongside them, or
// Wait() alone. Signal() from any thread; the event stays set until Clear().
#include <chrono>

namespace zev::platform {

class TWakeEvent {
 public:
  TWakeEvent();
  ~TWakeEvent();
  TWakeEvent(const TWakeEvent&) = delete;
  TWakeEvent& operator=(const TWakeEvent&) = delete;

  int Fd() const { return fd_; }
  void Signal();
  void Clear();
  // Waits until signalled or the time is up; true when signalled. Leaves the event set.
  bool Wait(std::chrono::milliseconds timeout) const;

 private:
  int fd_ = -1;
};

}  // namespace zev::platform
