#pragma once
// The response handler of one connection: a thread that takes the connection's response
// blocks one at a time and passes each to its target, so that parsing, database work and
// decoding never hold up the socket. The connection waits only when the handler is still
// busy with the previous block.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "download/CommandSource.h"
#include "nntp/ResponseFramer.h"

namespace zev {

// A block with everything its target needs to know about the response.
struct FHandOver {
  TResponseTarget* target = nullptr;
  FFramedBlock block;
  uint16_t code = 0;
  std::string statusLine;
  std::string command;
  bool partial = false;
  std::unique_ptr<FPreparedBlock> prepared;
};

// The target's view of a hand-over; valid while the hand-over lives.
FResponseBlock ViewOf(const FHandOver& handOver);

class TRHandler {
 public:
  explicit TRHandler(TConnectionFace& connection);
  // Waits for the block in hand, then ends the thread.
  ~TRHandler();
  TRHandler(const TRHandler&) = delete;
  TRHandler& operator=(const TRHandler&) = delete;

  // Waits until the handler is idle, then gives it the block.
  void Hand(FHandOver&& handOver);
  // No block waiting and none in work.
  bool Idle() const;
  void WaitIdle();
  // The buffer of the last block handled, for the connection to read into again.
  TReceiveBuffer TakeSpare();

 private:
  void Execute();
  void Dispatch(FHandOver& handOver);

  TConnectionFace& connection_;
  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::optional<FHandOver> waiting_;
  bool busy_ = false;
  bool stop_ = false;
  TReceiveBuffer spare_;
  std::thread thread_;
};

// The fields of a block as the error log shows them after a target failed.
std::string HandOverDump(const FHandOver& handOver);

}  // namespace zev
