// The question dialog: which key gives which answer in each mode, what Esc means, and
// its size.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>

#include "ui/QueryDlg.h"

namespace zev::ui {
namespace {

struct FKeyCase {
  const char* name;
  int options;
  int key;
  Qt::KeyboardModifiers modifiers;
  int answer;  // 0: the key does nothing, the dialog stays
};

class QueryDlgKeys : public ::testing::TestWithParam<FKeyCase> {};

TEST_P(QueryDlgKeys, AnswerOrNothing) {
  const FKeyCase& c = GetParam();
  TfrmQueryDlg dialog(QStringLiteral("Go on?"), c.options, anYes);
  dialog.show();
  QTest::keyClick(&dialog, static_cast<Qt::Key>(c.key), c.modifiers);
  if (c.answer) {
    EXPECT_EQ(dialog.result(), c.answer);
    EXPECT_FALSE(dialog.isVisible());
  } else {
    EXPECT_EQ(dialog.result(), 0);
    EXPECT_TRUE(dialog.isVisible());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, QueryDlgKeys,
    ::testing::Values(FKeyCase{"YesInConfirmation", 0, Qt::Key_Y, Qt::NoModifier, anYes},
                      FKeyCase{"NoInConfirmation", 0, Qt::Key_N, Qt::NoModifier, anNo},
                      FKeyCase{"RetryIgnoredInConfirmation", 0, Qt::Key_R, Qt::NoModifier, 0},
                      FKeyCase{"EscWithoutCancelIsNo", 0, Qt::Key_Escape, Qt::NoModifier, anNo},
                      FKeyCase{"EscWithCancelIsCancel", qoCancel, Qt::Key_Escape, Qt::NoModifier, anCancel},
                      FKeyCase{"RetryInErrorMode", qoError, Qt::Key_R, Qt::NoModifier, anRetry},
                      FKeyCase{"IgnoreInErrorMode", qoError, Qt::Key_I, Qt::NoModifier, anIgnore},
                      FKeyCase{"YesIgnoredInErrorMode", qoError, Qt::Key_Y, Qt::NoModifier, 0},
                      FKeyCase{"EscWithoutCancelIsIgnore", qoError, Qt::Key_Escape, Qt::NoModifier, anIgnore},
                      FKeyCase{"EscInErrorModeWithCancel", qoError | qoCancel, Qt::Key_Escape, Qt::NoModifier,
                               anCancel}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(QueryDlg, DefaultButtonHasTheFocusAndEnterAnswersIt) {
  struct FCase {
    int options, defaultButton, expected;
  } cases[] = {{0, anYes, anYes}, {0, anNo, anNo}, {qoCancel, anCancel, anCancel},
               {qoError, anIgnore, anIgnore}, {0, anCancel, anYes}};  // a disabled Cancel cannot be the default
  for (const FCase& c : cases) {
    TfrmQueryDlg dialog(QStringLiteral("Go on?"), c.options, c.defaultButton);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    QTest::keyClick(&dialog, Qt::Key_Return);
    EXPECT_EQ(dialog.result(), c.expected) << "options " << c.options << " default " << c.defaultButton;
  }
}

TEST(QueryDlg, CancelAndRememberFollowTheOptions) {
  TfrmQueryDlg plain(QStringLiteral("Go on?"), 0, anYes);
  EXPECT_FALSE(plain.Button(2)->isEnabled());
  TfrmQueryDlg full(QStringLiteral("Go on?"), qoCancel | qoRemember, anYes);
  EXPECT_TRUE(full.Button(2)->isEnabled());
  full.SetRemember(true);
  EXPECT_TRUE(full.Remember());
  EXPECT_EQ(full.windowTitle(), QStringLiteral("Confirmation"));
  TfrmQueryDlg error(QStringLiteral("Failed."), qoError, anRetry);
  EXPECT_EQ(error.windowTitle(), QStringLiteral("Error"));
  EXPECT_EQ(error.Button(0)->text(), QStringLiteral("&Retry"));
}

TEST(QueryDlg, NeverNarrowerThan400AndLongTextWraps) {
  TfrmQueryDlg shortText(QStringLiteral("Ok?"), 0, anYes);
  shortText.show();
  EXPECT_GE(shortText.width(), 400);
  const QString longText = QString("All work and no play makes Jack a dull boy. ").repeated(20);
  TfrmQueryDlg longDialog(longText, 0, anYes);
  longDialog.show();
  EXPECT_LT(longDialog.width(), QFontMetrics(longDialog.font()).horizontalAdvance(longText));
  EXPECT_GE(longDialog.width(), 400);
}

}  // namespace
}  // namespace zev::ui
