#include "app/alarm_form.h"

#include <cmath>
#include <iterator>
#include <memory>

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
  SetCaption("Alarm Setting Dialog");
  SetBorderStyle(TFormBorderStyle::bsDialog);
  SetPosition(TPosition::poScreenCenter);
  SetClientWidth(329);
  SetClientHeight(337);

  StatusRG = AddControl<TRadioGroup>(this, "StatusRG", 8, 8, 313, 45);
  StatusRG->SetCaption("Alarm Status");
  StatusRG->SetColumns(2);
  StatusRG->Items().Add("Disabled");
  StatusRG->Items().Add("Enabled");
  PageControl1 = AddControl<TPageControl>(this, "PageControl1", 8, 60, 313, 236);

  TabSheet1 = AddPage("TabSheet1", "Date/Time");
  MonthCalendar1 = AddControl<TMonthCalendar>(TabSheet1, "MonthCalendar1", 8, 4, 225, 160);
  Label1 = AddControl<TLabel>(TabSheet1, "Label1", 8, 176, 36, 17);
  Label1->SetCaption("Time: ");
  DateTimePicker1 = AddControl<TDateTimePicker>(TabSheet1, "DateTimePicker1", 48, 172, 97, 23);
  EveryDayCB = AddControl<TCheckBox>(TabSheet1, "EveryDayCB", 160, 174, 97, 19);
  EveryDayCB->SetCaption("Every day");

  TabSheet2 = AddPage("TabSheet2", "Timer");
  Label2 = AddControl<TLabel>(TabSheet2, "Label2", 8, 20, 140, 17);
  Label2->SetCaption("Set alarm to go off in ");
  QuantitySpin = AddControl<TKitSpinEdit>(TabSheet2, "QuantitySpin", 152, 16, 73, 23);
  QuantitySpin->SetLineSize(10);
  QuantitySpin->SetMaxValue(1000);
  QuantitySpin->SetValue(10);
  UnitRG = AddControl<TRadioGroup>(TabSheet2, "UnitRG", 8, 52, 217, 120);
  for (const char* unit : {"Seconds", "Minutes", "Hours", "Days"}) UnitRG->Items().Add(unit);
  UnitRG->SetItemIndex(0);

  OKBtn = AddControl<TButton>(this, "OKBtn", 86, 304, 75, 25);
  OKBtn->SetCaption("OK");
  OKBtn->SetModalResult(mrOk);
  OKBtn->SetDefault(true);
  CancelBtn = AddControl<TButton>(this, "CancelBtn", 168, 304, 75, 25);
  CancelBtn->SetCaption("Cancel");
  CancelBtn->SetModalResult(mrCancel);
  CancelBtn->SetCancel(true);
}

TTabSheet* TAlarmForm::AddPage(const std::string& name, const std::string& caption) {
  auto* page = new TTabSheet(this);
  page->SetName(name);
  page->SetPageControl(PageControl1);
  page->SetCaption(caption);
  return page;
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
    return Now() + QuantitySpin->Value() * days;
  }
  const TDateTime time = DateTimePicker1->Time();
  if (!EveryDayCB->Checked()) return std::trunc(MonthCalendar1->Date()) + time;
  return time > 0 ? time : kMidnightDaily;
}

void EditAlarm(TDateTime& alarm) {
  const std::unique_ptr<TAlarmForm> form(MakeForm<TAlarmForm>(Application));
  form->ShowAlarm(alarm);
  if (Dialogs().ShowModal(*form) == mrOk) alarm = form->ChosenAlarm();
}

}  // namespace jw
