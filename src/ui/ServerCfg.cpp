#include "ui/ServerCfg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include "core/Intl.h"
#include "db/Server.h"
#include "db/ServerTree.h"
#include "ui/ModalRunner.h"
#include "ui/PageKeys.h"
#include "ui/ResetScheduleBox.h"

namespace zev::ui {
namespace {

QString T(const char* text) { return QString::fromUtf8(Tr(text)); }

QSpinBox* Spin(QWidget* parent, int low, int high, int step = 1, const char* suffix = nullptr) {
  auto* s = new QSpinBox(parent);
  s->setRange(low, high);
  s->setSingleStep(step);
  if (suffix) s->setSuffix(T(suffix));
  return s;
}

// A check box followed by its spin box and a unit, on one line.
QHBoxLayout* CheckedSpin(QCheckBox* check, QSpinBox* spin, const char* unit, QWidget* parent) {
  auto* row = new QHBoxLayout;
  row->addWidget(check);
  row->addWidget(spin);
  if (unit) row->addWidget(new QLabel(T(unit), parent));
  row->addStretch(1);
  return row;
}

QHBoxLayout* LabelledSpin(const char* label, QSpinBox* spin, const char* unit, QWidget* parent) {
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel(T(label), parent));
  row->addWidget(spin);
  if (unit) row->addWidget(new QLabel(T(unit), parent));
  row->addStretch(1);
  return row;
}

QGroupBox* RadioBox(const char* title, QRadioButton* a, QRadioButton* b, QWidget* parent) {
  auto* box = new QGroupBox(T(title), parent);
  auto* group = new QButtonGroup(box);
  group->addButton(a);
  group->addButton(b);
  auto* layout = new QVBoxLayout(box);
  layout->addWidget(a);
  layout->addWidget(b);
  return box;
}

}  // namespace

