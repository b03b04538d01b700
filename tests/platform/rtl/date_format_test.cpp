#include "platform/rtl/date_format.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/rtl/clock.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/format_settings.h"
#include "tests/support/error_text.h"

namespace jw {
namespace {

using test_support::ErrorText;

TDateTime At(int year, int month, int day, int hour = 0, int min = 0, int sec = 0, int msec = 0) {
  return EncodeDate(year, month, day) + EncodeTime(hour, min, sec, msec);
}

// A locale with month-day-year dates, '/' and a 12-hour clock.
TFormatSettings UsSettings() {
  TFormatSettings s = DefaultFormatSettings();
  s.DateSeparator = '/';
  s.ShortDateFormat = "M/d/yyyy";
  s.LongDateFormat = "dddd, MMMM dd, yyyy";
  s.ShortTimeFormat = "h:mm AMPM";
  s.LongTimeFormat = "h:mm:ss AMPM";
  return s;
}

// A locale with day-month-year dates, '.', a decimal comma, its own names
// and AM/PM words.
TFormatSettings GermanSettings() {
  TFormatSettings s = DefaultFormatSettings();
  s.DateSeparator = '.';
  s.DecimalSeparator = ',';
  s.ShortDateFormat = "dd.MM.yyyy";
  s.LongDateFormat = "dddd, d. MMMM yyyy";
  s.TimeAMString = "vorm.";
  s.TimePMString = "nachm.";
  s.ShortTimeFormat = "HH:mm";
  s.LongTimeFormat = "HH:mm:ss";
  s.ShortMonthNames = {"Jan", "Feb", "Mrz", "Apr", "Mai", "Jun",
                       "Jul", "Aug", "Sep", "Okt", "Nov", "Dez"};
  s.LongMonthNames = {"Januar", "Februar", "März",      "April",   "Mai",      "Juni",
                      "Juli",   "August",  "September", "Oktober", "November", "Dezember"};
  s.ShortDayNames = {"So", "Mo", "Di", "Mi", "Do", "Fr", "Sa"};
  s.LongDayNames = {"Sonntag",    "Montag",  "Dienstag", "Mittwoch",
                    "Donnerstag", "Freitag", "Samstag"};
  return s;
}

// Every test starts from the default settings and a clock fixed in 2025
// (the current year matters to two-digit and missing years), and leaves the
// settings as it found them.
class DateFormatTest : public ::testing::Test {
 protected:
  ~DateFormatTest() override { FormatSettings() = saved_; }

