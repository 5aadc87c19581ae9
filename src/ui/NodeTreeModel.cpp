#include "ui/NodeTreeModel.h"

#include <QApplication>
#include <QMimeData>
#include <QPalette>

namespace zev::ui {
namespace {

const QString kNodeMime = QStringLiteral("application/x-zevrin-tree-node");

}  // namespace

TNodeTreeModel::TNodeTreeModel(QObject* parent) : QAbstractItemModel(parent) { Link(); }

void TNodeTreeModel::SetColumns(const QStringList& headers, const std::vector<Qt::Alignment>& alignments) {
  beginResetModel();
  headers_ = headers;
  alignments_ = alignments;
  for (FNodeRow& r : rows_)
    while (r.texts.size() < headers_.size()) r.texts.append(QString());
  endResetModel();
}

bool TNodeTreeModel::SameStructure(const std::vector<FNodeRow>& rows) const {
  if (rows.size() != rows_.size()) return false;
  for (size_t i = 0; i < rows.size(); ++i)
    if (rows[i].node != rows_[i].node || rows[i].parent != rows_[i].parent) return false;
  return true;
}

bool TNodeTreeModel::Update(std::vector<FNodeRow> rows) {
  for (FNodeRow& r : rows)
    while (r.texts.size() < headers_.size()) r.texts.append(QString());
  if (SameStructure(rows)) {
    rows_ = std::move(rows);
    if (!rows_.empty()) {
      for (size_t i = 0; i < rows_.size(); ++i) {
        const QModelIndex first = createIndex(positions_[i], 0, static_cast<quintptr>(i));
        const QModelIndex last = createIndex(positions_[i], columnCount() - 1, static_cast<quintptr>(i));
        emit dataChanged(first, last);
      }
    }
    return false;
  }
  beginResetModel();
  rows_ = std::move(rows);
  Link();
  endResetModel();
  return true;
}

void TNodeTreeModel::Link() {
  children_.assign(rows_.size() + 1, {});
  positions_.assign(rows_.size(), 0);
  for (size_t i = 0; i < rows_.size(); ++i) {
    const int p = rows_[i].parent;
    std::vector<int>& siblings = p >= 0 ? children_[p] : children_.back();
    positions_[i] = static_cast<int>(siblings.size());
    siblings.push_back(static_cast<int>(i));
  }
}

const void* TNodeTreeModel::NodeAt(const QModelIndex& index) const {
  if (!index.isValid() || index.internalId() >= rows_.size()) return nullptr;
  return rows_[index.internalId()].node;
}

QModelIndex TNodeTreeModel::IndexOf(const void* node) const {
  for (size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].node == node) return createIndex(positions_[i], 0, static_cast<quintptr>(i));
  return {};
}

const FNodeRow* TNodeTreeModel::RowOf(const void* node) const {
  for (const FNodeRow& r : rows_)
    if (r.node == node) return &r;
  return nullptr;
}

QModelIndex TNodeTreeModel::index(int row, int column, const QModelIndex& parent) const {
  const std::vector<int>& siblings =
      parent.isValid() ? children_[parent.internalId()] : children_.back();
  if (row < 0 || row >= static_cast<int>(siblings.size()) || column < 0 || column >= columnCount()) return {};
  return createIndex(row, column, static_cast<quintptr>(siblings[row]));
}

QModelIndex TNodeTreeModel::parent(const QModelIndex& child) const {
  if (!child.isValid() || child.internalId() >= rows_.size()) return {};
  const int p = rows_[child.internalId()].parent;
  if (p < 0) return {};
  return createIndex(positions_[p], 0, static_cast<quintptr>(p));
}

int TNodeTreeModel::rowCount(const QModelIndex& parent) const {
  if (!parent.isValid()) return static_cast<int>(children_.back().size());
  if (parent.column() != 0 || parent.internalId() >= rows_.size()) return 0;
  return static_cast<int>(children_[parent.internalId()].size());
}

int TNodeTreeModel::columnCount(const QModelIndex&) const { return static_cast<int>(headers_.size()); }

QVariant TNodeTreeModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.internalId() >= rows_.size()) return {};
  const FNodeRow& r = rows_[index.internalId()];
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: return index.column() < r.texts.size() ? r.texts[index.column()] : QString();
    case Qt::DecorationRole: return index.column() == 0 ? QVariant(r.icon) : QVariant();
    case Qt::ToolTipRole: return index.column() == 0 && !r.toolTip.isEmpty() ? QVariant(r.toolTip) : QVariant();
    case Qt::TextAlignmentRole:
      return static_cast<size_t>(index.column()) < alignments_.size()
                 ? QVariant(static_cast<int>(alignments_[index.column()] | Qt::AlignVCenter))
                 : QVariant();
    case Qt::ForegroundRole:
      return r.dimmed ? QVariant(QApplication::palette().brush(QPalette::Disabled, QPalette::Text)) : QVariant();
    default: return {};
  }
}

QVariant TNodeTreeModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= headers_.size()) return {};
  if (role == Qt::DisplayRole) return headers_[section];
  if (role == Qt::TextAlignmentRole && static_cast<size_t>(section) < alignments_.size())
    return static_cast<int>(alignments_[section] | Qt::AlignVCenter);
  return {};
}

Qt::ItemFlags TNodeTreeModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  const bool renamable = index.column() == 0 && renamable_ && renamable_(NodeAt(index));
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled |
         (renamable ? Qt::ItemIsEditable : Qt::NoItemFlags);
}

bool TNodeTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || index.column() != 0 || !NodeAt(index)) return false;
  const QString text = value.toString().trimmed();
  if (text.isEmpty()) return false;
  emit Renamed(NodeAt(index), text);
  return true;
}

QStringList TNodeTreeModel::mimeTypes() const { return {kNodeMime}; }

QMimeData* TNodeTreeModel::mimeData(const QModelIndexList& indexes) const {
  if (indexes.isEmpty()) return nullptr;
  auto* mime = new QMimeData;
  const quintptr node = reinterpret_cast<quintptr>(NodeAt(indexes.front()));
  mime->setData(kNodeMime, QByteArray::number(static_cast<qulonglong>(node)));
  return mime;
}

const void* TNodeTreeModel::DraggedNode(const QMimeData* mime) {
  if (!mime || !mime->hasFormat(kNodeMime)) return nullptr;
  return reinterpret_cast<const void*>(static_cast<quintptr>(mime->data(kNodeMime).toULongLong()));
}

}  // namespace zev::ui
