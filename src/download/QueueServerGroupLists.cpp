#include "download/QueueServerGroupLists.h"

#include "db/SGLst.h"

namespace zev {

void TQueueServerGroupLists::Sources(TArticleOffset offset, std::vector<FArticleSource>& out) {
  for (size_t i = 0, n = queueIndex_.Count(); i < n; ++i) {
    const TSGLst::TEntry entry = queueIndex_.Item(i);
    if (!entry) break;
    if (const uint32_t artNo = entry->GetReverse(offset)) out.push_back({&entry->Server(), &entry->Group(), artNo});
  }
}

void TQueueServerGroupLists::ForgetArtNo(TServer& server, TGroup* group, TArticleOffset offset) {
  if (group) return queueIndex_.SetArtNo(server, *group, 0, offset);
  for (size_t i = 0, n = queueIndex_.Count(); i < n; ++i) {
    const TSGLst::TEntry entry = queueIndex_.Item(i);
    if (!entry) break;
    if (&entry->Server() == &server) entry->SetReverse(offset, 0);
  }
}

bool TQueueServerGroupLists::HasRecord(TServer& server, TGroup& group) {
  return serverGroups_.FindOrCreate(server, group, false) != nullptr;
}

void TQueueServerGroupLists::SetRefreshKind(TServer& server, TGroup& group, uint8_t kind) {
  if (auto entry = serverGroups_.FindOrCreate(server, group, false)) entry->RefreshKind = kind;
}

bool TQueueServerGroupLists::RefreshIdle(TServer& server, TGroup& group) {
  auto entry = serverGroups_.FindOrCreate(server, group, false);
  return entry && entry->RefreshIdle;
}

void TQueueServerGroupLists::SetRefreshIdle(TServer& server, TGroup& group, bool idle) {
  if (auto entry = serverGroups_.FindOrCreate(server, group, false)) entry->RefreshIdle = idle;
}

void TQueueServerGroupLists::RefreshQueued(TServer& server, TGroup& group) {
  auto entry = serverGroups_.FindOrCreate(server, group, false);
  if (!entry) return;
  entry->RefreshIdle = false;
  // The first refresh since start-up checks the map against the server (expired articles).
  if (entry->FirstRefresh.exchange(false)) entry->Validated = false;
}

TDateTime TQueueServerGroupLists::LastRefresh(TServer& server, TGroup& group) {
  auto entry = serverGroups_.FindOrCreate(server, group, false);
  return entry ? entry->GetLastRefresh() : 0;
}

}  // namespace zev
