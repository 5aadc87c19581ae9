// The conversation of a connected session: commands out, responses in, framed and handed
// on; time-outs and broken connections.
#include <algorithm>
#include <cstdlib>
#include <random>
#include <utility>

#include "core/Intl.h"
#include "core/Log.h"
#include "core/TextUtil.h"
#include "db/RateMeter.h"
#include "db/Server.h"
#include "nntp/BandwidthBudget.h"
#include "nntp/Connection.h"
#include "nntp/RHandler.h"
#include "platform/SocketError.h"

namespace zev {

using namespace platform;

namespace {

// A ready connection reads whatever is there; only a transfer is held to the budget.
constexpr int64_t kReadyBudget = 999999;

bool IsStartupState(TConnState state) { return state >= csConnected && state <= csDate; }
bool IsCommandState(TConnState state) { return state >= csGroup && state <= csArticle; }

// A command is one line: a line break inside it (from a hostile NZB or group name) would
// smuggle in a command of the sender's choosing.
bool IsOneLine(const std::string& text) { return text.find_first_of(std::string_view("\r\n\0", 3)) == text.npos; }

int RandomPauseMs() {
  thread_local std::minstd_rand random{std::random_device{}()};
  return 250 + static_cast<int>(random() % 500);
}

}  // namespace

void TConnection::ReceiveLoop() {
  while (loopEnd_ == leNone && !Stopping()) {
    if (!IssuePending() || loopEnd_ != leNone) return;
    const int64_t budget = slot_.State() == csReady ? kReadyBudget : BandwidthBudget(slot_);
    if (budget <= 0) {
      // Over the bandwidth limit: pause (a random while, so that the connections of one
      // server do not all wake at once). The server is not silent, so this is no time-out.
      stop_.Wait(std::chrono::milliseconds(RandomPauseMs() * SecondMs() / 1000));
      continue;
    }
    int error = 0;
    switch (transport_.WaitReadable(wake_, static_cast<int>(SecondMs()), error)) {
      case wrReady:
        AfterRead(Receive(budget));
        break;
      case wrWoken:
        wake_.Clear();
        if (nudged_.exchange(false)) OnNudge();
        break;
      case wrTimeout:
        NoInputTick();
        break;
      case wrError:
        LogWithPrefix(WinSockErrorText(error));
        EndLoop(leEnd);
        break;
    }
  }
}

bool TConnection::IssuePending() {
  if (responsePending_) return true;
  std::optional<FCommand> command;
  {
    std::lock_guard lock(commandLock_);
    command.swap(pending_);
  }
  return !command || SendCommand(*command);
}

bool TConnection::SendCommand(const FCommand& command) {
  if (!IsOneLine(command.text)) {
    LogWithPrefix("Refused to send a command that holds a line break: \"" + LoggableCommand(command.text) + "\"");
    if (command.target)
      if (TCommandSource* source = Source()) source->CommandFailed(*this);
    slot_.SetState(csReady);
    return true;
  }
  counter_ = 0;
  if (handler_) framer_.Recycle(handler_->TakeSpare());
  framer_.Begin(command.multiLine, command.mode, command.expected);
  target_ = command.target;
  mode_ = command.mode;
  lastCommand_ = command.text;
  blocksHanded_ = false;
  responsePending_ = true;
  slot_.Status.Set(TSlotStatus::LastResponseText, "");
  slot_.Status.SetCommand(command.text);
  if (Logging()) WriteLog(LoggableCommand(command.text));
  const std::string line = command.text + "\r\n";
  slot_.BeginTransfer(TickCountMs());
  const int rc = transport_.SendAll(line.data(), line.size());
  if (rc == seNone) return true;
  if (Stopping()) {
    EndLoop(leEnd);
    return false;
  }
  BrokenConnection(rc);
  return false;
}

TConnection::TRead TConnection::Receive(int64_t budget) {
  TResponseFramer::TRoom room;
  while ((room = framer_.MakeRoom()) == TResponseFramer::rmLinesDue) HandLines();
  if (room == TResponseFramer::rmTooLarge) return rdTooLarge;
  const std::span<char> space = framer_.Space();
  const size_t wanted = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(space.size()), budget));
  int error = 0;
  const ssize_t n = transport_.Receive(space.data(), wanted, error);
  if (n < 0) {
    if (error == seWouldBlock) return rdNothing;
    lastError_ = error;
    return rdError;
  }
  if (n == 0) return rdClosed;
  slot_.AddReceivedBytes(static_cast<uint64_t>(n));
  const TResponseFramer::FProgress progress = framer_.Commit(static_cast<size_t>(n));
  CountProgress(static_cast<size_t>(n), progress.lines);
  if (progress.tooLarge) return rdTooLarge;
  if (progress.statusLine) slot_.Status.Set(TSlotStatus::LastResponseText, framer_.StatusLine());
  if (progress.complete) ResponseComplete();
  else if (HandOverEarly()) HandLines();
  return rdData;
}

