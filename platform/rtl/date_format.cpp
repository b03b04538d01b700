#include "platform/rtl/date_format.h"

#include "platform/rtl/exceptions.h"
#include "platform/rtl/format_settings.h"
#include "platform/rtl/strings.h"

namespace jw {

namespace {

char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsAsciiLetter(char c) {
  return UpperAscii(c) >= 'A' && UpperAscii(c) <= 'Z';
}

bool StartsWithText(std::string_view s, size_t pos, std::string_view prefix) {
  return s.size() - pos >= prefix.size() && SameText(s.substr(pos, prefix.size()), prefix);
}

// ---- Formatting ----

// A format named by a format (c, ddddd, dddddd, t, tt) is expanded, but not
// one named inside that: a short date format of "c" must not recurse.
constexpr int kMaxFormatLevel = 2;

class DateTimeWriter {
 public:
  explicit DateTimeWriter(TDateTime value) : settings_(FormatSettings()) {
    DecodeDateTime(value, year_, month_, day_, hour_, min_, sec_, msec_);
    day_of_week_ = DayOfWeek(value);
  }

  void Append(std::string_view format, int level);
  std::string Take() { return std::move(out_); }

 private:
  void AppendNumber(int value, int min_digits) {
    const std::string digits = IntToStr(value);
    if (static_cast<int>(digits.size()) < min_digits) {
      out_.append(min_digits - digits.size(), '0');
    }
    out_ += digits;
  }
  void AppendNested(std::string_view format, int level) {
    if (level < kMaxFormatLevel) Append(format, level + 1);
  }
  bool IsMidnight() const { return hour_ == 0 && min_ == 0 && sec_ == 0 && msec_ == 0; }
  static bool UsesTwelveHourClock(std::string_view format, size_t from);

