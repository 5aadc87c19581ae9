#pragma once
// The model of the Newsgroups grid: one row per newsgroup of TGroupListRows, column 0 the
// name, then one column per news server with that server's article count. Nothing is
// copied per row: every cell is read from the rows' compact arrays when the view paints
// it, so 200,000 groups cost what a screenful costs.
#include <QAbstractTableModel>
#include <QStringList>
#include <vector>

namespace zev {
class TGroupListRows;
class TServer;
}

namespace zev::ui {

class TNewsgroupListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  TNewsgroupListModel(TGroupListRows& rows, QObject* parent = nullptr);

  // The news servers shown as columns changed (or were renamed).
  void SetServers(const std::vector<TServer*>& servers);
  // The rows were rebuilt, filtered or sorted.
  void RowsChanged();
  // Only counts changed.
  void CountsChanged();

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  TGroupListRows& rows_;
  QStringList serverNames_;
};

}  // namespace zev::ui
