#include "app/alarm_form.h"

#include <gtest/gtest.h>

#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "app/alarm_scheduler.h"
#include "app/scrap_form.h"
#include "app/settings.h"
#include "platform/gui/application.h"
#include "platform/gui/dialogs_scripted.h"
#include "platform/gui/play_sound.h"
#include "platform/rtl/clock.h"
#include "tests/app/scripted_dialogs_test.h"

namespace jw {
namespace {

const TDateTime kToday = EncodeDate(2026, 3, 10);
const TDateTime kNow = kToday + EncodeTime(10, 0, 0, 0);
const TDateTime kMs = 1.0 / 86400000;

class AlarmFormTest : public ScriptedDialogsTest {
 protected:
  // Edits alarm through the dialog, answered by fill.
  TDateTime Edit(TDateTime alarm, std::function<TModalResult(TAlarmForm&)> fill) {
    dialogs_->AnswerForm<TAlarmForm>(fill);
    EditAlarm(alarm);
    return alarm;
  }

  TFixedClock clock_{kNow};
  TScopedClock clock_scope_{clock_};
};

TEST_F(AlarmFormTest, TheDialogOpensOnTheDateTimePageWithTheAlarmAndCancelKeepsIt) {
  const struct {
    TDateTime alarm;
    int status;
    bool every_day;
    TDateTime date, time;
  } cases[] = {
      {0, 0, false, kToday, EncodeTime(10, 0, 0, 0)},
      {0.75, 1, true, kToday, EncodeTime(18, 0, 0, 0)},
      {kToday + 2.25, 1, false, kToday + 2, EncodeTime(6, 0, 0, 0)},
      {1.00005, 1, true, kToday, EncodeTime(0, 0, 4, 320)},
      {1.0005, 1, false, 1, EncodeTime(0, 0, 43, 200)},
  };
  for (const auto& c : cases) {
    const TDateTime after = Edit(c.alarm, [&](TAlarmForm& form) {
      EXPECT_EQ(form.Caption(), "Alarm Setting Dialog");
      EXPECT_EQ(form.PageControl1->ActivePage(), form.TabSheet1) << c.alarm;
      EXPECT_EQ(form.StatusRG->ItemIndex(), c.status) << c.alarm;
      EXPECT_EQ(form.EveryDayCB->Checked(), c.every_day) << c.alarm;
      EXPECT_EQ(form.MonthCalendar1->Date(), c.date) << c.alarm;
      EXPECT_NEAR(form.DateTimePicker1->Time(), c.time, kMs / 2) << c.alarm;
      EXPECT_EQ(form.QuantitySpin->Value(), 10);
      EXPECT_EQ(form.UnitRG->ItemIndex(), 0);
      return mrCancel;
    });
    EXPECT_EQ(after, c.alarm);
  }
}

TEST_F(AlarmFormTest, OkStoresWhatThePageShows) {
  const TDateTime seven_thirty = EncodeTime(7, 30, 0, 0);
  const struct {
    const char* name;
    std::function<void(TAlarmForm&)> fill;
    TDateTime alarm;
  } cases[] = {
      {"disabled", [](TAlarmForm& f) { f.StatusRG->SetItemIndex(0); }, 0},
      {"once",
       [&](TAlarmForm& f) {
         f.MonthCalendar1->SetDate(kToday + 3);
         f.DateTimePicker1->SetTime(seven_thirty);
         f.EveryDayCB->SetChecked(false);
       },
       kToday + 3 + seven_thirty},
      {"every day",
       [&](TAlarmForm& f) {
         f.MonthCalendar1->SetDate(kToday + 3);
         f.DateTimePicker1->SetTime(seven_thirty);
         f.EveryDayCB->SetChecked(true);
       },
       seven_thirty},
      {"every day at midnight",
       [](TAlarmForm& f) {
         f.DateTimePicker1->SetTime(0);
         f.EveryDayCB->SetChecked(true);
       },
       kMs},
      {"timer, 10 seconds", [](TAlarmForm& f) { f.PageControl1->SetActivePage(f.TabSheet2); },
       kNow + 10.0 / 86400},
      {"timer, 90 minutes",
       [](TAlarmForm& f) {
         f.PageControl1->SetActivePage(f.TabSheet2);
         f.QuantitySpin->SetValue(90);
         f.UnitRG->SetItemIndex(1);
       },
       kNow + 90.0 / 1440},
      {"timer, 2 days",
       [](TAlarmForm& f) {
         f.PageControl1->SetActivePage(f.TabSheet2);
         f.QuantitySpin->SetValue(2);
         f.UnitRG->SetItemIndex(3);
       },
       kNow + 2},
  };
  for (const auto& c : cases) {
    const TDateTime alarm = Edit(kToday + 1.5, [&](TAlarmForm& form) {
      c.fill(form);
      return mrOk;
    });
    EXPECT_NEAR(alarm, c.alarm, kMs / 2) << c.name;
  }
}

// The check, the dialog and the hint each part daily from one-shot values
// at their own threshold.
TEST_F(AlarmFormTest, DailyAndOneShotPartAtThreeThresholds) {
  const struct {
    TDateTime alarm;
    bool fires;
    bool hint_daily;
    bool dialog_daily;
  } cases[] = {
      {1.000005, false, true, true},
      {1.00005, false, true, true},
      {1.0005, true, true, false},
      {1.005, true, false, false},
  };
  for (const auto& c : cases) {
    std::unique_ptr<TScrapForm> note(MakeForm<TScrapForm>(nullptr));
    note->AlarmDateTime = c.alarm;
    const size_t plays = plays_.size();
    CheckAlarms();
    EXPECT_EQ(plays_.size() > plays, c.fires) << c.alarm;
    EXPECT_EQ(note->AlarmDateTime == 0, c.fires) << c.alarm;
    const std::string hint = AlarmHint(c.alarm);
    EXPECT_EQ(hint.ends_with(" daily"), c.hint_daily) << hint;
    Edit(c.alarm, [&](TAlarmForm& form) {
      EXPECT_EQ(form.EveryDayCB->Checked(), c.dialog_daily) << c.alarm;
      return mrCancel;
    });
  }
}

TEST_F(AlarmFormTest, CancelStillLetsADailyAlarmThatSoundedTodaySoundAgain) {
  TAlarmScheduler scheduler(nullptr);
  std::unique_ptr<TScrapForm> note(MakeForm<TScrapForm>(nullptr));
  const TDateTime nine = EncodeTime(9, 0, 0, 0);
  note->AlarmDateTime = nine;
  note->AlarmLastSounded = kToday + nine;
  CheckAlarms();
  EXPECT_EQ(plays_.size(), 0u);
  dialogs_->AnswerForm<TAlarmForm>([](TAlarmForm&) { return mrCancel; });
  note->SetAlarm1->Click();
  EXPECT_EQ(plays_.size(), 1u);
  EXPECT_EQ(note->AlarmDateTime, nine);
  EXPECT_EQ(note->AlarmLastSounded, kNow);
  EXPECT_EQ(note->Hint(), AlarmHint(nine));
  EXPECT_TRUE(scheduler.Timer1->Running());
  EXPECT_EQ(dialogs_->PendingAnswers(), 0);
}

// The Timer page keeps to the spin's limits, and an alarm the calendar
// cannot hold is refused by the dialog and never reaches the note, so its
// hint and its record can always be written.
TEST_F(AlarmFormTest, TheTimerKeepsToTheSpinAndTheCalendar) {
  const auto timer = [](int quantity) {
    return [quantity](TAlarmForm& form) {
      form.StatusRG->SetItemIndex(1);
      form.PageControl1->SetActivePage(form.TabSheet2);
      form.UnitRG->SetItemIndex(3);
      form.QuantitySpin->SetText(std::to_string(quantity));
      return mrOk;
    };
  };
  for (const int days : {99999, 2147483647, -2147483647 - 1})
    EXPECT_EQ(Edit(0, timer(days)), kNow + (days > 0 ? 1000 : 0)) << days;

  TFixedClock late(EncodeDate(9999, 12, 25) + EncodeTime(12, 0, 0, 0));
  TScopedClock late_scope(late);
  dialogs_->AnswerForm<TAlarmForm>([&](TAlarmForm& form) {
    timer(10)(form);
    EXPECT_EQ(CloseQueryOnOk(form, *form.OKBtn), kAlarmOutsideCalendar);
    form.QuantitySpin->SetText("11");
    return mrOk;
  });
  std::unique_ptr<TScrapForm> note(MakeForm<TScrapForm>(nullptr));
  note->AlarmDateTime = 0.5;
  note->SetAlarm1->Click();
  EXPECT_EQ(note->AlarmDateTime, 0.5);
  EXPECT_EQ(note->Hint(), AlarmHint(0.5));
  EXPECT_EQ(dialogs_->PendingAnswers(), 0);
}

// Runs EditAlarm on the real dialog while act drives it once it shows.
TDateTime EditForReal(TDateTime alarm, const std::function<void(TAlarmForm&)>& act) {
  SetDialogService(nullptr);
  QTimer::singleShot(0, [&] {
    TAlarmForm* form = nullptr;
    for (int i = 0; i < Screen->FormCount() && form == nullptr; ++i)
      form = dynamic_cast<TAlarmForm*>(Screen->Forms(i));
    ASSERT_NE(form, nullptr);
    act(*form);
  });
  EditAlarm(alarm);
  return alarm;
}

bool Shown(TWinControl* control) {
  QWidget* widget = control->Handle();
  return widget->isVisible() && widget->width() > 0 && widget->height() > 0;
}

TEST_F(AlarmFormTest, TheRealDialogShowsItsControlsAndAnswersOkAndCancel) {
  const TDateTime alarm = EditForReal(0.5, [](TAlarmForm& form) {
    EXPECT_TRUE(form.Modal());
    for (TWinControl* control : std::vector<TWinControl*>{
             form.StatusRG, form.PageControl1, form.TabSheet1, form.MonthCalendar1, form.Label1,
             form.DateTimePicker1, form.EveryDayCB, form.OKBtn, form.CancelBtn})
      EXPECT_TRUE(Shown(control)) << control->Name();
    EXPECT_FALSE(form.TabSheet2->Handle()->isVisible());
    form.PageControl1->SetActivePage(form.TabSheet2);
    for (TWinControl* control :
         std::vector<TWinControl*>{form.TabSheet2, form.Label2, form.QuantitySpin, form.UnitRG})
      EXPECT_TRUE(Shown(control)) << control->Name();
    EXPECT_FALSE(form.TabSheet1->Handle()->isVisible());
    form.UnitRG->SetItemIndex(2);
    form.OKBtn->Click();
  });
  EXPECT_NEAR(alarm, kNow + 10.0 / 24, kMs / 2);
  EXPECT_EQ(EditForReal(0.5,
                        [](TAlarmForm& form) {
                          form.StatusRG->SetItemIndex(0);
                          form.CancelBtn->Click();
                        }),
            0.5);
}

}  // namespace
}  // namespace jw
