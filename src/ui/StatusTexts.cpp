#include "ui/StatusTexts.h"

#include <cmath>

#include "core/Format.h"
#include "core/Intl.h"
#include "core/TextUtil.h"

namespace zev::ui {
namespace {

constexpr double kUnknownSpeed = 0.01;

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

}  // namespace

std::string EtaText(double remainingKB, double speedKBs) {
  if (speedKBs <= kUnknownSpeed) return Tr("unknown");
  int64_t rest = static_cast<int64_t>(remainingKB / speedKBs);
  std::string text;
  if (rest >= 172800) text += FormatText(Tr("%d days "), static_cast<int>(rest / 86400));
  else if (rest >= 86400) text += Tr("1 day ");
  rest %= 86400;
  if (rest >= 7200) text += FormatText(Tr("%d hours "), static_cast<int>(rest / 3600));
  else if (rest >= 3600) text += Tr("1 hour ");
  rest %= 3600;
  if (rest >= 120) text += FormatText(Tr("%d minutes "), static_cast<int>(rest / 60));
  else if (rest >= 60) text += Tr("1 minute ");
  rest %= 60;
  if (rest >= 2) text += FormatText(Tr("%d seconds"), static_cast<int>(rest));
  else if (rest == 1) text += Tr("1 second");
  else if (text.empty()) text = Tr("now");
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text + FormatText(Tr(" at %.2f kB/s"), speedKBs);
}

std::string ShortEtaText(double remainingKB, double speedKBs) {
  if (speedKBs <= kUnknownSpeed) return Tr("unknown");
  const int64_t s = static_cast<int64_t>(remainingKB / speedKBs);
  return FormatText("%.2d:%.2d:%.2d", static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60),
                    static_cast<int>(s % 60));
}

bool IsActiveConnection(TConnState state) { return state != csIdle && state != csUserDisconnected; }

FPanel ConnectionPanel(const FConnView& c, int statusBarMode) {
  FPanel panel;
  const bool transfer = c.state == csHeaders || c.state == csArticle;
  const bool progress = statusBarMode == 0 || statusBarMode == 2;
  if (transfer && progress && c.percent >= 0) {
    panel.text = c.server + ":" + std::to_string(c.percent) + "% ";
    panel.text += c.state == csHeaders ? c.group + Tr(" headers") : Tr(ConnStateText(c.state));
  } else {
    panel.text = c.server + ":" + Tr(ConnStateText(c.state));
  }
  if (statusBarMode == 0 || statusBarMode == 1) {
    panel.coloured = true;
    auto paint = [&panel](uint32_t fg, uint32_t bg) {
      panel.foreground = fg;
      panel.background = bg;
    };
    const std::string& t = panel.text;
    if (Contains(t, Tr("Ready"))) paint(0x000000, 0x00FF00);
    else if (Contains(t, Tr("Error!"))) paint(0xFFFFFF, 0xFF0000);
    else if (Contains(t, Tr("Retrying...")) || Contains(t, Tr("Connected")) || Contains(t, Tr("Connecting...")))
      paint(0x000000, 0xFFFF00);
    else paint(0xFFFFFF, 0x008000);
  }
  return panel;
}

std::string StatusOverview(int64_t items, uint64_t queuedKB, const std::string& shortEta,
                           const std::vector<FConnView>& connections) {
  std::string text = FormatText("%lld (%s), %s", static_cast<long long>(items), FormatSizeKB(queuedKB).c_str(),
                                shortEta.c_str());
  text += ":";
  for (const FConnView& c : connections) {
    if (!IsActiveConnection(c.state)) continue;
    text += ' ';
    if (c.state == csRetrying) text += 'R';
    else if (c.state == csError) text += 'E';
    else if ((c.state == csHeaders || c.state == csArticle) && c.percent >= 0) text += std::to_string(c.percent) + "%";
    else if (kAliveIdleStates.Contains(c.state)) text += 'C';
    else text += '?';
  }
  return text;
}

bool CaptionShowsOverview(int captionMode, bool minimizedOrHidden, bool applicationActive) {
  if (minimizedOrHidden) return captionMode != 3;
  switch (captionMode) {
    case 1: return !applicationActive;
    case 2: return true;
    default: return false;
  }
}

std::string SlotStatusText(TConnState state, int64_t progress, int64_t total, const std::string& message) {
  if (state == csArticle && total > 0) {
    const int percent = static_cast<int>(std::min<int64_t>(100, progress * 100 / total));
    return FormatText(Tr("%dk of %dk (%s)..."), static_cast<int>(progress / 1024), static_cast<int>(total / 1024),
                      (std::to_string(percent) + "%").c_str());
  }
  if ((state == csHeaders || state == csNewsgroups) && total > 0)
    return FormatText(Tr("%s of %s rows..."), FormatThousands(progress).c_str(), FormatThousands(total).c_str());
  std::string text = Tr(ConnStateText(state));
  const bool explains = state == csError || state == csRetrying || state == csUserDisconnected;
  if (explains && !message.empty()) text += text.empty() ? message : " " + message;
  return text;
}

std::string ServerStatusText(int ready, int busy, int disconnected, int error) {
  return FormatText(Tr("%d ready, %d busy, %d disc, %d error"), ready, busy, disconnected, error);
}

}  // namespace zev::ui
