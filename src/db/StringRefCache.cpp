#include "db/StringRefCache.h"

#include "db/BTree.h"

namespace zev {

TDataPointer TStringRefCache::Find(const TBTree& list, std::string_view text, uint64_t& epoch) {
  epoch = 0;
  if (list_ != &list || epoch_ != list.Epoch()) {
    Clear();
    return 0;
  }
  auto it = places_.find(text);
  if (it == places_.end()) return 0;
  epoch = epoch_;
  return it->second;
}

void TStringRefCache::Remember(const TBTree& list, uint64_t epoch, std::string_view text, TDataPointer dp) {
  if (list_ != &list || epoch_ != epoch || places_.size() >= kCapacity) {
    Clear();
    list_ = &list;
    epoch_ = epoch;
  }
  places_.insert_or_assign(std::string(text), dp);
}

void TStringRefCache::Clear() {
  places_.clear();
  list_ = nullptr;
  epoch_ = 0;
}

}  // namespace zev
