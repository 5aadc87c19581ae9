#pragma once
// Where a node dragged within the server tree or the group tree lands. The rules keep the
// trees' order: folders stay sorted at the top of their parent, servers and newsgroups
// follow in the order the user gives them.
//   - a folder dropped onto a leaf means onto the leaf's parent;
//   - anything else dropped onto a leaf goes just before that leaf;
//   - a leaf dropped onto a folder becomes its last child;
//   - a folder dropped onto a folder goes among that folder's folders in name order.
// The root cannot be dragged, and no node can be dropped onto itself or below itself.
#include <string>
#include <vector>

namespace zev::ui {

// The tree as the rules see it.
class TPlacementTree {
 public:
  virtual ~TPlacementTree() = default;
  virtual const void* Parent(const void* node) const = 0;
  virtual std::vector<const void*> Children(const void* node) const = 0;
  // Roots and folders.
  virtual bool IsFolder(const void* node) const = 0;
  virtual std::string Text(const void* node) const = 0;
};

struct FPlacement {
  bool accepted = false;
  const void* parent = nullptr;
  const void* before = nullptr;  // the child to insert before; nullptr: at the end
};

FPlacement PlaceDrop(const TPlacementTree& tree, const void* dragged, const void* target);

// The two trees of the program as the rules see them (nodes are TServer or TGroup).
class TServerPlacement : public TPlacementTree {
 public:
  const void* Parent(const void* node) const override;
  std::vector<const void*> Children(const void* node) const override;
  bool IsFolder(const void* node) const override;
  std::string Text(const void* node) const override;
};

class TGroupPlacement : public TPlacementTree {
 public:
  const void* Parent(const void* node) const override;
  std::vector<const void*> Children(const void* node) const override;
  bool IsFolder(const void* node) const override;
  std::string Text(const void* node) const override;
};

}  // namespace zev::ui
