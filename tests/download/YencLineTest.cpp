#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "download/YencLine.h"

using namespace zev;

namespace {

struct TLineCase {
  const char* text;
  TYencLineKind kind;
  std::optional<uint64_t> part, total, size, begin, end;
  std::optional<uint32_t> crc32, pcrc32;
  std::optional<std::string> name;
  bool spaced = false;
};

constexpr auto kBegin = TYencLineKind::Begin;
constexpr auto kPart = TYencLineKind::Part;
constexpr auto kEnd = TYencLineKind::End;
constexpr auto kOther = TYencLineKind::Other;
constexpr std::nullopt_t no = std::nullopt;

}  // namespace

TEST(YencLine, ParsesKeywordLines) {
  const std::vector<TLineCase> cases = {
      {"=ybegin part=2 total=9 line=128 size=4000000 name=pic 01.jpg", kBegin, 2, 9, 4000000, no, no, no, no,
       "pic 01.jpg"},
      {"=ybegin line=128 size=3 name=  a b  \r", kBegin, no, no, 3, no, no, no, no, "a b"},
      {"=ybegin size=3 name=x=y name=z", kBegin, no, no, 3, no, no, no, no, "x=y name=z"},
      {"=ybegin name=../../etc/passwd", kBegin, no, no, no, no, no, no, no, "../../etc/passwd"},
      {"=ypart begin=1 end=640000", kPart, no, no, no, 1, 640000, no, no, no},
      {"=yend size=640000 part=1 pcrc32=0a1B2c3D crc32=FFFFFFFF", kEnd, 1, no, 640000, no, no, 0xFFFFFFFF,
       0x0A1B2C3D, no},
      {"=yend size=5 crc32=0x1f", kEnd, no, no, 5, no, no, 0x1F, no, no},
      {"=yend\tsize=5\tcrc32=1", kEnd, no, no, 5, no, no, 1, no, no},
      // Fields that do not parse stay unset; the first of a repeated field counts.
      {"=yend size=99999999999999999999 crc32=123456789 pcrc32=xyz", kEnd, no, no, no, no, no, no, no, no},
      {"=yend size=-1 part=1e3 size=7", kEnd, no, no, 7, no, no, no, no, no},
      {"=yend size=5 size=6", kEnd, no, no, 5, no, no, no, no, no},
      {"=ybegin size= 5 name=f", kBegin, no, no, no, no, no, no, no, "f"},
      {"=ybegin foo=bar size=5 name=", kBegin, no, no, 5, no, no, no, no, ""},
      // Keywords with blanks between their letters, as some posters write them.
      {"=ybegin s i z e=12 n a m e =file", kBegin, no, no, 12, no, no, no, no, "file", true},
      // Only these three words make a keyword line.
      {"=ybeginner size=1", kOther, no, no, no, no, no, no, no, no},
      {"=ypartial begin=1", kOther, no, no, no, no, no, no, no, no},
      {"=yEND size=1", kOther, no, no, no, no, no, no, no, no},
      {"=ybegin", kBegin, no, no, no, no, no, no, no, no},
      {"", kOther, no, no, no, no, no, no, no, no},
  };
  for (const TLineCase& c : cases) {
    SCOPED_TRACE(c.text);
    TYencLine line = ParseYencLine(c.text);
    EXPECT_EQ(line.kind, c.kind);
    EXPECT_EQ(line.part, c.part);
    EXPECT_EQ(line.total, c.total);
    EXPECT_EQ(line.size, c.size);
    EXPECT_EQ(line.begin, c.begin);
    EXPECT_EQ(line.end, c.end);
    EXPECT_EQ(line.crc32, c.crc32);
    EXPECT_EQ(line.pcrc32, c.pcrc32);
    EXPECT_EQ(line.name, c.name);
    EXPECT_EQ(line.spacedKeyword, c.spaced);
  }
}

TEST(YencLine, LargestSizeFitsAndOneMoreDoesNot) {
  EXPECT_EQ(ParseYencLine("=yend size=18446744073709551615").size, UINT64_MAX);
  EXPECT_EQ(ParseYencLine("=yend size=18446744073709551616").size, std::nullopt);
}
