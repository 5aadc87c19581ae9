#pragma once
// Ctrl+Tab and Ctrl+Shift+Tab turn the pages of a dialog's page control wherever the focus
// is in the dialog (the control itself turns them only while it holds the focus).
class QKeyEvent;
class QTabWidget;

namespace zev::ui {

// True when the key was one of them and the page was turned.
bool TurnPageByKey(QTabWidget& pages, const QKeyEvent& event);

}  // namespace zev::ui
