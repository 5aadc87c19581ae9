#include "db/BTreeNode.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
#endif

namespace zev {

using namespace fmt;

namespace {
inline uint8_t Fold(uint8_t c) { return c >= 'a' && c <= 'z' ? c - 32 : c; }

// Eight bytes as a number that orders like the bytes do.
inline uint64_t LoadBigEndian64(const char* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v;
}
}  // namespace

int CompareKeys(std::string_view a, std::string_view b, bool caseInsensitive) {
  size_t n = std::min(a.size(), b.size());
  if (!caseInsensitive) {
    int c = std::memcmp(a.data(), b.data(), n);
    if (c != 0) return c < 0 ? -1 : 1;
  } else {
    for (size_t i = 0; i < n; ++i) {
      uint8_t x = Fold(static_cast<uint8_t>(a[i])), y = Fold(static_cast<uint8_t>(b[i]));
      if (x != y) return x < y ? -1 : 1;
    }
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

int CompareTextBounded(const char* text, size_t room, std::string_view key, bool caseInsensitive) {
  if (!caseInsensitive) {
    size_t n = std::min(room, key.size());
    // Keys hold no zero byte, so a text that ends early differs from the key at its zero:
    // comparing n bytes as memory orders them as texts. Most keys of a search differ
    // within their first eight bytes, which one integer compare settles without a call
    // (Message-IDs often share a first byte or a "part" prefix).
    if (n >= 8) {
      uint64_t x = LoadBigEndian64(text), y = LoadBigEndian64(key.data());
      if (x != y) return x < y ? -1 : 1;
    } else if (n > 0 && text[0] != key[0]) {
      return static_cast<uint8_t>(text[0]) < static_cast<uint8_t>(key[0]) ? -1 : 1;
    }
    int c = std::memcmp(text, key.data(), n);
    if (c != 0) return c < 0 ? -1 : 1;
    if (n == room) return 1;  // no end inside the room
    return text[n] == 0 ? 0 : 1;
  }
  for (size_t i = 0;; ++i) {
    if (i == room) return 1;
    uint8_t x = static_cast<uint8_t>(text[i]);
    if (i == key.size()) return x == 0 ? 0 : 1;
    uint8_t y = Fold(static_cast<uint8_t>(key[i]));
    x = Fold(x);
    if (x != y) return x < y ? -1 : 1;
  }
}

bool KeyHasPrefix(std::string_view key, std::string_view prefix, bool caseInsensitive) {
  return key.size() >= prefix.size() && CompareKeys(key.substr(0, prefix.size()), prefix, caseInsensitive) == 0;
}

// Every insert asks this of a node: four entries per step, the key offsets of all four
// gathered into one register. An offset is below 2^15, so the 16-bit signed minimum of
// SSE2 gives the minimum of the 32-bit lanes (their upper halves are all zero).
uint32_t TNode::LowestKey() const {
  if (!KeysInNode()) return size_;
  const uint32_t n = Count();
  uint32_t low = size_;
  uint32_t i = 0;
#if defined(__SSE2__)
  static_assert(kEntrySize == 8 && kKeyOffsetShift == 17, "four entries are two 16-byte loads");
  __m128i lows = _mm_set1_epi32(static_cast<int>(size_));
  for (; i + 4 <= n; i += 4) {
    const __m128 a = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Entry(i))));
    const __m128 b = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Entry(i + 2))));
    const __m128i words = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
    lows = _mm_min_epi16(lows, _mm_srli_epi32(words, kKeyOffsetShift));
  }
  alignas(16) uint32_t lanes[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), lows);
  low = std::min(std::min(lanes[0], lanes[1]), std::min(lanes[2], lanes[3]));
#endif
  for (; i < n; ++i) low = std::min(low, KeyOffset(i));
  return low;
}

uint32_t TNode::FreeSpace() const {
  uint32_t used = kHeaderSize + kEntrySize * Count();
  uint32_t top = LowestKey();
  return top > used ? top - used : 0;
}

void TNode::SetEntry(uint32_t i, TDataPointer dp, uint32_t child, uint32_t keyOffset) {
  Store32(Entry(i), dp);
  Store32(Entry(i) + 4, (PageNumber(child) & kChildMask) | (keyOffset << kKeyOffsetShift));
}

bool TNode::InsertAt(uint32_t i, TDataPointer dp, uint32_t child, std::string_view key) {
  bool keyed = KeysInNode();
  uint32_t n = Count();
  uint32_t lowest = LowestKey();
  uint32_t used = kHeaderSize + kEntrySize * n;
  if (i > n || lowest < used || lowest - used < EntryBytes(keyed, key.size())) return false;
  uint32_t keyOffset = 0;
  if (keyed) {
    keyOffset = lowest - static_cast<uint32_t>(key.size()) - 1;
    std::memcpy(p_ + keyOffset, key.data(), key.size());
    p_[keyOffset + key.size()] = 0;
  }
  std::memmove(Entry(i + 1), Entry(i), kEntrySize * (n - i));
  SetEntry(i, dp, child, keyOffset);
  SetCount(n + 1);
  return true;
}

