#include "ui/TreeRows.h"

#include <QPainter>
#include <QPixmap>
#include <functional>
#include <mutex>
#include <shared_mutex>

#include "core/Format.h"
#include "core/Intl.h"
#include "core/TextUtil.h"
#include "db/Group.h"
#include "db/GroupTree.h"
#include "db/Server.h"
#include "db/ServerTree.h"
#include "ui/AppIcon.h"
#include "ui/StatusTexts.h"

namespace zev::ui {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QColor StateColour(TConnState state) {
  switch (state) {
    case csReady: return QColor(0x3c, 0xb3, 0x4a);
    case csHeaders:
    case csArticle:
    case csNewsgroups: return QColor(0x1e, 0x7b, 0x34);
    case csError: return QColor(0xd0, 0x31, 0x2d);
    case csIdle:
    case csUserDisconnected: return QColor(0xa0, 0xa4, 0xaa);
    default: return QColor(0xe5, 0xb7, 0x0b);
  }
}

// A dot in the colour of the connection's state, with a small padlock when it is
// encrypted.
QIcon SlotIcon(TConnState state, bool encrypted) {
  static QIcon cache[kConnStateCount][2];
  QIcon& icon = cache[state][encrypted];
  if (!icon.isNull()) return icon;
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(StateColour(state).darker(140));
  p.setBrush(StateColour(state));
  p.drawEllipse(QRectF(2.5, 2.5, 10, 10));
  if (encrypted) {
    p.setPen(QPen(QColor(0x30, 0x30, 0x30), 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(9.5, 6.5, 5, 6), 0, 180 * 16);
    p.setBrush(QColor(0xf0, 0xc0, 0x30));
    p.drawRect(QRectF(8.5, 9.5, 7, 5.5));
  }
  icon = QIcon(pm);
  return icon;
}

uint64_t PeriodBytes(const TPeriodTotals& totals, bool articles, bool headers) {
  if (articles) return totals.Bodies.load();
  if (headers) return totals.Headers();
  return totals.Total.load();
}

QString Size(uint64_t bytes) { return Q(FormatSizeKB(bytes / 1024)); }
QString Rate(double kbs) { return kbs > 0 ? Q(FormatText("%.2f", kbs)) : QString(); }

struct FSlotCounts {
  int ready = 0, busy = 0, disconnected = 0, error = 0;
};

void CountSlots(const TServer& node, FSlotCounts& c) {
  if (node.IsSlot()) {
    const TConnState s = node.State();
    if (s == csReady) ++c.ready;
    else if (kBusyStates.Contains(s)) ++c.busy;
    else if (s == csError) ++c.error;
    else ++c.disconnected;
    return;
  }
  for (const auto& child : node.Children()) CountSlots(*child, c);
}

QString ServerCell(const TServer& node, char letter, int64_t nowTick) {
  switch (letter) {
    case 'M': return Size(PeriodBytes(node.Monthly, node.Has(sfMonthlyShowArticles), node.Has(sfMonthlyShowHeaders)));
    case 'T': return Size(PeriodBytes(node.Daily, node.Has(sfDailyShowArticles), node.Has(sfDailyShowHeaders)));
    case 'A': return Rate(node.AverageRate(nowTick));
    case 'C': return Rate(node.CurrentRate());
    case 'S': {
      if (node.IsSlot())
        return Q(SlotStatusText(node.State(), node.Status.Progress.load(), node.Status.ProgressTotal.load(),
                                node.Status.Get(TSlotStatus::StatusMessage)));
      FSlotCounts c;
      CountSlots(node, c);
      return Q(ServerStatusText(c.ready, c.busy, c.disconnected, c.error));
    }
    case 'R': return node.IsSlot() ? Q(node.Status.Get(TSlotStatus::LastResponseText)) : QString();
    case 'O': return node.IsSlot() ? Q(node.Status.Get(TSlotStatus::LastCommandText)) : QString();
    case 'G': return node.IsSlot() ? Q(node.Status.Get(TSlotStatus::CurrentGroup)) : QString();
    default: return {};
  }
}

QIcon ServerIcon(const TServer& node) {
  if (node.IsSlot()) return SlotIcon(node.State(), node.Encrypted.load());
  if (node.IsNewsServer()) return ThemeIcon("network-server", QStyle::SP_DriveNetIcon);
  return ThemeIcon("folder", QStyle::SP_DirIcon);
}

QString GroupCell(const TGroup& node, char letter, TDateTime now, const FGroupFigures& f) {
  auto count = [](uint32_t n) { return n ? Q(FormatThousands(static_cast<uint64_t>(n))) : QString(); };
  const bool newsgroup = node.IsNewsgroup();
  switch (letter) {
    case 'M': return newsgroup ? count(f.queuedBodies) : QString();
    case 'W': return count(node.WantCount.load());
    case 'N': return count(node.NewCount.load() + node.PendingNew.load());
    case 'K': return count(node.KillCount.load());
    case 'T': return newsgroup ? count(f.articles) : QString();
    case 'O': return Q(TimeSinceFileDate(node.LastOpen.load(), now));
    case 'L': return newsgroup ? Q(TimeSinceDateTime(node.LastRefresh.load(), now)) : QString();
    case 'E':
      return newsgroup ? Q(TimeUntilText(node.Has(gfAutoRefresh), static_cast<int>(node.RefreshInterval()),
                                         node.LastRefresh.load(), now))
                       : QString();
    case 'R': {
      // How far the group's refresh has come over the servers that carry it.
      const int servers = std::max(f.servers, f.pendingServers);
      if (!newsgroup || servers == 0) return {};
      if (f.pendingServers == 0) return QString::fromUtf8(Tr("Yes"));
      return QString::number((servers - f.pendingServers) * 100 / servers) + '%';
    }
    default: return {};
  }
}

}  // namespace

std::vector<FNodeRow> ServerTreeRows(const TServerTree& tree, const std::vector<FColumn>& columns, int64_t nowTick) {
  std::vector<FNodeRow> rows;
  std::shared_lock lock(tree.Lock());
  std::function<void(const TServer&, int)> add = [&](const TServer& node, int parent) {
    FNodeRow r;
    r.node = &node;
    r.parent = parent;
    r.texts.append(Q(node.Name()));
    for (const FColumn& c : columns) r.texts.append(ServerCell(node, c.letter, nowTick));
    r.icon = ServerIcon(node);
    r.expanded = node.Has(sfExpanded);
    r.dimmed = node.Paused.load();
    if (node.IsNewsServer()) r.toolTip = Q(node.Host() + ":" + std::to_string(node.Port.load()));
    const int index = static_cast<int>(rows.size());
    rows.push_back(std::move(r));
    for (const auto& child : node.Children()) add(*child, index);
  };
  for (const auto& root : tree.Roots()) add(*root, -1);
  return rows;
}

std::vector<FNodeRow> GroupTreeRows(const TGroupTree& tree, const std::vector<FColumn>& columns, TDateTime now,
                                    const std::function<FGroupFigures(const TGroup&)>& figures) {
  std::vector<FNodeRow> rows;
  std::function<void(const TGroup&, int)> add = [&](const TGroup& node, int parent) {
    const FGroupFigures f = node.IsNewsgroup() && figures ? figures(node) : FGroupFigures{};
    FNodeRow r;
    r.node = &node;
    r.parent = parent;
    r.texts.append(Q(node.Name()));
    for (const FColumn& c : columns) r.texts.append(GroupCell(node, c.letter, now, f));
    r.icon = node.IsNewsgroup() ? ThemeIcon("network-workgroup", QStyle::SP_FileIcon)
                                : ThemeIcon("folder", QStyle::SP_DirIcon);
    r.expanded = node.Has(gfExpanded);
    const int index = static_cast<int>(rows.size());
    rows.push_back(std::move(r));
    for (const auto& child : node.Children()) add(*child, index);
  };
  for (const auto& root : tree.Roots()) add(*root, -1);
  return rows;
}

}  // namespace zev::ui
