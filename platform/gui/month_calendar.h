// TMonthCalendar: a month's page of days from which the user picks a date.
#pragma once

#include <memory>

#include "platform/gui/controls.h"
#include "platform/rtl/date_time.h"

namespace jw {

class TMonthCalendar : public TWinControl {
 public:
  // Shows today until told otherwise.
  explicit TMonthCalendar(TComponent* owner);

  // The chosen day: whole days, no time.
  TDateTime Date() const { return date_; }
  void SetDate(TDateTime date);

 protected:
  std::unique_ptr<QWidget> CreateWidget(const TCreateParams& params) override;

 private:
  TDateTime date_;
};

}  // namespace jw
