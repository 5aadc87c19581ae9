// The body decoder: sections, keyword lines, transport and integrity, over any block split.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "core/Crc32.h"
#include "download/YencDecoder.h"
#include "download/YencEncode.h"
#include "YencTestSupport.h"

using namespace zev;
using namespace zev::test;
using TEvent = TYencDecoder::TEvent;

namespace {

std::string AsText(const std::vector<uint8_t>& data) { return std::string(data.begin(), data.end()); }

// A multi-part post of `data` cut into parts of `partSize`; returns the NNTP bodies.
std::vector<std::string> PostParts(const std::vector<uint8_t>& data, size_t partSize, const TYencEncodeOptions& options = {}) {
  std::vector<std::string> bodies;
  uint32_t total = static_cast<uint32_t>((data.size() + partSize - 1) / partSize);
  uint32_t fileCrc = UpdateCrc32(data.data(), data.size(), 0);
  for (uint32_t part = 1; part <= total; ++part) {
    size_t from = (part - 1) * partSize;
    size_t size = std::min(partSize, data.size() - from);
    TYencPostInfo info{"file.bin", data.size(), part, total, from + 1, true, fileCrc};
    bodies.push_back(DotStuffBody(YencEncodeArticle({data.data() + from, size}, info, options)));
  }
  return bodies;
}

std::string SinglePost(const std::vector<uint8_t>& data, const TYencEncodeOptions& options = {}) {
  TYencPostInfo info;
  info.name = "file.bin";
  info.fileSize = data.size();
  return DotStuffBody(YencEncodeArticle(data, info, options));
}

const std::vector<std::vector<size_t>> kSplits = {{1u << 30}, {1}, {3}, {64}, {1460}, {16384}, {5, 70, 999, 2}};

}  // namespace

// Whole files and parts of every escape density come back byte for byte, with their
// lines parsed, CRCs computed and no integrity fault, whatever the block sizes.
TEST(YencDecoder, RoundTripsPostsOverAnySplit) {
  for (int percent : {0, 2, 50, 100}) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{128}, size_t{129}, size_t{20000}}) {
      std::vector<uint8_t> data = DataWithEscapes(size, percent, static_cast<uint32_t>(size + percent));
      std::string body = SinglePost(data);
      for (const auto& sizes : kSplits) {
        for (bool inPlace : {true, false}) {
          SCOPED_TRACE(std::to_string(percent) + "% escaped, " + std::to_string(size) + " bytes, piece " +
                       std::to_string(sizes[0]));
          TDecodeRun run = DecodeBody(body, sizes, inPlace);
          ASSERT_EQ(run.data, AsText(data));
          ASSERT_EQ(run.sections.size(), 1u);
          const TYencSection& s = run.sections[0];
          EXPECT_EQ(*s.begin.name, "file.bin");
          EXPECT_EQ(s.decodedSize, size);
          EXPECT_EQ(s.crc, UpdateCrc32(data.data(), data.size(), 0));
          EXPECT_EQ(CheckYencSection(s), 0u) << YencFaultText(CheckYencSection(s));
          EXPECT_EQ(run.events, (std::vector<TEvent>{TEvent::Begin, TEvent::End, TEvent::BodyEnd}));
          EXPECT_EQ(run.consumed, body.size());
        }
      }
    }
  }
}

TEST(YencDecoder, PartsCarryRangeAndCrcThatCombineIntoTheFileCrc) {
  std::vector<uint8_t> data = DataWithEscapes(50000, 3, 42);
  std::vector<std::string> bodies = PostParts(data, 12000);
  std::string joined;
  uint32_t combined = 0;
  for (size_t i = 0; i < bodies.size(); ++i) {
    SCOPED_TRACE("part " + std::to_string(i + 1));
    TDecodeRun run = DecodeBody(bodies[i], {777});
    ASSERT_EQ(run.sections.size(), 1u);
    const TYencSection& s = run.sections[0];
    EXPECT_EQ(run.events, (std::vector<TEvent>{TEvent::Begin, TEvent::Part, TEvent::End, TEvent::BodyEnd}));
    EXPECT_EQ(*s.begin.part, i + 1);
    EXPECT_EQ(*s.part.begin, i * 12000 + 1);
    EXPECT_EQ(CheckYencSection(s), 0u) << YencFaultText(CheckYencSection(s));
    joined += run.data;
    combined = Crc32Combine(combined, s.crc, s.decodedSize);
    EXPECT_EQ(*s.end.crc32, UpdateCrc32(data.data(), data.size(), 0));
  }
  EXPECT_EQ(joined, AsText(data));
  EXPECT_EQ(combined, UpdateCrc32(data.data(), data.size(), 0));
}

