// yEnc decoding benchmark.
//
//   yenc_decode --generate random|escaped|half [--size BYTES] [--part BYTES] [--raw FILE] > bodies
//       writes article bodies of generated data (and the data itself to FILE);
//   yenc_decode [--kernel NAME] [--block BYTES] [--passes N] [--all] < bodies > decoded
//       decodes the bodies, writes exactly the decoded bytes to standard output and prints
//       figures on standard error: "MB/s: X" for the fastest kernel of this CPU and the
//       byte loop's figure, both measured the same way.
//
// Figures are decoded output bytes per second, MB = 10^6 bytes, decoding time only: the
// whole input is in memory, fed to the body decoder in blocks as a connection receives
// them, decoded into a separate output buffer (RAM to RAM). Time is the CPU time of the
// decoding thread, so other work on a shared machine does not count against it (a
// machine's other load still costs cache and memory bandwidth). Each figure is the
// median of the timed passes after one warm-up pass.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "YencBodyGenerator.h"
#include "core/Crc32.h"
#include "download/YencDecoder.h"
#include "download/YencKernel.h"

using namespace zev;
using namespace zev::bench;

namespace {

double ThreadSeconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct TOptions {
  std::string generate;      // escape mix to generate, empty: decode
  size_t size = 256u << 20;  // generated data bytes
  size_t part = 768000;      // generated part size (a typical 750 KB part)
  std::string rawFile;
  std::string kernel;        // empty: the fastest this CPU runs
  size_t block = 65536;
  int passes = 7;
  bool allKernels = false;
};

[[noreturn]] void Usage() {
  std::fprintf(stderr,
               "usage: yenc_decode --generate random|escaped|half [--size BYTES] [--part BYTES] [--raw FILE]\n"
               "       yenc_decode [--kernel NAME] [--block BYTES] [--passes N] [--all] < bodies > decoded\n");
  std::exit(2);
}

TOptions ParseOptions(int argc, char** argv) {
  TOptions o;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Usage();
      return argv[++i];
    };
    if (arg == "--generate") o.generate = value();
    else if (arg == "--size") o.size = std::stoull(value());
    else if (arg == "--part") o.part = std::stoull(value());
    else if (arg == "--raw") o.rawFile = value();
    else if (arg == "--kernel") o.kernel = value();
    else if (arg == "--block") o.block = std::stoull(value());
    else if (arg == "--passes") o.passes = std::stoi(value());
    else if (arg == "--all") o.allKernels = true;
    else Usage();
  }
  if (o.part == 0 || o.block == 0 || o.passes < 5) Usage();
  return o;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

std::string ReadAll(int fd) {
  std::string all;
  std::vector<char> chunk(1 << 20);
  ssize_t n;
  while ((n = ::read(fd, chunk.data(), chunk.size())) > 0) all.append(chunk.data(), static_cast<size_t>(n));
  return all;
}

int Generate(const TOptions& o) {
  TEscapeMix mix;
  if (!ParseEscapeMix(o.generate, mix)) Usage();
  std::vector<uint8_t> data = MakeData(mix, o.size, 12345);
  std::string bodies = MakeBodies(data, o.part);
  if (!o.rawFile.empty()) {
    FILE* f = std::fopen(o.rawFile.c_str(), "wb");
    if (!f || std::fwrite(data.data(), 1, data.size(), f) != data.size() || std::fclose(f) != 0) {
      std::perror(o.rawFile.c_str());
      return 1;
    }
  }
  return WriteAll(1, bodies.data(), bodies.size()) ? 0 : 1;
}

struct TPass {
  size_t decoded = 0;
  size_t bodies = 0;
  double seconds = 0;
};

// One pass over all bodies, as a connection would feed them.
TPass DecodeAll(const TYencKernel& kernel, bool crc, const std::string& input, size_t block, char* out) {
  TYencDecoder decoder(kernel);
  decoder.SetComputeCrc(crc);
  TPass pass;
  double start = ThreadSeconds();
  const char* in = input.data();
  size_t left = input.size();
  char* o = out;
  while (left > 0) {
    size_t size = std::min(block, left);
    TYencDecoder::TStep s;
    do {
      s = decoder.Step(in, size, o);
      in += s.consumed;
      size -= s.consumed;
      left -= s.consumed;
      o += s.produced;
      if (s.event == TYencDecoder::TEvent::BodyEnd) {
        ++pass.bodies;
        decoder.Reset();
      }
    } while (size > 0);
  }
  pass.seconds = ThreadSeconds() - start;
  pass.decoded = static_cast<size_t>(o - out);
  return pass;
}

