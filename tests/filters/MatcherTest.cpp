#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "filters/Matcher.h"

using namespace zev;

namespace {

struct FMatchCase {
  std::vector<std::string> patterns;
  std::string subject;
  bool expected;
};

class MatcherCases : public ::testing::TestWithParam<FMatchCase> {};

TEST_P(MatcherCases, MatchesLikeTheWildcardRules) {
  const auto& c = GetParam();
  TMatcher m;
  m.AddPatterns(c.patterns);
  EXPECT_EQ(m.Matches(c.subject), c.expected) << "subject '" << c.subject << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Table, MatcherCases,
    ::testing::Values(
        FMatchCase{{"*.JPG"}, "photo.jpg", true}, FMatchCase{{"*.jpg"}, "PHOTO.JPG", true},
        FMatchCase{{"*"}, "", true}, FMatchCase{{"*"}, "anything at all", true},
        FMatchCase{{"*.jpg"}, "jpg", false}, FMatchCase{{"*.jpg"}, "x.jpeg", false},
        FMatchCase{{"\\*.txt"}, "*.txt", true}, FMatchCase{{"\\*.txt"}, "notes-*.txt", true},
        FMatchCase{{"\\*.txt"}, "a.txt", false},
        FMatchCase{{"*<0-3>.jpg"}, "a2.jpg", true}, FMatchCase{{"*<0-3>.jpg"}, "a5.jpg", false},
        FMatchCase{{"<0-3>*.jpg"}, "2abc.jpg", true}, FMatchCase{{"<5-9>.jpg"}, "7.jpg", true},
        FMatchCase{{"<5-9>.jpg"}, "4.jpg", false},
        FMatchCase{{"<0-9>.txt"}, "<0-9>.txt", true}, FMatchCase{{"<0-9>.txt"}, "x_<0-9>.txt", true},
        FMatchCase{{"<0-9>.txt"}, "5.txt", false},
        FMatchCase{{"?*.rar"}, "x.rar", true}, FMatchCase{{"?*.rar"}, "xy.rar", true},
        FMatchCase{{"?*.rar"}, ".rar", false}, FMatchCase{{"*?.rar"}, "x.rar", true},
        FMatchCase{{"*?.rar"}, ".rar", false},
        FMatchCase{{"#.jpg"}, "1.jpg", true}, FMatchCase{{"#.jpg"}, "cover-1.jpg", true},
        FMatchCase{{"#.jpg"}, "cover_1.jpg", true}, FMatchCase{{"#.jpg"}, "x1.jpg", false},
        FMatchCase{{"abc"}, "xabc", false}, FMatchCase{{"abc"}, "x-ABC", true},
        // Only ASCII letters fold; other bytes must be equal.
        FMatchCase{{"*\xE9.txt"}, "a\xC9.txt", false},
        // A shorter pattern stays a tail match after '-' however the states are shared.
        FMatchCase{{"1.jpg", "a-1.jpg"}, "cover-1.jpg", true},
        FMatchCase{{"a-1.jpg", "1.jpg"}, "cover-1.jpg", true},
        FMatchCase{{"*.rar", "*.r##"}, "set.r07", true}, FMatchCase{{"*.rar", "*.r##"}, "set.rx7", false}));

TEST(Matcher, AddPatternRefusesDuplicatesEmptyAndControlCharacters) {
  TMatcher m;
  EXPECT_FALSE(m.Modified());
  EXPECT_TRUE(m.AddPattern("*.jpg"));
  EXPECT_TRUE(m.Modified());

  TMatcher loaded;
  loaded.AddPattern("*.jpg");
  std::vector<std::string> before;
  loaded.ListPatterns(before);
  EXPECT_FALSE(loaded.AddPattern("*.Jpg"));
  EXPECT_FALSE(loaded.AddPattern(""));
  EXPECT_FALSE(loaded.AddPattern(std::string("*\x01.jpg")));  // would read as a digit range
  std::vector<std::string> after;
  loaded.ListPatterns(after);
  EXPECT_EQ(before, after);

  loaded.Clear();
  EXPECT_FALSE(loaded.Matches("x.jpg"));
  EXPECT_TRUE(loaded.AddPattern("*.jpg"));  // clearing forgets it
}

TEST(Matcher, ClearSetsModifiedOnlyWhenThereWerePatterns) {
  TMatcher m;
  m.Clear();
  EXPECT_FALSE(m.Modified());
}

TEST(Matcher, ListedPatternsReadBackToTheSameSet) {
  const std::vector<std::string> patterns{"*.JPG",      "\\*.txt", "*<0-3>.jpg", "<5-9>x",  "#?*",
                                          "a\\\\b",     "\\<0-3>.txt", "<0-9>.txt", "\\#1", "x\\?"};
  TMatcher m;
  m.AddPatterns(patterns);
  std::vector<std::string> listed;
  m.ListPatterns(listed);
  ASSERT_EQ(listed.size(), patterns.size());
  EXPECT_NE(std::find(listed.begin(), listed.end(), "*.jpg"), listed.end());
  EXPECT_NE(std::find(listed.begin(), listed.end(), "\\*.txt"), listed.end());
  EXPECT_NE(std::find(listed.begin(), listed.end(), "<0-9>.txt"), listed.end());

  TMatcher again;
  again.AddPatterns(listed);
  std::vector<std::string> relisted;
  again.ListPatterns(relisted);
  std::sort(listed.begin(), listed.end());
  std::sort(relisted.begin(), relisted.end());
  EXPECT_EQ(listed, relisted);
  for (const char* s : {"<0-3>.txt", "2.txt", "a2.jpg", "a\\b", "ab", "#1", "51", "x?", "xy", "<5-9>x", "7x"})
    EXPECT_EQ(m.Matches(s), again.Matches(s)) << s;
  EXPECT_TRUE(again.Matches("<0-3>.txt"));
  EXPECT_TRUE(again.Matches("a2.jpg"));
  EXPECT_TRUE(again.Matches("a\\b"));
  EXPECT_FALSE(again.Matches("ab"));
}

TEST(Matcher, ManyStarsOnALongSubjectFinishWithoutBacktrackingForever) {
  TMatcher m;
  m.AddPattern("*a*a*a*a*a*a*a*a*a*a*a*a*b");
  m.AddPattern("*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*c");
  std::string subject(3000, 'a');
  EXPECT_FALSE(m.Matches(subject));
  EXPECT_TRUE(m.Matches(subject + "b"));
}

// Plain backtracking glob, the definition the automaton must agree with.
bool GlobAt(const std::string& p, size_t pi, const std::string& s, size_t si) {
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; };
  if (pi == p.size()) return si == s.size();
  char c = p[pi];
  if (c == '*') {
    for (size_t k = si; k <= s.size(); ++k)
      if (GlobAt(p, pi + 1, s, k)) return true;
    return false;
  }
  if (si == s.size()) return false;
  if (c == '?') return GlobAt(p, pi + 1, s, si + 1);
  if (c == '#') return isdigit(static_cast<unsigned char>(s[si])) && GlobAt(p, pi + 1, s, si + 1);
  if (c == '<') {  // only the forms "<0-N>" and "<N-9>" occur in the generated patterns
    char lo = p[pi + 1], hi = p[pi + 3];
    return s[si] >= lo && s[si] <= hi && GlobAt(p, pi + 5, s, si + 1);
  }
  return lower(c) == lower(s[si]) && GlobAt(p, pi + 1, s, si + 1);
}

