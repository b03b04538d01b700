// The stored forms of engine values and the conversions between them: BCD
// storage values (the digits of the value, then one digit for the scale),
// rounding, text to date and time values, the conversion matrix between
// field types, the text-validity tests, and small helpers on values and
// buffers. Text conversions read the process-wide format settings, which
// the caller has switched to the table's locale (language_settings.h).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/support/field_types.h"
#include "platform/rtl/numbers.h"

namespace jw {

// BCD storage values: 12.5 at scale 2 is 12502, -0.5 at scale 1 is -51.
// A value whose digits do not fit an int64 raises EConvertError, as does a
// storage value that the currency type cannot hold.
int64_t FloatToBcd(int32_t scale, double value);
int64_t CurrencyToBcd(int32_t scale, Currency value);
double BcdToFloat(int64_t value);
Currency BcdToCurrency(int64_t value);

// Halves round away from zero.
double RoundFloat(int32_t decimals, double value);
// Decimals above 4 count as 4. EIntOverflow when the rounded amount leaves
// the currency range.
Currency RoundCurrency(int32_t decimals, Currency value);

// Replaces the zero-terminated text in the buffer by the value of a date
// (2), time (10) or timestamp (11) field; a text that does not parse gives
// the value of date-time 0 and false. Other types: unchanged, true.
bool TextToDateTimeValue(void* buffer, uint8_t field_type);

// Converts the value in the buffer, in place, from the source to the target
// field type; the buffer holds at least kValueBufferSize bytes and the
// target's size. False for a pair of types that does not convert, or when a
// step fails (the buffer then holds a zero value of the target type); a
// number outside the target integer type's range, from any source, fails.
bool ConvertFieldValue(uint8_t source_type, int32_t source_size, int32_t source_scale, void* buffer,
                       int32_t target_scale, int32_t target_size, uint8_t target_type);

bool IsValidFieldText(std::string_view text, uint8_t field_type);
bool IsValidWordText(std::string_view text);
bool IsValidIntegerText(std::string_view text);
bool IsValidSmallIntText(std::string_view text);
bool IsValidBooleanText(std::string_view text);
bool IsValidFloatText(std::string_view text);
bool IsValidCurrencyText(std::string_view text);
bool IsValidDateText(std::string_view text);
bool IsValidDateTimeText(std::string_view text);
bool IsValidTimeText(std::string_view text);

// "True" or "False".
std::string BooleanText(bool value);
// "TRUE" or "FALSE" in any case; anything else raises EConvertError
// "'<text>' is not a valid boolean value".
bool ParseBooleanText(std::string_view text);
// The value when its low 16 bits are 0 or 1, else 1.
int32_t NormalizeBoolean(int32_t value);

// Each returns one of its arguments, the first on a tie.
int32_t MaxOfInt(int32_t a, int32_t b);
int32_t MinOfInt(int32_t a, int32_t b);
uint16_t MaxOfWord(uint16_t a, uint16_t b);
uint16_t MinOfWord(uint16_t a, uint16_t b);
int16_t MaxOfSmallInt(int16_t a, int16_t b);
int16_t MinOfSmallInt(int16_t a, int16_t b);
// By the low bytes.
int32_t MaxOfByte(int32_t a, int32_t b);
// Compared as floating point.
int64_t MaxOfInt64(int64_t a, int64_t b);
int64_t MinOfInt64(int64_t a, int64_t b);
double MaxOfFloat(double a, double b);
double MinOfFloat(double a, double b);

// Equal leading bytes, at most n.
uint16_t CommonPrefixLength(const void* p1, const void* p2, uint16_t n);
// Zero bytes walking back from `last`, at most n.
uint16_t TrailingZeroCount(const void* last, uint16_t n);
void ClearBuffer(void* buffer, uint8_t n);
// A BLOB slot holding a negative number refers to the open BLOB buffer
// whose reference is that number negated.
int32_t DecodeBlobBufferRef(int32_t value);

// Value buffers carry no alignment, so values move in and out through memcpy.
template <typename T>
T LoadValue(const void* value) {
  T v;
  std::memcpy(&v, value, sizeof(T));
  return v;
}

template <typename T>
void StoreValue(void* value, T v) {
  std::memcpy(value, &v, sizeof(T));
}

// The whole-number types, which share integer arithmetic and conversions.
inline bool IsIntegerType(uint8_t type) {
  return type == kFldSmallInt || type == kFldInteger || type == kFldWord;
}

}  // namespace jw
