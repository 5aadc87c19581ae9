#include "nntp/ResponseFramer.h"

#include <gtest/gtest.h>

#include <string>

#include "FramerFeed.h"

using namespace zev;
using zev::test::FeedFramer;
using zev::test::FFramerRun;

namespace {

struct FCase {
  const char* name;
  std::string stream;
  bool multiLine;
  TDataMode mode;
  uint16_t code;
  std::string data;  // what the target gets
};

const FCase kCases[] = {
    {"body", "222 0 <a@b> body\r\nline one\r\n..dotted stays stuffed\r\n\r\nlast\r\n.\r\n", true, dmArticle, 222,
     "line one\r\n..dotted stays stuffed\r\n\r\nlast"},
    {"empty body", "222 0 <a@b>\r\n.\r\n", true, dmArticle, 222, ""},
    {"a line that is only dots", "222 0 <a@b>\r\n..\r\n...\r\n.\r\n", true, dmArticle, 222, "..\r\n..."},
    {"overview lines", "224 data\r\n1\tsub\r\n2\tsub\r\n.\r\n", true, dmLines, 224, "1\tsub\r\n2\tsub"},
    {"single line", "211 3 1 3 alt.test\r\n", false, dmNone, 211, ""},
    {"an error never carries data", "423 no such article\r\n", true, dmArticle, 423, ""},
    {"LF-only line ends", "215 list\nalt.test 3 1 y\n.\n", true, dmNone, 215, "alt.test 3 1 y"},
};

}  // namespace

// Wherever the socket cuts the stream, once or twice, the response ends exactly at its
// last byte and its data is the same.
TEST(ResponseFramer, EndIsFoundWhereverTheStreamIsCut) {
  for (const FCase& c : kCases) {
    const size_t n = c.stream.size();
    for (size_t i = 0; i <= n; ++i)
      for (size_t j = i; j <= n; ++j) {
        TResponseFramer framer;
        framer.Begin(c.multiLine, c.mode, 100);
        const FFramerRun run = FeedFramer(framer, c.stream, {i, j});
        ASSERT_TRUE(run.complete) << c.name << " cut at " << i << "," << j;
        EXPECT_EQ(run.end, n) << c.name << " cut at " << i << "," << j;
        EXPECT_EQ(run.code, c.code) << c.name;
        EXPECT_EQ(run.data, c.data) << c.name << " cut at " << i << "," << j;
        EXPECT_EQ(run.trailing, 0u) << c.name;
      }
  }
}

TEST(ResponseFramer, IncompleteUntilTheDotLineArrives) {
  const std::string withoutEnd = "222 0 <a@b>\r\nline\r\n.. not the end\r\n";
  for (const std::string& stream : {withoutEnd, withoutEnd + ".", withoutEnd + ".\r", withoutEnd + "x.\r\n"}) {
    TResponseFramer framer;
    framer.Begin(true, dmArticle, 10);
    EXPECT_FALSE(FeedFramer(framer, stream, {}).complete) << stream;
  }
}

// Line data larger than the buffer goes out in blocks of whole lines, the terminator in
// a block of its own included.
TEST(ResponseFramer, LineDataIsHandedOnInBlocksOfWholeLines) {
  std::string lines;
  for (int i = 0; lines.size() < 3 * TResponseFramer::kLineBufferSize; ++i)
    lines += std::to_string(i) + "\tsubject of article " + std::to_string(i) + "\r\n";
  const std::string stream = "224 overview\r\n" + lines + ".\r\n";
  const std::string expected = lines.substr(0, lines.size() - 2);
  for (size_t cut : {size_t{0}, size_t{1000}, TResponseFramer::kLineBufferSize - 1, stream.size() - 3,
                     stream.size() - 2}) {
    TResponseFramer framer;
    framer.Begin(true, dmLines, 0);
    const FFramerRun run = FeedFramer(framer, stream, {cut});
    ASSERT_TRUE(run.complete) << cut;
    EXPECT_EQ(run.data, expected) << cut;
    ASSERT_GE(run.types.size(), 3u);
    EXPECT_EQ(run.types.front(), btFirst);
    EXPECT_EQ(run.types.back(), btLast);
    for (size_t b = 0; b + 1 < run.blocks.size(); ++b) {
      EXPECT_EQ(run.types[b], b == 0 ? btFirst : btMiddle);
      EXPECT_TRUE(run.blocks[b].ends_with("\r\n")) << "block " << b << " cut " << cut;
    }
  }
}

