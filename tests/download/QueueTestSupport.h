#pragma once
// Stand-ins for what the queue talks to (articles, server-groups, connections) and a
// fixture with a server tree, groups and a queue whose clock and disk are the test's.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "../core/TestUtil.h"
#include "../db/ModelTestUtil.h"
#include "core/ChangeQueue.h"
#include "core/ZevIniFile.h"
#include "db/Group.h"
#include "db/ServerTree.h"
#include "download/Queue.h"

namespace zev::test {

class TFakeArticles : public TQueueArticles {
 public:
  bool Read(TArticleOffset offset, FQueueArticle& article, unsigned) override {
    auto it = records.find(offset);
    if (it == records.end()) return false;
    article = it->second;
    return true;
  }
  void Unmark(TArticleOffset offset) override { unmarked.push_back(offset); }

  std::unordered_map<TArticleOffset, FQueueArticle> records;
  std::vector<TArticleOffset> unmarked;
};

class TFakeServerGroups : public TQueueServerGroups {
 public:
  struct FPair {
    uint8_t kind = 0;
    bool idle = true;
    bool first = true;
    TDateTime last = 0;
  };

  void Sources(TArticleOffset offset, std::vector<FArticleSource>& out) override {
    auto it = sources.find(offset);
    if (it != sources.end()) out.insert(out.end(), it->second.begin(), it->second.end());
  }
  void ForgetArtNo(TServer& server, TGroup* group, TArticleOffset offset) override {
    auto& list = sources[offset];
    std::erase_if(list, [&](const FArticleSource& s) { return s.server == &server && (!group || s.group == group); });
  }
  bool HasRecord(TServer& server, TGroup& group) override { return pairs.count({&server, &group}) != 0; }
  void SetRefreshKind(TServer& server, TGroup& group, uint8_t kind) override { pairs[{&server, &group}].kind = kind; }
  bool RefreshIdle(TServer& server, TGroup& group) override { return pairs[{&server, &group}].idle; }
  void SetRefreshIdle(TServer& server, TGroup& group, bool idle) override { pairs[{&server, &group}].idle = idle; }
  void RefreshQueued(TServer& server, TGroup& group) override {
    FPair& p = pairs[{&server, &group}];
    p.idle = false;
    p.first = false;
  }
  TDateTime LastRefresh(TServer& server, TGroup& group) override { return pairs[{&server, &group}].last; }

  void Carry(TArticleOffset offset, TServer* server, TGroup* group, uint32_t artNo) {
    sources[offset].push_back({server, group, artNo});
  }

  std::unordered_map<TArticleOffset, std::vector<FArticleSource>> sources;
  std::map<std::pair<TServer*, TGroup*>, FPair> pairs;
};

// A connection that records what the queue asks of it, and behaves towards the queue as the
// contract says (SetReady and DisconnectNow give a held item back).
class TFakeConnection final : public TConnectionFace {
 public:
  struct FCommand {
    TResponseTarget* target;
    std::string text;
    TDataMode mode;
    uint64_t expected;
    bool multiLine;
  };

  TFakeConnection(TQueue& queue, TServer& slot) : queue_(queue), slot_(slot) {}

  TServer& Slot() const override { return slot_; }
  TServer& Server() const override { return slot_.NewsServer(); }
  std::string ConnName() const override { return Server().Name() + slot_.Name(); }
  void StartCommand(TResponseTarget* target, std::string text, TDataMode mode, uint64_t expected,
                    bool multiLine) override {
    commands.push_back({target, std::move(text), mode, expected, multiLine});
    slot_.StoreState(mode == dmArticle ? csArticle : mode == dmLines ? csHeaders : csGroup);
  }
  void SetReady() override {
    ++readies;
    if (current_) queue_.ReleaseItem(*this);
    slot_.StoreState(csReady);
  }
  void DisconnectNow() override {
    ++disconnects;
    if (current_) queue_.ReleaseItem(*this);
    slot_.StoreState(csIdle);
  }
  TDisconnectRequest DisconnectRequest() const override { return request; }
  TQueueItem* CurrentItem() const override { return current_; }
  void SetCurrentItem(TQueueItem* item) override { current_ = item; }
  uint32_t FirstArtNo() const override { return firstArtNo_; }
  void SetFirstArtNo(uint32_t number) override { firstArtNo_ = number; }

