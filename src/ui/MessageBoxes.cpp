#include "ui/MessageBoxes.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

#include "ui/ModalRunner.h"

namespace zev::ui {
namespace {

void Show(QMessageBox::Icon icon, const std::string& text) {
  QMessageBox box(icon, QApplication::applicationName(), QString::fromStdString(text), QMessageBox::Ok,
                  DialogParent());
  ExecModal(box);
}

}  // namespace

void ShowError(const std::string& text) { Show(QMessageBox::Critical, text); }
void ShowInfo(const std::string& text) { Show(QMessageBox::Information, text); }

bool AskText(const std::string& caption, const std::string& prompt, std::string& text) {
  QInputDialog dialog(DialogParent());
  dialog.setWindowTitle(QString::fromStdString(caption));
  dialog.setLabelText(QString::fromStdString(prompt));
  dialog.setTextValue(QString::fromStdString(text));
  if (ExecModal(dialog) != QDialog::Accepted) return false;
  text = dialog.textValue().toStdString();
  return true;
}

}  // namespace zev::ui
