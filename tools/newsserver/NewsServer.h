#pragma once
// The test news server: listens on loopback (IPv4 and IPv6, plain and implicit TLS),
// runs one thread per connection, and serves a TArticleStore with the faults a test
// arranges. Stop() ends every connection at once; nothing waits for a client.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <openssl/ssl.h>

#include "ArticleStore.h"
#include "FaultPlan.h"
#include "NntpSession.h"
#include "StopSignal.h"
#include "TranscriptLog.h"

namespace zev::testserver {

struct FServerOptions {
  std::vector<std::string> bindAddresses = {"127.0.0.1", "::1"};
  int port = 0;       // plain listener: 0 picks a free port, -1 none
  int tlsPort = -1;   // implicit TLS (NNTPS) listener: 0 picks a free port, -1 none
  std::string tlsCertPem, tlsKeyPem;
  FSessionConfig session;
  uint32_t maxConnections = 0;  // 0: no limit
  int limitCode = 400;          // greeting code for a connection over the limit
  std::string transcriptDir;
  bool keepTranscripts = true;
};

class TNewsServer {
 public:
  TNewsServer(std::shared_ptr<TArticleStore> store, FServerOptions options);
  ~TNewsServer();
  TNewsServer(const TNewsServer&) = delete;
  TNewsServer& operator=(const TNewsServer&) = delete;

  // Binds and starts accepting; throws std::runtime_error with the reason when it cannot.
  void Start();
  void Stop();

  uint16_t Port() const { return port_; }
  uint16_t TlsPort() const { return tlsPort_; }
  TArticleStore& Store() { return *store_; }
  TFaultPlan& Faults() { return faults_; }
  TTranscriptLog& Transcripts() { return transcripts_; }
  // The session settings may be changed between connections (e.g. the DATE answer).
  FSessionConfig& SessionConfig() { return options_.session; }

  // While refusing, the listeners are closed so that connecting fails with "connection
  // refused"; the ports are bound again afterwards. Returns once the change is in effect.
  void SetRefusing(bool refusing);
  uint32_t ActiveConnections() const { return active_.load(); }
  uint32_t TotalConnections() const { return total_.load(); }

 private:
  struct FListener {
    std::string address;
    bool tls;
    int fd = -1;
  };
  struct FWorker {
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void OpenListeners();
  void CloseListeners();
  int Bind(const std::string& address, int port, uint16_t& boundPort);
  void AcceptLoop();
  void Accept(const FListener& listener);
  void Serve(int fd, bool tls, uint32_t connection, FWorker* worker);
  void ReapWorkers();
  void Wake();

  std::shared_ptr<TArticleStore> store_;
  FServerOptions options_;
  TFaultPlan faults_;
  TTranscriptLog transcripts_;
  TStopSignal stop_;
  SSL_CTX* tls_ = nullptr;

  std::vector<FListener> listeners_;
  uint16_t port_ = 0;
  uint16_t tlsPort_ = 0;
  int wakePipe_[2] = {-1, -1};
  std::thread acceptThread_;
  bool started_ = false;

  std::mutex stateMutex_;
  std::condition_variable stateChanged_;
  bool wantRefusing_ = false;
  bool refusing_ = false;

  std::mutex workersMutex_;
  std::list<FWorker> workers_;
  std::set<int> liveSockets_;
  std::atomic<uint32_t> active_{0};
  std::atomic<uint32_t> total_{0};
};

}  // namespace zev::testserver
