#include "download/QueueCarrierSets.h"

#include <algorithm>

namespace zev {

uint32_t TQueueCarrierSets::Intern(std::vector<TNodeId> servers) {
  std::sort(servers.begin(), servers.end());
  servers.erase(std::unique(servers.begin(), servers.end()), servers.end());
  auto it = numbers_.find(servers);
  if (it != numbers_.end()) return it->second;
  const auto number = static_cast<uint32_t>(sets_.size());
  sets_.push_back(servers);
  numbers_.emplace(std::move(servers), number);
  return number;
}

bool TQueueCarrierSets::Contains(uint32_t set, TNodeId server) const {
  const std::vector<TNodeId>& members = sets_[set];
  return std::binary_search(members.begin(), members.end(), server);
}

}  // namespace zev
