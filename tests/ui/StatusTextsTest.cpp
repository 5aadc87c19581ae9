// The texts of the status displays: time left, connection panels and their colours, the
// caption's overview.
#include <gtest/gtest.h>

#include "core/Format.h"
#include "ui/StatusTexts.h"

namespace zev::ui {
namespace {

TEST(StatusTexts, TimeLeft) {
  struct FCase {
    double kb, speed;
    const char* text;
    const char* shortText;
  } cases[] = {
      {100, 0.01, "unknown", "unknown"},
      {0, 10, "now at 10.00 kB/s", "00:00:00"},
      {10, 10, "1 second at 10.00 kB/s", "00:00:01"},
      {20, 10, "2 seconds at 10.00 kB/s", "00:00:02"},
      {600, 10, "1 minute at 10.00 kB/s", "00:01:00"},
      {36610, 10, "1 hour 1 minute 1 second at 10.00 kB/s", "01:01:01"},
      {172800, 1, "2 days at 1.00 kB/s", "48:00:00"},
      {90000, 1, "1 day 1 hour at 1.00 kB/s", "25:00:00"},
  };
  for (const FCase& c : cases) {
    EXPECT_EQ(EtaText(c.kb, c.speed), c.text) << c.kb << " kB at " << c.speed;
    EXPECT_EQ(ShortEtaText(c.kb, c.speed), c.shortText) << c.kb << " kB at " << c.speed;
  }
}

TEST(StatusTexts, ConnectionPanelTextAndColour) {
  constexpr uint32_t kBlack = 0x000000, kWhite = 0xFFFFFF;
  struct FCase {
    TConnState state;
    int percent;
    int mode;
    const char* text;
    bool coloured;
    uint32_t fg, bg;
  } cases[] = {
      {csReady, -1, 0, "News:Ready", true, kBlack, 0x00FF00},
      {csError, -1, 1, "News:Error!", true, kWhite, 0xFF0000},
      {csConnecting, -1, 0, "News:Connecting...", true, kBlack, 0xFFFF00},
      {csConnected, -1, 0, "News:Connected", true, kBlack, 0xFFFF00},
      {csHeaders, 42, 0, "News:42% alt.test headers", true, kWhite, 0x008000},
      {csArticle, 7, 2, "News:7% Receiving article ", false, 0, 0},
      {csHeaders, 42, 1, "News:Receiving headers... ", true, kWhite, 0x008000},
      {csReady, -1, 3, "News:Ready", false, 0, 0},
  };
  for (const FCase& c : cases) {
    FConnView view{"News", c.state, c.percent, "alt.test"};
    FPanel p = ConnectionPanel(view, c.mode);
    EXPECT_EQ(p.text, c.text);
    EXPECT_EQ(p.coloured, c.coloured) << c.text;
    if (c.coloured) {
      EXPECT_EQ(p.foreground, c.fg) << c.text;
      EXPECT_EQ(p.background, c.bg) << c.text;
    }
  }
}

TEST(StatusTexts, OverviewListsActiveConnections) {
  std::vector<FConnView> conns = {{"A", csRetrying, -1, ""}, {"A", csIdle, -1, ""},     {"B", csError, -1, ""},
                                  {"B", csReady, -1, ""},    {"C", csArticle, 55, ""}, {"C", csUserDisconnected, -1, ""}};
  EXPECT_EQ(StatusOverview(3, 2048, "00:01:00", conns), "3 (2.00 MB), 00:01:00: R E C 55%");
}

TEST(StatusTexts, CaptionModes) {
  // mode, minimised or hidden, application active -> overview?
  EXPECT_FALSE(CaptionShowsOverview(0, false, false));
  EXPECT_TRUE(CaptionShowsOverview(0, true, true));
  EXPECT_TRUE(CaptionShowsOverview(1, false, false));
  EXPECT_FALSE(CaptionShowsOverview(1, false, true));
  EXPECT_TRUE(CaptionShowsOverview(2, false, true));
  EXPECT_FALSE(CaptionShowsOverview(3, true, false));
}

TEST(StatusTexts, SlotStatus) {
  EXPECT_EQ(SlotStatusText(csArticle, 512 * 1024, 1024 * 1024, ""), "512k of 1024k (50%)...");
  EXPECT_EQ(SlotStatusText(csHeaders, 1500, 20000, ""),
            FormatThousands(int64_t{1500}) + " of " + FormatThousands(int64_t{20000}) + " rows...");
  EXPECT_EQ(SlotStatusText(csError, 0, 0, "certificate not trusted: self-signed"),
            "Error! certificate not trusted: self-signed");
  EXPECT_EQ(SlotStatusText(csReady, 0, 0, "stale"), "Ready");
  EXPECT_EQ(ServerStatusText(1, 2, 3, 0), "1 ready, 2 busy, 3 disc, 0 error");
}

}  // namespace
}  // namespace zev::ui
