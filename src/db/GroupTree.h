#pragma once
// The user's subscribed newsgroups as a tree of TGroup nodes, and its stored form: the
// numbered "Group:N" sections of the settings file, every node in pre-order. The main
// window mirrors the tree into its tree control.
//
// Built and changed on the user-interface thread; other threads reach newsgroups through
// SubscribedGroups(), which has its own lock.
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/DateTime.h"
#include "db/Group.h"
#include "db/SubscribedGroups.h"

namespace zev {

class TZevIniFile;
struct FGroupSectionContext;

class TGroupTree {
 public:
  // `defaultDownloadDir` is the root's decoding directory when none is stored; empty
  // means the user's download folder.
  explicit TGroupTree(TZevIniFile& ini, std::string defaultDownloadDir = {});
  ~TGroupTree();
  TGroupTree(const TGroupTree&) = delete;
  TGroupTree& operator=(const TGroupTree&) = delete;

  // Builds the tree from the "Group:N" sections (replacing any tree in memory); a parent
  // index that does not name an earlier folder puts the node under the first root, with
  // a log entry. Then the newsgroup list is told that the subscriptions changed.
  void LoadGroups();
  // WriteGroups, then writes the settings file to disk.
  void SaveGroups();
  // Writes every node in pre-order without gaps and erases the leftover higher sections.
  void WriteGroups();

  // Creates and attaches a node: a folder goes among its parent's leading folders in name
  // order, everything else is appended. A node below a parent copies its settings and
  // inherits; a root gets the default download directory and its own sort order.
  TGroup* CreateGroupNode(TGroupNodeType type, std::string name, TGroup* parent);
  // The same node, not attached yet (imports attach it themselves with AttachGroup). A
  // newsgroup is in SubscribedGroups from now on.
  std::unique_ptr<TGroup> CreateDetachedGroup(TGroupNodeType type, std::string name, TGroup* parent);
  TGroup* AttachGroup(std::unique_ptr<TGroup> node, TGroup* parent);
  // Frees the node and everything below it; its newsgroups leave SubscribedGroups.
  void FreeGroupNodes(TGroup* node);
  // Moves the node, with everything below it, under the root or folder `parent`, before
  // its child `before` (nullptr: as the last child). A node that inherits takes over the
  // settings of its new parent. False (and nothing moved) when `parent` is a newsgroup or
  // lies below the node itself.
  bool MoveNode(TGroup* node, TGroup* parent, TGroup* before);

  const std::vector<std::unique_ptr<TGroup>>& Roots() const { return roots_; }
  void ForEachNode(const std::function<void(TGroup&)>& visit) const;
  TSubscribedGroups& SubscribedGroups() { return subscribed_; }
  TGroup* FindGroupByName(std::string_view name) const { return subscribed_.FindGroupByName(name); }

  // Stores when the group's article list was opened, and saves the tree.
  void SetLastOpen(TGroup& group, TDateTime when);

  const std::string& DefaultDownloadDir() const { return defaultDownloadDir_; }
  // The "test1" switch: sort columns 8..12 are accepted when reading.
  bool ExtraSortColumns = false;

 private:
  TGroup* ResolveParent(const std::vector<TGroup*>& loaded, int64_t p, int section) const;
  TGroup* InsertNode(std::unique_ptr<TGroup> node, TGroup* parent);
  void Flush();
  FGroupSectionContext Context() const;

  TZevIniFile& ini_;
  std::string defaultDownloadDir_;
  TSubscribedGroups subscribed_;
  std::vector<std::unique_ptr<TGroup>> roots_;
};

extern TGroupTree* gGroups;

}  // namespace zev