  const TFormatSettings saved_ = FormatSettings();
  TFixedClock clock_{At(2025, 6, 15, 10, 30)};
  TScopedClock clock_scope_{clock_};
};

// ---- FormatDateTime ----

struct FormatCase {
  const char* format;
  const char* expected;
};

// 2002-07-02 (a Tuesday) 09:05:07.045.
const TDateTime kMorning = EncodeDate(2002, 7, 2) + EncodeTime(9, 5, 7, 45);
// 2002-12-25 (a Wednesday) 21:45:30.500.
const TDateTime kEvening = EncodeDate(2002, 12, 25) + EncodeTime(21, 45, 30, 500);

TEST_F(DateFormatTest, EverySpecifierUnderTheDefaultSettings) {
  const FormatCase cases[] = {
      {"d", "2"},
      {"dd", "02"},
      {"ddd", "Tue"},
      {"dddd", "Tuesday"},
      {"ddddd", "2002-07-02"},
      {"dddddd", "Tuesday, July 02, 2002"},
      {"ddddddd", "Tuesday, July 02, 2002"},
      {"m", "7"},
      {"mm", "07"},
      {"mmm", "Jul"},
      {"mmmm", "July"},
      {"mmmmm", "July"},
      {"y", "02"},
      {"yy", "02"},
      {"yyy", "2002"},
      {"yyyy", "2002"},
      {"h", "9"},
      {"hh", "09"},
      {"hhh", "09"},
      {"n", "5"},
      {"nn", "05"},
      {"s", "7"},
      {"ss", "07"},
      {"z", "45"},
      {"zz", "45"},
      {"zzz", "045"},
      {"zzzz", "045"},
      {"t", "09:05"},
      {"tt", "09:05:07"},
      {"c", "2002-07-02 09:05:07"},
      {"yyyy/mm/dd", "2002-07-02"},
      {"hh:nn:ss.zzz", "09:05:07.045"},
      // m after h or hh is minutes, also across separators and quoted text.
      {"hh:mm", "09:05"},
      {"h:m", "9:5"},
      {"h 'at' mm", "9 at 05"},
      {"hh:nn:ss mm", "09:05:07 07"},
      {"hh x mm", "09 x 07"},
      {"mm hh", "07 09"},
      // Letters in any case.
      {"YYYY-MM-DD HH:NN:SS", "2002-07-02 09:05:07"},
      {"M/D/YY", "7-2-02"},
      {"DDDD MMMM", "Tuesday July"},
      {"C", "2002-07-02 09:05:07"},
      // Half of the day.
      {"am/pm", "am"},
      {"AM/PM", "AM"},
      {"Am/Pm", "Am"},
      {"a/p", "a"},
      {"A/P", "A"},
      {"ampm", "AM"},
      {"h am/pm", "9 am"},
      {"hh:nn AMPM", "09:05 AM"},
      // Literals and other characters.
      {"'yyyy' \"mm\" yyyy", "yyyy mm 2002"},
      {"'it''s'", "its"},
      {"'open", "open"},
      {"\"open", "open"},
      {"a", "a"},
      {"x-Q,b", "x-Q,b"},
      {"[d]", "[2]"},
      {"", "2002-07-02 09:05:07"},
  };
  for (const FormatCase& c : cases) {
    EXPECT_EQ(FormatDateTime(c.format, kMorning), c.expected) << "format " << c.format;
  }
}

TEST_F(DateFormatTest, TwelveHourClockInTheAfternoonAndAtTheEdges) {
  const FormatCase evening[] = {
      {"h am/pm", "9 pm"},
      {"hh:nn AM/PM", "09:45 PM"},
      {"h:nn a/p", "9:45 p"},
      {"h:nn ampm", "9:45 PM"},
      {"hh:nn", "21:45"},
      // The am/pm after the next h belongs to that h.
      {"h h am/pm", "21 9 pm"},
      // Quoted am/pm does not switch the clock.
      {"h 'am/pm'", "21 am/pm"},
      {"d", "25"},
      {"ddd", "Wed"},
      {"z", "500"},
      {"mmm", "Dec"},
  };
  for (const FormatCase& c : evening) {
    EXPECT_EQ(FormatDateTime(c.format, kEvening), c.expected) << "format " << c.format;
  }
  EXPECT_EQ(FormatDateTime("h am/pm", At(2002, 7, 2, 0, 0)), "12 am");
  EXPECT_EQ(FormatDateTime("h am/pm", At(2002, 7, 2, 12, 0)), "12 pm");
  EXPECT_EQ(FormatDateTime("h am/pm", At(2002, 7, 2, 11, 59, 59, 999)), "11 am");
  EXPECT_EQ(FormatDateTime("h am/pm", At(2002, 7, 2, 13, 0)), "1 pm");
}

TEST_F(DateFormatTest, SeparatorsNamesAndNestedFormatsComeFromTheSettings) {
  FormatSettings() = GermanSettings();
  FormatSettings().TimeSeparator = '.';
  EXPECT_EQ(FormatDateTime("yyyy/mm/dd hh:nn", kMorning), "2002.07.02 09.05");
  EXPECT_EQ(FormatDateTime("dddd, d. mmmm yyyy", kMorning), "Dienstag, 2. Juli 2002");
  EXPECT_EQ(FormatDateTime("ddd mmm", kEvening), "Mi Dez");
  EXPECT_EQ(FormatDateTime("ddddd", kMorning), "02.07.2002");
  EXPECT_EQ(FormatDateTime("dddddd", kMorning), "Dienstag, 2. Juli 2002");
  EXPECT_EQ(FormatDateTime("t", kEvening), "21.45");
  EXPECT_EQ(FormatDateTime("ampm", kEvening), "nachm.");
  EXPECT_EQ(FormatDateTime("ampm", kMorning), "vorm.");
}

TEST_F(DateFormatTest, YearsAreZeroPadded) {
  EXPECT_EQ(FormatDateTime("yyyy yy", EncodeDate(1, 1, 1)), "0001 01");
  EXPECT_EQ(FormatDateTime("yyyy yy", EncodeDate(987, 3, 4)), "0987 87");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd", EncodeDate(9999, 12, 31)), "9999-12-31");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn", -1.25), "1899-12-29 06:00");
}

