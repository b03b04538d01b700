#include "platform/rtl/date_time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <tuple>

#include "platform/rtl/clock.h"
#include "platform/rtl/exceptions.h"
#include "tests/support/error_text.h"

namespace jw {
namespace {

using test_support::ErrorText;

struct Ymd {
  int year, month, day;
};

struct Hms {
  int hour, min, sec, msec;
};

std::tuple<int, int, int> YmdOf(TDateTime value) {
  int year, month, day;
  DecodeDate(value, year, month, day);
  return {year, month, day};
}

std::tuple<int, int, int, int> HmsOf(TDateTime value) {
  int hour, min, sec, msec;
  DecodeTime(value, hour, min, sec, msec);
  return {hour, min, sec, msec};
}

// ---- Calendar ----

TEST(DateTimeCalendar, EpochsOfBothCountings) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1899, 12, 31), 1.0);
  EXPECT_EQ(EncodeDate(1970, 1, 1), 25569.0);
  EXPECT_EQ(EncodeDate(2000, 1, 1), 36526.0);
  EXPECT_EQ(DateTimeToTimeStamp(EncodeDate(1, 1, 1)).Date, 1);
  EXPECT_EQ(DateTimeToTimeStamp(0.0).Date, 693594);
  EXPECT_EQ(DateTimeToTimeStamp(EncodeDate(9999, 12, 31)).Date, kMaxDateDay);
  EXPECT_EQ(EncodeDate(9999, 12, 31), 2958465.0);
}

// Walks every day from 1 January of year 1 to 31 December 9999 with a
// counter and a calendar of its own, and checks encode, decode, the time
// stamp and the day of the week against them.
TEST(DateTimeCalendar, EveryDayOfYearsOneToNineThousandRoundTrips) {
  const int month_lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int32_t day_number = 1;
  int weekday = 2;  // 1 January of year 1 was a Monday
  for (int year = 1; year <= 9999; ++year) {
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    ASSERT_EQ(IsLeapYear(year), leap) << year;
    for (int month = 1; month <= 12; ++month) {
      const int length = month_lengths[month - 1] + (month == 2 && leap ? 1 : 0);
      ASSERT_EQ(DaysInMonth(year, month), length) << year << "-" << month;
      for (int day = 1; day <= length; ++day) {
        TDateTime value;
        ASSERT_TRUE(TryEncodeDate(year, month, day, value));
        ASSERT_EQ(value, day_number - 693594.0) << year << "-" << month << "-" << day;
        int y, m, d;
        DecodeDate(value, y, m, d);
        ASSERT_TRUE(y == year && m == month && d == day) << year << "-" << month << "-" << day;
        ASSERT_EQ(DateTimeToTimeStamp(value).Date, day_number);
        ASSERT_EQ(DayOfWeek(value), weekday) << year << "-" << month << "-" << day;
        ++day_number;
        weekday = weekday % 7 + 1;
      }
    }
  }
  EXPECT_EQ(day_number - 1, kMaxDateDay);
}

TEST(DateTimeCalendar, KnownWeekdays) {
  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 30)), 7);  // Saturday
  EXPECT_EQ(DayOfWeek(EncodeDate(2002, 7, 2)), 3);    // Tuesday
  EXPECT_EQ(DayOfWeek(EncodeDate(2024, 3, 3)), 1);    // Sunday
  EXPECT_EQ(DayOfWeek(EncodeDate(2002, 7, 2) + EncodeTime(23, 59, 0, 0)), 3);
  EXPECT_EQ(DayOfWeek(-1.75), 6);  // 1899-12-29 18:00, a Friday
}

TEST(DateTimeCalendar, LeapYearRule) {
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_TRUE(IsLeapYear(2400));
  EXPECT_TRUE(IsLeapYear(2004));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_FALSE(IsLeapYear(2100));
  EXPECT_FALSE(IsLeapYear(2003));
  EXPECT_EQ(DaysInMonth(2001, 0), 0);
  EXPECT_EQ(DaysInMonth(2001, 13), 0);
}

TEST(DateTimeEncode, InvalidDatePartsAreRefused) {
  const Ymd cases[] = {{0, 1, 1},    {10000, 1, 1}, {-5, 1, 1},    {2001, 0, 1},  {2001, 13, 1},
                       {2001, 1, 0}, {2001, 1, 32}, {2001, 2, 29}, {1900, 2, 29}, {2001, 4, 31}};
  for (const Ymd& c : cases) {
    TDateTime value = 123.0;
    EXPECT_FALSE(TryEncodeDate(c.year, c.month, c.day, value)) << c.year << "-" << c.month;
    EXPECT_EQ(value, 123.0);
    EXPECT_EQ(ErrorText<EConvertError>([&] { EncodeDate(c.year, c.month, c.day); }),
              "Invalid argument to date encode");
  }
  EXPECT_EQ(EncodeDate(2000, 2, 29), 36585.0);
}

