// The newsgroup list at a large provider's size: a "list" of GROUPS groups (about 6 MB)
// from the test server on loopback through a real connection into the group index and the
// count file; then the Newsgroups grid's rows over it: reading every name, filtering by a
// substring, sorting; and the memory all of it takes.
//
//   bench_grouplist [GROUPS=150000] [RUNS=3]
//
// Goals: the list stored in under 2 s, a filter under 50 ms, the list under 60 MB. The
// server runs in a child process so that memory figures are the program's side alone.
// Each figure is the best of RUNS (other work on the machine only ever slows a run down).
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>

#include "ArticleStore.h"
#include "GroupListGenerator.h"
#include "NewsServer.h"
#include "core/Config.h"
#include "core/Log.h"
#include "core/ZevIniFile.h"
#include "db/GroupCountFile.h"
#include "db/GroupList.h"
#include "db/GroupListRows.h"
#include "db/ServerTree.h"
#include "download/CommandSource.h"
#include "nntp/ConnectionPool.h"
#include "nntp/GroupListFeed.h"

using namespace zev;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// Resident memory of this process in bytes ("VmRSS" or "VmHWM").
uint64_t MemoryField(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string key;
  while (in >> key) {
    uint64_t kb = 0;
    if (key == std::string(field) + ":" && in >> kb) return kb * 1024;
    in.ignore(1 << 20, '\n');
  }
  return 0;
}

double MB(uint64_t bytes) { return static_cast<double>(bytes) / 1e6; }

// Runs the server with the generated list in a child until this process closes `keepAlive`.
uint16_t StartServerProcess(uint64_t groups, int& keepAliveWrite, uint64_t& listBytes) {
  int info[2], keepAlive[2];
  if (pipe(info) != 0 || pipe(keepAlive) != 0) std::exit(2);
  if (fork() == 0) {
    close(info[0]);
    close(keepAlive[1]);
    auto store = std::make_shared<testserver::TArticleStore>();
    testserver::FGroupListOptions options;
    options.count = groups;
    testserver::AddGeneratedGroups(*store, options);
    uint64_t bytes = 0;
    {
      auto lock = store->ReadLock();
      for (const testserver::TNewsGroup* g : store->Groups()) bytes += g->Name().size() + 26;
    }
    testserver::FServerOptions serverOptions;
    serverOptions.bindAddresses = {"127.0.0.1"};
    serverOptions.keepTranscripts = false;
    testserver::TNewsServer server(store, serverOptions);
    server.Start();
    const uint64_t out[2] = {server.Port(), bytes};
    if (write(info[1], out, sizeof out) != sizeof out) _exit(2);
    char c;
    while (read(keepAlive[0], &c, 1) > 0) {
    }
    server.Stop();
    _exit(0);
  }
  close(info[1]);
  close(keepAlive[0]);
  keepAliveWrite = keepAlive[1];
  uint64_t out[2] = {};
  if (read(info[0], out, sizeof out) != sizeof out) std::exit(2);
  close(info[0]);
  listBytes = out[1];
  return static_cast<uint16_t>(out[0]);
}

// No queue work: the connection only runs its start-up, which downloads the list.
class TIdleSource final : public TCommandSource {
 public:
  void NextCommand(TConnectionFace& connection) override { connection.SetReady(); }
  void CommandFailed(TConnectionFace&) override {}
  void ReleaseItem(TConnectionFace& connection) override { connection.SetCurrentItem(nullptr); }
  bool WorkAvailable(TServer&) override { return false; }
};

// The real feed, with a signal when the server's date arrives: the connection hands the
// date over only after the list's handler has finished storing it.
class TTimedFeed final : public TNewsgroupFeed {
 public:
  explicit TTimedFeed(TGroupList& list) : feed_(list) {}
  void HandleResponse(TConnectionFace& c, const FResponseBlock& b) override { feed_.HandleResponse(c, b); }
  TDateTime LastUpdate(const TServer& s) override { return feed_.LastUpdate(s); }
  void SetLastUpdate(const TServer& s, TDateTime t) override {
    feed_.SetLastUpdate(s, t);
    std::lock_guard lock(mutex_);
    done_ = true;
    changed_.notify_all();
  }
  bool Wait() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(120), [this] { return done_; });
  }

 private:
  TGroupListFeed feed_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool done_ = false;
};

struct FListRun {
  double seconds = 0;
  uint32_t groups = 0;
  uint64_t indexBytes = 0, countBytes = 0, rssGrowth = 0;
};