// A run of one character is stepped over as a whole: a format of a million
// repeated characters finishes (each character scanning the rest of its run
// took minutes).
TEST_F(DateFormatTest, LongRunsOfOneCharacterCostTheirLength) {
  constexpr size_t kRun = 1'000'000;
  const auto run = [](char c, size_t extra = 0) { return std::string(kRun + extra, c); };
  const struct {
    std::string format;
    std::string expected;
  } cases[] = {
      {run('x'), run('x')},
      {run('/'), run('-')},
      {run(':'), run(':')},
      {run(' ') + "d", run(' ') + "2"},
      {run('a') + "m/pm", std::string(kRun - 1, 'a') + "am"},
      {run('"'), ""},
      {run('\'', 1) + "yy'", "yy"},
      {run('d', 1) + "y", "Tuesday, July 2, 200202"},
  };
  FormatSettings().LongDateFormat = "dddd, mmmm d, yyyy";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format.substr(0, 8));
    EXPECT_EQ(FormatDateTime(c.format, kMorning), c.expected);
  }
}

TEST_F(DateFormatTest, SelfReferringFormatsStop) {
  FormatSettings().ShortDateFormat = "c";
  FormatSettings().LongTimeFormat = "tt";
  FormatSettings().LongDateFormat = "dddddd";
  EXPECT_EQ(FormatDateTime("c", kMorning), "  ");
  EXPECT_EQ(FormatDateTime("dddddd|ddddd", kMorning), "| ");
}

TEST_F(DateFormatTest, ValuesOutsideTheCalendarRaise) {
  EXPECT_EQ(ErrorText<EConvertError>([] { FormatDateTime("yyyy", 1e20); }),
            "Invalid argument to date decode");
  EXPECT_EQ(ErrorText<EConvertError>([] { DateTimeToStr(-700000.0); }),
            "Invalid argument to date decode");
}

// ---- DateToStr, TimeToStr, DateTimeToStr ----

TEST_F(DateFormatTest, ShorthandsUnderTwoLocales) {
  EXPECT_EQ(DateToStr(kMorning), "2002-07-02");
  EXPECT_EQ(TimeToStr(kMorning), "09:05:07");
  EXPECT_EQ(DateTimeToStr(kMorning), "2002-07-02 09:05:07");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2002, 7, 2)), "2002-07-02");
  EXPECT_EQ(TimeToStr(0.0), "00:00:00");

  FormatSettings() = UsSettings();
  EXPECT_EQ(DateToStr(kEvening), "12/25/2002");
  EXPECT_EQ(TimeToStr(kEvening), "9:45:30 PM");
  EXPECT_EQ(DateTimeToStr(kEvening), "12/25/2002 9:45:30 PM");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2002, 12, 25)), "12/25/2002");
  EXPECT_EQ(TimeToStr(0.0), "12:00:00 AM");
}

