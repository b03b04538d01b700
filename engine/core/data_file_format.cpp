#include "engine/core/data_file_format.h"

#include <algorithm>
#include <cstring>

namespace jw {

int64_t GetInt64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return static_cast<int64_t>(v);
}

double GetFloat64(const uint8_t* p) {
  const uint64_t bits = static_cast<uint64_t>(GetInt64(p));
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

void PutInt64(uint8_t* p, int64_t v) {
  const auto u = static_cast<uint64_t>(v);
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(u >> (8 * i));
}

void PutFloat64(uint8_t* p, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  PutInt64(p, static_cast<int64_t>(bits));
}

void PutShortString(uint8_t* p, const std::string& s, int32_t max_length) {
  const auto n = static_cast<int32_t>(std::min<size_t>(s.size(), max_length));
  std::memset(p, 0, max_length + 1);
  p[0] = static_cast<uint8_t>(n);
  std::memcpy(p + 1, s.data(), n);
}

bool GetShortString(const uint8_t* p, int32_t max_length, std::string& s) {
  if (p[0] > max_length) return false;
  s.assign(reinterpret_cast<const char*>(p + 1), p[0]);
  return true;
}

void TDataFileHeader::EncodeTo(uint8_t* dest) const {
  std::memset(dest, 0, kHeaderSize);
  PutInt32(dest + kHdrChangeCounter, ChangeCounter);
  PutInt32(dest + kHdrBlobBlockSize, BlobBlockSize);
  dest[kHdrFormatVersion] = Version;
  PutInt32(dest + kHdrFreeHead, FreeHead);
  PutInt32(dest + kHdrNextRecord, NextRecord);
  PutInt32(dest + kHdrLastAutoInc, LastAutoInc);
  PutUInt16(dest + kHdrRecordSize, RecordSize);
  PutUInt16(dest + kHdrFieldCount, FieldCount);
  PutInt16(dest + kHdrBlobFieldCount, BlobFieldCount);
  PutFloat64(dest + kHdrLastWriteTime, LastWriteTime);
  PutShortString(dest + kHdrDescription, Description, kMaxDescriptionLength);
  dest[kHdrEncrypted] = Encrypted;
  PutShortString(dest + kHdrPassword, Password, kMaxPasswordLength);
  PutInt16(dest + kHdrLanguageId, LanguageId);
  PutInt16(dest + kHdrSortId, SortId);
  PutInt16(dest + kHdrUserMajor, UserMajor);
  PutInt16(dest + kHdrUserMinor, UserMinor);
  dest[kHdrDirtyFlag] = DirtyFlag;
  PutInt32(dest + kHdrLastBlobStamp, LastBlobStamp);
  PutInt64(dest + kHdrEngineVersion, EngineVersion);
}

bool TDataFileHeader::DecodeFrom(const uint8_t* src) {
  ChangeCounter = GetInt32(src + kHdrChangeCounter);
  BlobBlockSize = GetInt32(src + kHdrBlobBlockSize);
  Version = src[kHdrFormatVersion];
  FreeHead = GetInt32(src + kHdrFreeHead);
  NextRecord = GetInt32(src + kHdrNextRecord);
  LastAutoInc = GetInt32(src + kHdrLastAutoInc);
  RecordSize = GetUInt16(src + kHdrRecordSize);
  FieldCount = GetUInt16(src + kHdrFieldCount);
  BlobFieldCount = GetInt16(src + kHdrBlobFieldCount);
  LastWriteTime = GetFloat64(src + kHdrLastWriteTime);
  Encrypted = src[kHdrEncrypted];
  LanguageId = GetInt16(src + kHdrLanguageId);
  SortId = GetInt16(src + kHdrSortId);
  UserMajor = GetInt16(src + kHdrUserMajor);
  UserMinor = GetInt16(src + kHdrUserMinor);
  DirtyFlag = src[kHdrDirtyFlag];
  LastBlobStamp = GetInt32(src + kHdrLastBlobStamp);
  EngineVersion = GetInt64(src + kHdrEngineVersion);
  return GetShortString(src + kHdrDescription, kMaxDescriptionLength, Description) &&
         GetShortString(src + kHdrPassword, kMaxPasswordLength, Password);
}

void FieldDescriptor::EncodeTo(uint8_t* dest) const {
  std::memset(dest, 0, kFieldDescriptorSize);
  PutInt16(dest + kFdNumber, Number);
  PutShortString(dest + kFdName, Name, kMaxFieldNameLength);
  PutShortString(dest + kFdDescription, Description, kMaxFieldTextLength);
  dest[kFdType] = Type;
  dest[kFdSubType] = SubType;
  dest[kFdSize] = Size;
  dest[kFdDecimals] = Decimals;
  dest[kFdPhysicalLength] = PhysicalLength;
  dest[kFdPhysicalDecimals] = PhysicalDecimals;
  PutUInt16(dest + kFdOffset, Offset);
  dest[kFdRequired] = Required;
  dest[kFdCharCase] = CharCase;
  PutShortString(dest + kFdMinimum, Minimum, kMaxFieldTextLength);
  PutShortString(dest + kFdMaximum, Maximum, kMaxFieldTextLength);
  PutShortString(dest + kFdDefault, Default, kMaxFieldTextLength);
  dest[kFdDerived] = Derived;
  dest[kFdHidden] = Hidden;
  dest[kFdDescending] = Descending;
  PutShortString(dest + kFdQualifiedName, QualifiedName, kMaxQualifiedNameLength);
}

bool FieldDescriptor::DecodeFrom(const uint8_t* src) {
  Number = GetInt16(src + kFdNumber);
  Type = src[kFdType];
  SubType = src[kFdSubType];
  Size = src[kFdSize];
  Decimals = src[kFdDecimals];
  PhysicalLength = src[kFdPhysicalLength];
  PhysicalDecimals = src[kFdPhysicalDecimals];
  Offset = GetUInt16(src + kFdOffset);
  Required = src[kFdRequired];
  CharCase = src[kFdCharCase];
  Derived = src[kFdDerived];
  Hidden = src[kFdHidden];
  Descending = src[kFdDescending];
  return GetShortString(src + kFdName, kMaxFieldNameLength, Name) &&
         GetShortString(src + kFdDescription, kMaxFieldTextLength, Description) &&
         GetShortString(src + kFdMinimum, kMaxFieldTextLength, Minimum) &&
         GetShortString(src + kFdMaximum, kMaxFieldTextLength, Maximum) &&
         GetShortString(src + kFdDefault, kMaxFieldTextLength, Default) &&
         GetShortString(src + kFdQualifiedName, kMaxQualifiedNameLength, QualifiedName);
}

bool IsKnownFieldType(uint8_t type) {
  return type >= kFldString && type <= kFldType15;
}

int32_t PhysicalFieldLength(uint8_t type, uint8_t size) {
  switch (type) {
    case kFldString:
      return size + 1;  // room for the terminating zero
    case kFldBytes:
    case kFldType15:
      return size;
    default:
      return FixedValueSize(type);
  }
}

void SetPhysicalLength(FieldDescriptor& field) {
  // A string of size 255 would need 256 bytes; definitions keep sizes to 250.
  field.PhysicalLength = static_cast<uint8_t>(PhysicalFieldLength(field.Type, field.Size));
}

void SetPhysicalScale(FieldDescriptor& field) {
  field.PhysicalDecimals = field.Decimals;
}

}  // namespace jw