  const TFormatSettings& settings_;
  int year_, month_, day_, hour_, min_, sec_, msec_, day_of_week_;
  std::string out_;
};

// An hour is shown on the 12-hour clock when the next am/pm specifier comes
// before the next hour specifier; quoted text is skipped.
bool DateTimeWriter::UsesTwelveHourClock(std::string_view format, size_t from) {
  char quote = 0;
  for (size_t i = from; i < format.size(); ++i) {
    const char c = format[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == 'a' || c == 'A') {
      return StartsWithText(format, i, "am/pm") || StartsWithText(format, i, "a/p") ||
             StartsWithText(format, i, "ampm");
    } else if (c == 'h' || c == 'H') {
      return false;
    }
  }
  return false;
}

void DateTimeWriter::Append(std::string_view format, int level) {
  char last_letter = 0;
  size_t i = 0;
  while (i < format.size()) {
    const char c = format[i];
    char token = UpperAscii(c);
    if (IsAsciiLetter(c)) {
      if (token == 'M' && last_letter == 'H') token = 'N';
      last_letter = token;
    }
    size_t count = 1;
    while (i + count < format.size() && format[i + count] == c) ++count;
    switch (token) {
      case 'Y':
        if (count <= 2) {
          AppendNumber(year_ % 100, 2);
        } else {
          AppendNumber(year_, 4);
        }
        i += count;
        break;
      case 'M':
        if (count <= 2) {
          AppendNumber(month_, static_cast<int>(count));
        } else if (count == 3) {
          out_ += settings_.ShortMonthNames[month_ - 1];
        } else {
          out_ += settings_.LongMonthNames[month_ - 1];
        }
        i += count;
        break;
      case 'D':
        if (count <= 2) {
          AppendNumber(day_, static_cast<int>(count));
        } else if (count == 3) {
          out_ += settings_.ShortDayNames[day_of_week_ - 1];
        } else if (count == 4) {
          out_ += settings_.LongDayNames[day_of_week_ - 1];
        } else if (count == 5) {
          AppendNested(settings_.ShortDateFormat, level);
        } else {
          AppendNested(settings_.LongDateFormat, level);
        }
        i += count;
        break;
      case 'H': {
        int hour = hour_;
        if (UsesTwelveHourClock(format, i + count)) {
          hour %= 12;
          if (hour == 0) hour = 12;
        }
        AppendNumber(hour, count >= 2 ? 2 : 1);
        i += count;
        break;
      }
      case 'N':
        AppendNumber(min_, count >= 2 ? 2 : 1);
        i += count;
        break;
      case 'S':
        AppendNumber(sec_, count >= 2 ? 2 : 1);
        i += count;
        break;
      case 'Z':
        AppendNumber(msec_, count >= 3 ? 3 : static_cast<int>(count));
        i += count;
        break;
      case 'T':
        AppendNested(count == 1 ? settings_.ShortTimeFormat : settings_.LongTimeFormat, level);
        i += count;
        break;
      case 'C':
        AppendNested(settings_.ShortDateFormat, level);
        if (!IsMidnight()) {
          out_ += ' ';
          AppendNested(settings_.LongTimeFormat, level);
        }
        i += count;
        break;
      case 'A': {
        // Only the last letter of a run can open an am/pm specifier (its
        // next letter is "m" or "/"); the others are copied at once, so that
        // a long run costs no more than its length.
        out_.append(count - 1, c);
        i += count - 1;
        const bool afternoon = hour_ >= 12;
        if (StartsWithText(format, i, "am/pm")) {
          out_ += format.substr(afternoon ? i + 3 : i, 2);
          i += 5;
        } else if (StartsWithText(format, i, "a/p")) {
          out_ += format[afternoon ? i + 2 : i];
          i += 3;
        } else if (StartsWithText(format, i, "ampm")) {
          out_ += afternoon ? settings_.TimePMString : settings_.TimeAMString;
          i += 4;
        } else {
          out_ += c;
          ++i;
        }
        break;
      }
      case '/':
        out_.append(count, settings_.DateSeparator);
        i += count;
        break;
      case ':':
        out_.append(count, settings_.TimeSeparator);
        i += count;
        break;
      case '\'':
      case '"': {
        // Each pair in a run of one quote is an empty literal.
        i += count - count % 2;
        if (count % 2 == 0) break;
        // An unclosed quote runs to the end of the format.
        const size_t end = format.find(c, i + 1);
        const size_t stop = end == std::string_view::npos ? format.size() : end;
        out_ += format.substr(i + 1, stop - i - 1);
        i = end == std::string_view::npos ? format.size() : end + 1;
        break;
      }
      default:
        out_.append(count, c);
        i += count;
        break;
    }
  }
}

// ---- Parsing ----

enum class DateOrder { kMonthDayYear, kDayMonthYear, kYearMonthDay };

// The position of the next day, month or year letter of a date format at or
// after `from` (which stands outside quoted text), or npos.
size_t NextDateLetter(std::string_view format, size_t from) {
  char quote = 0;
  for (size_t i = from; i < format.size(); ++i) {
    const char c = format[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (const char letter = UpperAscii(c); letter == 'D' || letter == 'M' || letter == 'Y') {
      return i;
    }
  }
  return std::string_view::npos;
}

// The first day, month or year letter of the short date format gives the
// order of the fields.
DateOrder ShortDateOrder() {
  const std::string& format = FormatSettings().ShortDateFormat;
  const size_t first = NextDateLetter(format, 0);
  if (first == std::string_view::npos) return DateOrder::kMonthDayYear;
  switch (UpperAscii(format[first])) {
    case 'Y':
      return DateOrder::kYearMonthDay;
    case 'D':
      return DateOrder::kDayMonthYear;
    default:
      return DateOrder::kMonthDayYear;
  }
}

// The text, without its blanks around, that the short date format writes
// after its last day, month or year field (some locales end a date with a
// word of their own); empty when it writes none.
std::string ShortDateSuffix() {
  const std::string& format = FormatSettings().ShortDateFormat;
  size_t tail = format.size();
  for (size_t at = NextDateLetter(format, 0); at != std::string_view::npos;
       at = NextDateLetter(format, at + 1)) {
    tail = at + 1;
  }
  if (tail == format.size()) return std::string();
  return Trim(FormatDateTime(std::string_view(format).substr(tail), 0));
}

int CurrentYear() {
  int year, month, day;
  DecodeDate(Now(), year, month, day);
  return year;
}

// A year written with one or two digits: the one in the 100 years from 50
// before the current year to 49 after it.
int WindowYear(int two_digit_year) {
  const int first = CurrentYear() - 50;
  int year = two_digit_year + first / 100 * 100;
  if (year < first) year += 100;
  return year;
}

// A cursor over the text. Blanks may stand before every number, separator
// and AM/PM word, and at the end.
class TextScanner {
 public:
  explicit TextScanner(std::string_view text) : text_(text) {}

  // One to four decimal digits; `digits` tells how many were written.
  bool Number(int& value, int& digits) {
    SkipBlanks();
    value = 0;
    digits = 0;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
      if (++digits > 4) return false;
      value = value * 10 + (text_[pos_++] - '0');
    }
    return digits > 0;
  }
  bool Char(char c) {
    const size_t start = pos_;
    SkipBlanks();
    if (c == ' ') return pos_ > start;  // a blank separator is any run of blanks
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  // Case-insensitive; an empty word never matches.
  bool Word(std::string_view word) {
    SkipBlanks();
    if (word.empty() || !StartsWithText(text_, pos_, word)) return false;
    pos_ += word.size();
    return true;
  }
  bool AtEnd() {
    SkipBlanks();
    return pos_ == text_.size();
  }

 private:
  void SkipBlanks() {
    while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
  }

  std::string_view text_;
  size_t pos_ = 0;
};

bool ScanDate(TextScanner& scanner, TDateTime& result) {
  const char separator = FormatSettings().DateSeparator;
  int numbers[3], digits[3];
  if (!scanner.Number(numbers[0], digits[0]) || !scanner.Char(separator) ||
      !scanner.Number(numbers[1], digits[1])) {
    return false;
  }
  const DateOrder order = ShortDateOrder();
  int year, month, day;
  if (scanner.Char(separator)) {
    if (!scanner.Number(numbers[2], digits[2])) return false;
    // Some locales end a date with its separator ("2002. 07. 02.") or with
    // a word of their own (Bulgarian dates end in "г.").
    if (!scanner.Word(ShortDateSuffix())) scanner.Char(separator);
    const int year_at = order == DateOrder::kYearMonthDay ? 0 : 2;
    const int month_at = order == DateOrder::kMonthDayYear ? 0 : 1;
    year = numbers[year_at];
    month = numbers[month_at];
    day = numbers[3 - year_at - month_at];
    if (digits[year_at] <= 2) year = WindowYear(year);
  } else {
    const int month_at = order == DateOrder::kDayMonthYear ? 1 : 0;
    year = CurrentYear();
    month = numbers[month_at];
    day = numbers[1 - month_at];
  }
  return TryEncodeDate(year, month, day, result);
}

// -1 when no AM/PM word stands here, else 0 (AM) or 12 (PM).
int ScanHalfOfDay(TextScanner& scanner) {
  const TFormatSettings& settings = FormatSettings();
  if (scanner.Word(settings.TimeAMString) || scanner.Word("AM")) return 0;
  if (scanner.Word(settings.TimePMString) || scanner.Word("PM")) return 12;
  return -1;
}

bool ScanTime(TextScanner& scanner, TDateTime& result) {
  const TFormatSettings& settings = FormatSettings();
  int base_hour = ScanHalfOfDay(scanner);
  int hour, min = 0, sec = 0, msec = 0, digits;
  if (!scanner.Number(hour, digits)) return false;
  if (scanner.Char(settings.TimeSeparator)) {
    if (!scanner.Number(min, digits)) return false;
    if (scanner.Char(settings.TimeSeparator)) {
      if (!scanner.Number(sec, digits)) return false;
      if (scanner.Char(settings.DecimalSeparator)) {
        // A fraction of a second: ".5" is 500 ms, ".05" 50 ms.
        if (!scanner.Number(msec, digits) || digits > 3) return false;
        for (; digits < 3; ++digits) msec *= 10;
      }
    }
  }
  if (base_hour < 0) base_hour = ScanHalfOfDay(scanner);
  if (base_hour >= 0) {
    if (hour < 1 || hour > 12) return false;
    hour = hour % 12 + base_hour;
  }
  return TryEncodeTime(hour, min, sec, msec, result);
}

[[noreturn]] void RaiseNotValid(std::string_view text, const char* what) {
  throw EConvertError("'" + std::string(text) + "' is not a valid " + what);
}

}  // namespace

std::string FormatDateTime(std::string_view format, TDateTime value) {
  DateTimeWriter writer(value);
  writer.Append(format.empty() ? std::string_view("c") : format, 1);
  return writer.Take();
}

std::string DateToStr(TDateTime value) {
  return FormatDateTime("ddddd", value);
}

std::string TimeToStr(TDateTime value) {
  return FormatDateTime("tt", value);
}

std::string DateTimeToStr(TDateTime value) {
  return FormatDateTime("c", value);
}

bool TryStrToDate(std::string_view text, TDateTime& result) {
  TextScanner scanner(text);
  return ScanDate(scanner, result) && scanner.AtEnd();
}

bool TryStrToTime(std::string_view text, TDateTime& result) {
  TextScanner scanner(text);
  return ScanTime(scanner, result) && scanner.AtEnd();
}

bool TryStrToDateTime(std::string_view text, TDateTime& result) {
  TextScanner scanner(text);
  TDateTime date;
  if (ScanDate(scanner, date)) {
    if (scanner.AtEnd()) {
      result = date;
      return true;
    }
    TDateTime time;
    if (ScanTime(scanner, time) && scanner.AtEnd()) {
      // Before 1899-12-30 the fraction still counts forward into the day.
      result = date < 0 ? date - time : date + time;
      return true;
    }
  }
  return TryStrToTime(text, result);
}

TDateTime StrToDate(std::string_view text) {
  TDateTime result;
  if (!TryStrToDate(text, result)) RaiseNotValid(text, "date");
  return result;
}

TDateTime StrToTime(std::string_view text) {
  TDateTime result;
  if (!TryStrToTime(text, result)) RaiseNotValid(text, "time");
  return result;
}

TDateTime StrToDateTime(std::string_view text) {
  TDateTime result;
  if (!TryStrToDateTime(text, result)) RaiseNotValid(text, "date and time");
  return result;
}

}  // namespace jw