// Lines of one character (every byte starts a line: dots and escapes at every line
// start) up to one line for the whole part.
TEST(YencDecoder, LinesOfAnyLength) {
  std::vector<uint8_t> data = DataWithEscapes(40000, 10, 8);
  for (uint8_t& b : data)
    if (b % 7 == 0) b = '.' - 42;  // many lines begin with "." and get stuffed
  for (size_t lineLength : {size_t{1}, size_t{2}, size_t{997}, size_t{1} << 20}) {
    TYencEncodeOptions options;
    options.lineLength = lineLength;
    std::string body = SinglePost(data, options);
    for (const auto& sizes : kSplits) {
      SCOPED_TRACE("line length " + std::to_string(lineLength) + ", piece " + std::to_string(sizes[0]));
      TDecodeRun run = DecodeBody(body, sizes);
      ASSERT_EQ(run.data, AsText(data));
      ASSERT_EQ(run.sections.size(), 1u);
      EXPECT_EQ(CheckYencSection(run.sections[0]), 0u);
    }
  }
}

// A "." that begins the first data line is stuffed by the server and must come back
// exactly once; data byte 4 encodes to ".".
TEST(YencDecoder, DotBeginningTheFirstDataLineIsKept) {
  std::vector<uint8_t> data = {4, 4, 'x', 4};
  std::string body = SinglePost(data);
  ASSERT_NE(body.find("\r\n..."), std::string::npos);  // "..." = stuffed "." + data "."
  for (const auto& sizes : kSplits) EXPECT_EQ(DecodeBody(body, sizes).data, AsText(data));
}

// The reply that follows on the same connection is not part of the body.
TEST(YencDecoder, StopsRightAfterTheTerminator) {
  std::vector<uint8_t> data = DataWithEscapes(5000, 2, 1);
  std::string body = SinglePost(data);
  std::string stream = body + "222 0 <next@x> body\r\n=ybegin line=128 size=1 name=z\r\n";
  for (const auto& sizes : kSplits) {
    TDecodeRun run = DecodeBody(stream, sizes);
    EXPECT_EQ(run.consumed, body.size());
    EXPECT_EQ(run.data, AsText(data));
  }
}

TEST(YencDecoder, SkipsTextAroundSectionsAndDecodesEachSection) {
  std::vector<uint8_t> a = DataWithEscapes(300, 5, 1), b = DataWithEscapes(400, 5, 2);
  TYencPostInfo infoA{"a.bin", a.size()}, infoB{"b.bin", b.size()};
  std::string body = DotStuffBody("Some text before\r\n.leading dot\r\nbegin 644 x.uu\r\n" +
                                  YencEncodeArticle(a, infoA) + "between\r\n=yother line\r\n" +
                                  YencEncodeArticle(b, infoB) + "trailer\r\n");
  for (const auto& sizes : kSplits) {
    TDecodeRun run = DecodeBody(body, sizes);
    ASSERT_EQ(run.sections.size(), 2u);
    EXPECT_EQ(*run.sections[0].begin.name, "a.bin");
    EXPECT_EQ(*run.sections[1].begin.name, "b.bin");
    EXPECT_EQ(run.data, AsText(a) + AsText(b));
    EXPECT_EQ(CheckYencSection(run.sections[0]) | CheckYencSection(run.sections[1]), 0u);
  }
}

struct TBrokenCase {
  const char* what;
  std::string body;
  std::vector<TEvent> events;
  uint32_t faults;  // of the first section
};

