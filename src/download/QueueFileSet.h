#pragma once
// The queued parts of one multi-part file share one file set: the free-space check reserves
// room for the whole file, not just the part about to be fetched, and a file that did not
// fit is held back as a whole.
//
// Owned by the queue; fields change under its list lock.
#include <cstdint>

namespace zev {

class TQueueFileSet {
 public:
  int32_t RefCount = 0;     // items that use the set
  int32_t DelayCount = 0;   // scheduling attempts still refused after a disk-full result
  uint64_t TotalBytes = 0;  // sum of the sizes of its items

 private:
  friend class TQueue;
  uint32_t index_ = 0;  // position in the queue's set registry
  bool fresh_ = false;  // handed out by FindOrCreateSet and not used by any item yet
};

}  // namespace zev
