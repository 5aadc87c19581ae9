// TGroupList: the user's commands on the list (Force Exist, Force NonExist, Reload).
#include <mutex>
#include <shared_mutex>

#include "db/BTree.h"
#include "db/GroupCountFile.h"
#include "db/GroupList.h"
#include "db/GroupTree.h"
#include "db/SGLst.h"
#include "db/Server.h"

namespace zev {

bool TGroupList::ForceCount(TServer& server, std::string_view name, uint32_t count) {
  TServer& news = server.NewsServer();
  const TGroupCountFile file = TGroupCountFile::Of(news);
  TDataPointer dp = 0;
  FGroupHeader header;
  if (file.Path().empty() || !index_->Find(name, dp) || !index_->ReadRecord(dp, &header) || header.GroupId == 0)
    return false;
  uint32_t old = 0;
  {
    std::unique_lock lock(CountFileLock(news));
    old = file.Count(header.GroupId);
    if (old == count) return false;
    file.SetCount(header.GroupId, count);
    if ((old == 0) != (count == 0)) AddCarrier(dp, count == 0 ? -1 : +1);
  }
  countsGeneration_.fetch_add(1);
  if (count == 0) {
    if (gServerGroups) gServerGroups->RemoveGroupFromServer(news, name, false);
  } else if (old == 0 && gGroups && gGroups->FindGroupByName(name)) {
    news.ServerGroupsDirty = true;
    GroupListsChanged = true;
  }
  return true;
}

void TGroupList::ForgetServer(TServer& server) {
  TServer& news = server.NewsServer();
  const TGroupCountFile file = TGroupCountFile::Of(news);
  {
    std::lock_guard store(storeLock_);
    std::unique_lock lock(CountFileLock(news));
    const std::vector<uint32_t> counts = file.Counts();
    if (!counts.empty())
      for (const auto& [dp, groupId] : index_->GetMap2(offsetof(FGroupHeader, GroupId)))
        if (groupId < counts.size() && counts[groupId] != 0) AddCarrier(dp, -1);
    index_->Flush(true, true);
    file.Remove();
  }
  // The list step runs on one connection per server and program run; without this the
  // list would come back only after a restart.
  news.CommandsChecked = 0;
  countsGeneration_.fetch_add(1);
  GroupListsChanged = true;
}

}  // namespace zev
