// Every kernel against the byte-at-a-time reference, and the reference against the
// decoding rules themselves.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "download/YencEncode.h"
#include "download/YencKernel.h"
#include "YencTestSupport.h"

using namespace zev;
using namespace zev::test;

namespace {

const TYencKernel& Reference() { return *FindYencKernel("bytewise"); }

std::string Encoded(const std::vector<uint8_t>& data, bool escapeDots) {
  TYencEncodeOptions options;
  options.escapeLineStartDot = escapeDots;
  return DotStuffBody(YencEncodeLines(data, options));
}

// The inputs every kernel must agree on: encoded data of every escape density, bare LF
// line ends, and raw hostile text.
std::vector<std::pair<std::string, std::string>> Inputs() {
  std::vector<std::pair<std::string, std::string>> inputs;
  for (int percent : {0, 2, 50, 100}) {
    inputs.emplace_back("escaped " + std::to_string(percent) + "%",
                        Encoded(DataWithEscapes(3000, percent, 7 + percent), percent == 2));
  }
  std::string lfOnly = Encoded(DataWithEscapes(3000, 5, 3), false);
  std::erase(lfOnly, '\r');
  inputs.emplace_back("bare LF", lfOnly);
  for (uint32_t seed : {1u, 2u, 3u}) inputs.emplace_back("hostile " + std::to_string(seed), Hostile(3000, seed));
  std::mt19937 rng(11);
  std::string noise(3000, '\0');
  for (char& c : noise) c = static_cast<char>(rng());
  inputs.emplace_back("random bytes", noise);
  return inputs;
}

}  // namespace

TEST(YencKernel, BestIsTheLastAndEveryNameIsFound) {
  ASSERT_GE(YencKernels().size(), 2u);
  EXPECT_STREQ(YencKernels().front().name, "bytewise");
  EXPECT_EQ(&BestYencKernel(), &YencKernels().back());
  for (const TYencKernel& kernel : YencKernels()) EXPECT_EQ(FindYencKernel(kernel.name), &kernel);
  EXPECT_EQ(FindYencKernel("no such kernel"), nullptr);
}

// Each kernel, each input, fed whole, in pieces of many sizes around the vector widths,
// and in random pieces, in place and into a separate buffer.
TEST(YencKernel, EveryKernelMatchesTheReferenceForAnySplit) {
  std::vector<std::vector<size_t>> splits = {{1u << 20}, {1}, {2}, {3}, {7}, {15}, {16}, {17}, {31}, {32},
                                             {33}, {63}, {64}, {65}, {127}, {129}, {1000}};
  std::mt19937 rng(5);
  for (int i = 0; i < 4; ++i) {
    std::vector<size_t> random(50);
    for (auto& size : random) size = 1 + rng() % 200;
    splits.push_back(random);
  }
  for (const auto& [what, raw] : Inputs()) {
    TKernelRun expected = RunKernel(Reference(), raw, {raw.size()}, false);
    for (const TYencKernel& kernel : YencKernels()) {
      for (const auto& sizes : splits) {
        for (bool inPlace : {false, true}) {
          SCOPED_TRACE(std::string(kernel.name) + ", " + what + ", first piece " + std::to_string(sizes[0]) +
                       (inPlace ? ", in place" : ""));
          ASSERT_EQ(RunKernel(kernel, raw, sizes, inPlace), expected);
        }
      }
    }
  }
}

// Two pieces, the cut at every position, so that each escape, line start, keyword line
// and "." line of the input falls on every byte of a 64-byte block in the second piece,
// within clean data that the SIMD path takes.
TEST(YencKernel, EveryCutPositionMatchesTheReference) {
  std::string raw;
  TYencEncodeOptions options;
  options.escapeLineStartDot = true;
  for (int post = 0; post < 3; ++post) {
    std::vector<uint8_t> data = DataWithEscapes(150, 20 * post, post);
    TYencPostInfo info{"x", data.size()};
    raw += DotStuffBody(YencEncodeArticle(data, info, options));
  }
  raw += Encoded(DataWithEscapes(200, 30, 9), false) + Hostile(300, 4);
  TKernelRun expected = RunKernel(Reference(), raw, {raw.size()}, false);
  for (const TYencKernel& kernel : YencKernels()) {
    for (size_t cut = 1; cut < raw.size(); ++cut) {
      SCOPED_TRACE(std::string(kernel.name) + ", cut at " + std::to_string(cut));
      ASSERT_EQ(RunKernel(kernel, raw, {cut, raw.size()}, true), expected);
    }
  }
}

