#include "platform/gui/month_calendar.h"

#include <QCalendarWidget>
#include <cmath>

#include "platform/gui/qt_convert.h"

namespace jw {

TMonthCalendar::TMonthCalendar(TComponent* owner) : TWinControl(owner), date_(jw::Date()) {
  SetBounds(0, 0, 225, 160);
}

void TMonthCalendar::SetDate(TDateTime date) {
  date_ = std::trunc(date);
  if (!HandleAllocated()) return;
  const QSignalBlocker quiet(Handle());
  static_cast<QCalendarWidget*>(Handle())->setSelectedDate(ToQDate(date_));
}

std::unique_ptr<QWidget> TMonthCalendar::CreateWidget(const TCreateParams& params) {
  QWidget* parent = params.WndParent != nullptr ? params.WndParent->Handle() : nullptr;
  auto calendar = std::make_unique<QCalendarWidget>(parent);
  calendar->setSelectedDate(ToQDate(date_));
  QObject::connect(calendar.get(), &QCalendarWidget::selectionChanged,
                   [this, widget = calendar.get()] { date_ = FromQDate(widget->selectedDate()); });
  return calendar;
}

}  // namespace jw
