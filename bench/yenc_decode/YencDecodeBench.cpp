// yEnc decoding benchmark.
//
//   yenc_decode --generate random|escaped|half [--size BYTES] [--part BYTES] [--raw FILE] > bodies
//       writes article bodies of generated data (and the data itself to FILE);
//   yenc_decode [--kernel NAME] [--block BYTES] [--passes N] [--all] < bodies > decoded
//       decodes the bodies, writes exactly the decoded bytes to standard output and prints
//       figures on standard error: "MB/s: X" for the fastest kernel of this CPU and the
//       byte loop's figure, both measured the same way.
//
// Figures are decoded output bytes per second, MB = 10^6 bytes, decoding time only (the
// main figure is also given in input bytes per second, which is larger for escaped data): the
// whole input is in memory and fed to the body decoder in blocks, as a connection
// receives them. "MB/s" decodes from the input buffer into a separate output buffer, so
// both stream through RAM; "in receive buffer" first copies blocks (untimed) into a small
// buffer and decodes each there in place, as the program does with what a socket just
// delivered. Time is the CPU time of the decoding thread, so other
// work on a shared machine does not count against it (it still costs cache and memory
// bandwidth). All ways of decoding take turns, one pass each, so load on the machine
// falls on all alike; among them a pass that only reads the input and writes the decoded
// size shows what memory alone allows on this machine. Each figure is the median of the
// timed passes after one warm-up round; the best pass is shown as well because a busy
// machine spreads them widely.
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
               "       yenc_decode [--kernel NAME] [--block BYTES] [--passes N>=5] [--all] < bodies > decoded\n");
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

// Feeds one block to the decoder until it is used up; `out` advances over the output.
void DecodeBlock(TYencDecoder& decoder, const char* in, size_t size, char*& out, TPass& pass) {
  TYencDecoder::TStep s;
  do {
    s = decoder.Step(in, size, out);
    in += s.consumed;
    size -= s.consumed;
    out += s.produced;
    if (s.event == TYencDecoder::TEvent::BodyEnd) {
      ++pass.bodies;
      decoder.Reset();
    }
  } while (size > 0);
}

// One pass over all bodies from the input buffer into `out`.
TPass DecodeFromMemory(TYencDecoder& decoder, const std::string& input, size_t block, char* out) {
  TPass pass;
  char* o = out;
  double start = ThreadSeconds();
  for (size_t at = 0; at < input.size(); at += block)
    DecodeBlock(decoder, input.data() + at, std::min(block, input.size() - at), o, pass);
  pass.seconds = ThreadSeconds() - start;
  pass.decoded = static_cast<size_t>(o - out);
  return pass;
}

// One pass, each block decoded in place in a receive buffer; only decoding is timed. The
// buffer holds four blocks, copied in together, so that the clock is read once per four.
TPass DecodeInReceiveBuffer(TYencDecoder& decoder, const std::string& input, size_t block, char* out) {
  constexpr size_t kBlocks = 4;
  TPass pass;
  std::vector<char> receive(block * kBlocks);
  char* o = out;
  for (size_t at = 0; at < input.size(); at += receive.size()) {
    size_t size = std::min(receive.size(), input.size() - at);
    std::memcpy(receive.data(), input.data() + at, size);
    size_t produced[kBlocks] = {};
    double start = ThreadSeconds();
    for (size_t b = 0; b * block < size; ++b) {
      char* blockStart = receive.data() + b * block;
      char* end = blockStart;
      DecodeBlock(decoder, blockStart, std::min(block, size - b * block), end, pass);
      produced[b] = static_cast<size_t>(end - blockStart);
    }
    pass.seconds += ThreadSeconds() - start;
    for (size_t b = 0; b * block < size; ++b) {
      std::memcpy(o, receive.data() + b * block, produced[b]);
      o += produced[b];
    }
  }
  pass.decoded = static_cast<size_t>(o - out);
  return pass;
}

// The decoded size of the input, known after the first pass of the fastest kernel.
size_t gDecodedSize = 0;

// One pass that reads every input byte and writes as many bytes as decoding gives, and
// does nothing else: the memory traffic any decoder of this input causes, timed the same
// way. Where it is not much faster than decoding, memory is what bounds the figures.
TPass MemoryTrafficOnly(TYencDecoder&, const std::string& input, size_t, char* out) {
  TPass pass;
  const size_t steps = input.size() / 64;
  size_t written = 0;
  double start = ThreadSeconds();
  for (size_t i = 0; i < steps; ++i) {
    std::memcpy(out + written, input.data() + i * 64, 64);  // the next step writes over the rest
    written = static_cast<size_t>(static_cast<unsigned __int128>(gDecodedSize) * (i + 1) / steps);
  }
  pass.seconds = ThreadSeconds() - start;
  pass.decoded = written;
  return pass;
}

using TPassFn = TPass (*)(TYencDecoder&, const std::string&, size_t, char*);

// One measured way of decoding, and its results.
struct TConfig {
  std::string label;
  const TYencKernel* kernel;
  bool crc;
  TPassFn passFn;
  char* out;
  std::vector<double> rates;
  TPass last;

