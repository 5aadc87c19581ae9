#pragma once
// Where the texts an accessor referenced lately are stored in their string list.
//
// The parts of one posted file share their author, file name and subject template, so
// a refresh references the same few texts over and over. Knowing a text's record, the
// next reference only counts it up there instead of searching the list's tree again.
// An entry is trusted only while the list has freed no record since it was learnt
// (TBTree::Epoch), so a place that was given up and reused never takes a count.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "db/BTreeFormat.h"

namespace zev {

class TBTree;

class TStringRefCache {
 public:
  // The record of `text` in `list`, or 0 when not known; `epoch` receives the list's
  // epoch the answer holds for (pass it to TBTree::AddToRecord).
  TDataPointer Find(const TBTree& list, std::string_view text, uint64_t& epoch);
  // `dp` was learnt while the list's epoch was `epoch` (read before asking the list).
  void Remember(const TBTree& list, uint64_t epoch, std::string_view text, TDataPointer dp);
  void Clear();

 private:
  struct FHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
  };
  // Enough for the files a refresh block is working on; past it the cache starts again.
  static constexpr size_t kCapacity = 4096;

  void SetLast(std::string_view text, TDataPointer dp);

  const TBTree* list_ = nullptr;
  uint64_t epoch_ = 0;
  std::unordered_map<std::string, TDataPointer, FHash, std::equal_to<>> places_;
  // The entry of places_ found or learnt last, compared before hashing.
  std::string last_;
  TDataPointer lastPlace_ = 0;
};

}  // namespace zev
