#pragma once
// The column configuration dialog of the four column layouts (article list, queue, server
// tree, group tree): which columns are shown, in which order, how wide, how aligned.
#include <QDialog>
#include <string>
#include <vector>

#include "core/ColumnLayout.h"

class QListWidget;
class QMenu;
class QPushButton;

namespace zev::ui {

// The width a column gets when shown anew or reset to its default.
int DefaultColumnWidth(TColumnGrid grid, char letter);
// Every column letter of the grid, in the order the hidden list shows them.
std::string ColumnLetters(TColumnGrid grid);

class TfrmColumnCfg : public QDialog {
  Q_OBJECT
 public:
  TfrmColumnCfg(TColumnGrid grid, const std::vector<std::string>& layout, QWidget* parent = nullptr);

  // The layout as edited so far.
  std::vector<std::string> Layout() const;
  QListWidget* Visible() const { return visible_; }
  QListWidget* Hidden() const { return hidden_; }

  // The commands of the buttons and the pop-up menu, on the selected entries.
  void ShowSelected();
  void HideSelected();
  void MoveSelected(int step);
  void SetDefault();
  void SetAlign(char align);
  void ToggleAutoWidth();

 private:
  bool TreeGrid() const { return grid_ == TColumnGrid::Servers || grid_ == TColumnGrid::Groups; }
  QString EntryText(const FColumn& column) const;
  std::vector<int> SelectedRows(QListWidget* list) const;
  void Refill(const std::vector<int>& selectVisible);
  void UpdateButtons();
  void ShowMenu(const QPoint& pos);

  TColumnGrid grid_;
  std::vector<FColumn> columns_;
  QListWidget* visible_;
  QListWidget* hidden_;
  QPushButton* show_;
  QPushButton* hide_;
  QPushButton* up_;
  QPushButton* down_;
};

// Edits the layout; true (and the new layout) when confirmed with OK.
bool EditColumns(TColumnGrid grid, std::vector<std::string>& layout);

}  // namespace zev::ui
