// The life of a connection: look-up, connect, session, retry wait, end.
#include "nntp/Connection.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cstring>

#include "core/Intl.h"
#include "core/Log.h"
#include "core/SanitizeName.h"
#include "core/TextUtil.h"
#include "db/RateMeter.h"
#include "db/Server.h"
#include "nntp/RHandler.h"
#include "nntp/TlsContext.h"
#include "platform/SocketError.h"
#include "platform/ThreadName.h"

namespace zev {

using namespace platform;

const char* const kForceDisconnectQuestion =
    "This connection will automatically disconnect when it finishes with the current item.\r\n"
    "Do you want to force an immediate disconnect now?";

namespace {

// OpenSSL writes with write(), not send(MSG_NOSIGNAL): a TLS record to a server that has
// gone would raise SIGPIPE and end the program. Blocked on this thread, the signal stays
// pending and is dropped with the thread.
void BlockSigPipe() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

std::string LogFilePath(const FConnectionEnv& env, const TServer& slot) {
  const std::string dir = env.logDir.empty() ? ServerDataDir(slot) : env.logDir + "/";
  return dir + SanitizeName(slot.Name() + ".log", false);
}

std::vector<FServerAddress> ToServerAddresses(const std::vector<FSocketAddress>& found) {
  std::vector<FServerAddress> out(found.size());
  for (size_t i = 0; i < found.size(); ++i) {
    std::memcpy(&out[i].addr, &found[i].addr, sizeof found[i].addr);
    out[i].length = found[i].length;
  }
  return out;
}

std::vector<FSocketAddress> ToSocketAddresses(const std::vector<FServerAddress>& known) {
  std::vector<FSocketAddress> out(known.size());
  for (size_t i = 0; i < known.size(); ++i) {
    std::memcpy(&out[i].addr, &known[i].addr, sizeof known[i].addr);
    out[i].length = known[i].length;
  }
  return out;
}

}  // namespace

TConnection::TConnection(TServer& slot, FConnectionEnv env, std::function<void(TConnection&)> onEnded)
    : slot_(slot),
      server_(slot.NewsServer()),
      env_(std::move(env)),
      onEnded_(std::move(onEnded)),
      log_(LogFilePath(env_, slot)) {
  addressText_ = server_.ResolvedAddress();
  if (addressText_.empty()) addressText_ = server_.Host();
}

TConnection::~TConnection() {
  Terminate();
  Join();
}

void TConnection::Start() {
  thread_ = std::thread([this] {
    platform::NameThisThread("zev-conn");
    Execute();
  });
}

void TConnection::Terminate(bool programEnding) {
  if (programEnding) programEnding_ = true;
  terminate_ = true;
  stop_.Signal();
}

void TConnection::Join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

std::string TConnection::ConnName() const {
  const std::string server = server_.Name(), slot = slot_.Name();
  if (&server_ == &slot_ || server.empty() || slot.empty()) return "(invalid)";
  return server + slot;
}

void TConnection::StartCommand(TResponseTarget* target, std::string text, TDataMode mode, uint64_t expected,
                               bool multiLine) {
  if (!multiLine || mode == dmNone) {
    mode = dmNone;
    expected = 0;
  }
  slot_.Status.Progress = 0;
  slot_.Status.ProgressTotal = static_cast<int64_t>(expected);
  slot_.SetState(mode == dmArticle ? csArticle : mode == dmLines ? csHeaders : csGroup);
  {
    std::lock_guard lock(commandLock_);
    if (pending_) LogError("INTERNAL ERROR! A command was started before the previous one went out; Conn=\"" +
                           ConnName() + "\"", 2, true);
    pending_ = FCommand{target, std::move(text), mode, expected, multiLine};
  }
  wake_.Signal();
}

void TConnection::SetReady() { slot_.SetState(csReady); }

void TConnection::DisconnectNow() {
  const TDisconnectRequest request = disconnectRequest_.exchange(drNone);
  Terminate();
  if (request == drByUser) slot_.SetState(csUserDisconnected);
  else if (slot_.State() != csError) slot_.SetState(csIdle);
}

void TConnection::RequestDisconnect(bool byUser, bool force, const std::function<bool()>& confirmForce) {
  const TConnState state = slot_.State();
  if (state == csUserDisconnected) return;
  const bool busy = !(state == csIdle || state == csReady || state == csError || state == csRetrying);
  if (busy && !force && disconnectRequest_ == drNone) {
    disconnectRequest_ = byUser ? drByUser : drAutomatic;
    return;
  }
  // A second request for a busy connection cuts its item short, so the user decides.
  if (busy && !force && !(confirmForce && confirmForce())) return;
  disconnectRequest_ = drNone;
  Terminate();
  if (byUser) slot_.SetState(csUserDisconnected);
}

void TConnection::ReleaseCurrentItem() {
  if (!CurrentItem()) return;
  if (TCommandSource* source = Source()) source->ReleaseItem(*this);
  else currentItem_ = nullptr;
}

TCommandSource* TConnection::Source() const { return env_.source ? env_.source : gCommandSource; }
TNewsgroupFeed* TConnection::Feed() const { return env_.feed ? env_.feed : gNewsgroupFeed; }
bool TConnection::Logging() const { return server_.Has(sfLog); }
void TConnection::WriteLog(const std::string& text) const { log_.Write(text); }
void TConnection::LogWithPrefix(const std::string& text) const { LogError(ConnName() + ": " + text); }

void TConnection::Execute() {
  BlockSigPipe();
  try {
    Run();
  } catch (const std::exception& e) {
    LogException(e, "TConnection.Execute");
    slot_.Status.Set(TSlotStatus::StatusMessage, FormatText("Exception %s in %s!", e.what(), "TConnection.Execute"));
    try {
      CloseSession();
    } catch (const std::exception& again) {
      LogException(again, "TConnection.Execute");
    }
    FailConnection(csError);
  }
  Finish();
}

void TConnection::Run() {
  slot_.Status.Set(TSlotStatus::StatusMessage, "");
  slot_.SetState(csConnecting);
  retryInterval_ = std::clamp<uint32_t>(server_.Retry, 1, kMaxRetryInterval);
  while (!Stopping()) {
    const TAttempt attempt = Attempt();
    if (attempt == atEnd) return;
    if (attempt == atConnected && !Session()) return;
    if (!RetryWait()) return;
    NextAddress();
  }
}

bool TConnection::Resolve() {
  const std::vector<FServerAddress> known = server_.AddressInfo();
  if (!known.empty()) {
    addresses_ = ToSocketAddresses(known);
    cursor_ = 0;
    addressText_ = FormatAddress(addresses_[0]);
    return true;
  }
  if (Logging()) WriteLog("Looking up host name...");
  std::vector<FSocketAddress> found;
  lastError_ = LookupHost(server_.Host(), server_.Port, found);
  if (lastError_ != seNone) {
    const std::string text = WinSockErrorText(lastError_);
    LogWithPrefix(text);
    slot_.Status.Set(TSlotStatus::StatusMessage, text);
    return false;
  }
  addresses_ = std::move(found);
  cursor_ = 0;
  addressText_ = FormatAddress(addresses_[0]);
  server_.SetResolved(addressText_, ToServerAddresses(addresses_));
  return true;
}

TConnection::TAttempt TConnection::Attempt() {
  if (addresses_.empty() && !Resolve()) {
    // A name that does not exist stays an error the user sees; a resolver that is only
    // unavailable for the moment is asked again after the retry wait.
    if (lastError_ != seTryAgain && !server_.Has(sfRetryAnyError)) {
      FailConnection(csError);
      return atEnd;
    }
    counter_ = retryInterval_;
    GrowRetryInterval();
    return atRetry;
  }
  const FSocketAddress& address = addresses_[cursor_];
  const TAttempt opened = OpenSocket(address);
  if (opened != atConnected) return opened;
  if (Logging()) WriteLog(FormatText("Connecting to %s...", addressText_.c_str()));
  const uint32_t timeout = std::max<uint32_t>(server_.TimeOut, 1);
  const int rc = socket_.Connect(address, stop_, std::chrono::milliseconds(timeout * SecondMs()));
  if (Stopping() || DisconnectRequest() != drNone) {
    socket_.Close();
    // A user's request made while connecting leaves the slot disconnected by the user,
    // so that the manager does not open it again.
    if (!Stopping()) DisconnectNow();
    return atEnd;
  }
  if (rc != seNone) return ConnectFailed(rc);
  return SecureChannel();
}

TConnection::TAttempt TConnection::OpenSocket(const FSocketAddress& address) {
  const int rc = socket_.Open(address.Family());
  if (rc == seNone) return atConnected;
  const std::string text = WinSockErrorText(rc);
  LogWithPrefix(text);
  slot_.Status.Set(TSlotStatus::StatusMessage, text);
  if (!server_.Has(sfRetryAnyError)) {
    FailConnection(csError);
    return atEnd;
  }
  counter_ = retryInterval_;
  return atRetry;
}

TConnection::TAttempt TConnection::ConnectFailed(int code) {
  socket_.Close();
  lastError_ = code;
  const std::string text = WinSockErrorText(code);
  slot_.Status.Set(TSlotStatus::StatusMessage, text);
  if (IsRetryableConnectError(code)) {
    if (Logging()) WriteLog(text);
    counter_ = std::max<uint32_t>(server_.Retry, 1);
    return atRetry;
  }
  LogWithPrefix(text);
  if (!server_.Has(sfRetryAnyError)) {
    FailConnection(csError);
    return atEnd;
  }
  // Retrying at once would spin on an error that does not go away by itself.
  counter_ = retryInterval_;
  return atRetry;
}

TConnection::TAttempt TConnection::SecureChannel() {
  if (!server_.UseTls) return atConnected;
  const std::shared_ptr<TTlsContext> context = env_.tls ? env_.tls : TTlsContext::System();
  const uint32_t timeout = std::max<uint32_t>(server_.TimeOut, 1);
  const FTlsOutcome outcome =
      transport_.StartTls(*context, server_.Host(), server_.TlsFingerprint(), static_cast<int>(timeout * SecondMs()));
  if (Stopping()) {
    socket_.Close();
    return atEnd;
  }
  if (outcome.error != seNone) return ConnectFailed(outcome.error);
  if (outcome.trusted) return atConnected;
  // Not one byte of NNTP goes to this server, so its certificate cannot learn the password.
  const std::string text = FormatText(Tr("certificate not trusted: %s (SHA-256 fingerprint %s)"),
                                      outcome.reason.c_str(), outcome.fingerprint.c_str());
  LogWithPrefix(text);
  slot_.Status.Set(TSlotStatus::StatusMessage, text);
  socket_.Close();
  FailConnection(csError);
  return atEnd;
}

bool TConnection::Session() {
  if (Logging()) WriteLog("Connected.");
  slot_.SetState(csConnected);
  slot_.Encrypted = transport_.Encrypted();
  slot_.Status.Set(TSlotStatus::CurrentGroup, "");
  counter_ = 0;
  {
    // A command the queue left while the previous session broke belongs to that session.
    std::lock_guard lock(commandLock_);
    pending_.reset();
  }
  ReleaseCurrentItem();
  target_ = nullptr;
  lastCommand_.clear();
  mode_ = dmNone;
  blocksHanded_ = false;
  loopEnd_ = leNone;
  framer_.Begin(false, dmNone, 0);
  responsePending_ = true;  // the greeting
  startup_.emplace(server_, Feed());
  slot_.BeginTransfer(TickCountMs());
  ReceiveLoop();
  const bool retry = loopEnd_ == leRetry && !Stopping();
  CloseSession();
  if (retry) counter_ = retryInterval_;
  return retry;
}

void TConnection::CloseSession() {
  if (Logging()) WriteLog("Disconnecting....");
  slot_.EndTransfer(TickCountMs());
  transport_.Shutdown();
  bool commandCut = target_ != nullptr;
  {
    std::lock_guard lock(commandLock_);
    commandCut = commandCut || (pending_ && pending_->target);
    pending_.reset();
  }
  target_ = nullptr;
  responsePending_ = false;
  transport_.Reset();
  socket_.Close();
  slot_.Encrypted = false;
  // At program end the queue keeps its items as they are, to be saved.
  if (commandCut && !programEnding_)
    if (TCommandSource* source = Source()) source->CommandFailed(*this);
}

bool TConnection::RetryWait() {
  if (Logging()) WriteLog(FormatText("Retrying after %u seconds...", counter_));
  FailConnection(csRetrying);
  while (!Stopping() && counter_ > 0) {
    --counter_;
    if (stop_.Wait(env_.second)) break;
    if (DisconnectRequest() != drNone) {
      DisconnectNow();
      return false;
    }
    TCommandSource* source = Source();
    if (slot_.AutoStarted && source && !source->WorkAvailable(slot_)) {
      RequestDisconnect(false, false);
      return false;
    }
  }
  return !Stopping();
}

void TConnection::NextAddress() {
  // A changed host forgets the addresses: look the new one up.
  if (server_.AddressInfo().empty()) {
    addresses_.clear();
    return;
  }
  if (addresses_.empty()) return;
  cursor_ = (cursor_ + 1) % addresses_.size();
  addressText_ = FormatAddress(addresses_[cursor_]);
}

void TConnection::FailConnection(TConnState state) {
  if (CurrentItem()) {
    const std::string status = framer_.StatusLine();
    if (Logging()) WriteLog("Partial Response..." + status);
    LogError(FormatText("Partial Response from %s...%s", ConnName().c_str(), status.c_str()));
    ReleaseCurrentItem();
    partial_ = true;
  } else if (blocksHanded_) {
    partial_ = true;
  }
  const TConnState leaving = slot_.State();
  // The list update did not finish: the next connection to the server does it.
  if (leaving == csCheckCommands || leaving == csNewsgroups) server_.CommandsChecked = 0;
  if (leaving != csUserDisconnected) slot_.SetState(state);
}

uint32_t GrownRetryInterval(uint32_t interval) {
  return std::min<uint64_t>(kMaxRetryInterval, uint64_t{interval} + interval / 4 + 1);
}

void TConnection::GrowRetryInterval() { retryInterval_ = GrownRetryInterval(retryInterval_); }

void TConnection::Finish() {
  handler_.reset();  // lets it finish the block in hand
  if (Logging()) WriteLog("Terminated.");
  slot_.Status.Set(TSlotStatus::CurrentGroup, "");
  const TConnState state = slot_.State();
  if (state == csCheckCommands || state == csNewsgroups) server_.CommandsChecked = 0;
  if (state != csError && state != csUserDisconnected) slot_.SetState(csIdle);
  ReleaseCurrentItem();
  slot_.Encrypted = false;
  TSlotConnection* self = this;
  slot_.Connection.compare_exchange_strong(self, nullptr);
  ended_ = true;
  if (onEnded_) onEnded_(*this);
}

}  // namespace zev