struct TRuleCase {
  const char* what;
  std::string raw;       // after a lead of plain bytes
  std::string expected;  // the raw bytes whose decoding (byte - 42) is expected
  std::vector<std::pair<size_t, TYencStop>> stops;  // input offsets after the lead
};

// The decoding rules on small fixtures. Expected output is written as the encoded bytes
// whose plain decoding (byte - 42) it must equal; escapedAs(c) stands for c - 64, so an
// escaped c decodes the same. After a "." line the driver starts a new body. Each fixture
// is run after leads of every length up to two blocks and followed by a block of plain
// bytes, so that it falls on every position of a 64-byte block, across block edges too,
// inside whole blocks that the SIMD path sees.
TEST(YencKernel, DecodingRules) {
  const std::string tail(64, 'b');
  auto escapedAs = [](char c) { return std::string(1, static_cast<char>(c - 64)); };
  const std::vector<TRuleCase> cases = {
      {"plain bytes", "xyz", "xyz", {}},
      {"escape", "=}x", escapedAs('}') + "x", {}},
      {"line ends are not data", "a\r\nb\nc\rd", "abcd", {}},
      {"stuffed dot at a line start", "\r\n..x", ".x", {}},
      {"lone dot at a line start is dropped", "\r\n.x", "x", {}},
      {"dot inside a line is data", "a..b", "a..b", {}},
      {"the dot line ends the body", "b\r\n.\r\nzz", "bzz", {{6, TYencStop::Terminator}}},
      {"a bare-LF dot line ends it too", "b\n.\nzz", "bzz", {{4, TYencStop::Terminator}}},
      {"dot, blank is not the end", "\r\n. \r\n", " ", {}},
      {"keyword line stops after =y", "b\r\n=yend size=1\r\n", "b", {{5, TYencStop::Keyword}}},
      {"=y inside a line is an escaped y", "b=yc", "b" + escapedAs('y') + "c", {}},
      {"escape across a line break", "=\r\nJk", escapedAs('J') + "k", {}},
      {"escape across a bare LF", "=\nJk", escapedAs('J') + "k", {}},
      {"a new = at the line start wins", "=\r\n=Jk", escapedAs('J') + "k", {}},
      {"escape across a stuffed line", "=\r\n..k", escapedAs('.') + "k", {}},
      {"escaped escape", "==Jk", escapedAs('=') + "Jk", {}},
      {"escape of CR", "=\rJ", escapedAs('J'), {}},
      {"a run of three =", "===Jk", escapedAs('=') + escapedAs('J') + "k", {}},
      {"=y after a line-start escape is data", "\r\n=J=yk", escapedAs('J') + escapedAs('y') + "k", {}},
      {"y at a line start is data", "\r\nyk", "yk", {}},
      {"escaped dot at a line start", "\r\n=.k", escapedAs('.') + "k", {}},
      {"escape open at a line end before a dot line", "=\r\n.\r\nk", "k", {{6, TYencStop::Terminator}}},
  };
  for (const TYencKernel& kernel : YencKernels()) {
    for (const TRuleCase& c : cases) {
      for (size_t leadSize = 1; leadSize <= 128; ++leadSize) {
        SCOPED_TRACE(std::string(kernel.name) + ": " + c.what + ", after " + std::to_string(leadSize));
        const std::string lead(leadSize, 'a');
        TKernelRun run = RunKernel(kernel, lead + c.raw + tail, {1u << 20}, false);
        std::string expected;
        for (char e : lead + c.expected + tail) expected += static_cast<char>(e - 42);
        ASSERT_EQ(run.output, expected);
        std::vector<std::pair<size_t, TYencStop>> stops = c.stops;
        for (auto& stop : stops) stop.first += leadSize;
        ASSERT_EQ(run.stops, stops);
      }
    }
  }
}

