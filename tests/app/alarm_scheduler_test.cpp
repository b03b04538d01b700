#include "app/alarm_scheduler.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/scrap_form.h"
#include "app/settings.h"
#include "platform/gui/application.h"
#include "platform/gui/play_sound.h"
#include "platform/rtl/clock.h"
#include "platform/rtl/date_format.h"
#include "tests/app/recording_player.h"

namespace jw {
namespace {

const TDateTime kMorning = EncodeDate(2026, 3, 10) + EncodeTime(10, 0, 0, 0);
const TDateTime kSecond = 1.0 / 86400;

class AlarmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ScrapSettings = TScrapSettings();
    ScrapSettings.AlarmFileName = "/sounds/bell.wav";
    ScrapSettings.AlarmReps = 2;
    SetSoundPlayer(std::make_unique<RecordingPlayer>(plays_));
  }
  void TearDown() override {
    notes_.clear();
    SetSoundPlayer(nullptr);
    ScrapSettings = TScrapSettings();
  }

  TScrapForm* AddNote(TDateTime alarm, TDateTime last_sounded = 0) {
    notes_.emplace_back(MakeForm<TScrapForm>(nullptr));
    TScrapForm* note = notes_.back().get();
    note->AlarmDateTime = alarm;
    note->AlarmLastSounded = last_sounded;
    note->SetHint(AlarmHint(alarm));
    return note;
  }
  std::vector<PlayCall> Bells(int count) {
    return std::vector<PlayCall>(count, {"/sounds/bell.wav", SND_FILENAME});
  }

  TFixedClock clock_{kMorning};
  TScopedClock clock_scope_{clock_};
  TAlarmScheduler scheduler_{nullptr};
  std::vector<PlayCall> plays_;
  std::vector<std::unique_ptr<TScrapForm>> notes_;
};

TEST_F(AlarmTest, APastOneShotAlarmFiresOnceAndClears) {
  TScrapForm* note = AddNote(kMorning - 1.0 / 24);
  note->Hide();
  scheduler_.CheckAlarms();
  EXPECT_TRUE(note->Visible());
  EXPECT_EQ(note->AlarmDateTime, 0);
  EXPECT_EQ(note->AlarmLastSounded, kMorning);
  EXPECT_EQ(note->Hint(), "");
  EXPECT_EQ(plays_, Bells(2));
  clock_.SetNow(kMorning + 1);
  scheduler_.CheckAlarms();
  EXPECT_EQ(plays_, Bells(2));
}

TEST_F(AlarmTest, ADailyAlarmFiresOnceADayAndStaysSet) {
  const TDateTime nine = EncodeTime(9, 0, 0, 0);
  TScrapForm* note = AddNote(nine);
  EXPECT_EQ(note->Hint(), "Alarm set for " + TimeToStr(nine) + " daily");
  scheduler_.CheckAlarms();
  EXPECT_EQ(plays_, Bells(2));
  clock_.SetNow(kMorning + 0.5);
  scheduler_.CheckAlarms();
  EXPECT_EQ(plays_, Bells(2));
  // The next day it waits until its time is less than a second ahead.
  clock_.SetNow(kMorning + 1 - 1.0 / 24 - 2 * kSecond);
  scheduler_.CheckAlarms();
  EXPECT_EQ(plays_, Bells(2));
  clock_.SetNow(kMorning + 1 - 1.0 / 24 - kSecond / 2);
  scheduler_.CheckAlarms();
  EXPECT_EQ(plays_, Bells(4));
  EXPECT_EQ(note->AlarmDateTime, nine);
  EXPECT_EQ(note->AlarmLastSounded, kMorning + 1 - 1.0 / 24 - kSecond / 2);
}

