#include "ui/ResetScheduleBox.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTime>

#include "core/Format.h"
#include "core/Intl.h"
#include "db/ResetSchedule.h"
#include "db/ServerFlags.h"

namespace zev::ui {
namespace {

QString T(const char* text) { return QString::fromUtf8(Tr(text)); }

constexpr int kMaxLimitMB = 2097151;

QString Ordinal(int n) {
  const char* suffix = "th";
  if (n % 100 < 11 || n % 100 > 13) {
    if (n % 10 == 1) suffix = "st";
    else if (n % 10 == 2) suffix = "nd";
    else if (n % 10 == 3) suffix = "rd";
  }
  return QString::number(n) + QLatin1String(suffix);
}

QString SizeText(uint64_t bytes) { return QString::fromStdString(FormatSizeKB(bytes / 1024)); }

}  // namespace

TResetScheduleBox::TResetScheduleBox(TPeriod period, QWidget* parent) : QGroupBox(parent), period_(period) {
  const bool daily = period == Daily;
  setTitle(daily ? T("Settings for the \"Today\" column") : T("Settings for the \"Month\" column"));
  mode_ = new QComboBox(this);
  for (const char* m : {"Never", "Hour", "Day", "Week", "Month", "Year"}) mode_->addItem(T(m));
  day_ = new QComboBox(this);
  time_ = new QComboBox(this);
  total_ = new QLabel(this);
  bodies_ = new QLabel(this);
  reset_ = new QPushButton(T("Reset Now"), this);
  showTotal_ = new QRadioButton(T("total"), this);
  showArticles_ = new QRadioButton(T("articles"), this);
  showHeaders_ = new QRadioButton(T("headers (in the column)"), this);
  auto* showGroup = new QButtonGroup(this);
  for (QRadioButton* r : {showTotal_, showArticles_, showHeaders_}) showGroup->addButton(r);
  limited_ = new QCheckBox(daily ? T("Limit daily download total to") : T("Limit monthly download total to"), this);
  limitMB_ = new QSpinBox(this);
  limitMB_->setRange(0, kMaxLimitMB);
  limitMB_->setSuffix(T(" MB"));

  auto* schedule = new QHBoxLayout;
  schedule->addWidget(new QLabel(daily ? T("Automatically reset the cumulative \"Today\" amounts every")
                                       : T("Automatically reset the cumulative \"Month\" amounts every"),
                                 this));
  schedule->addWidget(mode_);
  schedule->addWidget(new QLabel(T("on the"), this));
  schedule->addWidget(day_, 1);
  schedule->addWidget(new QLabel(T("at"), this));
  schedule->addWidget(time_, 1);
  auto* totals = new QGridLayout;
  totals->addWidget(new QLabel(daily ? T("Current total for today:") : T("Current total for month:"), this), 0, 0);
  totals->addWidget(total_, 0, 1);
  totals->addWidget(new QLabel(T("of which articles:"), this), 0, 2);
  totals->addWidget(bodies_, 0, 3);
  totals->addWidget(reset_, 0, 4);
  totals->setColumnStretch(1, 1);
  totals->setColumnStretch(3, 1);
  auto* show = new QHBoxLayout;
  show->addWidget(new QLabel(T("Show"), this));
  for (QRadioButton* r : {showTotal_, showArticles_, showHeaders_}) show->addWidget(r);
  show->addStretch(1);
  auto* limit = new QHBoxLayout;
  limit->addWidget(limited_);
  limit->addWidget(limitMB_);
  limit->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(schedule);
  layout->addLayout(totals);
  layout->addLayout(show);
  layout->addLayout(limit);

  connect(mode_, &QComboBox::currentIndexChanged, this, [this] {
    FillDays();
    if (mode_->currentIndex() <= static_cast<int>(rmHour)) time_->setCurrentIndex(-1);
    else if (time_->currentIndex() < 0) time_->setCurrentIndex(0);
    UpdateEnabled();
    emit Changed();
  });
  for (QComboBox* c : {day_, time_}) connect(c, &QComboBox::activated, this, &TResetScheduleBox::Changed);
  for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{showTotal_, showArticles_, showHeaders_, limited_})
    connect(b, &QAbstractButton::toggled, this, [this] {
      UpdateEnabled();
      emit Changed();
    });
  connect(limitMB_, &QSpinBox::valueChanged, this, &TResetScheduleBox::Changed);
  connect(reset_, &QPushButton::clicked, this, &TResetScheduleBox::ResetRequested);
}