// An idle handler gets the lines there are instead of waiting for a full buffer: at the
// start of every chunk of a long refresh it would otherwise sit still while the server
// produces the first quarter megabyte. A busy one lets them gather into larger blocks.
bool TConnection::HandOverEarly() const {
  constexpr size_t kEnoughToStart = 8 * 1024;
  return mode_ == dmLines && target_ && handler_ && framer_.WholeLineBytes() >= kEnoughToStart && handler_->Idle();
}

void TConnection::CountProgress(size_t bytes, uint32_t lines) {
  if (mode_ == dmArticle) {
    slot_.Status.Progress += static_cast<int64_t>(bytes);
    slot_.AddArticleBytes(bytes);
  } else if (mode_ == dmLines) {
    slot_.Status.Progress += lines;
  }
}

void TConnection::AfterRead(TRead result) {
  switch (result) {
    case rdData:
      counter_ = 0;
      break;
    case rdNothing:
      break;
    case rdClosed:
      // A server that closes an idle connection just ends it; in the middle of anything
      // else it broke the connection.
      if (responsePending_ || slot_.State() != csReady) {
        slot_.Status.Set(TSlotStatus::StatusMessage, Tr("Connection closed by the server"));
        FailConnection(csRetrying);
        EndLoop(leRetry);
      } else {
        EndLoop(leEnd);
      }
      break;
    case rdError:
      BrokenConnection(lastError_);
      break;
    case rdTooLarge:
      ProtocolError(Tr("The server's response exceeds every reasonable size."));
      break;
  }
}

void TConnection::ResponseComplete() {
  slot_.EndTransfer(TickCountMs());
  slot_.Status.ProgressTotal = slot_.Status.Progress.load();
  if (Logging()) WriteLog(framer_.StatusLine());
  if (!responsePending_) {
    // Said out of turn (a farewell before the server closes): nothing waits for it.
    framer_.Begin(false, dmNone, 0);
    return;
  }
  responsePending_ = false;
  const TConnState state = slot_.State();
  if (IsStartupState(state)) return StartupResponse(state);
  if (target_) return HandFinal();
  framer_.Begin(false, dmNone, 0);
  if (IsCommandState(state)) AskForWork();
}

void TConnection::StartupResponse(TConnState state) {
  // The list data must be stored before its time is: a crash in between would otherwise
  // make the next update skip groups.
  if (state == csDate && handler_) handler_->WaitIdle();
  const FStartupStep step =
      startup_->OnResponse(state, framer_.Code(), framer_.StatusLine(), framer_.FinalData(), NowLocal());
  for (const std::string& note : step.notes) LogError(note);
  if (step.deliverToFeed && target_) HandFinal();
  target_ = nullptr;
  const std::string statusLine = framer_.StatusLine();
  switch (step.action) {
    case saSend:
      slot_.SetState(step.next);
      SendCommand(FCommand{step.toFeed ? Feed() : nullptr, step.command, dmNone, 0, step.multiLine});
      return;
    case saReady:
      framer_.Begin(false, dmNone, 0);
      slot_.SetState(csReady);
      return AskForWork();
    case saRetry:
      slot_.Status.Set(TSlotStatus::StatusMessage, statusLine);
      FailConnection(csRetrying);
      return EndLoop(leRetry);
    case saFail:
      slot_.Status.Set(TSlotStatus::StatusMessage, statusLine);
      LogWithPrefix(statusLine);
      if (server_.Has(sfRetryAnyError)) {
        FailConnection(csRetrying);
        GrowRetryInterval();
        return EndLoop(leRetry);
      }
      FailConnection(csError);
      return EndLoop(leEnd);
  }
}

