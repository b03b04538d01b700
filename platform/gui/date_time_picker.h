// TDateTimePicker: an edit of a time of day in hours, minutes and seconds,
// the one kind of date-time picker this system shows.
#pragma once

#include <memory>

#include "platform/gui/controls.h"
#include "platform/rtl/date_time.h"

namespace jw {

class TDateTimePicker : public TWinControl {
 public:
  // Shows the current time until told otherwise.
  explicit TDateTimePicker(TComponent* owner);

  // The time of day: a fraction of a day.
  TDateTime Time() const { return time_; }
  void SetTime(TDateTime time);

 protected:
  std::unique_ptr<QWidget> CreateWidget(const TCreateParams& params) override;

 private:
  TDateTime time_;
};

}  // namespace jw
