#pragma once
// The whole engine of the program (TEngineParts) in a scratch directory, with one news
// server on the test news server and a subscribed group: what the header retrieval tests
// share. Refresh() runs a group refresh over real connections until the refresh is over;
// Hand() gives the header retrieval a response block directly, as a connection would.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "../db/ModelTestUtil.h"
#include "NewsServerFixture.h"
#include "core/Config.h"
#include "core/ZevIniFile.h"
#include "db/Article.h"
#include "db/Group.h"
#include "db/GroupList.h"
#include "db/GroupTree.h"
#include "db/NwsStore.h"
#include "db/SGLst.h"
#include "db/ServerTree.h"
#include "download/CommandSource.h"
#include "download/Queue.h"
#include "nntp/ArtList.h"
#include "nntp/ConnectionPool.h"
#include "nntp/EngineParts.h"

namespace zev::test {

// A connection that records what the engine asks of it; for handing blocks directly.
class TRecordingConnection final : public TConnectionFace {
 public:
  TRecordingConnection(TServer& slot) : slot_(slot) {}
  TServer& Slot() const override { return slot_; }
  TServer& Server() const override { return slot_.NewsServer(); }
  std::string ConnName() const override { return "Test#1"; }
  void StartCommand(TResponseTarget*, std::string text, TDataMode, uint64_t, bool) override {
    std::lock_guard lock(mutex_);
    commands_.push_back(std::move(text));
  }
  void SetReady() override {}
  void DisconnectNow() override { disconnected_ = true; }
  TDisconnectRequest DisconnectRequest() const override { return drNone; }
  TQueueItem* CurrentItem() const override { return item_.load(); }
  void SetCurrentItem(TQueueItem* item) override { item_ = item; }
  uint32_t FirstArtNo() const override { return first_.load(); }
  void SetFirstArtNo(uint32_t n) override { first_ = n; }
  std::vector<std::string> Commands() {
    std::lock_guard lock(mutex_);
    return commands_;
  }
  bool Disconnected() const { return disconnected_.load(); }

 private:
  TServer& slot_;
  std::mutex mutex_;
  std::vector<std::string> commands_;
  std::atomic<TQueueItem*> item_{nullptr};
  std::atomic<uint32_t> first_{0};
  std::atomic<bool> disconnected_{false};
};

// Passes every block on to the header retrieval and wakes whoever waits for a refresh.
class TWatchedTarget : public TResponseTarget {
 public:
  explicit TWatchedTarget(TResponseTarget& inner) : inner_(inner) {}
  void HandleResponse(TConnectionFace& connection, const FResponseBlock& block) override {
    inner_.HandleResponse(connection, block);
    std::lock_guard lock(mutex_);
    ++blocks_;
    changed_.notify_all();
  }
  std::unique_ptr<FPreparedBlock> Prepare(const FResponseBlock& block) override { return inner_.Prepare(block); }
  // The engine's locks are never taken while ours is held by HandleResponse, so `done`
  // may look at the engine under it.
  template <typename Pred>
  bool WaitFor(Pred done, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, done);
  }

 private:
  TResponseTarget& inner_;
  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t blocks_ = 0;
};

class TArtListHarness : public testserver::TNewsServerFixture {
 protected:
  static constexpr std::chrono::milliseconds kSecond{50};

  void SetUp() override {
    TNewsServerFixture::SetUp();
    dir_ = ScratchDir();
    log_ = std::make_unique<TCapturedLog>(dir_);
    ini_ = std::make_unique<TZevIniFile>(dir_ + "Zev2.ini");
    config_ = std::make_unique<TConfig>(*ini_, dir_);
    config_->Load();
    gConfig = config_.get();
    // Every log entry is written, so the tests can look for the verbose ones too.
    SetWarningsLevel(TWarningsLevel::Verbose);
    engine_ = std::make_unique<TEngineParts>();
    engine_->CreateNewsStore(config_->DataStore);
    engine_->CreateGroupList();
    engine_->OpenNewsStore(true, false);
    engine_->CreateHeaderRetrieval();
    engine_->CreateQueue();
    engine_->CreateKillWant();
    engine_->CreateArticleAccessor();
    engine_->CreateDecoder();
    engine_->CreatePartCheck();
    engine_->CreateExpirer(config_->DataStore + "Expired.zev");
    // The tests tell the newsgroup list which groups the server carries; connections do
    // not fetch lists.
    gNewsgroupFeed = nullptr;
    watched_ = std::make_unique<TWatchedTarget>(*engine_->ArtList());
    engine_->Queue()->SetResponseTarget(watched_.get());
  }

