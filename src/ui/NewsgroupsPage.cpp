#include "ui/NewsgroupsPage.h"

#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QTableView>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

#include "core/CommaText.h"
#include "core/Config.h"
#include "core/Error.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "db/Group.h"
#include "db/GroupList.h"
#include "db/GroupListRows.h"
#include "db/GroupTree.h"
#include "db/SGLst.h"
#include "db/ServerTree.h"
#include "ui/Confirmation.h"
#include "ui/EngineLink.h"
#include "ui/NewsgroupListModel.h"
#include "ui/QueryDlg.h"

namespace zev::ui {

namespace {

QString T(const char* text) { return QString::fromUtf8(Tr(text)); }

// Runs a command at the boundary of the user interface: a failure is logged, the page
// goes on.
template <typename Fn>
void Guarded(const char* where, Fn fn) {
  try {
    fn();
  } catch (const std::exception& e) {
    LogException(e, where);
  }
}

}  // namespace

TNewsgroupsPage::TNewsgroupsPage(TGroupList& list, TServerTree& servers, TGroupTree& groups,
                                 const FNewsgroupActions& actions, QWidget* parent)
    : QWidget(parent),
      list_(list),
      servers_(servers),
      groups_(groups),
      actions_(actions),
      rows_(std::make_unique<TGroupListRows>(list, &groups)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  auto* bar = new QToolBar(this);
  bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  bar->setIconSize(QSize(16, 16));
  bar->addActions({actions.subscribe, actions.all, actions.subscribed, actions.reload, actions.forceExist,
                   actions.forceNonExist, actions.unsubscribe});
  cbxGrpFind = new QComboBox(bar);
  cbxGrpFind->setObjectName("cbxGrpFind");
  cbxGrpFind->setEditable(true);
  cbxGrpFind->setInsertPolicy(QComboBox::NoInsert);
  cbxGrpFind->setMinimumContentsLength(24);
  cbxGrpFind->setToolTip(T("Filter the newsgroup list"));
  cbxGrpFind->lineEdit()->setPlaceholderText(T("Filter the newsgroup list"));
  if (gConfig && gConfig->MaxHistory > 0)
    for (const std::string& item : FromCommaText(gConfig->NewsgroupsHistory))
      if (!item.empty()) cbxGrpFind->addItem(QString::fromStdString(item));
  cbxGrpFind->setCurrentIndex(-1);
  cbxGrpFind->clearEditText();
  bar->addWidget(cbxGrpFind);
  layout->addWidget(bar);

  drgGroups = new QTableView(this);
  drgGroups->setObjectName("drgGroups");
  model_ = new TNewsgroupListModel(*rows_, this);
  drgGroups->setModel(model_);
  drgGroups->setSelectionBehavior(QAbstractItemView::SelectItems);
  drgGroups->setSelectionMode(QAbstractItemView::ExtendedSelection);
  drgGroups->setEditTriggers(QAbstractItemView::NoEditTriggers);
  drgGroups->setWordWrap(false);
  drgGroups->setShowGrid(false);
  drgGroups->verticalHeader()->hide();
  // Every row has the same height, so the view never measures 200,000 of them.
  drgGroups->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  drgGroups->verticalHeader()->setDefaultSectionSize(drgGroups->fontMetrics().height() + 4);
  drgGroups->horizontalHeader()->setSectionsClickable(true);
  drgGroups->horizontalHeader()->setSortIndicatorShown(false);
  drgGroups->horizontalHeader()->setDefaultSectionSize(90);
  layout->addWidget(drgGroups);

  mode_ = new QActionGroup(this);
  // The window creates the page's actions disabled until a page drives them; the two modes
  // need no selection, so nothing else would ever enable them.
  for (QAction* a : {actions.all, actions.subscribed}) {
    a->setCheckable(true);
    a->setEnabled(true);
    mode_->addAction(a);
  }
  actions.all->setChecked(true);
  connect(actions.subscribe, &QAction::triggered, this, [this] { Guarded("TNewsgroupsPage.Subscribe", [this] { Subscribe(); }); });
  connect(actions.unsubscribe, &QAction::triggered, this,
          [this] { Guarded("TNewsgroupsPage.UnSubscribe", [this] { UnSubscribe(); }); });
  connect(actions.all, &QAction::triggered, this, [this] { ShowSubscribedOnly(false); });
  connect(actions.subscribed, &QAction::triggered, this, [this] { ShowSubscribedOnly(true); });
  connect(actions.reload, &QAction::triggered, this, [this] { Guarded("TNewsgroupsPage.Reload", [this] { Reload(); }); });
  connect(actions.forceExist, &QAction::triggered, this,
          [this] { Guarded("TNewsgroupsPage.ForceExist", [this] { ForceCount(1); }); });
  connect(actions.forceNonExist, &QAction::triggered, this,
          [this] { Guarded("TNewsgroupsPage.ForceNonExist", [this] { ForceCount(0); }); });
  connect(cbxGrpFind->lineEdit(), &QLineEdit::returnPressed, this, [this] { ApplyFindText(true); });
  connect(cbxGrpFind, &QComboBox::activated, this, [this] { ApplyFindText(true); });
  connect(drgGroups->horizontalHeader(), &QHeaderView::sectionClicked, this, &TNewsgroupsPage::ColumnClicked);
  connect(drgGroups->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { UpdateActions(); });
  connect(drgGroups->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { UpdateActions(); });

  ServersChanged();
  Guarded("TGroupList.Rebuild", [this] { rows_->Rebuild(); });
  ShowRows("");
  UpdateActions();
}

TNewsgroupsPage::~TNewsgroupsPage() = default;

std::vector<TServer*> TNewsgroupsPage::NewsServers() const {
  std::vector<TServer*> out;
  servers_.ForEachNode([&](TServer& node) {
    if (node.IsNewsServer()) out.push_back(&node);
  });
  return out;
}

void TNewsgroupsPage::ServersChanged() {
  std::vector<TServer*> now = NewsServers();
  std::vector<std::string> names;
  for (const TServer* s : now) names.push_back(s->Name());
  if (now == columns_ && names == columnNames_) return;
  columns_ = std::move(now);
  columnNames_ = std::move(names);
  model_->SetServers(columns_);
  const int sorted = rows_->SortColumn();
  drgGroups->horizontalHeader()->setSortIndicatorShown(sorted >= 0 || rows_->SortDescending());
  drgGroups->horizontalHeader()->setSortIndicator(sorted + 1,
                                                  rows_->SortDescending() ? Qt::DescendingOrder : Qt::AscendingOrder);
  drgGroups->setColumnWidth(0, 320);
}

void TNewsgroupsPage::Tick() {
  Guarded("TNewsgroupsPage.Tick", [this] {
    ServersChanged();
    if (gConfig && gConfig->Has(cfAutoQuickFilter)) ApplyFindText(false);
    list_.GroupListsChanged = false;
    CatchUp();
    UpdateActions();
  });
}

std::string TNewsgroupsPage::CurrentName() const {
  const QModelIndex current = drgGroups->currentIndex();
  return current.isValid() ? std::string(rows_->RowName(static_cast<size_t>(current.row()))) : std::string();
}

void TNewsgroupsPage::CatchUp() {
  const std::string current = CurrentName();
  switch (rows_->Update()) {
    case TGroupListRows::rcRows: ShowRows(current); break;
    case TGroupListRows::rcCounts: model_->CountsChanged(); break;
    case TGroupListRows::rcNone: break;
  }
}

void TNewsgroupsPage::ShowRows(const std::string& current) {
  const int column = std::max(drgGroups->currentIndex().column(), 0);
  model_->RowsChanged();
  if (current.empty()) return;
  const size_t row = rows_->RowOf(current);
  if (row < rows_->RowCount()) {
    const QModelIndex index = model_->index(static_cast<int>(row), std::min(column, model_->columnCount() - 1));
    drgGroups->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    drgGroups->scrollTo(index);
  }
}

void TNewsgroupsPage::ColumnClicked(int section) {
  const std::string current = CurrentName();
  rows_->ClickColumn(section - 1);
  drgGroups->horizontalHeader()->setSortIndicatorShown(true);
  drgGroups->horizontalHeader()->setSortIndicator(
      rows_->SortColumn() + 1, rows_->SortDescending() ? Qt::DescendingOrder : Qt::AscendingOrder);
  ShowRows(current);
}

void TNewsgroupsPage::ApplyFindText(bool remember) {
  const QString text = cbxGrpFind->currentText();
  const std::string current = CurrentName();
  if (rows_->SetFilter(text.toStdString())) ShowRows(current);
  if (remember && !text.isEmpty()) RememberFindText(text);
}

// The find box's history: newest first, each text once, at most MaxHistory entries.
void TNewsgroupsPage::RememberFindText(const QString& text) {
  const int limit = gConfig ? gConfig->MaxHistory : 0;
  if (limit <= 0) return;
  const int existing = cbxGrpFind->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
  if (existing == 0) return;
  if (existing > 0) cbxGrpFind->removeItem(existing);
  cbxGrpFind->insertItem(0, text);
  while (cbxGrpFind->count() > limit) cbxGrpFind->removeItem(cbxGrpFind->count() - 1);
  cbxGrpFind->setCurrentIndex(0);
  std::vector<std::string> items;
  for (int i = 0; i < cbxGrpFind->count(); ++i) items.push_back(cbxGrpFind->itemText(i).toStdString());
  gConfig->NewsgroupsHistory = ToCommaText(items);
}

void TNewsgroupsPage::ShowSubscribedOnly(bool on) {
  (on ? actions_.subscribed : actions_.all)->setChecked(true);
  const std::string current = CurrentName();
  if (rows_->SetSubscribedOnly(on)) ShowRows(current);
  UpdateActions();
}

std::vector<TNewsgroupsPage::FCell> TNewsgroupsPage::SelectedCells() const {
  std::vector<FCell> cells;
  for (const QItemSelectionRange& range : drgGroups->selectionModel()->selection())
    for (int r = range.top(); r <= range.bottom(); ++r)
      for (int c = range.left(); c <= range.right(); ++c) cells.push_back({static_cast<size_t>(r), c});
  if (cells.empty() && drgGroups->currentIndex().isValid())
    cells.push_back({static_cast<size_t>(drgGroups->currentIndex().row()), drgGroups->currentIndex().column()});
  return cells;
}

std::vector<size_t> TNewsgroupsPage::SelectedRows() const {
  std::set<size_t> rows;
  for (const FCell& cell : SelectedCells()) rows.insert(cell.row);
  return {rows.begin(), rows.end()};
}

TServer* TNewsgroupsPage::CurrentServer() const {
  const QModelIndex current = drgGroups->currentIndex();
  if (!current.isValid() || current.column() < 1 || static_cast<size_t>(current.column()) > columns_.size())
    return nullptr;
  return columns_[static_cast<size_t>(current.column()) - 1];
}

TGroup* TNewsgroupsPage::TreeGroup(const std::string& name) const {
  TGroup* found = nullptr;
  groups_.ForEachNode([&](TGroup& node) {
    if (!found && node.IsNewsgroup() && node.NameIs(name)) found = &node;
  });
  return found;
}

void TNewsgroupsPage::UpdateActions() {
  bool anyUnsubscribed = false, anySubscribed = false, anyZero = false, anyCarried = false;
  for (const FCell& cell : SelectedCells()) {
    if (rows_->IsSubscribedRow(cell.row)) anySubscribed = true;
    else if (cell.row < rows_->RowCount()) anyUnsubscribed = true;
    if (cell.column < 1 || cell.row >= rows_->RowCount()) continue;
    (rows_->ArticleCount(cell.row, static_cast<size_t>(cell.column) - 1) ? anyCarried : anyZero) = true;
  }
  actions_.subscribe->setEnabled(anyUnsubscribed);
  actions_.unsubscribe->setEnabled(anySubscribed && removeGroup != nullptr);
  actions_.reload->setEnabled(CurrentServer() != nullptr);
  actions_.forceExist->setEnabled(anyZero);
  actions_.forceNonExist->setEnabled(anyCarried);
}

void TNewsgroupsPage::Subscribe() {
  if (groups_.Roots().empty()) return;
  TGroup* root = groups_.Roots()[0].get();
  std::vector<std::string> names;
  for (size_t row : SelectedRows())
    if (row < rows_->RowCount() && !rows_->IsSubscribedRow(row)) names.emplace_back(rows_->RowName(row));
  if (names.empty()) return;
  for (const std::string& name : names) {
    if (TreeGroup(name)) continue;
    TGroup* group = groups_.CreateGroupNode(gnNewsgroup, name, root);
    if (gServerGroups) gServerGroups->AddGroup(*group, servers_);
  }
  groups_.SaveGroups();
  list_.SubscriptionsChanged();
  CatchUp();
  if (groupsChanged) groupsChanged();
  UpdateActions();
}

void TNewsgroupsPage::UnSubscribe() {
  if (!removeGroup) return;
  std::vector<std::string> names;
  for (size_t row : SelectedRows())
    if (rows_->IsSubscribedRow(row)) names.emplace_back(rows_->RowName(row));
  // Each removal asks its own question and may be refused; the tree is looked up again
  // every time because a removal frees nodes.
  for (const std::string& name : names)
    if (TGroup* group = TreeGroup(name)) removeGroup(*group);
  list_.SubscriptionsChanged();
  CatchUp();
  UpdateActions();
}

void TNewsgroupsPage::Reload() {
  TServer* server = CurrentServer();
  if (!server) return;
  const std::string question =
      Tr("Are you sure you wish to reload newsgroups from the selected server? This may take a long time and Zev "
         "might appear sluggish while the list is downloading.");
  if (Confirm(cnReload, question, "", false) != anYes) return;
  list_.ForgetServer(*server);
  // The list comes back with the server's next connection: one is opened now on a free
  // slot, as the question promises.
  ConnectNode(*server, 1);
  CatchUp();
  UpdateActions();
}

void TNewsgroupsPage::ForceCount(uint32_t count) {
  for (const FCell& cell : SelectedCells())
    if (cell.column >= 1) rows_->ForceCount(cell.row, static_cast<size_t>(cell.column) - 1, count);
  CatchUp();
  UpdateActions();
}

}  // namespace zev::ui
