#include "engine/dataset/field_type_map.h"

#include "engine/core/data_file_format.h"
#include "engine/support/field_types.h"

namespace jw {
namespace {

// The BLOB subtypes that name a kind of BLOB field.
constexpr uint8_t kSubTypeMemo = 22;
constexpr uint8_t kSubTypeFmtMemo = 24;
constexpr uint8_t kSubTypeGraphic = 26;
constexpr uint8_t kSubTypeTypedBinary = 28;
constexpr uint8_t kSubTypeFixedChar = 31;
constexpr uint8_t kSubTypeWideString = 32;

// Engine codes above the table types that only result sets and parameters
// use.
constexpr uint8_t kFldCursor = 17;
constexpr uint8_t kFldLargeint = 18;
constexpr uint8_t kFldLargeintAlt = 19;
constexpr uint8_t kFldADT = 20;
constexpr uint8_t kFldArray = 21;
constexpr uint8_t kFldReference = 22;
constexpr uint8_t kFldDataSet = 23;

TFieldType BlobTypeOf(uint8_t sub_type) {
  switch (sub_type) {
    case kSubTypeMemo:
      return ftMemo;
    case kSubTypeFmtMemo:
      return ftFmtMemo;
    case kSubTypeGraphic:
      return ftGraphic;
    case kSubTypeTypedBinary:
      return ftTypedBinary;
    default:
      return ftBlob;
  }
}

}  // namespace

bool FieldTypeOfEngine(const FieldDescriptor& field, TFieldType& type, int32_t& size) {
  size = 0;
  switch (field.Type) {
    case kFldString:
      type = ftString;
      size = field.Size;
      return true;
    case kFldDate:
      type = ftDate;
      return true;
    case kFldBlob:
      type = BlobTypeOf(field.SubType);
      return true;
    case kFldBoolean:
      type = ftBoolean;
      return true;
    case kFldSmallInt:
      type = ftSmallint;
      return true;
    case kFldInteger:
      type = field.SubType == kSubTypeAutoInc ? ftAutoInc : ftInteger;
      return true;
    case kFldFloat:
      type = field.SubType == kSubTypeMoney ? ftCurrency : ftFloat;
      return true;
    case kFldBcd:
      type = ftBCD;
      size = field.Decimals;
      return true;
    case kFldBytes:
      type = ftBytes;
      size = field.Size;
      return true;
    case kFldTime:
      type = ftTime;
      return true;
    case kFldTimeStamp:
      type = ftDateTime;
      return true;
    case kFldWord:
      type = ftWord;
      return true;
    case kFldType13:
      type = ftInteger;
      return true;
    case kFldType15:
      type = ftVarBytes;
      size = field.Size;
      return true;
    case kFldLargeint:
    case kFldLargeintAlt:
      type = ftLargeint;
      return true;
    case kFldADT:
      type = ftADT;
      return true;
    case kFldArray:
      type = ftArray;
      return true;
    case kFldReference:
      type = ftReference;
      return true;
    case kFldDataSet:
      type = ftDataSet;
      return true;
    default:
      return false;
  }
}

TEngineFieldType EngineTypeOf(TFieldType type) {
  switch (type) {
    case ftString:
    case ftGuid:
      return {kFldString, 0};
    case ftFixedChar:
      return {kFldString, kSubTypeFixedChar};
    case ftWideString:
      return {kFldString, kSubTypeWideString};
    case ftDate:
      return {kFldDate, 0};
    case ftMemo:
      return {kFldBlob, kSubTypeMemo};
    case ftGraphic:
      return {kFldBlob, kSubTypeGraphic};
    case ftFmtMemo:
      return {kFldBlob, kSubTypeFmtMemo};
    case ftTypedBinary:
      return {kFldBlob, kSubTypeTypedBinary};
    case ftBlob:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftOraBlob:
    case ftOraClob:
      return {kFldBlob, 0};
    case ftBoolean:
      return {kFldBoolean, 0};
    case ftSmallint:
      return {kFldSmallInt, 0};
    case ftInteger:
      return {kFldInteger, 0};
    case ftAutoInc:
      return {kFldInteger, kSubTypeAutoInc};
    case ftFloat:
      return {kFldFloat, 0};
    case ftCurrency:
      return {kFldFloat, kSubTypeMoney};
    case ftBCD:
      return {kFldBcd, 0};
    case ftBytes:
      return {kFldBytes, 0};
    case ftTime:
      return {kFldTime, 0};
    case ftDateTime:
      return {kFldTimeStamp, 0};
    case ftWord:
      return {kFldWord, 0};
    case ftVarBytes:
      return {kFldType15, 0};
    case ftCursor:
      return {kFldCursor, 0};
    case ftLargeint:
      return {kFldLargeint, 0};
    case ftADT:
      return {kFldADT, 0};
    case ftArray:
      return {kFldArray, 0};
    case ftReference:
      return {kFldReference, 0};
    case ftDataSet:
      return {kFldDataSet, 0};
    default:
      return {};
  }
}

}  // namespace jw
