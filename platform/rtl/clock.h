// The clock the runtime reads the local date and time and the local UTC
// offset from. Production code reads the system clock and time zone; a test
// installs a fixed clock for a scope, so time-dependent logic runs headless
// and repeatably.
#pragma once

#include "platform/rtl/date_time.h"

namespace jw {

class TClock {
 public:
  virtual ~TClock() = default;
  // The local date and time, to the millisecond.
  virtual TDateTime LocalNow() = 0;
  // Local time minus UTC in minutes, daylight saving included at this
  // moment: +600 ten hours east of Greenwich, -330 five and a half west.
  virtual int UtcOffsetMinutes() = 0;
};

// The system's real-time clock and the process's time zone (TZ, else the
// system's zone). A change of TZ shows on the next call, a change of the
// system's zone within a second.
class TSystemClock : public TClock {
 public:
  TDateTime LocalNow() override;
  int UtcOffsetMinutes() override;
};

// A clock that says what it was told until it is told otherwise.
class TFixedClock : public TClock {
 public:
  explicit TFixedClock(TDateTime now, int utc_offset_minutes = 0)
      : now_(now), utc_offset_minutes_(utc_offset_minutes) {}

  TDateTime LocalNow() override { return now_; }
  int UtcOffsetMinutes() override { return utc_offset_minutes_; }
  void SetNow(TDateTime now) { now_ = now; }
  void SetUtcOffsetMinutes(int minutes) { utc_offset_minutes_ = minutes; }

 private:
  TDateTime now_;
  int utc_offset_minutes_;
};

// The installed clock: the system clock unless a TScopedClock is alive.
TClock& Clock();

// The local UTC offset in minutes, read from the installed clock.
int LocalUtcOffsetMinutes();

// Installs a clock for its lifetime and then puts back the one it replaced.
// Scopes nest; they must end in the reverse order of their start.
class TScopedClock {
 public:
  explicit TScopedClock(TClock& clock);
  ~TScopedClock();
  TScopedClock(const TScopedClock&) = delete;
  TScopedClock& operator=(const TScopedClock&) = delete;

 private:
  TClock* previous_;
};

}  // namespace jw
