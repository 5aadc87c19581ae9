#pragma once
// The contract between a news-server connection and the work that drives it.
//
// The connections (nntp) sit above the queue in the library order, yet the queue decides
// what each connection does next. So the queue implements TCommandSource, a connection
// offers the queue its TConnectionFace, and whatever parses a response (the header
// retrieval, the body handler, the newsgroup list) implements TResponseTarget. Start-up
// wires them together through gCommandSource and gNewsgroupFeed; tests set them to
// stand-ins of their own.
//
// Threads:
// - A connection calls its command source on its own thread: after log-in, after every
//   response that has no target, and once a second while it is ready and idle.
// - Targets are called on the connection's response-handler thread, one block at a time
//   and in order, never two blocks of one connection at once. A target may ask for the
//   next command from there (a body handler does, before it decodes): StartCommand,
//   SetReady and DisconnectNow are safe from any thread.
// - A connection never holds a lock of its own while it calls the source or a target.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/DateTime.h"

namespace zev {

class TConnectionFace;
class TQueueItem;
class TServer;

// How a command's response is counted and buffered.
enum TDataMode : uint8_t {
  dmNone = 0,     // a status line, or multi-line data nobody counts
  dmArticle = 1,  // an article: progress in bytes, delivered whole in one block
  dmLines = 2,    // line data (overview, headers, lists): progress in lines, delivered in
                  // blocks whenever the receive buffer fills
};

// Where a block stands in its response.
enum TBlockType : uint8_t {
  btFirst = 0,     // the status line and the first lines; more follows
  btMiddle = 1,
  btLast = 2,
  btComplete = 3,  // the whole response in one block
};

// The block type as log texts name it.
constexpr const char* BlockTypeName(TBlockType type) {
  switch (type) {
    case btMiddle: return "Middle";
    case btLast: return "Last";
    case btComplete: return "Complete";
    default: return "Unknown";
  }
}

// What a target made of a block ahead of handling it (see TResponseTarget::Prepare).
struct FPreparedBlock {
  virtual ~FPreparedBlock() = default;
};

// One block of a response. The views point into the connection's buffer and are valid
// only during the call; a target that keeps anything copies it.
struct FResponseBlock {
  TBlockType type = btComplete;
  uint16_t code = 0;             // the response's status code
  std::string_view statusLine;   // without its line end
  std::string_view command;      // the command as sent, without its line end
  // The lines after the status line, exactly as the server sent them (lines that start
  // with ".." are not unstuffed). In btFirst and btMiddle blocks every line ends in
  // CR LF; in the final block (btLast, btComplete) the terminating "." line and the line
  // end before it are gone, so the last line has no line end. Empty for a response
  // without data.
  std::string_view data;
  // The connection's previous item ended early (broken connection, time-out): whatever
  // the target had collected of it is incomplete.
  bool partial = false;
  // The target's own Prepare result for this block, or null: it may then do the work itself.
  const FPreparedBlock* prepared = nullptr;
};

// Receives the response data of the commands it was named the target of.
class TResponseTarget {
 public:
  virtual ~TResponseTarget() = default;
  // On the connection's response-handler thread. An exception is logged with the block's
  // fields; the connection goes on with its next block.
  virtual void HandleResponse(TConnectionFace& connection, const FResponseBlock& block) = 0;
  // On the connection's own thread, while the handler thread still works on the block
  // before: work that needs nothing but the block itself (parsing) can be done here, so
  // the two threads share it. Must not touch the target's state and must not throw.
  virtual std::unique_ptr<FPreparedBlock> Prepare(const FResponseBlock&) { return nullptr; }
};

// The newsgroup list as a connection's start-up sees it: the first connection to a server
// sends "list" when the server's groups were never listed and "newgroups" since the last
// update otherwise, hands the data over as to any target, and records the server's clock.
class TNewsgroupFeed : public TResponseTarget {
 public:
  // Local date-time of the last list update from this server; 0 when never.
  virtual TDateTime LastUpdate(const TServer& server) = 0;
  // The server's clock at this update, converted to local time.
  virtual void SetLastUpdate(const TServer& server, TDateTime localTime) = 0;
};

enum TDisconnectRequest : uint8_t {
  drNone = 0,
  drByUser = 1,     // the user asked to disconnect once the current item is done
  drAutomatic = 2,  // the connection manager did
};

// What the queue may see and do of a connection.
class TConnectionFace {
 public:
  // The connection slot (a node of the server tree) and its news server.
  virtual TServer& Slot() const = 0;
  virtual TServer& Server() const = 0;
  // "Server#1": the server's name followed by the slot's.
  virtual std::string ConnName() const = 0;

  // Sends `text` (without line end) and routes its response: the final block (and, for
  // dmLines, earlier ones) goes to `target` on the response-handler thread; without a
  // target the connection asks the source for its next command once the response is in.
  // `expected` is the amount shown as progress total (bytes for dmArticle, lines for
  // dmLines). Sets the slot's state (csArticle, csHeaders or csGroup) at once; the
  // command itself goes out on the connection's thread.
  virtual void StartCommand(TResponseTarget* target, std::string text, TDataMode mode, uint64_t expected,
                            bool multiLine) = 0;
  // Nothing to do now: the slot goes to csReady, and the connection asks again each
  // second until it times out idle.
  virtual void SetReady() = 0;
  // Ends the connection now; the slot goes to csUserDisconnected after a user's request,
  // otherwise to csIdle.
  virtual void DisconnectNow() = 0;
  virtual TDisconnectRequest DisconnectRequest() const = 0;

  // The queue item the connection works on; opaque to the connection, null for none.
  // Changed only by the source, under its list lock.
  virtual TQueueItem* CurrentItem() const = 0;
  virtual void SetCurrentItem(TQueueItem* item) = 0;
  // Header commands: the first article number of the current range; 0 otherwise.
  virtual uint32_t FirstArtNo() const = 0;
  virtual void SetFirstArtNo(uint32_t number) = 0;

 protected:
  ~TConnectionFace() = default;
};

// The work a connection does, as the queue hands it out.
class TCommandSource {
 public:
  virtual ~TCommandSource() = default;
  // Gives the connection its next command (StartCommand), or sets it ready when there is
  // no work, or ends it (DisconnectNow) when it was asked to quit or is surplus.
  virtual void NextCommand(TConnectionFace& connection) = 0;
  // The command in progress was refused or could not be completed: the source releases
  // or converts the current item.
  virtual void CommandFailed(TConnectionFace& connection) = 0;
  // The connection stopped working on its current item without an answer (broken
  // connection, time-out, shutdown): the item, if any, becomes free for any connection.
  // May be called from inside SetReady or DisconnectNow when the connection still holds
  // an item; a source that holds its list lock there clears the item first.
  virtual void ReleaseItem(TConnectionFace& connection) = 0;
  // Whether there is work that one more connection of this slot's server could take.
  // Asked by the connection manager and by a waiting automatic connection.
  virtual bool WorkAvailable(TServer& slot) = 0;
  // While the queue is paused the connection manager opens nothing.
  virtual bool IsPaused() { return false; }
};

// Set by start-up (the queue and the newsgroup list), or by tests.
inline TCommandSource* gCommandSource = nullptr;
inline TNewsgroupFeed* gNewsgroupFeed = nullptr;

}  // namespace zev
