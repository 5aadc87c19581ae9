#pragma once
// Transfer measurement of one server-tree node: the bytes received since start, the time
// during which at least one transfer below the node was active, and a ring of samples of
// the received total taken every half second by the main window's timer.
//
// Connection threads add bytes and begin or end transfers; the user-interface thread
// samples and reads the rates. The byte count is atomic; the activity triple and the ring
// change together and sit behind one small lock.
#include <atomic>
#include <cstdint>
#include <mutex>

namespace zev {

// Milliseconds of a monotonic clock: the "tick" of transfer timing.
int64_t TickCountMs();

class TRateMeter {
 public:
  static constexpr int kSamples = 30;

  void AddReceived(uint64_t bytes) { received_.fetch_add(bytes, std::memory_order_relaxed); }
  uint64_t ReceivedTotal() const { return received_.load(std::memory_order_relaxed); }

  // A transfer starts or ends below this node. With `onlyFirst` (a connection slot, which
  // is either active or not) Begin counts only when nothing is active and End only the
  // last active transfer; both report whether they counted, so that the ancestors follow.
  bool BeginTransfer(int64_t tick, bool onlyFirst);
  bool EndTransfer(int64_t tick, bool onlyLast);
  int32_t ActiveCount() const;
  // Accumulated active milliseconds, the running transfer included.
  int64_t ActiveTime(int64_t nowTick) const;

  // kB/s over the active time since start; 0 before anything was active.
  double AverageRate(int64_t nowTick) const;

  // The half-second sample: both ring indexes advance, then the newest slot takes the
  // received total.
  void TakeSample();
  // kB/s over the samples in the ring (at most 29 half-second intervals).
  double CurrentRate() const;
  // The received total at the latest sample and at the oldest one still in the ring.
  uint64_t NewestSample() const;
  uint64_t OldestSample() const;

 private:
  std::atomic<uint64_t> received_{0};
  mutable std::mutex lock_;
  int32_t activeCount_ = 0;
  int64_t activeSince_ = 0;
  int64_t activeTime_ = 0;
  uint64_t samples_[kSamples] = {};
  int oldest_ = 1, newest_ = 0;
  int sampleCount_ = 0;  // samples taken, capped at kSamples
};

}  // namespace zev
