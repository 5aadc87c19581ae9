#pragma once
// What automatic marking needs of the download queue: adding an article to download. The
// queue (download/Queue) implements this; the server-groups only know the interface,
// because the queue sits above them in the library order.
#include <cstdint>

#include "db/MsgData.h"

namespace zev {

class TGroup;

class TBodyQueue {
 public:
  virtual ~TBodyQueue() = default;
  // Adds a body item for the article unless it is queued already. The caller holds the
  // queue's list lock (LockList).
  virtual void PutBodyCommand(TGroup& group, uint32_t flags, int score, TArticleOffset offset) = 0;
};

}  // namespace zev