// Data made only of bytes that need escaping comes as "=" and a byte by turns; the SSSE3
// kernel decodes whole blocks of such pairs on a path of its own. Each fixture breaks a
// stretch of pairs in one way that path must not take for a pair run. It is placed after
// leads of pairs of every length up to two blocks, with a lone plain byte in front of odd
// leads, so that it falls on every position and both "=" parities of a block, and
// followed by more pairs so that the blocks after it are runs again.
TEST(YencKernel, BrokenPairRunsMatchTheReference) {
  auto pairs = [](size_t count) {
    static const char kPairs[] = "=J=M=@=}";
    std::string text;
    for (size_t i = 0; i < count; ++i) text.append(kPairs + 2 * (i % 4), 2);
    return text;
  };
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"unbroken", pairs(70)},
      {"CR LF line end", pairs(3) + "\r\n" + pairs(40)},
      {"line ends close together", pairs(3) + "\r\n" + pairs(1) + "\r\n" + pairs(2) + "\r\n" + pairs(40)},
      {"bare LF", pairs(3) + "\n" + pairs(40)},
      {"lone CR", pairs(3) + "\r" + pairs(40)},
      {"CR then a plain byte", pairs(3) + "\rK" + pairs(40)},
      {"plain byte", pairs(3) + "K" + pairs(40)},
      {"escaped escape", pairs(3) + "==J" + pairs(40)},
      {"escaped dot and y", pairs(3) + "=.=y" + pairs(40)},
      {"escape split by a line end", pairs(3) + "=\r\nJ" + pairs(40)},
      {"escape open before a line-start =", pairs(3) + "=\r\n" + pairs(40)},
      {"keyword line", pairs(3) + "\r\n=ypart begin=1\r\n" + pairs(40)},
      {"dot-stuffed line", pairs(3) + "\r\n.." + pairs(40)},
      {"the dot line", pairs(3) + "\r\n.\r\n" + pairs(40)},
  };
  for (const auto& [what, text] : cases) {
    for (size_t leadSize = 1; leadSize <= 128; ++leadSize) {
      const std::string raw = std::string(leadSize % 2, 'a') + pairs(leadSize / 2) + text + pairs(64);
      TKernelRun expected = RunKernel(Reference(), raw, {raw.size()}, false);
      for (const TYencKernel& kernel : YencKernels()) {
        for (bool inPlace : {false, true}) {
          SCOPED_TRACE(std::string(kernel.name) + ": " + what + ", after " + std::to_string(leadSize) +
                       (inPlace ? ", in place" : ""));
          ASSERT_EQ(RunKernel(kernel, raw, {raw.size()}, inPlace), expected);
        }
      }
    }
  }
}

TEST(YencKernel, StateCarriesAcrossCalls) {
  for (const TYencKernel& kernel : YencKernels()) {
    SCOPED_TRACE(kernel.name);
    TYencState state;
    uint8_t out[4];
    const uint8_t dot[] = {'.'};
    EXPECT_EQ(kernel.decode(dot, 1, out, state).produced, 0u);
    EXPECT_EQ(state.pos, TYencLinePos::StartDot);
    const uint8_t cr[] = {'\r'};
    kernel.decode(cr, 1, out, state);
    EXPECT_EQ(state.pos, TYencLinePos::StartDotCR);
    const uint8_t lf[] = {'\n', 'x'};
    TYencKernelResult r = kernel.decode(lf, 2, out, state);
    EXPECT_EQ(r.stop, TYencStop::Terminator);
    EXPECT_EQ(r.consumed, 1u);
  }
}
