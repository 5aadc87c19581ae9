#include "ui/ModalRunner.h"

#include <QDialog>
#include <QPointer>

namespace zev::ui {
namespace {

class TDefaultRunner : public TModalRunner {
 public:
  int Exec(QDialog& dialog) override { return dialog.exec(); }
};

TDefaultRunner gDefaultRunner;
TModalRunner* gRunner = &gDefaultRunner;
QPointer<QWidget> gDialogParent;

}  // namespace

TModalRunner* SetModalRunner(TModalRunner* runner) {
  TModalRunner* previous = gRunner == &gDefaultRunner ? nullptr : gRunner;
  gRunner = runner ? runner : &gDefaultRunner;
  return previous;
}

int ExecModal(QDialog& dialog) {
  int result = gRunner->Exec(dialog);
  // The focus goes back to the main window, whatever had it before the dialog.
  if (gDialogParent && gDialogParent->isVisible()) gDialogParent->activateWindow();
  return result;
}

void SetDialogParent(QWidget* window) { gDialogParent = window; }
QWidget* DialogParent() { return gDialogParent.data(); }

}  // namespace zev::ui
