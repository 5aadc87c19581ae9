#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/YencEncode.h"
#include "YencTestSupport.h"

using namespace zev;
using namespace zev::test;

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t from = 0;
  while (from < text.size()) {
    size_t crlf = text.find("\r\n", from);
    EXPECT_NE(crlf, std::string::npos) << "every line ends with CR LF";
    if (crlf == std::string::npos) break;
    lines.push_back(text.substr(from, crlf - from));
    from = crlf + 2;
  }
  return lines;
}

}  // namespace

// No critical character appears bare, no blank sits at a line edge, lines are at most
// one longer than asked (an escape is never split), and "." at a line start is escaped
// only when asked.
TEST(YencEncode, LinesFollowTheEncodingRules) {
  std::vector<uint8_t> data = DataWithEscapes(20000, 20, 3);
  for (int edge : {' ', '\t', '.'})
    for (size_t i = 0; i < data.size(); i += 37) data[i] = static_cast<uint8_t>(edge - 42);
  for (bool escapeDots : {false, true}) {
    TYencEncodeOptions options;
    options.lineLength = 61;
    options.escapeLineStartDot = escapeDots;
    bool sawDotStart = false;
    for (const std::string& line : Lines(YencEncodeLines(data, options))) {
      ASSERT_FALSE(line.empty());
      EXPECT_LE(line.size(), 62u);
      EXPECT_EQ(line.find_first_of(std::string("\0\r\n", 3)), std::string::npos);
      EXPECT_NE(line.front(), ' ');
      EXPECT_NE(line.front(), '\t');
      EXPECT_NE(line.back(), ' ');
      EXPECT_NE(line.back(), '\t');
      EXPECT_NE(line.back(), '=') << "an escape is never split from its byte";
      sawDotStart = sawDotStart || line.front() == '.';
    }
    EXPECT_EQ(sawDotStart, !escapeDots);
  }
}

TEST(YencEncode, ArticleHasTheKeywordLinesOfItsKind) {
  std::vector<uint8_t> abc = {'a', 'b', 'c'};
  TYencPostInfo single{"x.bin", 3};
  EXPECT_EQ(YencEncodeArticle(abc, single),
            "=ybegin line=128 size=3 name=x.bin\r\n\x8b\x8c\x8d\r\n=yend size=3 crc32=352441c2\r\n");
  TYencPostInfo part{"x.bin", 10, 2, 4, 4, true, 0xDEADBEEF};
  EXPECT_EQ(YencEncodeArticle(abc, part),
            "=ybegin part=2 total=4 line=128 size=10 name=x.bin\r\n=ypart begin=4 end=6\r\n\x8b\x8c\x8d\r\n"
            "=yend size=3 part=2 pcrc32=352441c2 crc32=deadbeef\r\n");
}

TEST(YencEncode, DotStuffingDoublesLeadingDotsAndEndsTheBody) {
  EXPECT_EQ(DotStuffBody(""), ".\r\n");
  EXPECT_EQ(DotStuffBody(".a\r\nb.\r\n..\r\n"), "..a\r\nb.\r\n...\r\n.\r\n");
  EXPECT_EQ(DotStuffBody("no end"), "no end\r\n.\r\n");
  EXPECT_EQ(DotStuffBody(".\n"), "..\n.\r\n");
}
