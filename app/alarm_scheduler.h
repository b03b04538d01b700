// The alarms of notes: the hint that describes a note's alarm, the alarm
// sound, and the scheduler that owns the manager window's alarm timer and
// runs the check that shows, raises and sounds every note whose alarm is due.
#pragma once

#include <cstdint>
#include <string>

#include "platform/gui/timer.h"
#include "platform/rtl/component.h"
#include "platform/rtl/date_time.h"

namespace jw {

// The longest wait between two alarm checks.
inline constexpr uint32_t kMaxAlarmIntervalMs = 300000;

// "Alarm set for " and the time with " daily" for a daily alarm, or the date
// and time of a one-shot alarm; empty for none.
std::string AlarmHint(TDateTime alarm);

// Whether the notes table can hold alarm: a date and time within the years
// 1 to 9999, the range of the calendar.
bool AlarmStorable(TDateTime alarm);

// Plays the wave file reps times, each play to its end.
void PlayAlarmSound(const std::string& file_name, int reps);

// Owns the alarm timer. The newest scheduler is the one the alarm check
// re-arms, so a note that edits its alarm reaches it through CheckAlarms.
class TAlarmScheduler : public TComponent {
 public:
  explicit TAlarmScheduler(TComponent* owner);
  ~TAlarmScheduler() override;

  // Disabled at 10000 ms until the first check sets its interval.
  TTimer* Timer1;

  // The timer's tick: the check with the timer stopped, which runs again
  // afterwards however the check ended.
  void Timer1Timer(TPersistent* sender);
  // Fires every due alarm, then arms Timer1 for the nearest pending one:
  // 1 to 300000 ms.
  void CheckAlarms();
};

// The check of the current scheduler; with none, the due alarms still fire.
void CheckAlarms();

}  // namespace jw