// Bodies with damage: the decoder reports what happened and the checks name the fault.
TEST(YencDecoder, DamagedBodiesAreReported) {
  const std::string begin = "=ybegin line=128 size=3 name=f\r\n";
  const std::string data = "klm\r\n";  // decodes to "ABC"
  const std::string end = "=yend size=3 crc32=" + [] {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", UpdateCrc32("ABC", 3, 0));
    return std::string(hex);
  }() + "\r\n";
  const std::vector<TEvent> whole = {TEvent::Begin, TEvent::End, TEvent::BodyEnd};
  const std::vector<TBrokenCase> cases = {
      {"intact", begin + data + end + ".\r\n", whole, 0},
      {"cut off before =yend", begin + data + ".\r\n", whole, yfNoEnd},
      {"cut off without the dot line", begin + data, whole, yfNoEnd},
      {"wrong CRC", begin + "klN\r\n" + end + ".\r\n", whole, yfCrc},
      {"short data", begin + "kl\r\n" + "=yend size=2\r\n.\r\n", whole, yfBeginSize},
      {"=yend size disagrees", begin + data + "=yend size=4\r\n.\r\n", whole, yfEndSize},
      {"=yend without size", begin + data + "=yend\r\n.\r\n", whole, yfNoEndSize},
      {"a second =ybegin cuts the first", begin + "kl\r\n" + begin + data + end + ".\r\n",
       {TEvent::Begin, TEvent::End, TEvent::Begin, TEvent::End, TEvent::BodyEnd}, yfNoEnd | yfBeginSize},
      {"part without =ypart", "=ybegin part=1 total=2 line=128 size=6 name=f\r\n" + data +
                                   "=yend size=3 part=1\r\n.\r\n", whole, yfNoPartLine},
      {"=ypart after data is not a header",
       "=ybegin part=1 total=2 line=128 size=6 name=f\r\n" + data + "=ypart begin=1 end=3\r\n" +
           "=yend size=3 part=1\r\n.\r\n", whole, yfNoPartLine},
      {"part range off by one", "=ybegin part=2 total=2 line=128 size=6 name=f\r\n=ypart begin=4 end=7\r\n" +
                                    data + "=yend size=3 part=2\r\n.\r\n",
       {TEvent::Begin, TEvent::Part, TEvent::End, TEvent::BodyEnd}, yfPartRange},
      {"part beyond the file", "=ybegin part=2 total=2 line=128 size=5 name=f\r\n=ypart begin=4 end=6\r\n" +
                                   data + "=yend size=3 part=2\r\n.\r\n",
       {TEvent::Begin, TEvent::Part, TEvent::End, TEvent::BodyEnd}, yfPartRange},
      {"part CRC wrong", "=ybegin part=1 total=2 line=128 size=6 name=f\r\n=ypart begin=1 end=3\r\n" + data +
                             "=yend size=3 part=1 pcrc32=12345678\r\n.\r\n",
       {TEvent::Begin, TEvent::Part, TEvent::End, TEvent::BodyEnd}, yfPartCrc},
      {"no yEnc at all", "just text\r\n.\r\n", {TEvent::BodyEnd}, 0},
      {"empty body", ".\r\n", {TEvent::BodyEnd}, 0},
  };
  for (const TBrokenCase& c : cases) {
    for (const auto& sizes : kSplits) {
      SCOPED_TRACE(std::string(c.what) + ", piece " + std::to_string(sizes[0]));
      TDecodeRun run = DecodeBody(c.body, sizes);
      EXPECT_EQ(run.events, c.events);
      if (!run.sections.empty()) {
        EXPECT_EQ(CheckYencSection(run.sections[0]), c.faults) << YencFaultText(CheckYencSection(run.sections[0]));
      }
    }
  }
}

TEST(YencDecoder, OverlongKeywordLineIsCutAndMarked) {
  std::string name(10000, 'n');
  std::string body = "=ybegin line=128 size=3 name=" + name + "\r\nklm\r\n=yend size=3\r\n.\r\n";
  TDecodeRun run = DecodeBody(body, {100});
  ASSERT_EQ(run.sections.size(), 1u);
  const TYencSection& s = run.sections[0];
  EXPECT_TRUE(s.begin.truncated);
  EXPECT_EQ(s.begin.name->size(), TYencDecoder::kMaxKeywordLine - std::string("=ybegin line=128 size=3 name=").size());
  EXPECT_EQ(run.data, "ABC");
}

TEST(YencDecoder, EveryKernelDecodesTheSameBody) {
  std::vector<uint8_t> data = DataWithEscapes(30000, 50, 77);
  std::string body = SinglePost(data);
  for (const TYencKernel& kernel : YencKernels()) {
    SCOPED_TRACE(kernel.name);
    EXPECT_EQ(DecodeBody(body, {4096}, true, kernel).data, AsText(data));
  }
}

TEST(YencDecoder, ResetStartsANewBody) {
  TYencDecoder decoder;
  std::string first = "=ybegin line=128 size=3 name=f\r\nkl";  // cut mid-section
  std::vector<char> out(first.size());
  decoder.Step(first.data(), first.size(), out.data());
  EXPECT_TRUE(decoder.InSection());
  decoder.Reset();
  std::string second = "..\r\n.\r\n";  // a body whose only line is a stuffed "."
  TYencDecoder::TStep s = decoder.Step(second.data(), second.size(), out.data());
  EXPECT_EQ(s.event, TEvent::BodyEnd);
  EXPECT_EQ(s.consumed, second.size());
  EXPECT_FALSE(decoder.InSection());
  EXPECT_TRUE(decoder.BodyEnded());
}
