#pragma once
#include <QSplashScreen>

namespace zev::ui {

// The window shown while the program starts: product title, version and a status line.
class TfrmSplash : public QSplashScreen {
 public:
  TfrmSplash();
  void SetStatus(const QString& text);
};

}  // namespace zev::ui
