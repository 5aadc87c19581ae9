#pragma once
// The About window: picture, title, version and credits.
#include <QDialog>

namespace zev::ui {

class TfrmAbout : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmAbout(QWidget* parent = nullptr);
};

}  // namespace zev::ui