double MedianMBps(const TYencKernel& kernel, bool crc, const TOptions& o, const std::string& input, char* out,
                  TPass& last) {
  DecodeAll(kernel, crc, input, o.block, out);  // warm-up
  std::vector<double> rates;
  for (int i = 0; i < o.passes; ++i) {
    last = DecodeAll(kernel, crc, input, o.block, out);
    rates.push_back(static_cast<double>(last.decoded) / last.seconds / 1e6);
  }
  std::sort(rates.begin(), rates.end());
  return rates[rates.size() / 2];
}

// CRC-32 speed over `size` bytes, each sample `repeat` runs (small sizes stay in cache).
double CrcMBps(const char* data, size_t size, int repeat, int passes) {
  std::vector<double> rates;
  uint32_t sink = 0;
  for (int i = 0; i <= passes; ++i) {
    double start = ThreadSeconds();
    for (int r = 0; r < repeat; ++r) sink ^= UpdateCrc32(data, size, sink);
    double seconds = ThreadSeconds() - start;
    if (i > 0) rates.push_back(static_cast<double>(size) * repeat / seconds / 1e6);
  }
  std::sort(rates.begin(), rates.end());
  if (sink == 0x5EED) std::fputc(' ', stderr);  // keeps the work from being optimised away
  return rates[rates.size() / 2];
}

int Decode(const TOptions& o) {
  const TYencKernel* best = o.kernel.empty() ? &BestYencKernel() : FindYencKernel(o.kernel.c_str());
  if (!best) {
    std::fprintf(stderr, "kernel \"%s\" is not available on this CPU\n", o.kernel.c_str());
    return 2;
  }
  std::string input = ReadAll(0);
  std::vector<char> out(input.size() + 64), check(input.size() + 64);

  TPass pass, bytePass;
  double mbps = MedianMBps(*best, false, o, input, out.data(), pass);
  double byteMbps = MedianMBps(*FindYencKernel("bytewise"), false, o, input, check.data(), bytePass);
  if (bytePass.decoded != pass.decoded || std::memcmp(out.data(), check.data(), pass.decoded) != 0) {
    std::fprintf(stderr, "the %s kernel and the byte loop disagree\n", best->name);
    return 1;
  }
  std::fprintf(stderr, "%zu input bytes, %zu bodies, %zu decoded bytes; blocks of %zu bytes; median of %d passes\n",
               input.size(), pass.bodies, pass.decoded, o.block, o.passes);
  std::fprintf(stderr, "kernel: %s\n", best->name);
  std::fprintf(stderr, "MB/s: %.0f\n", mbps);
  std::fprintf(stderr, "byte loop MB/s: %.0f\n", byteMbps);
  std::fprintf(stderr, "%s with CRC-32 MB/s: %.0f\n", best->name, MedianMBps(*best, true, o, input, check.data(), bytePass));
  if (o.allKernels) {
    for (const TYencKernel& kernel : YencKernels())
      if (&kernel != best && std::strcmp(kernel.name, "bytewise") != 0)
        std::fprintf(stderr, "%s MB/s: %.0f\n", kernel.name, MedianMBps(kernel, false, o, input, check.data(), bytePass));
  }
  const size_t cacheBlock = std::min<size_t>(65536, pass.decoded);
  if (cacheBlock > 0) {
    std::fprintf(stderr, "CRC-32 MB/s: %.0f (whole output), %.0f (64 KiB in cache)\n",
                 CrcMBps(out.data(), pass.decoded, 1, o.passes), CrcMBps(out.data(), cacheBlock, 2000, o.passes));
  }
  return WriteAll(1, out.data(), pass.decoded) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  TOptions o = ParseOptions(argc, argv);
  return o.generate.empty() ? Decode(o) : Generate(o);
}
