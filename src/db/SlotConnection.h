#pragma once
// What a connection slot needs of the connection thread attached to it. The connection
// (nntp/Connection) implements this; the server model only knows the interface, because
// the connections sit above it in the library order.
namespace zev {

class TSlotConnection {
 public:
  virtual ~TSlotConnection() = default;
  // Number of queue items the connection holds (its current item).
  virtual int HeldItemCount() const = 0;
  // Gives the current queue item back to the queue so that another connection can take it.
  virtual void ReleaseCurrentItem() = 0;
};

}  // namespace zev
