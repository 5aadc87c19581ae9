#include "db/Map.h"

#include <algorithm>

namespace zev {

namespace {

// Growth by doubling from kMapInitialCapacity, as the stored arrays always grew.
template <typename V>
void MakeRoom(V& v) {
  if (v.size() < v.capacity()) return;
  v.reserve(std::max(kMapInitialCapacity, v.capacity() * 2));
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

void SortMap1(TMap1& map) { std::sort(map.begin(), map.end()); }

int64_t FindInMap1(const TMap1& map, uint32_t value) {
  if (map.empty() || value < map.front() || value > map.back()) return -1;
  if (value == map.front()) return 0;
  if (value == map.back()) return static_cast<int64_t>(map.size()) - 1;
  auto it = std::lower_bound(map.begin(), map.end(), value);
  return it != map.end() && *it == value ? it - map.begin() : -1;
}

bool InsertIntoMap1(TMap1& map, uint32_t value) {
  auto it = std::lower_bound(map.begin(), map.end(), value);
  if (it != map.end() && *it == value) return false;
  size_t at = static_cast<size_t>(it - map.begin());
  MakeRoom(map);
  map.insert(map.begin() + static_cast<std::ptrdiff_t>(at), value);
  return true;
}

void SortMap2ByKey(TMap2& map, size_t n) {
  auto end = map.begin() + static_cast<std::ptrdiff_t>(std::min(n, map.size()));
  std::sort(map.begin(), end, [](const FMapPair& a, const FMapPair& b) { return a.key < b.key; });
}

void SortMap2ByValue(TMap2& map) {
  std::sort(map.begin(), map.end(), [](const FMapPair& a, const FMapPair& b) { return a.value < b.value; });
}

int64_t FindInMap2(const TMap2& map, uint32_t key) {
  auto it = std::lower_bound(map.begin(), map.end(), key, [](const FMapPair& p, uint32_t k) { return p.key < k; });
  return it != map.end() && it->key == key ? it - map.begin() : -1;
}

bool PutInMap2(TMap2& map, uint32_t key, uint32_t value) {
  auto it = std::lower_bound(map.begin(), map.end(), key, [](const FMapPair& p, uint32_t k) { return p.key < k; });
  if (it != map.end() && it->key == key) {
    it->value = value;
    return false;
  }
  size_t at = static_cast<size_t>(it - map.begin());
  MakeRoom(map);
  map.insert(map.begin() + static_cast<std::ptrdiff_t>(at), FMapPair{key, value});
  return true;
}

int CompareTextIgnoreCase(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    auto x = static_cast<unsigned char>(LowerAscii(a[i])), y = static_cast<unsigned char>(LowerAscii(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

}  // namespace zev
