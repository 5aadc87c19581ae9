#include <gtest/gtest.h>

#include <string>

#include "filters/ExtList.h"

using namespace zev;

namespace {

struct FNameCase {
  std::string subject;
  std::string expected;  // empty: no name
};

std::string FoundName(const TExtList& list, const std::string& subject) {
  auto pos = list.FindFileName(subject);
  return pos ? subject.substr(pos->start, pos->length) : std::string();
}

class FindFileNameCases : public ::testing::TestWithParam<FNameCase> {};

TEST_P(FindFileNameCases, FindsTheNameInTheSubject) {
  static const TExtList list = TExtList::Create({".flac", ".nzb"});
  EXPECT_EQ(FoundName(list, GetParam().subject), GetParam().expected) << GetParam().subject;
}

INSTANTIATE_TEST_SUITE_P(
    Table, FindFileNameCases,
    ::testing::Values(
        FNameCase{"\"my file.par2\" yEnc (1/3)", "my file.par2"},
        FNameCase{"[1/8] - \"holiday.part1.rar\" yEnc (01/50)", "holiday.part1.rar"},
        FNameCase{"Report 2006 final.pdf 1234567 bytes", "final.pdf"},
        FNameCase{"my pic.jpg", "my pic.jpg"},  // a blank near the dot belongs to the name
        FNameCase{"Look at www.site.com now", ""},
        FNameCase{"Look at www.site.COM now", "www.site.COM"},
        FNameCase{".jpg", ""},
        FNameCase{"PHOTO.JPEG", "PHOTO.JPEG"},  // known four-letter extension, any case
        FNameCase{"song.flac (1/3)", "song.flac"},
        FNameCase{"abc.defg hij", ""},  // four unknown characters are no extension
        FNameCase{"Vol. 2 of the set", ""},
        FNameCase{"(*.mp3) album", ""},  // the name would start after the dot
        FNameCase{"archive.tar", "archive.tar"},
        FNameCase{"see [file.nfo]", "[file.nfo"},  // "[" may begin a name
        FNameCase{"a long_name-v2.zip", "long_name-v2.zip"},
        FNameCase{std::string("x.rar\0 hidden.jpg", 17), "x.rar"}));

TEST(ExtList, PlatformExtensionsCountExceptCom) {
  TExtList none = TExtList::Create({});
  EXPECT_EQ(FoundName(none, "song.flac now"), "");
  TExtList com = TExtList::Create({".COM", ".flac"});
  EXPECT_EQ(FoundName(com, "song.flac now"), "song.flac");
  EXPECT_EQ(FoundName(com, "visit site.com now"), "");
}

TEST(ExtList, EmptyExtensionDoesNotTurnEveryDotIntoOne) {
  TExtList list;
  list.AddExtension(".");
  list.AddExtension("");
  EXPECT_EQ(FoundName(list, "a. b"), "");
}

TEST(ExtList, TreeStopsGrowingAtItsNodeLimit) {
  TExtList list;
  list.AddExtension(".early");
  for (int i = 0; i < 20000; ++i) list.AddExtension(".x" + std::to_string(i * 7919) + "q");
  EXPECT_LE(list.NodeCount(), 32768u);
  EXPECT_EQ(FoundName(list, "file.early"), "file.early");
}

TEST(ExtList, HighBitCharactersUseTheirLowSevenBits) {
  TExtList list;
  list.AddExtension(".ab");
  // 0xE1 & 0x7F is 'a': the tree indexes by the low seven bits.
  EXPECT_EQ(FoundName(list, "n.\xE1" "b x"), "n.\xE1" "b");
}

}  // namespace
