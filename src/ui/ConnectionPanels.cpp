#include "ui/ConnectionPanels.h"

#include <QPainter>
#include <QStyleOption>

namespace zev::ui {

TConnectionPanels::TConnectionPanels(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void TConnectionPanels::SetPanels(std::vector<FPanel> panels) {
  bool same = panels.size() == panels_.size();
  for (size_t i = 0; same && i < panels.size(); ++i)
    same = panels[i].text == panels_[i].text && panels[i].background == panels_[i].background;
  if (same) return;
  panels_ = std::move(panels);
  update();
}

QSize TConnectionPanels::sizeHint() const { return {100, fontMetrics().height() + 4}; }

void TConnectionPanels::paintEvent(QPaintEvent*) {
  if (panels_.empty()) return;
  QPainter p(this);
  const int n = static_cast<int>(panels_.size());
  const int gap = 3;
  const int width = (this->width() - gap * (n - 1)) / n;
  for (int i = 0; i < n; ++i) {
    const FPanel& panel = panels_[i];
    const QRect cell(i * (width + gap), 1, width, height() - 2);
    QColor text = palette().color(QPalette::WindowText);
    if (panel.coloured) {
      p.fillRect(cell, QColor::fromRgb(panel.background));
      text = QColor::fromRgb(panel.foreground);
    } else {
      p.setPen(palette().color(QPalette::Mid));
      p.drawRect(cell.adjusted(0, 0, -1, -1));
    }
    p.setPen(text);
    const QRect inner = cell.adjusted(4, 0, -4, 0);
    p.drawText(inner, Qt::AlignVCenter | Qt::AlignLeft,
               fontMetrics().elidedText(QString::fromStdString(panel.text), Qt::ElideRight, inner.width()));
  }
}

}  // namespace zev::ui
