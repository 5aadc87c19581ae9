// Header work planned by the header retrieval on a connection that has just selected a
// group: the range is queued in chunks and the first chunk is sent at once.
#include <algorithm>

#include "core/Log.h"
#include "core/TextUtil.h"
#include "db/Group.h"
#include "db/Server.h"
#include "download/QueueInternal.h"

namespace zev {

namespace {

// One range never becomes more items than this, whatever the chunk size: a range of a
// billion numbers with chunks of 1 must not exhaust memory.
constexpr uint64_t kMaxChunksPerRange = 65536;

}  // namespace

uint64_t TQueue::ChunkSizeFor(TQueueKind kind, TServer& server, TGroup& group, uint64_t count) {
  if (kind == qkXpat || kind == qkListgroup || !server.Has(sfChunks) || !serverGroups_.HasRecord(server, group))
    return count;
  const uint64_t chunk = std::max<uint64_t>(server.ChunkSize.load(), 1);
  return std::max(chunk, (count + kMaxChunksPerRange - 1) / kMaxChunksPerRange);
}

void TQueue::AppendChunks(TQueueItem* first, uint32_t low, uint32_t high, uint64_t chunk) {
  // The first item keeps the newest chunk and the others follow downwards, so the newest
  // articles come first and further connections of the server can take the rest.
  if (uint64_t{high} - low + 1 > chunk) first->Data[0] = static_cast<uint32_t>(high - (chunk - 1));
  Append(first);
  for (uint32_t next = first->Data[0]; next > low;) {
    const uint32_t chunkHigh = next - 1;
    const uint32_t chunkLow =
        uint64_t{chunkHigh} - low + 1 > chunk ? static_cast<uint32_t>(chunkHigh - (chunk - 1)) : low;
    TQueueItem* more = NewItem(first->Kind, first->Group, 127);
    more->Target = first->Target;
    more->Flags = first->Flags;
    more->SetRange(chunkLow, chunkHigh);
    Append(more);
    next = chunkLow;
  }
}

void TQueue::EnqueueHeaderCmnd(TConnectionFace& connection, TQueueKind kind, uint32_t flags, uint32_t high,
                               uint32_t low, TGroup* group) {
  if (!group) {
    LogError(FormatText("Could not find a group object for the group \"%s\"; skipping header refresh",
                        connection.Slot().Status.Get(TSlotStatus::CurrentGroup).c_str()),
             1);
    return;
  }
  if (kind == qkBody) return;
  if (low > high) std::swap(low, high);
  FAction action;
  try {
    std::lock_guard lock(lock_);
    TServer& server = connection.Server();
    const TNodeId slot = refs_.Servers.Register(&connection.Slot());
    DropCurrent(connection, slot);
    TQueueItem* item = NewItem(kind, refs_.Groups.Register(group), kind == qkGroup ? group->HeaderScore.load() : 127);
    item->Target = refs_.Servers.Register(&server);
    item->Flags = flags;
    if (paused_) {
      // Nothing is sent while paused: a refresh of the group stands in for the range.
      item->Kind = qkGroup;
      Append(item);
      action = FAction::MakeReady();
    } else {
      item->SetRange(low, high);
      item->Handler = slot;
      const uint64_t count = uint64_t{high} - low + 1;
      AppendChunks(item, low, high, ChunkSizeFor(kind, server, *group, count));
      action = StartHeaderRange(connection, item, server, *group);
    }
  } catch (const std::exception& e) {
    LogException(e, "TQueue.EnqueueHeaderCmnd");
    return;
  }
  Perform(connection, action);
}

void TQueue::EnqueueValidateCmnd(TConnectionFace& connection, TGroup* group, uint32_t flags, uint32_t artNo,
                                 uint32_t low, uint32_t high) {
  if (!group) return;
  FAction action;
  try {
    std::lock_guard lock(lock_);
    TServer& server = connection.Server();
    const TNodeId slot = refs_.Servers.Register(&connection.Slot());
    TQueueItem* item = NewItem(qkValidate, refs_.Groups.Register(group), group->HeaderScore.load());
    item->Target = refs_.Servers.Register(&server);
    item->Flags = flags;
    if (paused_) {
      item->Kind = qkGroup;
      Append(item);
      action = FAction::MakeReady();
    } else {
      if (CurrentOf(connection, slot)) {
        LogError("WARNING! Connection changed current items without clearing previous item in TQueue.EnqueueValidateCmnd.",
                 2);
        DropCurrent(connection, slot);
      }
      item->Data = {low, high, artNo, 0};
      item->DataCount = 3;
      item->Handler = slot;
      Append(item);
      action = StartHeaderRange(connection, item, server, *group);
    }
  } catch (const std::exception& e) {
    LogException(e, "TQueue.EnqueueValidateCmnd");
    return;
  }
  Perform(connection, action);
}

void TQueue::SetXpatQuery(TGroup& group, std::string header, std::string pattern) {
  std::lock_guard lock(lock_);
  xpat_[refs_.Groups.Register(&group)] = FXpatQuery{std::move(header), std::move(pattern)};
}

}  // namespace zev
