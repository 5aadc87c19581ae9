#pragma once
// GoogleTest fixture: a test news server started in-process on a free loopback port for
// each test, with helpers to arrange faults and read the transcripts.
//
//   class TMyTest : public zev::testserver::TNewsServerFixture {
//     void FillStore(TArticleStore& store) override { store.Post("alt.test", {...}, "body\n"); }
//   };
//   TEST_F(TMyTest, Downloads) { AddFault("BODY:reset-data,conn=1"); ... Port() ...; }
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "ArticleStore.h"
#include "FaultPlan.h"
#include "NewsServer.h"
#include "TranscriptLog.h"

namespace zev::testserver {

class TNewsServerFixture : public ::testing::Test {
 protected:
  // Hooks run before the server starts.
  virtual void ConfigureServer(FServerOptions& /*options*/) {}
  virtual void FillStore(TArticleStore& /*store*/) {}

  void SetUp() override {
    store_ = std::make_shared<TArticleStore>();
    FillStore(*store_);
    FServerOptions options;
    ConfigureServer(options);
    server_ = std::make_unique<TNewsServer>(store_, options);
    server_->Start();
  }
  void TearDown() override {
    if (server_) server_->Stop();
  }

  TNewsServer& Server() { return *server_; }
  TArticleStore& Store() { return *store_; }
  uint16_t Port() const { return server_->Port(); }
  uint16_t TlsPort() const { return server_->TlsPort(); }

  void AddFault(const FFault& fault) { server_->Faults().Add(fault); }
  // A fault in zevrin-newsd's --fault notation, e.g. "BODY:reset-data,conn=1,times=1".
  void AddFault(const std::string& description) {
    FFault fault;
    std::string error;
    ASSERT_TRUE(ParseFault(description, fault, error)) << description << ": " << error;
    server_->Faults().Add(fault);
  }

  std::vector<FTranscript> Transcripts() const { return server_->Transcripts().Snapshot(); }
  // The transcript of connection `n` (1-based) once the server has closed it; fails the
  // test when that does not happen in time.
  FTranscript ClosedTranscript(uint32_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    FTranscript found;
    const bool closed = server_->Transcripts().WaitUntil(
        [&](const std::vector<FTranscript>& all) {
          for (const FTranscript& t : all)
            if (t.connection == n && t.closed) {
              found = t;
              return true;
            }
          return false;
        },
        timeout);
    EXPECT_TRUE(closed) << "connection " << n << " did not close";
    return found;
  }

 private:
  std::shared_ptr<TArticleStore> store_;
  std::unique_ptr<TNewsServer> server_;
};

}  // namespace zev::testserver