TEST_F(DateFormatTest, OnlyExactMidnightLeavesTheTimeOut) {
  EXPECT_EQ(DateTimeToStr(At(2002, 7, 2, 0, 0, 0, 500)), "2002-07-02 00:00:00");
  EXPECT_EQ(DateTimeToStr(At(2002, 7, 2, 0, 0, 1)), "2002-07-02 00:00:01");
  EXPECT_EQ(DateTimeToStr(At(2002, 7, 3) - 1e-10), "2002-07-03");
}

// ---- Parsing dates ----

struct DateCase {
  const char* text;
  int year, month, day;
};

void ExpectDates(const DateCase* begin, const DateCase* end) {
  for (const DateCase* c = begin; c != end; ++c) {
    TDateTime value = -5.0;
    ASSERT_TRUE(TryStrToDate(c->text, value)) << "text '" << c->text << "'";
    EXPECT_EQ(value, EncodeDate(c->year, c->month, c->day)) << "text '" << c->text << "'";
    EXPECT_EQ(StrToDate(c->text), value);
  }
}

void ExpectNotDates(std::initializer_list<const char*> texts) {
  for (const char* text : texts) {
    TDateTime value = -5.0;
    EXPECT_FALSE(TryStrToDate(text, value)) << "text '" << text << "'";
    EXPECT_EQ(ErrorText<EConvertError>([&] { StrToDate(text); }),
              std::string("'") + text + "' is not a valid date");
  }
}

TEST_F(DateFormatTest, DatesInYearMonthDayOrder) {
  const DateCase cases[] = {
      {"2002-07-02", 2002, 7, 2},  {" 2002 - 7 - 2 ", 2002, 7, 2},
      {"0001-01-01", 1, 1, 1},     {"9999-12-31", 9999, 12, 31},
      {"2000-02-29", 2000, 2, 29}, {"0099-01-01", 99, 1, 1},  // four digits: no window
      {"02-07-02", 2002, 7, 2},    {"75-01-01", 1975, 1, 1},  // the window is 1975 .. 2074 in 2025
      {"74-12-31", 2074, 12, 31},  {"0-1-1", 2000, 1, 1},
      {"7-2", 2025, 7, 2},  // no year: this year, month first
      {"2002-07-02-", 2002, 7, 2},
  };
  ExpectDates(std::begin(cases), std::end(cases));
  ExpectNotDates({"", " ", "2002", "2002-", "2002-07-", "2002/07/02", "2002.07.02", "2002-02-29",
                  "2002-13-01", "2002-00-10", "10000-01-01", "12345-01-01", "2002-07-02x",
                  "2002-07-02 10:00", "2002--07", "-2002-07-02", "2002-07-02--",
                  "99999999999999999999-1-1", "a2002-07-02"});
}

TEST_F(DateFormatTest, DatesInMonthDayYearOrder) {
  FormatSettings() = UsSettings();
  const DateCase cases[] = {
      {"7/2/2002", 2002, 7, 2}, {"07/02/02", 2002, 7, 2},   {"12/31/99", 1999, 12, 31},
      {"7/2", 2025, 7, 2},      {"2/29/2000", 2000, 2, 29},
  };
  ExpectDates(std::begin(cases), std::end(cases));
  ExpectNotDates({"2002-07-02", "2002/07/02", "13/1/2002", "7/2/", "2/29/2001"});
}

TEST_F(DateFormatTest, DatesInDayMonthYearOrder) {
  FormatSettings() = GermanSettings();
  const DateCase cases[] = {
      {"2.7.2002", 2002, 7, 2},
      {"02.07.2002.", 2002, 7, 2},
      {"31.12.74", 2074, 12, 31},
      {"2.7", 2025, 7, 2},
  };
  ExpectDates(std::begin(cases), std::end(cases));
  ExpectNotDates({"7/2/2002", "2002-07-02", "32.1.2002", "2.7."});
}

