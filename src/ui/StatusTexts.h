#pragma once
// The texts of the main window's status displays, apart from any widget: the time left,
// the connection panels of the status bar and their colours, the status overview of the
// caption, and the status column of the server tree.
#include <cstdint>
#include <string>
#include <vector>

#include "db/ConnState.h"

namespace zev::ui {

// "1 day 2 hours 5 minutes 3 seconds at 12.50 kB/s", or "unknown" at 0.01 kB/s or less.
std::string EtaText(double remainingKB, double speedKBs);
// "hh:mm:ss", or "unknown".
std::string ShortEtaText(double remainingKB, double speedKBs);

// One connection as the status displays see it.
struct FConnView {
  std::string server;
  TConnState state = csIdle;
  int percent = -1;  // of the header block or article in transfer; -1 when unknown
  std::string group;
};

// Whether the connection gets a panel (and a letter in the overview): everything but a
// slot that is idle or was disconnected by the user.
bool IsActiveConnection(TConnState state);

struct FPanel {
  std::string text;
  bool coloured = false;
  uint32_t foreground = 0, background = 0;  // 0xRRGGBB
};
// The status bar panel of a connection for the configured "StatusBarMode" (0 progress and
// colour, 1 colour only, 2 progress only, 3 neither).
FPanel ConnectionPanel(const FConnView& c, int statusBarMode);

// "<items> (<size>), <short eta>:" followed by one letter or percentage per active
// connection.
std::string StatusOverview(int64_t items, uint64_t queuedKB, const std::string& shortEta,
                           const std::vector<FConnView>& connections);

// What the caption shows for "CaptionMode" (0..3), given the window's state.
bool CaptionShowsOverview(int captionMode, bool minimizedOrHidden, bool applicationActive);

// The server-tree status of a connection slot: its state, or the progress of a transfer.
std::string SlotStatusText(TConnState state, int64_t progress, int64_t total, const std::string& message);
// The status of a news server or folder over its slots.
std::string ServerStatusText(int ready, int busy, int disconnected, int error);

}  // namespace zev::ui
