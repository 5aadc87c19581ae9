// nntp_minimal_client: read-and-discard NNTP client for measuring what a server (ours
// or INN) can deliver, e.g.
//   nntp_minimal_client --port 1119 --group zevrin.test.bench --range 1-1400 --connections 8 --bytes 1G
#include <cstdio>
#include <cstdlib>
#include <string>

#include "MinimalNntpClient.h"

using zev::bench::FMinimalClientOptions;

namespace {

bool ParseBytes(std::string text, uint64_t& out) {
  uint64_t unit = 1;
  if (!text.empty() && (text.back() == 'G' || text.back() == 'M' || text.back() == 'K')) {
    unit = text.back() == 'G' ? 1ull << 30 : text.back() == 'M' ? 1ull << 20 : 1ull << 10;
    text.pop_back();
  }
  char* end = nullptr;
  out = std::strtoull(text.c_str(), &end, 10) * unit;
  return !text.empty() && *end == '\0';
}

int Usage() {
  std::fprintf(stderr,
               "usage: nntp_minimal_client [--host H] [--port N] --group G --range FIRST-LAST [--connections N]\n"
               "       [--pipeline N] [--bytes SIZE] [--command BODY|ARTICLE|HEAD|XOVER] [--xover-chunk N]\n"
               "       [--user U --password P]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  FMinimalClientOptions o;
  for (int i = 1; i + 1 < argc + 1; ++i) {
    std::string a = argv[i];
    if (i + 1 >= argc) return Usage();
    std::string v = argv[++i];
    uint64_t n = 0;
    if (a == "--host") o.host = v;
    else if (a == "--port") o.port = static_cast<uint16_t>(std::atoi(v.c_str()));
    else if (a == "--group") o.group = v;
    else if (a == "--range") {
      size_t dash = v.find('-');
      if (dash == std::string::npos) return Usage();
      o.first = std::strtoull(v.c_str(), nullptr, 10);
      o.last = std::strtoull(v.c_str() + dash + 1, nullptr, 10);
    } else if (a == "--connections") o.connections = std::atoi(v.c_str());
    else if (a == "--pipeline") o.pipeline = std::atoi(v.c_str());
    else if (a == "--bytes") {
      if (!ParseBytes(v, n)) return Usage();
      o.totalBytes = n;
    } else if (a == "--command") o.command = v;
    else if (a == "--xover-chunk") o.xoverChunk = std::strtoull(v.c_str(), nullptr, 10);
    else if (a == "--user") o.user = v;
    else if (a == "--password") o.password = v;
    else return Usage();
  }
  if (o.first == 0 || o.last < o.first || o.connections < 1 || o.pipeline < 1) return Usage();
  const auto r = zev::bench::RunMinimalClient(o);
  std::printf("minimal client: %d connection(s), pipeline %d: %.1f MB in %.2f s = %.1f MB/s, %llu answers, "
              "client CPU %.2f s (%.2f s per GB)\n",
              o.connections, o.pipeline, r.bytes / 1e6, r.seconds, r.MBps(),
              static_cast<unsigned long long>(r.responses), r.cpuSeconds, r.CpuSecondsPerGB());
  if (!r.error.empty()) {
    std::fprintf(stderr, "nntp_minimal_client: %s\n", r.error.c_str());
    return 1;
  }
  return 0;
}
