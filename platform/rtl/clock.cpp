#include "platform/rtl/clock.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/rtl/exceptions.h"

namespace jw {

namespace {

// Time-stamp day of 1970-01-01, the start of the system clock's count.
constexpr int64_t kUnixEpochDay = kDateDelta + 25569;

std::atomic<TClock*> installed_clock{nullptr};

// Seconds east of UTC at the moment `when`. tzset first, so a changed TZ
// (or system zone) is seen: localtime_r alone need not look again.
long UtcOffsetSecondsAt(time_t when) {
  tzset();
  tm local{};
  if (localtime_r(&when, &local) == nullptr) {
    throw Exception(std::string("Cannot read the local time zone: ") + std::strerror(errno));
  }
  return local.tm_gmtoff;
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
