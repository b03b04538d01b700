#include "engine/support/value_conversions.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/support/field_types.h"
#include "platform/rtl/date_format.h"
#include "platform/rtl/date_time.h"
#include "platform/rtl/format_settings.h"
#include "platform/rtl/strings.h"

namespace jw {
namespace {

// Stored sizes of the fixed-size forms.
int32_t StoredSize(uint8_t type) {
  switch (type) {
    case kFldBoolean:
    case kFldSmallInt:
    case kFldWord:
      return 2;
    case kFldDate:
    case kFldInteger:
    case kFldTime:
      return 4;
    case kFldFloat:
    case kFldBcd:
    case kFldTimeStamp:
      return 8;
    default:
      return 0;
  }
}

bool IsBytesType(uint8_t type) {
  return type == kFldBytes || type == kFldType15;
}

// A conversion step that cannot be carried out.
class EStepFailed : public Exception {
 public:
  EStepFailed() : Exception("conversion step failed") {}
};

// Writes an integer of the target integer type (boolean, smallint, word,
// integer); the caller has checked the value against the type's range.
void StoreInteger(void* buffer, uint8_t type, int64_t value) {
  switch (type) {
    case kFldBoolean:
    case kFldSmallInt:
      StoreValue<int16_t>(buffer, static_cast<int16_t>(static_cast<uint16_t>(value & 0xFFFF)));
      break;
    case kFldWord:
      StoreValue<uint16_t>(buffer, static_cast<uint16_t>(value & 0xFFFF));
      break;
    default:
      StoreValue<int32_t>(buffer, static_cast<int32_t>(value));
      break;
  }
}

// A whole number must lie in the target type's range, whatever its source:
// cut to the target's width it would be another number, and a restructure
// or CAST would change a stored value without a word.
void StoreCheckedInteger(void* buffer, uint8_t type, int64_t value) {
  int64_t low = std::numeric_limits<int32_t>::min();
  int64_t high = std::numeric_limits<int32_t>::max();
  if (type == kFldSmallInt) {
    low = -32768;
    high = 32767;
  } else if (type == kFldWord) {
    low = 0;
    high = 65535;
  }
  if (value < low || value > high) throw EStepFailed();
  StoreInteger(buffer, type, value);
}

int64_t TruncChecked(double value) {
  // Outside this range the value has no int64; NaN fails every comparison.
  if (!(value > -9223372036854775808.0 && value < 9223372036854775808.0)) throw EStepFailed();
  return static_cast<int64_t>(value);
}

// A text result: cut to the target size minus one, then its zero; the rest
// of the target's bytes cleared.
void StoreText(void* buffer, int32_t target_size, const std::string& text) {
  const int32_t room = std::max<int32_t>(0, std::min(target_size, kValueBufferSize));
  if (room == 0) return;
  std::memset(buffer, 0, static_cast<size_t>(room));
  const size_t length = std::min(text.size(), static_cast<size_t>(room - 1));
  std::memcpy(buffer, text.data(), length);
}

TDateTime DayToDateTime(int32_t day) {
  return TimeStampToDateTime(TTimeStamp{0, day});
}

TDateTime MSecsToDateTime(int32_t msecs) {
  if (msecs < 0 || msecs >= kMSecsPerDay) throw EStepFailed();
  return static_cast<double>(msecs) / kMSecsPerDay;
}

void ConvertFromString(void* buffer, int32_t source_size, int32_t target_size, uint8_t target,
                       const std::string& text) {
  std::memset(buffer, 0, kValueBufferSize);
  switch (target) {
    case kFldDate:
      StoreValue<int32_t>(buffer, DateTimeToTimeStamp(StrToDate(text)).Date);
      break;
    case kFldBoolean:
      StoreValue<int16_t>(buffer, ParseBooleanText(text) ? 1 : 0);
      break;
    case kFldSmallInt:
    case kFldInteger:
    case kFldWord:
      StoreCheckedInteger(buffer, target, StrToInt(text));
      break;
    case kFldFloat:
      StoreValue<double>(buffer, StrToFloat(text));
      break;
    case kFldTime:
      StoreValue<int32_t>(buffer, DateTimeToTimeStamp(StrToTime(text)).Time);
      break;
    case kFldTimeStamp:
      StoreValue<double>(buffer, TimeStampToMSecs(DateTimeToTimeStamp(StrToDateTime(text))));
      break;
    default: {  // bytes: the characters, zeros after the end
      const size_t count = std::min({text.size(), static_cast<size_t>(std::max(source_size, 0)),
                                     static_cast<size_t>(std::max(target_size, 0))});
      std::memcpy(buffer, text.data(), count);
      break;
    }
  }
}

// Whether the pair converts at all (same types aside).
bool Converts(uint8_t source, uint8_t target) {
  const bool to_bytes = IsBytesType(target);
  switch (source) {
    case kFldString:
      return target == kFldDate || target == kFldBoolean || target == kFldSmallInt ||
             target == kFldInteger || target == kFldWord || target == kFldFloat ||
             target == kFldBcd || to_bytes || target == kFldTime || target == kFldTimeStamp;
    case kFldDate:
      return target == kFldString || to_bytes || target == kFldTimeStamp;
    case kFldBoolean:
      return target == kFldString || target == kFldSmallInt || target == kFldInteger ||
             target == kFldWord || target == kFldBcd || to_bytes;
    case kFldSmallInt:
    case kFldWord:
      return target == kFldString || target == kFldBoolean || target == kFldSmallInt ||
             target == kFldInteger || target == kFldFloat || target == kFldBcd ||
             target == kFldWord || to_bytes;
    case kFldInteger:
      return target == kFldString || target == kFldSmallInt || target == kFldWord ||
             target == kFldFloat || target == kFldBcd || to_bytes;
    case kFldFloat:
    case kFldBcd:
      return target == kFldString || target == kFldSmallInt || target == kFldInteger ||
             target == kFldWord || target == (source == kFldFloat ? kFldBcd : kFldFloat) ||
             to_bytes;
    case kFldBytes:
    case kFldType15:
      return target != kFldBlob;
    case kFldTime:
      return target == kFldString || to_bytes || target == kFldTimeStamp;
    case kFldTimeStamp:
      return target == kFldString || target == kFldDate || to_bytes || target == kFldTime;
    default:
      return true;
  }
}

// One conversion between different types; raises when a step fails.
void ConvertValue(uint8_t source, int32_t source_size, void* buffer, int32_t target_scale,
                  int32_t target_size, uint8_t target) {
  // Raw copies over the start of the buffer leave it as it is.
  if (IsBytesType(source) || IsBytesType(target)) {
    if (source == kFldString) {
      const std::string text(static_cast<const char*>(buffer),
                             strnlen(static_cast<const char*>(buffer), kValueBufferSize));
      ConvertFromString(buffer, source_size, target_size, target, text);
    }
    return;
  }
  switch (source) {
    case kFldString: {
      const std::string text(static_cast<const char*>(buffer),
                             strnlen(static_cast<const char*>(buffer), kValueBufferSize));
      if (target == kFldBcd) {
        const int64_t bcd = CurrencyToBcd(target_scale, StrToCurr(text));
        std::memset(buffer, 0, kValueBufferSize);
        StoreValue<int64_t>(buffer, bcd);
      } else {
        ConvertFromString(buffer, source_size, target_size, target, text);
      }
      return;
    }
    case kFldDate: {
      const int32_t day = LoadValue<int32_t>(buffer);
      if (target == kFldString) {
        StoreText(buffer, target_size, DateToStr(DayToDateTime(day)));
      } else {
        StoreValue<double>(buffer, static_cast<double>(day) * kMSecsPerDay);
      }
      return;
    }
    case kFldBoolean: {
      const bool value = LoadValue<int16_t>(buffer) != 0;
      if (target == kFldString) {
        StoreText(buffer, target_size, BooleanText(value));
      } else if (target == kFldBcd) {
        StoreValue<int64_t>(buffer,
                            CurrencyToBcd(target_scale, Currency::FromInt64(value ? 1 : 0)));
      } else {
        StoreInteger(buffer, target, value ? 1 : 0);
      }
      return;
    }
    case kFldSmallInt:
    case kFldInteger:
    case kFldWord: {
      int32_t value = 0;
      if (source == kFldSmallInt) value = LoadValue<int16_t>(buffer);
      if (source == kFldWord) value = LoadValue<uint16_t>(buffer);
      if (source == kFldInteger) value = LoadValue<int32_t>(buffer);
      if (target == kFldString) {
        StoreText(buffer, target_size, IntToStr(value));
      } else if (target == kFldBoolean) {
        StoreValue<int16_t>(buffer, static_cast<int16_t>(NormalizeBoolean(value)));
      } else if (target == kFldFloat) {
        StoreValue<double>(buffer, value);
      } else if (target == kFldBcd) {
        StoreValue<int64_t>(buffer, CurrencyToBcd(target_scale, Currency::FromInt64(value)));
      } else {
        StoreCheckedInteger(buffer, target, value);
      }
      return;
    }
    case kFldFloat: {
      const double value = LoadValue<double>(buffer);
      if (target == kFldString) {
        StoreText(buffer, target_size, FloatToStr(value));
      } else if (target == kFldBcd) {
        const Currency amount = Currency::FromDouble(RoundFloat(4, value));
        StoreValue<int64_t>(buffer, CurrencyToBcd(target_scale, amount));
      } else {
        StoreCheckedInteger(buffer, target, TruncChecked(value));
      }
      return;
    }
    case kFldBcd: {
      const Currency amount = BcdToCurrency(LoadValue<int64_t>(buffer));
      if (target == kFldString) {
        StoreText(buffer, target_size, CurrToStr(amount));
      } else if (target == kFldFloat) {
        StoreValue<double>(buffer, amount.ToDouble());
      } else {
        StoreCheckedInteger(buffer, target, Trunc(amount));
      }
      return;
    }
    case kFldTime: {
      const int32_t msecs = LoadValue<int32_t>(buffer);
      if (target == kFldString) {
        StoreText(buffer, target_size, TimeToStr(MSecsToDateTime(msecs)));
      } else {
        StoreValue<double>(buffer, static_cast<double>(kDateDelta) * kMSecsPerDay + msecs);
      }
      return;
    }
    case kFldTimeStamp: {
      const TTimeStamp stamp = MSecsToTimeStamp(LoadValue<double>(buffer));
      if (target == kFldString) {
        StoreText(buffer, target_size, DateTimeToStr(TimeStampToDateTime(stamp)));
      } else if (target == kFldDate) {
        StoreValue<int32_t>(buffer, stamp.Date);
      } else {
        StoreValue<int32_t>(buffer, stamp.Time);
      }
      return;
    }
    default:
      return;
  }
}

// The zero value of a failed step.
void StoreZero(void* buffer, int32_t source_type, int32_t target_size, uint8_t target) {
  if (source_type == kFldString) std::memset(buffer, 0, kValueBufferSize);
  int32_t size = StoredSize(target);
  if (size == 0) size = std::min(std::max(target_size, 0), kValueBufferSize);
  std::memset(buffer, 0, static_cast<size_t>(size));
}

// The digits and scale of a BCD storage value in text, read back as an
// int64; more digits than an int64 holds raise EConvertError.
int64_t BcdFromText(int32_t scale, std::string text) {
  const char separator = FormatSettings().DecimalSeparator;
  const size_t point = text.find(separator);
  if (point != std::string::npos) {
    text.erase(point, 1);
    if (text.size() < point + static_cast<size_t>(scale)) text.resize(point + scale, '0');
  } else {
    text.append(static_cast<size_t>(scale), '0');
  }
  text += IntToStr(scale);
  return StrToInt64(text);
}

std::string BcdPattern(int32_t scale) {
  std::string pattern = "##############0";
  if (scale > 0) pattern += "." + std::string(static_cast<size_t>(scale), '0');
  return pattern;
}

void CheckScale(int32_t scale) {
  if (scale < 0 || scale > 9) throw EConvertError("Invalid BCD scale " + IntToStr(scale));
}

// A storage value as decimal text with the current separator.
std::string BcdText(int64_t value) {
  std::string digits = IntToStr(value);
  const bool negative = !digits.empty() && digits[0] == '-';
  if (negative) digits.erase(0, 1);
  const int32_t scale = digits.back() - '0';
  digits.pop_back();
  if (scale > 0) {
    if (digits.size() < static_cast<size_t>(scale)) {
      digits.insert(0, static_cast<size_t>(scale) - digits.size(), '0');
    }
    digits.insert(digits.size() - static_cast<size_t>(scale), 1, FormatSettings().DecimalSeparator);
    if (digits[0] == FormatSettings().DecimalSeparator) digits.insert(0, 1, '0');
  }
  if (digits.empty()) digits = "0";
  return negative ? "-" + digits : digits;
}

template <typename Parse>
bool Parses(Parse parse) {
  try {
    parse();
    return true;
  } catch (const Exception&) {
    return false;
  }
}

}  // namespace

int64_t FloatToBcd(int32_t scale, double value) {
  CheckScale(scale);
  std::string text;
  try {
    text = FormatFloat(BcdPattern(scale), RoundFloat(scale, value));
  } catch (const Exception&) {
    text = "0";
  }
  return BcdFromText(scale, text);
}

int64_t CurrencyToBcd(int32_t scale, Currency value) {
  CheckScale(scale);
  std::string text;
  try {
    text = FormatCurr(BcdPattern(scale), RoundCurrency(scale, value));
  } catch (const Exception&) {
    text = "0";
  }
  return BcdFromText(scale, text);
}

double BcdToFloat(int64_t value) {
  return StrToFloat(BcdText(value));
}

Currency BcdToCurrency(int64_t value) {
  return StrToCurr(BcdText(value));
}

double RoundFloat(int32_t decimals, double value) {
  if (value == 0) return 0;
  // Scaled up by a power of ten, which multiplying by 10 builds exactly up to
  // 10^22 (0.1 has no exact binary form, so powers of 0.1 would not be), a
  // decimal half stays a binary half, and dividing back gives the double
  // nearest to the rounded decimal.
  double p = 1;
  for (int32_t i = 0; i < decimals; ++i) p *= 10;
  const double scaled = value * p;
  // Doubles this large are whole numbers: nothing is left to round.
  if (!std::isfinite(scaled) || std::fabs(scaled) >= 0x1p52) return value;
  return std::round(scaled) / p;
}

Currency RoundCurrency(int32_t decimals, Currency value) {
  if (value.Raw() == 0) return value;
  decimals = std::clamp(decimals, 0, 4);
  int64_t step = 1;
  for (int32_t i = decimals; i < 4; ++i) step *= 10;
  const __int128 raw = value.Raw();
  const __int128 half = step / 2;
  __int128 rounded = 0;
  if (raw > 0) {
    rounded = (raw + half) / step * step;
  } else {
    const __int128 shifted = raw - half;
    rounded = shifted / step * step;  // toward zero is toward the larger multiple here
  }
  if (rounded > std::numeric_limits<int64_t>::max() ||
      rounded < std::numeric_limits<int64_t>::min()) {
    throw EIntOverflow("Integer overflow");
  }
  return Currency::FromRaw(static_cast<int64_t>(rounded));
}

bool TextToDateTimeValue(void* buffer, uint8_t field_type) {
  if (field_type != kFldDate && field_type != kFldTime && field_type != kFldTimeStamp) return true;
  const std::string text(static_cast<const char*>(buffer));
  TDateTime value = 0;
  bool parsed = false;
  if (field_type == kFldDate) parsed = TryStrToDate(text, value);
  if (field_type == kFldTime) parsed = TryStrToTime(text, value);
  if (field_type == kFldTimeStamp) parsed = TryStrToDateTime(text, value);
  if (!parsed) value = 0;
  const TTimeStamp stamp = DateTimeToTimeStamp(value);
  if (field_type == kFldDate) StoreValue<int32_t>(buffer, stamp.Date);
  if (field_type == kFldTime) StoreValue<int32_t>(buffer, stamp.Time);
  if (field_type == kFldTimeStamp) StoreValue<double>(buffer, TimeStampToMSecs(stamp));
  return parsed;
}

bool ConvertFieldValue(uint8_t source_type, int32_t source_size, int32_t source_scale, void* buffer,
                       int32_t target_scale, int32_t target_size, uint8_t target_type) {
  (void)source_scale;  // a BCD storage value carries its own scale
  if (source_type == target_type || (IsBytesType(source_type) && IsBytesType(target_type))) {
    if (source_type == kFldString) {
      auto* text = static_cast<char*>(buffer);
      const int32_t keep = std::clamp(std::min(source_size, target_size), 0, kValueBufferSize - 1);
      const size_t length = strnlen(text, static_cast<size_t>(keep));
      std::memset(text + length, 0, kValueBufferSize - length);
    }
    return true;
  }
  if (!Converts(source_type, target_type)) return false;
  try {
    ConvertValue(source_type, source_size, buffer, target_scale, target_size, target_type);
    return true;
  } catch (const Exception&) {
    StoreZero(buffer, source_type, target_size, target_type);
    return false;
  }
}

bool IsValidFieldText(std::string_view text, uint8_t field_type) {
  if (text.empty() || field_type == kFldString || IsBytesType(field_type)) return true;
  const std::string upper = UpperCase(text);
  switch (field_type) {
    case kFldDate:
      return upper == "DATE" || IsValidDateText(text);
    case kFldBoolean:
      return upper == "TRUE" || upper == "FALSE";
    case kFldSmallInt:
      return IsValidSmallIntText(text);
    case kFldInteger:
      return IsValidIntegerText(text);
    case kFldFloat:
      return IsValidFloatText(text);
    case kFldBcd:
      return IsValidCurrencyText(text);
    case kFldTime:
      return upper == "TIME" || IsValidTimeText(text);
    case kFldTimeStamp:
      return upper == "NOW" || upper == "DATE" || upper == "TIME" || IsValidDateText(text) ||
             IsValidDateTimeText(text) || IsValidTimeText(text);
    case kFldWord:
      return IsValidWordText(text);
    default:
      return true;
  }
}

bool IsValidWordText(std::string_view text) {
  int32_t value = 0;
  return TryStrToInt(text, value) && value >= 0 && value <= 65535;
}

bool IsValidIntegerText(std::string_view text) {
  int32_t value = 0;
  return TryStrToInt(text, value);
}

bool IsValidSmallIntText(std::string_view text) {
  int32_t value = 0;
  return TryStrToInt(text, value) && value >= -32768 && value <= 32767;
}

bool IsValidBooleanText(std::string_view text) {
  return Parses([text] { ParseBooleanText(text); });
}

bool IsValidFloatText(std::string_view text) {
  double value = 0;
  return TryStrToFloat(text, value);
}

bool IsValidCurrencyText(std::string_view text) {
  Currency value;
  return TryStrToCurr(text, value);
}

bool IsValidDateText(std::string_view text) {
  TDateTime value = 0;
  return TryStrToDate(text, value);
}

bool IsValidDateTimeText(std::string_view text) {
  TDateTime value = 0;
  return TryStrToDateTime(text, value);
}

bool IsValidTimeText(std::string_view text) {
  TDateTime value = 0;
  return TryStrToTime(text, value);
}

std::string BooleanText(bool value) {
  return value ? "True" : "False";
}

bool ParseBooleanText(std::string_view text) {
  const std::string upper = UpperCase(text);
  if (upper == "TRUE") return true;
  if (upper == "FALSE") return false;
  throw EConvertError("'" + std::string(text) + "' is not a valid boolean value");
}

int32_t NormalizeBoolean(int32_t value) {
  const int32_t low = value & 0xFFFF;
  return low == 0 || low == 1 ? value : 1;
}

int32_t MaxOfInt(int32_t a, int32_t b) {
  return b > a ? b : a;
}
int32_t MinOfInt(int32_t a, int32_t b) {
  return b < a ? b : a;
}
uint16_t MaxOfWord(uint16_t a, uint16_t b) {
  return b > a ? b : a;
}
uint16_t MinOfWord(uint16_t a, uint16_t b) {
  return b < a ? b : a;
}
int16_t MaxOfSmallInt(int16_t a, int16_t b) {
  return b > a ? b : a;
}
int16_t MinOfSmallInt(int16_t a, int16_t b) {
  return b < a ? b : a;
}
int32_t MaxOfByte(int32_t a, int32_t b) {
  return (b & 0xFF) > (a & 0xFF) ? b : a;
}
int64_t MaxOfInt64(int64_t a, int64_t b) {
  return static_cast<double>(b) > static_cast<double>(a) ? b : a;
}
int64_t MinOfInt64(int64_t a, int64_t b) {
  return static_cast<double>(b) < static_cast<double>(a) ? b : a;
}
double MaxOfFloat(double a, double b) {
  return b > a ? b : a;
}
double MinOfFloat(double a, double b) {
  return b < a ? b : a;
}

uint16_t CommonPrefixLength(const void* p1, const void* p2, uint16_t n) {
  const auto* a = static_cast<const uint8_t*>(p1);
  const auto* b = static_cast<const uint8_t*>(p2);
  uint16_t count = 0;
  while (count < n && a[count] == b[count]) ++count;
  return count;
}

uint16_t TrailingZeroCount(const void* last, uint16_t n) {
  const auto* p = static_cast<const uint8_t*>(last);
  uint16_t count = 0;
  while (count < n && *(p - count) == 0) ++count;
  return count;
}

void ClearBuffer(void* buffer, uint8_t n) {
  std::memset(buffer, 0, n);
}

int32_t DecodeBlobBufferRef(int32_t value) {
  // Negated in unsigned arithmetic: the most negative number stays itself
  // instead of overflowing.
  return static_cast<int32_t>(0u - static_cast<uint32_t>(value));
}

}  // namespace jw
