// TArtList: the operations on whole groups and servers that the main window and start-up
// ask for: dropping a pair's articles, removing a group's or a server's articles, queueing
// marked articles, and deleting the map files when the database is rebuilt.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>

#include "core/DateTime.h"
#include "core/Log.h"
#include "core/TextUtil.h"
#include "db/Article.h"
#include "db/Group.h"
#include "db/GroupFileName.h"
#include "db/GroupTree.h"
#include "db/MapArticles.h"
#include "db/SGLst.h"
#include "db/ServerTree.h"
#include "download/Queue.h"
#include "nntp/ArtListInternal.h"
#include "nntp/QueueBodyPort.h"

namespace zev {

namespace {

void ResetCounters(TGroup& group) {
  group.NewCount = 0;
  group.PendingNew = 0;
  group.WantCount = 0;
  group.KillCount = 0;
}

template <typename Fn>
void ForEachNewsgroup(TGroup& node, Fn fn) {
  if (node.IsNewsgroup()) fn(node);
  for (const auto& child : node.Children()) ForEachNewsgroup(*child, fn);
}

template <typename Fn>
void ForEachNewsServer(TServer& node, Fn fn) {
  if (node.IsNewsServer()) return fn(node);
  for (const auto& child : node.Children()) ForEachNewsServer(*child, fn);
}

}  // namespace

bool TArtList::ExpirePair(TServer& server, TGroup& group, TDateTime limit) {
  const std::string path = TSGLst::MapFileName(server, group);
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || LocalDateTimeFromUnix(st.st_mtime) >= limit) return false;
  if (auto sg = parts_.serverGroups ? parts_.serverGroups->FindOrCreate(server, group, false) : nullptr) {
    std::lock_guard header(gHeaderRetrievalLock);
    if (HasInFlight(*sg)) RefreshOf(sg).inFlight.clear();
    EndRefresh(*sg);
    {
      std::lock_guard state(sg->StateLock());
      TMapUse map(*sg);
      if (map.Loaded()) {
        const uint64_t first = sg->FirstArtNo(), last = sg->LastArtNo();
        for (uint64_t n = first; n != 0 && n <= last; ++n) {
          const uint32_t entry = sg->GetEntry(static_cast<uint32_t>(n));
          if (entry >= kFirstArticleOffset && parts_.article) parts_.article->Expire(entry);
          sg->SetEntry(static_cast<uint32_t>(n), mmMissing);
        }
        sg->SaveOffsMap();
      }
    }
    sg->ResetState();
    ResetCounters(group);
  }
  ::unlink(path.c_str());
  return true;
}

void TArtList::RemoveGroupArticles(TGroup& node, const TServerTree& servers) {
  const TDateTime limit = NowLocal() + 1;
  ForEachNewsgroup(node, [&](TGroup& group) {
    bool removed = false;
    for (const auto& root : servers.Roots())
      ForEachNewsServer(*root, [&](TServer& server) { removed |= ExpirePair(server, group, limit); });
    if (removed) ResetCounters(group);
  });
  if (gMapArticles) gMapArticles->Flush();
}

void TArtList::RemoveServerArticles(TServer& node, const TGroupTree& groups) {
  const TDateTime limit = NowLocal() + 1;
  ForEachNewsServer(node, [&](TServer& server) {
    for (const auto& root : groups.Roots())
      ForEachNewsgroup(*root, [&](TGroup& group) {
        if (ExpirePair(server, group, limit)) ResetCounters(group);
      });
    const std::string dir = ServerDataDir(server);
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
      if (entry.is_regular_file(ec)) std::filesystem::remove(entry.path(), ec);
    std::filesystem::remove(dir, ec);
  });
  if (gMapArticles) gMapArticles->Flush();
}

void TArtList::QueueMarkedArticles(TGroup& node, TMap2& marked, const TServerTree& servers) {
  if (!parts_.queue || !parts_.serverGroups) return;
  TQueue& queue = *parts_.queue;
  ForEachNewsgroup(node, [&](TGroup& group) {
    for (const auto& root : servers.Roots())
      ForEachNewsServer(*root, [&](TServer& server) {
        if (server.ServerMode != smNormal) return;
        auto sg = parts_.serverGroups->FindOrCreate(server, group, false);
        if (!sg) return;
        auto list = queue.LockList();
        std::lock_guard state(sg->StateLock());
        TMapUse map(*sg);
        if (!map.Loaded() || sg->ArtCount() == 0) return;
        TQueueBodyPort port(queue, list);
        sg->QueueMarked(marked, port);
      });
  });
}

void TArtList::DeleteOffsetMapFiles(const TServerTree& servers) {
  servers.ForEachNode([](TServer& node) {
    if (!node.IsNewsServer()) return;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(ServerDataDir(node), ec)) {
      const std::string name = entry.path().filename().string();
      const bool mapFile = name.size() > 4 && EqualsIgnoreCase(name.substr(name.size() - 4), ".zev");
      if (mapFile && !EqualsIgnoreCase(name, kGroupListFileName) && entry.is_regular_file(ec))
        std::filesystem::remove(entry.path(), ec);
    }
  });
}

}  // namespace zev
