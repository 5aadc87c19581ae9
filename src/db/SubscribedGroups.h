#pragma once
// Every newsgroup node of the group tree, attached or not (imports create newsgroups
// before they attach them). Connection threads look groups up by name while the
// user-interface thread adds and removes them, so every operation takes the list's lock.
#include <mutex>
#include <string_view>
#include <vector>

namespace zev {

class TGroup;

class TSubscribedGroups {
 public:
  void Add(TGroup* group);
  void Remove(TGroup* group);
  // The newsgroup whose name equals `name` exactly, or nullptr.
  TGroup* FindGroupByName(std::string_view name) const;
  // A copy of the list, in the order the groups were created.
  std::vector<TGroup*> Snapshot() const;

 private:
  mutable std::mutex lock_;
  std::vector<TGroup*> groups_;
};

}  // namespace zev
