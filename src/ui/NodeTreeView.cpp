#include "ui/NodeTreeView.h"

#include <QDragMoveEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QTimer>
#include <algorithm>

#include "core/Intl.h"
#include "ui/NodeTreeModel.h"

namespace zev::ui {
namespace {

constexpr int kNameWidth = 220;

Qt::Alignment AlignmentOf(char align) {
  return align == 'C' ? Qt::AlignHCenter : align == 'R' ? Qt::AlignRight : Qt::AlignLeft;
}

}  // namespace

TNodeTreeView::TNodeTreeView(TColumnGrid grid, QWidget* parent)
    : QTreeView(parent), grid_(grid), model_(new TNodeTreeModel(this)) {
  setModel(model_);
  setUniformRowHeights(true);
  setAlternatingRowColors(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
  setDragEnabled(true);
  setAcceptDrops(true);
  setDropIndicatorShown(true);
  setDragDropMode(QAbstractItemView::DragDrop);
  setDefaultDropAction(Qt::MoveAction);
  setContextMenuPolicy(Qt::ActionsContextMenu);
  header()->setSectionsMovable(true);
  header()->setFirstSectionMovable(false);
  header()->setStretchLastSection(true);
  connect(header(), &QHeaderView::sectionResized, this, [this](int section) {
    if (applying_) return;
    columnsChanged_ = true;
    if (section == 0) nameResized_ = true;
  });
  connect(header(), &QHeaderView::sectionMoved, this, [this] {
    if (!applying_) columnsChanged_ = true;
  });
  connect(this, &QTreeView::expanded, this, [this](const QModelIndex& index) {
    if (expandedChanged && !applying_) expandedChanged(model_->NodeAt(index), true);
  });
  connect(this, &QTreeView::collapsed, this, [this](const QModelIndex& index) {
    if (expandedChanged && !applying_) expandedChanged(model_->NodeAt(index), false);
  });
}

void TNodeTreeView::SetLayout(const std::vector<std::string>& layout) {
  applying_ = true;
  columns_.clear();
  QStringList headers{QString::fromUtf8(Tr("Name"))};
  std::vector<Qt::Alignment> alignments{Qt::AlignLeft};
  for (const std::string& entry : layout) {
    if (entry.empty()) continue;
    columns_.push_back(ParseColumnEntry(grid_, entry));
    headers.append(QString::fromStdString(ColumnCaption(grid_, columns_.back().letter)));
    alignments.push_back(AlignmentOf(columns_.back().align));
  }
  model_->SetColumns(headers, alignments);
  // A layout read anew starts from the stored order.
  for (int logical = 0; logical < header()->count(); ++logical) {
    const int visual = header()->visualIndex(logical);
    if (visual != logical) header()->moveSection(visual, logical);
  }
  header()->setSectionResizeMode(0, QHeaderView::Interactive);
  header()->resizeSection(0, kNameWidth);
  for (size_t i = 0; i < columns_.size(); ++i) {
    const int section = static_cast<int>(i) + 1;
    if (columns_[i].autoWidth) {
      header()->setSectionResizeMode(section, QHeaderView::ResizeToContents);
    } else {
      header()->setSectionResizeMode(section, QHeaderView::Interactive);
      header()->resizeSection(section, columns_[i].width);
    }
  }
  applying_ = false;
  columnsChanged_ = false;
}

std::vector<std::string> TNodeTreeView::Layout() const {
  std::vector<std::string> layout;
  for (int visual = 1; visual < header()->count(); ++visual) {
    const int logical = header()->logicalIndex(visual);
    if (logical < 1 || logical > static_cast<int>(columns_.size())) continue;
    FColumn c = columns_[logical - 1];
    if (!c.autoWidth) c.width = header()->sectionSize(logical);
    layout.push_back(ColumnEntryText(grid_, c));
  }
  return layout;
}

bool TNodeTreeView::TakeColumnsChanged() { return std::exchange(columnsChanged_, false); }

const void* TNodeTreeView::CurrentNode() const { return model_->NodeAt(currentIndex()); }

void TNodeTreeView::SelectNode(const void* node) {
  const QModelIndex index = model_->IndexOf(node);
  if (!index.isValid()) return;
  // A node the user is shown is never hidden in a collapsed folder.
  for (QModelIndex p = index.parent(); p.isValid(); p = p.parent()) setExpanded(p, true);
  setCurrentIndex(index);
  scrollTo(index);
}

// Also widens the name column to its longest visible name (within reason) until the user
// sizes it himself.
void TNodeTreeView::RestoreExpansion() {
  applying_ = true;
  for (const FNodeRow& r : model_->Rows()) setExpanded(model_->IndexOf(r.node), r.expanded);
  if (!nameResized_) {
    constexpr int kMaxNameWidth = 420;
    header()->resizeSection(0, std::clamp(sizeHintForColumn(0) + 8, kNameWidth, kMaxNameWidth));
  }
  applying_ = false;
}

bool TNodeTreeView::Accept(QDropEvent* event, const void** dragged, const void** target) const {
  if (event->source() != this) return false;
  *dragged = TNodeTreeModel::DraggedNode(event->mimeData());
  *target = model_->NodeAt(indexAt(event->position().toPoint()));
  return *dragged && *target && canDrop && canDrop(*dragged, *target);
}

void TNodeTreeView::dragEnterEvent(QDragEnterEvent* event) {
  if (event->source() == this && TNodeTreeModel::DraggedNode(event->mimeData())) {
    QTreeView::dragEnterEvent(event);
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void TNodeTreeView::dragMoveEvent(QDragMoveEvent* event) {
  QTreeView::dragMoveEvent(event);
  const void* dragged = nullptr;
  const void* target = nullptr;
  if (Accept(event, &dragged, &target)) {
    event->setDropAction(Qt::MoveAction);
    event->accept();
  } else {
    event->ignore();
  }
}

void TNodeTreeView::dropEvent(QDropEvent* event) {
  const void* dragged = nullptr;
  const void* target = nullptr;
  const bool accepted = Accept(event, &dragged, &target);
  stopAutoScroll();
  setState(NoState);
  viewport()->update();
  if (!accepted) {
    event->ignore();
    return;
  }
  event->setDropAction(Qt::MoveAction);
  event->accept();
  // The drag is still running inside the view; the tree changes once it has ended.
  QTimer::singleShot(0, this, [this, dragged, target] {
    if (drop) drop(dragged, target);
  });
}

}  // namespace zev::ui
