#pragma once
// A stop request that sleeping work (drip delays, split-segment pauses) can wait on, so
// that stopping the server never waits for a pause to run out.
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace zev::testserver {

class TStopSignal {
 public:
  void Raise() {
    {
      std::lock_guard lock(mutex_);
      raised_ = true;
    }
    cv_.notify_all();
  }
  bool Raised() const {
    std::lock_guard lock(mutex_);
    return raised_;
  }
  // Waits for the given time; true when the stop came first.
  bool WaitFor(std::chrono::milliseconds time) const {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, time, [this] { return raised_; });
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  bool raised_ = false;
};

}  // namespace zev::testserver
