#include "engine/support/language_settings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/support/engine_errors.h"
#include "engine/support/value_conversions.h"
#include "platform/os/locale_data.h"
#include "platform/rtl/date_format.h"
#include "platform/rtl/numbers.h"

namespace jw {
namespace {

constexpr uint16_t kGerman = 0x0407;

TEST(LocaleIds, PackLanguageAndSort) {
  EXPECT_EQ(MakeLcid(0x0407, 1), 0x10407u);
  EXPECT_EQ(MakeLcid(0x0409, 0), 0x0409u);
  EXPECT_EQ(MakeLangId(0x09, 0x01), 0x0409);
  EXPECT_EQ(MakeLangId(0x0A, 0x14), 0x500A);
  EXPECT_TRUE(IsKnownLanguage(0, 7));
  EXPECT_TRUE(IsKnownLanguage(kGerman, 1));
  EXPECT_FALSE(IsKnownLanguage(0x0409, 1));
  EXPECT_FALSE(IsKnownLanguage(0x0411, 0));
}

TEST(LanguageZero, SettingsAreTheFixedTableFieldByField) {
  TLanguageSettings s;
  s.CurrencyString = "junk";
  BuildLanguageSettings(0, 3, s);
  EXPECT_EQ(s.CurrencyString, "");
  EXPECT_EQ(s.CurrencyFormat, 0);
  EXPECT_EQ(s.NegCurrFormat, 0);
  EXPECT_EQ(s.ThousandSeparator, ',');
  EXPECT_EQ(s.DecimalSeparator, '.');
  EXPECT_EQ(s.CurrencyDecimals, 2);
  EXPECT_EQ(s.DateSeparator, '-');
  EXPECT_EQ(s.ShortDateFormat, "yyyy-mm-dd");
  EXPECT_EQ(s.LongDateFormat, "dddd, mmmm dd, yyyy");
  EXPECT_EQ(s.TimeSeparator, ':');
  EXPECT_EQ(s.TimeAMString, "AM");
  EXPECT_EQ(s.TimePMString, "PM");
  EXPECT_EQ(s.ShortTimeFormat, "hh:mm");
  EXPECT_EQ(s.LongTimeFormat, "hh:mm:ss");
  EXPECT_EQ(s.ShortMonthNames[0], "Jan");
  EXPECT_EQ(s.ShortMonthNames[11], "Dec");
  EXPECT_EQ(s.LongMonthNames[8], "September");
  EXPECT_EQ(s.ShortDayNames[0], "Sun");
  EXPECT_EQ(s.LongDayNames[6], "Saturday");
}

// The environment's locale must not reach language 0.
TEST(LanguageZero, DatesAndNumbersIgnoreTheEnvironmentLocale) {
  for (const char* lang : {"de_DE.UTF-8", "C", "fr_FR.UTF-8"}) {
    setenv("LANG", lang, 1);
    setenv("LC_ALL", lang, 1);
    std::setlocale(LC_ALL, "");
    TLanguageSwap swap(0, 0);
    EXPECT_EQ(DateToStr(EncodeDate(2024, 3, 5)), "2024-03-05") << lang;
    EXPECT_EQ(FloatToStr(1.5), "1.5") << lang;
    EXPECT_DOUBLE_EQ(StrToFloat("2.25"), 2.25) << lang;
    EXPECT_EQ(CompareLocaleStrings(0, 0, "a", true, 0, "B"), -1) << lang;
  }
  std::setlocale(LC_ALL, "C");
  unsetenv("LC_ALL");
}

TEST(LanguageOther, LocaleSettingsComeFromTheLocale) {
  TLanguageSettings de;
  BuildLanguageSettings(kGerman, 0, de);
  EXPECT_EQ(de.DecimalSeparator, ',');
  EXPECT_EQ(de.ThousandSeparator, '.');
  EXPECT_EQ(de.DateSeparator, '.');
  EXPECT_EQ(de.ShortDateFormat, "dd.mm.yyyy");
  EXPECT_EQ(de.CurrencyString, "\x80");  // the euro sign of code page 1252
  EXPECT_EQ(de.CurrencyFormat, 3);
  EXPECT_EQ(de.NegCurrFormat, 8);
  EXPECT_EQ(de.ShortTimeFormat, "hh:mm");  // 24-hour clock: no AMPM
  EXPECT_EQ(de.LongTimeFormat, "hh:mm:ss");
  EXPECT_EQ(de.LongMonthNames[2], "M\xE4rz");
  EXPECT_EQ(de.LongDayNames[0], "Sonntag");
  EXPECT_EQ(de.LongDayNames[1], "Montag");

  TLanguageSettings us;
  BuildLanguageSettings(0x0409, 0, us);
  EXPECT_EQ(us.ShortTimeFormat, "h:mm AMPM");
  EXPECT_EQ(us.LongTimeFormat, "h:mm:ss AMPM");
  EXPECT_EQ(us.CurrencyString, "$");
  EXPECT_EQ(us.CurrencyFormat, 0);
  EXPECT_EQ(us.ShortDateFormat, "m/d/yyyy");

  TLanguageSettings ru;
  BuildLanguageSettings(0x0419, 0, ru);
  EXPECT_EQ(ru.LongMonthNames[0].size(), 6u);  // "января" in code page 1251
  EXPECT_EQ(static_cast<uint8_t>(ru.LongMonthNames[0][0]), 0xFF);
}

// A date and time written in a table's locale read back in it, in every
// locale of the table (some end a date with a word of their own).
TEST(LanguageOther, DatesRoundTripThroughEveryTableLocale) {
  ASSERT_EQ(LocaleEntries().size(), 99u);
  for (const TLocaleEntry& entry : LocaleEntries()) {
    TLanguageSwap swap(entry.LanguageId, entry.SortId);
    for (const TDateTime date : {EncodeDate(1, 1, 1), EncodeDate(1931, 11, 7),
                                 EncodeDate(2003, 7, 4), EncodeDate(9999, 12, 31)}) {
      const TDateTime time = EncodeTime(13, 7, 9, 0);
      // Before 1899-12-30 the fraction still counts forward into the day.
      const TDateTime value = date < 0 ? date - time : date + time;
      const std::string date_text = DateToStr(date);
      const std::string text = DateTimeToStr(value);
      TDateTime back = 0;
      EXPECT_TRUE(TryStrToDate(date_text, back) && back == date)
          << entry.IcuLocale << " \"" << date_text << "\"";
      EXPECT_TRUE(TryStrToDateTime(text, back) && back == value)
          << entry.IcuLocale << " \"" << text << "\"";
    }
  }
}

TEST(LanguageSwap, SettingsAreRestoredWhenTheWorkThrows) {
  const TLanguageSettings before = FormatSettings();
  EXPECT_THROW(
      {
        TLanguageSwap swap(kGerman, 0);
        EXPECT_EQ(FormatSettings().DecimalSeparator, ',');
        throw std::runtime_error("work failed");
      },
      std::runtime_error);
  EXPECT_EQ(FormatSettings(), before);
}

TEST(LanguageSwap, LockIsHeldDuringTheWork) {
  std::atomic<bool> entered{false};
  std::thread waiter;
  {
    TLanguageSwap swap(kGerman, 0);
    waiter = std::thread([&entered] {
      LockLanguageSwap();
      entered = true;
      UnlockLanguageSwap();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(entered.load());
    EXPECT_EQ(FormatSettings().DecimalSeparator, ',');
  }
  waiter.join();
  EXPECT_TRUE(entered.load());
}

TEST(LanguageZeroCompare, PrefixCaseAndLength) {
  EXPECT_EQ(CompareLocaleStrings(0, 0, "abc", false, 0, "abcd"), -1);
  EXPECT_EQ(CompareLocaleStrings(0, 0, "abcd", false, 0, "abc"), 1);
  EXPECT_EQ(CompareLocaleStrings(0, 0, "a", false, 0, "A"), 1);
  EXPECT_EQ(CompareLocaleStrings(0, 0, "a", true, 0, "A"), 0);
  EXPECT_EQ(CompareLocaleStrings(0, 0, "\xE9t\xE9", true, 0, "\xC9T\xC9"), 0);
  EXPECT_EQ(CompareLocaleStrings(0, 0, "abX", false, 2, "abY"), 0);
  EXPECT_EQ(CompareLocaleStrings(0, 0, "ab", false, 3, "abc"), -1);
  EXPECT_EQ(CompareLocaleStrings(0, 0, "", false, 0, ""), 0);
  EXPECT_EQ(CompareBinary("a", "b", 1, false), -1);
  EXPECT_EQ(CompareBinary("a", "b", 1, true), 1);
  EXPECT_EQ(CompareBinary(nullptr, "b", 1, false), 1);
  EXPECT_EQ(CompareBinary("\xFF", "\x01", 1, false), 1);
  EXPECT_EQ(CompareCharByLanguage(0, 0, 'a', 'B'), 1);
}

TEST(LanguageZeroCompare, CaseInsensitiveCompareLeavesInputsAlone) {
  char s1[] = "hello";
  char s2[] = "HELLO";
  EXPECT_EQ(CompareLocaleStrings(0, 0, s1, true, 0, s2), 0);
  EXPECT_STREQ(s1, "hello");
  EXPECT_EQ(CompareLocaleStrings(kGerman, 0, s1, true, 0, s2), 0);
  EXPECT_STREQ(s1, "hello");
}

// Exact-size buffers without a terminating zero: the compare length keeps
// every read inside them (AddressSanitizer checks it).
TEST(LocaleCompare, ExplicitLengthStaysInsideTheBuffers) {
  for (uint16_t language : {uint16_t{0}, kGerman, uint16_t{0x0419}}) {
    std::vector<char> a = {'a', 'b', 'c'};
    std::vector<char> b = {'a', 'b', 'd'};
    EXPECT_EQ(CompareLocaleStrings(language, 0, a.data(), false, 3, b.data()), -1);
    EXPECT_EQ(CompareLocaleStrings(language, 0, a.data(), true, 2, b.data()), 0);
    std::vector<char> c = {'a', '\0', 'z'};
    EXPECT_EQ(CompareLocaleStrings(language, 0, c.data(), false, 3, a.data()), -1);
  }
}

TEST(LocaleCompare, UnknownLocaleRaisesLanguageError) {
  try {
    CompareLocaleStrings(0x0411, 0, "a", false, 0, "b");
    FAIL() << "no exception";
  } catch (const EQuireEngineError& e) {
    EXPECT_EQ(e.Code(), kErrLanguageDriver);
  }
}

TEST(LocaleLike, CharactersCompareByTheTableLocale) {
  struct Case {
    uint16_t language;
    const char* s;
    const char* pattern;
    bool match;
  };
  // 0xE4 and 0xC4 are a- and A-umlaut in code page 1252.
  const Case cases[] = {
      {kGerman, "\xE4rger", "a%", true},   // accents ignored
      {kGerman, "\xC4rger", "a%", false},  // case respected
      {kGerman, "\xC4rger", "A_ger", true},
      {kGerman, "Bar", "b%", false},
      {kGerman, "b\xE4r", "%a_", true},
      {kGerman, "", "%%", true},
      {kGerman, "abc", "_b", false},
      {0, "\xE4rger", "a%", false},  // language 0 compares bytes
      {0, "\xE4rger", "\xE4%", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LikeMatch(c.language, 0, c.s, c.pattern), c.match)
        << c.language << ": '" << c.s << "' LIKE '" << c.pattern << "'";
  }
}

TEST(LocaleLike, UnknownLocaleRaisesLanguageError) {
  try {
    LikeMatch(0x0411, 0, "a", "a");
    FAIL() << "no exception";
  } catch (const EQuireEngineError& e) {
    EXPECT_EQ(e.Code(), kErrLanguageDriver);
  }
}

struct LocaleCase {
  const char* name;
  uint16_t language;
  uint16_t sort;
};

constexpr LocaleCase kPropertyLocales[] = {
    {"en-US", 0x0409, 0},          {"de-DE", 0x0407, 0}, {"de-DE phone book", 0x0407, 1},
    {"es traditional", 0x040A, 0}, {"fr-FR", 0x040C, 0}, {"ru-RU", 0x0419, 0},
    {"tr-TR", 0x041F, 0},          {"el-GR", 0x0408, 0}, {"language 0", 0, 0}};

std::string RandomText(std::mt19937& random) {
  // Mostly letters, so that many pairs share prefixes and differ in case or
  // accents; some bytes from the whole range.
  static const char kAlphabet[] = "aAbBeE\xE9\xC9\xE4\xC4oO-  \xDF\xE0";
  std::string s(random() % 6, ' ');
  for (char& c : s) {
    c = random() % 4 == 0 ? static_cast<char>(1 + random() % 255)
                          : kAlphabet[random() % (sizeof(kAlphabet) - 1)];
  }
  return s;
}

int Samples() {
  return std::getenv("JW_LONG_TESTS") != nullptr ? 400 : 60;
}

TEST(LocaleCompare, OrderPropertiesOnRandomStrings) {
  for (const LocaleCase& locale : kPropertyLocales) {
    SCOPED_TRACE(locale.name);
    const uint32_t seed = std::random_device()();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::vector<std::string> texts;
    for (int i = 0; i < Samples(); ++i) texts.push_back(RandomText(random));
    for (bool ci : {false, true}) {
      auto cmp = [&](const std::string& a, const std::string& b) {
        return CompareLocaleStrings(locale.language, locale.sort, a.c_str(), ci, 0, b.c_str());
      };
      for (size_t i = 0; i < texts.size(); ++i) {
        for (size_t j = 0; j < texts.size(); ++j) {
          const int r = cmp(texts[i], texts[j]);
          ASSERT_TRUE(r == -1 || r == 0 || r == 1);
          ASSERT_EQ(r, -cmp(texts[j], texts[i])) << texts[i] << " / " << texts[j];
        }
      }
      for (int n = 0; n < Samples() * 4; ++n) {
        const std::string& a = texts[random() % texts.size()];
        const std::string& b = texts[random() % texts.size()];
        const std::string& c = texts[random() % texts.size()];
        if (cmp(a, b) <= 0 && cmp(b, c) <= 0) {
          ASSERT_LE(cmp(a, c), 0) << a << "/" << b << "/" << c;
        }
      }
      if (!ci) continue;
      // Case-insensitive equals the compare of upper-cased copies, and the
      // inputs stay as they were.
      for (size_t i = 0; i + 1 < texts.size(); ++i) {
        std::string a = texts[i];
        std::string b = texts[i + 1];
        const std::string a0 = a;
        const std::string b0 = b;
        const int r = cmp(a, b);
        EXPECT_EQ(a, a0);
        EXPECT_EQ(b, b0);
        std::string ua = a;
        std::string ub = b;
        UpperLocale(locale.language, locale.sort, a.c_str(), ua.data());
        UpperLocale(locale.language, locale.sort, b.c_str(), ub.data());
        EXPECT_EQ(r, cmp(ua, ub)) << a << "/" << b;
        if (locale.language == 0) {
          EXPECT_EQ(r, CompareLocaleStrings(0, 0, ua.c_str(), false, 0, ub.c_str()));
        }
      }
    }
  }
}

TEST(LocaleCompare, SortVariantsDiffer) {
  // Phone book German sorts a-umlaut as "ae"; the standard sort as "a".
  EXPECT_EQ(CompareLocaleStrings(kGerman, 1, "\xC4rger", false, 0, "Af"), -1);
  EXPECT_EQ(CompareLocaleStrings(kGerman, 0, "\xC4rger", false, 0, "Af"), 1);
  // Traditional Spanish sorts "ch" as a letter after "c".
  EXPECT_EQ(CompareLocaleStrings(0x040A, 0, "chico", false, 0, "cuna"), 1);
  EXPECT_EQ(CompareLocaleStrings(0x0C0A, 0, "chico", false, 0, "cuna"), -1);
  // Punctuation counts (string sort), accents do not, case does unless ignored.
  EXPECT_NE(CompareLocaleStrings(0x0409, 0, "a-b", false, 0, "ab"), 0);
  EXPECT_EQ(CompareLocaleStrings(0x0409, 0, "\xE9", false, 0, "e"), 0);
  EXPECT_NE(CompareLocaleStrings(0x0409, 0, "E", false, 0, "e"), 0);
  EXPECT_EQ(CompareLocaleStrings(0x0409, 0, "E", true, 0, "e"), 0);
  EXPECT_EQ(CompareCharByLanguage(0x0409, 0, 'a', 'B'), -1);
  EXPECT_EQ(CompareCharStringSort(0x0409, 'a', 'A'), -1);
}

TEST(CaseMapping, LanguageZeroIsUsEnglishAndKeepsLength) {
  char text[] =
      "stra\xDF"
      "e \xE9t\xE9 \xFF";
  UpperLocale(0, 0, text, text);
  EXPECT_STREQ(text,
               "STRA\xDF"
               "E \xC9T\xC9 \x9F");
  char lower[sizeof(text)];
  LowerLocale(0, 0, text, lower);
  EXPECT_STREQ(lower,
               "stra\xDF"
               "e \xE9t\xE9 \xFF");
  char greek[] = "\xE1\xE2";  // alpha, beta in code page 1253
  UpperLocale(0x0408, 0, greek, greek);
  EXPECT_STREQ(greek, "\xC1\xC2");
}

}  // namespace
}  // namespace jw
