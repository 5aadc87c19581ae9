#include "ui/PageKeys.h"

#include <QKeyEvent>
#include <QTabWidget>

namespace zev::ui {

bool TurnPageByKey(QTabWidget& pages, const QKeyEvent& event) {
  if (!(event.modifiers() & Qt::ControlModifier) || (event.key() != Qt::Key_Tab && event.key() != Qt::Key_Backtab))
    return false;
  const int n = pages.count();
  if (n == 0) return false;
  const int step = event.key() == Qt::Key_Backtab || event.modifiers() & Qt::ShiftModifier ? n - 1 : 1;
  pages.setCurrentIndex((pages.currentIndex() + step) % n);
  return true;
}

}  // namespace zev::ui
