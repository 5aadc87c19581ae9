// The whole download path against the most any client can reach: zevrin-newsd serves
// ~1 GiB of yEnc posts (files of 20 to 50 parts of ~750 KB) from this process; in the same
// run the read-and-discard client fetches every body with 8 connections, and `zevrin-cli
// get` downloads, decodes and assembles all files with 8 connections. Prints both
// throughputs, their ratio and zevrin-cli's CPU time per GB (its user and system time,
// measured by the kernel). Every file zevrin-cli reports must have its post's size and
// CRC-32, or the run counts as failed. The header refresh before the download is not timed.
//   bench_download [SIZE_MIB=1024] [RUNS=3] [WORK_DIR=/tmp/zev-bench-download]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ArticleGenerator.h"
#include "MinimalNntpClient.h"
#include "NewsServer.h"

using namespace zev::testserver;
namespace fs = std::filesystem;

namespace {

constexpr const char* kGroup = "zevrin.bench.download";

struct FChild {
  int status = -1;
  double seconds = 0, cpuSeconds = 0, systemSeconds = 0;
};

// Runs zevrin-cli with `args`, its settings and downloads kept in `work`; its standard
// output goes to `out`.
FChild RunCli(const std::string& work, const std::vector<std::string>& args, const std::string& out) {
  // The child must not write out what this process has buffered.
  std::fflush(stdout);
  std::fflush(stderr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("XDG_CONFIG_HOME", work.c_str(), 1);
    setenv("XDG_DATA_HOME", work.c_str(), 1);
    setenv("XDG_DOWNLOAD_DIR", (work + "/dl").c_str(), 1);
    if (!freopen(out.c_str(), "w", stdout)) _exit(126);
    std::vector<std::string> all = {ZEV_CLI_PATH, "-ini", work + "/Zev2.ini"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  FChild child;
  rusage usage{};
  wait4(pid, &child.status, 0, &usage);
  child.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  child.systemSeconds = usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
  child.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + child.systemSeconds;
  return child;
}

bool Ok(const FChild& c) { return WIFEXITED(c.status) && WEXITSTATUS(c.status) == 0; }

// MB/s of writing `bytes` into a new file in `dir` in 1 MiB blocks, as far as the kernel
// takes them (no sync): what saving the decoded files costs at the least on this disk.
double DiskWriteMBps(const std::string& dir, uint64_t bytes) {
  const std::string path = dir + "/disk-yardstick.bin";
  const std::vector<char> block(1 << 20, 'x');
  const auto start = std::chrono::steady_clock::now();
  {
    std::ofstream out(path, std::ios::binary);
    for (uint64_t done = 0; done < bytes && out; done += block.size()) out.write(block.data(), block.size());
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  fs::remove(path);
  return bytes / seconds / 1e6;
}

// Files of 20 to 50 parts, as posters split them, until `totalBytes` are posted.
void PostFiles(TArticleGenerator& generator, uint64_t totalBytes, uint32_t partSize) {
  const uint32_t partCounts[] = {20, 35, 50, 27, 42, 31, 48, 24};
  uint64_t posted = 0;
  for (uint32_t fileNo = 1; posted < totalBytes; ++fileNo) {
    FFilePlan plan;
    plan.groups = {kGroup};
    plan.partSize = partSize;
    plan.size = std::min<uint64_t>(uint64_t{partCounts[fileNo % 8]} * partSize, totalBytes - posted);
    plan.name = "holiday.part" + std::to_string(fileNo) + ".rar";
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "[%u] - ", fileNo);
    plan.subjectPrefix = prefix;
    generator.PostYenc(plan);
    posted += plan.size;
  }
}

// The files zevrin-cli printed ("PATH<TAB>SIZE<TAB>CRC32") that match their posts.
uint64_t GoodFiles(const std::string& printed, const FManifest& manifest, std::string& problem) {
  std::map<std::string, const FManifestFile*> posted;
  for (const FManifestFile& f : manifest.files) posted[f.name] = &f;
  uint64_t good = 0;
  std::istringstream lines(printed);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream cells(line);
    std::string path, size, crc, extra;
    std::getline(cells, path, '\t');
    std::getline(cells, size, '\t');
    std::getline(cells, crc, '\t');
    std::getline(cells, extra, '\t');
    const std::string name = fs::path(path).filename().string();
    auto it = posted.find(name);
    char want[16];
    if (it != posted.end()) std::snprintf(want, sizeof want, "%08X", it->second->crc32);
    if (it == posted.end() || !extra.empty() || size != std::to_string(it->second->size) || crc != want) {
      problem = "unexpected or damaged file: " + line;
      continue;
    }
    ++good;
  }
  return good;
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  const std::string workRoot = argc > 3 ? argv[3] : "/tmp/zev-bench-download";
  auto store = std::make_shared<TArticleStore>();
  TArticleGenerator generator(*store, 1);
  PostFiles(generator, mib << 20, 750000);
  uint64_t last = 0, bodyBytes = 0, files = 0;
  {
    auto lock = store->ReadLock();
    const TNewsGroup* group = store->FindGroup(kGroup);
    last = group->High();
    for (uint64_t n = group->Low(); n <= last; ++n)
      if (auto a = group->Article(n)) bodyBytes += a->Body().size();
  }
  files = generator.Manifest().files.size();
  FServerOptions options;
  options.bindAddresses = {"127.0.0.1"};
  TNewsServer server(store, options);
  server.Start();
  const std::string host = "127.0.0.1:" + std::to_string(server.Port());
  std::printf("zevrin-newsd in-process: %llu articles, %llu files, %.0f MB of bodies in %s\n",
              static_cast<unsigned long long>(last), static_cast<unsigned long long>(files), bodyBytes / 1e6, kGroup);

  double bestMinimal = 0, bestZevrin = 0, bestCpuPerGB = 0;
  for (int run = 0; run < runs; ++run) {
    zev::bench::FMinimalClientOptions o;
    o.port = server.Port();
    o.group = kGroup;
    o.first = 1;
    o.last = last;
    o.connections = 8;
    o.totalBytes = bodyBytes;
    const auto minimal = zev::bench::RunMinimalClient(o);
    if (!minimal.error.empty()) {
      std::fprintf(stderr, "minimal client: %s\n", minimal.error.c_str());
      return 1;
    }

    const std::string work = workRoot + "/run" + std::to_string(run);
    fs::remove_all(work);
    fs::create_directories(work + "/dl");
    const double diskMBps = DiskWriteMBps(work, bodyBytes);
    const std::string out = work + "/cli.out";
    const bool prepared = Ok(RunCli(work, {"add-server", host, "--connections", "8"}, out)) &&
                          Ok(RunCli(work, {"subscribe", kGroup}, out)) && Ok(RunCli(work, {"refresh", kGroup}, out));
    if (!prepared) {
      std::fprintf(stderr, "zevrin-cli could not be set up in %s\n", work.c_str());
      return 1;
    }
    const FChild get = RunCli(work, {"get", kGroup, "*"}, out);
    std::ifstream printedFile(out);
    const std::string printed((std::istreambuf_iterator<char>(printedFile)), {});
    std::string problem;
    const uint64_t complete = GoodFiles(printed, generator.Manifest(), problem);
    uint64_t written = 0;
    for (const auto& e : fs::recursive_directory_iterator(work + "/dl"))
      if (e.is_regular_file() && e.path().extension() == ".rar") written += e.file_size();
    fs::remove_all(work);
    if (!Ok(get) || complete != files) {
      std::fprintf(stderr, "zevrin-cli get failed (status %d, %llu of %llu files good) %s\n", get.status,
                   static_cast<unsigned long long>(complete), static_cast<unsigned long long>(files), problem.c_str());
      return 1;
    }
    const double zevrinMBps = bodyBytes / get.seconds / 1e6;
    const double cpuPerGB = get.cpuSeconds * 1e9 / bodyBytes;
    std::printf("run %d: minimal client %.0f MB/s (%.2f s); zevrin-cli get %.0f MB/s (%.2f s, %.0f MB decoded), "
                "%.0f%% of the minimal client; zevrin-cli CPU %.2f s per GB (%.2f s of it in the kernel); "
                "writing as much to the download disk alone %.0f MB/s\n",
                run + 1, minimal.MBps(), minimal.seconds, zevrinMBps, get.seconds, written / 1e6,
                100 * zevrinMBps / minimal.MBps(), cpuPerGB, get.systemSeconds * 1e9 / bodyBytes, diskMBps);
    if (minimal.MBps() > bestMinimal) bestMinimal = minimal.MBps();
    if (zevrinMBps > bestZevrin) {
      bestZevrin = zevrinMBps;
      bestCpuPerGB = cpuPerGB;
    }
  }
  std::printf("best of %d: minimal client %.0f MB/s, zevrin-cli get %.0f MB/s = %.0f%% (goal: at least 70%%); "
              "zevrin-cli CPU %.2f s per GB\n",
              runs, bestMinimal, bestZevrin, 100 * bestZevrin / bestMinimal, bestCpuPerGB);
  server.Stop();
  return 0;
}