bool ReferenceMatches(const std::vector<std::string>& patterns, const std::string& s) {
  for (const auto& p : patterns) {
    if (GlobAt(p, 0, s, 0)) return true;
    for (size_t i = 0; i < s.size(); ++i)
      if ((s[i] == '-' || s[i] == '_') && GlobAt(p, 0, s, i + 1)) return true;
  }
  return false;
}

TEST(Matcher, AgreesWithABacktrackingGlobOnRandomSets) {
  std::mt19937 rng(20240611);
  const std::vector<std::string> pieces{"*", "?", "#", "a", "B", "-", "1", ".", "<0-3>", "<5-9>"};
  const std::string alphabet = "aAbB-_15.";
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::string> patterns(1 + rng() % 3);
    for (auto& p : patterns)
      for (int n = 1 + rng() % 6; n > 0; --n) p += pieces[rng() % pieces.size()];
    TMatcher m;
    m.AddPatterns(patterns);
    for (int k = 0; k < 8; ++k) {
      std::string s;
      for (int n = rng() % 9; n > 0; --n) s += alphabet[rng() % alphabet.size()];
      ASSERT_EQ(m.Matches(s), ReferenceMatches(patterns, s))
          << "subject '" << s << "', first pattern '" << patterns[0] << "' of " << patterns.size();
    }
  }
}

}  // namespace
