// The queue driving real connections against the test news server: a queued refresh sends
// "group" and the planned header commands, and queued bodies are fetched by every server
// that may serve them. A stand-in takes the place of the header retrieval: it plans the
// whole reported range after a GROUP reply, and counts the bodies it receives.
#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>

#include "../db/ModelTestUtil.h"
#include "NewsServerFixture.h"
#include "QueueTestSupport.h"
#include "core/ZevIniFile.h"
#include "db/ServerTree.h"
#include "nntp/ConnectionPool.h"

using namespace zev;
using namespace std::chrono_literals;

namespace {

// The newsgroup list a connection's start-up talks to: not of interest here.
class TQuietFeed : public TNewsgroupFeed {
 public:
  void HandleResponse(TConnectionFace&, const FResponseBlock&) override {}
  TDateTime LastUpdate(const TServer&) override { return 1; }
  void SetLastUpdate(const TServer&, TDateTime) override {}
};

// What the header retrieval and the body handler will do, reduced to what the queue needs.
class TStandInRetrieval : public TResponseTarget {
 public:
  TStandInRetrieval(TQueue& queue, TGroup& group) : queue_(queue), group_(group) {}

  void HandleResponse(TConnectionFace& c, const FResponseBlock& block) override {
    const std::string command(block.command);
    if (block.type != btComplete && block.type != btLast) return;
    if (command.rfind("group ", 0) == 0) return Group(c, block);
    if (command.rfind("body ", 0) == 0) return Body(c, block, command);
    {
      std::lock_guard lock(mutex_);
      headerCommands_.push_back(command);
    }
    queue_.FinishCurrent(c);
    queue_.NextCommand(c);
    changed_.notify_all();
  }

  template <typename Pred>
  bool WaitFor(Pred done) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 30s, [&] { return done(); });
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> headerCommands_;
  std::map<std::string, std::vector<std::string>> bodiesByServer_;  // server name -> commands
  int missing_ = 0;

 private:
  void Group(TConnectionFace& c, const FResponseBlock& block) {
    // "211 count first last name": plan the whole range, as a first refresh would.
    unsigned long count = 0, first = 0, last = 0;
    const std::string status(block.statusLine);
    queue_.FinishCurrent(c);
    if (block.code == 211 && std::sscanf(status.c_str(), "211 %lu %lu %lu", &count, &first, &last) == 3) {
      c.Slot().Status.Set(TSlotStatus::CurrentGroup, group_.Name());
      queue_.EnqueueHeaderCmnd(c, qkMessageID, 0, static_cast<uint32_t>(last), static_cast<uint32_t>(first), &group_);
    } else {
      queue_.NextCommand(c);
    }
  }
  void Body(TConnectionFace& c, const FResponseBlock& block, const std::string& command) {
    if (block.code >= 413 && block.code <= 479) {  // 423 or 430: no such article
      {
        std::lock_guard lock(mutex_);
        ++missing_;
      }
      queue_.ReleaseForOtherServers(c);
      queue_.NextCommand(c);
      changed_.notify_all();
      return;
    }
    const TArticleOffset offset = c.CurrentItem() ? c.CurrentItem()->Data[0] : 0;
    queue_.BodyReceived(c);
    queue_.NextCommand(c);
    queue_.MarkHandled(offset, &c.Slot());
    {
      std::lock_guard lock(mutex_);
      bodiesByServer_[c.Server().Name()].push_back(command);
    }
    changed_.notify_all();
  }

  TQueue& queue_;
  TGroup& group_;
};

class QueueIntegrationTest : public testserver::TNewsServerFixture {
 protected:
  void FillStore(testserver::TArticleStore& store) override { Post(store, numbersA_); }

