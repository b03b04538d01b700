#include "platform/gui/date_time_picker.h"

#include <QTimeEdit>
#include <cmath>

#include "platform/gui/qt_convert.h"
#include "platform/rtl/numbers.h"

namespace jw {

TDateTimePicker::TDateTimePicker(TComponent* owner) : TWinControl(owner), time_(Frac(jw::Now())) {
  SetBounds(0, 0, 186, 21);
}

void TDateTimePicker::SetTime(TDateTime time) {
  time_ = std::fabs(Frac(time));
  if (!HandleAllocated()) return;
  const QSignalBlocker quiet(Handle());
  static_cast<QTimeEdit*>(Handle())->setTime(ToQTime(time_));
}

std::unique_ptr<QWidget> TDateTimePicker::CreateWidget(const TCreateParams& params) {
  QWidget* parent = params.WndParent != nullptr ? params.WndParent->Handle() : nullptr;
  auto edit = std::make_unique<QTimeEdit>(ToQTime(time_), parent);
  edit->setDisplayFormat("HH:mm:ss");
  QObject::connect(edit.get(), &QTimeEdit::timeChanged,
                   [this](const QTime& time) { time_ = FromQTime(time); });
  return edit;
}

}  // namespace jw
