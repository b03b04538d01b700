#include "app/alarm_form.h"

#include <cmath>
#include <memory>

#include "platform/gui/application.h"
#include "platform/gui/dialogs.h"

namespace jw {

namespace {

enum TAlarmStatus { kDisabled = 0, kEnabled = 1 };

// Values the dialog reads as a daily time of day lie above 0 and below this.
constexpr double kDailyBelow = 1.0001;
// A daily alarm at midnight would be the value 0, which means no alarm; it
// is kept a millisecond later.
constexpr double kMidnightDaily = 1.0 / 86400000;
// Days per unit of UnitRG's items.
constexpr double kUnitDays[] = {1.0 / 86400, 1.0 / 1440, 1.0 / 24, 1.0};

double TimeOfDay(TDateTime value) {
  return value - std::trunc(value);
}

}  // namespace

TAlarmForm::TAlarmForm(TComponent* owner) : TForm(owner) {
  SetCaption("Alarm Setting Dialog");
  SetBorderStyle(TFormBorderStyle::bsDialog);
  SetPosition(TPosition::poScreenCenter);
  SetClientWidth(329);
  SetClientHeight(337);

  StatusRG = new TRadioGroup(this);
  StatusRG->SetName("StatusRG");
  StatusRG->SetParent(this);
  StatusRG->SetBounds(8, 8, 313, 45);
  StatusRG->SetCaption("Alarm Status");
  StatusRG->SetColumns(2);
  StatusRG->Items().Add("Disabled");
  StatusRG->Items().Add("Enabled");

  PageControl1 = new TPageControl(this);
  PageControl1->SetName("PageControl1");
  PageControl1->SetParent(this);
  PageControl1->SetBounds(8, 60, 313, 236);

  TabSheet1 = new TTabSheet(this);
  TabSheet1->SetName("TabSheet1");
  TabSheet1->SetPageControl(PageControl1);
  TabSheet1->SetCaption("Date/Time");
  MonthCalendar1 = new TMonthCalendar(this);
  MonthCalendar1->SetName("MonthCalendar1");
  MonthCalendar1->SetParent(TabSheet1);
  MonthCalendar1->SetBounds(8, 4, 225, 160);
  Label1 = AddLabel(TabSheet1, "Label1", "Time: ");
  Label1->SetBounds(8, 176, 36, 17);
  DateTimePicker1 = new TDateTimePicker(this);
  DateTimePicker1->SetName("DateTimePicker1");
  DateTimePicker1->SetParent(TabSheet1);
  DateTimePicker1->SetBounds(48, 172, 97, 23);
  EveryDayCB = new TCheckBox(this);
  EveryDayCB->SetName("EveryDayCB");
  EveryDayCB->SetParent(TabSheet1);
  EveryDayCB->SetBounds(160, 174, 97, 19);
  EveryDayCB->SetCaption("Every day");

  TabSheet2 = new TTabSheet(this);
  TabSheet2->SetName("TabSheet2");
  TabSheet2->SetPageControl(PageControl1);
  TabSheet2->SetCaption("Timer");
  Label2 = AddLabel(TabSheet2, "Label2", "Set alarm to go off in ");
  Label2->SetBounds(8, 20, 140, 17);
  QuantitySpin = new TKitSpinEdit(this);
  QuantitySpin->SetName("QuantitySpin");
  QuantitySpin->SetParent(TabSheet2);
  QuantitySpin->SetBounds(152, 16, 73, 23);
  QuantitySpin->SetLineSize(10);
  QuantitySpin->SetMaxValue(1000);
  QuantitySpin->SetValue(10);
  UnitRG = new TRadioGroup(this);
  UnitRG->SetName("UnitRG");
  UnitRG->SetParent(TabSheet2);
  UnitRG->SetBounds(8, 52, 217, 120);
  for (const char* unit : {"Seconds", "Minutes", "Hours", "Days"}) UnitRG->Items().Add(unit);
  UnitRG->SetItemIndex(0);

  OKBtn = new TButton(this);
  OKBtn->SetName("OKBtn");
  OKBtn->SetParent(this);
  OKBtn->SetBounds(86, 304, 75, 25);
  OKBtn->SetCaption("OK");
  OKBtn->SetModalResult(mrOk);
  OKBtn->SetDefault(true);
  CancelBtn = new TButton(this);
  CancelBtn->SetName("CancelBtn");
  CancelBtn->SetParent(this);
  CancelBtn->SetBounds(168, 304, 75, 25);
  CancelBtn->SetCaption("Cancel");
  CancelBtn->SetModalResult(mrCancel);
  CancelBtn->SetCancel(true);
}

TLabel* TAlarmForm::AddLabel(TWinControl* parent, const std::string& name,
                             const std::string& caption) {
  auto* label = new TLabel(this);
  label->SetName(name);
  label->SetParent(parent);
  label->SetCaption(caption);
  return label;
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
    DateTimePicker1->SetTime(TimeOfDay(alarm));
  }
  PageControl1->SetActivePage(TabSheet1);
}

TDateTime TAlarmForm::ChosenAlarm() {
  if (StatusRG->ItemIndex() != kEnabled) return 0;
  if (PageControl1->ActivePage() == TabSheet2) {
    const int unit = UnitRG->ItemIndex();
    const double days = unit >= 0 && unit < 4 ? kUnitDays[unit] : 0;
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
