#pragma once
// The article-number ranges of one server-group whose headers still have to be fetched:
// sorted by start, disjoint and never adjacent (touching ranges are merged). Used by the
// header retrieval from connection threads and by the queue, so every operation locks.
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace zev {

struct FArticleRange {
  uint32_t start;
  uint32_t count;
  uint64_t End() const { return uint64_t{start} + count; }  // one past the last number
};

class TPendingRanges {
 public:
  // Adds [start, start + count), merging it with every range it overlaps or touches.
  void Add(uint32_t start, uint32_t count);
  // Removes [start, start + count) from the ranges it meets (shortening or splitting them).
  void Remove(uint32_t start, uint32_t count);
  // Keeps only the numbers first..last (nothing when last < first).
  void Clip(uint32_t first, uint32_t last);
  void Clear();
  // Start and last number of the highest range.
  std::optional<std::pair<uint32_t, uint32_t>> Last() const;
  std::vector<FArticleRange> Ranges() const;
  size_t Count() const;

 private:
  void RemoveLocked(uint64_t start, uint64_t end);
  mutable std::mutex lock_;
  std::vector<FArticleRange> ranges_;
};

}  // namespace zev