TEST(DateTimeEncode, InvalidTimePartsAreRefused) {
  const Hms cases[] = {{24, 0, 0, 0}, {-1, 0, 0, 0}, {0, 60, 0, 0},   {0, -1, 0, 0},
                       {0, 0, 60, 0}, {0, 0, -1, 0}, {0, 0, 0, 1000}, {0, 0, 0, -1}};
  for (const Hms& c : cases) {
    TDateTime value = 0.5;
    EXPECT_FALSE(TryEncodeTime(c.hour, c.min, c.sec, c.msec, value)) << c.hour << ":" << c.min;
    EXPECT_EQ(value, 0.5);
    EXPECT_EQ(ErrorText<EConvertError>([&] { EncodeTime(c.hour, c.min, c.sec, c.msec); }),
              "Invalid argument to time encode");
  }
  EXPECT_EQ(EncodeTime(6, 0, 0, 0), 0.25);
  EXPECT_EQ(EncodeTime(23, 59, 59, 999), 86399999.0 / 86400000.0);
}

// ---- Negative values ----

TEST(DateTimeNegative, FractionCountsForwardIntoTheDay) {
  EXPECT_EQ(EncodeDate(1899, 12, 29), -1.0);
  EXPECT_EQ(YmdOf(-1.25), std::make_tuple(1899, 12, 29));
  EXPECT_EQ(HmsOf(-1.25), std::make_tuple(6, 0, 0, 0));
  EXPECT_EQ(DateTimeToTimeStamp(-1.25), (TTimeStamp{21600000, 693593}));
  EXPECT_EQ(TimeStampToDateTime({21600000, 693593}), -1.25);
  // Between -1 and 0 the whole part is 0: still 30 December, forward in time.
  EXPECT_EQ(YmdOf(-0.25), std::make_tuple(1899, 12, 30));
  EXPECT_EQ(HmsOf(-0.25), std::make_tuple(6, 0, 0, 0));
  EXPECT_EQ(YmdOf(-693593.5), std::make_tuple(1, 1, 1));
  EXPECT_EQ(HmsOf(-693593.5), std::make_tuple(12, 0, 0, 0));
}

TEST(DateTimeNegative, TimeStampsBeforeTheEpochRoundTrip) {
  for (int32_t date : {1, 2, 500000, 693592, 693593}) {
    for (int32_t time : {0, 1, 999, 21600000, 43200000, 86399999}) {
      const TTimeStamp stamp{time, date};
      const TDateTime value = TimeStampToDateTime(stamp);
      EXPECT_LT(value, 0.0);
      EXPECT_EQ(DateTimeToTimeStamp(value), stamp) << date << " " << time;
    }
  }
}

// ---- Decoding and rounding ----

TEST(DateTimeDecode, RoundsToTheNearestMillisecond) {
  const TDateTime ms = 1.0 / kMSecsPerDay;
  EXPECT_EQ(HmsOf(EncodeTime(10, 0, 0, 1) + 0.4 * ms), std::make_tuple(10, 0, 0, 1));
  EXPECT_EQ(HmsOf(EncodeTime(10, 0, 0, 1) + 0.6 * ms), std::make_tuple(10, 0, 0, 2));
  // A carry through milliseconds, seconds and minutes, never 1000 ms or 60 s.
  EXPECT_EQ(HmsOf(EncodeTime(12, 59, 59, 999) + 0.6 * ms), std::make_tuple(13, 0, 0, 0));
  EXPECT_EQ(HmsOf(EncodeTime(23, 59, 59, 999)), std::make_tuple(23, 59, 59, 999));
}

TEST(DateTimeDecode, AlmostMidnightIsTheNextDayNotTwentyFourHours) {
  const TDateTime almost = EncodeDate(2002, 7, 2) + 1.0 - 1e-10;
  EXPECT_EQ(HmsOf(almost), std::make_tuple(0, 0, 0, 0));
  EXPECT_EQ(YmdOf(almost), std::make_tuple(2002, 7, 3));
  EXPECT_EQ(DayOfWeek(almost), 4);
  EXPECT_EQ(DateTimeToTimeStamp(almost), (TTimeStamp{0, DateTimeToTimeStamp(almost).Date}));
  EXPECT_EQ(HmsOf(1.0 - 1e-10), std::make_tuple(0, 0, 0, 0));
  EXPECT_EQ(YmdOf(1.0 - 1e-10), std::make_tuple(1899, 12, 31));
  // Before the epoch the next day is also later in time.
  EXPECT_EQ(YmdOf(-1.0 - (1.0 - 1e-10)), std::make_tuple(1899, 12, 30));
  EXPECT_EQ(HmsOf(-1.0 - (1.0 - 1e-10)), std::make_tuple(0, 0, 0, 0));
}

