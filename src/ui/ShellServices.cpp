#include "ui/ShellServices.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QUrl>

#include "ui/ModalRunner.h"

namespace zev::ui {

bool ChooseFolder(const std::string& caption, std::string& folder) {
  QFileDialog dialog(DialogParent(), QString::fromStdString(caption), QString::fromStdString(folder));
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  if (ExecModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  folder = dialog.selectedFiles().front().toStdString();
  return true;
}

bool MoveToTrash(const std::string& path) { return QFile::moveToTrash(QString::fromStdString(path)); }

bool OpenWithAssociated(const std::string& path) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

}  // namespace zev::ui
