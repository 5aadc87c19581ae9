#pragma once
// "Close when finished" and "Shut down the computer when finished": once all work is done,
// a countdown of 30 timer ticks (15 seconds) that the user can cancel or cut short.
#include <QPointer>
#include <cstdint>

#include "ui/Shutdown.h"

namespace zev::ui {

class TShutdownWhenFinished {
 public:
  static constexpr int kCountdownTicks = 30;
  enum TStep { swWaiting, swCancelled, swShutDown };

  explicit TShutdownWhenFinished(QWidget* parent) : parent_(parent) {}
  ~TShutdownWhenFinished();

  bool Close() const { return close_; }
  bool Shutdown() const { return shutdown_; }
  uint8_t Method() const { return method_; }
  // Unchecking "close" unchecks "shut down" too.
  void SetClose(bool on);
  // Checking "shut down" checks "close" too and takes the configured method.
  void SetShutdown(bool on, uint8_t method);

  // One timer tick while "close" is checked. `workDone`: nothing is queued and no
  // connection works.
  TStep Tick(bool workDone);
  TfrmShutdown* Dialog() const { return dialog_.data(); }

 private:
  void CloseDialog();

  QWidget* parent_;
  QPointer<TfrmShutdown> dialog_;
  bool close_ = false;
  bool shutdown_ = false;
  uint8_t method_ = 0;
};

}  // namespace zev::ui
