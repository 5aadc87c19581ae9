#pragma once
// Small sorted arrays for sets and dictionaries of 32-bit numbers (article offsets,
// article numbers), searched by bisection. The vector's size is the used count; its
// capacity grows by doubling, from 128 entries.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zev {

using TMap1 = std::vector<uint32_t>;

struct FMapPair {
  uint32_t key;
  uint32_t value;
};
using TMap2 = std::vector<FMapPair>;

// A text-keyed dictionary, sorted by key without regard to (ASCII) case.
template <typename T>
using TMapP = std::vector<std::pair<T*, std::string>>;

constexpr size_t kMapInitialCapacity = 128;

void SortMap1(TMap1& map);
// Index of `value` in a sorted map, or -1.
int64_t FindInMap1(const TMap1& map, uint32_t value);
// Inserts `value` at its sorted place; false when it is there already.
bool InsertIntoMap1(TMap1& map, uint32_t value);

// Sorts the first `n` pairs (all when n exceeds the size) by key, or all pairs by value.
void SortMap2ByKey(TMap2& map, size_t n = SIZE_MAX);
void SortMap2ByValue(TMap2& map);
// Index of the pair with `key` in a map sorted by key, or -1.
int64_t FindInMap2(const TMap2& map, uint32_t key);
// Inserts the pair at its sorted place, or replaces the value of an existing key. True
// when the key is new.
bool PutInMap2(TMap2& map, uint32_t key, uint32_t value);

int CompareTextIgnoreCase(std::string_view a, std::string_view b);

// The reference stored under `key` (compared without regard to case), or nullptr.
template <typename T>
T* FindInMapP(const TMapP<T>& map, std::string_view key) {
  size_t lo = 0, hi = map.size();
  while (lo < hi) {
    size_t mid = lo + (hi - lo) / 2;
    int c = CompareTextIgnoreCase(map[mid].second, key);
    if (c == 0) return map[mid].first;
    if (c < 0) lo = mid + 1;
    else hi = mid;
  }
  return nullptr;
}

}  // namespace zev
