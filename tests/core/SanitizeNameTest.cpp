#include "core/SanitizeName.h"

#include <gtest/gtest.h>

using namespace zev;

namespace {
constexpr const char* kInvalid = "\\/:*?\"<>|";
constexpr const char* kTrim = " -_,.";
}  // namespace

TEST(SanitizeName, Table) {
  struct Case {
    const char* text;
    bool isPath;
    const char* invalid;
    const char* trim;
    const char* expected;
  } cases[] = {
      {"a:b?c", false, kInvalid, kTrim, "a_b_c"},
      {"holiday.part1.rar", false, kInvalid, kTrim, "holiday.part1.rar"},
      {" -_,. ", false, kInvalid, kTrim, "unknown"},
      {"", false, kInvalid, kTrim, "unknown"},
      {"name\twith tab", false, kInvalid, kTrim, "name"},
      {"/home/u/ My Dir / sub /x", true, kInvalid, kTrim, "/home/u/My Dir/sub/x"},
      {"/a///b", true, kInvalid, kTrim, "/a/b"},
      {"//server/share", true, kInvalid, kTrim, "//server/share"},
      {"/dl/a:b/", true, kInvalid, kTrim, "/dl/a_b/"},
      // Whatever the user's lists say, nothing may leave the intended directory.
      {"../../etc/passwd", false, "", "", ".._.._etc_passwd"},
      {"..", false, "", "", "unknown"},
      {".", false, "", "", "unknown"},
      {"a\\b", false, "", "", "a_b"},
      {"/dl/../../etc", true, "", "", "/dl/unknown/unknown/etc"},
      {"/dl/./x", true, "", "", "/dl/unknown/x"},
      {"a\x7f" "b", false, "", "", "a_b"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SanitizeName(c.text, c.isPath, kNameLimit, c.invalid, c.trim), c.expected) << c.text;
}

TEST(SanitizeName, LimitsNeverSplitUtf8AndComponentsStayUnder255Bytes) {
  std::string umlauts;
  for (int i = 0; i < 200; ++i) umlauts += "\xc3\xa4";  // 400 bytes of "ä"
  std::string cut = SanitizeName(umlauts, false, kNameLimit, kInvalid, kTrim);
  EXPECT_LE(cut.size(), 255u);
  EXPECT_EQ(cut.size() % 2, 0u) << "a multi-byte character was split";
  std::string path = "/dl/" + std::string(300, 'x') + "/y";
  std::string p = SanitizeName(path, true, 1000, kInvalid, kTrim);
  EXPECT_EQ(p, "/dl/" + std::string(255, 'x') + "/y");
  EXPECT_EQ(SanitizeName(std::string(300, 'z'), false, 10, kInvalid, kTrim), std::string(10, 'z'));
}

TEST(SanitizeName, NulEndsTheName) {
  std::string withNul("abc\0/../x", 9);
  EXPECT_EQ(SanitizeName(withNul, false, kNameLimit, kInvalid, kTrim), "abc");
}
