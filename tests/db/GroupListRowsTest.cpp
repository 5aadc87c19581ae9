#include "db/GroupListRows.h"

#include <gtest/gtest.h>

#include "GroupListWorld.h"

using namespace zev;
using zev::test::TListWorld;

namespace {

std::vector<std::string> Names(const TGroupListRows& rows) {
  std::vector<std::string> out;
  for (size_t r = 0; r < rows.RowCount(); ++r) out.emplace_back(rows.RowName(r));
  return out;
}

using TNames = std::vector<std::string>;

// Two servers with different lists and one subscribed group.
class TRowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    a = &w.AddServer("news.a");
    b = &w.AddServer("news.b");
    w.List(*a, "alt.bin.misc 300 1 y\nalt.bin.tv 50 1 y\nComp.Lang 10 1 y\nalt.test 3 1 y\n");
    w.List(*b, "alt.bin.tv 900 1 y\nalt.test 20 1 y\n");
    w.Subscribe("alt.bin.tv");
    rows.SetServerColumns({a, b});
    rows.Rebuild();
  }

  TListWorld w;
  TServer* a = nullptr;
  TServer* b = nullptr;
  TGroupListRows rows{*w.list};
};

}  // namespace

TEST_F(TRowsTest, RowsStartInKeyOrderWithCountsAndMarks) {
  EXPECT_EQ(rows.TotalGroups(), 4u);
  EXPECT_EQ(Names(rows), (TNames{"Comp.Lang", "alt.bin.misc", "alt.bin.tv", "alt.test"}));
  EXPECT_EQ(rows.ArticleCount(1, 0), 300u);
  EXPECT_EQ(rows.ArticleCount(1, 1), 0u);
  EXPECT_EQ(rows.ArticleCount(2, 1), 900u);
  EXPECT_TRUE(rows.IsSubscribedRow(2));
  EXPECT_FALSE(rows.IsSubscribedRow(1));
  // Out of range asks return nothing rather than read past the arrays.
  EXPECT_EQ(rows.RowName(4), "");
  EXPECT_EQ(rows.ArticleCount(4, 0), 0u);
  EXPECT_EQ(rows.ArticleCount(0, 2), 0u);
  EXPECT_FALSE(rows.IsSubscribedRow(99));
  EXPECT_EQ(rows.RowOf("alt.test"), 3u);
  EXPECT_EQ(rows.RowOf("alt.nothing"), rows.RowCount());
}

TEST_F(TRowsTest, FilterAndSubscribedOnly) {
  struct FCase {
    std::string filter;
    bool subscribedOnly;
    TNames expected;
  };
  const FCase cases[] = {
      {"bin", false, {"alt.bin.misc", "alt.bin.tv"}},
      {"Comp", false, {"Comp.Lang"}},
      {"comp", false, {}},  // case-sensitive
      {"t", false, {"alt.bin.misc", "alt.bin.tv", "alt.test"}},
      {"alt.test", false, {"alt.test"}},
      {"alt.test\nalt", false, {}},  // never a match across two names
      {"s\nalt", false, {}},
      {"", true, {"alt.bin.tv"}},
      {"misc", true, {}},
      {"tv", true, {"alt.bin.tv"}},
      {"", false, {"Comp.Lang", "alt.bin.misc", "alt.bin.tv", "alt.test"}},
  };
  for (const FCase& c : cases) {
    rows.SetFilter(c.filter);
    rows.SetSubscribedOnly(c.subscribedOnly);
    EXPECT_EQ(Names(rows), c.expected) << "\"" << c.filter << "\" " << c.subscribedOnly;
  }
  EXPECT_FALSE(rows.SetFilter("")) << "unchanged";
  EXPECT_EQ(rows.TotalGroups(), 4u);
}

