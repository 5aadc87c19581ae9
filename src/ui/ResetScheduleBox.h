#pragma once
// One box of the server dialog's "Statistics" page: when the "Today" (or "Month") totals
// start again, what they stand at, what the tree column shows, and the download limit.
#include <QGroupBox>
#include <cstdint>
#include <utility>
#include <vector>

#include "db/PeriodTotals.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace zev::ui {

class TResetScheduleBox : public QGroupBox {
  Q_OBJECT
 public:
  enum TPeriod { Daily, Monthly };
  TResetScheduleBox(TPeriod period, QWidget* parent = nullptr);

  void Load(const TPeriodTotals& totals);
  void ShowTotals(uint64_t totalBytes, uint64_t bodyBytes);
  // The packed schedule as chosen (no day chosen counts as day 1).
  uint32_t Schedule() const;
  uint64_t LimitBytes() const;
  // The check boxes and radio buttons that stand for server flag bits.
  std::vector<std::pair<QAbstractButton*, int>> FlagButtons() const;
  void UpdateEnabled();

  QComboBox* ModeBox() const { return mode_; }
  QComboBox* DayBox() const { return day_; }
  QComboBox* TimeBox() const { return time_; }
  QLabel* TotalLabel() const { return total_; }
  QPushButton* ResetButton() const { return reset_; }

 signals:
  void Changed();
  void ResetRequested();

 private:
  void FillDays();
  void FillTimes(uint32_t seconds);

  TPeriod period_;
  QComboBox* mode_;
  QComboBox* day_;
  QComboBox* time_;
  QLabel* total_;
  QLabel* bodies_;
  QPushButton* reset_;
  QRadioButton* showTotal_;
  QRadioButton* showArticles_;
  QRadioButton* showHeaders_;
  QCheckBox* limited_;
  QSpinBox* limitMB_;
};

}  // namespace zev::ui
