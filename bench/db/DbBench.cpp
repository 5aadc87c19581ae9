// bench_db [--count N] [--cache MiB] [--dir DIR] [--strings-only 1]
// One run on a fresh directory: our article list against SQLite 3 on the same Message-IDs
// and records with the same cache size, then the string lists. Figures are printed; the
// goals are printed beside them, never asserted.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "MessageIds.h"
#include "SqliteStore.h"
#include "db/Article.h"
#include "db/BTree.h"
#include "db/MsgData.h"
#include "db/NwsStore.h"

using namespace zev;
using Clock = std::chrono::steady_clock;

namespace {

// Wall-clock and processor time of a phase. Other work on a shared machine stretches the
// wall clock; the processor time of this process is the steadier figure to compare.
struct TSpan {
  double wall = 0, cpu = 0;
};

double CpuNow() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

class TTimer {
 public:
  TTimer() : wall_(Clock::now()), cpu_(CpuNow()) {}
  TSpan Span() const { return {std::chrono::duration<double>(Clock::now() - wall_).count(), CpuNow() - cpu_}; }

 private:
  Clock::time_point wall_;
  double cpu_;
};

struct TFigures {
  TSpan insert, flush, hits, misses, map, reopen;
  uint64_t fileSize = 0;
};

FMsgData RecordFor(const std::string& id) {
  FMsgData r{};
  std::memcpy(r.FMsgId, id.data(), std::min<size_t>(8, id.size()));
  r.FRefCount = 1;
  r.FLines = 3000;
  r.FPartSize = 396000;
  return r;
}

TFigures RunOurs(const std::string& dir, int64_t cache, const std::vector<std::string>& ids,
                 const std::vector<std::string>& lookups, const std::vector<std::string>& absent) {
  TFigures f;
  std::string path = dir + "MsgLst.zev";
  const uint8_t options = boKeepCount | boKeysInNodes;
  auto tree = std::make_unique<TBTree>(path, options, cache, 77);
  TTimer timer;
  for (const std::string& id : ids) {
    FMsgData r = RecordFor(id);
    TDataPointer dp;
    if (!tree->Insert(id, &r, dp)) std::fprintf(stderr, "insert failed: %s\n", id.c_str());
  }
  f.insert = timer.Span();
  timer = TTimer();
  tree->Flush(true, true);
  f.flush = timer.Span();

  size_t found = 0;
  timer = TTimer();
  for (const std::string& id : lookups) {
    TDataPointer dp;
    FMsgData r;
    if (tree->Find(id, dp) && tree->ReadRecord(dp, &r)) ++found;
  }
  f.hits = timer.Span();
  if (found != lookups.size()) std::fprintf(stderr, "only %zu hits found\n", found);
  timer = TTimer();
  for (const std::string& id : absent) {
    TDataPointer dp;
    if (tree->Find(id, dp)) std::fprintf(stderr, "false hit %s\n", id.c_str());
  }
  f.misses = timer.Span();
  timer = TTimer();
  std::vector<TDataPointer> map = tree->GetMap();
  f.map = timer.Span();
  if (map.size() != ids.size()) std::fprintf(stderr, "GetMap gave %zu\n", map.size());

  tree.reset();
  timer = TTimer();
  tree = std::make_unique<TBTree>(path, options, cache, 77);
  f.reopen = timer.Span();
  TDataPointer dp;
  if (!tree->Find(ids.front(), dp)) std::fprintf(stderr, "reopened tree lost a key\n");
  tree.reset();
  f.fileSize = std::filesystem::file_size(path);
  return f;
}

TFigures RunSqlite(const std::string& dir, int64_t cache, const std::vector<std::string>& ids,
                   const std::vector<std::string>& lookups, const std::vector<std::string>& absent) {
  TFigures f;
  std::string path = dir + "msg.sqlite";
  FMsgData r = RecordFor(ids.front());
  auto store = std::make_unique<bench::TSqliteStore>(path, cache);
  TTimer timer;
  store->InsertAll(ids, reinterpret_cast<const unsigned char*>(&r));
  f.insert = timer.Span();
  timer = TTimer();
  size_t found = store->FindAll(lookups);
  f.hits = timer.Span();
  if (found != lookups.size()) std::fprintf(stderr, "sqlite found only %zu\n", found);
  timer = TTimer();
  if (store->FindAll(absent) != 0) std::fprintf(stderr, "sqlite false hits\n");
  f.misses = timer.Span();
  store.reset();  // closing checkpoints the WAL into the database file
  timer = TTimer();
  store = std::make_unique<bench::TSqliteStore>(path, cache);
  store->FindAll({ids.front()});
  f.reopen = timer.Span();
  store.reset();
  f.fileSize = std::filesystem::file_size(path);
  return f;
}

void Row(const char* what, TSpan ours, TSpan theirs, const char* goal) {
  std::printf("%-26s %9.3f %9.3f %5.2fx  %9.3f %9.3f %5.2fx  %s\n", what, ours.wall, theirs.wall,
              ours.wall > 0 ? theirs.wall / ours.wall : 0, ours.cpu, theirs.cpu, ours.cpu > 0 ? theirs.cpu / ours.cpu : 0,
              goal);
}

TSpan Plus(TSpan a, TSpan b) { return {a.wall + b.wall, a.cpu + b.cpu}; }

// Per article: the subject and the author into their lists, or one more reference when
// the text is there already (what TArticle.SetSubject/SetAuthor do for a new article).
void RunStringLists(const std::string& dir, size_t count) {
  std::vector<std::string> subjects, authors;
  bench::MakeSubjectsAndAuthors(count, 99, subjects, authors);
  TBTree subj(dir + "SubjLst.zev", boKeepCount | boPrecache, 16 << 20, 8);
  TBTree auth(dir + "AuthLst.zev", boKeepCount | boCaseInsensitive | boPrecache, 16 << 20, 8);
  const int32_t plusOne[2] = {0, 1};
  TTimer timer;
  for (size_t i = 0; i < count; ++i) {
    for (auto [list, text] : {std::pair{&subj, &subjects[i]}, std::pair{&auth, &authors[i]}}) {
      uint8_t header[8] = {0, 0, 0, 0, 1, 0, 0, 0};
      TDataPointer dp;
      list->Insert(*text, header, dp, plusOne);
    }
  }
  TSpan span = timer.Span();
  std::printf("\nString lists: %zu articles (%u distinct subjects, %u distinct authors)\n", count,
              subj.RecordCount(), auth.RecordCount());
  std::printf("  insert + reference count: %.3f s (cpu %.3f s), %.0f articles/s (cpu: %.0f/s), %.0f texts/s; "
              "goal >= 500000/s\n",
              span.wall, span.cpu, count / span.wall, count / span.cpu, 2 * count / span.wall);

  // The same through the article accessor, record creation included.
  TNewsStore store;
  store.SetPath(dir + "store/");
  std::filesystem::create_directories(dir + "store/");
  store.SetCacheSizes(TStoreCacheSizes{256 << 20, 16 << 20, 16 << 20, 16 << 20});
  store.SetActive(true);
  TArticle art(store);
  std::vector<std::string> ids, unused;
  bench::MakeMessageIds(count, 5, ids, unused);
  timer = TTimer();
  for (size_t i = 0; i < count; ++i) {
    TArticleOffset offset;
    art.New(ids[i], offset);
    art.SetSubject(subjects[i]);
    art.SetAuthor(authors[i]);
  }
  art.Clear();
  span = timer.Span();
  std::printf("  through TArticle (New + SetSubject + SetAuthor): %.3f s (cpu %.3f s), %.0f articles/s (cpu: %.0f/s)\n",
              span.wall, span.cpu, count / span.wall, count / span.cpu);
}

}  // namespace