TfrmServerCfg::TfrmServerCfg(TServer& node, TServerTree& tree, QWidget* parent)
    : QDialog(parent), node_(node), tree_(tree) {
  setWindowTitle(T("Properties of ") + QString::fromStdString(node.Name()));
  pgcPages = new QTabWidget(this);
  pgcPages->addTab(BuildConfigurationPage(), T("Configuration"));
  pgcPages->addTab(BuildConnectionsPage(), T("Connections"));
  pgcPages->addTab(BuildAdvancedPage(), T("Advanced"));
  pgcPages->addTab(BuildStatisticsPage(), T("Statistics"));
  pgcPages->addTab(BuildCommandsPage(), T("Commands"));

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
  btnOk = buttons->button(QDialogButtonBox::Ok);
  btnApply = buttons->button(QDialogButtonBox::Apply);
  connect(btnOk, &QPushButton::clicked, this, [this] {
    Apply();
    accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(btnApply, &QPushButton::clicked, this, &TfrmServerCfg::Apply);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pgcPages, 1);
  layout->addWidget(buttons);

  WatchChanges();
  LoadControls();
  pgcPages->setCurrentIndex(0);
}

QWidget* TfrmServerCfg::BuildConfigurationPage() {
  auto* page = new QWidget(this);
  edtName = new QLineEdit(page);
  edtHost = new QLineEdit(page);
  edtPort = new QLineEdit(page);
  edtPort->setValidator(new QIntValidator(0, 65535, edtPort));
  edtPort->setMaximumWidth(90);
  boxBasic_ = new QGroupBox(page);
  auto* portRow = new QHBoxLayout;
  portRow->addWidget(edtPort);
  portRow->addWidget(new QLabel(T("(Default = 119 = NNTP)"), page));
  portRow->addStretch(1);
  chxUseTls = new QCheckBox(T("Use an encrypted connection (TLS, default port 563)"), page);
  edtFingerprint = new QLineEdit(page);
  edtFingerprint->setPlaceholderText(T("only for a certificate the system does not trust"));
  auto* basic = new QFormLayout(boxBasic_);
  basic->addRow(T("Name"), edtName);
  basic->addRow(T("Host"), edtHost);
  basic->addRow(T("Port"), portRow);
  basic->addRow(QString(), chxUseTls);
  basic->addRow(T("Trusted certificate (SHA-256 fingerprint)"), edtFingerprint);

  boxAuth_ = new QGroupBox(page);
  chxNeedAuth = new QCheckBox(T("Server needs authentication"), page);
  edtUser = new QLineEdit(page);
  edtPass = new QLineEdit(page);
  edtPass->setEchoMode(QLineEdit::Password);
  chxCryptPass = new QCheckBox(T("Encrypt password in .ini file"), page);
  auto* auth = new QFormLayout(boxAuth_);
  auth->addRow(chxNeedAuth);
  auth->addRow(T("Username"), edtUser);
  auth->addRow(T("Password"), edtPass);
  auth->addRow(chxCryptPass);

  chxInherit = new QCheckBox(T("Use settings from parent level"), page);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(boxBasic_);
  layout->addWidget(boxAuth_);
  layout->addWidget(chxInherit);
  layout->addStretch(1);
  return page;
}

QWidget* TfrmServerCfg::BuildConnectionsPage() {
  auto* page = new QWidget(this);
  speMaxConn = Spin(page, 1, 100);
  connectionsExtras_ = new QWidget(page);
  rdbAlways = new QRadioButton(T("Always (using a LAN Internet connection)"), connectionsExtras_);
  rdbWhenOnline = new QRadioButton(T("When online (using a DUN or VPN connection)"), connectionsExtras_);
  rdbSelected = new QRadioButton(T("When connected to the selected connection(s):"), connectionsExtras_);
  auto* availability = new QButtonGroup(page);
  for (QRadioButton* r : {rdbAlways, rdbWhenOnline, rdbSelected}) availability->addButton(r);
  lsxPhoneBook = new QListWidget(connectionsExtras_);
  lsxPhoneBook->setMaximumHeight(90);
  chxConnectOnDemand = new QCheckBox(T("Connect-On-Demand"), connectionsExtras_);
  chxAutoDial = new QCheckBox(T("Automatically attempt to connect when not online"), connectionsExtras_);
  chxParallel = new QCheckBox(T("Initiate parallel auto-connect attempts"), connectionsExtras_);

  auto* availableBox = new QGroupBox(T("This newsserver is available for connections:"), connectionsExtras_);
  auto* availableLayout = new QVBoxLayout(availableBox);
  for (QRadioButton* r : {rdbAlways, rdbWhenOnline, rdbSelected}) availableLayout->addWidget(r);
  availableLayout->addWidget(lsxPhoneBook);
  auto* extras = new QVBoxLayout(connectionsExtras_);
  extras->setContentsMargins(0, 0, 0, 0);
  extras->addWidget(availableBox);
  extras->addWidget(chxConnectOnDemand);
  extras->addWidget(chxAutoDial);
  extras->addWidget(chxParallel);

  auto* layout = new QVBoxLayout(page);
  layout->addLayout(LabelledSpin("Max number of simultaneous connections", speMaxConn, nullptr, page));
  layout->addWidget(connectionsExtras_);
  layout->addStretch(1);

  Tag(rdbAlways, sfAlways);
  Tag(rdbWhenOnline, sfWhenOnline);
  untaggedDefaults_.push_back(rdbSelected);
  Tag(chxConnectOnDemand, sfConnectOnDemand);
  Tag(chxAutoDial, sfAutoDial);
  Tag(chxParallel, sfParallelConnects);
  return page;
}

QWidget* TfrmServerCfg::BuildAdvancedPage() {
  auto* page = new QWidget(this);
  spePreference = Spin(page, -128, 127);
  chxAutoRetry = new QCheckBox(T("Auto-retry connection every"), page);
  speRetry = Spin(page, 1, 10000);
  speIdle = Spin(page, 10, 999, 5);
  speTimeOut = Spin(page, 10, 999, 5);
  speHdrBlock = Spin(page, 0, 1000, 5, "%");
  chxHeaderLimit = new QCheckBox(T("Download at most"), page);
  speMaxHeaders = Spin(page, 100, 2000000000, 100);
  chxChunks = new QCheckBox(T("Divide into chunks of"), page);
  speChunkSize = Spin(page, 100, 2000000000, 100);
  chxBandwidth = new QCheckBox(T("Limit bandwidth to"), page);
  speBandwidth = Spin(page, 1, 100000);
  chxRetryAnyError = new QCheckBox(T("Retry connection after any error (use only when necessary)"), page);
  cbxServerMode = new QComboBox(page);
  for (const char* m : {"Normal", "Headers Only", "Articles Only", "Dormant (do not use at all)"})
    cbxServerMode->addItem(T(m));

  auto* layout = new QVBoxLayout(page);
  layout->addLayout(LabelledSpin("Server access preference", spePreference, "(0 = Normal)", page));
  layout->addLayout(CheckedSpin(chxAutoRetry, speRetry, "seconds", page));
  layout->addLayout(LabelledSpin("Disconnect after being idle for", speIdle, "seconds", page));
  layout->addLayout(LabelledSpin("Disconnect if no response for", speTimeOut, "seconds", page));
  layout->addLayout(LabelledSpin("Max. extra data in header block", speHdrBlock, nullptr, page));
  layout->addLayout(CheckedSpin(chxHeaderLimit, speMaxHeaders, "headers", page));
  layout->addLayout(CheckedSpin(chxChunks, speChunkSize, "headers", page));
  layout->addLayout(CheckedSpin(chxBandwidth, speBandwidth, "kB/sec", page));
  layout->addWidget(chxRetryAnyError);
  auto* mode = new QHBoxLayout;
  mode->addWidget(new QLabel(T("Server Mode:"), page));
  mode->addWidget(cbxServerMode);
  mode->addStretch(1);
  layout->addLayout(mode);
  layout->addStretch(1);

  Tag(chxAutoRetry, sfAutoRetry);
  Tag(chxHeaderLimit, sfHeaderLimit);
  Tag(chxChunks, sfChunks);
  Tag(chxBandwidth, sfBandwidth);
  Tag(chxRetryAnyError, sfRetryAnyError);
  return page;
}

QWidget* TfrmServerCfg::BuildStatisticsPage() {
  auto* page = new QWidget(this);
  daily = new TResetScheduleBox(TResetScheduleBox::Daily, page);
  monthly = new TResetScheduleBox(TResetScheduleBox::Monthly, page);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(daily);
  layout->addWidget(monthly);
  layout->addStretch(1);
  for (TResetScheduleBox* box : {daily, monthly})
    for (auto [button, bit] : box->FlagButtons()) Tag(button, bit);
  connect(daily, &TResetScheduleBox::ResetRequested, this, [this] {
    tree_.ResetDaily(node_);
    daily->ShowTotals(0, 0);
  });
  connect(monthly, &TResetScheduleBox::ResetRequested, this, [this] {
    tree_.ResetMonthly(node_);
    monthly->ShowTotals(0, 0);
  });
  return page;
}

QWidget* TfrmServerCfg::BuildCommandsPage() {
  auto* page = new QWidget(this);
  rdbXover = new QRadioButton(T("XOVER (all data in one go)"), page);
  rdbXhdr = new QRadioButton(T("XHDR (several small blocks of data)"), page);
  rdbListgroup = new QRadioButton(T("LISTGROUP (list available article numbers)"), page);
  rdbXhdrLines = new QRadioButton(T("XHDR Lines (get # of lines in articles)"), page);
  rdbArticle = new QRadioButton(T("ARTICLE (include article headers)"), page);
  rdbBody = new QRadioButton(T("BODY (exclude article headers)"), page);
  rdbArtNumber = new QRadioButton(T("Article number (numeric, usually faster)"), page);
  rdbMessageId = new QRadioButton(T("Message-ID (character string, unique)"), page);
  chxSkipGroup = new QCheckBox(T("Skip GROUP commands when downloading articles"), page);
  chxSkipListgroup = new QCheckBox(T("Don't check for new/expired articles within range"), page);
  boxHeaderCommand_ = RadioBox("Header download command", rdbXover, rdbXhdr, page);
  boxExistence_ = RadioBox("Method to check for new/expired articles", rdbListgroup, rdbXhdrLines, page);
  boxArticleData_ = RadioBox("Article data download", rdbArticle, rdbBody, page);
  boxSelectBy_ = RadioBox("Select article to download by", rdbArtNumber, rdbMessageId, page);

  auto* layout = new QGridLayout(page);
  layout->addWidget(boxHeaderCommand_, 0, 0);
  layout->addWidget(boxExistence_, 0, 1);
  layout->addWidget(boxArticleData_, 1, 0);
  layout->addWidget(boxSelectBy_, 1, 1);
  layout->addWidget(chxSkipGroup, 2, 0, 1, 2);
  layout->addWidget(chxSkipListgroup, 3, 0, 1, 2);
  layout->setRowStretch(4, 1);

  untaggedDefaults_.insert(untaggedDefaults_.end(), {rdbXover, rdbListgroup, rdbBody, rdbArtNumber});
  Tag(rdbXhdr, sfXHDR);
  Tag(rdbXhdrLines, sfXHDRLines);
  Tag(rdbArticle, sfARTICLE);
  Tag(rdbMessageId, sfByMessageID);
  Tag(chxSkipGroup, sfSkipGroup);
  Tag(chxSkipListgroup, sfSkipListgroup);
  return page;
}

void TfrmServerCfg::Tag(QAbstractButton* button, int bit) { tagged_.emplace_back(button, bit); }

void TfrmServerCfg::WatchChanges() {
  for (QLineEdit* e : findChildren<QLineEdit*>()) connect(e, &QLineEdit::textChanged, this, &TfrmServerCfg::Changed);
  for (QAbstractButton* b : findChildren<QAbstractButton*>())
    if (b->isCheckable()) connect(b, &QAbstractButton::toggled, this, &TfrmServerCfg::Changed);
  for (QSpinBox* s : findChildren<QSpinBox*>()) connect(s, &QSpinBox::valueChanged, this, &TfrmServerCfg::Changed);
  connect(cbxServerMode, &QComboBox::currentIndexChanged, this, &TfrmServerCfg::Changed);
  for (TResetScheduleBox* box : {daily, monthly})
    connect(box, &TResetScheduleBox::Changed, this, &TfrmServerCfg::Changed);
  connect(chxNeedAuth, &QCheckBox::toggled, this, [this](bool on) {
    if (loading_) return;
    // Most providers allow only a few connections without a login.
    if (!on && node_.IsNewsServer() && speMaxConn->value() >= 5) speMaxConn->setValue(4);
    UpdateMaxConnRange();
  });
  connect(rdbArtNumber, &QRadioButton::toggled, this, [this](bool on) {
    if (on && !loading_) chxSkipGroup->setChecked(false);
  });
  connect(cbxServerMode, &QComboBox::currentIndexChanged, this, [this](int mode) {
    if (mode == 2 && !loading_) rdbMessageId->setChecked(true);
  });
  connect(chxUseTls, &QCheckBox::toggled, this, [this](bool on) {
    if (loading_) return;
    if (on && (edtPort->text().isEmpty() || edtPort->text() == QLatin1String("119"))) edtPort->setText("563");
    if (!on && edtPort->text() == QLatin1String("563")) edtPort->setText("119");
  });
}

void TfrmServerCfg::keyPressEvent(QKeyEvent* event) {
  if (!TurnPageByKey(*pgcPages, *event)) QDialog::keyPressEvent(event);
}

bool EditServer(TServer& node, TServerTree& tree) {
  TfrmServerCfg dialog(node, tree, DialogParent());
  return ExecModal(dialog) == QDialog::Accepted;
}

}  // namespace zev::ui
