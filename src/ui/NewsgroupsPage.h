#pragma once
// The Newsgroups page of the main window: the grid of every newsgroup the news servers
// offer (one column per server with its article count), the find box that filters it,
// and the commands Subscribe, All, Subscribed, Reload, Force Exist, Force NonExist and
// UnSubscribe. The actions belong to the window (its menu shows them too); the page
// drives them.
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QActionGroup;
class QComboBox;
class QTableView;

namespace zev {
class TGroup;
class TGroupList;
class TGroupListRows;
class TGroupTree;
class TServer;
class TServerTree;
}

namespace zev::ui {

class TNewsgroupListModel;

struct FNewsgroupActions {
  QAction* subscribe = nullptr;
  QAction* unsubscribe = nullptr;
  QAction* all = nullptr;
  QAction* subscribed = nullptr;
  QAction* reload = nullptr;
  QAction* forceExist = nullptr;
  QAction* forceNonExist = nullptr;
};

class TNewsgroupsPage : public QWidget {
  Q_OBJECT
 public:
  TNewsgroupsPage(TGroupList& list, TServerTree& servers, TGroupTree& groups, const FNewsgroupActions& actions,
                  QWidget* parent = nullptr);
  ~TNewsgroupsPage() override;

  // The window's half-second tick: catches up with the list and the server tree, applies
  // the find box when the quick filter applies itself, and enables the commands.
  void Tick();
  // The server tree changed; call before anything repaints, since the columns point at
  // the servers.
  void ServersChanged();

  // Set by the window. Unsubscribing goes through its removal of a group (with the
  // question, the queue and the expiry); after subscribing, its trees are redrawn.
  std::function<void(TGroup&)> removeGroup;
  std::function<void()> groupsChanged;

  // The commands behind the actions.
  void Subscribe();
  void UnSubscribe();
  void ShowSubscribedOnly(bool on);
  void Reload();
  void ForceCount(uint32_t count);
  // Filters by the find box's text; `remember` also puts the text into the history.
  void ApplyFindText(bool remember);
  void UpdateActions();

  TNewsgroupListModel* Model() const { return model_; }
  TGroupListRows& Rows() const { return *rows_; }

  QTableView* drgGroups;
  QComboBox* cbxGrpFind;

 private:
  struct FCell {
    size_t row;
    int column;  // 0 the name, 1.. the server columns
  };
  std::vector<TServer*> NewsServers() const;
  std::vector<FCell> SelectedCells() const;
  std::vector<size_t> SelectedRows() const;
  TServer* CurrentServer() const;
  TGroup* TreeGroup(const std::string& name) const;
  void ColumnClicked(int section);
  // The newsgroup in the current row; read it before the rows change, since afterwards the
  // same row number names another group.
  std::string CurrentName() const;
  // Resets the view to the rows, keeping `current` (from CurrentName) current when it is
  // still shown.
  void ShowRows(const std::string& current);
  // Catches up with the list: new rows, new subscription marks or only new counts.
  void CatchUp();
  void RememberFindText(const QString& text);

  TGroupList& list_;
  TServerTree& servers_;
  TGroupTree& groups_;
  FNewsgroupActions actions_;
  std::unique_ptr<TGroupListRows> rows_;
  TNewsgroupListModel* model_;
  QActionGroup* mode_;
  std::vector<TServer*> columns_;
  std::vector<std::string> columnNames_;
};

}  // namespace zev::ui