void TResetScheduleBox::FillDays() {
  const int keep = day_->currentIndex();
  day_->clear();
  switch (mode_->currentIndex()) {
    case rmWeek:
      for (const char* d : {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"})
        day_->addItem(T(d));
      break;
    case rmMonth:
      for (int d = 1; d <= 31; ++d) day_->addItem(Ordinal(d));
      break;
    case rmYear:
      for (int d = 1; d <= 366; ++d) day_->addItem(T("Day ") + QString::number(d));
      break;
    default: break;
  }
  day_->setCurrentIndex(keep < day_->count() ? keep : -1);
}

// Whole hours, as the system writes a time; a stored time between the hours keeps an
// entry of its own so that opening and applying the dialog never changes it.
void TResetScheduleBox::FillTimes(uint32_t seconds) {
  time_->clear();
  for (int h = 0; h < 24; ++h) {
    QString text = h == 0    ? T("Midnight")
                   : h == 12 ? T("Noon")
                             : QLocale::system().toString(QTime(h, 0), QLocale::ShortFormat);
    time_->addItem(text, h * 3600);
  }
  int index = time_->findData(seconds);
  if (index < 0 && seconds < 86400) {
    time_->addItem(QLocale::system().toString(QTime(0, 0).addSecs(seconds), QLocale::ShortFormat), seconds);
    index = time_->count() - 1;
  }
  time_->setCurrentIndex(index);
}

void TResetScheduleBox::Load(const TPeriodTotals& totals) {
  const FResetSchedule s = UnpackSchedule(totals.Reset.load());
  const QSignalBlocker block(mode_);
  mode_->setCurrentIndex(s.mode <= rmYear ? static_cast<int>(s.mode) : 0);
  FillDays();
  day_->setCurrentIndex(static_cast<int>(s.day) - 1 < day_->count() ? static_cast<int>(s.day) - 1 : -1);
  FillTimes(s.seconds);
  if (s.mode <= rmHour) time_->setCurrentIndex(-1);
  ShowTotals(totals.Total.load(), totals.Bodies.load());
  showTotal_->setChecked(true);
  limitMB_->setValue(static_cast<int>(std::min<uint64_t>(totals.Limit.load() / 1048576, kMaxLimitMB)));
  UpdateEnabled();
}

void TResetScheduleBox::ShowTotals(uint64_t totalBytes, uint64_t bodyBytes) {
  total_->setText(totalBytes ? SizeText(totalBytes) : QStringLiteral("0"));
  bodies_->setText(bodyBytes ? SizeText(bodyBytes) : QStringLiteral("0"));
}

uint32_t TResetScheduleBox::Schedule() const {
  FResetSchedule s;
  s.mode = static_cast<uint32_t>(std::max(0, mode_->currentIndex()));
  s.day = day_->isEnabled() && day_->currentIndex() >= 0 ? static_cast<uint32_t>(day_->currentIndex() + 1) : 1;
  s.seconds = time_->currentIndex() >= 0 ? time_->currentData().toUInt() : 0;
  return PackSchedule(s);
}

uint64_t TResetScheduleBox::LimitBytes() const { return static_cast<uint64_t>(limitMB_->value()) * 1048576; }

std::vector<std::pair<QAbstractButton*, int>> TResetScheduleBox::FlagButtons() const {
  const bool daily = period_ == Daily;
  return {{showArticles_, daily ? sfDailyShowArticles : sfMonthlyShowArticles},
          {showHeaders_, daily ? sfDailyShowHeaders : sfMonthlyShowHeaders},
          {limited_, daily ? sfDailyLimit : sfMonthlyLimit}};
}

void TResetScheduleBox::UpdateEnabled() {
  const int mode = mode_->currentIndex();
  day_->setEnabled(mode >= static_cast<int>(rmWeek));
  time_->setEnabled(mode >= static_cast<int>(rmDay));
  limitMB_->setEnabled(limited_->isChecked() && limited_->isEnabled());
}

}  // namespace zev::ui
