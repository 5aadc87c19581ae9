#include "ui/ColumnCfg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>

#include "core/Intl.h"
#include "core/Startup.h"
#include "ui/ModalRunner.h"

namespace zev::ui {
namespace {

QString T(const char* text) { return QString::fromUtf8(Tr(text)); }
bool In(const char* set, char c) { return c && std::strchr(set, c); }

// Date, Time, Download Directory, Score and Lines of the article list need "test1".
constexpr const char* kTestArticleColumns = "YTOCL";

}  // namespace

int DefaultColumnWidth(TColumnGrid grid, char letter) {
  switch (grid) {
    case TColumnGrid::Articles:
      if (letter == 'C') return 32;
      if (letter == 'S') return 300;
      return In("BLNPTY", letter) ? 50 : 100;
    case TColumnGrid::Queue:
      if (letter == 'S') return 32;
      if (In("HTY", letter)) return 50;
      return In("AD", letter) ? 500 : 100;
    case TColumnGrid::Servers:
      if (In("ACMT", letter)) return 60;
      if (letter == 'S') return 150;
      return In("GOR", letter) ? 200 : 100;
    case TColumnGrid::Groups:
      if (In("ELO", letter)) return 150;
      if (In("KMNTW", letter)) return 60;
      return letter == 'R' ? 50 : 100;
  }
  return 100;
}

std::string ColumnLetters(TColumnGrid grid) {
  switch (grid) {
    case TColumnGrid::Articles: {
      std::string all = "CSFAYTDBLPNOM";
      if (gStartup.switches.test1) return all;
      std::erase_if(all, [](char c) { return In(kTestArticleColumns, c); });
      return all;
    }
    case TColumnGrid::Queue: return "SYHTGDA";
    case TColumnGrid::Servers: return "MTACSROG";
    case TColumnGrid::Groups: return "MWNOLRETK";
  }
  return {};
}

TfrmColumnCfg::TfrmColumnCfg(TColumnGrid grid, const std::vector<std::string>& layout, QWidget* parent)
    : QDialog(parent), grid_(grid) {
  setWindowTitle(T("Column Properties"));
  for (const std::string& entry : layout)
    if (!entry.empty()) columns_.push_back(ParseColumnEntry(grid, entry));
  visible_ = new QListWidget(this);
  hidden_ = new QListWidget(this);
  for (QListWidget* list : {visible_, hidden_}) {
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    connect(list, &QListWidget::itemSelectionChanged, this, &TfrmColumnCfg::UpdateButtons);
  }
  visible_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(visible_, &QListWidget::customContextMenuRequested, this, &TfrmColumnCfg::ShowMenu);
  show_ = new QPushButton(T("&Show"), this);
  hide_ = new QPushButton(T("&Hide"), this);
  up_ = new QPushButton(T("Move &Up"), this);
  down_ = new QPushButton(T("Move &Down"), this);
  connect(show_, &QPushButton::clicked, this, &TfrmColumnCfg::ShowSelected);
  connect(hide_, &QPushButton::clicked, this, &TfrmColumnCfg::HideSelected);
  connect(up_, &QPushButton::clicked, this, [this] { MoveSelected(-1); });
  connect(down_, &QPushButton::clicked, this, [this] { MoveSelected(1); });

  auto* middle = new QVBoxLayout;
  middle->addStretch(1);
  for (QPushButton* b : {show_, hide_, up_, down_}) middle->addWidget(b);
  middle->addStretch(1);
  auto* lists = new QGridLayout;
  lists->addWidget(new QLabel(T("Hidden Columns:"), this), 0, 0);
  lists->addWidget(new QLabel(T("Visible Columns:"), this), 0, 2);
  lists->addWidget(hidden_, 1, 0);
  lists->addLayout(middle, 1, 1);
  lists->addWidget(visible_, 1, 2);
  lists->setColumnStretch(0, 1);
  lists->setColumnStretch(2, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layoutBox = new QVBoxLayout(this);
  layoutBox->addLayout(lists, 1);
  layoutBox->addWidget(buttons);
  resize(560, 360);
  Refill({});
}

QString TfrmColumnCfg::EntryText(const FColumn& column) const {
  QString text = QString::fromStdString(ColumnCaption(grid_, column.letter)) + " (";
  text += column.autoWidth && TreeGrid() ? T("Auto") : QString::number(column.width);
  if (TreeGrid()) text += '-' + (column.align == 'R' ? T("Right") : column.align == 'C' ? T("Center") : T("Left"));
  return text + ')';
}

std::vector<int> TfrmColumnCfg::SelectedRows(QListWidget* list) const {
  std::vector<int> rows;
  for (int i = 0; i < list->count(); ++i)
    if (list->item(i)->isSelected()) rows.push_back(i);
  return rows;
}

void TfrmColumnCfg::Refill(const std::vector<int>& selectVisible) {
  visible_->clear();
  for (const FColumn& c : columns_) visible_->addItem(EntryText(c));
  for (int row : selectVisible) visible_->item(row)->setSelected(true);
  hidden_->clear();
  for (char letter : ColumnLetters(grid_)) {
    bool shown = std::any_of(columns_.begin(), columns_.end(), [&](const FColumn& c) { return c.letter == letter; });
    if (shown) continue;
    auto* item = new QListWidgetItem(QString::fromStdString(ColumnCaption(grid_, letter)), hidden_);
    item->setData(Qt::UserRole, QChar(letter));
  }
  UpdateButtons();
}

void TfrmColumnCfg::ShowSelected() {
  std::vector<int> added;
  for (QListWidgetItem* item : hidden_->selectedItems()) {
    FColumn c;
    c.letter = item->data(Qt::UserRole).toChar().toLatin1();
    c.width = DefaultColumnWidth(grid_, c.letter);
    c.align = DefaultColumnAlign(grid_, c.letter);
    c.autoWidth = TreeGrid();
    added.push_back(static_cast<int>(columns_.size()));
    columns_.push_back(c);
  }
  Refill(added);
}

void TfrmColumnCfg::HideSelected() {
  std::vector<int> rows = SelectedRows(visible_);
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) columns_.erase(columns_.begin() + *it);
  Refill({});
}

void TfrmColumnCfg::MoveSelected(int step) {
  std::vector<int> rows = SelectedRows(visible_);
  if (rows.empty()) return;
  if ((step < 0 && rows.front() == 0) || (step > 0 && rows.back() == static_cast<int>(columns_.size()) - 1)) return;
  if (step > 0) std::reverse(rows.begin(), rows.end());
  for (int& row : rows) {
    std::swap(columns_[row], columns_[row + step]);
    row += step;
  }
  Refill(rows);
}

void TfrmColumnCfg::SetDefault() {
  std::vector<int> rows = SelectedRows(visible_);
  for (int row : rows) {
    columns_[row].width = DefaultColumnWidth(grid_, columns_[row].letter);
    columns_[row].align = DefaultColumnAlign(grid_, columns_[row].letter);
  }
  Refill(rows);
}

void TfrmColumnCfg::SetAlign(char align) {
  if (!TreeGrid()) return;
  std::vector<int> rows = SelectedRows(visible_);
  for (int row : rows) columns_[row].align = align;
  Refill(rows);
}

void TfrmColumnCfg::ToggleAutoWidth() {
  if (!TreeGrid()) return;
  std::vector<int> rows = SelectedRows(visible_);
  if (rows.empty()) return;
  bool on = !columns_[rows.front()].autoWidth;
  for (int row : rows) {
    columns_[row].autoWidth = on;
    if (!on && columns_[row].width <= 0) columns_[row].width = DefaultColumnWidth(grid_, columns_[row].letter);
  }
  Refill(rows);
}

void TfrmColumnCfg::UpdateButtons() {
  std::vector<int> rows = SelectedRows(visible_);
  show_->setEnabled(!hidden_->selectedItems().isEmpty());
  hide_->setEnabled(!rows.empty());
  up_->setEnabled(!rows.empty() && rows.front() > 0);
  down_->setEnabled(!rows.empty() && rows.back() < static_cast<int>(columns_.size()) - 1);
}

void TfrmColumnCfg::ShowMenu(const QPoint& pos) {
  std::vector<int> rows = SelectedRows(visible_);
  QMenu menu(this);
  menu.addAction(T("&Show"), this, &TfrmColumnCfg::ShowSelected)->setEnabled(show_->isEnabled());
  menu.addAction(T("&Hide"), this, &TfrmColumnCfg::HideSelected)->setEnabled(hide_->isEnabled());
  menu.addAction(T("Move &Up"), this, [this] { MoveSelected(-1); })->setEnabled(up_->isEnabled());
  menu.addAction(T("Move &Down"), this, [this] { MoveSelected(1); })->setEnabled(down_->isEnabled());
  menu.addSeparator();
  menu.addAction(T("D&efault"), this, &TfrmColumnCfg::SetDefault)->setEnabled(!rows.empty());
  const bool align = TreeGrid() && !rows.empty();
  menu.addAction(T("&Left"), this, [this] { SetAlign('L'); })->setEnabled(align);
  menu.addAction(T("&Right"), this, [this] { SetAlign('R'); })->setEnabled(align);
  menu.addAction(T("Center"), this, [this] { SetAlign('C'); })->setEnabled(align);
  QAction* autoWidth = menu.addAction(T("Automatic width"), this, &TfrmColumnCfg::ToggleAutoWidth);
  autoWidth->setCheckable(true);
  autoWidth->setChecked(align && columns_[rows.front()].autoWidth);
  autoWidth->setEnabled(align);
  menu.exec(visible_->viewport()->mapToGlobal(pos));
}

std::vector<std::string> TfrmColumnCfg::Layout() const {
  std::vector<std::string> layout;
  for (const FColumn& c : columns_) layout.push_back(ColumnEntryText(grid_, c));
  return layout;
}

bool EditColumns(TColumnGrid grid, std::vector<std::string>& layout) {
  TfrmColumnCfg dialog(grid, layout, DialogParent());
  if (ExecModal(dialog) != QDialog::Accepted) return false;
  layout = dialog.Layout();
  return true;
}

}  // namespace zev::ui