  double Median() const { return rates[rates.size() / 2]; }
  double Best() const { return rates.back(); }
};

// Runs the configurations in turns, one pass each per round, so that whatever else the
// machine does at the time weighs on all of them alike. Round 0 is the warm-up.
void MeasureInTurns(std::vector<TConfig>& configs, const TOptions& o, const std::string& input) {
  for (int round = 0; round <= o.passes; ++round) {
    for (TConfig& c : configs) {
      TYencDecoder decoder(*c.kernel);
      decoder.SetComputeCrc(c.crc);
      c.last = c.passFn(decoder, input, o.block, c.out);
      if (round > 0) c.rates.push_back(static_cast<double>(c.last.decoded) / c.last.seconds / 1e6);
    }
  }
  for (TConfig& c : configs) std::sort(c.rates.begin(), c.rates.end());
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

double MemcpyMBps(char* to, const char* from, size_t size, int passes) {
  std::vector<double> rates;
  for (int i = 0; i <= passes; ++i) {
    double start = ThreadSeconds();
    std::memcpy(to, from, size);
    double seconds = ThreadSeconds() - start;
    if (i > 0) rates.push_back(static_cast<double>(size) / seconds / 1e6);
  }
  std::sort(rates.begin(), rates.end());
  return rates[rates.size() / 2];
}

int Decode(const TOptions& o) {
  const TYencKernel* best = o.kernel.empty() ? &BestYencKernel() : FindYencKernel(o.kernel.c_str());
  if (!best) {
    std::fprintf(stderr, "kernel \"%s\" is not available on this CPU\n", o.kernel.c_str());
    return 2;
  }
  const TYencKernel* byteLoop = FindYencKernel("bytewise");
  std::string input = ReadAll(0);
  std::vector<char> out(input.size() + 64), check(input.size() + 64), scratch(input.size() + 64);

  {
    TYencDecoder decoder(*best);
    gDecodedSize = DecodeFromMemory(decoder, input, o.block, out.data()).decoded;
  }
  std::vector<TConfig> configs = {
      {"", best, false, DecodeFromMemory, out.data(), {}, {}},
      {"byte loop ", byteLoop, false, DecodeFromMemory, check.data(), {}, {}},
      {"in receive buffer ", best, false, DecodeInReceiveBuffer, scratch.data(), {}, {}},
      {"byte loop in receive buffer ", byteLoop, false, DecodeInReceiveBuffer, scratch.data(), {}, {}},
      {"with CRC-32 ", best, true, DecodeFromMemory, scratch.data(), {}, {}},
      {"reading the input and writing the decoded size, no decoding, ", best, false, MemoryTrafficOnly,
       scratch.data(), {}, {}},
  };
  if (o.allKernels) {
    for (const TYencKernel& kernel : YencKernels())
      if (&kernel != best && &kernel != byteLoop)
        configs.push_back({std::string(kernel.name) + " ", &kernel, false, DecodeFromMemory, scratch.data(), {}, {}});
  }
  MeasureInTurns(configs, o, input);

  const TConfig& main = configs[0];
  const size_t decoded = main.last.decoded;
  if (configs[1].last.decoded != decoded || std::memcmp(out.data(), check.data(), decoded) != 0) {
    std::fprintf(stderr, "the %s kernel and the byte loop disagree\n", best->name);
    return 1;
  }
  std::fprintf(stderr, "%zu input bytes, %zu bodies, %zu decoded bytes; blocks of %zu bytes; %d passes\n",
               input.size(), main.last.bodies, decoded, o.block, o.passes);
  std::fprintf(stderr, "kernel: %s\n", best->name);
  std::fprintf(stderr, "MB/s: %.0f\n", main.Median());
  std::fprintf(stderr, "best pass MB/s: %.0f\n", main.Best());
  if (decoded > 0) {
    // Escaped data gives fewer decoded bytes than it takes in; decoders are as often
    // compared by the article bytes they get through, so both counts are shown.
    const double inputPerDecoded = static_cast<double>(input.size()) / static_cast<double>(decoded);
    std::fprintf(stderr, "the same passes in input bytes, MB/s: %.0f (best pass %.0f; %.3f input bytes per decoded byte)\n",
                 main.Median() * inputPerDecoded, main.Best() * inputPerDecoded, inputPerDecoded);
  }
  for (size_t i = 1; i < configs.size(); ++i)
    std::fprintf(stderr, "%sMB/s: %.0f (best pass %.0f)\n", configs[i].label.c_str(), configs[i].Median(), configs[i].Best());
  std::fprintf(stderr, "memcpy of the decoded size MB/s: %.0f\n", MemcpyMBps(check.data(), input.data(), decoded, o.passes));
  if (decoded > 0) {
    std::fprintf(stderr, "CRC-32 MB/s: %.0f (whole output), %.0f (64 KiB in cache)\n",
                 CrcMBps(out.data(), decoded, 1, o.passes),
                 CrcMBps(out.data(), std::min<size_t>(65536, decoded), 2000, o.passes));
  }
  return WriteAll(1, out.data(), decoded) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  TOptions o = ParseOptions(argc, argv);
  return o.generate.empty() ? Decode(o) : Generate(o);
}