  // Asks for the next command; a "group" the queue sends on its own to reach an item's
  // group is answered with `groupReply` at once. Returns the last command sent, "" when none.
  std::string Ask(int groupReply = 211) {
    const size_t before = commands.size();
    queue_.NextCommand(*this);
    while (groupReply && commands.size() > before && IsGroupSwitch(commands.back())) {
      const size_t now = commands.size();
      Reply(groupReply);
      if (commands.size() == now) break;
    }
    return commands.size() > before ? commands.back().text : std::string();
  }
  // Answers the last command through its response target with a status line only.
  void Reply(int code) {
    const FCommand c = commands.back();
    FResponseBlock block;
    block.code = static_cast<uint16_t>(code);
    block.command = c.text;
    block.statusLine = std::to_string(code);
    c.target->HandleResponse(*this, block);
  }
  // The queue's own group selections go to a target of its own, not to the one the test
  // gave it for its commands.
  bool IsGroupSwitch(const FCommand& c) const {
    return c.target && c.target != commandTarget && c.text.rfind("group ", 0) == 0;
  }
  TResponseTarget* commandTarget = nullptr;

  std::vector<FCommand> commands;
  int readies = 0;
  int disconnects = 0;
  TDisconnectRequest request = drNone;

 private:
  TQueue& queue_;
  TServer& slot_;
  TQueueItem* current_ = nullptr;
  uint32_t firstArtNo_ = 0;
};

// A server tree, groups, stand-ins and a queue whose clock and disk belong to the test.
class TQueueWorld {
 public:
  TQueueWorld() {
    gChangeQueue = &changes;
    root = servers.CreateServerNode("Servers", snRoot, nullptr);
    root->Exclude(sfARTICLE);
    queue.SetClock([this] { return nowMs; });
    queue.SetDateClock([this] { return today; });
    queue.SetDiskSpaceProbe([this](const std::string& path, uint64_t& free) {
      probed.push_back(path);
      free = freeBytes;
      return diskReadable;
    });
  }
  ~TQueueWorld() { gChangeQueue = nullptr; }
  TQueueWorld(const TQueueWorld&) = delete;
  TQueueWorld& operator=(const TQueueWorld&) = delete;

  TServer* AddServer(const std::string& name, uint32_t slots = 2, int8_t preference = 0) {
    TServer* s = servers.CreateServerNode(name, snNewsServer, root);
    s->Exclude(sfARTICLE);
    s->MaxConn = slots;
    servers.AdjustSlots(*s);
    s->SetPreference(preference);
    return s;
  }
  static TServer& SlotOf(TServer* server, size_t index = 0) { return *server->Children()[index]; }
  TFakeConnection& Connect(TServer* server, size_t slot = 0) {
    connections.push_back(std::make_unique<TFakeConnection>(queue, SlotOf(server, slot)));
    return *connections.back();
  }
  TGroup* AddGroup(const std::string& name) {
    groups.push_back(std::make_unique<TGroup>(gnNewsgroup, name, nullptr));
    groups.back()->SetDecodeDir(dir);
    return groups.back().get();
  }
  FQueueArticle& AddArticle(TArticleOffset offset, uint64_t size = 1000, uint32_t date = 1000, int8_t score = 0) {
    FQueueArticle& a = articles.records[offset];
    a.Size = size;
    a.Date = date;
    a.Score = score;
    a.MessageId = "part" + std::to_string(offset) + "@example.net";
    a.Subject = "subject " + std::to_string(offset);
    return a;
  }
  bool Enqueue(TArticleOffset offset, TGroup* group, int score = 0, TQueueFileSet* set = nullptr,
               uint32_t flags = 0) {
    auto list = queue.LockList();
    return queue.PutBodyCommand(list, group, flags, set, score, offset);
  }
  // Every live item, in list order.
  std::vector<TQueueItem*> Items() {
    auto list = queue.LockList();
    std::vector<TQueueItem*> items;
    for (size_t i = 0; i < list.Count(); ++i) items.push_back(list.Item(i));
    return items;
  }
  TQueueItem* ItemOf(TArticleOffset offset) {
    for (TQueueItem* item : Items())
      if (item->IsBody() && item->Data[0] == offset) return item;
    return nullptr;
  }

  std::string dir = ScratchDir();
  TCapturedLog log{dir};
  TChangeQueue changes;
  TZevIniFile ini{""};
  TServerTree servers{ini};
  TServer* root = nullptr;
  TFakeArticles articles;
  TFakeServerGroups serverGroups;
  std::vector<std::unique_ptr<TGroup>> groups;
  uint64_t freeBytes = uint64_t{1} << 40;
  bool diskReadable = true;
  std::vector<std::string> probed;
  int64_t nowMs = 1'000'000;
  TDateTime today = MakeDateTime(2024, 5, 1, 12);
  TQueue queue{articles, serverGroups, servers};
  std::vector<std::unique_ptr<TFakeConnection>> connections;
};

class TQueueFixture : public ::testing::Test, public TQueueWorld {};

}  // namespace zev::test
