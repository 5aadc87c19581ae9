#include "db/RateMeter.h"

#include <chrono>
#include <cstdlib>

namespace zev {

int64_t TickCountMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool TRateMeter::BeginTransfer(int64_t tick, bool onlyFirst) {
  std::lock_guard lock(lock_);
  if (onlyFirst && activeCount_ != 0) return false;
  if (activeCount_++ <= 0) activeSince_ = tick;
  return true;
}

bool TRateMeter::EndTransfer(int64_t tick, bool onlyLast) {
  std::lock_guard lock(lock_);
  if (onlyLast && activeCount_ != 1) return false;
  if (activeCount_-- == 1) activeTime_ += std::llabs(tick - activeSince_);
  return true;
}

int32_t TRateMeter::ActiveCount() const {
  std::lock_guard lock(lock_);
  return activeCount_;
}

int64_t TRateMeter::ActiveTime(int64_t nowTick) const {
  std::lock_guard lock(lock_);
  return activeTime_ + (activeCount_ > 0 ? std::llabs(nowTick - activeSince_) : 0);
}

double TRateMeter::AverageRate(int64_t nowTick) const {
  int64_t t = ActiveTime(nowTick);
  if (t <= 0) return 0;
  return static_cast<double>(ReceivedTotal()) / (static_cast<double>(t) * 1024.0 / 1000.0);
}

void TRateMeter::TakeSample() {
  uint64_t total = ReceivedTotal();
  std::lock_guard lock(lock_);
  oldest_ = (oldest_ + 1) % kSamples;
  newest_ = (newest_ + 1) % kSamples;
  samples_[newest_] = total;
  if (sampleCount_ < kSamples) ++sampleCount_;
}

uint64_t TRateMeter::NewestSample() const {
  std::lock_guard lock(lock_);
  return samples_[newest_];
}

uint64_t TRateMeter::OldestSample() const {
  std::lock_guard lock(lock_);
  return samples_[oldest_];
}

double TRateMeter::CurrentRate() const {
  std::lock_guard lock(lock_);
  // Until the ring is full its oldest slot still holds the zero of the start, so the span
  // covers as many half-second intervals as samples were taken.
  int intervals = sampleCount_ < kSamples - 1 ? sampleCount_ : kSamples - 1;
  if (intervals == 0) return 0;
  uint64_t span = samples_[newest_] - samples_[oldest_];
  return static_cast<double>(span) / (intervals * 512.0);
}

}  // namespace zev
