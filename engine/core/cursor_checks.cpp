// TDataCursor's validity checks before a record is written: required fields
// (9732), minimum (9730) and maximum (9731) texts, read in the table's
// locale and compared by the field's type. BLOB, boolean and bytes fields
// are not compared; a null field compares as its zero value.
#include <cstring>

#include "engine/core/data_cursor.h"
#include "engine/support/language_settings.h"
#include "engine/support/value_conversions.h"
#include "platform/rtl/numbers.h"
#include "platform/rtl/strings.h"

namespace jw {
namespace {

// A field's value, or a limit text read as that field's value, as one
// comparable number; strings are compared as text instead.
double LimitValue(const FieldDescriptor& desc, const std::string& text) {
  switch (desc.Type) {
    case kFldSmallInt:
    case kFldInteger:
    case kFldWord:
      return StrToInt(text);
    case kFldFloat:
      return StrToFloat(text);
    case kFldBcd:
      return static_cast<double>(CurrencyToBcd(desc.Decimals, StrToCurr(text)));
    default: {
      uint8_t value[kMaxFieldTextLength + 16] = {};
      std::memcpy(value, text.data(), std::min(text.size(), sizeof(value) - 1));
      TextToDateTimeValue(value, desc.Type);
      if (desc.Type == kFldTimeStamp) return LoadValue<double>(value);
      return LoadValue<int32_t>(value);
    }
  }
}

double FieldValue(const FieldDescriptor& desc, const uint8_t* value) {
  switch (desc.Type) {
    case kFldSmallInt:
      return LoadValue<int16_t>(value);
    case kFldWord:
      return LoadValue<uint16_t>(value);
    case kFldFloat:
    case kFldTimeStamp:
      return LoadValue<double>(value);
    case kFldBcd:
      return static_cast<double>(LoadValue<int64_t>(value));
    default:
      return LoadValue<int32_t>(value);
  }
}

bool Compared(uint8_t type) {
  return type != kFldBlob && type != kFldBoolean && type != kFldBytes && type != kFldString;
}

}  // namespace

void TDataCursor::CheckRecord(const uint8_t* image) {
  if (!has_validity_checks_) return;
  const TLanguageSwap swap(language_id_, sort_id_);
  std::vector<uint8_t> value(static_cast<size_t>(kMaxFieldTextLength) + 256);
  for (int32_t i = 1; i <= GetFieldCount(); ++i) {
    const FieldDescriptor& desc = GetTableFieldDesc(i);
    if (desc.Required == 0 && desc.Minimum.empty() && desc.Maximum.empty()) continue;
    bool null = false;
    std::fill(value.begin(), value.end(), 0);
    GetTableFieldData(i, image, null, value.data());
    if (desc.Required != 0 && null) Raise(kErrValueRequired, desc.Name);
    int below = 0;
    int above = 0;
    if (desc.Type == kFldString) {
      const char* text = reinterpret_cast<const char*>(value.data());
      const auto compare = [&](const std::string& limit) {
        return CompareLocaleStrings(language_id_, sort_id_, text, false, 0, limit.c_str());
      };
      below = desc.Minimum.empty() ? 0 : compare(desc.Minimum) < 0;
      above = desc.Maximum.empty() ? 0 : compare(desc.Maximum) > 0;
    } else if (Compared(desc.Type)) {
      const double v = FieldValue(desc, value.data());
      below = !desc.Minimum.empty() && v < LimitValue(desc, desc.Minimum);
      above = !desc.Maximum.empty() && v > LimitValue(desc, desc.Maximum);
    }
    if (below) Raise(kErrBelowMinimum, desc.Name);
    if (above) Raise(kErrAboveMaximum, desc.Name);
  }
}

}  // namespace jw