// Closes the gap a removed key text leaves, so the key area stays one block.
void TNode::RemoveKeyText(uint32_t offset) {
  uint32_t length = static_cast<uint32_t>(strnlen(reinterpret_cast<char*>(p_ + offset), size_ - offset)) + 1;
  if (offset + length > size_) length = size_ - offset;
  uint32_t lowest = std::min(LowestKey(), offset);
  if (lowest < offset) std::memmove(p_ + lowest + length, p_ + lowest, offset - lowest);
  std::memset(p_ + lowest, 0, std::min(length, size_ - lowest));
  for (uint32_t j = 0, n = Count(); j < n; ++j) {
    uint32_t k = KeyOffset(j);
    if (k < offset) SetEntry(j, Dp(j), Child(j), k + length);
  }
}

void TNode::RemoveAt(uint32_t i) {
  uint32_t n = Count();
  if (i >= n) return;
  if (KeysInNode()) {
    uint32_t offset = KeyOffset(i);
    SetEntry(i, Dp(i), Child(i), size_);  // out of the way of the shift below
    RemoveKeyText(offset);
  }
  std::memmove(Entry(i), Entry(i + 1), kEntrySize * (n - i - 1));
  std::memset(Entry(n - 1), 0, kEntrySize);
  SetCount(n - 1);
}

bool TNode::ReplaceKey(uint32_t i, std::string_view key) {
  if (!KeysInNode() || i >= Count()) return false;
  std::string_view old = Key(i);
  if (key.size() > old.size() && FreeSpace() < key.size() - old.size()) return false;
  TDataPointer dp = Dp(i);
  uint32_t child = Child(i);
  uint32_t offset = KeyOffset(i);
  SetEntry(i, dp, child, size_);
  RemoveKeyText(offset);
  uint32_t at = LowestKey() - static_cast<uint32_t>(key.size()) - 1;
  std::memcpy(p_ + at, key.data(), key.size());
  p_[at + key.size()] = 0;
  SetEntry(i, dp, child, at);
  return true;
}

TNodeContent TNode::Content() const {
  TNodeContent c;
  c.lt = IsDir() ? Lt() : 0;
  uint32_t n = Count();
  c.entries.resize(n);
  bool keyed = KeysInNode();
  // Every text fits in the node's size; the copy below writes all it reads.
  if (keyed) c.keys = std::make_unique_for_overwrite<char[]>(size_);
  size_t at = 0;
  for (uint32_t i = 0; i < n; ++i) {
    c.entries[i].dp = Dp(i);
    c.entries[i].child = IsDir() ? Child(i) : 0;
    if (keyed) {
      std::string_view k = Key(i);
      std::memcpy(c.keys.get() + at, k.data(), k.size());
      c.entries[i].key = std::string_view(c.keys.get() + at, k.size());
      at += k.size();
    }
  }
  return c;
}

uint32_t TNode::ContentBytes(const TNodeContent& content, bool keysInNode) {
  uint32_t bytes = 0;
  for (auto& e : content.entries) bytes += EntryBytes(keysInNode, e.key.size());
  return bytes;
}

void TNode::Assign(const TNodeContent& content) {
  bool keyed = KeysInNode();
  uint32_t n = static_cast<uint32_t>(content.entries.size());
  std::memset(p_ + kHeaderSize, 0, size_ - kHeaderSize);
  uint32_t top = size_;
  for (uint32_t i = 0; i < n; ++i) {
    const TNodeEntry& e = content.entries[i];
    uint32_t keyOffset = 0;
    if (keyed) {
      top -= static_cast<uint32_t>(e.key.size()) + 1;
      std::memcpy(p_ + top, e.key.data(), e.key.size());
      keyOffset = top;
    }
    SetEntry(i, e.dp, IsDir() ? e.child : 0, keyOffset);
  }
  SetCount(n);
  Store32(p_ + kLastField, IsDir() ? PageNumber(content.lt) & kChildMask : 0);
}

bool TNode::Valid(std::string* why) const {
  auto fail = [&](std::string text) {
    if (why) *why = std::move(text);
    return false;
  };
  uint32_t n = Count();
  if (n > (size_ - kHeaderSize) / kEntrySize) return fail("entry count " + std::to_string(n) + " too large");
  if (!KeysInNode()) return true;
  uint32_t entriesEnd = kHeaderSize + kEntrySize * n;
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t k = KeyOffset(i);
    if (k < entriesEnd || k >= size_)
      return fail("key " + std::to_string(i) + " at offset " + std::to_string(k) + " outside the key area");
    size_t len = strnlen(reinterpret_cast<const char*>(p_ + k), size_ - k);
    if (len == size_ - k) return fail("key " + std::to_string(i) + " has no end");
    if (len > kMaxKeyLength) return fail("key " + std::to_string(i) + " longer than 255 characters");
  }
  return true;
}

}  // namespace zev