  void SetUp() override {
    TNewsServerFixture::SetUp();
    dir_ = test::ScratchDir();
    log_ = std::make_unique<test::TCapturedLog>(dir_);
    group_ = std::make_unique<TGroup>(gnNewsgroup, "alt.binaries.queue", nullptr);
    group_->SetDecodeDir(dir_);
    queue_ = std::make_unique<TQueue>(articles_, serverGroups_, tree_);
    retrieval_ = std::make_unique<TStandInRetrieval>(*queue_, *group_);
    queue_->SetResponseTarget(retrieval_.get());
    root_ = tree_.CreateServerNode("Servers", snRoot, nullptr);
    root_->Exclude(sfARTICLE);
  }
  void TearDown() override {
    pool_.reset();
    queue_.reset();
    if (second_) second_->Stop();
    TNewsServerFixture::TearDown();
  }

  // Forty articles, posted in an order of their own on each server so that the numbers differ.
  void Post(testserver::TArticleStore& store, std::map<int, uint64_t>& numbers, bool reversed = false) {
    for (int k = 0; k < kArticles; ++k) {
      const int i = reversed ? kArticles - 1 - k : k;
      numbers[i] = store.Post(group_name, {{"Subject", "part " + std::to_string(i)},
                                           {"From", "poster@example.net"},
                                           {"Message-ID", "<part" + std::to_string(i) + "@example.net>"}},
                              "line one of " + std::to_string(i) + "\nline two\n");
    }
  }
  TServer* AddServer(const std::string& name, uint16_t port, uint32_t connections) {
    TServer* s = tree_.CreateServerNode(name, snNewsServer, root_);
    s->Exclude(sfInherit);
    s->Exclude(sfARTICLE);
    s->SetHost("127.0.0.1");
    s->Port = port;
    s->MaxConn = connections;
    s->Retry = 1;
    s->Idle = 100;
    tree_.AdjustSlots(*s);
    for (const auto& slot : s->Children()) slot->InheritFromParent();
    return s;
  }
  TConnectionPool& Pool() {
    if (!pool_) {
      FConnectionEnv env;
      env.source = queue_.get();
      env.feed = &feed_;
      env.second = 50ms;
      env.logDir = dir_ + "logs";
      pool_ = std::make_unique<TConnectionPool>(env);
    }
    return *pool_;
  }
  // Queues every article; `carries(server, i)` tells which servers hold article i.
  template <typename Carries>
  void QueueBodies(const std::map<TServer*, std::map<int, uint64_t>*>& numbers, Carries carries) {
    auto list = queue_->LockList();
    for (int i = 0; i < kArticles; ++i) {
      const TArticleOffset offset = kFirstOffset + i;
      FQueueArticle& a = articles_.records[offset];
      a.Size = 40;
      a.MessageId = "part" + std::to_string(i) + "@example.net";
      for (auto& [server, table] : numbers)
        if (carries(server, i)) serverGroups_.Carry(offset, server, group_.get(), static_cast<uint32_t>(table->at(i)));
      queue_->PutBodyCommand(list, group_.get(), 0, nullptr, 0, offset);
    }
  }
  size_t BodiesFetched() {
    size_t n = 0;
    for (auto& [server, bodies] : retrieval_->bodiesByServer_) n += bodies.size();
    return n;
  }

  static constexpr int kArticles = 40;
  static constexpr TArticleOffset kFirstOffset = 1000;
  const std::string group_name = "alt.binaries.queue";
  std::string dir_;
  std::unique_ptr<test::TCapturedLog> log_;
  TZevIniFile ini_{""};
  TServerTree tree_{ini_};
  TServer* root_ = nullptr;
  std::unique_ptr<TGroup> group_;
  test::TFakeArticles articles_;
  test::TFakeServerGroups serverGroups_;
  TQuietFeed feed_;
  std::unique_ptr<TQueue> queue_;
  std::unique_ptr<TStandInRetrieval> retrieval_;
  std::unique_ptr<TConnectionPool> pool_;
  std::map<int, uint64_t> numbersA_, numbersB_;
  std::shared_ptr<testserver::TArticleStore> storeB_;
  std::unique_ptr<testserver::TNewsServer> second_;
};

