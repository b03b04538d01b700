#include "app/alarm_form.h"

#include <cmath>
#include <iterator>
#include <memory>
#include <tuple>

#include "app/alarm_scheduler.h"
#include "app/dialog_layout.h"
#include "platform/gui/application.h"
#include "platform/gui/dialogs.h"
#include "platform/rtl/numbers.h"

namespace jw {

namespace {

enum TAlarmStatus { kDisabled = 0, kEnabled = 1 };

// Values the dialog reads as a daily time of day lie above 0 and below this.
constexpr double kDailyBelow = 1.0001;
// A daily alarm at midnight would be the value 0, which means no alarm; it
// is kept a millisecond later.
constexpr double kMidnightDaily = 1.0 / kMSecsPerDay;
// Days per unit of UnitRG's items.
constexpr double kUnitDays[] = {1.0 / kSecsPerDay, 1.0 / kMinsPerDay, 1.0 / kHoursPerDay, 1.0};

}  // namespace

TAlarmForm::TAlarmForm(TComponent* owner) : TForm(owner) {
  SetUpDialog(*this, "Alarm Setting Dialog", TFormBorderStyle::bsDialog, TPosition::poScreenCenter,
              329, 337);

  StatusRG = PlaceControl<TRadioGroup>(this, this, 8, 8, 313, 45, "Alarm Status");
  StatusRG->SetColumns(2);
  StatusRG->Items().Add("Disabled");
  StatusRG->Items().Add("Enabled");
  PageControl1 = PlaceControl<TPageControl>(this, this, 8, 60, 313, 236);

  TabSheet1 = AddSheet(PageControl1, this, "Date/Time");
  MonthCalendar1 = PlaceControl<TMonthCalendar>(this, TabSheet1, 8, 4, 225, 160);
  Label1 = PlaceControl<TLabel>(this, TabSheet1, 8, 176, 36, 17, "Time: ");
  DateTimePicker1 = PlaceControl<TDateTimePicker>(this, TabSheet1, 48, 172, 97, 23);
  EveryDayCB = PlaceControl<TCheckBox>(this, TabSheet1, 160, 174, 97, 19, "Every day");

  TabSheet2 = AddSheet(PageControl1, this, "Timer");
  Label2 = PlaceControl<TLabel>(this, TabSheet2, 8, 20, 140, 17, "Set alarm to go off in ");
  QuantitySpin = PlaceControl<TKitSpinEdit>(this, TabSheet2, 152, 16, 73, 23);
  QuantitySpin->SetLineSize(10);
  QuantitySpin->SetMaxValue(1000);
  QuantitySpin->SetValue(10);
  UnitRG = PlaceControl<TRadioGroup>(this, TabSheet2, 8, 52, 217, 120);
  for (const char* unit : {"Seconds", "Minutes", "Hours", "Days"}) UnitRG->Items().Add(unit);
  UnitRG->SetItemIndex(0);

  std::tie(OKBtn, CancelBtn) = PlaceOkCancel(this, this, 86, 168, 304);
  OnCloseQuery = [this](TPersistent* sender, bool& can_close) {
    FormCloseQuery(sender, can_close);
  };
}

void TAlarmForm::ShowAlarm(TDateTime alarm) {
  const bool daily = alarm > 0 && alarm < kDailyBelow;
  StatusRG->SetItemIndex(alarm != 0 ? kEnabled : kDisabled);
  EveryDayCB->SetChecked(daily);
  if (alarm == 0) {
    MonthCalendar1->SetDate(Date());
    DateTimePicker1->SetTime(Now());
  } else {
    MonthCalendar1->SetDate(daily ? Date() : std::trunc(alarm));
    DateTimePicker1->SetTime(Frac(alarm));
  }
  PageControl1->SetActivePage(TabSheet1);
}

TDateTime TAlarmForm::ChosenAlarm() {
  if (StatusRG->ItemIndex() != kEnabled) return 0;
  if (PageControl1->ActivePage() == TabSheet2) {
    const int unit = UnitRG->ItemIndex();
    const double days = unit >= 0 && unit < int(std::size(kUnitDays)) ? kUnitDays[unit] : 0;
    return Now() + QuantitySpin->CheckValue(QuantitySpin->Value()) * days;
  }
  const TDateTime time = DateTimePicker1->Time();
  if (!EveryDayCB->Checked()) return std::trunc(MonthCalendar1->Date()) + time;
  return time > 0 ? time : kMidnightDaily;
}

void TAlarmForm::FormCloseQuery(TPersistent*, bool& can_close) {
  if (ModalResult() != mrOk || AlarmStorable(ChosenAlarm())) return;
  ShowMessage(kAlarmOutsideCalendar);
  can_close = false;
}

void EditAlarm(TDateTime& alarm) {
  const std::unique_ptr<TAlarmForm> form(MakeForm<TAlarmForm>(Application));
  form->ShowAlarm(alarm);
  if (Dialogs().ShowModal(*form) != mrOk) return;
  // The clock moves on between the dialog's check and this reading.
  const TDateTime chosen = form->ChosenAlarm();
  if (AlarmStorable(chosen)) alarm = chosen;
}

}  // namespace jw