TEST_F(AlarmTest, TheTimerIsArmedForTheNearestAlarmWithinOneToThreeHundredThousandMs) {
  const struct {
    const char* name;
    std::vector<TDateTime> alarms;
    uint32_t low_ms, high_ms;
    TDateTime last_sounded = 0;
  } cases[] = {
      {"none", {}, 300000, 300000},
      {"10 s ahead", {kMorning + 10 * kSecond}, 9999, 10000},
      {"1 h ahead", {kMorning + 1.0 / 24}, 300000, 300000},
      {"nearest of three", {kMorning + 60 * kSecond, kMorning + 20 * kSecond, 0.9}, 19999, 20000},
      {"daily, 30 s ahead", {EncodeTime(10, 0, 30, 0)}, 29999, 30000},
      // Sounded today already, so it waits for tomorrow; the check comes again
      // in a millisecond, never at 0 ms, which would stop the timer.
      {"daily, a tenth of a ms ahead",
       {EncodeTime(10, 0, 0, 0) + kSecond / 10000},
       1,
       1,
       kMorning - kSecond},
  };
  for (const auto& c : cases) {
    notes_.clear();
    for (TDateTime alarm : c.alarms) AddNote(alarm, c.last_sounded);
    scheduler_.CheckAlarms();
    EXPECT_TRUE(scheduler_.Timer1->Running()) << c.name;
    EXPECT_GE(scheduler_.Timer1->Interval(), c.low_ms) << c.name;
    EXPECT_LE(scheduler_.Timer1->Interval(), c.high_ms) << c.name;
  }
  EXPECT_TRUE(plays_.empty());
}

TEST_F(AlarmTest, TheTimerRunsAgainWhenTheCheckFails) {
  SetSoundPlayer(std::make_unique<RecordingPlayer>(plays_, true));
  AddNote(kMorning - kSecond);
  scheduler_.Timer1->SetEnabled(true);
  EXPECT_THROW(scheduler_.Timer1Timer(scheduler_.Timer1), std::runtime_error);
  EXPECT_TRUE(scheduler_.Timer1->Enabled());
  EXPECT_TRUE(scheduler_.Timer1->Running());
}

TEST_F(AlarmTest, NoRepetitionsShowTheNoteWithoutSoundAndLongPathsArriveWhole) {
  ScrapSettings.AlarmReps = 0;
  TScrapForm* note = AddNote(kMorning - kSecond);
  note->Hide();
  scheduler_.CheckAlarms();
  EXPECT_TRUE(note->Visible());
  EXPECT_TRUE(plays_.empty());

  ScrapSettings.AlarmReps = 1;
  ScrapSettings.AlarmFileName = "/sounds/" + std::string(400, 'b') + ".wav";
  AddNote(kMorning - kSecond);
  CheckAlarms();
  EXPECT_EQ(plays_, (std::vector<PlayCall>{{ScrapSettings.AlarmFileName, SND_FILENAME}}));
}

// The stay-on-top command replaces a note's window by a new one read back
// from the store; the old window goes at the next pass of the event loop,
// in the middle of the check. Windows released earlier go then too.
TEST_F(AlarmTest, AlarmFrontRunsTheStayOnTopCommandOfNotesNotOnTop) {
  ScrapSettings.AlarmFront = true;
  ScrapSettings.AlarmReps = 1;
  int raised = 0;
  // A note whose window goes before the walk reaches it (the walk takes the
  // newest window first) is passed over.
  TScrapForm* doomed = MakeForm<TScrapForm>(nullptr);
  doomed->AlarmDateTime = kMorning - kSecond;
  doomed->Release();
  for (int i = 0; i < 2; ++i) {
    TScrapForm* note = MakeForm<TScrapForm>(nullptr);
    note->AlarmDateTime = kMorning - kSecond;
    note->stayontop1->OnClick = [&, note](TPersistent*) {
      ++raised;
      // A replacement that the walk would fire, were it examined.
      TScrapForm* replacement = AddNote(kMorning - kSecond);
      replacement->stayontop1->SetChecked(true);
      note->Release();
    };
  }
  TScrapForm* on_top = AddNote(kMorning - kSecond);
  on_top->stayontop1->SetChecked(true);
  on_top->stayontop1->OnClick = [](TPersistent*) { ADD_FAILURE() << "raised twice"; };
  scheduler_.CheckAlarms();
  EXPECT_EQ(raised, 2);
  EXPECT_EQ(plays_, Bells(3));
  int notes = 0;
  for (int i = 0; i < Screen->FormCount(); ++i)
    notes += dynamic_cast<TScrapForm*>(Screen->Forms(i)) != nullptr;
  EXPECT_EQ(notes, 3);
}

}  // namespace
}  // namespace jw
