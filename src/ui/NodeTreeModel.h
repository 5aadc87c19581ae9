#pragma once
// The model behind the server tree and the group tree. The trees belong to the engine and
// change under connection threads; the model holds a snapshot of what is shown (texts,
// icons, the structure) that the window's timer takes on the user-interface thread. The
// view paints only from the snapshot, so it never reaches a node the engine has freed;
// actions find the live node again from the identity the snapshot keeps.
#include <QAbstractItemModel>
#include <QIcon>
#include <QStringList>
#include <functional>
#include <vector>

namespace zev::ui {

struct FNodeRow {
  const void* node = nullptr;
  int parent = -1;  // index of the parent row in the snapshot, -1 for a top-level row
  QStringList texts;
  QIcon icon;
  QString toolTip;
  bool expanded = false;
  bool dimmed = false;  // a paused node
};

class TNodeTreeModel : public QAbstractItemModel {
  Q_OBJECT
 public:
  explicit TNodeTreeModel(QObject* parent = nullptr);

  void SetColumns(const QStringList& headers, const std::vector<Qt::Alignment>& alignments);
  // Takes a new snapshot (rows in pre-order). When only the texts changed the rows are
  // updated in place; a changed structure resets the model. Returns true on a reset.
  bool Update(std::vector<FNodeRow> rows);

  const void* NodeAt(const QModelIndex& index) const;
  QModelIndex IndexOf(const void* node) const;
  const FNodeRow* RowOf(const void* node) const;
  const std::vector<FNodeRow>& Rows() const { return rows_; }

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  Qt::DropActions supportedDragActions() const override { return Qt::MoveAction; }
  Qt::DropActions supportedDropActions() const override { return Qt::MoveAction; }

  // The node a drag carries.
  static const void* DraggedNode(const QMimeData* mime);

  // Which nodes the user may rename in place; a rename is only reported, the owner of the
  // tree carries it out.
  void SetRenamable(std::function<bool(const void*)> renamable) { renamable_ = std::move(renamable); }
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

 signals:
  void Renamed(const void* node, const QString& text);

 private:
  bool SameStructure(const std::vector<FNodeRow>& rows) const;
  void Link();

  QStringList headers_;
  std::vector<Qt::Alignment> alignments_;
  std::vector<FNodeRow> rows_;
  std::vector<std::vector<int>> children_;  // per row, and the top level at the end
  std::vector<int> positions_;              // a row's place among its siblings
  std::function<bool(const void*)> renamable_;
};

}  // namespace zev::ui
