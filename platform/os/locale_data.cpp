#include "platform/os/locale_data.h"

#include <unicode/uchar.h>
#include <unicode/udat.h>
#include <unicode/unum.h>

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "platform/os/code_pages.h"

namespace jw {
namespace {

constexpr TLocaleEntry kLocales[] = {
    {0x0401, 0, "ar_SA", nullptr, 1256},       {0x0402, 0, "bg_BG", nullptr, 1251},
    {0x0403, 0, "ca_ES", nullptr, 1252},       {0x0405, 0, "cs_CZ", nullptr, 1250},
    {0x0406, 0, "da_DK", nullptr, 1252},       {0x0407, 0, "de_DE", nullptr, 1252},
    {0x0408, 0, "el_GR", nullptr, 1253},       {0x0409, 0, "en_US", nullptr, 1252},
    {0x040A, 0, "es_ES", "traditional", 1252}, {0x040B, 0, "fi_FI", nullptr, 1252},
    {0x040C, 0, "fr_FR", nullptr, 1252},       {0x040D, 0, "he_IL", nullptr, 1255},
    {0x040E, 0, "hu_HU", nullptr, 1250},       {0x040F, 0, "is_IS", nullptr, 1252},
    {0x0410, 0, "it_IT", nullptr, 1252},       {0x0413, 0, "nl_NL", nullptr, 1252},
    {0x0414, 0, "nb_NO", nullptr, 1252},       {0x0415, 0, "pl_PL", nullptr, 1250},
    {0x0416, 0, "pt_BR", nullptr, 1252},       {0x0418, 0, "ro_RO", nullptr, 1250},
    {0x0419, 0, "ru_RU", nullptr, 1251},       {0x041A, 0, "hr_HR", nullptr, 1250},
    {0x041B, 0, "sk_SK", nullptr, 1250},       {0x041C, 0, "sq_AL", nullptr, 1250},
    {0x041D, 0, "sv_SE", nullptr, 1252},       {0x041E, 0, "th_TH", nullptr, 874},
    {0x041F, 0, "tr_TR", nullptr, 1254},       {0x0421, 0, "id_ID", nullptr, 1252},
    {0x0422, 0, "uk_UA", nullptr, 1251},       {0x0423, 0, "be_BY", nullptr, 1251},
    {0x0424, 0, "sl_SI", nullptr, 1250},       {0x0425, 0, "et_EE", nullptr, 1257},
    {0x0426, 0, "lv_LV", nullptr, 1257},       {0x0427, 0, "lt_LT", nullptr, 1257},
    {0x0429, 0, "fa_IR", nullptr, 1256},       {0x042A, 0, "vi_VN", nullptr, 1258},
    {0x042D, 0, "eu_ES", nullptr, 1252},       {0x0436, 0, "af_ZA", nullptr, 1252},
    {0x0438, 0, "fo_FO", nullptr, 1252},       {0x0801, 0, "ar_IQ", nullptr, 1256},
    {0x0807, 0, "de_CH", nullptr, 1252},       {0x0809, 0, "en_GB", nullptr, 1252},
    {0x080A, 0, "es_MX", nullptr, 1252},       {0x080C, 0, "fr_BE", nullptr, 1252},
    {0x0810, 0, "it_CH", nullptr, 1252},       {0x0813, 0, "nl_BE", nullptr, 1252},
    {0x0814, 0, "nn_NO", nullptr, 1252},       {0x0816, 0, "pt_PT", nullptr, 1252},
    {0x081A, 0, "sr_Latn_RS", nullptr, 1250},  {0x081D, 0, "sv_FI", nullptr, 1252},
    {0x0C01, 0, "ar_EG", nullptr, 1256},       {0x0C07, 0, "de_AT", nullptr, 1252},
    {0x0C09, 0, "en_AU", nullptr, 1252},       {0x0C0A, 0, "es_ES", nullptr, 1252},
    {0x0C0C, 0, "fr_CA", nullptr, 1252},       {0x0C1A, 0, "sr_Cyrl_RS", nullptr, 1251},
    {0x1001, 0, "ar_LY", nullptr, 1256},       {0x1007, 0, "de_LU", nullptr, 1252},
    {0x1009, 0, "en_CA", nullptr, 1252},       {0x100A, 0, "es_GT", nullptr, 1252},
    {0x100C, 0, "fr_CH", nullptr, 1252},       {0x1401, 0, "ar_DZ", nullptr, 1256},
    {0x1407, 0, "de_LI", nullptr, 1252},       {0x1409, 0, "en_NZ", nullptr, 1252},
    {0x140A, 0, "es_CR", nullptr, 1252},       {0x140C, 0, "fr_LU", nullptr, 1252},
    {0x1801, 0, "ar_MA", nullptr, 1256},       {0x1809, 0, "en_IE", nullptr, 1252},
    {0x180A, 0, "es_PA", nullptr, 1252},       {0x1C01, 0, "ar_TN", nullptr, 1256},
    {0x1C09, 0, "en_ZA", nullptr, 1252},       {0x1C0A, 0, "es_DO", nullptr, 1252},
    {0x2001, 0, "ar_OM", nullptr, 1256},       {0x2009, 0, "en_JM", nullptr, 1252},
    {0x200A, 0, "es_VE", nullptr, 1252},       {0x2401, 0, "ar_YE", nullptr, 1256},
    {0x2409, 0, "en_029", nullptr, 1252},      {0x240A, 0, "es_CO", nullptr, 1252},
    {0x2801, 0, "ar_SY", nullptr, 1256},       {0x2809, 0, "en_BZ", nullptr, 1252},
    {0x280A, 0, "es_PE", nullptr, 1252},       {0x2C01, 0, "ar_JO", nullptr, 1256},
    {0x2C09, 0, "en_TT", nullptr, 1252},       {0x2C0A, 0, "es_AR", nullptr, 1252},
    {0x3001, 0, "ar_LB", nullptr, 1256},       {0x300A, 0, "es_EC", nullptr, 1252},
    {0x3401, 0, "ar_KW", nullptr, 1256},       {0x340A, 0, "es_CL", nullptr, 1252},
    {0x3801, 0, "ar_AE", nullptr, 1256},       {0x380A, 0, "es_UY", nullptr, 1252},
    {0x3C01, 0, "ar_BH", nullptr, 1256},       {0x3C0A, 0, "es_PY", nullptr, 1252},
    {0x4001, 0, "ar_QA", nullptr, 1256},       {0x400A, 0, "es_BO", nullptr, 1252},
    {0x440A, 0, "es_SV", nullptr, 1252},       {0x480A, 0, "es_HN", nullptr, 1252},
    {0x4C0A, 0, "es_NI", nullptr, 1252},       {0x500A, 0, "es_PR", nullptr, 1252},
    {0x0407, 1, "de_DE", "phonebook", 1252},
};

// Item texts of one locale in UTF-16, empty where ICU gave nothing usable.
struct TLocaleTexts {
  std::u16string CurrencySymbol;
  std::u16string IntlCurrencySymbol;
  std::optional<int> CurrencyFormat;
  std::optional<int> NegativeCurrencyFormat;
  std::optional<int> CurrencyDigits;
  std::u16string ThousandSeparator;
  std::u16string DecimalSeparator;
  std::u16string DateSeparator;
  std::u16string ShortDateFormat;
  std::u16string LongDateFormat;
  std::u16string TimeSeparator;
  std::optional<int> HourLeadingZero;
  std::optional<int> Clock24;
  std::u16string AmSymbol;
  std::u16string PmSymbol;
  std::array<std::u16string, 7> DayNames;  // Monday first
  std::array<std::u16string, 7> AbbrevDayNames;
  std::array<std::u16string, 12> MonthNames;
  std::array<std::u16string, 12> AbbrevMonthNames;
};

struct DateFormatCloser {
  void operator()(UDateFormat* format) const { udat_close(format); }
};
struct NumberFormatCloser {
  void operator()(UNumberFormat* format) const { unum_close(format); }
};
using DateFormatPtr = std::unique_ptr<UDateFormat, DateFormatCloser>;
using NumberFormatPtr = std::unique_ptr<UNumberFormat, NumberFormatCloser>;

// Reads an ICU text through a call that takes a buffer and its capacity.
template <typename Call>
std::u16string ReadIcuText(Call call) {
  UChar buffer[256];
  UErrorCode status = U_ZERO_ERROR;
  const int32_t n = call(buffer, 256, &status);
  if (U_FAILURE(status) || n <= 0 || n > 256) return std::u16string();
  return std::u16string(reinterpret_cast<const char16_t*>(buffer), static_cast<size_t>(n));
}

// Bidirectional marks and other invisible format characters carry nothing a
// single-byte text can show.
std::u16string WithoutFormatChars(std::u16string_view text) {
  std::u16string result;
  for (const char16_t c : text) {
    if (u_charType(c) != U_FORMAT_CHAR) result.push_back(c);
  }
  return result;
}

bool IsBlank(char16_t c) {
  return c == u' ' || c == 0x00A0 || c == 0x202F || c == 0x2009;
}

bool IsPatternLetter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// Appends literal pattern text so that FormatDateTime copies it: text with
// letters or quotes is quoted, anything else stands as it is.
void AppendLiteral(std::u16string& out, std::u16string_view text) {
  const bool needs_quotes = std::any_of(text.begin(), text.end(), [](char16_t c) {
    return IsPatternLetter(c) || c == u'"' || c == u'\'';
  });
  if (!needs_quotes) {
    out += text;
    return;
  }
  const char16_t quote = text.find(u'"') == std::u16string_view::npos ? u'"' : u'\'';
  out.push_back(quote);
  out += text;
  out.push_back(quote);
}

// An ICU date pattern in FormatDateTime's letters. Years are always written
// with four digits, so a date written in a table's locale reads back as the
// same date; eras and fields FormatDateTime does not know are left out.
std::u16string ConvertDatePattern(std::u16string_view pattern) {
  std::u16string out;
  std::u16string literal;
  size_t i = 0;
  while (i < pattern.size()) {
    const char16_t c = pattern[i];
    if (c == u'\'') {
      if (i + 1 < pattern.size() && pattern[i + 1] == u'\'') {
        literal.push_back(u'\'');
        i += 2;
        continue;
      }
      size_t end = i + 1;
      while (end < pattern.size()) {
        if (pattern[end] == u'\'' && end + 1 < pattern.size() && pattern[end + 1] == u'\'') {
          literal.push_back(u'\'');
          end += 2;
        } else if (pattern[end] == u'\'') {
          break;
        } else {
          literal.push_back(pattern[end++]);
        }
      }
      i = end + 1;
      continue;
    }
    if (!IsPatternLetter(c)) {
      literal.push_back(IsBlank(c) ? u' ' : c);
      ++i;
      continue;
    }
    size_t run = 1;
    while (i + run < pattern.size() && pattern[i + run] == c) ++run;
    i += run;
    std::u16string field;
    switch (c) {
      case u'y':
      case u'u':
        field = u"yyyy";
        break;
      case u'M':
      case u'L':
        field = run == 1 ? u"m" : run == 2 ? u"mm" : run == 3 ? u"mmm" : u"mmmm";
        break;
      case u'd':
        field = run == 1 ? u"d" : u"dd";
        break;
      case u'E':
      case u'c':
      case u'e':
        field = run <= 3 ? u"ddd" : u"dddd";
        break;
      default:
        break;
    }
    if (field.empty()) {
      // A dropped field takes one neighbouring blank with it.
      if (!literal.empty() && literal.back() == u' ') {
        literal.pop_back();
      } else if (i < pattern.size() && IsBlank(pattern[i])) {
        ++i;
      }
      continue;
    }
    AppendLiteral(out, literal);
    literal.clear();
    out += field;
  }
  AppendLiteral(out, literal);
  while (!out.empty() && out.back() == u' ') out.pop_back();
  while (!out.empty() && out.front() == u' ') out.erase(0, 1);
  return out;
}

// The first separator of a pattern outside quotes: the first character
// that is neither a letter nor a blank, else a blank when there is one.
std::u16string PatternSeparator(std::u16string_view pattern) {
  bool quoted = false;
  bool blank = false;
  for (const char16_t c : pattern) {
    if (c == u'\'') {
      quoted = !quoted;
    } else if (!quoted && IsBlank(c)) {
      blank = true;
    } else if (!quoted && !IsPatternLetter(c)) {
      return std::u16string(1, c);
    }
  }
  return blank ? u" " : u"";
}

// A currency pattern reduced to its layout: '$' the symbol, 'n' the number,
// '-', '(' and ')', and ' ' for a blank between them.
std::string CurrencyLayout(std::u16string_view pattern) {
  std::string layout;
  bool quoted = false;
  for (const char16_t c : pattern) {
    char symbol = 0;
    if (c == u'\'') {
      quoted = !quoted;
    } else if (quoted) {
      continue;
    } else if (c == 0x00A4) {
      symbol = '$';
    } else if (c == u'#' || c == u'0' || c == u',' || c == u'.') {
      symbol = 'n';
    } else if (IsBlank(c)) {
      symbol = ' ';
    } else if (c == u'-' || c == u'(' || c == u')') {
      symbol = static_cast<char>(c);
    }
    if (symbol != 0 && (layout.empty() || layout.back() != symbol)) layout.push_back(symbol);
  }
  return layout;
}

std::optional<int> LayoutIndex(const std::string& layout, std::span<const std::string_view> table) {
  for (size_t i = 0; i < table.size(); ++i) {
    if (table[i] == layout) return static_cast<int>(i);
  }
  return std::nullopt;
}

// The positive and negative currency formats as the host's numbers.
constexpr std::string_view kPositiveLayouts[] = {"$n", "n$", "$ n", "n $"};
constexpr std::string_view kNegativeLayouts[] = {"($n)", "-$n",  "$-n",   "$n-",  "(n$)", "-n$",
                                                 "n-$",  "n$-",  "-n $",  "-$ n", "n $-", "$ n-",
                                                 "$ -n", "n- $", "($ n)", "(n $)"};

void ReadNumberItems(const std::string& locale, TLocaleTexts& texts) {
  UErrorCode status = U_ZERO_ERROR;
  NumberFormatPtr format(unum_open(UNUM_CURRENCY, nullptr, 0, locale.c_str(), nullptr, &status));
  if (U_FAILURE(status) || !format) return;
  UNumberFormat* f = format.get();
  auto symbol = [f](UNumberFormatSymbol which) {
    return ReadIcuText([f, which](UChar* b, int32_t n, UErrorCode* s) {
      return unum_getSymbol(f, which, b, n, s);
    });
  };
  texts.CurrencySymbol = WithoutFormatChars(symbol(UNUM_CURRENCY_SYMBOL));
  texts.IntlCurrencySymbol = WithoutFormatChars(symbol(UNUM_INTL_CURRENCY_SYMBOL));
  texts.DecimalSeparator = WithoutFormatChars(symbol(UNUM_MONETARY_SEPARATOR_SYMBOL));
  if (texts.DecimalSeparator.empty()) {
    texts.DecimalSeparator = WithoutFormatChars(symbol(UNUM_DECIMAL_SEPARATOR_SYMBOL));
  }
  texts.ThousandSeparator = WithoutFormatChars(symbol(UNUM_GROUPING_SEPARATOR_SYMBOL));
  const int32_t digits = unum_getAttribute(f, UNUM_MAX_FRACTION_DIGITS);
  if (digits >= 0 && digits <= 9) texts.CurrencyDigits = digits;

  const std::u16string pattern = WithoutFormatChars(ReadIcuText(
      [f](UChar* b, int32_t n, UErrorCode* s) { return unum_toPattern(f, false, b, n, s); }));
  const size_t split = pattern.find(u';');
  const std::u16string positive = pattern.substr(0, split);
  const std::u16string negative =
      split == std::u16string::npos ? u"-" + positive : pattern.substr(split + 1);
  texts.CurrencyFormat = LayoutIndex(CurrencyLayout(positive), kPositiveLayouts);
  texts.NegativeCurrencyFormat = LayoutIndex(CurrencyLayout(negative), kNegativeLayouts);
}

DateFormatPtr OpenDateFormat(const std::string& locale, UDateFormatStyle time,
                             UDateFormatStyle date) {
  UErrorCode status = U_ZERO_ERROR;
  DateFormatPtr format(udat_open(time, date, locale.c_str(), nullptr, 0, nullptr, 0, &status));
  if (U_FAILURE(status)) format.reset();
  return format;
}

std::u16string DatePattern(UDateFormat* format) {
  return WithoutFormatChars(ReadIcuText([format](UChar* b, int32_t n, UErrorCode* s) {
    return udat_toPattern(format, false, b, n, s);
  }));
}

std::u16string DateSymbol(UDateFormat* format, UDateFormatSymbolType type, int32_t index) {
  return WithoutFormatChars(ReadIcuText([=](UChar* b, int32_t n, UErrorCode* s) {
    return udat_getSymbols(format, type, index, b, n, s);
  }));
}

void ReadDateItems(const std::string& locale, TLocaleTexts& texts) {
  if (const DateFormatPtr format = OpenDateFormat(locale, UDAT_NONE, UDAT_SHORT)) {
    const std::u16string pattern = DatePattern(format.get());
    texts.ShortDateFormat = ConvertDatePattern(pattern);
    texts.DateSeparator = PatternSeparator(pattern);
    texts.AmSymbol = DateSymbol(format.get(), UDAT_AM_PMS, 0);
    texts.PmSymbol = DateSymbol(format.get(), UDAT_AM_PMS, 1);
    for (int i = 0; i < 12; ++i) {
      texts.MonthNames[i] = DateSymbol(format.get(), UDAT_MONTHS, i);
      texts.AbbrevMonthNames[i] = DateSymbol(format.get(), UDAT_SHORT_MONTHS, i);
    }
    // ICU counts weekdays from 1 = Sunday; the items count from Monday.
    for (int i = 0; i < 7; ++i) {
      const int32_t icu_day = (i + 1) % 7 + 1;
      texts.DayNames[i] = DateSymbol(format.get(), UDAT_WEEKDAYS, icu_day);
      texts.AbbrevDayNames[i] = DateSymbol(format.get(), UDAT_SHORT_WEEKDAYS, icu_day);
    }
  }
  if (const DateFormatPtr format = OpenDateFormat(locale, UDAT_NONE, UDAT_LONG)) {
    texts.LongDateFormat = ConvertDatePattern(DatePattern(format.get()));
  }
  if (const DateFormatPtr format = OpenDateFormat(locale, UDAT_MEDIUM, UDAT_NONE)) {
    const std::u16string pattern = DatePattern(format.get());
    const size_t hour = pattern.find_first_of(u"HhKk");
    if (hour != std::u16string::npos) {
      const char16_t letter = pattern[hour];
      texts.Clock24 = letter == u'H' || letter == u'k' ? 1 : 0;
      texts.HourLeadingZero = hour + 1 < pattern.size() && pattern[hour + 1] == letter ? 1 : 0;
      texts.TimeSeparator = PatternSeparator(pattern.substr(hour));
    }
  }
}

TLocaleTexts ReadLocaleTexts(const TLocaleEntry& entry) {
  // Engine values are Gregorian dates and ASCII digits whatever the locale.
  const std::string locale = std::string(entry.IcuLocale) + "@calendar=gregorian;numbers=latn";
  TLocaleTexts texts;
  ReadNumberItems(locale, texts);
  ReadDateItems(locale, texts);
  return texts;
}

const TLocaleTexts& LocaleTexts(const TLocaleEntry& entry) {
  static std::mutex lock;
  static std::map<const TLocaleEntry*, TLocaleTexts> cache;
  const std::lock_guard<std::mutex> guard(lock);
  auto it = cache.find(&entry);
  if (it == cache.end()) it = cache.emplace(&entry, ReadLocaleTexts(entry)).first;
  return it->second;
}

// Thin and narrow spaces have no byte in these code pages; the no-break
// space stands in for them as it did in older locale data.
bool EncodeText(const TCodePage& page, std::u16string text, std::string& value) {
  for (char16_t& c : text) {
    uint8_t unused = 0;
    if (IsBlank(c) && !page.FromUnicode(c, unused)) c = 0x00A0;
  }
  if (text.empty() || !page.Encode(text, value)) {
    value.clear();
    return false;
  }
  return true;
}

bool NumberText(std::optional<int> number, std::string& value) {
  if (!number) return false;
  value = std::to_string(*number);
  return true;
}

}  // namespace

std::span<const TLocaleEntry> LocaleEntries() {
  return kLocales;
}

const TLocaleEntry* FindLocale(uint32_t lcid) {
  const uint16_t language = static_cast<uint16_t>(lcid & 0xFFFF);
  const uint32_t sort = lcid >> 16;
  for (const TLocaleEntry& entry : kLocales) {
    if (entry.LanguageId == language && entry.SortId == sort) return &entry;
  }
  return nullptr;
}

bool IsValidLocale(uint32_t lcid) {
  return FindLocale(lcid) != nullptr;
}

bool GetLocaleInfoA(uint32_t lcid, TLocaleItem item, int index, std::string& value) {
  value.clear();
  const TLocaleEntry* entry = FindLocale(lcid);
  if (entry == nullptr) return false;
  const TLocaleTexts& texts = LocaleTexts(*entry);
  const TCodePage& page = CodePage(entry->CodePage);
  auto indexed = [&](const auto& names) {
    if (index < 1 || index > static_cast<int>(names.size())) return false;
    return EncodeText(page, names[static_cast<size_t>(index - 1)], value);
  };
  switch (item) {
    case TLocaleItem::CurrencySymbol:
      return EncodeText(page, texts.CurrencySymbol, value) ||
             EncodeText(page, texts.IntlCurrencySymbol, value);
    case TLocaleItem::CurrencyFormat:
      return NumberText(texts.CurrencyFormat, value);
    case TLocaleItem::NegativeCurrencyFormat:
      return NumberText(texts.NegativeCurrencyFormat, value);
    case TLocaleItem::ThousandSeparator:
      return EncodeText(page, texts.ThousandSeparator, value);
    case TLocaleItem::DecimalSeparator:
      return EncodeText(page, texts.DecimalSeparator, value);
    case TLocaleItem::CurrencyDigits:
      return NumberText(texts.CurrencyDigits, value);
    case TLocaleItem::DateSeparator:
      return EncodeText(page, texts.DateSeparator, value);
    case TLocaleItem::ShortDateFormat:
      return EncodeText(page, texts.ShortDateFormat, value);
    case TLocaleItem::LongDateFormat:
      return EncodeText(page, texts.LongDateFormat, value);
    case TLocaleItem::TimeSeparator:
      return EncodeText(page, texts.TimeSeparator, value);
    case TLocaleItem::HourLeadingZero:
      return NumberText(texts.HourLeadingZero, value);
    case TLocaleItem::Clock24:
      return NumberText(texts.Clock24, value);
    case TLocaleItem::AmSymbol:
      return EncodeText(page, texts.AmSymbol, value);
    case TLocaleItem::PmSymbol:
      return EncodeText(page, texts.PmSymbol, value);
    case TLocaleItem::DayName:
      return indexed(texts.DayNames);
    case TLocaleItem::AbbrevDayName:
      return indexed(texts.AbbrevDayNames);
    case TLocaleItem::MonthName:
      return indexed(texts.MonthNames);
    case TLocaleItem::AbbrevMonthName:
      return indexed(texts.AbbrevMonthNames);
  }
  return false;
}

}  // namespace jw
