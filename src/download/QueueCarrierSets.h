#pragma once
// The sets of servers that carry a queued article. Most articles of a queue are carried by
// the same few combinations of servers, so each distinct set is stored once and items keep
// its number. The scheduler files items by that number: all items of one set rank alike
// for a given server.
//
// Used under the queue's list lock.
#include <cstdint>
#include <map>
#include <vector>

#include "download/QueueItem.h"

namespace zev {

class TQueueCarrierSets {
 public:
  static constexpr uint32_t kEmpty = 0;  // the set of no server

  // The number of the set holding exactly these servers (any order, duplicates allowed).
  uint32_t Intern(std::vector<TNodeId> servers);
  const std::vector<TNodeId>& Members(uint32_t set) const { return sets_[set]; }
  bool Contains(uint32_t set, TNodeId server) const;
  size_t Count() const { return sets_.size(); }

 private:
  std::vector<std::vector<TNodeId>> sets_{{}};
  std::map<std::vector<TNodeId>, uint32_t> numbers_{{{}, kEmpty}};
};

}  // namespace zev