TEST(ResponseFramer, ArticleLargerThanAnnouncedGrowsAndStaysWhole) {
  std::string body;
  while (body.size() < 2'000'000) body += "=ybegin-like line of an article body, long enough to matter\r\n";
  const std::string stream = "222 body\r\n" + body + ".\r\n";
  TResponseFramer framer;
  framer.Begin(true, dmArticle, 1000);
  const FFramerRun run = FeedFramer(framer, stream, {5000, 70000});
  ASSERT_TRUE(run.complete);
  EXPECT_EQ(run.types, std::vector<TBlockType>{btComplete});
  EXPECT_EQ(run.data, body.substr(0, body.size() - 2));
}

TEST(ResponseFramer, StatusLines) {
  struct {
    std::string stream;
    uint16_t code;
    std::string statusLine;
  } cases[] = {
      {"200 welcome\r\n", 200, "200 welcome"},
      {"200 no CR\n", 200, "200 no CR"},
      {"2x0 not a code\r\n", 0, "2x0 not a code"},
      {"\r\n", 0, ""},
      {"20\r\n", 0, "20"},
  };
  for (const auto& c : cases) {
    for (bool multiLine : {false, true}) {
      TResponseFramer framer;
      framer.Begin(multiLine, dmLines, 0);
      const FFramerRun run = FeedFramer(framer, c.stream, {1});
      // Data may follow a valid code; a line that is no valid answer carries none.
      EXPECT_EQ(run.complete, !multiLine || c.code == 0) << c.stream;
      EXPECT_EQ(run.code, c.code) << c.stream;
      EXPECT_EQ(framer.StatusLine(), c.statusLine) << c.stream;
    }
  }
}

TEST(ResponseFramer, BytesAfterTheEndAreNotData) {
  TResponseFramer framer;
  framer.Begin(true, dmArticle, 10);
  const FFramerRun run = FeedFramer(framer, "222 b\r\nx\r\n.\r\n205 bye\r\n", {});
  ASSERT_TRUE(run.complete);
  EXPECT_EQ(run.data, "x");
  EXPECT_EQ(run.trailing, 9u);
}

TEST(ResponseFramer, EndlessStatusLineIsAProtocolError) {
  TResponseFramer framer;
  framer.Begin(false, dmNone, 0);
  const FFramerRun run = FeedFramer(framer, std::string(TResponseFramer::kMaxStatusLine + 10, 'x'), {});
  EXPECT_FALSE(run.complete);
  EXPECT_TRUE(run.tooLarge);
}

TEST(ResponseFramer, DroppedLinesKeepTheEndFindable) {
  std::string lines;
  while (lines.size() < 2 * TResponseFramer::kLineBufferSize) lines += "help line\r\n";
  TResponseFramer framer;
  framer.Begin(true, dmNone, 0);
  const FFramerRun run = FeedFramer(framer, "100 help\r\n" + lines + ".\r\n", {}, false);
  ASSERT_TRUE(run.complete);
  EXPECT_TRUE(run.data.ends_with("help line"));
}

TEST(ResponseFramer, StatusCodeNeedsThreeDigits) {
  EXPECT_EQ(StatusCode("111 20240229235959"), 111);
  EXPECT_EQ(StatusCode("999"), 999);
  EXPECT_EQ(StatusCode("99"), 0);
  EXPECT_EQ(StatusCode("+11 x"), 0);
  EXPECT_EQ(StatusCode(":11"), 0);
}

// The handler gives article buffers back for the next responses: a buffer passed on is
// empty afterwards, and the framer reads into the one it got back.
TEST(ResponseFramer, RecycledBuffersCarryTheNextResponses) {
  TResponseFramer framer;
  TReceiveBuffer handedBack;
  for (int i = 0; i < 4; ++i) {
    framer.Recycle(std::move(handedBack));
    EXPECT_EQ(handedBack.Capacity(), 0u);
    framer.Begin(true, dmArticle, 100);
    const std::string body = "line " + std::to_string(i);
    FFramerRun run = FeedFramer(framer, "222 b\r\n" + body + "\r\n.\r\n", {3});
    ASSERT_TRUE(run.complete);
    EXPECT_EQ(run.data, body);
    framer.Begin(false, dmNone, 0);
    FeedFramer(framer, "205 bye\r\n", {});
    framer.Begin(true, dmArticle, 100);
    FeedFramer(framer, "222 b\r\nx\r\n.\r\n", {}, false);
    FFramedBlock block = framer.TakeFinal();
    handedBack = std::move(block.buffer);
    EXPECT_EQ(block.buffer.Capacity(), 0u);
    EXPECT_GT(handedBack.Capacity(), 0u);
  }
}
