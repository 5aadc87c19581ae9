#pragma once
// Stable identities for the servers, connection slots and groups that queue items refer to.
//
// An item stores a number, never a pointer: when the user deletes a server or a group, the
// queue forgets its identity before the node is freed, and from then on the number leads
// nowhere instead of to freed memory.
//
// A node is registered by whoever holds it alive (a connection with its slot, the tree
// walks of the user-interface thread, a caller passing a group). Nodes that only come back
// from the server-group lists (FromIndex) are accepted unless they were forgotten: those
// lists drop a deleted node's entries a moment after the queue forgot it.
//
// Used under the queue's list lock.
#include <cstdint>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "download/QueueItem.h"

namespace zev {

class TGroup;
class TServer;

template <typename TNode>
class TQueueRefTable {
 public:
  // The identity of a live node, registering it if needed.
  TNodeId Register(TNode* node) {
    if (!node) return 0;
    retired_.erase(node);
    auto [it, inserted] = ids_.try_emplace(node, static_cast<TNodeId>(nodes_.size()));
    if (inserted) nodes_.push_back(node);
    return it->second;
  }
  // The identity of a node reported by the server-group lists; 0 for a forgotten one.
  TNodeId FromIndex(TNode* node) {
    if (!node || retired_.count(node)) return 0;
    return Register(node);
  }
  // The identity of a node already known; 0 otherwise.
  TNodeId Find(const TNode* node) const {
    auto it = ids_.find(const_cast<TNode*>(node));
    return it == ids_.end() ? 0 : it->second;
  }
  TNode* Resolve(TNodeId id) const { return id > 0 && id < nodes_.size() ? nodes_[id] : nullptr; }
  // The node is about to be freed: its identity leads nowhere from now on.
  void Forget(TNode* node) {
    auto it = ids_.find(node);
    if (it != ids_.end()) {
      nodes_[it->second] = nullptr;
      ids_.erase(it);
    }
    retired_.insert(node);
  }
  // Every live identity.
  template <typename Fn>
  void ForEach(Fn fn) const {
    for (TNodeId id = 1; id < nodes_.size(); ++id)
      if (nodes_[id]) fn(id, *nodes_[id]);
  }

 private:
  std::vector<TNode*> nodes_{nullptr};  // identity 0 is none
  std::unordered_map<TNode*, TNodeId> ids_;
  std::unordered_set<const TNode*> retired_;
};

class TQueueRefs {
 public:
  TQueueRefTable<TServer> Servers;  // news servers and connection slots
  TQueueRefTable<TGroup> Groups;
};

}  // namespace zev
