#include "db/GroupTree.h"

#include <algorithm>

#include "core/Config.h"
#include "core/Log.h"
#include "core/ZevIniFile.h"
#include "db/GroupSection.h"
#include "db/NewsgroupCatalog.h"
#include "db/SGLst.h"
#include "platform/Paths.h"

namespace zev {

TGroupTree* gGroups = nullptr;

namespace {

void VisitPreOrder(TGroup& node, const std::function<void(TGroup&)>& visit) {
  visit(node);
  for (auto& child : node.Children()) VisitPreOrder(*child, visit);
}

}  // namespace

TGroupTree::TGroupTree(TZevIniFile& ini, std::string defaultDownloadDir)
    : ini_(ini),
      defaultDownloadDir_(defaultDownloadDir.empty() ? platform::DownloadDir()
                                                     : platform::WithSlash(std::move(defaultDownloadDir))) {}

TGroupTree::~TGroupTree() = default;

FGroupSectionContext TGroupTree::Context() const {
  FGroupSectionContext c;
  c.defaultDownloadDir = defaultDownloadDir_;
  c.maxHistory = gConfig ? gConfig->MaxHistory : 10;
  c.extraSortColumns = ExtraSortColumns;
  return c;
}

TGroup* TGroupTree::ResolveParent(const std::vector<TGroup*>& loaded, int64_t p, int section) const {
  if (p < 0) return nullptr;
  if (static_cast<uint64_t>(p) < loaded.size() && !loaded[p]->IsNewsgroup()) return loaded[p];
  LogError("Group out of order, appending to root");
  if (section == 0) return nullptr;
  // A first section that is a newsgroup cannot take children: the node becomes a root.
  return loaded[0]->IsNewsgroup() ? nullptr : loaded[0];
}

void TGroupTree::LoadGroups() {
  roots_.clear();
  FGroupSectionContext context = Context();
  std::vector<TGroup*> loaded;
  for (int n = 0;; ++n) {
    std::string section = GroupSectionName(n);
    if (!ini_.SectionExists(section)) break;
    FGroupSectionHead head = ReadGroupHead(ini_, section);
    TGroup* parent = ResolveParent(loaded, head.parent, n);
    TGroupNodeType type = head.type == gnRoot && parent ? gnFolder : head.type;
    TGroup* node = CreateGroupNode(type, head.name, parent);
    ReadGroupSettings(ini_, section, *node, context);
    loaded.push_back(node);
  }
  if (loaded.empty()) CreateGroupNode(gnRoot, "Newsgroups", nullptr);
  if (gNewsgroupCatalog) gNewsgroupCatalog->SubscriptionsChanged();
}

void TGroupTree::WriteGroups() {
  FGroupSectionContext context = Context();
  int count = 0;
  std::function<void(const TGroup&, int)> write = [&](const TGroup& node, int parentIndex) {
    int index = count++;
    WriteGroupSection(ini_, GroupSectionName(index), node, parentIndex, context);
    for (auto& child : node.Children()) write(*child, index);
  };
  for (auto& root : roots_) write(*root, -1);
  for (int n = count; ini_.SectionExists(GroupSectionName(n)); ++n) ini_.EraseSection(GroupSectionName(n));
}

void TGroupTree::SaveGroups() {
  WriteGroups();
  Flush();
}

void TGroupTree::Flush() {
  if (gConfig && &gConfig->Ini() == &ini_) {
    gConfig->UpdateFileWithRetry();
    return;
  }
  try {
    ini_.UpdateFile();
  } catch (const std::exception& e) {
    LogException(e, "TGroupTree.SaveGroups");
  }
}

std::unique_ptr<TGroup> TGroupTree::CreateDetachedGroup(TGroupNodeType type, std::string name, TGroup* parent) {
  auto node = std::make_unique<TGroup>(type, std::move(name), parent, &subscribed_);
  if (parent) {
    node->InheritFromParent();
    node->Include(gfInherit);
  } else {
    node->SetDecodeDir(defaultDownloadDir_);
    node->Include(gfCustomSort);
  }
  return node;
}

TGroup* TGroupTree::CreateGroupNode(TGroupNodeType type, std::string name, TGroup* parent) {
  return InsertNode(CreateDetachedGroup(type, std::move(name), parent), parent);
}

TGroup* TGroupTree::AttachGroup(std::unique_ptr<TGroup> node, TGroup* parent) {
  node->parent_ = parent;
  return InsertNode(std::move(node), parent);
}

TGroup* TGroupTree::InsertNode(std::unique_ptr<TGroup> node, TGroup* parent) {
  TGroup* raw = node.get();
  auto& siblings = parent ? parent->children_ : roots_;
  auto at = siblings.end();
  if (node->Type() == gnFolder) {
    std::string name = node->Name();
    at = std::find_if(siblings.begin(), siblings.end(), [&](const std::unique_ptr<TGroup>& s) {
      return s->Type() != gnFolder || s->Name() > name;
    });
  }
  siblings.insert(at, std::move(node));
  return raw;
}

bool TGroupTree::MoveNode(TGroup* node, TGroup* parent, TGroup* before) {
  if (!node || (parent && parent->IsNewsgroup())) return false;
  for (const TGroup* p = parent; p; p = p->Parent())
    if (p == node) return false;
  if (before == node) return true;
  auto& from = node->parent_ ? node->parent_->children_ : roots_;
  auto it = std::find_if(from.begin(), from.end(), [&](auto& s) { return s.get() == node; });
  if (it == from.end()) return false;
  std::unique_ptr<TGroup> owned = std::move(*it);
  from.erase(it);
  auto& to = parent ? parent->children_ : roots_;
  auto at = std::find_if(to.begin(), to.end(), [&](auto& s) { return s.get() == before; });
  node->parent_ = parent;
  to.insert(at, std::move(owned));
  if (parent && node->Has(gfInherit)) node->InheritFromParent();
  return true;
}

void TGroupTree::FreeGroupNodes(TGroup* node) {
  if (!node) return;
  auto& siblings = node->Parent() ? node->Parent()->children_ : roots_;
  auto it = std::find_if(siblings.begin(), siblings.end(), [&](auto& s) { return s.get() == node; });
  if (it == siblings.end()) return;
  std::unique_ptr<TGroup> owned = std::move(*it);
  siblings.erase(it);
  VisitPreOrder(*owned, [](TGroup& n) {
    if (!n.IsNewsgroup()) return;
    for (TSGLst* list : {gServerGroups, gQueueIndex})
      if (list) list->RemoveAllFor(n);
  });
  owned.reset();
}

void TGroupTree::ForEachNode(const std::function<void(TGroup&)>& visit) const {
  for (auto& root : roots_) VisitPreOrder(*root, visit);
}

void TGroupTree::SetLastOpen(TGroup& group, TDateTime when) {
  group.LastOpen = PackFileDate(when);
  SaveGroups();
}

}  // namespace zev