  void TearDown() override {
    if (pool_) {
      pool_->TerminateAll(true);
      pool_->WaitAllEnded(std::chrono::seconds(30));
      pool_.reset();
    }
    engine_->DestroyAll();
    engine_.reset();
    gConfig = nullptr;
    TNewsServerFixture::TearDown();
  }

  TServer& AddServer(uint32_t flags = 0, uint32_t maxConn = 1, uint16_t port = 0) {
    TServerTree& tree = *engine_->Servers();
    TServer* server = tree.CreateServerNode("Test", snNewsServer, tree.Roots()[0].get());
    server->Exclude(sfInherit);
    server->SetHost("127.0.0.1");
    server->Port = port ? port : Port();
    server->MaxConn = maxConn;
    server->Retry = 1;
    server->TimeOut = 200;
    server->Idle = 2000;
    server->Flags = ServerFlagBit(sfAlways) | flags;
    tree.AdjustSlots(*server);
    for (const auto& slot : server->Children()) slot->InheritFromParent();
    server_ = server;
    return *server;
  }

  TGroup& Subscribe(const std::string& name) {
    TGroupTree& groups = *engine_->Groups();
    TGroup* group = groups.CreateGroupNode(gnNewsgroup, name, groups.Roots()[0].get());
    engine_->GroupList()->StoreStrings(*server_, {name + " 1 1 y"});
    engine_->ServerGroups()->AddGroup(*group, *engine_->Servers());
    return *group;
  }

  std::shared_ptr<TSrvGrp> Pair(TGroup& group) { return engine_->ServerGroups()->FindOrCreate(*server_, group, false); }

  TConnectionPool& Pool() {
    if (!pool_) {
      FConnectionEnv env;
      env.source = engine_->Queue();
      env.second = kSecond;
      env.logDir = dir_ + "logs";
      pool_ = std::make_unique<TConnectionPool>(env);
    }
    return *pool_;
  }

  // Whether the group's refresh is over on every server that carries it.
  bool RefreshOver(TGroup& group) {
    if (engine_->Queue()->CountPendingServers(group) != 0) return false;
    for (const auto& sg : engine_->ServerGroups()->EntriesOf(group))
      if (!sg->RefreshIdle || engine_->ArtList()->Refreshing(*sg)) return false;
    return true;
  }

  // Queues a refresh, lets the server's connections run it, and waits until it is over.
  bool Refresh(TGroup& group, TRefreshMode mode = rmPlain) {
    engine_->Queue()->ScheduleRefresh(group, false, mode);
    Pool().StartSlot(*server_, false, -1);
    const bool over = watched_->WaitFor([&] { return RefreshOver(group); }, std::chrono::seconds(60));
    if (!over) ADD_FAILURE() << "refresh did not end; log:\n" << log_->Text() << "\ntranscripts:\n" << TranscriptText();
    return over;
  }

  std::string TranscriptText() {
    std::string text;
    for (const auto& t : Transcripts()) text += "--- connection " + std::to_string(t.connection) + "\n" + t.Text();
    return text;
  }

  // The commands connection `n` sent, without its log-in and good-bye.
  std::vector<std::string> SentCommands(uint32_t n = 1) {
    Pool().TerminateAll(false);
    Pool().WaitAllEnded(std::chrono::seconds(30));
    std::vector<std::string> out;
    for (const std::string& c : ClosedTranscript(n).Commands())
      if (c != "MODE READER" && c != "mode reader" && c != "QUIT" && c != "quit") out.push_back(c);
    return out;
  }

  FMsgData Record(TArticleOffset offset) {
    FMsgData r{};
    engine_->Store()->MsgLst()->ReadRecord(offset, &r);
    return r;
  }

  // The article offsets of the pair's map, by article number.
  std::vector<uint32_t> MapOf(TGroup& group) {
    auto sg = Pair(group);
    TMapUse use(*sg);
    return sg->MapSnapshot();
  }

  std::string dir_;
  std::unique_ptr<TCapturedLog> log_;
  std::unique_ptr<TZevIniFile> ini_;
  std::unique_ptr<TConfig> config_;
  std::unique_ptr<TEngineParts> engine_;
  std::unique_ptr<TWatchedTarget> watched_;
  std::unique_ptr<TConnectionPool> pool_;
  TServer* server_ = nullptr;
};

}  // namespace zev::test
