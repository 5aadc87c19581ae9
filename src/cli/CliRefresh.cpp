#include "cli/CliRefresh.h"

#include <unistd.h>

#include <cstdio>
#include <memory>

#include "cli/CliArguments.h"
#include "cli/CliCommands.h"
#include "core/ChangeQueue.h"
#include "core/TerminationSignal.h"
#include "core/TextUtil.h"
#include "db/Group.h"
#include "db/GroupFileName.h"
#include "db/GroupList.h"
#include "db/SGLst.h"
#include "db/GroupTree.h"
#include "db/ServerTree.h"
#include "download/Queue.h"
#include "nntp/ArtList.h"
#include "nntp/ConnMgr.h"
#include "nntp/ConnectionPool.h"
#include "nntp/EngineParts.h"

namespace zev::cli {

namespace {

// States in which a connection is, or is about to be, at work.
constexpr TConnStateSet kWorking{csConnected, csModeReader, csAuthUser, csAuthPass, csCheckCommands, csNewsgroups,
                                 csDate,      csGroup,      csHeaders,  csArticle,  csReady,         csConnecting};

}  // namespace

TCliRefresh::TCliRefresh(TEngineParts& engine, std::vector<TGroup*> groups)
    : engine_(engine), groups_(std::move(groups)) {}

TCliRefresh::~TCliRefresh() { EndConnections(); }

int TCliRefresh::Run() {
  TQueue& queue = *engine_.Queue();
  terminal_ = isatty(STDERR_FILENO) == 1;
  changes_ = std::make_unique<TChangeQueue>();
  gChangeQueue = changes_.get();
  pool_ = std::make_unique<TConnectionPool>();
  gConnectionPool = pool_.get();
  manager_ = std::make_unique<TConnMgr>(*engine_.Servers(), *pool_, &queue);
  gConnMgr = manager_.get();

  // A server's first connection fetches its list of newsgroups.
  const std::vector<TServer*> unlisted = ServersWithoutList();
  for (TServer* server : unlisted) pool_->StartSlot(*server, true, 1);
  int code = RunUntil([&] {
    for (TServer* server : unlisted)
      if (!server->ServerGroupsDirty && gGroupList && gGroupList->LastUpdate(*server) == 0) return false;
    return true;
  });
  AddNewServerGroups();
  if (code != ecOk) return EndConnections(), code;

  for (TGroup* group : groups_) queue.ScheduleRefresh(*group, false, rmPlain);
  if (Over()) {
    EndConnections();
    for (TGroup* group : groups_)
      if (gServerGroups->EntriesOf(*group).empty()) Complain("no news server carries " + PrintableName(group->Name()));
    return ecNotFound;
  }
  std::vector<uint32_t> newBefore;
  for (TGroup* group : groups_) newBefore.push_back(group->PendingNew);
  code = RunUntil([&] { return Over(); });
  ShowProgress(true);
  EndConnections();
  for (size_t i = 0; i < groups_.size(); ++i)
    std::printf("%s\t%u\n", groups_[i]->Name().c_str(), groups_[i]->PendingNew.load() - newBefore[i]);
  return code;
}

// The same half-second beat as the window's timer: a management pass, the slot changes the
// connections asked for, new server-groups, and the progress line.
int TCliRefresh::RunUntil(const std::function<bool()>& done) {
  for (int stalled = 0;;) {
    manager_->Kick();
    ApplyChangeNotes();
    engine_.Servers()->TakeRateSamples();
    ShowProgress(false);
    if (done()) return ecOk;
    stalled = AnyConnectionCanWork() ? 0 : stalled + 1;
    // A refused log-in does not get better by waiting; a server that cannot be reached
    // may, for a while.
    if (stalled > kStallTicks || (stalled > 1 && AllSlotsFailed())) {
      failure_ = FailureText();
      Complain(failure_.empty() ? "no connection could be made" : failure_);
      return ecServer;
    }
    if (TTerminationSignal::Wait(kTickMs)) {
      Complain("interrupted");
      return ecInterrupted;
    }
  }
}

std::vector<TServer*> TCliRefresh::ServersWithoutList() const {
  std::vector<TServer*> out;
  if (!gGroupList) return out;
  engine_.Servers()->ForEachNode([&](TServer& node) {
    if (node.IsNewsServer() && node.ServerMode != smArticles && node.ServerMode != smDormant &&
        gGroupList->LastUpdate(node) == 0)
      out.push_back(&node);
  });
  return out;
}

void TCliRefresh::AddNewServerGroups() {
  std::vector<TServer*> changed;
  engine_.Servers()->ForEachNode([&](TServer& node) {
    if (node.IsNewsServer() && node.ServerGroupsDirty.exchange(false)) changed.push_back(&node);
  });
  for (TServer* server : changed) gServerGroups->AddServer(*server, *engine_.Groups());
}

void TCliRefresh::EndConnections() {
  if (!pool_) return;
  gConnMgr = nullptr;
  manager_.reset();
  for (const auto& root : engine_.Servers()->Roots()) pool_->StopSlots(*root, false, true);
  if (!pool_->WaitAllEnded(std::chrono::seconds(30))) pool_->TerminateAll(true);
  pool_->WaitAllEnded(std::chrono::seconds(30));
  gConnectionPool = nullptr;
  pool_.reset();
  gChangeQueue = nullptr;
  changes_.reset();
}

bool TCliRefresh::Over() const {
  TQueue& queue = *engine_.Queue();
  for (TGroup* group : groups_) {
    if (queue.CountPendingServers(*group) != 0) return false;
    for (const auto& sg : gServerGroups->EntriesOf(*group))
      if (!sg->RefreshIdle || engine_.ArtList()->Refreshing(*sg)) return false;
  }
  return true;
}

bool TCliRefresh::AnyConnectionCanWork() const {
  bool working = false;
  engine_.Servers()->ForEachNode([&](TServer& node) { working |= node.IsSlot() && kWorking.Contains(node.State()); });
  return working;
}

// A slot that ended with a failure message and went idle failed as well: a connection
// started only for the refresh gives up its retries once the refresh no longer waits for it.
bool TCliRefresh::SlotFailed(const TServer& slot) {
  const TConnState state = slot.State();
  return state == csError || (state == csIdle && !slot.Status.Get(TSlotStatus::StatusMessage).empty());
}

bool TCliRefresh::AllSlotsFailed() const {
  bool any = false, all = true;
  engine_.Servers()->ForEachNode([&](TServer& node) {
    if (!node.IsSlot()) return;
    any = true;
    all &= SlotFailed(node);
  });
  return any && all;
}

std::string TCliRefresh::FailureText() const {
  std::string text;
  engine_.Servers()->ForEachNode([&](TServer& node) {
    if (!node.IsSlot() || (!SlotFailed(node) && node.State() != csRetrying)) return;
    const std::string message = node.Status.Get(TSlotStatus::StatusMessage);
    if (message.empty()) return;
    if (!text.empty()) text += "; ";
    text += node.NewsServer().Name() + node.Name() + ": " + message;
  });
  return text;
}

void TCliRefresh::ApplyChangeNotes() {
  for (const FChangeNote& note : gChangeQueue->Drain()) {
    if (note.what != TChange::SurplusSlots) continue;
    // The note names its server by address only: it must still be in the tree.
    TServer* server = nullptr;
    engine_.Servers()->ForEachNode([&](TServer& node) {
      if (&node == note.subject && node.IsNewsServer()) server = &node;
    });
    if (server) engine_.Servers()->AdjustSlots(*server);
  }
}

void TCliRefresh::ShowProgress(bool final) {
  if (!terminal_) return;
  const FArtListStats stats = engine_.ArtList()->Stats();
  int connections = 0;
  engine_.Servers()->ForEachNode([&](TServer& node) { connections += node.IsSlot() && kWorking.Contains(node.State()); });
  std::string text = FormatText("Refreshing %zu group%s: %llu headers, %llu new, %d connection%s", groups_.size(),
                                groups_.size() == 1 ? "" : "s", static_cast<unsigned long long>(stats.headersSeen),
                                static_cast<unsigned long long>(stats.headersStored), connections,
                                connections == 1 ? "" : "s");
  const size_t width = text.size();
  if (width < progressWidth_) text.append(progressWidth_ - width, ' ');
  progressWidth_ = width;
  std::fprintf(stderr, "\r%s%s", text.c_str(), final ? "\n" : "");
  std::fflush(stderr);
}

}  // namespace zev::cli
