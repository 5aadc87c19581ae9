// A refresh of a large group from the test news server on loopback, over one connection,
// into an empty database, measured beside the read-and-discard client pulling the same
// overview ranges in the same run:
//   bench_refresh [ARTICLES=1000000] [RUNS=3] [CHUNK=10000]
// (a) the minimal client's time, (b) the refresh's time, their ratio, headers stored per
// second, a second refresh with nothing new, and the memory left in use after the refresh
// beyond the database's page caches. The best run of each is printed. Each run also shows
// the CPU time its named threads spent on (b): on a shared machine the storing thread's own
// time ("zev-handler") is steadier than the wall clock.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "ArticleStore.h"
#include "MinimalNntpClient.h"
#include "NewsServer.h"
#include "core/Config.h"
#include "core/Log.h"
#include "core/ZevIniFile.h"
#include "db/BTree.h"
#include "db/Group.h"
#include "db/GroupList.h"
#include "db/GroupTree.h"
#include "db/NwsStore.h"
#include "db/SGLst.h"
#include "db/ServerTree.h"
#include "download/Queue.h"
#include "nntp/ArtList.h"
#include "nntp/ConnectionPool.h"
#include "nntp/EngineParts.h"

using namespace zev;
using Clock = std::chrono::steady_clock;

namespace {

// Wakes the bench after every response block, so it sees the refresh end at once.
class TBlockSignal : public TResponseTarget {
 public:
  explicit TBlockSignal(TResponseTarget& inner) : inner_(inner) {}
  void HandleResponse(TConnectionFace& c, const FResponseBlock& b) override {
    inner_.HandleResponse(c, b);
    std::lock_guard lock(mutex_);
    changed_.notify_all();
  }
  std::unique_ptr<FPreparedBlock> Prepare(const FResponseBlock& b) override { return inner_.Prepare(b); }
  template <typename Pred>
  bool WaitFor(Pred done) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::minutes(30), done);
  }

 private:
  TResponseTarget& inner_;
  std::mutex mutex_;
  std::condition_variable changed_;
};

double MegabytesInUse() {
  std::ifstream in("/proc/self/status");
  std::string key;
  while (in >> key) {
    if (key == "VmRSS:") {
      double kb = 0;
      in >> kb;
      return kb / 1024;
    }
    in.ignore(1 << 16, '\n');
  }
  return 0;
}

// Per thread of this process: its name, the CPU seconds it ran and the seconds it stood
// ready to run but waited for a processor. A thread that has ended is no longer counted.
struct FThreadTime {
  std::string name;
  double cpu = 0, waited = 0;
};
using TThreadTimes = std::map<int, FThreadTime>;

// The kernel's scheduler counters in nanoseconds; without them, CPU ticks from "stat".
bool ReadThreadTime(const std::filesystem::path& task, FThreadTime& time) {
  std::ifstream sched(task / "schedstat");
  unsigned long long ran = 0, waited = 0;
  if (sched >> ran >> waited) {
    time.cpu = ran / 1e9;
    time.waited = waited / 1e9;
    return true;
  }
  std::string stat;
  std::getline(std::ifstream(task / "stat"), stat);
  // utime and stime are the 12th and 13th fields after the name in parentheses.
  const size_t close = stat.rfind(')');
  if (close == std::string::npos || close + 2 > stat.size()) return false;
  std::istringstream fields(stat.substr(close + 2));
  std::string field;
  double ticks = 0;
  for (int i = 0; i < 13 && fields >> field; ++i)
    if (i == 11 || i == 12) ticks += std::strtod(field.c_str(), nullptr);
  time.cpu = ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
  return true;
}

TThreadTimes ThreadTimes() {
  TThreadTimes times;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    FThreadTime time;
    std::getline(std::ifstream(task.path() / "comm"), time.name);
    if (ReadThreadTime(task.path(), time)) times[std::atoi(task.path().filename().c_str())] = time;
  }
  return times;
}

double ProcessCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

