#pragma once
// The header retrieval wants to know when the queue gives up on header work it planned, so
// that it can release what it had claimed for that command (the header retrieval sits above
// the queue in the library order and implements this).
#include <string>

#include "download/QueueItem.h"

namespace zev {

class TConnectionFace;

class TQueueHeaderObserver {
 public:
  virtual ~TQueueHeaderObserver() = default;
  // The server refused a header command of `kind` for `groupName` on `connection`, or the
  // queue dropped it. Called without the queue's lock.
  virtual void HeaderCommandFailed(TConnectionFace& connection, TQueueKind kind, const std::string& groupName) = 0;
};

}  // namespace zev
