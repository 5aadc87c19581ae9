#pragma once
// One connection to a news server: a thread that owns the socket of one connection slot.
// It looks the server up, connects (moving on to the next address and waiting before it
// tries again after failures), goes through the start-up conversation, and then carries
// out one command at a time as its command source gives them, framing each response and
// handing its data to the response handler thread.
//
// Threads: everything that touches the socket, the framer and the start-up runs on the
// connection's own thread. The queue may call StartCommand, SetReady and DisconnectNow
// from the response-handler thread (or any other): StartCommand only leaves the command
// for the connection's thread and wakes it. Every field shared between threads is atomic
// or behind `commandLock_`.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "db/SlotConnection.h"
#include "download/CommandSource.h"
#include "nntp/ConnectionEnv.h"
#include "nntp/ConnectionLog.h"
#include "nntp/ResponseFramer.h"
#include "nntp/StartupConversation.h"
#include "nntp/Transport.h"
#include "platform/AddressLookup.h"
#include "platform/Socket.h"
#include "platform/WakeEvent.h"

namespace zev {

class TRHandler;

// The question before a second disconnect request cuts a busy connection short.
extern const char* const kForceDisconnectQuestion;

// The retry interval grows by a quarter and a second after each broken connection, but
// never beyond ten minutes.
constexpr uint32_t kMaxRetryInterval = 600;
uint32_t GrownRetryInterval(uint32_t interval);

class TConnection final : public TConnectionFace, public TSlotConnection {
 public:
  // `onEnded` runs on the connection's thread as the very last thing it does.
  TConnection(TServer& slot, FConnectionEnv env, std::function<void(TConnection&)> onEnded = {});
  ~TConnection() override;
  TConnection(const TConnection&) = delete;
  TConnection& operator=(const TConnection&) = delete;

  void Start();
  // Tells the thread to end; it stops waiting at once. At program end (`programEnding`) a
  // command cut short is not reported to the source, whose items are about to be saved.
  void Terminate(bool programEnding = false);
  bool Terminating() const { return terminate_.load(); }
  bool Ended() const { return ended_.load(); }
  void Join();

  // The user's or the manager's wish to disconnect. An idle connection ends now; a busy
  // one ends when the queue next asks it for work, unless `force` (or, for a second
  // request, `confirmForce` answering yes) ends it at once.
  void RequestDisconnect(bool byUser, bool force, const std::function<bool()>& confirmForce = {});
  // A new start of the slot cancels a pending automatic or user request.
  void CancelDisconnectRequest() { disconnectRequest_ = drNone; }
  // New work may be waiting: a connection that is ready and has nothing to do asks the
  // source at once instead of at its next idle tick, up to a second later.
  void NudgeForWork();

  // TConnectionFace
  TServer& Slot() const override { return slot_; }
  TServer& Server() const override { return server_; }
  std::string ConnName() const override;
  void StartCommand(TResponseTarget* target, std::string text, TDataMode mode, uint64_t expected,
                    bool multiLine) override;
  void SetReady() override;
  void DisconnectNow() override;
  TDisconnectRequest DisconnectRequest() const override { return disconnectRequest_.load(); }
  TQueueItem* CurrentItem() const override { return currentItem_.load(); }
  void SetCurrentItem(TQueueItem* item) override { currentItem_ = item; }
  uint32_t FirstArtNo() const override { return firstArtNo_.load(); }
  void SetFirstArtNo(uint32_t number) override { firstArtNo_ = number; }

  // TSlotConnection
  int HeldItemCount() const override { return CurrentItem() ? 1 : 0; }
  void ReleaseCurrentItem() override;

 private:
  struct FCommand {
    TResponseTarget* target = nullptr;
    std::string text;
    TDataMode mode = dmNone;
    uint64_t expected = 0;
    bool multiLine = false;
  };
  enum TAttempt { atConnected, atRetry, atEnd };
  enum TLoopEnd { leNone, leEnd, leRetry };
  enum TRead { rdData, rdNothing, rdClosed, rdError, rdTooLarge };

  // Life (Connection.cpp).
  void Execute();
  void Run();
  bool Resolve();
  TAttempt Attempt();
  TAttempt OpenSocket(const platform::FSocketAddress& address);
  TAttempt ConnectFailed(int code);
  TAttempt SecureChannel();
  bool Session();
  void CloseSession();
  bool RetryWait();
  void NextAddress();
  void Finish();
  void FailConnection(TConnState state);
  void GrowRetryInterval();

  // Conversation (ConnectionReceive.cpp).
  void ReceiveLoop();
  bool IssuePending();
  bool SendCommand(const FCommand& command);
  TRead Receive(int64_t budget);
  void AfterRead(TRead result);
  void CountProgress(size_t bytes, uint32_t lines);
  void ResponseComplete();
  void StartupResponse(TConnState state);
  void HandLines();
  bool HandOverEarly() const;
  void HandFinal();
  void HandBlock(FFramedBlock&& block);
  void NoInputTick();
  void AskForWork();
  void AskForWorkIfIdle();
  void OnNudge();
  void BrokenConnection(int code);
  void ProtocolError(const std::string& text);
  void EndLoop(TLoopEnd how) { loopEnd_ = how; }

  bool Stopping() const { return terminate_.load(); }
  bool Logging() const;
  void WriteLog(const std::string& text) const;
  void LogWithPrefix(const std::string& text) const;
  TCommandSource* Source() const;
  TNewsgroupFeed* Feed() const;
  int64_t SecondMs() const { return env_.second.count(); }

  TServer& slot_;
  TServer& server_;
  FConnectionEnv env_;
  std::function<void(TConnection&)> onEnded_;
  TConnectionLog log_;

  // Shared with other threads.
  std::atomic<bool> terminate_{false};
  std::atomic<bool> programEnding_{false};
  std::atomic<bool> ended_{false};
  std::atomic<TDisconnectRequest> disconnectRequest_{drNone};
  std::atomic<bool> nudged_{false};
  std::atomic<TQueueItem*> currentItem_{nullptr};
  std::atomic<uint32_t> firstArtNo_{0};
  platform::TWakeEvent stop_;
  platform::TWakeEvent wake_;
  std::mutex commandLock_;
  std::optional<FCommand> pending_;
  std::thread thread_;

  // The connection's own thread only.
  std::vector<platform::FSocketAddress> addresses_;
  size_t cursor_ = 0;
  std::string addressText_;
  platform::TSocket socket_;
  TTransport transport_{socket_, stop_};
  TResponseFramer framer_;
  std::unique_ptr<TRHandler> handler_;
  std::optional<TStartupConversation> startup_;
  bool responsePending_ = false;   // a command was sent and its response is not complete
  TResponseTarget* target_ = nullptr;
  std::string lastCommand_;
  TDataMode mode_ = dmNone;
  bool blocksHanded_ = false;      // part of the current response went to the handler already
  bool partial_ = false;
  TLoopEnd loopEnd_ = leNone;
  uint32_t counter_ = 0;
  uint32_t retryInterval_ = 0;
  int lastError_ = 0;
};

}  // namespace zev