TEST_F(QueueIntegrationTest, AQueuedRefreshSendsGroupAndThePlannedHeaderCommandsInChunks) {
  TServer* a = AddServer("A", Port(), 2);
  a->Include(sfChunks);
  a->ChunkSize = 15;
  serverGroups_.pairs[{a, group_.get()}];
  queue_->ScheduleRefresh(*group_, false, rmPlain);
  Pool().StartSlot(*a, false, -1);
  ASSERT_TRUE(retrieval_->WaitFor([&] { return retrieval_->headerCommands_.size() == 3; }));
  std::set<std::string> sent(retrieval_->headerCommands_.begin(), retrieval_->headerCommands_.end());
  EXPECT_EQ(sent, (std::set<std::string>{"xover 26-40", "xover 11-25", "xover 1-10"}));
  EXPECT_EQ(queue_->ItemCount(), 0u);
  std::string transcripts;
  for (const auto& t : Transcripts()) transcripts += t.Text();
  EXPECT_NE(transcripts.find("< group alt.binaries.queue"), std::string::npos);
}

TEST_F(QueueIntegrationTest, QueuedBodiesAreFetchedOnceByEveryServerThatMayServeThem) {
  storeB_ = std::make_shared<testserver::TArticleStore>();
  Post(*storeB_, numbersB_, true);
  second_ = std::make_unique<testserver::TNewsServer>(storeB_, testserver::FServerOptions{});
  second_->Start();
  TServer* a = AddServer("A", Port(), 2);
  TServer* b = AddServer("B", second_->Port(), 2);
  // A third only on A, a third only on B, the rest on both.
  QueueBodies({{a, &numbersA_}, {b, &numbersB_}}, [&](TServer* s, int i) {
    return i >= 2 * kArticles / 3 || (s == a) == (i < kArticles / 3);
  });
  Pool().StartSlot(*root_, false, -1);
  ASSERT_TRUE(retrieval_->WaitFor([&] { return BodiesFetched() == kArticles; }));
  EXPECT_GE(retrieval_->bodiesByServer_["A"].size(), static_cast<size_t>(kArticles / 3));
  EXPECT_GE(retrieval_->bodiesByServer_["B"].size(), static_cast<size_t>(kArticles / 3));
  std::set<std::string> unique;
  for (auto& [server, bodies] : retrieval_->bodiesByServer_)
    for (auto& body : bodies) unique.insert(server + body);
  EXPECT_EQ(unique.size(), static_cast<size_t>(kArticles)) << "each article once";
  EXPECT_EQ(queue_->BodyCount(), 0);
}

TEST_F(QueueIntegrationTest, AnArticleMissingOnThePreferredServerIsFetchedFromTheOther) {
  storeB_ = std::make_shared<testserver::TArticleStore>();
  Post(*storeB_, numbersB_, true);
  second_ = std::make_unique<testserver::TNewsServer>(storeB_, testserver::FServerOptions{});
  second_->Start();
  TServer* a = AddServer("A", Port(), 1);
  TServer* b = AddServer("B", second_->Port(), 1);
  a->SetPreference(1);
  // A is thought to hold every article under a number it never had.
  std::map<int, uint64_t> wrong;
  for (int i = 0; i < kArticles; ++i) wrong[i] = 5000 + i;
  QueueBodies({{a, &wrong}, {b, &numbersB_}}, [](TServer*, int) { return true; });
  Pool().StartSlot(*root_, false, -1);
  ASSERT_TRUE(retrieval_->WaitFor([&] { return BodiesFetched() == kArticles; }));
  EXPECT_EQ(retrieval_->bodiesByServer_["B"].size(), static_cast<size_t>(kArticles));
  EXPECT_EQ(retrieval_->missing_, kArticles) << "A was asked for each first";
}

}  // namespace
