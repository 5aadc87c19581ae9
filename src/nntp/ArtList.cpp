// TArtList: routing each response block to its handler, the failures that end a command,
// and the queue calls a handler leaves for after its locks.
#include "nntp/ArtList.h"

#include <cstring>
#include <mutex>

#include "core/Config.h"
#include "core/DateTime.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "core/TextUtil.h"
#include "db/GroupFileName.h"
#include "db/SGLst.h"
#include "db/Server.h"
#include "download/Queue.h"
#include "nntp/ArtListInternal.h"
#include "nntp/HeaderLineParser.h"
#include "nntp/QueueBodyPort.h"

namespace zev {

TArtList* gArtList = nullptr;

void SetProgress(TConnectionFace& connection, const char* text) {
  connection.Slot().Status.Set(TSlotStatus::ProgressText, text);
}

void DumpResponse(const char* handler, TConnectionFace& connection, const std::string& group,
                  const FResponseBlock& block) {
  try {
    LogDump(FormatText("%s: Server = \"%s\", Group = \"%s\", Block Type = %s\r\nRequest = \"%s\"",
                       std::strcmp(handler, "HandleXOVER") == 0 ? "HandleXOVER" : "HandleXHDR",
                       connection.ConnName().c_str(), group.c_str(), BlockTypeName(block.type),
                       std::string(block.command).c_str()) +
            "\r\n" + std::string(block.data));
  } catch (const std::exception& e) {
    LogException(e, handler, " (skipping dump)");
  }
}

std::string_view FirstWord(std::string_view command) {
  size_t end = command.find(' ');
  return command.substr(0, end);
}

namespace {

// The text after the command word ("group alt.test" gives "alt.test").
std::string Argument(std::string_view command) {
  size_t space = command.find(' ');
  return space == std::string_view::npos ? std::string() : std::string(Trim(command.substr(space + 1)));
}

void ClearCurrentGroup(TConnectionFace& connection) {
  connection.Slot().Status.Set(TSlotStatus::CurrentGroup, "");
}

// Codes that say the server wants (another) log-in: 48x, and 502 for access denied. Other
// 5xx codes (command unknown, syntax, not possible) refuse only the command.
bool IsLoginRefusal(uint16_t code) { return (code >= 480 && code <= 489) || code == 502; }

// The kind of header work a command word and its header name stand for.
TQueueKind KindOfCommand(std::string_view word, std::string_view command) {
  if (EqualsIgnoreCase(word, "xover")) return qkMessageID;
  if (EqualsIgnoreCase(word, "listgroup")) return qkListgroup;
  if (EqualsIgnoreCase(word, "xpat")) return qkXpat;
  uint32_t low = 0, high = 0;
  if (ContainsIgnoreCase(command, "Message-ID")) return ParseRequestRange(command, low, high) ? qkMessageID : qkValidate;
  if (ContainsIgnoreCase(command, "Subject")) return qkSubject;
  if (ContainsIgnoreCase(command, "From")) return qkAuthor;
  if (ContainsIgnoreCase(command, "Date")) return qkDate;
  return qkSize;
}

}  // namespace

TArtList::TArtList(const FArtListParts& parts) : parts_(parts) {}

TArtList::~TArtList() { EndAllRefreshes(); }

void TArtList::HandleResponse(TConnectionFace& connection, const FResponseBlock& block) {
  try {
    Dispatch(connection, block);
  } catch (const std::exception& e) {
    LogException(e, "TArtList.DispatchResponse", FormatText("Request = \"%s\"", PrintableName(block.command).c_str()));
    // The command is over; without a next command the connection would wait for ever.
    if (block.type == btLast || block.type == btComplete) parts_.queue->NextCommand(connection);
  }
  SetProgress(connection, "");
}

void TArtList::Dispatch(TConnectionFace& connection, const FResponseBlock& block) {
  const std::string_view word = FirstWord(block.command);
  if (EqualsIgnoreCase(word, "body") || EqualsIgnoreCase(word, "article")) return DispatchBody(connection, block);
  if (EqualsIgnoreCase(word, "group")) return DispatchGroup(connection, block);
  for (const char* header : {"xover", "xhdr", "listgroup", "xpat"})
    if (EqualsIgnoreCase(word, header)) return DispatchHeader(connection, block, word);
}

void TArtList::DispatchBody(TConnectionFace& connection, const FResponseBlock& block) {
  const uint16_t code = block.code;
  if (code >= 220 && code <= 222) return HandleBody(connection, block);
  if (IsLoginRefusal(code)) return AuthenticationFailure(connection, block);
  if (code >= 413 && code <= 479) return HandleArticleMissing(connection, block);
  if (code != 412)
    LogError(FormatText("%s: Unexpected response \"%s\"!", connection.ConnName().c_str(),
                        PrintableName(block.statusLine).c_str()),
             0);
  parts_.queue->CommandFailed(connection);
  ClearCurrentGroup(connection);
  parts_.queue->NextCommand(connection);
}

void TArtList::DispatchGroup(TConnectionFace& connection, const FResponseBlock& block) {
  if (block.code == 211) return HandleGroup(connection, block);
  if (IsLoginRefusal(block.code)) return AuthenticationFailure(connection, block);
  if (block.code == 411) NoSuchGroup(connection, block);
  // A refused "group" ends the refresh it started; nothing of it stays pending.
  const FItemFacts item = CurrentItemFacts(connection);
  if (item.present && item.kind == qkGroup) {
    std::lock_guard lock(gHeaderRetrievalLock);
    if (auto sg = parts_.serverGroups->FindByName(connection.Server(), Argument(block.command), false))
      if (!HasInFlight(*sg)) EndRefresh(*sg);
  }
  ClearCurrentGroup(connection);
  parts_.queue->FinishCurrent(connection);
  parts_.queue->NextCommand(connection);
}

void TArtList::NoSuchGroup(TConnectionFace& connection, const FResponseBlock& block) {
  const std::string group = Argument(block.command);
  LogError(FormatText("%s: %s (group \"%s\")!", connection.ConnName().c_str(), PrintableName(block.statusLine).c_str(),
                      PrintableName(group).c_str()),
           0);
  if (gConfig && gConfig->Has(cfIgnore411)) return;
  TServer& server = connection.Server();
  {
    std::lock_guard lock(gHeaderRetrievalLock);
    if (auto sg = parts_.serverGroups->FindByName(server, group, false)) {
      if (auto it = refreshes_.find(sg.get()); it != refreshes_.end()) it->second.inFlight.clear();
      EndRefresh(*sg);
    }
  }
  parts_.serverGroups->RemoveGroupFromServer(server, group, true);
  if (parts_.queueIndex) parts_.queueIndex->RemoveServerGroup(server, group);
}

void TArtList::DispatchHeader(TConnectionFace& connection, const FResponseBlock& block, std::string_view word) {
  const uint16_t code = block.code;
  if (IsLoginRefusal(code)) return AuthenticationFailure(connection, block);
  if (EqualsIgnoreCase(word, "xover") && code == 224) return HandleXover(connection, block);
  if (EqualsIgnoreCase(word, "listgroup") && code == 211)
    return HandleListgroup(connection, block, CurrentItemFacts(connection));
  if (EqualsIgnoreCase(word, "xpat") && code == 221) return HandleXpat(connection, block);
  if (EqualsIgnoreCase(word, "xhdr") && code == 221) {
    const FItemFacts item = CurrentItemFacts(connection);
    if (item.present && item.kind == qkValidate) return HandleValidate(connection, block, item);
    return HandleXhdr(connection, block);
  }
  HeaderRefused(connection, block, word);
}

// The server refused a header command: what it had in flight is no longer expected. A
// refused overview range comes back as a group refresh (the queue converts it), which
// plans it again; any other refusal ends the refresh once nothing else is under way.
void TArtList::HeaderRefused(TConnectionFace& connection, const FResponseBlock& block, std::string_view word) {
  const TQueueKind kind = KindOfCommand(word, block.command);
  const std::string group = kind == qkListgroup ? Argument(block.command)
                                                : connection.Slot().Status.Get(TSlotStatus::CurrentGroup);
  const FItemFacts item = CurrentItemFacts(connection);
  FFollowUp follow;
  bool validationSkipped = false;
  {
    std::lock_guard lock(gHeaderRetrievalLock);
    if (auto sg = parts_.serverGroups->FindByName(connection.Server(), group, false)) {
      uint32_t low = 0, high = UINT32_MAX;
      if (kind != qkListgroup && kind != qkValidate) ParseRequestRange(block.command, low, high);
      RemoveInFlight(*sg, kind, low, high);
      if (kind == qkValidate && item.present && item.kind == qkValidate && item.count >= 2) {
        ValidationRefused(sg, connection, item, follow);
        validationSkipped = true;
      } else if (kind != qkMessageID && !HasInFlight(*sg))
        EndRefresh(*sg);
    }
  }
  if (validationSkipped) {
    // The check was only a precaution: it is done with, not to be tried again.
    follow.finishCurrent = true;
    return RunFollowUp(connection, follow);
  }
  parts_.queue->CommandFailed(connection);
  ClearCurrentGroup(connection);
  parts_.queue->NextCommand(connection);
}

// A server that cannot show one article's Message-ID cannot tell about renumbering either;
// the refresh goes on without the check rather than leaving the new articles unfetched.
void TArtList::ValidationRefused(const std::shared_ptr<TSrvGrp>& sg, TConnectionFace& connection,
                                 const FItemFacts& item, FFollowUp& follow) {
  std::lock_guard state(sg->StateLock());
  if (item.data[0] != 0 && item.data[0] <= item.data[1]) sg->AdjustServerFile(item.data[0], item.data[1], false);
  sg->SetLastRefresh(NowLocal());
  PlanOrEnd(sg, connection, follow, qkValidate, 0, item.data[1]);
}

void TArtList::AuthenticationFailure(TConnectionFace& connection, const FResponseBlock& block) {
  parts_.queue->CommandFailed(connection);
  ClearCurrentGroup(connection);
  TServer& slot = connection.Slot();
  slot.Status.Set(TSlotStatus::StatusMessage, std::string(block.statusLine));
  LogError(connection.ConnName() + ": " + PrintableName(block.statusLine), 0);
  // The error state goes first: it survives the disconnect, so the slot waits for the user
  // instead of being opened again with the same refused log-in.
  slot.SetState(csError);
  connection.DisconnectNow();
}

void TArtList::HeaderCommandFailed(TConnectionFace& connection, TQueueKind kind, const std::string& groupName) {
  std::lock_guard lock(gHeaderRetrievalLock);
  switch (kind) {
    case qkSize:
    case qkSubject:
    case qkAuthor:
    case qkDate: {
      const uint32_t claimer = ClaimerOf(connection);
      for (TMissingHeaders& list : missing_) list.ReleaseClaims(claimer);
      break;
    }
    case qkListgroup:
      if (auto sg = parts_.serverGroups->FindByName(connection.Server(), groupName, false)) sg->ValidationQueued = false;
      break;
    case qkGroup:
      // The queue dropped a refresh it could not carry out: it ends here.
      if (auto sg = parts_.serverGroups->FindByName(connection.Server(), groupName, false))
        if (!HasInFlight(*sg)) EndRefresh(*sg);
      break;
    default: break;
  }
}

TArtList::FItemFacts TArtList::CurrentItemFacts(TConnectionFace& connection) {
  FItemFacts facts;
  auto list = parts_.queue->LockList();
  if (const TQueueItem* item = connection.CurrentItem()) {
    facts.present = true;
    facts.kind = item->Kind;
    facts.flags = item->Flags;
    facts.data = item->Data;
    facts.count = item->DataCount;
  }
  return facts;
}

uint32_t TArtList::ClaimerOf(const TConnectionFace& connection) {
  auto [it, added] = claimers_.try_emplace(&connection, nextClaimer_);
  if (added && ++nextClaimer_ == TMissingHeaders::kResolved) nextClaimer_ = 1;
  return it->second;
}

void TArtList::RunFollowUp(TConnectionFace& connection, FFollowUp& follow) {
  TQueue& queue = *parts_.queue;
  if (follow.finishCurrent) queue.FinishCurrent(connection);
  if (!follow.wanted.empty() && follow.sg) {
    auto list = queue.LockList();
    TMapUse map(*follow.sg);
    TQueueBodyPort port(queue, list);
    for (TArticleOffset offset : follow.wanted) follow.sg->AutoMarkFile(offset, port);
  }
  if (!follow.sizes.empty()) queue.UpdateSizes(follow.sizes);
  switch (follow.action) {
    case FFollowUp::faNext: queue.NextCommand(connection); break;
    case FFollowUp::faEnqueue:
      queue.EnqueueHeaderCmnd(connection, follow.kind, 0, follow.high, follow.low, follow.group);
      NotSentWhilePaused(connection, follow, follow.kind, follow.low, follow.high);
      break;
    case FFollowUp::faValidate:
      queue.EnqueueValidateCmnd(connection, follow.group, 0, follow.check, follow.low, follow.high);
      NotSentWhilePaused(connection, follow, qkValidate, follow.check, follow.check);
      break;
    case FFollowUp::faReleaseItem: queue.ReleaseItem(connection); break;
    case FFollowUp::faNothing: break;
  }
}

// A paused queue keeps a group refresh in place of the planned command, which plans it
// again when it runs: the command is not under way.
void TArtList::NotSentWhilePaused(TConnectionFace& connection, const FFollowUp& follow, TQueueKind kind, uint32_t low,
                                  uint32_t high) {
  if (connection.CurrentItem() || !follow.sg) return;
  std::lock_guard lock(gHeaderRetrievalLock);
  RemoveInFlight(*follow.sg, kind, low, high);
}

FArtListStats TArtList::Stats() const {
  return {headersStored_.load(), headersSeen_.load(), linesSkipped_.load(), refreshesEnded_.load(), bodies_.load()};
}

}  // namespace zev