TEST_F(TRowsTest, SortingByNameAndServerCounts) {
  rows.ClickColumn(1);
  EXPECT_EQ(rows.SortColumn(), 1);
  EXPECT_TRUE(rows.SortDescending()) << "a server column starts with the most articles";
  EXPECT_EQ(Names(rows).front(), "alt.bin.tv");
  EXPECT_EQ(Names(rows)[1], "alt.test");
  rows.ClickColumn(1);
  EXPECT_FALSE(rows.SortDescending()) << "the second click turns it";
  EXPECT_EQ(Names(rows).back(), "alt.bin.tv");

  rows.ClickColumn(-1);
  EXPECT_EQ(Names(rows), (TNames{"alt.bin.misc", "alt.bin.tv", "alt.test", "Comp.Lang"})) << "case-insensitive";
  rows.ClickColumn(-1);
  EXPECT_EQ(Names(rows), (TNames{"Comp.Lang", "alt.test", "alt.bin.tv", "alt.bin.misc"}));

  // A filter keeps the sort the header shows.
  rows.ClickColumn(0);
  rows.SetFilter("alt");
  EXPECT_EQ(Names(rows), (TNames{"alt.bin.misc", "alt.bin.tv", "alt.test"}));
  rows.SetFilter("");
  EXPECT_EQ(Names(rows).front(), "alt.bin.misc");

  EXPECT_FALSE(rows.Sort(2, false, false));
  EXPECT_TRUE(w.log.Contains("Attempt to sort by invalid sort index."));
  EXPECT_EQ(rows.SortColumn(), 0);
  // Dropping the sorted server's column falls back to the name order.
  rows.SetServerColumns({a});
  EXPECT_EQ(rows.SortColumn(), 0);
  rows.SetServerColumns({});
  EXPECT_EQ(rows.SortColumn(), -1);
}

TEST_F(TRowsTest, UpdateFollowsNewNamesCountsAndSubscriptions) {
  EXPECT_EQ(rows.Update(), TGroupListRows::rcNone);
  w.list->SetArticleCount(*a, "alt.test", 77);
  EXPECT_EQ(rows.Update(), TGroupListRows::rcCounts);
  EXPECT_EQ(rows.ArticleCount(3, 0), 77u);

  rows.SetFilter("alt");
  w.List(*b, "alt.new 5 1 y\n");
  EXPECT_EQ(rows.Update(), TGroupListRows::rcRows) << "a new name rebuilds";
  EXPECT_EQ(rows.TotalGroups(), 5u);
  EXPECT_EQ(Names(rows), (TNames{"alt.bin.misc", "alt.bin.tv", "alt.new", "alt.test"})) << "filter kept";

  rows.SetSubscribedOnly(true);
  w.Subscribe("alt.new");
  EXPECT_EQ(rows.Update(), TGroupListRows::rcRows);
  EXPECT_EQ(Names(rows), (TNames{"alt.bin.tv", "alt.new"}));
  EXPECT_TRUE(rows.IsSubscribedRow(1));
}

TEST_F(TRowsTest, ForceCountFromTheGrid) {
  const size_t row = rows.RowOf("alt.bin.misc");
  EXPECT_TRUE(rows.ForceCount(row, 1, 1));
  rows.Update();
  EXPECT_EQ(rows.ArticleCount(row, 1), 1u);
  EXPECT_TRUE(rows.ForceCount(row, 0, 0));
  rows.Update();
  EXPECT_EQ(rows.ArticleCount(row, 0), 0u);
  EXPECT_FALSE(rows.ForceCount(99, 0, 1));
  EXPECT_FALSE(rows.ForceCount(row, 5, 1));
}

TEST(GroupListRows, EmptyListHasNoRows) {
  TListWorld w;
  TGroupListRows rows(*w.list);
  rows.Rebuild();
  EXPECT_EQ(rows.RowCount(), 0u);
  rows.SetFilter("x");
  EXPECT_EQ(rows.RowCount(), 0u);
  EXPECT_EQ(rows.RowName(0), "");
}
