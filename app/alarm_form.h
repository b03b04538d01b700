// TAlarmForm: the dialog that edits a note's alarm, either a date and time
// (once, or the time every day) or a span from now; and EditAlarm, which
// runs it on an alarm value.
#pragma once

#include "components/spin_edit.h"
#include "platform/gui/buttons.h"
#include "platform/gui/date_time_picker.h"
#include "platform/gui/forms.h"
#include "platform/gui/month_calendar.h"
#include "platform/gui/page_control.h"
#include "platform/gui/radio_group.h"
#include "platform/gui/std_controls.h"
#include "platform/rtl/date_time.h"

namespace jw {

class TAlarmForm : public TForm {
 public:
  explicit TAlarmForm(TComponent* owner);

  TRadioGroup* StatusRG;  // "Disabled", "Enabled"
  TPageControl* PageControl1;
  TTabSheet* TabSheet1;  // "Date/Time"
  TMonthCalendar* MonthCalendar1;
  TLabel* Label1;
  TDateTimePicker* DateTimePicker1;
  TCheckBox* EveryDayCB;
  TTabSheet* TabSheet2;  // "Timer"
  TLabel* Label2;
  TKitSpinEdit* QuantitySpin;
  TRadioGroup* UnitRG;  // "Seconds", "Minutes", "Hours", "Days"
  TButton* OKBtn;
  TButton* CancelBtn;

  // Sets the controls from an alarm value (0 for none), with the
  // "Date/Time" page active.
  void ShowAlarm(TDateTime alarm);
  // The alarm value the controls describe; the quantity is kept within the
  // spin's limits.
  TDateTime ChosenAlarm();
  // OK is refused, with a message, for an alarm outside the calendar.
  void FormCloseQuery(TPersistent* sender, bool& can_close);
};

inline constexpr char kAlarmOutsideCalendar[] =
    "The alarm would fall outside the calendar (years 1 to 9999).";

// Runs the alarm dialog on alarm; changes it only when OK is pressed, and
// never to a value the notes table cannot hold.
void EditAlarm(TDateTime& alarm);

}  // namespace jw
