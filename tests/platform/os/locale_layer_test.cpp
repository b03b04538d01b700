#include <gtest/gtest.h>

#include <unicode/ucol.h>

#include <set>
#include <string>

#include "platform/os/code_pages.h"
#include "platform/os/collation.h"
#include "platform/os/locale_data.h"
#include "platform/rtl/date_format.h"

namespace jw {
namespace {

TEST(LocaleTable, EveryEntryHasACollatorForItsLocaleAndSort) {
  std::set<uint32_t> lcids;
  for (const TLocaleEntry& entry : LocaleEntries()) {
    const uint32_t lcid = (uint32_t{entry.SortId} << 16) | entry.LanguageId;
    EXPECT_TRUE(lcids.insert(lcid).second) << lcid;
    std::string name = entry.IcuLocale;
    if (entry.IcuSortName != nullptr) name += std::string("@collation=") + entry.IcuSortName;
    UErrorCode status = U_ZERO_ERROR;
    UCollator* collator = ucol_open(name.c_str(), &status);
    ASSERT_TRUE(U_SUCCESS(status)) << name;
    if (entry.IcuSortName != nullptr) {
      // The variant is really there, not a fallback to the standard order.
      const char* valid = ucol_getLocaleByType(collator, ULOC_VALID_LOCALE, &status);
      EXPECT_NE(std::string(valid).find(entry.IcuSortName), std::string::npos) << name;
    }
    ucol_close(collator);
    EXPECT_EQ(CompareStringA(lcid, SORT_STRINGSORT, "a", -1, "b", -1), CSTR_LESS_THAN) << name;
    EXPECT_TRUE(IsValidLocale(lcid));
  }
  EXPECT_EQ(lcids.size(), 99u);
  EXPECT_TRUE(lcids.count(0x10407));
  EXPECT_FALSE(IsValidLocale(0));
  EXPECT_FALSE(IsValidLocale(0x0411));
  EXPECT_FALSE(IsValidLocale(0x10409));
  EXPECT_EQ(CompareStringA(0x0411, 0, "a", -1, "b", -1), 0);
}

TEST(LocaleTable, CodePagesByLanguage) {
  const std::pair<uint32_t, uint16_t> cases[] = {{0x0409, 1252}, {0x0415, 1250}, {0x0419, 1251},
                                                 {0x0408, 1253}, {0x041F, 1254}, {0x040D, 1255},
                                                 {0x0401, 1256}, {0x0429, 1256}, {0x0426, 1257},
                                                 {0x041E, 874},  {0x042A, 1258}, {0x10407, 1252}};
  for (const auto& [lcid, page] : cases) {
    ASSERT_NE(FindLocale(lcid), nullptr) << lcid;
    EXPECT_EQ(FindLocale(lcid)->CodePage, page) << lcid;
  }
}

TEST(CodePages, EveryByteRoundTripsAndCaseTablesKeepLength) {
  for (uint16_t number : {1252, 1250, 1251, 1253, 1254, 1255, 1256, 1257, 874, 1258}) {
    SCOPED_TRACE(number);
    const TCodePage& page = CodePage(number);
    for (int b = 0; b < 256; ++b) {
      uint8_t back = 0;
      ASSERT_TRUE(page.FromUnicode(page.ToUnicode(static_cast<uint8_t>(b)), back)) << b;
      ASSERT_EQ(back, b);
      const uint8_t up = page.Upper(static_cast<uint8_t>(b));
      const uint8_t low = page.Lower(static_cast<uint8_t>(b));
      ASSERT_EQ(page.Upper(up), up) << b;  // idempotent
      ASSERT_EQ(page.Lower(low), low) << b;
    }
    for (int b = 'a'; b <= 'z'; ++b) EXPECT_EQ(page.Upper(static_cast<uint8_t>(b)), b - 32);
    char text[] = "abc\xE9\xFF";
    char out[sizeof(text)];
    EXPECT_EQ(LCMapStringA(FindLocale(0x0409)->LanguageId, LCMAP_UPPERCASE, text, -1, out, 6), 6);
  }
}

TEST(CodePages, GoldenWesternCaseTable) {
  const TCodePage& page = CodePage(kWesternCodePage);
  EXPECT_EQ(page.Upper(0xE9), 0xC9);
  EXPECT_EQ(page.Upper(0xFF), 0x9F);
  EXPECT_EQ(page.Upper(0xDF), 0xDF);
  EXPECT_EQ(page.Upper(0xB5), 0xB5);  // micro sign: its capital has no byte
  EXPECT_EQ(page.Upper(0x9A), 0x8A);  // s caron
  EXPECT_EQ(page.Upper(0xF7), 0xF7);  // division sign
  EXPECT_EQ(page.Lower(0xC0), 0xE0);
  EXPECT_EQ(page.Lower(0x9F), 0xFF);
  EXPECT_EQ(page.Lower(0xD7), 0xD7);  // multiplication sign
  int changed = 0;
  for (int b = 0; b < 256; ++b) changed += page.Upper(static_cast<uint8_t>(b)) != b;
  // a-z, 0x9A 0x9C 0x9E 0xFF, 0xE0-0xFE without 0xF7.
  EXPECT_EQ(changed, 26 + 4 + 30);
  EXPECT_EQ(page.ToUnicode(0x80), u'\u20AC');
}

// Undefined bytes keep the converter's character where it has one (stored
// text collates by it), else U+F700 + byte.
TEST(CodePages, UndefinedBytesKeepTheConvertersCharacterOrAPrivateOne) {
  const struct {
    uint16_t page;
    uint8_t byte;
    char16_t character;
  } cases[] = {
      {1252, 0x81, 0x0081}, {1250, 0x98, 0x0098}, {1251, 0x98, 0x0098}, {874, 0xDB, 0xF8C1},
      {874, 0xFF, 0xF8C8},  {1253, 0xD2, 0xF7D2}, {1255, 0xFF, 0xF7FF}, {1257, 0xA1, 0xF7A1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.page << " byte " << int{c.byte});
    const TCodePage& page = CodePage(c.page);
    EXPECT_EQ(page.ToUnicode(c.byte), c.character);
    EXPECT_EQ(page.Upper(c.byte), c.byte);
  }
  EXPECT_THROW(CodePage(4242), std::exception);
}

TEST(CaseMapping, InPlaceAndSizeChecks) {
  char text[] = "h\xE9llo";
  EXPECT_EQ(LCMapStringA(0x0409, LCMAP_UPPERCASE, text, -1, text, sizeof(text)), 6);
  EXPECT_STREQ(text, "H\xC9LLO");
  char small[3];
  EXPECT_EQ(LCMapStringA(0x0409, LCMAP_LOWERCASE, text, -1, small, sizeof(small)), 0);
  EXPECT_EQ(LCMapStringA(0x0409, LCMAP_LOWERCASE | LCMAP_UPPERCASE, text, -1, text, 6), 0);
  char cyrillic[] = "\xE0\xFF";  // a, ya in code page 1251
  EXPECT_EQ(LCMapStringA(0x0419, LCMAP_UPPERCASE, cyrillic, 2, cyrillic, 2), 2);
  EXPECT_STREQ(cyrillic, "\xC0\xDF");
  char turkish[] = "i";  // the simple mapping is the same in every locale
  LCMapStringA(0x041F, LCMAP_UPPERCASE, turkish, -1, turkish, 2);
  EXPECT_STREQ(turkish, "I");
}

TEST(CompareString, FlagsSelectTheStrength) {
  const uint32_t us = 0x0409;
  const uint32_t marks = SORT_STRINGSORT | NORM_IGNORENONSPACE;
  EXPECT_EQ(CompareStringA(us, SORT_STRINGSORT, "e", -1, "\xE9", -1), CSTR_LESS_THAN);
  EXPECT_EQ(CompareStringA(us, marks, "e", -1, "\xE9", -1), CSTR_EQUAL);
  EXPECT_EQ(CompareStringA(us, marks, "e", -1, "E", -1), CSTR_LESS_THAN);
  EXPECT_EQ(CompareStringA(us, marks | NORM_IGNORECASE, "e", -1, "\xC9", -1), CSTR_EQUAL);
  EXPECT_EQ(CompareStringA(us, SORT_STRINGSORT, "ab", 1, "ac", 1), CSTR_EQUAL);
  EXPECT_EQ(CompareStringA(us, SORT_STRINGSORT, "a\0z", 3, "a", -1), CSTR_EQUAL);
  EXPECT_EQ(CompareStringA(us, SORT_STRINGSORT, "a", -2, "a", -1), 0);
  // Punctuation counts in a string sort and is skipped otherwise.
  EXPECT_NE(CompareStringA(us, SORT_STRINGSORT, "co-op", -1, "coop", -1), CSTR_EQUAL);
  EXPECT_EQ(CompareStringA(us, NORM_IGNORENONSPACE, "co-op", -1, "coop", -1), CSTR_EQUAL);
}

TEST(LocaleInfo, ItemsInTheLocaleCodePage) {
  std::string value;
  EXPECT_TRUE(GetLocaleInfoA(0x0407, TLocaleItem::DecimalSeparator, value));
  EXPECT_EQ(value, ",");
  EXPECT_TRUE(GetLocaleInfoA(0x0407, TLocaleItem::Clock24, value));
  EXPECT_EQ(value, "1");
  EXPECT_TRUE(GetLocaleInfoA(0x0409, TLocaleItem::Clock24, value));
  EXPECT_EQ(value, "0");
  EXPECT_TRUE(GetLocaleInfoA(0x0409, TLocaleItem::NegativeCurrencyFormat, value));
  EXPECT_EQ(value, "1");
  EXPECT_TRUE(GetLocaleInfoA(0x0409, TLocaleItem::DayName, 7, value));
  EXPECT_EQ(value, "Sunday");
  EXPECT_TRUE(GetLocaleInfoA(0x0409, TLocaleItem::AbbrevMonthName, 12, value));
  EXPECT_EQ(value, "Dec");
  EXPECT_FALSE(GetLocaleInfoA(0x0409, TLocaleItem::MonthName, 13, value));
  EXPECT_FALSE(GetLocaleInfoA(0x0411, TLocaleItem::MonthName, 1, value));
  // Thin spaces of newer locale data become the no-break space.
  EXPECT_TRUE(GetLocaleInfoA(0x040C, TLocaleItem::ThousandSeparator, value));
  EXPECT_EQ(value, "\xA0");
  // Lithuanian long dates quote their literal letters.
  EXPECT_TRUE(GetLocaleInfoA(0x0427, TLocaleItem::LongDateFormat, value));
  EXPECT_EQ(FormatDateTime(value, EncodeDate(2024, 3, 5)), "2024 m. March 5 d.") << value;
  // Eras are left out.
  EXPECT_TRUE(GetLocaleInfoA(0x0401, TLocaleItem::ShortDateFormat, value));
  EXPECT_EQ(value.find('G'), std::string::npos) << value;
  EXPECT_EQ(value.find('g'), std::string::npos) << value;
}

}  // namespace
}  // namespace jw
