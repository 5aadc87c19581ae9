#include "db/ServerTree.h"

#include <algorithm>

#include "core/Config.h"
#include "core/Log.h"
#include "core/ZevIniFile.h"
#include "db/SGLst.h"
#include "db/ServerSection.h"
#include "db/SlotConnection.h"

namespace zev {

TServerTree* gServers = nullptr;

namespace {

std::string SlotName(size_t k) { return "#" + std::to_string(k); }

void VisitPreOrder(TServer& node, const std::function<void(TServer&)>& visit) {
  visit(node);
  for (auto& child : node.Children()) VisitPreOrder(*child, visit);
}

// The section number an older version meant: it counted each news server's connection
// slots as tree items. 0 when no item of the current tree stands at that position.
size_t ConvertSlotCountingIndex(const std::vector<TServer*>& loaded, int64_t p) {
  int64_t c = 0;
  size_t j = 0;
  for (; j < loaded.size() && c < p; ++j) c += 1 + (loaded[j]->IsNewsServer() ? loaded[j]->MaxConn.load() : 0);
  return c == p ? j : 0;
}

}  // namespace

TServerTree::TServerTree(TZevIniFile& ini) : ini_(ini) {}

TServerTree::~TServerTree() = default;

TServer* TServerTree::ResolveParent(const std::vector<TServer*>& loaded, int64_t p, int section) const {
  if (p < 0) return nullptr;
  if (static_cast<uint64_t>(p) < loaded.size() && loaded[p]->IsFolderLike()) return loaded[p];
  size_t j = ConvertSlotCountingIndex(loaded, p);
  if (j != 0 && j < loaded.size() && loaded[j]->IsFolderLike()) return loaded[j];
  if (section == 0) {
    LogError("First server entry must be root");
    return nullptr;
  }
  LogError("Invalid parent index, appending to root");
  // A first section that is a news server cannot take children: the node becomes a root.
  return loaded[0]->IsFolderLike() ? loaded[0] : nullptr;
}

void TServerTree::LoadServers(TDateTime now) {
  std::unique_lock lock(lock_);
  roots_.clear();
  std::vector<TServer*> loaded;
  for (int n = 0;; ++n) {
    std::string section = ServerSectionName(n);
    if (!ini_.SectionExists(section)) break;
    FServerSectionHead head = ReadServerHead(ini_, section);
    TServer* parent = ResolveParent(loaded, head.parent, n);
    TServerNodeType type = head.type == snRoot && parent ? snFolder : head.type;
    auto node = std::make_unique<TServer>(type, head.name, parent);
    TServer* added = InsertNode(std::move(node), parent);
    ReadServerSettings(ini_, section, *added, now);
    if (added->IsNewsServer()) CreateSlots(*added);
    loaded.push_back(added);
  }
  if (loaded.empty()) {
    lock.unlock();
    CreateServerNode("Servers", snRoot, nullptr, now);
  }
}

void TServerTree::WriteServers() {
  std::shared_lock lock(lock_);
  int count = 0;
  std::function<void(const TServer&, int)> write = [&](const TServer& node, int parentIndex) {
    int index = count++;
    WriteServerSection(ini_, ServerSectionName(index), node, parentIndex);
    if (!node.IsFolderLike()) return;
    for (auto& child : node.Children())
      if (!child->IsSlot()) write(*child, index);
  };
  for (auto& root : roots_) write(*root, -1);
  for (int n = count; ini_.SectionExists(ServerSectionName(n)); ++n) ini_.EraseSection(ServerSectionName(n));
}

void TServerTree::SaveServers() {
  WriteServers();
  Flush();
}

void TServerTree::Flush() {
  if (gConfig && &gConfig->Ini() == &ini_) {
    gConfig->UpdateFileWithRetry();
    return;
  }
  try {
    ini_.UpdateFile();
  } catch (const std::exception& e) {
    LogException(e, "TServerTree.SaveServers");
  }
}

TServer* TServerTree::InsertNode(std::unique_ptr<TServer> node, TServer* parent) {
  TServer* raw = node.get();
  auto& siblings = parent ? parent->children_ : roots_;
  auto at = siblings.end();
  if (node->Type() == snFolder) {
    std::string name = node->Name();
    at = std::find_if(siblings.begin(), siblings.end(), [&](const std::unique_ptr<TServer>& s) {
      return s->Type() != snFolder || s->Name() > name;
    });
  }
  siblings.insert(at, std::move(node));
  return raw;
}

TServer* TServerTree::CreateServerNode(std::string name, TServerNodeType type, TServer* parent, TDateTime now) {
  auto node = std::make_unique<TServer>(type, std::move(name), parent);
  for (TPeriodTotals* p : {&node->Daily, &node->Monthly}) {
    p->LastReset = now;
    p->ComputeNextReset();
  }
  if (parent) {
    node->InheritFromParent();
    node->Include(sfInherit);
  } else {
    node->Include(sfConnectOnDemand);
    node->Include(sfARTICLE);
    node->Include(sfRetryAnyError);
  }
  std::unique_lock lock(lock_);
  return InsertNode(std::move(node), parent);
}

void TServerTree::CreateSlots(TServer& server) {
  for (uint32_t k = 1; k <= server.MaxConn; ++k) {
    auto slot = std::make_unique<TServer>(snSlot, SlotName(k), &server);
    slot->InheritFromParent();
    slot->Include(sfInherit);
    server.children_.push_back(std::move(slot));
  }
}

void TServerTree::FreeServerNodes(TServer* node) {
  if (!node) return;
  std::unique_lock lock(lock_);
  auto& siblings = node->Parent() ? node->Parent()->children_ : roots_;
  auto it = std::find_if(siblings.begin(), siblings.end(), [&](auto& s) { return s.get() == node; });
  if (it == siblings.end()) return;
  std::unique_ptr<TServer> owned = std::move(*it);
  siblings.erase(it);
  lock.unlock();
  // The server-groups of the freed servers go first: they point at them.
  VisitPreOrder(*owned, [](TServer& n) {
    if (!n.IsNewsServer()) return;
    for (TSGLst* list : {gServerGroups, gQueueIndex})
      if (list) list->RemoveAllFor(n);
  });
  owned.reset();
}

bool TServerTree::MoveNode(TServer* node, TServer* parent, TServer* before) {
  if (!node || node->IsSlot() || (parent && !parent->IsFolderLike())) return false;
  for (const TServer* p = parent; p; p = p->Parent())
    if (p == node) return false;
  if (before == node) return true;
  {
    std::unique_lock lock(lock_);
    auto& from = node->parent_ ? node->parent_->children_ : roots_;
    auto it = std::find_if(from.begin(), from.end(), [&](auto& s) { return s.get() == node; });
    if (it == from.end()) return false;
    std::unique_ptr<TServer> owned = std::move(*it);
    from.erase(it);
    auto& to = parent ? parent->children_ : roots_;
    auto at = std::find_if(to.begin(), to.end(), [&](auto& s) { return s.get() == before; });
    node->parent_ = parent;
    to.insert(at, std::move(owned));
  }
  if (parent && node->Has(sfInherit)) node->InheritFromParent();
  return true;
}

void TServerTree::InsertMissingSlot(TServer& server) {
  auto& slots = server.children_;
  size_t i = 0;
  while (i < slots.size() && slots[i]->Name() == SlotName(i + 1)) ++i;
  auto slot = std::make_unique<TServer>(snSlot, SlotName(i + 1), &server);
  slot->InheritFromParent();
  slot->Include(sfInherit);
  slots.insert(slots.begin() + static_cast<std::ptrdiff_t>(i), std::move(slot));
}

bool TServerTree::RemoveLastRemovableSlot(TServer& server) {
  auto& slots = server.children_;
  for (size_t i = slots.size(); i-- > 0;) {
    TServer& slot = *slots[i];
    // A slot whose connection still runs stays until the connection has ended: the
    // thread holds the slot.
    if (kRemovableStates.Contains(slot.State()) && !slot.Connection.load()) {
      slots.erase(slots.begin() + static_cast<std::ptrdiff_t>(i));
      return true;
    }
  }
  return false;
}

bool TServerTree::AdjustSlots(TServer& server) {
  if (!server.IsNewsServer()) return false;
  std::unique_lock lock(lock_);
  bool changed = false;
  uint32_t wanted = std::clamp<uint32_t>(server.MaxConn, 1, kMaxConnections);
  while (server.children_.size() < wanted) {
    InsertMissingSlot(server);
    changed = true;
  }
  while (server.children_.size() > wanted && RemoveLastRemovableSlot(server)) changed = true;
  return changed;
}

void TServerTree::ForEachNode(const std::function<void(TServer&)>& visit) const {
  std::shared_lock lock(lock_);
  for (auto& root : roots_) VisitPreOrder(*root, visit);
}

TServer* TServerTree::FindServerByHost(std::string_view host, uint16_t port) const {
  TServer* found = nullptr;
  ForEachNode([&](TServer& node) {
    if (!found && node.IsNewsServer() && node.Port == port && node.Host() == host) found = &node;
  });
  return found;
}

template <typename Fn>
void TServerTree::ForEachSlot(const TServer& node, Fn fn) const {
  if (node.IsSlot()) return fn(node);
  for (auto& child : node.Children()) ForEachSlot(*child, fn);
}

int TServerTree::CountLive(const TServer& node) const { return CountInStates(node, kLiveStates); }

int TServerTree::CountInStates(const TServer& node, TConnStateSet states) const {
  std::shared_lock lock(lock_);
  int n = 0;
  ForEachSlot(node, [&](const TServer& slot) { n += states.Contains(slot.State()); });
  return n;
}

bool TServerTree::AnyInState(const TServer& node, TConnState state) const {
  return CountInStates(node, TConnStateSet{state}) > 0;
}

int TServerTree::HeldItemCount(const TServer& node) const {
  std::shared_lock lock(lock_);
  int n = 0;
  ForEachSlot(node, [&](const TServer& slot) {
    if (TSlotConnection* c = slot.Connection.load()) n += c->HeldItemCount();
  });
  return n;
}

void TServerTree::UpdateAggregateState(TServer& server) const {
  int n = 0, e = 0, c = 0, d = 0;
  bool onDemand = server.Has(sfConnectOnDemand);
  for (auto& slot : server.Children()) {
    TConnState s = slot->State();
    ++n;
    e += s == csError;
    c += s == csConnecting || s == csRetrying;
    d += s == csUserDisconnected || (s == csIdle && !onDemand);
  }
  TConnState state = e == n ? csError : c == n ? csRetrying : d == n ? csUserDisconnected
                   : e + c + d < n ? csIdle : csRetrying;
  server.StoreState(state);
}

void TServerTree::TakeRateSamples() {
  std::shared_lock lock(lock_);
  std::function<uint32_t(TServer&)> visit = [&](TServer& node) -> uint32_t {
    node.Rate.TakeSample();
    uint32_t busy = 0;
    if (node.IsSlot()) busy = kBusyStates.Contains(node.State()) ? 1 : 0;
    for (auto& child : node.Children()) busy += visit(*child);
    if (node.IsNewsServer()) UpdateAggregateState(node);
    node.BusyCount = busy;
    return busy;
  };
  for (auto& root : roots_) visit(*root);
}

bool TServerTree::CheckResets(TDateTime now) {
  bool any = false;
  ForEachNode([&](TServer& node) {
    if (node.IsSlot()) return;
    if (node.Daily.Due(now)) node.Daily.ResetNow(now), any = true;
    if (node.Monthly.Due(now)) node.Monthly.ResetNow(now), any = true;
  });
  if (any) SaveServers();
  return any;
}

void TServerTree::ResetDaily(TServer& node, TDateTime now) {
  node.Daily.ResetNow(now);
  SaveServers();
}

void TServerTree::ResetMonthly(TServer& node, TDateTime now) {
  node.Monthly.ResetNow(now);
  SaveServers();
}

}  // namespace zev
