#include "db/PendingRanges.h"

#include <algorithm>

namespace zev {

namespace {
constexpr uint64_t kNumberSpace = uint64_t{1} << 32;

FArticleRange MakeRange(uint64_t start, uint64_t end) {
  return {static_cast<uint32_t>(start), static_cast<uint32_t>(end - start)};
}
}  // namespace

void TPendingRanges::Add(uint32_t start, uint32_t count) {
  if (count == 0) return;
  uint64_t s = start, e = std::min(uint64_t{start} + count, kNumberSpace);
  std::lock_guard lock(lock_);
  // The first range that ends at or after the new start may touch it; merge every range
  // from there on that starts at or before the new end.
  auto first = std::lower_bound(ranges_.begin(), ranges_.end(), s,
                                [](const FArticleRange& r, uint64_t v) { return r.End() < v; });
  auto last = first;
  while (last != ranges_.end() && last->start <= e) {
    s = std::min<uint64_t>(s, last->start);
    e = std::max(e, last->End());
    ++last;
  }
  // A range of the full 2^32 numbers cannot be counted in 32 bits; it loses its last one.
  if (e - s >= kNumberSpace) e = s + kNumberSpace - 1;
  auto at = ranges_.erase(first, last);
  ranges_.insert(at, MakeRange(s, e));
}

void TPendingRanges::Remove(uint32_t start, uint32_t count) {
  if (count == 0) return;
  std::lock_guard lock(lock_);
  RemoveLocked(start, uint64_t{start} + count);
}

void TPendingRanges::RemoveLocked(uint64_t s, uint64_t e) {
  std::vector<FArticleRange> kept;
  kept.reserve(ranges_.size() + 1);
  for (const FArticleRange& r : ranges_) {
    if (r.End() <= s || r.start >= e) {
      kept.push_back(r);
      continue;
    }
    if (r.start < s) kept.push_back(MakeRange(r.start, s));
    if (r.End() > e) kept.push_back(MakeRange(e, r.End()));
  }
  ranges_.swap(kept);
}

void TPendingRanges::Clip(uint32_t first, uint32_t last) {
  std::lock_guard lock(lock_);
  if (last < first) {
    ranges_.clear();
    return;
  }
  RemoveLocked(0, first);
  RemoveLocked(uint64_t{last} + 1, kNumberSpace);
}

void TPendingRanges::Clear() {
  std::lock_guard lock(lock_);
  ranges_.clear();
}

std::optional<std::pair<uint32_t, uint32_t>> TPendingRanges::Last() const {
  std::lock_guard lock(lock_);
  if (ranges_.empty()) return std::nullopt;
  const FArticleRange& r = ranges_.back();
  return std::make_pair(r.start, static_cast<uint32_t>(r.End() - 1));
}

std::vector<FArticleRange> TPendingRanges::Ranges() const {
  std::lock_guard lock(lock_);
  return ranges_;
}

size_t TPendingRanges::Count() const {
  std::lock_guard lock(lock_);
  return ranges_.size();
}

}  // namespace zev
