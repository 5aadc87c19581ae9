#include "ui/TreePlacement.h"

#include "db/Group.h"
#include "db/Server.h"

namespace zev::ui {
namespace {

bool IsBelow(const TPlacementTree& tree, const void* node, const void* ancestor) {
  for (const void* p = node; p; p = tree.Parent(p))
    if (p == ancestor) return true;
  return false;
}

// Among the leading folder children of `parent`, before the first whose name sorts after
// the dragged folder's; after the last folder when none does.
const void* FolderPosition(const TPlacementTree& tree, const void* parent, const void* dragged) {
  const std::string name = tree.Text(dragged);
  for (const void* child : tree.Children(parent)) {
    if (child == dragged) continue;
    if (!tree.IsFolder(child) || tree.Text(child) > name) return child;
  }
  return nullptr;
}

}  // namespace

FPlacement PlaceDrop(const TPlacementTree& tree, const void* dragged, const void* target) {
  FPlacement p;
  if (!dragged || !target || !tree.Parent(dragged)) return p;
  const bool draggedFolder = tree.IsFolder(dragged);
  if (!tree.IsFolder(target)) {
    if (!draggedFolder) {
      p.parent = tree.Parent(target);
      p.before = target;
    } else {
      target = tree.Parent(target);
    }
  }
  if (tree.IsFolder(target)) {
    p.parent = target;
    p.before = draggedFolder ? FolderPosition(tree, target, dragged) : nullptr;
  }
  if (!p.parent || IsBelow(tree, p.parent, dragged)) return FPlacement{};
  p.accepted = true;
  return p;
}

namespace {
const TServer* S(const void* n) { return static_cast<const TServer*>(n); }
const TGroup* G(const void* n) { return static_cast<const TGroup*>(n); }
}  // namespace

const void* TServerPlacement::Parent(const void* n) const { return S(n)->Parent(); }
std::vector<const void*> TServerPlacement::Children(const void* n) const {
  std::vector<const void*> out;
  for (const auto& c : S(n)->Children()) out.push_back(c.get());
  return out;
}
bool TServerPlacement::IsFolder(const void* n) const { return S(n)->IsFolderLike(); }
std::string TServerPlacement::Text(const void* n) const { return S(n)->Name(); }

const void* TGroupPlacement::Parent(const void* n) const { return G(n)->Parent(); }
std::vector<const void*> TGroupPlacement::Children(const void* n) const {
  std::vector<const void*> out;
  for (const auto& c : G(n)->Children()) out.push_back(c.get());
  return out;
}
bool TGroupPlacement::IsFolder(const void* n) const { return !G(n)->IsNewsgroup(); }
std::string TGroupPlacement::Text(const void* n) const { return G(n)->Name(); }

}  // namespace zev::ui
