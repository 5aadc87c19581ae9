#pragma once
// The test news server with a server tree, a connection pool on a short "second" and the
// stand-in queue: what the connection tests share.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "../db/ModelTestUtil.h"
#include "NewsServerFixture.h"
#include "StandInSource.h"
#include "core/ZevIniFile.h"
#include "db/ServerTree.h"
#include "nntp/ConnectionPool.h"
#include "nntp/TlsContext.h"

namespace zev::test {

// Long enough that a loaded machine answers within a few of them, short enough that a
// time-out of a few "seconds" ends a test quickly.
constexpr std::chrono::milliseconds kTestSecond{50};

struct FServerSettings {
  std::string host = "127.0.0.1";
  int port = 0;  // 0: the fixture's plain port
  uint32_t maxConn = 1;
  uint32_t retry = 1;
  uint32_t timeOut = 200;
  uint32_t idle = 2000;
  uint32_t flags = 0;  // sf... bits on top of sfAlways
  std::string user, pass;
  bool tls = false;
  std::string pin;
};

class TConnectionHarness : public testserver::TNewsServerFixture {
 protected:
  void SetUp() override {
    TNewsServerFixture::SetUp();
    dir_ = ScratchDir();
    log_ = std::make_unique<TCapturedLog>(dir_);
  }
  void TearDown() override {
    pool_.reset();
    TNewsServerFixture::TearDown();
  }

  TServer& AddServer(const FServerSettings& s, const std::string& name = "Test") {
    TServer* server = tree_.CreateServerNode(name, snNewsServer, Root());
    server->Exclude(sfInherit);
    server->SetHost(s.host);
    server->Port = static_cast<uint16_t>(s.port ? s.port : Port());
    server->MaxConn = s.maxConn;
    server->Retry = s.retry;
    server->TimeOut = s.timeOut;
    server->Idle = s.idle;
    server->Flags = ServerFlagBit(sfAlways) | s.flags;
    server->SetLogin(s.user, s.pass);
    server->UseTls = s.tls;
    server->SetTlsFingerprint(s.pin);
    tree_.AdjustSlots(*server);
    for (const auto& slot : server->Children()) slot->InheritFromParent();
    return *server;
  }
  TServer& SlotOf(TServer& server, size_t i = 0) { return *server.Children()[i]; }
  TServer* Root() {
    if (tree_.Roots().empty()) tree_.CreateServerNode("Servers", snRoot, nullptr);
    return tree_.Roots()[0].get();
  }

  // The pool, made on first use with the current environment.
  TConnectionPool& Pool() {
    if (!pool_) pool_ = std::make_unique<TConnectionPool>(Env());
    return *pool_;
  }
  FConnectionEnv Env() {
    FConnectionEnv env;
    env.source = &source_;
    env.feed = &feed_;
    env.second = second_;
    env.logDir = dir_ + "logs";
    env.tls = tls_;
    return env;
  }
  bool WaitEnded(std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    return Pool().WaitAllEnded(timeout);
  }
  // Waits until the server has seen `n` connections (the transcript log wakes us).
  bool WaitConnections(uint32_t n, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    return Server().Transcripts().WaitUntil([n](const auto& all) { return all.size() >= n; }, timeout);
  }
  std::string LogText() const { return log_->Text(); }

  std::string dir_;
  std::chrono::milliseconds second_ = kTestSecond;  // set before the pool is made
  std::unique_ptr<TCapturedLog> log_;
  TZevIniFile ini_{""};
  TServerTree tree_{ini_};
  TStandInSource source_;
  TRecordingFeed feed_;
  std::shared_ptr<TTlsContext> tls_;
  std::unique_ptr<TConnectionPool> pool_;
};

}  // namespace zev::test
