// TBTree: structure changes. A node whose new content does not fit, or that has become
// too empty, is gathered with its neighbours (up to three children of one parent) and the
// entries are spread again over as many nodes as they need; the parent's separators are
// rewritten and the parent settled in turn. The root splits into child pages when it
// overflows and takes its children back when they would fit into it.
//
// Invariants kept (and verified by TBTreeCheck): keys ascend within a node and along the
// leaf chain; every key below a separator lies to its left and every key of the subtree to
// its right is not below it; all leaves lie at one depth; a node other than the root holds
// at least one entry; the leaves are chained in key order.
#include <algorithm>
#include <cmath>

#include "core/Error.h"
#include "core/TextUtil.h"
#include "db/BTreeInternal.h"

namespace zev {

using namespace fmt;

namespace {

constexpr double kSplitFill = 0.8;      // fill of the children of a split root
constexpr double kOverflowFill = 0.9;   // most a node may hold after spreading an overflow
constexpr double kUnderflowFill = 0.75; // fill aimed at when spreading too empty nodes
constexpr double kCollapseFill = 0.75;  // the root takes its children back below this

struct TSpread {
  std::vector<TNodeContent> nodes;
  std::vector<TNodeEntry> separators;  // separator j goes before node j + 1
};

uint32_t ItemsBytes(const std::vector<TNodeEntry>& items, size_t from, size_t to, bool keyed) {
  uint32_t bytes = 0;
  for (size_t i = from; i < to; ++i) bytes += TNode::EntryBytes(keyed, items[i].key.size());
  return bytes;
}

// Divides `items` over k nodes of at most `capacity` bytes, each about equally full. In
// internal nodes the first item of every node after the first moves up into the parent
// and its child becomes that node's LT child; there every node keeps at least one entry.
bool Spread(bool dir, bool keyed, uint32_t lt0, const std::vector<TNodeEntry>& items, size_t k, uint32_t capacity,
            TSpread& out) {
  size_t n = items.size();
  size_t perNode = dir ? 2 : 1;
  if (k == 0 || (k > 1 && n + (dir ? 1 : 0) < k * perNode)) return false;
  std::vector<uint64_t> prefix(n + 1, 0);
  for (size_t i = 0; i < n; ++i) prefix[i + 1] = prefix[i] + TNode::EntryBytes(keyed, items[i].key.size());
  std::vector<size_t> cuts;
  size_t prev = 0;
  for (size_t j = 0; j + 1 < k; ++j) {
    size_t minCut = prev + (j == 0 && dir ? 1 : perNode);
    size_t maxCut = n - (k - 1 - j) * perNode;
    uint64_t target = prefix[n] * (j + 1) / k;
    size_t cut = minCut;
    while (cut < maxCut && prefix[cut + 1] <= target) ++cut;
    cuts.push_back(cut);
    prev = cut;
  }
  cuts.push_back(n);
  out.nodes.clear();
  out.nodes.resize(k);
  out.separators.clear();
  size_t begin = 0;
  for (size_t j = 0; j < k; ++j) {
    TNodeContent& node = out.nodes[j];
    size_t from = begin;
    if (j == 0) {
      node.lt = lt0;
    } else if (dir) {
      node.lt = items[from].child;
      out.separators.push_back(items[from]);
      ++from;
    }
    if (ItemsBytes(items, from, cuts[j], keyed) > capacity) return false;
    node.entries.assign(items.begin() + from, items.begin() + cuts[j]);
    if (!dir && j > 0) out.separators.push_back(TNodeEntry{node.entries[0].dp, 0, node.entries[0].key});
    begin = cuts[j];
  }
  return true;
}

// Tries k, then a few more nodes, for the rare spread that a very long key spoils.
bool SpreadInto(bool dir, bool keyed, uint32_t lt0, const std::vector<TNodeEntry>& items, size_t k,
                uint32_t capacity, TSpread& out) {
  size_t most = dir ? (items.size() + 1) / 2 : items.size();
  k = std::clamp<size_t>(k, 1, std::max<size_t>(most, 1));
  for (size_t tries = 0; tries < 4 && k <= std::max<size_t>(most, 1); ++tries, ++k)
    if (Spread(dir, keyed, lt0, items, k, capacity, out)) return true;
  return false;
}

size_t NodesFor(uint64_t bytes, double fill, uint32_t capacity) {
  return static_cast<size_t>(std::ceil(static_cast<double>(bytes) / (fill * capacity)));
}

}  // namespace

uint8_t TBTree::NodeKind(bool dir, bool root) const {
  return (dir ? ntDir : 0) | (root ? nt3x : 0) | (KeysInNodes() ? ntType2 : 0);
}

bool TBTree::UnderfullBytes(uint32_t bytes) { return bytes < (kPageSize - kHeaderSize) / 3; }

bool TBTree::Underfull(const TNodeContent& content) const {
  return content.entries.empty() || UnderfullBytes(TNode::ContentBytes(content, KeysInNodes()));
}

bool TBTree::Settle(TPath& path, size_t level, TNodeContent content) {
  TStep& step = path.steps[level];
  TNode node(step.page.Data(), step.page.Size());
  uint32_t bytes = TNode::ContentBytes(content, KeysInNodes());
  bool fits = bytes <= node.Capacity();
  if (level == 0 && !fits) return SplitRoot(path, std::move(content));
  if (level == 0 || (fits && !Underfull(content))) {
    node.Assign(content);
    step.page.MarkDirty();
    return true;
  }
  return Rebalance(path, level, std::move(content));
}

bool TBTree::Rebalance(TPath& path, size_t level, TNodeContent content) {
  bool keyed = KeysInNodes();
  const uint32_t capacity = kPageSize - kHeaderSize;
  TStep& parentStep = path.steps[level - 1];
  TNodeContent pc = TNode(parentStep.page.Data(), parentStep.page.Size()).Content();
  const uint32_t pos = path.steps[level].slot;
  const bool dir = TNode(path.steps[level].page.Data(), kPageSize).IsDir();
  auto childAt = [&](uint32_t c) { return c == 0 ? pc.lt : pc.entries[c - 1].child; };

  // The node and its neighbours under the same parent; a damaged neighbour is left out.
  uint32_t first = pos, last = pos;
  TPageRef left, right;
  if (pos > 0 && (left = IndexPage(childAt(pos - 1))) && TNode(left.Data(), kPageSize).IsDir() == dir) first = pos - 1;
  if (pos < pc.entries.size() && (right = IndexPage(childAt(pos + 1))) && TNode(right.Data(), kPageSize).IsDir() == dir)
    last = pos + 1;
  std::vector<TPageRef> pages;
  std::vector<TNodeContent> contents;
  if (first < pos) {
    contents.push_back(TNode(left.Data(), kPageSize).Content());
    pages.push_back(std::move(left));
  }
  contents.push_back(std::move(content));
  pages.push_back(std::move(path.steps[level].page));
  if (last > pos) {
    contents.push_back(TNode(right.Data(), kPageSize).Content());
    pages.push_back(std::move(right));
  }
  const size_t g = pages.size();

  std::vector<TNodeEntry> items;
  bool overflow = false;
  for (size_t j = 0; j < g; ++j) {
    overflow |= TNode::ContentBytes(contents[j], keyed) > capacity;
    if (j > 0 && dir) {
      TNodeEntry& sep = pc.entries[first + j - 1];
      items.push_back(TNodeEntry{sep.dp, contents[j].lt, sep.key});
    }
    items.insert(items.end(), contents[j].entries.begin(), contents[j].entries.end());
  }
  uint64_t total = ItemsBytes(items, 0, items.size(), keyed);
  size_t k = overflow ? std::max(g, NodesFor(total, kOverflowFill, capacity))
                      : std::clamp<size_t>(NodesFor(total, kUnderflowFill, capacity), 1, g);
  TSpread spread;
  if (!SpreadInto(dir, keyed, contents[0].lt, items, k, capacity, spread)) return false;
  k = spread.nodes.size();

  std::vector<TPageRef> targets;
  for (size_t j = 0; j < k; ++j) {
    if (j < g) {
      targets.push_back(std::move(pages[j]));
    } else {
      targets.push_back(AllocPage());
      if (!targets.back()) return false;
    }
  }
  uint32_t leftLink = TNode(targets[0].Data(), kPageSize).Prev();
  uint32_t rightLink = TNode((g <= k ? targets[g - 1] : pages[g - 1]).Data(), kPageSize).Next();
  for (size_t j = 0; j < k; ++j) {
    TNode node(targets[j].Data(), kPageSize);
    node.SetKind(NodeKind(dir, false));
    node.Assign(spread.nodes[j]);
    node.SetPrev(dir ? 0 : j == 0 ? leftLink : targets[j - 1].Position());
    node.SetNext(dir ? 0 : j + 1 == k ? rightLink : targets[j + 1].Position());
    targets[j].MarkDirty();
  }
  if (!dir && rightLink != 0 && (k != g)) {
    if (TPageRef next = IndexPage(rightLink)) {
      TNode(next.Data(), kPageSize).SetPrev(targets[k - 1].Position());
      next.MarkDirty();
    }
  }
  for (size_t j = k; j < g; ++j) FreePage(pages[j]);

  if (first == 0) pc.lt = targets[0].Position();
  else pc.entries[first - 1].child = targets[0].Position();
  pc.entries.erase(pc.entries.begin() + first, pc.entries.begin() + first + (g - 1));
  for (size_t j = 1; j < k; ++j) spread.separators[j - 1].child = targets[j].Position();
  pc.entries.insert(pc.entries.begin() + first, std::make_move_iterator(spread.separators.begin()),
                    std::make_move_iterator(spread.separators.end()));
  targets.clear();
  return Settle(path, level - 1, std::move(pc));
}

bool TBTree::SplitRoot(TPath& path, TNodeContent content) {
  bool keyed = KeysInNodes();
  const uint32_t capacity = kPageSize - kHeaderSize;
  TStep& rootStep = path.steps[0];
  TNode root(rootStep.page.Data(), kRootSize);
  bool dir = root.IsDir();
  uint64_t total = TNode::ContentBytes(content, keyed);
  size_t k = std::max<size_t>(2, NodesFor(total, kSplitFill, capacity));
  TSpread spread;
  if (!SpreadInto(dir, keyed, content.lt, content.entries, k, capacity, spread) || spread.nodes.size() < 2)
    return false;
  k = spread.nodes.size();
  std::vector<TPageRef> children;
  for (size_t j = 0; j < k; ++j) {
    children.push_back(AllocPage());
    if (!children.back()) return false;
  }
  for (size_t j = 0; j < k; ++j) {
    TNode node(children[j].Data(), kPageSize);
    node.SetKind(NodeKind(dir, false));
    node.Assign(spread.nodes[j]);
    node.SetPrev(dir || j == 0 ? 0 : children[j - 1].Position());
    node.SetNext(dir || j + 1 == k ? 0 : children[j + 1].Position());
    children[j].MarkDirty();
  }
  TNodeContent top;
  top.lt = children[0].Position();
  for (size_t j = 1; j < k; ++j) {
    spread.separators[j - 1].child = children[j].Position();
    top.entries.push_back(std::move(spread.separators[j - 1]));
  }
  root.SetKind(NodeKind(true, true));
  root.Assign(top);
  rootStep.page.MarkDirty();
  return true;
}

// The tree loses a level when the root's children fit into the root comfortably.
void TBTree::CollapseRoot() {
  bool keyed = KeysInNodes();
  for (size_t round = 0; round < kMaxDepth; ++round) {
    TPageRef rootRef = cache_->Get(0);
    TNode root(rootRef.Data(), kRootSize);
    if (!root.IsDir() || root.Count() > 2) return;
    TNodeContent rc = root.Content();
    std::vector<TPageRef> kids;
    for (uint32_t c = 0; c <= rc.entries.size(); ++c) {
      kids.push_back(IndexPage(c == 0 ? rc.lt : rc.entries[c - 1].child));
      if (!kids.back()) return;
    }
    bool childDir = TNode(kids[0].Data(), kPageSize).IsDir();
    std::vector<TNodeContent> parts;
    TNodeContent merged;
    for (size_t j = 0; j < kids.size(); ++j) {
      if (TNode(kids[j].Data(), kPageSize).IsDir() != childDir) return;
      parts.push_back(TNode(kids[j].Data(), kPageSize).Content());
      TNodeContent& c = parts.back();
      if (j == 0) merged.lt = c.lt;
      else if (childDir) merged.entries.push_back(TNodeEntry{rc.entries[j - 1].dp, c.lt, rc.entries[j - 1].key});
      merged.entries.insert(merged.entries.end(), c.entries.begin(), c.entries.end());
    }
    uint32_t bytes = TNode::ContentBytes(merged, keyed);
    if (bytes > root.Capacity() || (root.Count() > 0 && bytes > kCollapseFill * root.Capacity())) return;
    root.SetKind(NodeKind(childDir, true));
    root.Assign(merged);
    rootRef.MarkDirty();
    for (auto& kid : kids) FreePage(kid);
  }
}

bool TBTree::LeafFirstKey(uint32_t position, TDataPointer& dp, std::string& key) {
  TPageRef ref = IndexPage(position);
  for (size_t depth = 0; ref && depth < kMaxDepth; ++depth) {
    TNode node(ref.Data(), kPageSize);
    if (!node.IsDir()) {
      if (node.Count() == 0) return false;
      dp = node.Dp(0);
      if (node.KeysInNode()) key = node.Key(0);
      return true;
    }
    ref = IndexPage(node.Lt());
  }
  return false;
}

// A removed key may still be the separator above its old leaf. Key-in-record separators
// point to the key's record, which may be about to be freed, so they move on to the next
// key; ntType2 separators take the next key when its text fits and otherwise stay as a
// bound (every key to their right is still above them).
void TBTree::FixSeparator(std::string_view removedKey, TDataPointer /*removedDp*/) {
  TPageRef ref = cache_->Get(0);
  TKeyReader keys(*this, true);
  for (size_t depth = 0; ref && depth < kMaxDepth; ++depth) {
    TNode node(ref.Data(), ref.Size());
    if (!node.IsDir()) return;
    bool equal = false;
    uint32_t i = LowerBound(node, removedKey, equal, keys);
    if (equal) {
      TDataPointer nextDp = 0;
      std::string nextKey;
      if (!LeafFirstKey(node.Child(i), nextDp, nextKey)) return;
      if (KeysInNodes() ? node.ReplaceKey(i, nextKey) : (node.SetDp(i, nextDp), true)) ref.MarkDirty();
      return;
    }
    ref = IndexPage(node.SlotChild(i));
  }
}

}  // namespace zev