TEST_F(DateFormatTest, FieldOrderIsTheFirstDateLetterOutsideQuotes) {
  FormatSettings().ShortDateFormat = "'Day' d/m/yyyy";
  EXPECT_EQ(StrToDate("2-7-2002"), EncodeDate(2002, 7, 2));
  FormatSettings().ShortDateFormat = "hh";  // no date letter: month first
  EXPECT_EQ(StrToDate("2-7-2002"), EncodeDate(2002, 2, 7));
}

TEST_F(DateFormatTest, BlankDateSeparatorIsAnyRunOfBlanks) {
  FormatSettings().DateSeparator = ' ';
  FormatSettings().ShortDateFormat = "dd mm yyyy";
  EXPECT_EQ(StrToDate("2 7  2002"), EncodeDate(2002, 7, 2));
  TDateTime value;
  EXPECT_FALSE(TryStrToDate("2-7-2002", value));
}

TEST_F(DateFormatTest, TwoDigitYearWindowMovesWithTheClock) {
  clock_.SetNow(At(1990, 1, 1));
  EXPECT_EQ(StrToDate("40-01-01"), EncodeDate(1940, 1, 1));
  EXPECT_EQ(StrToDate("39-12-31"), EncodeDate(2039, 12, 31));
  EXPECT_EQ(StrToDate("1-2"), EncodeDate(1990, 1, 2));
}

// ---- Parsing times ----

struct TimeCase {
  const char* text;
  int hour, min, sec, msec;
};

void ExpectTimes(const TimeCase* begin, const TimeCase* end) {
  for (const TimeCase* c = begin; c != end; ++c) {
    TDateTime value = -5.0;
    ASSERT_TRUE(TryStrToTime(c->text, value)) << "text '" << c->text << "'";
    EXPECT_EQ(value, EncodeTime(c->hour, c->min, c->sec, c->msec)) << "text '" << c->text << "'";
    EXPECT_EQ(StrToTime(c->text), value);
  }
}

void ExpectNotTimes(std::initializer_list<const char*> texts) {
  for (const char* text : texts) {
    TDateTime value = -5.0;
    EXPECT_FALSE(TryStrToTime(text, value)) << "text '" << text << "'";
    EXPECT_EQ(ErrorText<EConvertError>([&] { StrToTime(text); }),
              std::string("'") + text + "' is not a valid time");
  }
}

TEST_F(DateFormatTest, TimesUnderTheDefaultSettings) {
  const TimeCase cases[] = {
      {"09:05:07", 9, 5, 7, 0},      {"9:05", 9, 5, 0, 0},        {"9", 9, 0, 0, 0},
      {" 9 : 05 ", 9, 5, 0, 0},      {"23:59:59", 23, 59, 59, 0}, {"0:00", 0, 0, 0, 0},
      {"9:05:07.045", 9, 5, 7, 45},  {"9:05:07.5", 9, 5, 7, 500}, {"9:05:07.05", 9, 5, 7, 50},
      {"9:05:07.999", 9, 5, 7, 999}, {"9:05 PM", 21, 5, 0, 0},    {"9:05pm", 21, 5, 0, 0},
      {"pm 9:05", 21, 5, 0, 0},      {"PM9", 21, 0, 0, 0},        {"9:05 am", 9, 5, 0, 0},
      {"12:00 AM", 0, 0, 0, 0},      {"12:30 PM", 12, 30, 0, 0},  {"11:59:59 PM", 23, 59, 59, 0},
  };
  ExpectTimes(std::begin(cases), std::end(cases));
  ExpectNotTimes({"", "24:00", "9:60", "9:05:60", "9:", "9:05:", "9:05:07.", "9:05:07.0456",
                  "9:05.5", "13:00 PM", "0:30 AM", "AM 9:05 PM", "9:05 xm", "9-05", "x9",
                  "9:05:07 extra", "99999:00"});
}

