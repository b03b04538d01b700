#include "platform/rtl/clock.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/rtl/exceptions.h"

namespace jw {

namespace {

// Time-stamp day of 1970-01-01, the start of the system clock's count.
constexpr int64_t kUnixEpochDay = kDateDelta + 25569;

std::atomic<TClock*> installed_clock{nullptr};

// Seconds east of UTC at the moment `when`. Looking the zone up (tzset
// reads TZ and the system zone file again) costs a file status on every
// call, so each thread keeps the last answer and looks again only when the
// second moves on or the text of TZ changed: a changed TZ shows at once, a
// changed system zone file within a second, and a daylight saving change,
// which falls on a whole second, exactly.
long UtcOffsetSecondsAt(time_t when) {
  struct TZoneLookup {
    bool valid = false;
    time_t second = 0;
    bool has_tz = false;
    std::string tz;
    long offset = 0;
  };
  thread_local TZoneLookup last;
  const char* tz = std::getenv("TZ");
  if (last.valid && last.second == when && last.has_tz == (tz != nullptr) &&
      (tz == nullptr || last.tz == tz)) {
    return last.offset;
  }
  tzset();
  tm local{};
  if (localtime_r(&when, &local) == nullptr) {
    throw Exception(std::string("Cannot read the local time zone: ") + std::strerror(errno));
  }
  last.valid = true;
  last.second = when;
  last.has_tz = tz != nullptr;
  last.tz = tz != nullptr ? tz : "";
  last.offset = local.tm_gmtoff;
  return last.offset;
}

}  // namespace

TDateTime TSystemClock::LocalNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  // Local seconds since the epoch, split into day and time of day; floor
  // division keeps times before the epoch (a wrong system clock) sound.
  const int64_t local_secs = static_cast<int64_t>(now.tv_sec) + UtcOffsetSecondsAt(now.tv_sec);
  int64_t days = local_secs / kSecsPerDay;
  int64_t secs_of_day = local_secs % kSecsPerDay;
  if (secs_of_day < 0) {
    secs_of_day += kSecsPerDay;
    --days;
  }
  TTimeStamp stamp;
  stamp.Date = static_cast<int32_t>(days + kUnixEpochDay);
  stamp.Time = static_cast<int32_t>(secs_of_day * 1000 + now.tv_nsec / 1000000);
  return TimeStampToDateTime(stamp);
}

int TSystemClock::UtcOffsetMinutes() {
  return static_cast<int>(UtcOffsetSecondsAt(std::time(nullptr)) / 60);
}

TClock& Clock() {
  static TSystemClock system_clock;
  TClock* clock = installed_clock.load();
  return clock != nullptr ? *clock : system_clock;
}

int LocalUtcOffsetMinutes() {
  return Clock().UtcOffsetMinutes();
}

TScopedClock::TScopedClock(TClock& clock) : previous_(installed_clock.exchange(&clock)) {}

TScopedClock::~TScopedClock() {
  installed_clock.store(previous_);
}

}  // namespace jw
