#include "ui/NewsgroupListModel.h"

#include <QGuiApplication>
#include <QPalette>

#include "core/Format.h"
#include "core/Intl.h"
#include "core/TextUtil.h"
#include "db/GroupListRows.h"
#include "db/Server.h"

namespace zev::ui {

TNewsgroupListModel::TNewsgroupListModel(TGroupListRows& rows, QObject* parent)
    : QAbstractTableModel(parent), rows_(rows) {}

void TNewsgroupListModel::CountsChanged() {
  if (rowCount() > 0 && columnCount() > 1) emit dataChanged(index(0, 1), index(rowCount() - 1, columnCount() - 1));
}

void TNewsgroupListModel::SetServers(const std::vector<TServer*>& servers) {
  QStringList names;
  for (const TServer* s : servers) names << QString::fromStdString(s->Name());
  beginResetModel();
  rows_.SetServerColumns(servers);
  serverNames_ = names;
  endResetModel();
}

void TNewsgroupListModel::RowsChanged() {
  beginResetModel();
  endResetModel();
}

int TNewsgroupListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.RowCount());
}

int TNewsgroupListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 1 + static_cast<int>(serverNames_.size());
}

QVariant TNewsgroupListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const auto row = static_cast<size_t>(index.row());
  const int column = index.column();
  switch (role) {
    case Qt::DisplayRole: {
      if (column == 0) {
        const std::string_view name = rows_.RowName(row);
        return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
      }
      const uint32_t count = const_cast<TGroupListRows&>(rows_).ArticleCount(row, static_cast<size_t>(column - 1));
      return count ? QString::fromStdString(FormatThousands(uint64_t{count})) : QString();
    }
    case Qt::TextAlignmentRole:
      return column == 0 ? QVariant(Qt::AlignLeft | Qt::AlignVCenter) : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    // Subscribed newsgroups stand out with text and background colours exchanged; the
    // view's selection colours still win for selected cells.
    case Qt::BackgroundRole:
      if (rows_.IsSubscribedRow(row)) return QGuiApplication::palette().color(QPalette::Text);
      return {};
    case Qt::ForegroundRole:
      if (rows_.IsSubscribedRow(row)) return QGuiApplication::palette().color(QPalette::Base);
      return {};
    default: return {};
  }
}

QVariant TNewsgroupListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  if (section == 0)
    return QString::fromStdString(
        FormatText(Tr("Newsgroup name (total %s groups)"), FormatThousands(uint64_t{rows_.RowCount()}).c_str()));
  return serverNames_.value(section - 1);
}

}  // namespace zev::ui
