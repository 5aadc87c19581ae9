#pragma once
#include <QSplashScreen>

namespace zev::ui {

// The window shown while the program starts: product title, version and a status line.
class TfrmSplash : public QSplashScreen {
 public:
  TfrmSplash();
  // Shows the text in the status line and repaints at once (start-up blocks the loop).
  void SetStatus(const QString& text);
};

}  // namespace zev::ui
