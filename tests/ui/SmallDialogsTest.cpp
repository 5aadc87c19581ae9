// The small dialogs: the download directory rules, the column configuration, the decoding
// directory of the group dialog, and the shutdown countdown.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>

#include "UiTestSupport.h"
#include "ui/ColumnCfg.h"
#include "ui/DlDir.h"
#include "ui/GroupCfg.h"
#include "ui/Shutdown.h"
#include "ui/ShutdownWhenFinished.h"

namespace zev::ui {
namespace {

TEST(DownloadDirectory, TypedTextBecomesAnAbsoluteCleanDirectory) {
  const std::string def = "/home/u/dl/";
  struct FCase {
    const char* typed;
    const char* expected;
  } cases[] = {
      {"", "/home/u/dl/"},
      {"   ", "/home/u/dl/"},
      {"movies", "/home/u/dl/movies/"},
      {"  movies/ \t", "/home/u/dl/movies/"},
      {"/data/x", "/data/x/"},
      {"/data/x/", "/data/x/"},
      {"a/b", "/home/u/dl/a/b/"},
  };
  for (const FCase& c : cases) EXPECT_EQ(NormalizeDownloadDir(c.typed, def), c.expected) << "'" << c.typed << "'";
  // A name may not climb out of the default directory.
  EXPECT_EQ(NormalizeDownloadDir("../../etc", def).find(".."), std::string::npos);
}

TEST(DownloadDirectory, ChoiceHeadsTheHistoryAndSuggestionsComeFirst) {
  test::TScriptedModals modals;
  DownloadDirHistory().clear();
  modals.Then([](QDialog& d) {
    auto& dialog = static_cast<TfrmDlDir&>(d);
    dialog.Combo()->setCurrentText("films");
    return static_cast<int>(ddOk);
  });
  std::string dir = "/home/u/dl/";
  EXPECT_EQ(AskDownloadDirectory("/home/u/dl/", dir, {}), ddOk);
  EXPECT_EQ(dir, "/home/u/dl/films/");
  ASSERT_EQ(DownloadDirHistory().size(), 1u);

  QStringList shown;
  modals.Then([&](QDialog& d) {
    auto& dialog = static_cast<TfrmDlDir&>(d);
    for (int i = 0; i < dialog.Combo()->count(); ++i) shown << dialog.Combo()->itemText(i);
    dialog.BestCsvMatch()->setChecked(true);
    return static_cast<int>(ddBestCsvMatch);
  });
  EXPECT_EQ(AskDownloadDirectory("/home/u/dl/", dir, {"/s/one/", "/s/two/"}), ddBestCsvMatch);
  // Suggestions go to the top in turn (the last ends first), then the history.
  EXPECT_EQ(shown, QStringList({"/s/two/", "/s/one/", "/home/u/dl/films/"}));
  DownloadDirHistory().clear();
}

TEST(ColumnConfiguration, ShowingATreeColumnWritesAutomaticWidthAndItsAlignment) {
  TfrmColumnCfg dialog(TColumnGrid::Groups, {"M:60C", "O:150L"});
  EXPECT_EQ(dialog.Visible()->count(), 2);
  QListWidgetItem* killed = dialog.Hidden()->findItems("Killed", Qt::MatchExactly).value(0);
  ASSERT_NE(killed, nullptr);
  killed->setSelected(true);
  dialog.ShowSelected();
  EXPECT_EQ(dialog.Layout(), (std::vector<std::string>{"M:60C", "O:150L", "K:AC"}));
}

TEST(ColumnConfiguration, MovingHidingAndUnknownLetters) {
  TfrmColumnCfg dialog(TColumnGrid::Queue, {"S:32", "Z:77", "D:500"});
  EXPECT_TRUE(dialog.Visible()->item(1)->text().contains("unknown"));
  dialog.Visible()->item(0)->setSelected(true);
  dialog.MoveSelected(-1);  // the first cannot move up
  EXPECT_EQ(dialog.Layout(), (std::vector<std::string>{"S:32", "Z:77", "D:500"}));
  dialog.MoveSelected(1);
  EXPECT_EQ(dialog.Layout(), (std::vector<std::string>{"Z:77", "S:32", "D:500"}));
  dialog.Visible()->clearSelection();
  dialog.Visible()->item(2)->setSelected(true);
  dialog.HideSelected();
  EXPECT_EQ(dialog.Layout(), (std::vector<std::string>{"Z:77", "S:32"}));
  EXPECT_FALSE(dialog.Hidden()->findItems("Data", Qt::MatchExactly).isEmpty());
}

TEST(GroupDecodingDirectory, OwnNameIsTakenOffTheTypedDirectory) {
  FDecodeDirChoice name{true, false, "alt.binaries.test", "ABT"};
  FDecodeDirChoice abbr{false, true, "alt.binaries.test", "ABT"};
  FDecodeDirChoice none{false, false, "alt.binaries.test", "ABT"};
  struct FCase {
    const char* typed;
    const FDecodeDirChoice* choice;
    const char* base;
  } cases[] = {
      {"/dl/alt.binaries.test/", &name, "/dl/"},
      {"/dl/ALT.BINARIES.TEST", &name, "/dl/"},
      {"/dl/abt/", &abbr, "/dl/"},
      {"/dl/alt.binaries.test/", &none, "/dl/alt.binaries.test/"},
      {"/dl/other", &name, "/dl/other/"},
      {"", &name, "/parent/"},
      {"/", &name, "/parent/"},
      {"sub", &none, "/parent/sub/"},
  };
  for (const FCase& c : cases) EXPECT_EQ(DecodeDirBase(c.typed, "/parent/", *c.choice), c.base) << c.typed;
  EXPECT_EQ(EffectiveDir("/dl/", name), "/dl/alt.binaries.test/");
  EXPECT_EQ(EffectiveDir("/dl/", abbr), "/dl/ABT/");
}

TEST(ShutdownCountdown, ThirtyStepsShutDownAndCancelCancels) {
  TfrmShutdown dialog;
  dialog.Setup("Shutdown Zev", "soon", 30);
  for (int i = 0; i < 29; ++i) dialog.Advance();
  EXPECT_EQ(dialog.Outcome(), TfrmShutdown::soPending);
  dialog.Advance();
  EXPECT_EQ(dialog.Outcome(), TfrmShutdown::soShutdown);
  TfrmShutdown other;
  other.Setup("Shutdown Zev", "soon", 30);
  other.reject();
  EXPECT_EQ(other.Outcome(), TfrmShutdown::soCancel);
}

TEST(ShutdownWhenFinished, TheTwoChoicesFollowEachOther) {
  TShutdownWhenFinished finish(nullptr);
  finish.SetShutdown(true, smReboot);
  EXPECT_TRUE(finish.Close());
  EXPECT_EQ(finish.Method(), smReboot);
  finish.SetClose(false);
  EXPECT_FALSE(finish.Shutdown());
  finish.SetClose(true);
  EXPECT_FALSE(finish.Shutdown());
}

TEST(ShutdownWhenFinished, CountsDownOnlyWhileAllWorkIsDone) {
  TShutdownWhenFinished finish(nullptr);
  finish.SetShutdown(true, smPoweroff);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(finish.Tick(false), TShutdownWhenFinished::swWaiting);
  EXPECT_EQ(finish.Dialog(), nullptr);
  EXPECT_EQ(finish.Tick(true), TShutdownWhenFinished::swWaiting);  // the countdown appears
  ASSERT_NE(finish.Dialog(), nullptr);
  EXPECT_TRUE(finish.Dialog()->Text().startsWith("The computer will"));
  for (int i = 0; i < 10; ++i) finish.Tick(true);
  finish.Tick(false);  // new work: the countdown goes away and starts again later
  EXPECT_EQ(finish.Dialog(), nullptr);
  int ticks = 0;
  TShutdownWhenFinished::TStep step = TShutdownWhenFinished::swWaiting;
  while (step == TShutdownWhenFinished::swWaiting && ticks < 100) {
    step = finish.Tick(true);
    ++ticks;
  }
  EXPECT_EQ(step, TShutdownWhenFinished::swShutDown);
  EXPECT_EQ(ticks, 1 + TShutdownWhenFinished::kCountdownTicks);
}

}  // namespace
}  // namespace zev::ui
