#include "ui/GroupCfg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include "core/ConfigNames.h"
#include "core/Intl.h"
#include "core/SanitizeName.h"
#include "core/Startup.h"
#include "core/TextUtil.h"
#include "db/Group.h"
#include "db/GroupTree.h"
#include "ui/ModalRunner.h"
#include "ui/PageKeys.h"
#include "ui/ShellServices.h"

namespace zev::ui {
namespace {

QString T(const char* text) { return QString::fromUtf8(Tr(text)); }

std::string LastComponent(const std::string& dir) {
  std::string d = dir;
  while (!d.empty() && d.back() == '/') d.pop_back();
  size_t slash = d.rfind('/');
  return slash == std::string::npos ? d : d.substr(slash + 1);
}

std::string WithoutLastComponent(const std::string& dir) {
  std::string d = dir;
  while (!d.empty() && d.back() == '/') d.pop_back();
  size_t slash = d.rfind('/');
  return slash == std::string::npos ? std::string() : d.substr(0, slash + 1);
}

QComboBox* SortBox(QWidget* parent) {
  auto* box = new QComboBox(parent);
  box->addItem(T("(default)"));
  const int last = gStartup.switches.test1 ? kSortKeyCount - 1 : skFilename;
  for (int code = skSize; code <= last; ++code) box->addItem(QString::fromStdString(SortKeyCaption(code, false)));
  return box;
}

}  // namespace

std::string DecodeDirBase(const std::string& typed, const std::string& fallback, const FDecodeDirChoice& choice) {
  std::string text(Trim(typed));
  while (text.size() > 1 && text.back() == '/' && text[text.size() - 2] == '/') text.pop_back();
  if (text.empty() || text == "/") {
    text = fallback;
  } else {
    if (text.back() != '/') text += '/';
    // A directory relative to the program's working directory would be a surprise.
    if (text.front() != '/') text = fallback + text;
    const std::string last = LastComponent(text);
    const bool own = (choice.appendAbbr && EqualsIgnoreCase(last, choice.abbreviation)) ||
                     (!choice.appendAbbr && choice.appendName && EqualsIgnoreCase(last, choice.name));
    if (own) text = WithoutLastComponent(text);
  }
  std::string base = SanitizeName(text, true, kNameLimit);
  if (base.empty() || base.back() != '/') base += '/';
  return base;
}

std::string EffectiveDir(const std::string& base, const FDecodeDirChoice& choice) {
  if (choice.appendAbbr) return base + choice.abbreviation + "/";
  if (choice.appendName) return base + choice.name + "/";
  return base;
}

TfrmGroupCfg::TfrmGroupCfg(TGroup& node, TGroupTree& tree, QWidget* parent)
    : QDialog(parent), node_(node), tree_(tree) {
  setWindowTitle(T("Properties of ") + QString::fromStdString(node.Name()));
  pgcPages = new QTabWidget(this);
  pgcPages->addTab(BuildSettingsPage(), T("Settings"));
  pgcPages->addTab(BuildDecodingPage(), T("Decoding"));
  pgcPages->addTab(BuildSortingPage(), T("Sorting"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
  btnApply = buttons->button(QDialogButtonBox::Apply);
  connect(buttons->button(QDialogButtonBox::Ok), &QPushButton::clicked, this, [this] {
    Apply();
    accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(btnApply, &QPushButton::clicked, this, &TfrmGroupCfg::Apply);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pgcPages, 1);
  layout->addWidget(buttons);
  WatchChanges();
  LoadControls();
  pgcPages->setCurrentIndex(0);
}

QWidget* TfrmGroupCfg::BuildSettingsPage() {
  auto* page = new QWidget(this);
  chxInherit = new QCheckBox(T("Copy all settings from parent level"), page);
  chxAutoRefresh = new QCheckBox(T("Automatic header refresh once every "), page);
  cbxRefreshInterval = new QComboBox(page);
  for (const char* i : {"Zev startup", "24 hours", "12 hours", "6 hours", "3 hours", "hour", "30 minutes"})
    cbxRefreshInterval->addItem(T(i));
  speHeaderScore = new QSpinBox(page);
  speHeaderScore->setRange(-128, 127);
  chxAutoFileCheck = new QCheckBox(T("Automatically run FileCheck when opening group"), page);
  chxHeaderLimit = new QCheckBox(T("Download at most"), page);
  speMaxHeaders = new QSpinBox(page);
  speMaxHeaders->setRange(100, 2000000000);
  speMaxHeaders->setSingleStep(100);
  rdbMarkAlways = new QRadioButton(T("Always"), page);
  rdbMarkNever = new QRadioButton(T("Never"), page);
  rdbMarkAsk = new QRadioButton(T("Ask me"), page);
  auto* markBox = new QGroupBox(T("Mark all articles as read when closing article list"), page);
  auto* markGroup = new QButtonGroup(markBox);
  auto* markLayout = new QHBoxLayout(markBox);
  for (QRadioButton* r : {rdbMarkAlways, rdbMarkNever, rdbMarkAsk}) {
    markGroup->addButton(r);
    markLayout->addWidget(r);
  }
  markLayout->addStretch(1);

  auto* refresh = new QHBoxLayout;
  refresh->addWidget(chxAutoRefresh);
  refresh->addWidget(cbxRefreshInterval);
  refresh->addStretch(1);
  auto* score = new QHBoxLayout;
  score->addWidget(new QLabel(T("Header refresh priority for this newsgroup"), page));
  score->addWidget(speHeaderScore);
  score->addStretch(1);
  auto* limit = new QHBoxLayout;
  limit->addWidget(chxHeaderLimit);
  limit->addWidget(speMaxHeaders);
  limit->addWidget(new QLabel(T("headers"), page));
  limit->addStretch(1);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(chxInherit);
  layout->addLayout(refresh);
  layout->addLayout(score);
  layout->addWidget(chxAutoFileCheck);
  layout->addLayout(limit);
  layout->addWidget(markBox);
  layout->addStretch(1);

  settingControls_ = {chxAutoRefresh, cbxRefreshInterval, speHeaderScore, chxAutoFileCheck,
                      chxHeaderLimit, speMaxHeaders,      markBox};
  Tag(chxAutoRefresh, gfAutoRefresh);
  Tag(chxAutoFileCheck, gfAutoFileCheck);
  Tag(chxHeaderLimit, gfHeaderLimit);
  Tag(rdbMarkAlways, gfMarkReadAlways);
  Tag(rdbMarkNever, gfMarkReadNever);
  untaggedDefaults_.push_back(rdbMarkAsk);
  return page;
}

QWidget* TfrmGroupCfg::BuildDecodingPage() {
  auto* page = new QWidget(this);
  edtDecodeDir = new QLineEdit(page);
  btnBrowse = new QPushButton(T("Browse..."), page);
  rdbAppendNothing = new QRadioButton(T("nothing"), page);
  rdbAppendName = new QRadioButton(T("group name"), page);
  rdbAppendAbbr = new QRadioButton(T("group abbreviation"), page);
  chxAppendSubject = new QCheckBox(T("part of article subject to decoding directory"), page);
  auto* appendGroup = new QButtonGroup(page);
  for (QRadioButton* r : {rdbAppendNothing, rdbAppendName, rdbAppendAbbr}) appendGroup->addButton(r);
  chxLogFile = new QCheckBox(QStringLiteral("Zev.log"), page);
  chxDescriptIon = new QCheckBox(QStringLiteral("descript.ion"), page);
  chxCsvLog = new QCheckBox(T("Zev.csv (in Zev dir)"), page);

  auto* dirBox = new QGroupBox(T("Decoding Directory"), page);
  auto* dirRow = new QHBoxLayout;
  dirRow->addWidget(edtDecodeDir, 1);
  dirRow->addWidget(btnBrowse);
  auto* appendRow = new QHBoxLayout;
  appendRow->addWidget(new QLabel(T("Append"), page));
  for (QRadioButton* r : {rdbAppendNothing, rdbAppendName, rdbAppendAbbr}) appendRow->addWidget(r);
  appendRow->addStretch(1);
  auto* dirLayout = new QVBoxLayout(dirBox);
  dirLayout->addLayout(dirRow);
  dirLayout->addLayout(appendRow);
  dirLayout->addWidget(chxAppendSubject);
  // Shown for completeness of the page; these choices have no effect and store nothing.
  auto* textBox = new QGroupBox(T("Text Article Handling"), page);
  auto* execBox = new QGroupBox(T("Execution of downloaded files"), page);
  for (QGroupBox* b : {textBox, execBox}) {
    new QVBoxLayout(b);
    b->layout()->addWidget(new QLabel(T("(not available)"), b));
    b->setEnabled(false);
  }
  auto* logBox = new QGroupBox(T("Log each downloaded file into"), page);
  auto* logLayout = new QHBoxLayout(logBox);
  for (QCheckBox* c : {chxLogFile, chxDescriptIon, chxCsvLog}) logLayout->addWidget(c);
  logLayout->addStretch(1);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(dirBox);
  layout->addWidget(textBox);
  layout->addWidget(execBox);
  layout->addWidget(logBox);
  layout->addStretch(1);

  settingControls_.insert(settingControls_.end(), {dirBox, logBox});
  untaggedDefaults_.push_back(rdbAppendNothing);
  Tag(rdbAppendAbbr, gfAppendAbbr);
  Tag(rdbAppendName, gfAppendName);
  Tag(chxAppendSubject, gfAppendSubject);
  Tag(chxLogFile, gfLogFile);
  Tag(chxDescriptIon, gfDescriptIon);
  Tag(chxCsvLog, gfCsvLog);
  connect(btnBrowse, &QPushButton::clicked, this, &TfrmGroupCfg::Browse);
  connect(edtDecodeDir, &QLineEdit::textEdited, this, [this] { dirEdited_ = true; });
  connect(edtDecodeDir, &QLineEdit::editingFinished, this, &TfrmGroupCfg::DirectoryEdited);
  for (QRadioButton* r : {rdbAppendNothing, rdbAppendName, rdbAppendAbbr})
    connect(r, &QRadioButton::toggled, this, [this](bool on) {
      if (on && !loading_) ShowEffectiveDir();
    });
  return page;
}

QWidget* TfrmGroupCfg::BuildSortingPage() {
  auto* page = new QWidget(this);
  chxCustomSort = new QCheckBox(T("Allow customized sort settings..."), page);
  cbxPrimary = SortBox(page);
  cbxSecondary = SortBox(page);
  chxPrimaryReverse = new QCheckBox(T("Reverse"), page);
  chxSecondaryReverse = new QCheckBox(T("Reverse"), page);
  auto* form = new QGridLayout;
  form->addWidget(new QLabel(T("Primary sort column:"), page), 0, 0);
  form->addWidget(cbxPrimary, 0, 1);
  form->addWidget(chxPrimaryReverse, 0, 2);
  form->addWidget(new QLabel(T("Secondary sort column:"), page), 1, 0);
  form->addWidget(cbxSecondary, 1, 1);
  form->addWidget(chxSecondaryReverse, 1, 2);
  form->setColumnStretch(3, 1);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(chxCustomSort);
  layout->addLayout(form);
  layout->addStretch(1);
  settingControls_.push_back(page);
  return page;
}

void TfrmGroupCfg::Tag(QAbstractButton* button, int bit) { tagged_.emplace_back(button, bit); }

void TfrmGroupCfg::WatchChanges() {
  for (QLineEdit* e : findChildren<QLineEdit*>()) connect(e, &QLineEdit::textChanged, this, &TfrmGroupCfg::Changed);
  for (QAbstractButton* b : findChildren<QAbstractButton*>())
    if (b->isCheckable()) connect(b, &QAbstractButton::toggled, this, &TfrmGroupCfg::Changed);
  for (QSpinBox* s : findChildren<QSpinBox*>()) connect(s, &QSpinBox::valueChanged, this, &TfrmGroupCfg::Changed);
  for (QComboBox* c : findChildren<QComboBox*>())
    connect(c, &QComboBox::currentIndexChanged, this, &TfrmGroupCfg::Changed);
  connect(chxInherit, &QCheckBox::toggled, this, [this](bool on) {
    if (loading_) return;
    loading_ = true;
    LoadSettings(on && node_.Parent() ? *node_.Parent() : node_);
    loading_ = false;
    UpdateEnabled();
  });
}

void TfrmGroupCfg::keyPressEvent(QKeyEvent* event) {
  if (!TurnPageByKey(*pgcPages, *event)) QDialog::keyPressEvent(event);
}

bool EditGroup(TGroup& node, TGroupTree& tree) {
  TfrmGroupCfg dialog(node, tree, DialogParent());
  return ExecModal(dialog) == QDialog::Accepted;
}

}  // namespace zev::ui
