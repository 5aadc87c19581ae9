#include "db/SGLst.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "core/Config.h"
#include "core/Format.h"
#include "core/Log.h"
#include "core/TextUtil.h"
#include "db/Group.h"
#include "db/GroupFileName.h"
#include "db/GroupTree.h"
#include "db/NewsgroupCatalog.h"
#include "db/Server.h"
#include "db/ServerTree.h"

namespace zev {

TSGLst* gServerGroups = nullptr;
TSGLst* gQueueIndex = nullptr;
std::recursive_mutex gHeaderRetrievalLock;

namespace {

// A bad name is reported once, not at every map access.
void ReportBadName(std::string_view group, const char* problem) {
  static std::mutex lock;
  static std::set<std::string> reported;
  std::lock_guard guard(lock);
  if (!reported.insert(std::string(group)).second) return;
  LogError(FormatText("The newsgroup name \"%s\" cannot be used as a file name (%s); its headers are not stored.",
                      PrintableName(group).c_str(), problem));
}

bool UsableName(const TGroup& group) {
  std::string name = group.Name();
  const char* problem = GroupFileNameProblem(name);
  if (problem) ReportBadName(name, problem);
  return !problem;
}

bool Carries(const TServer& server, const TGroup& group) {
  return gNewsgroupCatalog && gNewsgroupCatalog->ArticleCountByName(server, group.Name()) > 0;
}

std::vector<TServer*> NewsServers(const TServerTree& servers) {
  std::vector<TServer*> out;
  servers.ForEachNode([&](TServer& node) {
    if (node.IsNewsServer()) out.push_back(&node);
  });
  return out;
}

std::vector<TGroup*> Newsgroups(const TGroupTree& groups) {
  std::vector<TGroup*> out;
  groups.ForEachNode([&](TGroup& node) {
    if (node.IsNewsgroup()) out.push_back(&node);
  });
  return out;
}

// Whether a server counts as offline for the choice of another server: without parallel
// connects, it is retrying and doing nothing else; with them, it has an idle or merely
// alive slot.
bool CountsAsOffline(const TServer& server, bool parallel) {
  std::shared_lock<std::shared_mutex> tree;
  if (gServers) tree = std::shared_lock(gServers->Lock());
  bool retrying = false, busyOtherwise = false, aliveOrIdle = false;
  for (const auto& slot : server.Children()) {
    TConnState s = slot->State();
    retrying |= s == csRetrying;
    busyOtherwise |= s != csRetrying && kBusyStates.Contains(s);
    aliveOrIdle |= (s != csRetrying && kAliveIdleStates.Contains(s)) || s == csIdle;
  }
  return parallel ? aliveOrIdle : retrying && !busyOtherwise;
}

}  // namespace

std::string TSGLst::MapFileNameOf(const TServer& server, std::string_view group) {
  const TServer& news = server.NewsServer();
  if (news.Host().empty()) {
    LogError("Server.Host = \"\"!", 1, true);
    return {};
  }
  if (const char* problem = GroupFileNameProblem(group)) {
    ReportBadName(group, problem);
    return {};
  }
  std::string dir = ServerDataDir(news);
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  return dir + std::string(group) + std::string(kMapFileExtension);
}

std::string TSGLst::MapFileName(const TServer& server, const TGroup& group) {
  return MapFileNameOf(server, group.Name());
}

TSGLst::TEntry TSGLst::Find(const TServer& server, const TGroup& group) const {
  std::shared_lock lock(lock_);
  for (const TEntry& e : items_)
    if (&e->Server() == &server && &e->Group() == &group) return e;
  return nullptr;
}

TSGLst::TEntry TSGLst::Append(TServer& server, TGroup& group) {
  std::unique_lock lock(lock_);
  // Another thread may have added it between the search and this lock.
  for (const TEntry& e : items_)
    if (&e->Server() == &server && &e->Group() == &group) return e;
  items_.push_back(std::make_shared<TSrvGrp>(&server, &group));
  return items_.back();
}

void TSGLst::BuildAll(const TServerTree& servers, const TGroupTree& groups) {
  std::vector<TGroup*> newsgroups = Newsgroups(groups);
  for (TServer* server : NewsServers(servers))
    for (TGroup* group : newsgroups)
      if (Carries(*server, *group) && UsableName(*group)) Append(*server, *group);
}

void TSGLst::AddGroup(TGroup& group, const TServerTree& servers) {
  if (!UsableName(group)) return;
  for (TServer* server : NewsServers(servers))
    if (Carries(*server, group)) Append(*server, group);
}

void TSGLst::AddServer(TServer& server, const TGroupTree& groups) {
  for (TGroup* group : Newsgroups(groups))
    if (Carries(server, *group) && UsableName(*group)) Append(server, *group);
}

template <typename Pred>
void TSGLst::RemoveIf(Pred pred) {
  std::vector<TEntry> removed;  // freed after the lock is released
  std::unique_lock lock(lock_);
  auto keep = std::stable_partition(items_.begin(), items_.end(), [&](const TEntry& e) { return !pred(*e); });
  removed.assign(keep, items_.end());
  items_.erase(keep, items_.end());
}

void TSGLst::RemoveServerGroup(const TServer& server, std::string_view groupName) {
  RemoveIf([&](const TSrvGrp& e) { return &e.Server() == &server && e.Group().NameIs(groupName); });
}

void TSGLst::RemoveAllFor(const TServer& server) {
  RemoveIf([&](const TSrvGrp& e) { return &e.Server() == &server; });
}

void TSGLst::RemoveAllFor(const TGroup& group) {
  RemoveIf([&](const TSrvGrp& e) { return &e.Group() == &group; });
}

void TSGLst::RemoveGroupFromServer(TServer& server, std::string_view groupName, bool alsoFromGroupList) {
  if (alsoFromGroupList && gNewsgroupCatalog) gNewsgroupCatalog->MarkNotCarried(server, groupName);
  TEntry entry = FindByName(server, groupName, false);
  if (!entry) return;
  std::lock_guard header(gHeaderRetrievalLock);
  entry->AdjustServerFile(0, 0, false);
  entry->SetLastRefresh(0);
  std::string path = entry->MapFileName();
  RemoveIf([&](const TSrvGrp& e) { return &e == entry.get(); });
  if (!path.empty()) unlink(path.c_str());
}

TSGLst::TEntry TSGLst::FindOrCreate(TServer& server, TGroup& group, bool create) {
  TEntry e = Find(server, group);
  return e || !create ? e : Append(server, group);
}

TSGLst::TEntry TSGLst::FindByName(TServer& server, std::string_view groupName, bool create) {
  {
    std::shared_lock lock(lock_);
    for (const TEntry& e : items_)
      if (&e->Server() == &server && e->Group().NameIs(groupName)) return e;
  }
  if (!create || !gGroups) return nullptr;
  TGroup* group = gGroups->FindGroupByName(groupName);
  return group ? Append(server, *group) : nullptr;
}

TSGLst::TEntry TSGLst::Item(size_t index) const {
  std::shared_lock lock(lock_);
  return index < items_.size() ? items_[index] : nullptr;
}

size_t TSGLst::Count() const {
  std::shared_lock lock(lock_);
  return items_.size();
}

std::vector<TSGLst::TEntry> TSGLst::EntriesOf(const TGroup& group) const {
  std::shared_lock lock(lock_);
  std::vector<TEntry> out;
  for (const TEntry& e : items_)
    if (&e->Group() == &group) out.push_back(e);
  return out;
}

int TSGLst::CountForGroup(const TGroup& group, bool usableOnly) const {
  int n = 0;
  for (const TEntry& e : EntriesOf(group)) {
    uint32_t mode = e->Server().ServerMode;
    n += !usableOnly || mode == smNormal || mode == smHeaders;
  }
  return n;
}

uint32_t TSGLst::ArtNo(const TServer& server, const TGroup& group, TArticleOffset offset) const {
  TEntry e = Find(server, group);
  return e ? e->GetReverse(offset) : 0;
}

std::pair<TSGLst::TEntry, uint32_t> TSGLst::ArtNoAnyGroup(const TServer& server, TArticleOffset offset) const {
  std::shared_lock lock(lock_);
  for (const TEntry& e : items_)
    if (&e->Server() == &server)
      if (uint32_t n = e->GetReverse(offset)) return {e, n};
  return {nullptr, 0};
}

bool TSGLst::AnyHolds(TArticleOffset offset) const { return GroupOf(offset) != nullptr; }

TGroup* TSGLst::GroupOf(TArticleOffset offset) const {
  std::shared_lock lock(lock_);
  for (const TEntry& e : items_)
    if (e->HoldsArticle(offset)) return &e->Group();
  return nullptr;
}

std::string TSGLst::GroupNames(TArticleOffset offset) const {
  std::shared_lock lock(lock_);
  std::string out;
  for (const TEntry& e : items_) {
    if (!e->HoldsArticle(offset)) continue;
    if (!out.empty()) out += ", ";
    out += e->Group().Name();
  }
  return out;
}

std::string TSGLst::ArticleIds(TArticleOffset offset) const {
  std::shared_lock lock(lock_);
  std::string out;
  for (const TEntry& e : items_) {
    uint32_t n = e->GetReverse(offset);
    if (n == 0) continue;
    if (!out.empty()) out += ", ";
    out += FormatText("%s:%s:%.10u", e->Server().Name().c_str(), e->Group().Name().c_str(), n);
  }
  return out;
}

void TSGLst::SetArtNo(TServer& server, TGroup& group, uint32_t artNo, TArticleOffset offset) {
  TEntry e = Find(server, group);
  if (!e && artNo != 0) e = Append(server, group);
  if (e) e->SetReverse(offset, artNo);
}

void TSGLst::SetArtNoByName(TServer& server, std::string_view groupName, uint32_t artNo, TArticleOffset offset) {
  TEntry e = FindByName(server, groupName, artNo != 0);
  if (e) e->SetReverse(offset, artNo);
}

std::string TSGLst::XmlFragment(TArticleOffset offset) const {
  std::shared_lock lock(lock_);
  std::string out;
  for (const TEntry& e : items_) {
    uint32_t n = e->GetReverse(offset);
    if (n == 0) continue;
    const TServer& s = e->Server().NewsServer();
    std::string host = XmlEscape(s.Host()), group = XmlEscape(e->Group().Name());
    if (s.Port == 119)
      out += FormatText("<srvgrp><server><host>%s</host></server><group>%s</group><artid>%u</artid></srvgrp>",
                        host.c_str(), group.c_str(), n);
    else
      out += FormatText(
          "<srvgrp><server><host>%s</host><port>%u</port></server><group>%s</group><artid>%u</artid></srvgrp>",
          host.c_str(), static_cast<unsigned>(s.Port.load()), group.c_str(), n);
  }
  return out;
}

int TSGLst::ServerChoice(const TServer& server, const TGroup& group, TArticleOffset offset) const {
  int64_t now = TickCountMs();
  double rate = server.AverageRate(now);
  int8_t preference = server.Preference();
  bool skipOffline = gConfig && gConfig->Has(cfLowerPriorityWhenOffline);
  bool parallel = server.Has(sfParallelConnects);
  int result = 3;
  std::shared_lock lock(lock_);
  for (const TEntry& e : items_) {
    const TServer& other = e->Server();
    if (&other == &server || &e->Group() != &group) continue;
    if (skipOffline && CountsAsOffline(other, parallel)) continue;
    if (other.Preference() > preference) {
      if (e->HoldsArticle(offset)) return 0;
    } else if (other.Preference() == preference && e->HoldsArticle(offset)) {
      bool faster = other.AverageRate(now) > rate;
      if (result == 3) result = faster ? 1 : 2;
      else if (result == 2 && faster) result = 1;
    }
  }
  return result;
}

}  // namespace zev
