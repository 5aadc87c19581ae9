#pragma once
// The connection manager: a thread that, when the main window kicks it (about once a
// second), opens connections for servers with queued work and room under their limits and
// closes surplus automatic ones. Connections the user opens by hand are never its business.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace zev {

class TCommandSource;
class TConnectionPool;
class TServerTree;

class TConnMgr {
 public:
  static constexpr std::chrono::milliseconds kInterval{500};

  // Starts the thread. `source` null: gCommandSource.
  TConnMgr(TServerTree& tree, TConnectionPool& pool, TCommandSource* source = nullptr,
           std::chrono::milliseconds interval = kInterval);
  // Ends the thread and waits for it.
  ~TConnMgr();
  TConnMgr(const TConnMgr&) = delete;
  TConnMgr& operator=(const TConnMgr&) = delete;

  // Asks for a management pass on the next tick.
  void Kick() { kick_.store(true); }
  // One second without any busy connection.
  bool AllIdle() const;
  uint64_t Passes() const { return passes_.load(); }
  // Runs one pass now, on the caller's thread (tests; the thread does the same).
  void RunPass();

 private:
  void Execute();
  bool AnyBusy() const;

  TServerTree& tree_;
  TConnectionPool& pool_;
  TCommandSource* source_;
  const std::chrono::milliseconds interval_;
  std::atomic<bool> kick_{false};
  std::atomic<uint64_t> passes_{0};
  std::mutex lock_;
  std::condition_variable stopChanged_;
  bool stop_ = false;
  std::thread thread_;
};

// The running manager, for the main window; null when there is none.
inline std::atomic<TConnMgr*> gConnMgr{nullptr};

}  // namespace zev
