#pragma once
// The status bar's panels of the active connections, side by side in the width left over,
// each coloured by its state as the configuration asks.
#include <QWidget>
#include <vector>

#include "ui/StatusTexts.h"

namespace zev::ui {

class TConnectionPanels : public QWidget {
  Q_OBJECT
 public:
  explicit TConnectionPanels(QWidget* parent = nullptr);
  void SetPanels(std::vector<FPanel> panels);
  const std::vector<FPanel>& Panels() const { return panels_; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<FPanel> panels_;
};

}  // namespace zev::ui