int main(int argc, char** argv) {
  size_t count = 1000000;
  int64_t cache = -1;
  std::string dir;
  bool stringsOnly = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--count")) count = std::strtoull(argv[i + 1], nullptr, 10);
    else if (!std::strcmp(argv[i], "--cache")) cache = std::strtoll(argv[i + 1], nullptr, 10) << 20;
    else if (!std::strcmp(argv[i], "--dir")) dir = argv[i + 1];
    else if (!std::strcmp(argv[i], "--strings-only")) stringsOnly = std::strcmp(argv[i + 1], "0") != 0;
  }
  if (dir.empty()) {
    char temp[] = "/tmp/zevbenchXXXXXX";
    if (!mkdtemp(temp)) return 1;
    dir = temp;
  }
  if (dir.back() != '/') dir += '/';
  std::filesystem::create_directories(dir);
  if (cache < 0) cache = TNewsStore().RecommendedCacheSize(ckArticles);

  if (stringsOnly) {
    RunStringLists(dir, count);
    std::filesystem::remove_all(dir);
    return 0;
  }
  std::vector<std::string> ids, absent;
  bench::MakeMessageIds(count, 42, ids, absent);
  std::vector<std::string> lookups = ids;
  std::shuffle(lookups.begin(), lookups.end(), std::mt19937_64(7));
  std::printf("%zu Message-IDs, 77-byte records, cache %lld MiB for both, directory %s\n", count,
              static_cast<long long>(cache >> 20), dir.c_str());

  TFigures ours = RunOurs(dir, cache, ids, lookups, absent);
  TFigures sqlite = RunSqlite(dir, cache, ids, lookups, absent);
  std::printf("\n%-26s %9s %9s %6s  %9s %9s %6s\n", "seconds", "ours", "SQLite", "ratio", "ours cpu", "SQLite", "ratio");
  Row("insert", ours.insert, sqlite.insert, "goal: ratio >= 1");
  Row("insert + flush to disk", Plus(ours.insert, ours.flush), sqlite.insert, "(ours synced, SQLite not)");
  Row("find, hits (+ read record)", ours.hits, sqlite.hits, "goal: ratio >= 1.5");
  Row("find, misses", ours.misses, sqlite.misses, "goal: ratio >= 1.5");
  std::printf("%-26s %9.3f %23s %9.3f %23s goal: < 0.5 s\n", "GetMap", ours.map.wall, "", ours.map.cpu, "");
  Row("reopen", ours.reopen, sqlite.reopen, "goal: ours < 0.2 s");
  std::printf("%-26s %7.1f MB %6.1f MB %5.2fx  %38s goal: ours <= SQLite\n", "file size", ours.fileSize / 1e6,
              sqlite.fileSize / 1e6, static_cast<double>(sqlite.fileSize) / ours.fileSize, "");
  RunStringLists(dir, count);
  std::filesystem::remove_all(dir);
  return 0;
}
