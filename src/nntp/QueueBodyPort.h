#pragma once
// Automatic marking (TSrvGrp::AutoMarkFile) hands articles to the queue through the small
// TBodyQueue interface of the database library; this is the queue behind it, for one
// holder of the queue's list lock.
#include "db/BodyQueue.h"
#include "db/MsgData.h"
#include "download/Queue.h"

namespace zev {

class TQueueBodyPort : public TBodyQueue {
 public:
  TQueueBodyPort(TQueue& queue, TQueue::TLockedList& list) : queue_(queue), list_(list) {}
  void PutBodyCommand(TGroup& group, uint32_t flags, int score, TArticleOffset offset) override {
    // The parts of one file share a set, so the queue keeps them together.
    TQueueFileSet* set = queue_.FindOrCreateSet(list_, offset);
    queue_.PutBodyCommand(list_, &group, flags, set, score, offset);
  }

 private:
  TQueue& queue_;
  TQueue::TLockedList& list_;
};

}  // namespace zev
