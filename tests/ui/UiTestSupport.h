#pragma once
// What the widget tests share: a modal runner that answers dialogs from a script, a power
// control that only records, and the settings, configuration and trees of a scratch
// directory.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTest>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../core/TestUtil.h"
#include "core/Config.h"
#include "core/ZevIniFile.h"
#include "db/GroupTree.h"
#include "db/ServerTree.h"
#include "ui/ModalRunner.h"
#include "ui/PowerControl.h"
#include "ui/QueryDlg.h"

namespace zev::test {

// Answers each modal dialog with the next scripted step. A step sees the dialog, may fill
// it in, and returns its result code. Every dialog's kind and text are recorded; a dialog
// nobody scripted fails the test and is rejected.
class TScriptedModals : public ui::TModalRunner {
 public:
  using TStep = std::function<int(QDialog&)>;

  TScriptedModals() { previous_ = ui::SetModalRunner(this); }
  ~TScriptedModals() override { ui::SetModalRunner(previous_); }

  void Then(TStep step) { steps_.push_back(std::move(step)); }
  // Answers the question dialog, optionally ticking "remember".
  void Answer(int answer, bool remember = false) {
    Then([answer, remember](QDialog& d) {
      if (auto* q = qobject_cast<ui::TfrmQueryDlg*>(&d)) q->SetRemember(remember);
      return answer;
    });
  }
  void Accept() {
    Then([](QDialog&) { return QDialog::Accepted; });
  }

  int Exec(QDialog& dialog) override {
    texts.push_back(TextOf(dialog));
    if (steps_.empty()) {
      ADD_FAILURE() << "unexpected dialog: " << texts.back();
      return QDialog::Rejected;
    }
    TStep step = std::move(steps_.front());
    steps_.pop_front();
    return step(dialog);
  }
  bool Done() const { return steps_.empty(); }

  std::vector<std::string> texts;

 private:
  static std::string TextOf(QDialog& d) {
    if (auto* q = qobject_cast<ui::TfrmQueryDlg*>(&d)) return q->Text().toStdString();
    if (auto* m = qobject_cast<QMessageBox*>(&d)) return m->text().toStdString();
    return d.windowTitle().toStdString();
  }

  std::deque<TStep> steps_;
  ui::TModalRunner* previous_ = nullptr;
};

class TFakePower : public ui::TPowerControl {
 public:
  TFakePower() { previous_ = ui::SetPowerControl(this); }
  ~TFakePower() override { ui::SetPowerControl(previous_); }
  bool Perform(TShutdownMethod method) override {
    performed.push_back(method);
    return true;
  }
  std::vector<TShutdownMethod> performed;

 private:
  ui::TPowerControl* previous_ = nullptr;
};

// A settings file, its configuration and both trees in a scratch directory.
class TUiEnvironment {
 public:
  explicit TUiEnvironment(const std::string& iniText = {}) : dir(ScratchDir()) {
    if (!iniText.empty()) WriteFile(dir + "Zev2.ini", iniText);
    ini = std::make_unique<TZevIniFile>(dir + "Zev2.ini");
    config = std::make_unique<TConfig>(*ini, dir);
    config->Load();
    gConfig = config.get();
    servers = std::make_unique<TServerTree>(*ini);
    groups = std::make_unique<TGroupTree>(*ini, dir + "downloads/");
    servers->LoadServers();
    groups->LoadGroups();
    gServers = servers.get();
    gGroups = groups.get();
  }
  ~TUiEnvironment() {
    gServers = nullptr;
    gGroups = nullptr;
    servers.reset();
    groups.reset();
    gConfig = nullptr;
  }
  std::string IniText() const { return ReadFile(dir + "Zev2.ini"); }

  std::string dir;
  std::unique_ptr<TZevIniFile> ini;
  std::unique_ptr<TConfig> config;
  std::unique_ptr<TServerTree> servers;
  std::unique_ptr<TGroupTree> groups;
};

// Lets events run until `done` holds or the time is up.
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = 10000) {
  return QTest::qWaitFor(done, timeoutMs);
}

}  // namespace zev::test
