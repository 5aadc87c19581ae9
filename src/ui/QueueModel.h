#pragma once
// The model of the Queue page: one row per queue item (type, score, handler, target,
// group, data), in the columns of "QueueColumns", coloured by the item's state. Like the
// trees it shows a snapshot the window's timer takes.
#include <QAbstractTableModel>
#include <string>
#include <vector>

#include "core/ColumnLayout.h"
#include "ui/EngineLink.h"

class QTableView;

namespace zev::ui {

class TQueueModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit TQueueModel(QObject* parent = nullptr);

  void SetLayout(const std::vector<std::string>& layout);
  void ApplyWidths(QTableView& view) const;
  // The layout as the view shows it now (visual order, widths).
  std::vector<std::string> Layout(const QTableView& view) const;
  void SetRows(std::vector<FQueueRow> rows);
  const std::vector<FQueueRow>& Rows() const { return rows_; }
  const void* ItemAt(int row) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  QString Cell(const FQueueRow& row, char letter) const;
  int ColourRole(const FQueueRow& row) const;

  std::vector<FColumn> columns_;
  std::vector<FQueueRow> rows_;
};

}  // namespace zev::ui
