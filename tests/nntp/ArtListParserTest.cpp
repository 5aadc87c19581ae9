// The parsers of overview, XHDR and LISTGROUP lines: what is kept, what is skipped, and
// what the log says about it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../db/ModelTestUtil.h"
#include "core/Error.h"
#include "nntp/HeaderLineParser.h"
#include "nntp/OverviewParser.h"

namespace zev {
namespace {

class ParserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::ScratchDir();
    log_ = std::make_unique<test::TCapturedLog>(dir_);
  }
  std::string dir_;
  std::unique_ptr<test::TCapturedLog> log_;
};

std::string Line(const std::string& number, const std::string& id, const std::string& rest = "\t\t1000\t20\tXref: x") {
  return number + "\tSubject\tAuthor <a@b>\tSat, 15 Jun 2024 12:00:00 +0000\t" + id + rest;
}

TEST_F(ParserTest, OverviewLinesKeptOrSkippedWithTheirMessages) {
  const std::string longId = "<" + std::string(300, 'm') + "@x>";
  struct FCase {
    std::string line;
    uint32_t number;      // 0: skipped
    std::string id;       // as stored
    uint32_t bytes, lines;
    const char* logged;   // a text the log must contain, or nullptr
  } cases[] = {
      {Line("7", "<good.id@example>"), 7, "good.id@example", 1000, 20, nullptr},
      {Line("4000000000", "<big.number@example>"), 4000000000u, "big.number@example", 1000, 20, nullptr},
      {"12 no tabs at all", 0, "", 0, 0, "No TAB character after Article-ID: 12"},
      {"x\tSubject", 0, "", 0, 0, "Missing numeric Article-ID value"},
      {"8\tonly a subject", 0, "", 0, 0, "No TAB character after Subject"},
      {Line("9", "no-bracket@example"), 0, "", 0, 0, "MsgID=\"no-bracket@example\""},
      {Line("10", "<open@example"), 0, "", 0, 0, "Non-terminated Message-ID"},
      {Line("11", "<short>"), 0, "", 0, 0, "Invalid Message-ID \"short\""},
      {Line("12", "<ctl\x01id@example>"), 0, "", 0, 0, "Invalid Message-ID"},
      {Line("13", longId), 13, longId.substr(1, 255), 1000, 20, "Message-ID Too long"},
      {Line("14", "<refs.end@example>", "\treferences"), 14, "refs.end@example", 0, 0,
       "No TAB character after References"},
      {Line("15", "<bytes.text@example>", "\t\tmany\t30"), 15, "bytes.text@example", 0, 30,
       "Missing numeric Bytes value"},
      {Line("16", "<bytes.notab@example>", "\t\t1000"), 0, "", 0, 0, "No TAB character after Bytes"},
      {Line("17", "<lines.text@example>", "\t\t1000\tabc"), 17, "lines.text@example", 1000, 0,
       "Missing numeric Lines value"},
      {Line("18", "<huge.size@example>", "\t\t99999999999999999999999\t5"), 18, "huge.size@example", 0xFFFFFFFFu, 5,
       nullptr},
  };
  for (const FCase& c : cases) {
    SCOPED_TRACE(c.line.substr(0, 60));
    FOverviewLine out;
    EXPECT_EQ(ParseOverviewLine(c.line, out), c.number != 0);
    EXPECT_EQ(out.number, c.number);
    if (c.number) {
      EXPECT_EQ(out.messageId, c.id);
      EXPECT_EQ(out.bytes, c.bytes);
      EXPECT_EQ(out.lines, c.lines);
    }
    if (c.logged) {
      EXPECT_TRUE(log_->Contains(c.logged)) << c.logged;
    }
  }
  FOverviewLine out;
  EXPECT_THROW(ParseOverviewLine(Line("99999999999", "<overflow@example>"), out), EZevError);
}

TEST(OverviewLineCount, CorrectsCountsFromBytes) {
  struct FCase {
    uint32_t lines, bytes, expect;
  } cases[] = {{40000, 20000, 324}, {40000, 500, 10}, {40000, 10000, 40000}, {0, 6200, 102}, {0, 0, 2}, {3000, 200000, 3000}};
  for (const FCase& c : cases) EXPECT_EQ(OverviewLineCount(c.lines, c.bytes), c.expect) << c.lines << "/" << c.bytes;
}

TEST(ForEachLine, SplitsAtEveryKindOfLineEnd) {
  std::vector<std::string> lines;
  ForEachLine("a\r\nb\nc\rd\n\re\r\n\r\nf", [&](std::string_view l) { lines.emplace_back(l); });
  EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "c", "d", "e", "f"}));
}

TEST_F(ParserTest, HeaderLinesAndNumbers) {
  FHeaderLineContext context{"XHDR|Subject", "srv", "grp"};
  FHeaderLine line;
  ASSERT_TRUE(ParseHeaderLine("42 \t Some subject (1/2)", context, line));
  EXPECT_EQ(line.number, 42u);
  EXPECT_EQ(line.value, "Some subject (1/2)");
  EXPECT_FALSE(ParseHeaderLine("43subject", context, line));
  EXPECT_TRUE(log_->Contains("XHDR|Subject parse problem! Missing separator for ArtID=43!"));
  EXPECT_FALSE(ParseHeaderLine("abc def", context, line));
  EXPECT_TRUE(log_->Contains("Missing ArtID! Previous ArtID = 42"));
  EXPECT_FALSE(ParseHeaderLine("99999999999 x", context, line));
  EXPECT_TRUE(log_->Contains("Invalid ArtID!"));

  uint32_t n = 0;
  EXPECT_TRUE(ParseNumberLine("3000000000", context, n));
  EXPECT_EQ(n, 3000000000u);
  EXPECT_FALSE(ParseNumberLine("", context, n));

  bool bracketed = false;
  EXPECT_EQ(MessageIdOfValue("<abc@def> trailing", bracketed), "abc@def");
  EXPECT_TRUE(bracketed);
  EXPECT_EQ(MessageIdOfValue("(none)", bracketed), "(none)");
  EXPECT_FALSE(bracketed);

  uint32_t low = 0, high = 0;
  EXPECT_TRUE(ParseRequestRange("xover 7001-12000", low, high));
  EXPECT_EQ(low, 7001u);
  EXPECT_EQ(high, 12000u);
  EXPECT_TRUE(ParseRequestRange("xhdr Message-ID 3000000000-4294967295", low, high));
  EXPECT_EQ(high, 4294967295u);
  EXPECT_FALSE(ParseRequestRange("xhdr Message-ID 5", low, high));
  EXPECT_FALSE(ParseRequestRange("xover 1-4294967296", low, high));
}

}  // namespace
}  // namespace zev
