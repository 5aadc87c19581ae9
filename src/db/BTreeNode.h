#pragma once
// An index node as it lies in a page buffer: the 17-byte header, then 8-byte entries
// sorted by key, and in ntType2 nodes the key texts stored downward from the node's end.
// A node is the root (24576 bytes) or one page (8192 bytes).
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/BTreeFormat.h"

namespace zev {

// One entry taken out of a node, used while nodes are rebuilt. The key (ntType2 nodes
// only) points into the key copy of the content it came from, which outlives the rebuild.
struct TNodeEntry {
  TDataPointer dp = 0;
  uint32_t child = 0;     // page position of the child (internal nodes), 0 in leaves
  std::string_view key;
};

// A node's content apart from its header links, with its own copy of the key texts.
struct TNodeContent {
  uint32_t lt = 0;  // page position of the child below the first key (internal nodes)
  std::vector<TNodeEntry> entries;
  std::unique_ptr<char[]> keys;
};

class TNode {
 public:
  TNode(uint8_t* data, uint32_t size) : p_(data), size_(size) {}

  uint8_t Kind() const { return p_[fmt::kKindField]; }
  void SetKind(uint8_t kind) { p_[fmt::kKindField] = kind; }
  bool IsDir() const { return Kind() & fmt::ntDir; }
  bool KeysInNode() const { return Kind() & fmt::ntType2; }
  uint32_t Size() const { return size_; }

  uint32_t Count() const { return fmt::Load32(p_ + fmt::kCountField); }
  uint32_t Prev() const { return fmt::Load32(p_ + fmt::kPrevField); }
  uint32_t Next() const { return fmt::Load32(p_ + fmt::kNextField); }
  void SetPrev(uint32_t position) { fmt::Store32(p_ + fmt::kPrevField, position); }
  void SetNext(uint32_t position) { fmt::Store32(p_ + fmt::kNextField, position); }
  uint32_t Lt() const { return fmt::PagePosition(fmt::Load32(p_ + fmt::kLastField) & fmt::kChildMask); }

  TDataPointer Dp(uint32_t i) const { return fmt::Load32(Entry(i)); }
  void SetDp(uint32_t i, TDataPointer dp) { fmt::Store32(Entry(i), dp); }
  uint32_t Child(uint32_t i) const { return fmt::PagePosition(fmt::Load32(Entry(i) + 4) & fmt::kChildMask); }
  // The child a search goes down to from `slot`: slot 0 is the LT child, slot i the child of entry i - 1.
  uint32_t SlotChild(uint32_t slot) const { return slot == 0 ? Lt() : Child(slot - 1); }
  uint32_t KeyOffset(uint32_t i) const { return fmt::Load32(Entry(i) + 4) >> fmt::kKeyOffsetShift; }
  // The key text of entry i of an ntType2 node (the node has been validated).
  std::string_view Key(uint32_t i) const { return KeyText(i); }
  const char* KeyText(uint32_t i) const { return reinterpret_cast<const char*>(p_ + KeyOffset(i)); }

  void PrefetchEntries() const {
    const uint8_t* end = Entry(0) + static_cast<size_t>(fmt::kEntrySize) * std::min(Count(), Capacity() / fmt::kEntrySize);
    for (const uint8_t* at = Entry(0); at < end; at += 64) __builtin_prefetch(at);
  }
  // Bytes between the entries and the lowest key text.
  uint32_t FreeSpace() const;
  static uint32_t EntryBytes(bool keysInNode, size_t keyLength) {
    return fmt::kEntrySize + (keysInNode ? static_cast<uint32_t>(keyLength) + 1 : 0);
  }
  uint32_t Capacity() const { return size_ - fmt::kHeaderSize; }

  // In-place edits for the common case; InsertAt returns false when the entry does not fit.
  bool InsertAt(uint32_t i, TDataPointer dp, uint32_t child, std::string_view key);
  void RemoveAt(uint32_t i);
  // Replaces the key of entry i (ntType2); false when the longer text does not fit.
  bool ReplaceKey(uint32_t i, std::string_view key);

  TNodeContent Content() const;
  // Rewrites entries, keys and the LT child; kind and links stay as they are.
  void Assign(const TNodeContent& content);
  static uint32_t ContentBytes(const TNodeContent& content, bool keysInNode);

  // Structural soundness: the entry count fits and every key text lies inside the node,
  // ends with a zero byte and is at most 255 characters. Needed before any other read.
  bool Valid(std::string* why = nullptr) const;

 private:
  uint8_t* Entry(uint32_t i) const { return p_ + fmt::kHeaderSize + fmt::kEntrySize * i; }
  void SetCount(uint32_t n) { fmt::Store32(p_ + fmt::kCountField, n); }
  void SetEntry(uint32_t i, TDataPointer dp, uint32_t child, uint32_t keyOffset);
  uint32_t LowestKey() const;
  void RemoveKeyText(uint32_t offset);

  uint8_t* p_;
  uint32_t size_;
};

// Key order of a tree: unsigned bytes, optionally with a..z folded to A..Z.
int CompareKeys(std::string_view a, std::string_view b, bool caseInsensitive);
// The same for a text of which at most `room` bytes may be read; a text whose end does not
// lie within them sorts after every key.
int CompareTextBounded(const char* text, size_t room, std::string_view key, bool caseInsensitive);
// True when `key` begins with `prefix` in the tree's order.
bool KeyHasPrefix(std::string_view key, std::string_view prefix, bool caseInsensitive);

}  // namespace zev
