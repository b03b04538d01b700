// The engine's field type codes, as stored in field descriptors and used by
// every value conversion and key image.
#pragma once

#include <cstdint>

namespace jw {

constexpr uint8_t kFldString = 1;
constexpr uint8_t kFldDate = 2;
constexpr uint8_t kFldBlob = 3;
constexpr uint8_t kFldBoolean = 4;
constexpr uint8_t kFldSmallInt = 5;
constexpr uint8_t kFldInteger = 6;
constexpr uint8_t kFldFloat = 7;
constexpr uint8_t kFldBcd = 8;
constexpr uint8_t kFldBytes = 9;
constexpr uint8_t kFldTime = 10;
constexpr uint8_t kFldTimeStamp = 11;
constexpr uint8_t kFldWord = 12;
constexpr uint8_t kFldType13 = 13;  // 4 bytes
constexpr uint8_t kFldType14 = 14;  // 10 bytes
constexpr uint8_t kFldType15 = 15;  // handled as bytes
constexpr uint8_t kSubTypeMoney = 21;
constexpr uint8_t kSubTypeAutoInc = 29;

// The longest string a field holds; a string that an expression computes is
// cut to it, as storing it in the widest string field would cut it.
constexpr int32_t kMaxStringLength = 250;
// A value buffer for conversions holds at least this many bytes: the
// longest string and its zero.
constexpr int32_t kValueBufferSize = kMaxStringLength + 1;

// The bytes a value of a fixed-size type takes; 0 for the types whose size
// comes from the field (strings, bytes, type 15) and for unknown codes.
constexpr int32_t FixedValueSize(uint8_t type) {
  switch (type) {
    case kFldBlob:
    case kFldFloat:
    case kFldBcd:
    case kFldTimeStamp:
      return 8;
    case kFldBoolean:
    case kFldSmallInt:
    case kFldWord:
      return 2;
    case kFldType14:
      return 10;
    case kFldDate:
    case kFldInteger:
    case kFldTime:
    case kFldType13:
      return 4;
    default:
      return 0;
  }
}

}  // namespace jw
