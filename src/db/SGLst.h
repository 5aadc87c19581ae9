#pragma once
// A list of server-groups. Two exist for the whole program: the server-group list
// (gServerGroups), one entry per news server and subscribed newsgroup that the server
// carries, which owns the offset maps; and the queue index (gQueueIndex), whose entries
// are made on demand for queued articles and of which only the reverse maps are used.
//
// Connection threads search the lists while the user-interface thread adds and removes
// entries: searches take the list's read lock, changes its write lock. Entries are shared
// pointers, so one that is removed stays valid for whoever still holds it.
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/MsgData.h"
#include "db/SrvGrp.h"

namespace zev {

class TServer;
class TGroup;
class TServerTree;
class TGroupTree;

// The header retrieval's lock ("HeaderLock"): it serialises the work on server-group state
// across connections, and removing a server-group waits for it.
extern std::recursive_mutex gHeaderRetrievalLock;

class TSGLst {
 public:
  using TEntry = std::shared_ptr<TSrvGrp>;

  // The map file of a pair: ServerDataDir + group name + ".zev". Creates the server's
  // directory when missing. "" (and a log entry) when the group's name cannot be a file
  // name or the server has no host.
  static std::string MapFileName(const TServer& server, const TGroup& group);
  static std::string MapFileNameOf(const TServer& server, std::string_view group);

  // Appends an entry for every news server and subscribed newsgroup (both in tree order)
  // that the server carries according to the newsgroup list.
  void BuildAll(const TServerTree& servers, const TGroupTree& groups);
  // Entries for every news server that carries the newly subscribed group.
  void AddGroup(TGroup& group, const TServerTree& servers);
  // Entries for every subscribed group the server carries and has none yet.
  void AddServer(TServer& server, const TGroupTree& groups);
  void RemoveServerGroup(const TServer& server, std::string_view groupName);
  void RemoveAllFor(const TServer& server);
  void RemoveAllFor(const TGroup& group);
  // The server no longer carries the group: drops its references and map file.
  void RemoveGroupFromServer(TServer& server, std::string_view groupName, bool alsoFromGroupList);

  TEntry FindOrCreate(TServer& server, TGroup& group, bool create);
  // With `create`, the group is looked up among the subscribed newsgroups by name.
  TEntry FindByName(TServer& server, std::string_view groupName, bool create);
  TEntry Item(size_t index) const;
  size_t Count() const;
  std::vector<TEntry> EntriesOf(const TGroup& group) const;
  // Entries of the group; with `usableOnly` only those whose server is in mode Normal or
  // Headers.
  int CountForGroup(const TGroup& group, bool usableOnly) const;

  // --- Reverse-map queries over all entries ---
  uint32_t ArtNo(const TServer& server, const TGroup& group, TArticleOffset offset) const;
  // The first entry of the server that holds the article, with its number.
  std::pair<TEntry, uint32_t> ArtNoAnyGroup(const TServer& server, TArticleOffset offset) const;
  bool AnyHolds(TArticleOffset offset) const;
  TGroup* GroupOf(TArticleOffset offset) const;
  std::string GroupNames(TArticleOffset offset) const;
  std::string ArticleIds(TArticleOffset offset) const;
  // Notes the article number; an entry is made first when needed (and the number is not 0).
  void SetArtNo(TServer& server, TGroup& group, uint32_t artNo, TArticleOffset offset);
  void SetArtNoByName(TServer& server, std::string_view groupName, uint32_t artNo, TArticleOffset offset);
  // The queue file's description of where the article can be fetched.
  std::string XmlFragment(TArticleOffset offset) const;
  // Whether another server should fetch the article instead: 0 a more preferred server
  // has it, 1 an equally preferred and faster one, 2 only equally preferred and not
  // faster ones, 3 no other server.
  int ServerChoice(const TServer& server, const TGroup& group, TArticleOffset offset) const;

 private:
  TEntry Find(const TServer& server, const TGroup& group) const;
  TEntry Append(TServer& server, TGroup& group);
  template <typename Pred>
  void RemoveIf(Pred pred);

  mutable std::shared_mutex lock_;
  std::vector<TEntry> items_;
};

extern TSGLst* gServerGroups;
extern TSGLst* gQueueIndex;

}  // namespace zev
