// Loading the server dialog's controls from the node, the enabling rules, and Apply.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <filesystem>
#include <system_error>

#include "core/Intl.h"
#include "core/Log.h"
#include "core/TextUtil.h"
#include "db/ResetSchedule.h"
#include "db/Server.h"
#include "db/ServerTree.h"
#include "nntp/TlsContext.h"
#include "ui/MessageBoxes.h"
#include "ui/ResetScheduleBox.h"
#include "ui/ServerCfg.h"

namespace zev::ui {
namespace {

constexpr int kAdvancedPage = 2, kStatisticsPage = 3, kCommandsPage = 4;

std::string WithoutSlash(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

uint16_t PortFromText(const QString& text) {
  bool ok = false;
  const int port = text.trimmed().toInt(&ok);
  return ok && port > 0 && port <= 65535 ? static_cast<uint16_t>(port) : 119;
}

}  // namespace

bool MoveServerDataDir(const std::string& oldDir, const std::string& newDir) {
  namespace fs = std::filesystem;
  if (EqualsIgnoreCase(oldDir, newDir)) return true;
  const fs::path from = WithoutSlash(oldDir), to = WithoutSlash(newDir);
  std::error_code ec;
  if (!fs::exists(from, ec)) return true;
  // Never merge into or replace the files of another server that already lives there.
  if (fs::exists(to, ec) && !fs::is_empty(to, ec)) {
    LogError("The data directory \"" + from.string() + "\" was not moved: \"" + to.string() + "\" already exists.");
    return false;
  }
  if (fs::exists(to, ec)) fs::remove(to, ec);
  fs::rename(from, to, ec);
  if (ec) {
    LogError("The data directory \"" + from.string() + "\" could not be moved to \"" + to.string() +
             "\": " + ec.message());
    return false;
  }
  return true;
}

void TfrmServerCfg::LoadControls() {
  loading_ = true;
  edtName->setText(QString::fromStdString(node_.Name()));
  edtHost->setText(QString::fromStdString(node_.Host()));
  edtPort->setText(QString::number(node_.Port.load()));
  chxUseTls->setChecked(node_.UseTls.load());
  edtFingerprint->setText(QString::fromStdString(node_.TlsFingerprint()));
  chxNeedAuth->setChecked(node_.Has(sfNeedAuth));
  edtUser->setText(QString::fromStdString(node_.User()));
  edtPass->setText(QString::fromStdString(node_.Pass()));
  chxCryptPass->setChecked(node_.Has(sfCryptPass));
  chxInherit->setChecked(node_.Has(sfInherit) && node_.Parent());
  speMaxConn->setMaximum(100);
  speMaxConn->setValue(static_cast<int>(node_.MaxConn.load()));
  spePreference->setValue(node_.Preference());
  speRetry->setValue(static_cast<int>(node_.Retry.load()));
  speIdle->setValue(static_cast<int>(node_.Idle.load()));
  speTimeOut->setValue(static_cast<int>(node_.TimeOut.load()));
  speHdrBlock->setValue(static_cast<int>(node_.HdrBlock.load()));
  speMaxHeaders->setValue(static_cast<int>(std::min<uint32_t>(node_.MaxHeaders.load(), 2000000000)));
  speChunkSize->setValue(static_cast<int>(std::min<uint32_t>(node_.ChunkSize.load(), 2000000000)));
  speBandwidth->setValue(static_cast<int>(node_.Bandwidth.load()));
  // A mode this program does not know is shown as its number and kept.
  const uint32_t mode = node_.ServerMode.load();
  while (cbxServerMode->count() > 4) cbxServerMode->removeItem(4);
  if (mode > smDormant) cbxServerMode->addItem(QString::number(mode));
  cbxServerMode->setCurrentIndex(mode > smDormant ? 4 : static_cast<int>(mode));
  daily->Load(node_.Daily);
  monthly->Load(node_.Monthly);
  LoadFlags(node_.Flags.load());
  UpdateMaxConnRange();
  loading_ = false;
  UpdateEnabled();
  btnApply->setEnabled(false);
}

void TfrmServerCfg::LoadFlags(uint32_t flags) {
  for (QRadioButton* r : untaggedDefaults_) r->setChecked(true);
  for (auto [button, bit] : tagged_) {
    const bool set = (flags >> bit & 1u) != 0;
    if (set || !qobject_cast<QRadioButton*>(button)) button->setChecked(set);
  }
}

void TfrmServerCfg::UpdateMaxConnRange() {
  const int value = speMaxConn->value();
  const bool open = !node_.IsNewsServer() || chxNeedAuth->isChecked();
  speMaxConn->setMaximum(open ? 100 : value >= 5 ? value : 4);
}

void TfrmServerCfg::UpdateEnabled() {
  const bool server = node_.IsNewsServer();
  const bool root = node_.Parent() == nullptr;
  const bool inherit = chxInherit->isChecked() && !root;
  chxInherit->setEnabled(!root);
  boxBasic_->setEnabled(!root);
  for (QWidget* w : std::initializer_list<QWidget*>{edtHost, edtPort, chxUseTls, edtFingerprint})
    w->setEnabled(server);
  boxAuth_->setEnabled(server);
  edtUser->setEnabled(chxNeedAuth->isChecked());
  edtPass->setEnabled(chxNeedAuth->isChecked());
  connectionsExtras_->setEnabled(!inherit);
  for (int page : {kAdvancedPage, kStatisticsPage, kCommandsPage}) pgcPages->widget(page)->setEnabled(!inherit);
  lsxPhoneBook->setEnabled(rdbSelected->isChecked());
  speRetry->setEnabled(chxAutoRetry->isChecked());
  speMaxHeaders->setEnabled(chxHeaderLimit->isChecked());
  speChunkSize->setEnabled(chxChunks->isChecked());
  speBandwidth->setEnabled(chxBandwidth->isChecked());
  daily->UpdateEnabled();
  monthly->UpdateEnabled();
  btnOk->setEnabled(!server || (!edtHost->text().trimmed().isEmpty() && !edtPort->text().trimmed().isEmpty()));

  const int mode = cbxServerMode->currentIndex();
  if (mode == smArticles) rdbMessageId->setChecked(true);
  chxSkipGroup->setEnabled(rdbMessageId->isChecked());
  chxSkipListgroup->setEnabled(mode != smArticles);
  boxHeaderCommand_->setEnabled(mode != smArticles);
  boxExistence_->setEnabled(mode != smArticles && !chxSkipListgroup->isChecked());
  boxArticleData_->setEnabled(mode != smHeaders);
  boxSelectBy_->setEnabled(mode == smNormal);
}

void TfrmServerCfg::Changed() {
  if (loading_) return;
  UpdateEnabled();
  btnApply->setEnabled(true);
}

bool TfrmServerCfg::ApplyEnabled() const { return btnApply->isEnabled(); }
bool TfrmServerCfg::OkEnabled() const { return btnOk->isEnabled(); }

void TfrmServerCfg::Apply() {
  const bool server = node_.IsNewsServer();
  const std::string oldDir = server ? ServerDataDir(node_) : std::string();
  ApplyTexts();
  if (server) MoveServerDataDir(oldDir, ServerDataDir(node_));
  node_.MaxConn = static_cast<uint32_t>(speMaxConn->value());
  if (chxInherit->isChecked() && node_.Parent()) {
    node_.InheritFromParent();
    node_.Include(sfInherit);
  } else {
    ApplyNumbers();
    ApplyFlags();
  }
  node_.SetFlag(sfNeedAuth, chxNeedAuth->isChecked());
  node_.SetFlag(sfCryptPass, chxCryptPass->isChecked());
  if (server) tree_.AdjustSlots(node_);
  for (const auto& child : node_.Children())
    if (!child->IsSlot() && child->Has(sfInherit)) child->InheritFromParent();
  tree_.SaveServers();
  LoadControls();
}

void TfrmServerCfg::ApplyTexts() {
  node_.SetName(edtName->text().toStdString());
  if (node_.IsNewsServer()) {
    node_.SetHost(std::string(Trim(edtHost->text().toStdString())));
    node_.Port = PortFromText(edtPort->text());
    node_.UseTls = chxUseTls->isChecked();
    const std::string typed = edtFingerprint->text().trimmed().toStdString();
    const std::string fingerprint = NormalizeFingerprint(typed);
    if (!typed.empty() && fingerprint.empty())
      ShowError(Tr("The certificate fingerprint must be the 32 bytes of a SHA-256 fingerprint in hexadecimal "
                   "(for example AB:CD:...). It was not changed."));
    else
      node_.SetTlsFingerprint(fingerprint);
  }
  node_.SetLogin(edtUser->text().toStdString(), edtPass->text().toStdString());
}

void TfrmServerCfg::ApplyNumbers() {
  node_.SetPreference(static_cast<int8_t>(spePreference->value()));
  node_.Retry = static_cast<uint32_t>(speRetry->value());
  node_.Idle = static_cast<uint32_t>(speIdle->value());
  node_.TimeOut = static_cast<uint32_t>(speTimeOut->value());
  node_.HdrBlock = static_cast<uint32_t>(speHdrBlock->value());
  node_.MaxHeaders = static_cast<uint32_t>(speMaxHeaders->value());
  node_.ChunkSize = static_cast<uint32_t>(speChunkSize->value());
  node_.Bandwidth = static_cast<uint32_t>(speBandwidth->value());
  const TDateTime now = NowLocal();
  for (auto [box, totals] : {std::pair{daily, &node_.Daily}, std::pair{monthly, &node_.Monthly}}) {
    totals->Limit = box->LimitBytes();
    totals->Reset = box->Schedule();
    totals->NextReset = NextResetTime(totals->Reset.load(), now);
  }
  const int mode = cbxServerMode->currentIndex();
  node_.ServerMode = mode < 4 ? static_cast<uint32_t>(mode) : cbxServerMode->currentText().toUInt();
}

void TfrmServerCfg::ApplyFlags() {
  for (auto [button, bit] : tagged_) node_.SetFlag(static_cast<TServerFlag>(bit), button->isChecked());
  node_.Exclude(sfInherit);
  if (node_.Has(sfXHDRLines) && !node_.Has(sfXHDR)) {
    node_.Exclude(sfXHDRLines);
    ShowInfo(Tr("You can not use \"XHDR Lines\" for existence check if you use \"XOVER\" for header refresh."));
  }
}

}  // namespace zev::ui
