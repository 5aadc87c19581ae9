// The Queue page: its selection, the score and delete commands and the grid's keys.
#include <QHeaderView>
#include <QInputDialog>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QTableView>
#include <algorithm>

#include "core/Intl.h"
#include "nntp/IdleTicks.h"
#include "ui/EngineLink.h"
#include "ui/Main.h"
#include "ui/ModalRunner.h"
#include "ui/QueueModel.h"
#include "ui/ShutdownWhenFinished.h"

namespace zev::ui {

std::vector<const void*> TfrmMain::SelectedQueueItems() const {
  std::vector<const void*> items;
  if (!drgQueue->selectionModel()) return items;
  for (const QModelIndex& index : drgQueue->selectionModel()->selectedRows())
    if (const void* item = queueModel_->ItemAt(index.row())) items.push_back(item);
  return items;
}

void TfrmMain::QueueScore() {
  const std::vector<const void*> items = SelectedQueueItems();
  if (items.empty()) return;
  const int row = drgQueue->currentIndex().isValid() ? drgQueue->currentIndex().row() : -1;
  QInputDialog dialog(this);
  dialog.setWindowTitle(QString::fromUtf8(Tr("Score")));
  dialog.setLabelText(QString::fromUtf8(Tr("Score of the selected items:")));
  dialog.setInputMode(QInputDialog::IntInput);
  dialog.setIntRange(-128, 127);
  dialog.setIntValue(row >= 0 && row < static_cast<int>(queueModel_->Rows().size()) ? queueModel_->Rows()[row].score
                                                                                      : 0);
  if (ExecModal(dialog) != QDialog::Accepted) return;
  ScoreQueueItems(items, dialog.intValue(), false);
  ShowQueue(true);
}

void TfrmMain::QueueDelete() {
  DeleteQueueItems(SelectedQueueItems());
  ShowQueue(true);
}

// "+" and "-" change the score by 1 (10 with Ctrl), Ctrl+Shift+"=" adds 10, a digit sets
// it (negative with Ctrl); Delete removes, "S" opens the score editor.
bool TfrmMain::QueueKey(QKeyEvent* event) {
  const auto mods = event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
  const bool ctrl = mods & Qt::ControlModifier;
  const int key = event->key();
  const std::vector<const void*> items = SelectedQueueItems();
  auto score = [&](int value, bool relative) {
    ScoreQueueItems(items, value, relative);
    ShowQueue(true);
    return true;
  };
  if (key == Qt::Key_Delete && !mods) {
    QueueDelete();
    return true;
  }
  if (items.empty()) return false;
  if (key == Qt::Key_Plus && !(mods & Qt::AltModifier)) return score(ctrl ? 10 : 1, true);
  if (key == Qt::Key_Minus && !(mods & ~Qt::ControlModifier)) return score(ctrl ? -10 : -1, true);
  if (key == Qt::Key_Equal && mods == (Qt::ControlModifier | Qt::ShiftModifier)) return score(10, true);
  if (key >= Qt::Key_0 && key <= Qt::Key_9 && (!mods || mods == Qt::ControlModifier))
    return score(ctrl ? -(key - Qt::Key_0) : key - Qt::Key_0, false);
  if (key == Qt::Key_S && !mods) {
    QueueScore();
    return true;
  }
  return false;
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
  // The user at work keeps "when finished" from counting the program idle, until the
  // countdown is on screen.
  const QEvent::Type type = event->type();
  if ((type == QEvent::KeyPress || type == QEvent::MouseButtonPress || type == QEvent::Wheel) && !finish_->Dialog())
    gIdleTicks = 0;
  if (watched == drgQueue && event->type() == QEvent::KeyPress && QueueKey(static_cast<QKeyEvent*>(event)))
    return true;
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace zev::ui