TEST(DateTimeDecode, DecodeDateTimeAgreesWithDecodeDateAndTime) {
  const TDateTime value = EncodeDate(1999, 12, 31) + EncodeTime(23, 59, 59, 999) + 0.7e-8;
  int y, mo, d, h, mi, s, ms;
  DecodeDateTime(value, y, mo, d, h, mi, s, ms);
  EXPECT_EQ(y, 2000);
  EXPECT_EQ(mo, 1);
  EXPECT_EQ(d, 1);
  EXPECT_EQ(h + mi + s + ms, 0);
  EXPECT_EQ(YmdOf(value), std::make_tuple(2000, 1, 1));
  EXPECT_EQ(HmsOf(value), std::make_tuple(0, 0, 0, 0));
}

TEST(DateTimeDecode, ValuesOutsideTheCalendarRaise) {
  const double cases[] = {std::numeric_limits<double>::quiet_NaN(),
                          std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity(),
                          -693594.0,
                          2958466.0,
                          2958465.0 + 1.0 - 1e-12,
                          1e300,
                          -1e300};
  for (const double value : cases) {
    EXPECT_EQ(ErrorText<EConvertError>([&] { YmdOf(value); }), "Invalid argument to date decode")
        << value;
    EXPECT_EQ(ErrorText<EConvertError>([&] { HmsOf(value); }), "Invalid argument to date decode")
        << value;
    EXPECT_EQ(ErrorText<EConvertError>([&] { DateTimeToTimeStamp(value); }),
              "Invalid argument to date decode")
        << value;
    EXPECT_EQ(ErrorText<EConvertError>([&] { DayOfWeek(value); }),
              "Invalid argument to date decode");
  }
  EXPECT_EQ(YmdOf(2958465.99999), std::make_tuple(9999, 12, 31));
  EXPECT_EQ(YmdOf(-693593.0), std::make_tuple(1, 1, 1));
}

// ---- Time stamps ----

// Every millisecond of a day would be 86.4 million cases; a prime stride
// plus the edges of the day covers the arithmetic at both ends of the range.
TEST(DateTimeTimeStamp, RoundTripsAtBothEndsOfTheCalendar) {
  for (int32_t date : {1, 2, 693593, 693594, 693595, 730000, kMaxDateDay - 1, kMaxDateDay}) {
    for (int32_t time = 0; time < kMSecsPerDay; time += 86399) {
      const TTimeStamp stamp{time, date};
      ASSERT_EQ(DateTimeToTimeStamp(TimeStampToDateTime(stamp)), stamp) << date << " " << time;
    }
    for (int32_t time : {1, 999, 1000, 86399000, 86399998, 86399999}) {
      const TTimeStamp stamp{time, date};
      ASSERT_EQ(DateTimeToTimeStamp(TimeStampToDateTime(stamp)), stamp) << date << " " << time;
    }
  }
}

TEST(DateTimeTimeStamp, RandomStampsRoundTrip) {
  const bool long_run = std::getenv("JW_LONG_TESTS") != nullptr;
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  std::uniform_int_distribution<int32_t> dates(1, kMaxDateDay);
  std::uniform_int_distribution<int32_t> times(0, kMSecsPerDay - 1);
  const int count = long_run ? 5000000 : 20000;
  for (int i = 0; i < count; ++i) {
    const TTimeStamp stamp{times(random), dates(random)};
    const TDateTime value = TimeStampToDateTime(stamp);
    ASSERT_EQ(DateTimeToTimeStamp(value), stamp) << "seed " << seed;
    ASSERT_EQ(MSecsToTimeStamp(TimeStampToMSecs(stamp)), stamp) << "seed " << seed;
    int y, mo, d, h, mi, s, ms;
    DecodeDateTime(value, y, mo, d, h, mi, s, ms);
    ASSERT_EQ(EncodeDate(y, mo, d), stamp.Date - 693594.0) << "seed " << seed;
    ASSERT_EQ(((h * 60 + mi) * 60 + s) * 1000 + ms, stamp.Time) << "seed " << seed;
  }
}

TEST(DateTimeTimeStamp, MillisecondCountOfTheEngine) {
  // The time of 06:00 as a timestamp is 30 December 1899, 06:00.
  const TTimeStamp six = DateTimeToTimeStamp(EncodeTime(6, 0, 0, 0));
  EXPECT_EQ(six, (TTimeStamp{21600000, 693594}));
  EXPECT_EQ(TimeStampToMSecs(six), 693594.0 * 86400000.0 + 21600000.0);
  EXPECT_EQ(MSecsToTimeStamp(693594.0 * 86400000.0 + 21600000.0), six);
  EXPECT_EQ(MSecsToTimeStamp(86400000.0 + 1.75), (TTimeStamp{1, 1}));
  // A cleared timestamp field holds 0: it splits, but is no date.
  EXPECT_EQ(MSecsToTimeStamp(0.0), (TTimeStamp{0, 0}));
  EXPECT_EQ(ErrorText<EConvertError>([] { TimeStampToDateTime(MSecsToTimeStamp(0.0)); }),
            "'0.0' is not a valid timestamp");
}

