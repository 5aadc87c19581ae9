#pragma once
// The tree control of the Servers and Groups pages: a "Name" column and the columns of a
// column layout, in-place renaming, and drags within the tree that the window places by
// its rules. Column changes by the user are noted, so that the window's timer can write
// the layout back.
#include <QTreeView>
#include <functional>
#include <string>
#include <vector>

#include "core/ColumnLayout.h"

namespace zev::ui {

class TNodeTreeModel;

class TNodeTreeView : public QTreeView {
  Q_OBJECT
 public:
  TNodeTreeView(TColumnGrid grid, QWidget* parent = nullptr);

  TNodeTreeModel* Model() const { return model_; }
  // Shows the columns of the layout entries ("M:60C", "S:A" ...).
  void SetLayout(const std::vector<std::string>& layout);
  // The layout as the user left it: visual order, widths, alignments.
  std::vector<std::string> Layout() const;
  const std::vector<FColumn>& Columns() const { return columns_; }
  // The column user changed widths or order since the last call.
  bool TakeColumnsChanged();

  // The node of the current row, nullptr when none.
  const void* CurrentNode() const;
  void SelectNode(const void* node);
  // After a new snapshot: expands the rows the snapshot marks as expanded.
  void RestoreExpansion();

  // Drag and drop: whether `dragged` may land on `target`, and the drop itself (called
  // after the drag has ended, so the tree may change then).
  std::function<bool(const void* dragged, const void* target)> canDrop;
  std::function<void(const void* dragged, const void* target)> drop;
  // The user expanded or collapsed a node.
  std::function<void(const void* node, bool expanded)> expandedChanged;

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  bool Accept(QDropEvent* event, const void** dragged, const void** target) const;

  TColumnGrid grid_;
  TNodeTreeModel* model_;
  std::vector<FColumn> columns_;
  bool applying_ = false;
  bool columnsChanged_ = false;
  bool nameResized_ = false;  // the user set the name column's width
};

}  // namespace zev::ui
