#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "filters/Perlre.h"

using namespace zev;

namespace {

std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EPerlRe& e) {
    return e.what();
  }
  return "(no exception)";
}

TEST(Perlre, CompileErrorCarriesThePrefixAndLeavesNothingCompiled) {
  TPerlre re;
  std::string message = MessageOf([&] { re.Compile("(a"); });
  EXPECT_EQ(message.rfind("Perlre: ", 0), 0u) << message;
  EXPECT_NE(message.find("parenthesis"), std::string::npos) << message;
  EXPECT_FALSE(re.IsCompiled());
  EXPECT_FALSE(re.Matches("(a"));
  EXPECT_EQ(MessageOf([&] { re.FindNext(0); }), "Perlre: no regex defined");
  // The failing text was stored: setting it again does not compile (nor raise) again.
  EXPECT_EQ(MessageOf([&] { re.SetPattern("(a"); }), "(no exception)");
  re.SetPattern("a+");
  EXPECT_TRUE(re.Matches("caat"));
}

TEST(Perlre, NeverCompiledInstanceMatchesNothing) {
  TPerlre re;
  re.SetPattern("");  // equal to the stored empty text: nothing compiled
  EXPECT_FALSE(re.IsCompiled());
  EXPECT_FALSE(re.Matches("anything"));
  EXPECT_EQ(MessageOf([&] { re.MatchAt("x", 0); }), "Perlre: no regex defined");
}

TEST(Perlre, QuotedTextMatchesItselfOnly) {
  EXPECT_EQ(TPerlre::QuoteRegex("a.b (1/2)"), "a\\.b \\(1/2\\)");
  TPerlre re;
  re.Compile(TPerlre::QuoteRegex("a.b (1/2)"));
  EXPECT_TRUE(re.Matches("a.b (1/2)"));
  EXPECT_FALSE(re.Matches("axb (1/2)"));

  const std::string specials = "!$()*+,-.:=?[\\]^{|}";
  re.Compile("^" + TPerlre::QuoteRegex(specials) + "$");
  EXPECT_TRUE(re.Matches(specials));
}

TEST(Perlre, CaseAndDotOptions) {
  TPerlre caseless(true, TPerlre::kCaseless);
  caseless.Compile("ABC");
  EXPECT_TRUE(caseless.Matches("xabcx"));
  caseless.Compile("(?-i:ABC)");
  EXPECT_FALSE(caseless.Matches("xabcx"));

  TPerlre dotAll(true, TPerlre::kCaseless | TPerlre::kDotAll);
  dotAll.Compile("a.b");
  EXPECT_TRUE(dotAll.Matches("a\nb"));
  caseless.Compile("a.b");
  EXPECT_FALSE(caseless.Matches("a\nb"));
}

TEST(Perlre, FindNextWalksThroughTheSubject) {
  TPerlre re;
  re.Compile("(\\d)(\\d*)");
  const std::string subject = "a12b345";
  size_t start = 0, end = 0;
  ASSERT_TRUE(re.MatchAt(subject, 0));
  ASSERT_TRUE(re.GroupSpan(0, start, end));
  EXPECT_EQ(subject.substr(start, end - start), "12");
  ASSERT_TRUE(re.FindNext(0));
  ASSERT_TRUE(re.GroupSpan(2, start, end));
  EXPECT_EQ(subject.substr(start, end - start), "45");
  EXPECT_FALSE(re.FindNext(0));
  EXPECT_LT(re.MatchResult(), 0);
  re.Reset();
  EXPECT_EQ(re.MatchResult(), -1);
  EXPECT_FALSE(re.FindNext(100));  // a start beyond the text finds nothing
}

TEST(Perlre, MoreGroupsThanOffsetPairsStillMatch) {
  TPerlre re;
  re.Compile("(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)(l)(m)(n)(o)(p)");
  const std::string subject = "xabcdefghijklmnop";
  EXPECT_TRUE(re.Matches(subject));
  ASSERT_TRUE(re.MatchAt(subject, 0));
  size_t start = 0, end = 0;
  ASSERT_TRUE(re.GroupSpan(13, start, end));
  EXPECT_EQ(subject.substr(start, end - start), "m");
  EXPECT_FALSE(re.GroupSpan(14, start, end));
}

TEST(Perlre, CatastrophicPatternAnswersNoMatchInsteadOfHanging) {
  const std::string subject = std::string(5000, 'a') + "!";
  for (bool jit : {true, false}) {
    TPerlre re(jit);
    re.Compile("(a+)+$");
    EXPECT_FALSE(re.Matches(subject)) << "jit " << jit;
    re.Compile("^(\\w+\\s?)*$");
    EXPECT_FALSE(re.Matches(subject)) << "jit " << jit;
    EXPECT_TRUE(re.Matches("a few words"));
  }
}

TEST(Perlre, MatchesFromSeveralThreadsAtOnce) {
  TPerlre re;
  re.Compile("yenc \\((\\d+)/(\\d+)\\)$");
  std::vector<std::thread> threads;
  std::vector<int> hits(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20000; ++i) {
        std::string s = "file" + std::to_string(i) + ((i + t) % 2 ? " yEnc (1/5)" : " yEnc (x/5)");
        if (re.Matches(s)) ++hits[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int h : hits) EXPECT_EQ(h, 10000);
}

}  // namespace
