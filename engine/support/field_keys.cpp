#include "engine/support/field_keys.h"

#include <cstring>
#include <string>

#include "engine/support/field_types.h"
#include "engine/support/key_images.h"
#include "engine/support/language_settings.h"
#include "engine/support/value_conversions.h"

namespace jw {

void BuildFieldKey(uint8_t field_type, int32_t physical_length, const void* value, uint8_t* key,
                   uint16_t sort_id, uint16_t language_id, bool descending, bool case_insensitive) {
  if (physical_length <= 0) return;
  uint8_t* image = key + 1;
  std::memset(image, 0, static_cast<size_t>(physical_length));
  switch (field_type) {
    case kFldString: {
      // The last byte of the slot always stays the terminator.
      const auto* text = static_cast<const char*>(value);
      std::string copy(text, strnlen(text, static_cast<size_t>(physical_length - 1)));
      if (case_insensitive) UpperLocale(language_id, sort_id, copy.c_str(), copy.data());
      std::memcpy(image, copy.data(), copy.size());
      break;
    }
    case kFldDate:
    case kFldInteger:
    case kFldTime:
      EncodeIntKey(LoadValue<int32_t>(value), image);
      break;
    case kFldBoolean:
    case kFldWord:
      EncodeWordKey(LoadValue<uint16_t>(value), image);
      break;
    case kFldSmallInt:
      EncodeSmallIntKey(LoadValue<int16_t>(value), image);
      break;
    case kFldFloat:
    case kFldTimeStamp:
      EncodeFloatKey(LoadValue<double>(value), image);
      break;
    case kFldBcd:
      EncodeInt64Key(LoadValue<int64_t>(value), image);
      break;
    default:
      std::memcpy(image, value, static_cast<size_t>(physical_length));
      break;
  }
  if (descending && language_id == 0) {
    InvertKey(key, field_type == kFldString ? physical_length : physical_length + 1);
  }
}

}  // namespace jw
