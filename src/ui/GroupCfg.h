#pragma once
// The properties dialog of one node of the group tree: the root, a folder or a subscribed
// newsgroup. Check boxes and radio buttons that stand for a flag bit are registered with
// their bit; Apply writes back, passes the settings down to inheriting nodes and saves.
#include <QDialog>
#include <string>
#include <utility>
#include <vector>

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;

namespace zev {
class TGroup;
class TGroupTree;
}

namespace zev::ui {

// The base decoding directory from the text of the directory edit. The text may show the
// effective directory (base plus the group's name or abbreviation); that last component
// is taken off again. An empty text (or "/") is `fallback`, a relative one lies below it.
struct FDecodeDirChoice {
  bool appendName = false;
  bool appendAbbr = false;
  std::string name;          // as it appears in the directory
  std::string abbreviation;  // likewise
};
std::string DecodeDirBase(const std::string& typed, const std::string& fallback, const FDecodeDirChoice& choice);
std::string EffectiveDir(const std::string& base, const FDecodeDirChoice& choice);

class TfrmGroupCfg : public QDialog {
  Q_OBJECT
 public:
  TfrmGroupCfg(TGroup& node, TGroupTree& tree, QWidget* parent = nullptr);

  void Apply();
  bool ApplyEnabled() const;

  QTabWidget* pgcPages;
  QCheckBox* chxInherit;
  QCheckBox* chxAutoRefresh;
  QComboBox* cbxRefreshInterval;
  QSpinBox* speHeaderScore;
  QCheckBox* chxAutoFileCheck;
  QCheckBox* chxHeaderLimit;
  QSpinBox* speMaxHeaders;
  QRadioButton* rdbMarkAlways;
  QRadioButton* rdbMarkNever;
  QRadioButton* rdbMarkAsk;
  QLineEdit* edtDecodeDir;
  QPushButton* btnBrowse;
  QRadioButton* rdbAppendNothing;
  QRadioButton* rdbAppendName;
  QRadioButton* rdbAppendAbbr;
  QCheckBox* chxAppendSubject;
  QCheckBox* chxLogFile;
  QCheckBox* chxDescriptIon;
  QCheckBox* chxCsvLog;
  QCheckBox* chxCustomSort;
  QComboBox* cbxPrimary;
  QCheckBox* chxPrimaryReverse;
  QComboBox* cbxSecondary;
  QCheckBox* chxSecondaryReverse;
  QPushButton* btnApply;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QWidget* BuildSettingsPage();
  QWidget* BuildDecodingPage();
  QWidget* BuildSortingPage();
  void Tag(QAbstractButton* button, int bit);
  void WatchChanges();
  void LoadControls();
  void LoadSettings(const TGroup& from);
  void UpdateEnabled();
  void Changed();
  FDecodeDirChoice Choice() const;
  std::string Fallback() const;
  void DirectoryEdited();
  void ShowEffectiveDir();
  void Browse();
  void ApplyOwnSettings();

  TGroup& node_;
  TGroupTree& tree_;
  std::vector<std::pair<QAbstractButton*, int>> tagged_;
  std::vector<QRadioButton*> untaggedDefaults_;
  std::vector<QWidget*> settingControls_;
  std::string base_;  // the base decoding directory, with "/"
  bool dirEdited_ = false;
  bool loading_ = false;
};

bool EditGroup(TGroup& node, TGroupTree& tree);

}  // namespace zev::ui
