// The program's connections against the read-and-discard client, in the same run, on the
// same server: article bodies over 1 and over 8 connections, and the CPU time the
// program's side spends per GB.
//
//   bench_connection [SIZE_MIB=1024] [RUNS=3]
//
// The test news server runs in a child process, so that this process's CPU time is the
// client side's alone: the connection threads, their response handlers and the framing.
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "ArticleGenerator.h"
#include "MinimalNntpClient.h"
#include "NewsServer.h"
#include "core/ZevIniFile.h"
#include "db/ServerTree.h"
#include "download/CommandSource.h"
#include "nntp/ConnectionPool.h"

using namespace zev;

namespace {

constexpr const char* kGroup = "zevrin.test.bench";

struct FServerInfo {
  uint16_t port = 0;
  uint64_t last = 0;
};

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Runs the server in a child until this process closes `keepAlive`.
FServerInfo StartServerProcess(uint64_t bytes, int& keepAliveWrite) {
  int info[2], keepAlive[2];
  if (pipe(info) != 0 || pipe(keepAlive) != 0) std::exit(2);
  if (fork() == 0) {
    close(info[0]);
    close(keepAlive[1]);
    auto store = std::make_shared<testserver::TArticleStore>();
    testserver::TArticleGenerator(*store, 1).PostBenchSet(kGroup, bytes, 750000);
    FServerInfo out;
    {
      auto lock = store->ReadLock();
      out.last = store->FindGroup(kGroup)->High();
    }
    testserver::FServerOptions options;
    options.bindAddresses = {"127.0.0.1"};
    options.keepTranscripts = false;
    testserver::TNewsServer server(store, options);
    server.Start();
    out.port = server.Port();
    if (write(info[1], &out, sizeof out) != sizeof out) _exit(2);
    char c;
    while (read(keepAlive[0], &c, 1) > 0) {
    }
    server.Stop();
    _exit(0);
  }
  close(info[1]);
  close(keepAlive[0]);
  keepAliveWrite = keepAlive[1];
  FServerInfo out;
  if (read(info[0], &out, sizeof out) != sizeof out) std::exit(2);
  close(info[0]);
  return out;
}

// The queue's part in a download: hands out "body N" until enough was asked for, and,
// like the body handler, asks for the next command before it looks at a body.
class TBodySource final : public TCommandSource, public TResponseTarget {
 public:
  TBodySource(uint64_t last, uint64_t totalBytes) : last_(last), totalBytes_(totalBytes) {}

  void NextCommand(TConnectionFace& connection) override {
    std::unique_lock lock(mutex_);
    if (grouped_.insert(&connection).second) {
      lock.unlock();
      connection.StartCommand(nullptr, std::string("group ") + kGroup, dmNone, 0, false);
      return;
    }
    if (requested_ >= totalBytes_) {
      lock.unlock();
      connection.SetReady();
      return;
    }
    const uint64_t number = next_++ % last_ + 1;
    requested_ += 765000;
    ++outstanding_;
    lock.unlock();
    connection.StartCommand(this, "body " + std::to_string(number), dmArticle, 765000, true);
  }
  void CommandFailed(TConnectionFace&) override { Done(); }
  void ReleaseItem(TConnectionFace& connection) override { connection.SetCurrentItem(nullptr); }
  bool WorkAvailable(TServer&) override { return true; }

  void HandleResponse(TConnectionFace& connection, const FResponseBlock& block) override {
    received_ += block.data.size();
    NextCommand(connection);
    Done();
  }

  void WaitFinished() {
    std::unique_lock lock(mutex_);
    finished_.wait(lock, [this] { return requested_ >= totalBytes_ && outstanding_ == 0; });
  }
  uint64_t Received() const { return received_.load(); }

 private:
  void Done() {
    std::lock_guard lock(mutex_);
    --outstanding_;
    finished_.notify_all();
  }

  const uint64_t last_, totalBytes_;
  std::mutex mutex_;
  std::condition_variable finished_;
  std::set<TConnectionFace*> grouped_;
  uint64_t next_ = 0, requested_ = 0;
  int64_t outstanding_ = 0;
  std::atomic<uint64_t> received_{0};
};

struct FRun {
  double seconds = 0, cpuSeconds = 0;
  uint64_t bytes = 0;
  double MBps() const { return seconds > 0 ? bytes / seconds / 1e6 : 0; }
  double CpuPerGB() const { return bytes ? cpuSeconds * 1e9 / bytes : 0; }
};

FRun RunOurs(const FServerInfo& info, int connections, uint64_t totalBytes) {
  TZevIniFile ini("");
  TServerTree tree(ini);
  TServer* root = tree.CreateServerNode("Servers", snRoot, nullptr);
  TServer* server = tree.CreateServerNode("Bench", snNewsServer, root);
  server->Exclude(sfInherit);
  server->SetHost("127.0.0.1");
  server->Port = info.port;
  server->MaxConn = static_cast<uint32_t>(connections);
  server->CommandsChecked = 1;  // no list update: only bodies are measured
  tree.AdjustSlots(*server);
  TBodySource source(info.last, totalBytes);
  FConnectionEnv env;
  env.source = &source;
  TConnectionPool pool(env);
  const double cpu0 = ProcessCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  pool.StartSlot(*server, false, -1);
  source.WaitFinished();
  FRun run;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.cpuSeconds = ProcessCpuSeconds() - cpu0;
  run.bytes = server->Rate.ReceivedTotal();
  pool.TerminateAll(true);
  pool.WaitAllEnded(std::chrono::seconds(30));
  return run;
}

bench::FMinimalClientResult RunMinimal(const FServerInfo& info, int connections, uint64_t totalBytes) {
  bench::FMinimalClientOptions o;
  o.port = info.port;
  o.group = kGroup;
  o.first = 1;
  o.last = info.last;
  o.connections = connections;
  o.pipeline = 1;
  o.totalBytes = totalBytes;
  return bench::RunMinimalClient(o);
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  const uint64_t total = mib << 20;
  int keepAlive = -1;
  const FServerInfo info = StartServerProcess(total, keepAlive);
  std::printf("zevrin-newsd in a child process: %llu bodies of ~765 KB, %llu MiB per run, best of %d runs\n",
              static_cast<unsigned long long>(info.last), static_cast<unsigned long long>(mib), runs);
  for (int connections : {1, 8}) {
    bench::FMinimalClientResult minimal;
    FRun ours;
    for (int run = 0; run < runs; ++run) {
      // Alternating keeps both measured under the same load of the shared machine.
      const bench::FMinimalClientResult m = RunMinimal(info, connections, total);
      if (!m.error.empty()) {
        std::fprintf(stderr, "minimal client: %s\n", m.error.c_str());
        return 1;
      }
      if (m.MBps() > minimal.MBps()) minimal = m;
      const FRun o = RunOurs(info, connections, total);
      if (o.MBps() > ours.MBps()) ours = o;
    }
    std::printf("%d connection(s): minimal client %.0f MB/s (CPU %.2f s/GB); connections %.0f MB/s = %.0f%% "
                "(CPU %.2f s/GB)\n",
                connections, minimal.MBps(), minimal.CpuSecondsPerGB(), ours.MBps(),
                minimal.MBps() > 0 ? 100 * ours.MBps() / minimal.MBps() : 0, ours.CpuPerGB());
  }
  close(keepAlive);
  wait(nullptr);
  return 0;
}