TEST(DateTimeTimeStamp, InvalidStampsRaise) {
  EXPECT_EQ(ErrorText<EConvertError>([] {
              TimeStampToDateTime({5, -1});
            }),
            "'-1.5' is not a valid timestamp");
  EXPECT_EQ(ErrorText<EConvertError>([] {
              TimeStampToDateTime({-1, 10});
            }),
            "'10.-1' is not a valid timestamp");
  EXPECT_EQ(ErrorText<EConvertError>([] {
              TimeStampToDateTime({86400000, 10});
            }),
            "'10.86400000' is not a valid timestamp");
  EXPECT_EQ(ErrorText<EConvertError>([] {
              TimeStampToDateTime({0, kMaxDateDay + 1});
            }),
            "'3652060.0' is not a valid timestamp");
  EXPECT_EQ(ErrorText<EConvertError>([] { MSecsToTimeStamp(-1.0); }),
            "'-1' is not a valid timestamp");
  for (const double msecs : {(kMaxDateDay + 1.0) * kMSecsPerDay, 1e300, std::nan("")}) {
    const std::string text = ErrorText<EConvertError>([&] { MSecsToTimeStamp(msecs); });
    EXPECT_EQ(text.front(), '\'');
    EXPECT_TRUE(text.ends_with("' is not a valid timestamp")) << text;
  }
  EXPECT_EQ(MSecsToTimeStamp((kMaxDateDay + 1.0) * kMSecsPerDay - 1),
            (TTimeStamp{kMSecsPerDay - 1, kMaxDateDay}));
}

// ---- Clock ----

TEST(DateTimeClock, NowDateAndTimeReadTheInstalledClock) {
  const TDateTime moment = EncodeDate(2002, 7, 2) + EncodeTime(9, 5, 7, 250);
  TFixedClock clock(moment, 600);
  TScopedClock scope(clock);
  EXPECT_EQ(Now(), moment);
  EXPECT_EQ(Date(), EncodeDate(2002, 7, 2));
  EXPECT_EQ(Time(), EncodeTime(9, 5, 7, 250));
  EXPECT_EQ(LocalUtcOffsetMinutes(), 600);
  clock.SetNow(-1.25);
  clock.SetUtcOffsetMinutes(-330);
  EXPECT_EQ(Date(), -1.0);
  EXPECT_EQ(Time(), 0.25);
  EXPECT_EQ(LocalUtcOffsetMinutes(), -330);
}

TEST(DateTimeClock, ScopesNestAndRestoreTheSystemClock) {
  TFixedClock outer(100.0);
  TFixedClock inner(200.0);
  {
    TScopedClock outer_scope(outer);
    {
      TScopedClock inner_scope(inner);
      EXPECT_EQ(Now(), 200.0);
    }
    EXPECT_EQ(Now(), 100.0);
  }
  EXPECT_NE(dynamic_cast<TSystemClock*>(&Clock()), nullptr);
}

// Sets TZ for the scope of a test and puts back what was there.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    setenv("TZ", zone, 1);
  }
  ~ScopedTimeZone() {
    if (old_) {
      setenv("TZ", old_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> old_;
};

TEST(DateTimeClock, SystemClockFollowsTheTimeZone) {
  TSystemClock clock;
  {
    ScopedTimeZone zone("XYZ-10");  // ten hours east
    EXPECT_EQ(clock.UtcOffsetMinutes(), 600);
  }
  {
    ScopedTimeZone zone("XYZ+5:30");  // five and a half hours west
    EXPECT_EQ(clock.UtcOffsetMinutes(), -330);
  }
  {
    ScopedTimeZone zone("UTC0");
    EXPECT_EQ(clock.UtcOffsetMinutes(), 0);
  }
}

TEST(DateTimeClock, SystemClockGivesLocalTimeOfTheRealClock) {
  ScopedTimeZone zone("XYZ-10");
  TSystemClock clock;
  // A second of slack on each side: time() reads a coarser clock, and the
  // point is the ten hours of the zone, not the milliseconds.
  const double before = static_cast<double>(std::time(nullptr)) - 1;
  const TDateTime now = clock.LocalNow();
  const double after = static_cast<double>(std::time(nullptr)) + 2;
  const double secs_since_epoch = (now - 25569.0) * kSecsPerDay - 600 * 60;
  EXPECT_GE(secs_since_epoch, before);
  EXPECT_LE(secs_since_epoch, after);
}

}  // namespace
}  // namespace jw
