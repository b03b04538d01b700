#include "app/alarm_scheduler.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "app/data_module.h"
#include "app/scrap_form.h"
#include "app/settings.h"
#include "platform/gui/application.h"
#include "platform/gui/play_sound.h"
#include "platform/rtl/date_format.h"
#include "platform/rtl/numbers.h"

namespace jw {

namespace {

TAlarmScheduler* current_scheduler = nullptr;

constexpr double kOneSecond = 1.0 / kSecsPerDay;
constexpr uint32_t kFirstIntervalMs = 10000;

// The thresholds between daily and one-shot values differ by use; these are
// the ones the check and the hint go by.
constexpr double kCheckDailyBelow = 1.00001;
constexpr double kCheckOneShotAbove = 1.0001;
constexpr double kHintDailyBelow = 1.001;

// The note windows on the screen, back to front, each nulled when its window
// is destroyed during the walk, so a note the walk has let go (a stay-on-top
// toggle replaces its window) is never touched again.
class NoteWalk : public TComponent {
 public:
  NoteWalk() : TComponent(nullptr) {
    for (int i = Screen->FormCount() - 1; i >= 0; --i) {
      if (auto* note = dynamic_cast<TScrapForm*>(Screen->Forms(i))) {
        FreeNotification(note);
        notes_.push_back(note);
      }
    }
  }
  ~NoteWalk() override {
    for (TScrapForm* note : notes_)
      if (note != nullptr) RemoveFreeNotification(note);
  }

  size_t Count() const { return notes_.size(); }
  TScrapForm* Note(size_t i) const { return notes_[i]; }

 protected:
  void Notification(TComponent* component, TOperation operation) override {
    TComponent::Notification(component, operation);
    if (operation != opRemove) return;
    // Compared as components: the note is no longer a whole TScrapForm here.
    for (TScrapForm*& note : notes_)
      if (note != nullptr && static_cast<TComponent*>(note) == component) note = nullptr;
  }

 private:
  std::vector<TScrapForm*> notes_;
};

// Whether the note's alarm is due now: a daily one not yet sounded today
// whose time is less than a second ahead, or a one-shot one that is.
bool AlarmDue(const TScrapForm& note, TDateTime now) {
  const TDateTime alarm = note.AlarmDateTime;
  const double today = std::trunc(now);
  if (alarm < kCheckDailyBelow && today > note.AlarmLastSounded && today + alarm < now + kOneSecond)
    return true;
  return alarm > kCheckOneShotAbove && alarm < now + kOneSecond;
}

void FireAlarm(TScrapForm& note) {
  const bool one_shot = note.AlarmDateTime > kCheckOneShotAbove;
  if (one_shot) note.AlarmDateTime = 0;
  note.AlarmLastSounded = Now();
  ScrapChanged();
  note.Invalidate();
  note.SetVisible(true);
  if (one_shot) note.SetHint("");
  if (ScrapSettings.AlarmFront && !note.stayontop1->Checked()) note.StayOnTopWhenFree();
  Application->ProcessMessages();
  PlayAlarmSound(ScrapSettings.AlarmFileName, ScrapSettings.AlarmReps);
}

// Days until the alarm, or none (0 or less) for no alarm or one past.
double DaysAhead(TDateTime alarm) {
  if (alarm <= 0) return 0;
  const TDateTime now = Now();
  return alarm > 1 ? alarm - now : alarm - Frac(now);
}

// Fires the due alarms and returns the days until the nearest pending one,
// at most one.
double FireDueAlarms() {
  double next = 1.0;
  NoteWalk walk;
  for (size_t i = 0; i < walk.Count(); ++i) {
    TScrapForm* note = walk.Note(i);
    if (note == nullptr || note->AlarmDateTime <= 0) continue;
    // The window may be released by the stay-on-top toggle while its alarm
    // fires; its replacement carries the same alarm value.
    TDateTime alarm = note->AlarmDateTime;
    if (AlarmDue(*note, Now())) {
      if (alarm > kCheckOneShotAbove) alarm = 0;
      FireAlarm(*note);
    }
    const double ahead = DaysAhead(alarm);
    if (ahead > 0 && ahead < next) next = ahead;
  }
  return next;
}

}  // namespace

std::string AlarmHint(TDateTime alarm) {
  if (alarm > 0 && alarm < kHintDailyBelow) return "Alarm set for " + TimeToStr(alarm) + " daily";
  if (alarm > 0) return "Alarm set for " + DateTimeToStr(alarm);
  return "";
}

bool AlarmStorable(TDateTime alarm) {
  try {
    DateTimeToTimeStamp(alarm);
    return true;
  } catch (const EConvertError&) {
    return false;
  }
}

void PlayAlarmSound(const std::string& file_name, int reps) {
  for (int i = 0; i < reps; ++i) PlaySound(file_name, SND_FILENAME | SND_SYNC);
}

TAlarmScheduler::TAlarmScheduler(TComponent* owner) : TComponent(owner) {
  Timer1 = new TTimer(this);
  Timer1->SetName("Timer1");
  Timer1->SetEnabled(false);
  Timer1->SetInterval(kFirstIntervalMs);
  // An alarm sounds on its second, not a few percent of five minutes late.
  Timer1->SetPrecise(true);
  Timer1->OnTimer = [this](TPersistent* sender) { Timer1Timer(sender); };
  current_scheduler = this;
}

TAlarmScheduler::~TAlarmScheduler() {
  if (current_scheduler == this) current_scheduler = nullptr;
}

void TAlarmScheduler::Timer1Timer(TPersistent*) {
  Timer1->SetEnabled(false);
  struct RunAgain {
    TTimer& timer;
    ~RunAgain() { timer.SetEnabled(true); }
  } run_again{*Timer1};
  CheckAlarms();
}

void TAlarmScheduler::CheckAlarms() {
  const double next_ms = std::min(FireDueAlarms() * kMSecsPerDay, double(kMaxAlarmIntervalMs));
  Timer1->SetEnabled(false);
  // An interval of 0 would stop the timer and with it every later check.
  Timer1->SetInterval(std::max<uint32_t>(static_cast<uint32_t>(next_ms), 1));
  Timer1->SetEnabled(true);
}

void CheckAlarms() {
  if (current_scheduler != nullptr)
    current_scheduler->CheckAlarms();
  else
    FireDueAlarms();
}

}  // namespace jw
