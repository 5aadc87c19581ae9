#pragma once
// Every modal window of the program (questions, messages, property dialogs, name prompts,
// folder pickers) runs through one runner. The program's runner executes the dialog; tests
// install their own, which looks at the dialog, fills it in and answers it, so every flow
// that asks the user something runs headless.
class QDialog;
class QWidget;

namespace zev::ui {

class TModalRunner {
 public:
  virtual ~TModalRunner() = default;
  // Shows the dialog modally and returns its result code.
  virtual int Exec(QDialog& dialog) = 0;
};

// Installs a runner (nullptr: the default one) and returns the previous one.
TModalRunner* SetModalRunner(TModalRunner* runner);
// Runs the dialog through the runner in force.
int ExecModal(QDialog& dialog);

// The window dialogs are centred on and give the focus back to: the main window once it
// exists.
void SetDialogParent(QWidget* window);
QWidget* DialogParent();

}  // namespace zev::ui