void TConnection::HandLines() {
  if (!target_) return framer_.DropLines();
  HandBlock(framer_.TakeLines());
  blocksHanded_ = true;
}

void TConnection::HandFinal() {
  HandBlock(framer_.TakeFinal());
  target_ = nullptr;
  lastCommand_.clear();
  blocksHanded_ = false;
  framer_.Begin(false, dmNone, 0);
}

void TConnection::HandBlock(FFramedBlock&& block) {
  if (!handler_) handler_ = std::make_unique<TRHandler>(*this);
  FHandOver handOver;
  handOver.target = target_;
  handOver.block = std::move(block);
  handOver.code = framer_.Code();
  handOver.statusLine = framer_.StatusLine();
  handOver.command = lastCommand_;
  handOver.partial = std::exchange(partial_, false);
  if (target_) {
    try {
      handOver.prepared = target_->Prepare(ViewOf(handOver));
    } catch (const std::exception&) {
      // The handler does the work itself.
    }
  }
  handler_->Hand(std::move(handOver));
}

void TConnection::NoInputTick() {
  ++counter_;
  const TConnState state = slot_.State();
  if (state == csReady) {
    if (counter_ >= server_.Idle) {
      slot_.Status.Set(TSlotStatus::StatusMessage,
                       FormatText(Tr("Timed out (idle for %d seconds)"), static_cast<int>(server_.Idle)));
      return EndLoop(leEnd);
    }
  } else if (counter_ > server_.TimeOut) {
    // A handler still parsing the last block is not the server's silence.
    if (handler_ && !handler_->Idle()) {
      counter_ = 0;
    } else {
      slot_.Status.Set(TSlotStatus::StatusMessage,
                       FormatText(Tr("Timed out (no response for %d seconds)"), static_cast<int>(server_.TimeOut)));
      FailConnection(csRetrying);
      return EndLoop(leRetry);
    }
  }
  AskForWorkIfIdle();
}

void TConnection::NudgeForWork() {
  // The flag goes up before the wake, so the loop that clears the wake still sees it.
  nudged_.store(true);
  wake_.Signal();
}

void TConnection::OnNudge() {
  // The handler may still be finishing the answer after which the source had no work for
  // us: it ends at once, and a question asked before it has would be turned away.
  if (slot_.State() == csReady && handler_) handler_->WaitIdle();
  AskForWorkIfIdle();
}

void TConnection::AskForWorkIfIdle() {
  if (slot_.State() == csReady && !responsePending_ && !target_) AskForWork();
}

void TConnection::AskForWork() {
  // A busy handler may be asking for this connection's next command itself; one question
  // at a time, or the connection would be given two items.
  if (handler_ && !handler_->Idle()) return;
  {
    std::lock_guard lock(commandLock_);
    if (pending_) return;
  }
  ReleaseCurrentItem();
  if (TCommandSource* source = Source()) source->NextCommand(*this);
}

void TConnection::BrokenConnection(int code) {
  lastError_ = code;
  const std::string text = WinSockErrorText(code);
  LogWithPrefix(text);
  slot_.Status.Set(TSlotStatus::StatusMessage, text);
  if (IsBrokenConnectionError(code) || server_.Has(sfRetryAnyError)) {
    FailConnection(csRetrying);
    GrowRetryInterval();
    return EndLoop(leRetry);
  }
  FailConnection(csError);
  EndLoop(leEnd);
}

void TConnection::ProtocolError(const std::string& text) {
  LogWithPrefix(text);
  slot_.Status.Set(TSlotStatus::StatusMessage, text);
  FailConnection(csRetrying);
  GrowRetryInterval();
  EndLoop(leRetry);
}

}  // namespace zev
