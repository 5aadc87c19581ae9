// The queue as the command source of the connections: what a connection is given next, and
// what becomes of its item when the command ends, fails or is abandoned.
#include <algorithm>

#include "core/ChangeQueue.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "core/TextUtil.h"
#include "db/Group.h"
#include "db/Server.h"
#include "db/ServerTree.h"
#include "download/QueueCommandText.h"
#include "download/QueueGroupSelection.h"
#include "download/QueueInternal.h"

namespace zev {

namespace {

// How many items one NextCommand may try when the chosen ones turn out unusable.
constexpr int kSelectAttempts = 8;

}  // namespace

TQueue::FSlotFacts TQueue::ReadSlotFacts(const TServer& server, const TServer& slot) {
  FSlotFacts facts;
  const bool wantOffline = offlineCheck_.load();
  servers_.ForEachNode([&](TServer& node) {
    if (wantOffline && node.IsNewsServer()) {
      bool retrying = false, busyOtherwise = false;
      for (const auto& s : node.Children()) {
        const TConnState state = s->State();
        retrying |= state == csRetrying;
        busyOtherwise |= state != csRetrying && kBusyStates.Contains(state);
      }
      if (retrying && !busyOtherwise) facts.offline.push_back(&node);
    }
    if (!node.IsSlot() || node.Parent() != &server) return;
    // Slots are counted in order; the ones past MaxConn are the surplus.
    if (&node == &slot) facts.slotIndex = facts.slotCount;
    ++facts.slotCount;
    facts.aliveIdle += kAliveIdleStates.Contains(node.State());
  });
  return facts;
}

void TQueue::NextCommand(TConnectionFace& connection) {
  FAction action = FAction::MakeReady();
  try {
    const FSlotFacts facts = ReadSlotFacts(connection.Server(), connection.Slot());
    std::lock_guard lock(lock_);
    action = DecideNext(connection, facts);
  } catch (const std::exception& e) {
    LogException(e, "TQueue.NextCommand");
    action = FAction::MakeReady();
  }
  Perform(connection, action);
}

TQueue::FAction TQueue::DecideNext(TConnectionFace& connection, const FSlotFacts& facts) {
  FSelection s;
  s.slot = &connection.Slot();
  s.server = &connection.Server();
  s.slotId = refs_.Servers.Register(s.slot);
  s.serverId = refs_.Servers.Register(s.server);
  DropCurrent(connection, s.slotId);
  TServer& server = *s.server;
  if (facts.slotIndex >= static_cast<int>(server.MaxConn.load())) {
    // The slot itself is removed by the user-interface thread once the connection is gone.
    if (gChangeQueue) gChangeQueue->Post({TChange::SurplusSlots, &server});
    return FAction::MakeDisconnect();
  }
  if (connection.DisconnectRequest() != drNone) return FAction::MakeDisconnect();
  if (paused_ || s.slot->Paused) return FAction::MakeReady();
  if (server.Daily.LimitReached(server.Has(sfDailyLimit)) || server.Monthly.LimitReached(server.Has(sfMonthlyLimit)))
    return FAction::MakeReady();
  s.mode = server.ServerMode;
  s.skipGroup = server.Has(sfByMessageID) && server.Has(sfSkipGroup);
  s.currentName = s.slot->Status.Get(TSlotStatus::CurrentGroup);
  s.currentGroup = CurrentGroupOf(s);
  s.nowMs = clock_();
  s.offline = &facts.offline;
  SweepHomeless(s.nowMs);
  for (int attempt = 0; attempt < kSelectAttempts; ++attempt) {
    TQueueItem* item = SelectNextItem(s);
    if (!item) break;
    FAction action = CommandFor(connection, item, s);
    if (action.kind == FAction::None) continue;
    // A download that waited for disk space goes on: its note on the slot is over.
    if (heldBackSlots_.erase(s.slotId)) s.slot->Status.Set(TSlotStatus::StatusMessage, {});
    return action;
  }
  if (!s.heldBack.empty()) {
    s.slot->Status.Set(TSlotStatus::StatusMessage, s.heldBack);
    heldBackSlots_.insert(s.slotId);
  }
  return FAction::MakeReady();
}

TNodeId TQueue::CurrentGroupOf(const FSelection& s) {
  if (s.skipGroup || s.currentName.empty()) return 0;
  auto& cached = slotGroups_[s.slotId];
  if (cached.first == s.currentName && refs_.Groups.Resolve(cached.second)) return cached.second;
  TNodeId found = 0;
  refs_.Groups.ForEach([&](TNodeId id, TGroup& group) {
    if (!found && group.NameIs(s.currentName)) found = id;
  });
  cached = {s.currentName, found};
  return found;
}

void TQueue::Perform(TConnectionFace& connection, FAction& action) {
  switch (action.kind) {
    case FAction::Start:
      connection.StartCommand(action.target, std::move(action.text), action.mode, action.expected, action.multiLine);
      break;
    case FAction::Ready: connection.SetReady(); break;
    case FAction::Disconnect: connection.DisconnectNow(); break;
    case FAction::None: break;
  }
}

TQueueItem* TQueue::CurrentOf(TConnectionFace& connection, TNodeId slot) {
  TQueueItem* item = connection.CurrentItem();
  if (!item) return nullptr;
  // The pointer is the connection's; the item may have been retired since.
  if (!slot || !pool_.Owns(item) || !TQueueItemPool::IsLive(item) || item->Handler != slot) {
    connection.SetCurrentItem(nullptr);
    return nullptr;
  }
  return item;
}

void TQueue::DropCurrent(TConnectionFace& connection, TNodeId slot) {
  TQueueItem* item = CurrentOf(connection, slot);
  connection.SetCurrentItem(nullptr);
  if (!item) return;
  item->Handler = 0;
  if (item->IsHandled()) return FreeItem(item);
  Refile(item);
  changed_ = true;
}

// --- Commands for items ---

TQueue::FAction TQueue::CommandFor(TConnectionFace& connection, TQueueItem* item, const FSelection& s) {
  TGroup* group = refs_.Groups.Resolve(item->Group);
  const std::string name = group ? group->Name() : std::string();
  if (!item->IsBody() && !IsCommandWord(name)) {
    DropItem(item, FormatText("Dropping %s work of a group whose name cannot be sent: \"%s\".",
                              QueueKindTypeText(item->Kind), name.c_str()));
    return {};
  }
  switch (item->Kind) {
    case qkGroup:
    case qkListgroup: return StartHeaderRange(connection, item, *s.server, *group);
    case qkXpat:
    case qkValidate:
    case qkMessageID:
    case qkSize:
    case qkSubject:
    case qkAuthor:
    case qkDate:
      if (name != s.currentName) return SwitchGroup(connection, item, s, group);
      return StartHeaderRange(connection, item, *s.server, *group);
    case qkBody: return StartBody(connection, item, s, group);
  }
  item->Handler = 0;
  Retire(item);
  return {};
}

TQueue::FAction TQueue::StartHeaderRange(TConnectionFace& connection, TQueueItem* item, TServer& server,
                                         TGroup& group) {
  const std::string name = group.Name();
  connection.SetCurrentItem(item);
  switch (item->Kind) {
    case qkGroup: return FAction::MakeStart(target_, GroupCommand(name), dmNone, 0, false);
    case qkListgroup: return FAction::MakeStart(target_, ListgroupCommand(name), dmLines, item->RangeCount(), true);
    case qkValidate: return FAction::MakeStart(target_, ValidateCommand(item->Data[2]), dmLines, 1, true);
    case qkXpat: {
      auto query = xpat_.find(item->Group);
      if (query == xpat_.end() || !IsCommandWord(query->second.header) || !IsCommandText(query->second.pattern)) {
        connection.SetCurrentItem(nullptr);
        DropItem(item, FormatText("Dropping an XPAT search of \"%s\" without a usable pattern.", name.c_str()));
        return {};
      }
      return FAction::MakeStart(target_,
                                XpatCommand(query->second.header, item->Data[0], item->Data[1], query->second.pattern),
                                dmLines, item->RangeCount(), true);
    }
    default:
      connection.SetFirstArtNo(item->Data[0]);
      return FAction::MakeStart(target_, RangeCommand(item->Kind, item->Data[0], item->Data[1], server.Has(sfXHDR)),
                                dmLines, item->RangeCount(), true);
  }
}

TQueue::FAction TQueue::SwitchGroup(TConnectionFace&, TQueueItem* item, const FSelection& s, TGroup* group) {
  // The item goes back while the connection selects its group; the next NextCommand, after
  // the reply, finds it again (the same-group bonus favours it).
  item->Handler = 0;
  Refile(item);
  switches_[s.slotId] = FGroupSwitch{item, item->seq_};
  return FAction::MakeStart(groupSelection_.get(), GroupCommand(group->Name()), dmNone, 0, false);
}

TQueue::FAction TQueue::StartBody(TConnectionFace& connection, TQueueItem* item, const FSelection& s, TGroup* group) {
  if (!s.skipGroup && group && !group->NameIs(s.currentName)) {
    if (IsCommandWord(group->Name())) return SwitchGroup(connection, item, s, group);
    std::vector<FHeaderFailure> none;
    item->Handler = 0;
    Refused(item, s.serverId, none);
    Refile(item);
    return {};
  }
  const std::string id = BodyId(item, s);
  if (id.empty()) {
    FailWithoutId(item, s, group);
    return {};
  }
  connection.SetCurrentItem(item);
  return FAction::MakeStart(target_, BodyCommand(id, s.server->Has(sfARTICLE)), dmArticle, item->Data[1], true);
}

std::string TQueue::BodyId(TQueueItem* item, const FSelection& s) {
  const bool byMessageId = s.mode == smArticles || s.server->Has(sfByMessageID) ||
                           (item->Data[2] == kFetchByMessageId && item->Has(qfByMessageID));
  if (byMessageId) {
    FQueueArticle article;
    // A Message-ID from overview data must not smuggle a second command onto the line.
    if (articles_.Read(item->Data[0], article, atMessageId) && IsUsableMessageId(article.MessageId))
      return "<" + article.MessageId + ">";
    if (s.mode == smArticles) return {};
    LogError("WARNING! Null Message-ID, downloading by Article-ID instead.", 1);
  }
  return item->Data[2] ? std::to_string(item->Data[2]) : std::string();
}

void TQueue::FailWithoutId(TQueueItem* item, const FSelection& s, TGroup* group) {
  serverGroups_.ForgetArtNo(*s.server, group, item->Data[0]);
  item->Handler = 0;
  item->Target = 0;
  Resource(item);
  changed_ = true;
  FQueueArticle article;
  const std::string data = articles_.Read(item->Data[0], article, atSubject)
                               ? "\"" + article.Subject + "\""
                               : FormatText("Offset %u", item->Data[0]);
  LogError(FormatText("WARNING! Could not find Message-ID or Article-ID, skipping article. Server=\"%s\", Data=%s",
                      s.server->Name().c_str(), data.c_str()),
           1);
}

void TQueue::DropItem(TQueueItem* item, const std::string& why) {
  LogError(why, 1);
  item->Handler = 0;
  Retire(item);
}

void TQueue::Refused(TQueueItem* item, TNodeId server, std::vector<FHeaderFailure>& failures) {
  const int refusals = backoff_.Refused(item, server, clock_());
  changed_ = true;
  if (item->IsBody() || refusals < TQueueBackoff::kMaxHeaderRefusals) return;
  TGroup* group = refs_.Groups.Resolve(item->Group);
  const std::string name = group ? group->Name() : std::string();
  TServer* target = refs_.Servers.Resolve(server);
  failures.push_back({item->Kind, name});
  DropItem(item, FormatText("Dropping %s work of \"%s\": server \"%s\" refused it %d times.",
                            QueueKindTypeText(item->Kind), name.c_str(), target ? target->Name().c_str() : "",
                            refusals));
}

void TQueue::Notify(TConnectionFace& connection, const std::vector<FHeaderFailure>& failures) {
  TQueueHeaderObserver* observer;
  {
    std::lock_guard lock(lock_);
    observer = observer_;
  }
  if (!observer) return;
  for (const FHeaderFailure& f : failures) observer->HeaderCommandFailed(connection, f.kind, f.group);
}

// --- Results ---

void TQueue::FinishCurrent(TConnectionFace& connection) {
  std::lock_guard lock(lock_);
  TQueueItem* item = CurrentOf(connection, refs_.Servers.Find(&connection.Slot()));
  connection.SetCurrentItem(nullptr);
  if (!item) return;
  if (!item->IsBody())
    Retire(item);
  else if (item->IsHandled())
    FreeItem(item);
}

void TQueue::BodyReceived(TConnectionFace& connection) {
  std::lock_guard lock(lock_);
  TQueueItem* item = CurrentOf(connection, refs_.Servers.Find(&connection.Slot()));
  connection.SetCurrentItem(nullptr);
  // The item stays with the slot until the decoder reports (MarkHandled or PutBack).
  if (item && item->IsHandled()) FreeItem(item);
}

void TQueue::CommandFailed(TConnectionFace& connection) {
  std::vector<FHeaderFailure> failures;
  {
    std::lock_guard lock(lock_);
    const TNodeId server = refs_.Servers.Find(&connection.Server());
    TQueueItem* item = CurrentOf(connection, refs_.Servers.Find(&connection.Slot()));
    connection.SetCurrentItem(nullptr);
    if (!item) return;
    changed_ = true;
    item->Handler = 0;
    if (item->IsHandled()) return FreeItem(item);
    TGroup* group = refs_.Groups.Resolve(item->Group);
    const std::string name = group ? group->Name() : std::string();
    switch (item->Kind) {
      case qkSize:
      case qkSubject:
      case qkAuthor:
      case qkDate:
        failures.push_back({item->Kind, name});
        Retire(item);
        break;
      case qkMessageID:
        // The overview was refused: a full refresh follows instead, after a back-off.
        failures.push_back({item->Kind, name});
        item->Kind = qkGroup;
        item->ClearData();
        Refused(item, server, failures);
        break;
      case qkBody:
        // Any server may take it; this one only after a back-off.
        item->Target = 0;
        Refused(item, server, failures);
        Refile(item);
        break;
      default:
        // Header work stays with its server: ranges and numbers are that server's.
        if (item->Kind == qkListgroup) failures.push_back({item->Kind, name});
        Refused(item, server, failures);
        break;
    }
  }
  Notify(connection, failures);
}

void TQueue::ReleaseItem(TConnectionFace& connection) {
  std::lock_guard lock(lock_);
  const TNodeId slot = refs_.Servers.Find(&connection.Slot());
  DropCurrent(connection, slot);
  switches_.erase(slot);
}

void TQueue::ReleaseForOtherServers(TConnectionFace& connection) {
  std::lock_guard lock(lock_);
  const TNodeId server = refs_.Servers.Find(&connection.Server());
  TQueueItem* item = CurrentOf(connection, refs_.Servers.Find(&connection.Slot()));
  connection.SetCurrentItem(nullptr);
  if (!item) return;
  item->Handler = 0;
  if (item->IsHandled()) return FreeItem(item);
  if (item->IsBody()) {
    serverGroups_.ForgetArtNo(connection.Server(), refs_.Groups.Resolve(item->Group), item->Data[0]);
    if (item->Target == server) item->Target = 0;
    Resource(item);
  }
  changed_ = true;
}

void TQueue::PutBack(TArticleOffset offset, TServer& slot) {
  std::lock_guard lock(lock_);
  const TNodeId handler = refs_.Servers.Find(&slot);
  if (!handler) return;
  bool forgotten = false;
  offsets_.ForEach(offset, [&](TQueueItem* item) {
    if (item->Handler != handler) return;
    if (!forgotten) serverGroups_.ForgetArtNo(slot.NewsServer(), nullptr, offset);
    forgotten = true;
    item->Handler = 0;
    item->Flags |= qfDecodeError;
    Resource(item);
    changed_ = true;
  });
}

void TQueue::GroupSelected(TConnectionFace& connection, bool accepted, const std::string& group) {
  std::vector<FHeaderFailure> failures;
  {
    std::lock_guard lock(lock_);
    TServer& slot = connection.Slot();
    const TNodeId slotId = refs_.Servers.Find(&slot);
    slot.Status.Set(TSlotStatus::CurrentGroup, accepted ? group : std::string());
    auto it = switches_.find(slotId);
    if (it != switches_.end()) {
      const FGroupSwitch pending = it->second;
      switches_.erase(it);
      TQueueItem* item = pending.item;
      if (!accepted && TQueueItemPool::IsLive(item) && item->seq_ == pending.seq && !item->Handler) {
        LogError(FormatText("%s: group \"%s\" could not be selected; its %s work waits.", connection.ConnName().c_str(),
                            group.c_str(), QueueKindTypeText(item->Kind)),
                 0);
        Refused(item, refs_.Servers.Find(&connection.Server()), failures);
      }
    }
  }
  Notify(connection, failures);
  NextCommand(connection);
}

}  // namespace zev
