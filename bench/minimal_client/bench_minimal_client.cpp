// What a read-and-discard client reaches against zevrin-newsd on loopback: 1 GiB of
// ~765 KB yEnc bodies with 1 and with 8 connections. The server runs in this process on
// its own threads; the client's CPU time counts its own threads only.
//   bench_minimal_client [SIZE_MIB=1024] [RUNS=3]
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "ArticleGenerator.h"
#include "MinimalNntpClient.h"
#include "NewsServer.h"

using namespace zev::testserver;

int main(int argc, char** argv) {
  const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  auto store = std::make_shared<TArticleStore>();
  TArticleGenerator generator(*store, 1);
  generator.PostBenchSet("zevrin.test.bench", mib << 20, 750000);
  uint64_t last = 0;
  {
    auto lock = store->ReadLock();
    last = store->FindGroup("zevrin.test.bench")->High();
  }
  FServerOptions options;
  options.bindAddresses = {"127.0.0.1"};
  TNewsServer server(store, options);
  server.Start();
  std::printf("zevrin-newsd in-process: %llu articles of ~765 KB in zevrin.test.bench\n",
              static_cast<unsigned long long>(last));
  for (int connections : {1, 8}) {
    for (int pipeline : {1, 4}) {
      zev::bench::FMinimalClientResult best;
      for (int run = 0; run < runs; ++run) {
        zev::bench::FMinimalClientOptions o;
        o.port = server.Port();
        o.group = "zevrin.test.bench";
        o.first = 1;
        o.last = last;
        o.connections = connections;
        o.pipeline = pipeline;
        o.totalBytes = mib << 20;
        auto r = zev::bench::RunMinimalClient(o);
        if (!r.error.empty()) {
          std::fprintf(stderr, "error: %s\n", r.error.c_str());
          return 1;
        }
        if (r.MBps() > best.MBps()) best = r;
      }
      std::printf("%d connection(s), pipeline %d: best of %d: %.0f MB/s (%.2f s for %.0f MB), client CPU %.2f s per GB\n",
                  connections, pipeline, runs, best.MBps(), best.seconds, best.bytes / 1e6, best.CpuSecondsPerGB());
    }
  }
  server.Stop();
  return 0;
}
