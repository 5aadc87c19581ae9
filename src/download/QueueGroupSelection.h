#pragma once
// The response target of the "group" commands the queue sends on its own, to move a
// connection to the group of the item it picked (the item is released meanwhile and found
// again by the next NextCommand). It records the selected group on the connection's slot
// when the server accepts it, and tells the queue when it does not, so that the item is not
// handed straight back to a server that cannot select its group.
#include "download/CommandSource.h"

namespace zev {

class TQueue;

class TQueueGroupSelection : public TResponseTarget {
 public:
  explicit TQueueGroupSelection(TQueue& queue) : queue_(queue) {}
  void HandleResponse(TConnectionFace& connection, const FResponseBlock& block) override;

 private:
  TQueue& queue_;
};

}  // namespace zev