// One first connection to a fresh data directory: "list" until the list is stored.
FListRun RunList(uint16_t port, const std::string& dir) {
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  TZevIniFile ini("");
  TConfig config(ini, dir);
  gConfig = &config;
  TServerTree tree(ini);
  TServer* root = tree.CreateServerNode("Servers", snRoot, nullptr);
  TServer* server = tree.CreateServerNode("Bench", snNewsServer, root);
  server->Exclude(sfInherit);
  server->SetHost("127.0.0.1");
  server->Port = port;
  server->MaxConn = 1;
  tree.AdjustSlots(*server);
  FListRun run;
  const uint64_t rss0 = MemoryField("VmRSS");
  {
    TGroupList list(dir, config.GrpCacheSize);
    TTimedFeed feed(list);
    TIdleSource source;
    FConnectionEnv env;
    env.source = &source;
    env.feed = &feed;
    TConnectionPool pool(env);
    const auto start = Clock::now();
    pool.StartSlot(*server, false, 1);
    if (!feed.Wait()) std::fprintf(stderr, "the list did not arrive\n");
    run.seconds = Seconds(start);
    run.rssGrowth = MemoryField("VmRSS") - rss0;
    run.groups = list.GroupCount();
    pool.TerminateAll(true);
    pool.WaitAllEnded(std::chrono::seconds(30));
  }
  run.indexBytes = std::filesystem::file_size(dir + "GrpLst.zev");
  run.countBytes = std::filesystem::file_size(TGroupCountFile::Of(*server).Path());
  gConfig = nullptr;
  return run;
}

double BestOf(int runs, const std::function<void()>& fn) {
  double best = 1e9;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    fn();
    best = std::min(best, Seconds(start));
  }
  return best;
}

void RunGrid(uint16_t port, const std::string& dir, int runs) {
  TZevIniFile ini("");
  TConfig config(ini, dir);
  gConfig = &config;
  TServerTree tree(ini);
  TServer* root = tree.CreateServerNode("Servers", snRoot, nullptr);
  TServer* server = tree.CreateServerNode("Bench", snNewsServer, root);
  server->SetHost("127.0.0.1");
  server->Port = port;

  const uint64_t rss0 = MemoryField("VmRSS");
  TGroupList list(dir, config.GrpCacheSize);
  TGroupListRows rows(list);
  rows.SetServerColumns({server});
  const double rebuild = BestOf(runs, [&] { rows.Rebuild(); });
  const uint64_t rss = MemoryField("VmRSS") - rss0;
  std::printf("  grid: read %zu names into the rows          %7.1f ms\n", rows.TotalGroups(), rebuild * 1e3);
  for (const char* filter : {"bin", "linux", "tv1", "a", "alt.binaries.tv", "no-such-text"}) {
    const double t = BestOf(runs, [&] {
      rows.SetFilter("");
      rows.SetFilter(filter);
    });
    const std::string quoted = "\"" + std::string(filter) + "\"";
    std::printf("  filter %-18s %6zu rows                  %7.1f ms  (goal < 50 ms)\n", quoted.c_str(),
                rows.RowCount(), t * 1e3);
  }
  rows.SetFilter("");
  const double byCount = BestOf(runs, [&] { rows.Sort(0, true, true); });
  const double byName = BestOf(runs, [&] { rows.Sort(-1, false, true); });
  std::printf("  sort %zu rows by the server's counts           %7.1f ms\n", rows.RowCount(), byCount * 1e3);
  std::printf("  sort %zu rows by name                          %7.1f ms\n", rows.RowCount(), byName * 1e3);
  // A screenful at a random place, as scrolling asks for it.
  const double page = BestOf(runs, [&] {
    uint64_t sum = 0;
    for (size_t r = rows.RowCount() / 2; r < rows.RowCount() / 2 + 60; ++r)
      sum += rows.RowName(r).size() + rows.ArticleCount(r, 0);
    if (sum == 0) std::printf("?");
  });
  std::printf("  one screen of 60 rows                           %7.3f ms\n", page * 1e3);
  std::printf("  memory of the list with its rows: %.1f MB resident  (goal < 60 MB)\n", MB(rss));
  gConfig = nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t groups = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 150000;
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  SetErrorLogPath("/dev/null");
  int keepAlive = -1;
  uint64_t listBytes = 0;
  const uint16_t port = StartServerProcess(groups, keepAlive, listBytes);
  const std::string dir = (std::filesystem::temp_directory_path() / "zev_bench_grouplist/").string();
  std::printf("test server in a child process: %llu groups, LIST of %.1f MB; best of %d runs\n",
              static_cast<unsigned long long>(groups), MB(listBytes), runs);
  FListRun best;
  for (int i = 0; i < runs; ++i) {
    const FListRun run = RunList(port, dir);
    if (i == 0 || run.seconds < best.seconds) best = run;
  }
  std::printf("  first connection: list stored (%u groups)      %7.0f ms  (goal < 2000 ms)\n", best.groups,
              best.seconds * 1e3);
  std::printf("  files: index %.1f MB, count file %.1f MB; memory while storing %.1f MB\n", MB(best.indexBytes),
              MB(best.countBytes), MB(best.rssGrowth));
  RunGrid(port, dir, runs);
  std::printf("  peak resident memory of this process: %.1f MB\n", MB(MemoryField("VmHWM")));
  close(keepAlive);
  wait(nullptr);
  std::filesystem::remove_all(dir);
  return 0;
}
