#include "db/Map.h"

#include <gtest/gtest.h>

#include "db/PendingRanges.h"

using namespace zev;

TEST(Map, SortedSetsAndDictionaries) {
  TMap1 set;
  for (uint32_t v : {50u, 10u, 30u, 10u, 70u}) InsertIntoMap1(set, v);
  EXPECT_EQ(set, (TMap1{10, 30, 50, 70}));
  EXPECT_FALSE(InsertIntoMap1(set, 30));
  for (uint32_t v : {10u, 30u, 50u, 70u}) EXPECT_GE(FindInMap1(set, v), 0) << v;
  for (uint32_t v : {0u, 11u, 71u}) EXPECT_EQ(FindInMap1(set, v), -1) << v;
  EXPECT_EQ(FindInMap1({}, 1), -1);

  TMap2 dict;
  EXPECT_TRUE(PutInMap2(dict, 500, 1));
  EXPECT_TRUE(PutInMap2(dict, 100, 2));
  EXPECT_FALSE(PutInMap2(dict, 500, 3)) << "an existing key gets the new value";
  ASSERT_EQ(FindInMap2(dict, 500), 1);
  EXPECT_EQ(dict[1].value, 3u);
  EXPECT_EQ(FindInMap2(dict, 300), -1);
  TMap2 loose{{9, 1}, {3, 7}, {5, 2}};
  SortMap2ByKey(loose, 2);
  EXPECT_EQ(loose[0].key, 3u) << "only the first two";
  SortMap2ByValue(loose);
  EXPECT_EQ(loose[0].value, 1u);

  int a = 1, b = 2;
  TMapP<int> names{{&a, "Alpha"}, {&b, "beta"}};
  EXPECT_EQ(FindInMapP(names, "ALPHA"), &a);
  EXPECT_EQ(FindInMapP(names, "Beta"), &b);
  EXPECT_EQ(FindInMapP(names, "gamma"), nullptr);
}

namespace {

std::string Text(const TPendingRanges& p) {
  std::string s;
  for (const FArticleRange& r : p.Ranges()) s += "(" + std::to_string(r.start) + "," + std::to_string(r.count) + ")";
  return s;
}

}  // namespace

TEST(PendingRanges, AddingMergesOverlappingAndTouchingRanges) {
  struct FCase {
    std::vector<FArticleRange> adds;
    const char* expected;
  } cases[] = {
      {{{10, 5}, {20, 5}, {15, 5}}, "(10,15)"},          // fills the gap exactly
      {{{10, 5}, {20, 5}, {16, 2}}, "(10,5)(16,2)(20,5)"},  // stays apart
      {{{20, 5}, {10, 5}}, "(10,5)(20,5)"},              // inserted in front
      {{{20, 5}, {18, 2}}, "(18,7)"},                    // touches the next range
      {{{20, 5}, {5, 100}}, "(5,100)"},                  // swallows it
      {{{10, 5}, {12, 1}}, "(10,5)"},                    // already covered
      {{{10, 5}, {30, 5}, {50, 5}, {12, 40}}, "(10,45)"},  // merges three
      {{{10, 0}}, ""},
      {{{4294967290u, 100}}, "(4294967290,6)"},           // ends with the number space
  };
  for (const FCase& c : cases) {
    TPendingRanges p;
    for (const FArticleRange& r : c.adds) p.Add(r.start, r.count);
    EXPECT_EQ(Text(p), c.expected);
  }
}

TEST(PendingRanges, RemovingShortensSplitsAndDeletes) {
  TPendingRanges p;
  p.Add(10, 10);
  p.Add(30, 10);
  p.Remove(12, 3);
  EXPECT_EQ(Text(p), "(10,2)(15,5)(30,10)");
  p.Remove(18, 14);
  EXPECT_EQ(Text(p), "(10,2)(15,3)(32,8)");
  auto last = p.Last();
  ASSERT_TRUE(last);
  EXPECT_EQ(last->first, 32u);
  EXPECT_EQ(last->second, 39u);
  p.Clip(11, 33);
  EXPECT_EQ(Text(p), "(11,1)(15,3)(32,2)");
  p.Remove(0, 100);
  EXPECT_FALSE(p.Last());
}
