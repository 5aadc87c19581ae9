#include "ui/DlDir.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "core/Intl.h"
#include "core/SanitizeName.h"
#include "core/TextUtil.h"
#include "ui/ModalRunner.h"
#include "ui/ShellServices.h"

namespace zev::ui {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
QString T(const char* text) { return QString::fromUtf8(Tr(text)); }

bool Contains(const std::vector<std::string>& list, const std::string& s) {
  return std::find(list.begin(), list.end(), s) != list.end();
}

std::string TrimControls(const std::string& text) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) < 33) ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) < 33) --e;
  return text.substr(b, e - b);
}

}  // namespace

std::string NormalizeDownloadDir(const std::string& typed, const std::string& defaultDir) {
  std::string text = TrimControls(typed);
  if (!text.empty() && text.back() == '/') text.pop_back();
  if (text.empty()) return defaultDir;
  if (text.front() != '/') {
    std::string base = defaultDir;
    if (!base.empty() && base.back() != '/') base += '/';
    text = base + text;
  }
  std::string clean = SanitizeName(text, true, kNameLimit);
  if (clean.empty() || clean.back() != '/') clean += '/';
  return clean;
}

std::vector<std::string>& DownloadDirHistory() {
  static std::vector<std::string> history;
  return history;
}

TfrmDlDir::TfrmDlDir(const std::string& defaultDir, const std::string& current,
                     const std::vector<std::string>& suggested, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(T("Set a new download directory for selected articles"));
  combo_ = new QComboBox(this);
  combo_->setEditable(true);
  combo_->setInsertPolicy(QComboBox::NoInsert);
  combo_->setMinimumContentsLength(48);
  const std::vector<std::string>& history = DownloadDirHistory();
  QStringList items;
  for (const std::string& s : suggested)
    if (!Contains(history, s) && !items.contains(Q(s))) items.prepend(Q(s));
  for (const std::string& s : history) items.append(Q(s));
  if (!Contains(history, current) && !items.contains(Q(current))) items.prepend(Q(current));
  combo_->addItems(items);
  combo_->setCurrentText(Q(current));

  auto* browse = new QPushButton(T("Browse..."), this);
  connect(browse, &QPushButton::clicked, this, &TfrmDlDir::Browse);
  bestCsv_ = new QCheckBox(T("Use the directory of the best CSV match"), this);
  connect(bestCsv_, &QCheckBox::toggled, combo_, [this](bool on) { combo_->setEnabled(!on); });

  auto* row = new QHBoxLayout;
  row->addWidget(combo_, 1);
  row->addWidget(browse);
  auto* form = new QFormLayout;
  form->addRow(T("Default:"), new QLabel(Q(defaultDir), this));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] { done(bestCsv_->isChecked() ? ddBestCsvMatch : ddOk); });
  connect(buttons, &QDialogButtonBox::rejected, this, [this] { done(ddCancel); });
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addLayout(form);
  layout->addWidget(bestCsv_);
  layout->addStretch(1);
  layout->addWidget(buttons);
}

void TfrmDlDir::Browse() {
  std::string chosen = combo_->currentText().toStdString();
  if (ChooseFolder(Tr("Select a download directory"), chosen)) {
    if (chosen.empty() || chosen.back() != '/') chosen += '/';
    combo_->setCurrentText(Q(chosen));
  }
}

int AskDownloadDirectory(const std::string& defaultDir, std::string& directory,
                         const std::vector<std::string>& suggested) {
  TfrmDlDir dialog(defaultDir, directory, suggested, DialogParent());
  int result = ExecModal(dialog);
  if (result != ddOk && result != ddBestCsvMatch) return ddCancel;
  directory = NormalizeDownloadDir(dialog.Combo()->currentText().toStdString(), defaultDir);
  std::vector<std::string>& history = DownloadDirHistory();
  if (!Contains(history, directory)) history.insert(history.begin(), directory);
  return result;
}

}  // namespace zev::ui
