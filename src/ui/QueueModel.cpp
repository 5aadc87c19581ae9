#include "ui/QueueModel.h"

#include <QColor>
#include <QFont>
#include <QHeaderView>
#include <QTableView>
#include <algorithm>
#include <cstring>

#include "core/Config.h"
#include "core/Intl.h"

namespace zev::ui {
namespace {

QColor FromBgr(uint32_t bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); }
constexpr uint32_t kWhite = 0xFFFFFF;

}  // namespace

TQueueModel::TQueueModel(QObject* parent) : QAbstractTableModel(parent) {}

void TQueueModel::SetLayout(const std::vector<std::string>& layout) {
  beginResetModel();
  columns_.clear();
  for (const std::string& entry : layout)
    if (!entry.empty()) columns_.push_back(ParseColumnEntry(TColumnGrid::Queue, entry));
  endResetModel();
}

void TQueueModel::ApplyWidths(QTableView& view) const {
  for (int logical = 0; logical < view.horizontalHeader()->count(); ++logical) {
    const int visual = view.horizontalHeader()->visualIndex(logical);
    if (visual != logical) view.horizontalHeader()->moveSection(visual, logical);
  }
  // A column is never narrower than its caption.
  const QFontMetrics fm(view.horizontalHeader()->font());
  for (size_t i = 0; i < columns_.size(); ++i) {
    const QString caption = headerData(static_cast<int>(i), Qt::Horizontal, Qt::DisplayRole).toString();
    view.setColumnWidth(static_cast<int>(i), std::max(columns_[i].width, fm.horizontalAdvance(caption) + 16));
  }
}

std::vector<std::string> TQueueModel::Layout(const QTableView& view) const {
  std::vector<std::string> layout;
  const QHeaderView* header = view.horizontalHeader();
  for (int visual = 0; visual < header->count(); ++visual) {
    const int logical = header->logicalIndex(visual);
    if (logical < 0 || logical >= static_cast<int>(columns_.size())) continue;
    FColumn c = columns_[logical];
    c.width = header->sectionSize(logical);
    layout.push_back(ColumnEntryText(TColumnGrid::Queue, c));
  }
  return layout;
}

void TQueueModel::SetRows(std::vector<FQueueRow> rows) {
  if (rows.size() == rows_.size()) {
    rows_ = std::move(rows);
    if (!rows_.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
    return;
  }
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

const void* TQueueModel::ItemAt(int row) const {
  return row >= 0 && row < static_cast<int>(rows_.size()) ? rows_[row].item : nullptr;
}

int TQueueModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TQueueModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QString TQueueModel::Cell(const FQueueRow& row, char letter) const {
  switch (letter) {
    case 'S': return QString::number(row.score);
    case 'Y': return QString::fromUtf8(Tr(row.type.c_str()));
    case 'H': return QString::fromStdString(row.handler);
    case 'T': return QString::fromStdString(row.target);
    case 'G': return QString::fromStdString(row.group);
    case 'D': return QString::fromStdString(row.data);
    default: return {};
  }
}

int TQueueModel::ColourRole(const FQueueRow& row) const {
  if (row.handled) return crHandled;
  if (row.working) return crDownloading;
  return crQueued;
}

QVariant TQueueModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size()) ||
      index.column() >= static_cast<int>(columns_.size()))
    return {};
  const FQueueRow& row = rows_[index.row()];
  const char letter = columns_[index.column()].letter;
  switch (role) {
    case Qt::DisplayRole: return Cell(row, letter);
    case Qt::TextAlignmentRole:
      return static_cast<int>((letter == 'S' ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    case Qt::ForegroundRole:
      return gConfig ? QVariant(FromBgr(gConfig->FGColors[ColourRole(row)])) : QVariant();
    case Qt::BackgroundRole: {
      // White is the configured "no colour"; the view's own (alternating) base shows then.
      if (!gConfig || (gConfig->BGColors[ColourRole(row)] & kWhite) == kWhite) return {};
      return FromBgr(gConfig->BGColors[ColourRole(row)]);
    }
    case Qt::FontRole: {
      if (!gConfig) return {};
      const int r = ColourRole(row);
      QFont font;
      font.setBold(gConfig->IsBold(r));
      font.setItalic(gConfig->IsItalic(r));
      font.setUnderline(gConfig->IsUnderline(r));
      font.setStrikeOut(gConfig->IsStrikeOut(r));
      return font;
    }
    default: return {};
  }
}

QVariant TQueueModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  if (section < 0 || section >= static_cast<int>(columns_.size())) return {};
  const char letter = columns_[section].letter;
  if (!letter || !std::strchr("ADGHSTY", letter)) return QString::fromUtf8(Tr("(invalid)"));
  return QString::fromStdString(ColumnCaption(TColumnGrid::Queue, letter));
}

}  // namespace zev::ui
