#include "db/StringRefCache.h"

#include "db/BTree.h"

namespace zev {

TDataPointer TStringRefCache::Find(const TBTree& list, std::string_view text, uint64_t& epoch) {
  epoch = 0;
  if (list_ != &list || epoch_ != list.Epoch()) {
    Clear();
    return 0;
  }
  epoch = epoch_;
  // The parts of one file come one after the other: their text is mostly the last one.
  if (lastPlace_ != 0 && text == last_) return lastPlace_;
  auto it = places_.find(text);
  if (it == places_.end()) {
    epoch = 0;
    return 0;
  }
  SetLast(text, it->second);
  return it->second;
}

void TStringRefCache::Remember(const TBTree& list, uint64_t epoch, std::string_view text, TDataPointer dp) {
  if (list_ != &list || epoch_ != epoch || places_.size() >= kCapacity) {
    Clear();
    list_ = &list;
    epoch_ = epoch;
  }
  places_.insert_or_assign(std::string(text), dp);
  SetLast(text, dp);
}

void TStringRefCache::SetLast(std::string_view text, TDataPointer dp) {
  last_.assign(text);
  lastPlace_ = dp;
}

void TStringRefCache::Clear() {
  places_.clear();
  last_.clear();
  lastPlace_ = 0;
  list_ = nullptr;
  epoch_ = 0;
}

}  // namespace zev