// What each named thread spent between two snapshots, the busiest first.
std::string CpuByThread(const TThreadTimes& before, const TThreadTimes& after) {
  std::map<std::string, FThreadTime> byName;
  for (const auto& [tid, time] : after) {
    auto it = before.find(tid);
    const bool same = it != before.end() && it->second.name == time.name;
    FThreadTime& sum = byName[time.name];
    sum.cpu += time.cpu - (same ? it->second.cpu : 0);
    sum.waited += time.waited - (same ? it->second.waited : 0);
  }
  std::vector<std::pair<double, std::string>> order;
  for (const auto& [name, time] : byName)
    if (time.cpu >= 0.005) order.emplace_back(time.cpu, name);
  std::sort(order.rbegin(), order.rend());
  std::string text;
  for (const auto& [cpu, name] : order) {
    char part[96];
    std::snprintf(part, sizeof part, "%s%s %.2f s (%.2f s waiting for a processor)", text.empty() ? "" : ", ",
                  name.c_str(), cpu, byName[name].waited);
    text += part;
  }
  return text;
}

struct FRun {
  double refresh = 0, second = 0, memory = 0, caches = 0, cacheHeld = 0;
  uint64_t stored = 0;
  std::string cpu;  // CPU time of the threads during the refresh
};

// One refresh into a fresh database in `dir`.
FRun RefreshOnce(const std::string& dir, uint16_t port, const std::string& group, uint32_t chunk) {
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  FRun run;
  TZevIniFile ini(dir + "Zev2.ini");
  TConfig config(ini, dir);
  config.Load();
  gConfig = &config;
  SetWarningsLevel(TWarningsLevel::Normal);
  SetErrorLogPath(dir + "error.log");
  TEngineParts engine;
  engine.CreateNewsStore(config.DataStore);
  engine.Store()->AutoSizeCaches(config);
  engine.CreateGroupList();
  engine.OpenNewsStore(true, false);
  engine.CreateHeaderRetrieval();
  engine.CreateQueue();
  engine.CreateKillWant();
  engine.CreateArticleAccessor();
  engine.CreateDecoder();
  engine.CreatePartCheck();
  engine.CreateExpirer(dir + "Expired.zev");
  run.caches = (int64_t{config.MsgCacheSize} + config.AuthCacheSize + config.SubjCacheSize + config.FileCacheSize +
                config.DirCacheSize) / 1048576.0;
  TBlockSignal signal(*engine.ArtList());
  engine.Queue()->SetResponseTarget(&signal);
  TServerTree& tree = *engine.Servers();
  TServer* server = tree.CreateServerNode("bench", snNewsServer, tree.Roots()[0].get());
  server->Exclude(sfInherit);
  server->SetHost("127.0.0.1");
  server->Port = port;
  server->MaxConn = 1;
  server->Flags = ServerFlagBit(sfAlways) | ServerFlagBit(sfChunks);
  server->ChunkSize = chunk;
  tree.AdjustSlots(*server);
  TGroupTree& groups = *engine.Groups();
  TGroup* g = groups.CreateGroupNode(gnNewsgroup, group, groups.Roots()[0].get());
  // The server's newsgroup list, as its first connection would have fetched it: only a
  // group the list shows on a server gets a server-group to refresh.
  engine.GroupList()->HandleListResponse(*server, group + " 999999999 1 y", true);
  engine.ServerGroups()->AddGroup(*g, tree);
  auto over = [&] {
    if (engine.Queue()->CountPendingServers(*g)) return false;
    for (const auto& sg : engine.ServerGroups()->EntriesOf(*g))
      if (!sg->RefreshIdle || engine.ArtList()->Refreshing(*sg)) return false;
    return true;
  };
  FConnectionEnv env;
  env.source = engine.Queue();
  TConnectionPool pool(env);
  for (double* seconds : {&run.refresh, &run.second}) {
    const TThreadTimes before = ThreadTimes();
    const double cpuBefore = ProcessCpuSeconds();
    const auto start = Clock::now();
    engine.Queue()->ScheduleRefresh(*g, false, rmPlain);
    pool.StartSlot(*server, false, -1);
    signal.WaitFor(over);
    *seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (seconds == &run.refresh) {
      char all[64];
      std::snprintf(all, sizeof all, "; all threads, ended ones too: %.2f s", ProcessCpuSeconds() - cpuBefore);
      run.cpu = CpuByThread(before, ThreadTimes()) + all;
      run.memory = MegabytesInUse();
      TNewsStore& store = *engine.Store();
      uint64_t held = 0;
      for (TBTree* t : {store.MsgLst(), store.AuthLst(), store.SubjLst(), store.FileLst(), store.DirLst()})
        if (t) held += t->CacheBytes();
      run.cacheHeld = held / 1048576.0;
      run.stored = engine.ArtList()->Stats().headersStored;
    }
  }
  pool.TerminateAll(true);
  pool.WaitAllEnded(std::chrono::seconds(30));
  engine.DestroyAll();
  gConfig = nullptr;
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t articles = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
  const int runs = std::max(1, argc > 2 ? std::atoi(argv[2]) : 3);
  const uint32_t chunk = argc > 3 ? static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)) : 10000;
  auto store = std::make_shared<testserver::TArticleStore>();
  testserver::FBulkOptions bulk;
  bulk.name = "zevrin.test.bulk";
  bulk.count = articles;
  bulk.maxPartsPerFile = 50;
  store->AddBulkGroup(bulk);
  testserver::FServerOptions options;
  options.bindAddresses = {"127.0.0.1"};
  options.keepTranscripts = false;
  testserver::TNewsServer server(store, options);
  server.Start();
  const std::string dir = std::filesystem::temp_directory_path().string() + "/zev_bench_refresh_" +
                          std::to_string(getpid()) + "/";
  std::printf("refresh of %llu overview lines in chunks of %u, one connection, best of %d runs\n",
              static_cast<unsigned long long>(articles), chunk, runs);
  double bestClient = 1e30;
  std::vector<double> ratios;  // (b) / (a) of each run: on a busy machine steadier than best over best
  FRun best;
  best.refresh = 1e30;
  for (int i = 0; i < runs; ++i) {
    bench::FMinimalClientOptions o;
    o.port = server.Port();
    o.group = bulk.name;
    o.first = 1;
    o.last = articles;
    o.command = "XOVER";
    o.xoverChunk = chunk;
    // One pass over the range, as the refresh makes.
    o.totalBytes = ~0ull;
    o.requests = (articles + chunk - 1) / chunk;
    const bench::FMinimalClientResult client = bench::RunMinimalClient(o);
    if (!client.error.empty()) {
      std::fprintf(stderr, "minimal client: %s\n", client.error.c_str());
      return 1;
    }
    bestClient = std::min(bestClient, client.seconds);
    const FRun run = RefreshOnce(dir, server.Port(), bulk.name, chunk);
    ratios.push_back(run.refresh / client.seconds);
    std::printf("run %d: (a) %.2f s, (b) %.2f s = %.2f x (a), %llu stored, second refresh %.3f s, %.0f MB in use "
                "(%.0f MB of it page caches, their limit %.0f MB)\n",
                i + 1, client.seconds, run.refresh, ratios.back(), static_cast<unsigned long long>(run.stored),
                run.second, run.memory, run.cacheHeld, run.caches);
    std::printf("  CPU during (b), threads still running at its end: %s\n", run.cpu.c_str());
    if (run.refresh < best.refresh) best = run;
  }
  server.Stop();
  std::filesystem::remove_all(dir);
  std::printf("(a) minimal client: %.2f s\n(b) refresh:        %.2f s  = %.2f x (a)\n", bestClient, best.refresh,
              best.refresh / bestClient);
  std::sort(ratios.begin(), ratios.end());
  std::printf("median of the runs' own ratios: %.2f x\n", ratios[ratios.size() / 2]);
  std::printf("headers stored per second: %.0f\nsecond refresh: %.3f s\n", best.stored / best.refresh, best.second);
  // Every buffer a cache has made was cleared when made, so it is resident: the rest of
  // the resident memory lies beyond the caches.
  std::printf("memory after the refresh: %.0f MB resident in all; the page caches hold %.0f MB of buffers "
              "(their limit: %.0f MB); %.0f MB beyond them\n",
              best.memory, best.cacheHeld, best.caches, std::max(0.0, best.memory - best.cacheHeld));
  return 0;
}
