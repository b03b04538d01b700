#include "mail/mail_date.h"

#include <time.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "platform/rtl/clock.h"
#include "tests/mail/python_peer.h"

namespace jw {
namespace {

// Sets the process's time zone for a test and puts the old one back.
class ZoneScope {
 public:
  explicit ZoneScope(const char* zone) {
    const char* old = std::getenv("TZ");
    had_old_ = old != nullptr;
    if (had_old_) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneScope() {
    if (had_old_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool had_old_ = false;
  std::string old_;
};

// A clock standing at one instant, as the process's time zone shows it.
class ZoneClock : public TClock {
 public:
  explicit ZoneClock(time_t instant) { localtime_r(&instant, &local_); }
  TDateTime LocalNow() override {
    return EncodeDate(local_.tm_year + 1900, local_.tm_mon + 1, local_.tm_mday) +
           EncodeTime(local_.tm_hour, local_.tm_min, local_.tm_sec, 0);
  }
  int UtcOffsetMinutes() override { return static_cast<int>(local_.tm_gmtoff / 60); }

 private:
  tm local_{};
};

TEST(PadZero, FillsToTheWidth) {
  EXPECT_EQ(PadZero(5, 2), "05");
  EXPECT_EQ(PadZero(10, 2), "10");
  EXPECT_EQ(PadZero(123, 2), "123");
  EXPECT_EQ(PadZero(0, 0), "0");
  EXPECT_EQ(PadZero(7, 4), "0007");
}

TEST(TimeZoneText, BiasGivesSignHoursAndMinutes) {
  const struct {
    int utc_offset;
    int bias;
    std::string text;
  } cases[] = {
      {600, -600, "+1000"}, {-330, 330, "-0530"}, {0, 0, "GMT"},
      {345, -345, "+0545"}, {-60, 60, "-0100"},   {840, -840, "+1400"},
  };
  for (const auto& c : cases) {
    TFixedClock clock(0, c.utc_offset);
    TScopedClock scope(clock);
    EXPECT_EQ(TimeZoneBias(), c.bias);
    EXPECT_EQ(TimeZoneText(), c.text);
  }
}

TEST(InternetDate, WritesEnglishNamesAndUnpaddedDay) {
  TFixedClock clock(0, 600);
  TScopedClock scope(clock);
  EXPECT_EQ(InternetDate(EncodeDate(2002, 7, 2) + EncodeTime(9, 5, 7, 0)),
            "Tue, 2 Jul 2002 09:05:07 +1000");
  EXPECT_EQ(InternetDate(EncodeDate(1999, 12, 31) + EncodeTime(23, 59, 59, 0)),
            "Fri, 31 Dec 1999 23:59:59 +1000");
  EXPECT_EQ(InternetDate(EncodeDate(2024, 2, 29)), "Thu, 29 Feb 2024 00:00:00 +1000");
  // A value that rounds up to midnight is named after the day it rounds to.
  EXPECT_EQ(InternetDate(EncodeDate(2024, 3, 2) - 0.1 / kMSecsPerDay),
            "Sat, 2 Mar 2024 00:00:00 +1000");
}

TEST(InternetDate, SystemClockGivesTheZonesCurrentOffset) {
  const struct {
    const char* zone;
    std::string text;
  } cases[] = {
      {"UTC", "GMT"},
      {"Australia/Brisbane", "+1000"},
      {"<-0530>5:30", "-0530"},
      {"Asia/Kathmandu", "+0545"},
  };
  for (const auto& c : cases) {
    ZoneScope zone(c.zone);
    EXPECT_EQ(TimeZoneText(), c.text) << c.zone;
  }
}

// Dates across the year in zones with and without daylight saving, each
// checked here for its offset and by Python's parser for its instant.
TEST(InternetDate, DatesParseInPythonToTheSameInstant) {
  const time_t january = 1705312800;  // 2024-01-15 10:00 UTC
  const time_t july = 1721037600;     // 2024-07-15 10:00 UTC
  const struct {
    const char* zone;
    time_t instant;
    std::string zone_text;
  } cases[] = {
      {"UTC", january, "GMT"},
      {"Australia/Brisbane", january, "+1000"},
      {"Australia/Sydney", january, "+1100"},
      {"Australia/Sydney", july, "+1000"},
      {"America/New_York", january, "-0500"},
      {"America/New_York", july, "-0400"},
      {"<-0530>5:30", july, "-0530"},
      {"Asia/Kolkata", january, "+0530"},
  };
  std::string lines;
  for (const auto& c : cases) {
    ZoneScope zone(c.zone);
    ZoneClock clock(c.instant);
    TScopedClock scope(clock);
    const std::string date = InternetDate(Now());
    EXPECT_EQ(date.substr(date.size() - c.zone_text.size()), c.zone_text) << c.zone;
    lines += std::to_string(c.instant) + "|" + date + "\n";
  }
  EXPECT_NE(lines.find("Mon, 15 Jan 2024 21:00:00 +1100"), std::string::npos) << lines;
  test_support::TempFolder dir;
  test_support::WriteFileBytes(dir.File("dates"), lines);
  EXPECT_EQ(test_support::RunPython("date_reference.py", {dir.File("dates")}), "");
}

}  // namespace
}  // namespace jw
