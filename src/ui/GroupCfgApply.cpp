// Loading the group dialog's controls, the enabling rules, the decoding directory and Apply.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <functional>

#include "core/Intl.h"
#include "core/SanitizeName.h"
#include "db/Group.h"
#include "db/GroupFileName.h"
#include "db/GroupTree.h"
#include "ui/GroupCfg.h"
#include "ui/ShellServices.h"

namespace zev::ui {
namespace {

// The directory level the group adds, as the group model builds it.
std::string SafeComponent(const std::string& text) {
  return IsSafeFileName(text) ? text : SanitizeName(text, false);
}

}  // namespace

void TfrmGroupCfg::LoadControls() {
  loading_ = true;
  const bool inherit = node_.Has(gfInherit) && node_.Parent();
  chxInherit->setChecked(inherit);
  LoadSettings(node_);
  loading_ = false;
  dirEdited_ = false;
  UpdateEnabled();
  btnApply->setEnabled(false);
}

void TfrmGroupCfg::LoadSettings(const TGroup& from) {
  const uint32_t flags = from.Flags.load();
  for (QRadioButton* r : untaggedDefaults_) r->setChecked(true);
  for (auto [button, bit] : tagged_) {
    const bool set = (flags >> bit & 1u) != 0;
    if (set || !qobject_cast<QRadioButton*>(button)) button->setChecked(set);
  }
  cbxRefreshInterval->setCurrentIndex(static_cast<int>(from.RefreshInterval()) < cbxRefreshInterval->count()
                                          ? static_cast<int>(from.RefreshInterval())
                                          : -1);
  speHeaderScore->setValue(from.HeaderScore.load());
  speMaxHeaders->setValue(static_cast<int>(std::min<uint32_t>(from.MaxHeaders.load(), 2000000000)));
  base_ = from.DecodeDir();
  ShowEffectiveDir();
  chxCustomSort->setChecked(!node_.Parent() || from.Has(gfCustomSort));
  auto pick = [](QComboBox* box, int code) { box->setCurrentIndex(code < box->count() ? code : 0); };
  pick(cbxPrimary, from.PrimarySort());
  pick(cbxSecondary, from.SecondarySort());
  chxPrimaryReverse->setChecked(from.PrimaryReverse());
  chxSecondaryReverse->setChecked(from.SecondaryReverse());
}

void TfrmGroupCfg::UpdateEnabled() {
  const bool root = node_.Parent() == nullptr;
  const bool inherit = chxInherit->isChecked() && !root;
  chxInherit->setEnabled(!root);
  for (QWidget* w : settingControls_) w->setEnabled(!inherit);
  cbxRefreshInterval->setEnabled(!inherit && chxAutoRefresh->isChecked());
  speMaxHeaders->setEnabled(!inherit && chxHeaderLimit->isChecked());
  if (root) chxCustomSort->setChecked(true);
  chxCustomSort->setEnabled(!inherit && !root);
  const bool sort = !inherit && chxCustomSort->isChecked();
  for (QWidget* w : std::initializer_list<QWidget*>{cbxPrimary, cbxSecondary, chxPrimaryReverse, chxSecondaryReverse})
    w->setEnabled(sort);
  for (QWidget* w : std::initializer_list<QWidget*>{rdbAppendName, rdbAppendAbbr, chxAppendSubject})
    w->setEnabled(!inherit && !root);
}

void TfrmGroupCfg::Changed() {
  if (loading_) return;
  UpdateEnabled();
  btnApply->setEnabled(true);
}

bool TfrmGroupCfg::ApplyEnabled() const { return btnApply->isEnabled(); }

FDecodeDirChoice TfrmGroupCfg::Choice() const {
  FDecodeDirChoice c;
  if (!node_.Parent()) return c;  // the root's directory is always its own
  c.appendAbbr = rdbAppendAbbr->isChecked();
  c.appendName = rdbAppendName->isChecked();
  c.name = SafeComponent(node_.Name());
  c.abbreviation = SafeComponent(node_.GroupAbbreviation());
  return c;
}

std::string TfrmGroupCfg::Fallback() const {
  return node_.Parent() ? node_.Parent()->EffectiveDecodeDir() : tree_.DefaultDownloadDir();
}

void TfrmGroupCfg::DirectoryEdited() {
  if (!dirEdited_) return;
  dirEdited_ = false;
  base_ = DecodeDirBase(edtDecodeDir->text().toStdString(), Fallback(), Choice());
  ShowEffectiveDir();
}

void TfrmGroupCfg::ShowEffectiveDir() {
  edtDecodeDir->setText(QString::fromStdString(EffectiveDir(base_, Choice())));
}

void TfrmGroupCfg::Browse() {
  std::string folder = base_;
  if (!ChooseFolder(Tr("Select a decoding directory"), folder)) return;
  base_ = DecodeDirBase(folder, Fallback(), Choice());
  ShowEffectiveDir();
  Changed();
}

void TfrmGroupCfg::Apply() {
  DirectoryEdited();
  if (chxInherit->isChecked() && node_.Parent()) {
    node_.InheritFromParent();
    node_.Include(gfInherit);
  } else {
    ApplyOwnSettings();
  }
  // Every node below that inherits takes the new settings, level by level.
  std::function<void(TGroup&)> passDown = [&](TGroup& parent) {
    for (const auto& child : parent.Children()) {
      if (child->Has(gfInherit)) child->InheritFromParent();
      passDown(*child);
    }
  };
  passDown(node_);
  tree_.SaveGroups();
  LoadControls();
}

void TfrmGroupCfg::ApplyOwnSettings() {
  node_.Exclude(gfInherit);
  node_.SetDecodeDir(base_);
  for (auto [button, bit] : tagged_) node_.SetFlag(static_cast<TGroupFlag>(bit), button->isChecked());
  if (cbxRefreshInterval->currentIndex() >= 0)
    node_.SetRefreshInterval(static_cast<uint32_t>(cbxRefreshInterval->currentIndex()));
  node_.HeaderScore = static_cast<int8_t>(speHeaderScore->value());
  node_.MaxHeaders = static_cast<uint32_t>(speMaxHeaders->value());
  if (chxCustomSort->isChecked() || !node_.Parent()) {
    node_.Include(gfCustomSort);
    node_.SetOwnSortOrder({static_cast<uint8_t>(cbxPrimary->currentIndex()),
                           static_cast<uint8_t>(cbxSecondary->currentIndex()), chxPrimaryReverse->isChecked(),
                           chxSecondaryReverse->isChecked()});
  } else {
    node_.Exclude(gfCustomSort);
  }
}

}  // namespace zev::ui
