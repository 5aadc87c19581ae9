#pragma once
// The properties dialog of one node of the server tree: a root, a folder or a news
// server. Check boxes and radio buttons that stand for a flag bit of the node are
// registered with their bit; Apply writes everything back, saves the tree and reloads.
#include <QDialog>
#include <string>
#include <utility>
#include <vector>

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;

namespace zev {
class TServer;
class TServerTree;
}

namespace zev::ui {

class TResetScheduleBox;

// Moves a news server's data directory when its host or port changed, so that it keeps
// its maps, newsgroup list and logs. Directory names that differ only in case are the same
// place. Returns false (and logs) when the old directory exists but cannot be moved.
bool MoveServerDataDir(const std::string& oldDir, const std::string& newDir);

class TfrmServerCfg : public QDialog {
  Q_OBJECT
 public:
  TfrmServerCfg(TServer& node, TServerTree& tree, QWidget* parent = nullptr);

  void Apply();
  bool ApplyEnabled() const;
  bool OkEnabled() const;

  // The controls, for tests that fill the dialog in.
  QTabWidget* pgcPages;
  QLineEdit* edtName;
  QLineEdit* edtHost;
  QLineEdit* edtPort;
  QCheckBox* chxNeedAuth;
  QLineEdit* edtUser;
  QLineEdit* edtPass;
  QCheckBox* chxCryptPass;
  QCheckBox* chxInherit;
  QCheckBox* chxUseTls;
  QLineEdit* edtFingerprint;
  QSpinBox* speMaxConn;
  QRadioButton* rdbAlways;
  QRadioButton* rdbWhenOnline;
  QRadioButton* rdbSelected;
  QListWidget* lsxPhoneBook;
  QCheckBox* chxConnectOnDemand;
  QCheckBox* chxAutoDial;
  QCheckBox* chxParallel;
  QSpinBox* spePreference;
  QCheckBox* chxAutoRetry;
  QSpinBox* speRetry;
  QSpinBox* speIdle;
  QSpinBox* speTimeOut;
  QSpinBox* speHdrBlock;
  QCheckBox* chxHeaderLimit;
  QSpinBox* speMaxHeaders;
  QCheckBox* chxChunks;
  QSpinBox* speChunkSize;
  QCheckBox* chxBandwidth;
  QSpinBox* speBandwidth;
  QCheckBox* chxRetryAnyError;
  QComboBox* cbxServerMode;
  TResetScheduleBox* daily;
  TResetScheduleBox* monthly;
  QRadioButton* rdbXover;
  QRadioButton* rdbXhdr;
  QRadioButton* rdbListgroup;
  QRadioButton* rdbXhdrLines;
  QRadioButton* rdbArticle;
  QRadioButton* rdbBody;
  QRadioButton* rdbArtNumber;
  QRadioButton* rdbMessageId;
  QCheckBox* chxSkipGroup;
  QCheckBox* chxSkipListgroup;
  QPushButton* btnApply;
  QPushButton* btnOk;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QWidget* BuildConfigurationPage();
  QWidget* BuildConnectionsPage();
  QWidget* BuildAdvancedPage();
  QWidget* BuildStatisticsPage();
  QWidget* BuildCommandsPage();
  void Tag(QAbstractButton* button, int bit);
  void WatchChanges();
  void LoadControls();
  void LoadFlags(uint32_t flags);
  void UpdateEnabled();
  void UpdateMaxConnRange();
  void Changed();
  void ApplyTexts();
  void ApplyNumbers();
  void ApplyFlags();

  TServer& node_;
  TServerTree& tree_;
  std::vector<std::pair<QAbstractButton*, int>> tagged_;
  std::vector<QRadioButton*> untaggedDefaults_;
  QGroupBox* boxBasic_;
  QGroupBox* boxAuth_;
  QGroupBox* boxHeaderCommand_;
  QGroupBox* boxExistence_;
  QGroupBox* boxArticleData_;
  QGroupBox* boxSelectBy_;
  QWidget* connectionsExtras_;
  bool loading_ = false;
};

// Opens the dialog on the node; true when closed with OK.
bool EditServer(TServer& node, TServerTree& tree);

}  // namespace zev::ui
