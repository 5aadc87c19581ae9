#include "db/SubscribedGroups.h"

#include <algorithm>

#include "db/Group.h"

namespace zev {

void TSubscribedGroups::Add(TGroup* group) {
  std::lock_guard lock(lock_);
  groups_.push_back(group);
}

void TSubscribedGroups::Remove(TGroup* group) {
  std::lock_guard lock(lock_);
  groups_.erase(std::remove(groups_.begin(), groups_.end(), group), groups_.end());
}

TGroup* TSubscribedGroups::FindGroupByName(std::string_view name) const {
  std::lock_guard lock(lock_);
  for (TGroup* g : groups_)
    if (g->NameIs(name)) return g;
  return nullptr;
}

std::vector<TGroup*> TSubscribedGroups::Snapshot() const {
  std::lock_guard lock(lock_);
  return groups_;
}

}  // namespace zev
