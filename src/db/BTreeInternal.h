#pragma once
// Pieces shared by the source files of TBTree; not for other users.
#include <array>
#include <exception>
#include <mutex>

#include "core/Log.h"
#include "db/BTree.h"
#include "db/BTreeNode.h"
#include "db/DataPage.h"

namespace zev {

// Deeper than any tree of a 1 GiB file can grow: a longer descent means a cycle.
constexpr size_t kMaxDepth = 16;

// Reads the keys of index entries. In key-in-record trees a key lives in its record, so
// the reader keeps the data page of the last record pinned for the next comparison.
class TBTree::TKeyReader {
 public:
  // `exclusive`: the caller holds the tree alone, so record pages may be read unpinned.
  explicit TKeyReader(TBTree& tree, bool exclusive = false) : tree_(tree), exclusive_(exclusive) {}
  // False when the key cannot be read (it then sorts after every key).
  bool KeyOf(const TNode& node, uint32_t i, std::string_view& key) {
    if (node.KeysInNode()) {
      key = node.Key(i);
      return true;
    }
    return RecordKey(node.Dp(i), key);
  }
  bool RecordKey(TDataPointer dp, std::string_view& key);
  // Compares the key of entry i with `key`; an unreadable key sorts after every key.
  int Compare(const TNode& node, uint32_t i, std::string_view key, bool ci) {
    if (node.KeysInNode()) return CompareTextBounded(node.KeyText(i), node.Size() - node.KeyOffset(i), key, ci);
    const char* text;
    size_t room;
    return RecordText(node.Dp(i), text, room) ? CompareTextBounded(text, room, key, ci) : 1;
  }

 private:
  bool RecordText(TDataPointer dp, const char*& text, size_t& room);

  TBTree& tree_;
  bool exclusive_;
  // The data pages of the last few records read: a search compares against records
  // spread over a handful of pages.
  std::array<TPageRef, 6> pages_;
  size_t next_ = 0;
};

// Runs one changing operation under the exclusive lock. An operation that fails half way
// may have left pages inconsistent: its changes (and the others since the last flush) are
// dropped, so the file keeps its last sound state.
class TBTree::TWriteScope {
 public:
  explicit TWriteScope(TBTree& tree) : tree_(tree), lock_(tree.lock_) { tree_.cache_->SetExclusive(true); }
  ~TWriteScope() { tree_.cache_->SetExclusive(false); }
  TWriteScope(const TWriteScope&) = delete;
  TWriteScope& operator=(const TWriteScope&) = delete;
  template <class TOp>
  bool Run(const char* location, TOp&& op) {
    if (!tree_.Writable()) return false;
    bool result;
    try {
      result = op();
    } catch (const std::exception& e) {
      tree_.cache_->DiscardChanges();
      tree_.NewEpoch();
      tree_.freeListLength_ = -1;
      LogException(e, location, "Unsaved changes of \"" + tree_.fileName_ + "\" were dropped.");
      throw;
    }
    tree_.AfterWrite();
    return result;
  }

 private:
  TBTree& tree_;
  std::unique_lock<std::shared_mutex> lock_;
};

}  // namespace zev