TEST_F(DateFormatTest, TimesWithLocaleWordsAndSeparators) {
  FormatSettings() = GermanSettings();
  FormatSettings().TimeSeparator = '.';
  const TimeCase cases[] = {
      {"9.05", 9, 5, 0, 0},
      {"9.05.07,5", 9, 5, 7, 500},
      {"9.05 nachm.", 21, 5, 0, 0},
      {"9.05 NACHM.", 21, 5, 0, 0},
      {"vorm. 12.15", 0, 15, 0, 0},
      {"9.05 PM", 21, 5, 0, 0},  // the English words are always understood
  };
  ExpectTimes(std::begin(cases), std::end(cases));
  ExpectNotTimes({"9:05", "9.05.07.5", "9.05 nachm"});
}

TEST_F(DateFormatTest, EmptyAmPmStringsAreNeverMatched) {
  FormatSettings().TimeAMString = "";
  FormatSettings().TimePMString = "";
  EXPECT_EQ(StrToTime("21:05"), EncodeTime(21, 5, 0, 0));
  EXPECT_EQ(StrToTime("9:05 PM"), EncodeTime(21, 5, 0, 0));
}

// ---- Parsing date-times ----

TEST_F(DateFormatTest, DateTimesDatesAndTimesAlone) {
  EXPECT_EQ(StrToDateTime("2002-07-02 09:05:07"), At(2002, 7, 2, 9, 5, 7));
  EXPECT_EQ(StrToDateTime("2002-07-02"), At(2002, 7, 2));
  EXPECT_EQ(StrToDateTime(" 2002-07-02  9:05 pm "), At(2002, 7, 2, 21, 5));
  EXPECT_EQ(StrToDateTime("2002-07-02 09:05:07.045"), At(2002, 7, 2, 9, 5, 7, 45));
  EXPECT_EQ(StrToDateTime("09:05"), EncodeTime(9, 5, 0, 0));
  EXPECT_EQ(StrToDateTime("7-2 10:00"), At(2025, 7, 2, 10, 0));
  // Before 1899-12-30 the time still counts forward from the start of the day.
  EXPECT_EQ(StrToDateTime("1899-12-29 06:00"), -1.25);
  EXPECT_EQ(StrToDateTime("0001-01-01 12:00"), -693593.5);

  for (const char* text : {"", "2002-07-02 25:00", "2002-07-02 09:05 x", "2002-07-02x",
                           "2002-02-30 10:00", "10:00 2002-07-02", "2002-07-02 10:00:00:00"}) {
    TDateTime value;
    EXPECT_FALSE(TryStrToDateTime(text, value)) << "text '" << text << "'";
    EXPECT_EQ(ErrorText<EConvertError>([&] { StrToDateTime(text); }),
              std::string("'") + text + "' is not a valid date and time");
  }
}

// What DateTimeToStr writes, StrToDateTime reads back (to the second, which
// is what the long time format shows), under each locale.
TEST_F(DateFormatTest, DateTimeTextRoundTripsUnderEachLocale) {
  for (const TFormatSettings& settings :
       {DefaultFormatSettings(), UsSettings(), GermanSettings()}) {
    FormatSettings() = settings;
    for (TDateTime day = EncodeDate(1, 1, 1); day <= EncodeDate(9999, 12, 31); day += 997) {
      for (const TDateTime time :
           {0.0, EncodeTime(0, 0, 1, 0), EncodeTime(11, 59, 59, 0), EncodeTime(12, 0, 0, 0),
            EncodeTime(13, 7, 9, 0), EncodeTime(23, 59, 59, 0)}) {
        const TDateTime value = day < 0 ? day - time : day + time;
        const std::string text = DateTimeToStr(value);
        TDateTime back;
        ASSERT_TRUE(TryStrToDateTime(text, back)) << settings.ShortDateFormat << ": " << text;
        ASSERT_EQ(back, value) << text;
        ASSERT_EQ(StrToDate(DateToStr(value)), day) << text;
        ASSERT_EQ(StrToTime(TimeToStr(value)), time) << text;
      }
    }
  }
}

}  // namespace
}  // namespace jw
