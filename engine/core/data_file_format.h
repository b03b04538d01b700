// The bytes of a data file (".DAT"), all integers little-endian:
//   0                      127-byte header (TDataFileHeader)
//   127                    768-byte field descriptors, field n at 127 + (n-1) x 768
//   D = 127 + fields x 768 fixed-size records, record n (1-based) at D + (n-1) x record size
// A record is a 9-byte head (status, int32 number or free link, int32 id) and
// one slot per stored field: a null byte and the value at its physical length.
#pragma once

#include <cstdint>
#include <string>

#include "engine/support/field_types.h"

namespace jw {

// Header, 127 bytes, never scrambled as a whole.
constexpr int32_t kHeaderSize = 127;
constexpr int32_t kHdrChangeCounter = 0;    // int32, moved by every header write
constexpr int32_t kHdrBlobBlockSize = 4;    // int32, 0 means 512
constexpr int32_t kHdrFormatVersion = 8;    // byte, always 4
constexpr int32_t kHdrFreeHead = 9;         // int32, most recently freed record, 0 = none
constexpr int32_t kHdrNextRecord = 13;      // int32, physical records + 1
constexpr int32_t kHdrLastAutoInc = 17;     // int32
constexpr int32_t kHdrRecordSize = 21;      // uint16
constexpr int32_t kHdrFieldCount = 23;      // uint16
constexpr int32_t kHdrBlobFieldCount = 25;  // int16
constexpr int32_t kHdrLastWriteTime = 27;   // float64, local date-time - 693594.0
constexpr int32_t kHdrDescription = 35;     // string[50]
constexpr int32_t kHdrEncrypted = 86;       // byte
constexpr int32_t kHdrPassword = 87;        // string[15]
constexpr int32_t kHdrLanguageId = 103;     // int16
constexpr int32_t kHdrSortId = 105;         // int16
constexpr int32_t kHdrUserMajor = 107;      // int16
constexpr int32_t kHdrUserMinor = 109;      // int16
constexpr int32_t kHdrDirtyFlag = 111;      // byte, readers reset it
constexpr int32_t kHdrLastBlobStamp = 112;  // int32
constexpr int32_t kHdrEngineVersion = 116;  // int64; bytes 124..126 stay zero

constexpr uint8_t kDataFormatVersion = 4;
// Engine version 2.12 scaled by 10000; every header write stamps it.
constexpr int64_t kEngineVersion = 21200;
// The stored time is the day count since 1899-12-30 minus this.
constexpr double kHeaderTimeBias = 693594.0;
constexpr int32_t kMaxDescriptionLength = 50;
constexpr int32_t kMaxPasswordLength = 15;
constexpr int32_t kDefaultBlobBlockSize = 512;
// The BLOB file's 16-bit block fields and read-ahead stay valid in this range.
constexpr int32_t kMinBlobBlockSize = 64;
constexpr int32_t kMaxBlobBlockSize = 32768;

struct TDataFileHeader {
  int32_t ChangeCounter = 0;
  int32_t BlobBlockSize = 0;
  uint8_t Version = 0;
  int32_t FreeHead = 0;
  int32_t NextRecord = 0;
  int32_t LastAutoInc = 0;
  uint16_t RecordSize = 0;
  uint16_t FieldCount = 0;
  int16_t BlobFieldCount = 0;
  double LastWriteTime = 0;
  // Description and password as stored: scrambled characters when encrypted.
  std::string Description;
  uint8_t Encrypted = 0;
  std::string Password;
  int16_t LanguageId = 0;
  int16_t SortId = 0;
  int16_t UserMajor = 0;
  int16_t UserMinor = 0;
  uint8_t DirtyFlag = 0;
  int32_t LastBlobStamp = 0;
  int64_t EngineVersion = 0;

  // Writes exactly kHeaderSize bytes; strings are cut to their maximum.
  void EncodeTo(uint8_t* dest) const;
  // False when a string's length byte exceeds its room (a corrupt header).
  bool DecodeFrom(const uint8_t* src);
};

// Field descriptor, 768 bytes; the same record describes a cursor's fields
// and query parameters.
constexpr int32_t kFieldDescriptorSize = 768;
constexpr int32_t kFdNumber = 0;           // int16, 1-based position
constexpr int32_t kFdName = 2;             // string[30]
constexpr int32_t kFdDescription = 33;     // string[50]
constexpr int32_t kFdType = 84;            // byte
constexpr int32_t kFdSubType = 85;         // byte
constexpr int32_t kFdSize = 86;            // byte, declared size
constexpr int32_t kFdDecimals = 87;        // byte
constexpr int32_t kFdPhysicalLength = 88;  // byte
constexpr int32_t kFdPhysicalDecimals = 89;
constexpr int32_t kFdOffset = 90;          // uint16, slot offset in the record
constexpr int32_t kFdRequired = 92;        // byte
constexpr int32_t kFdCharCase = 93;        // byte, TCharCase; 0 in tables made without one
constexpr int32_t kFdMinimum = 94;         // string[50]
constexpr int32_t kFdMaximum = 145;        // string[50]
constexpr int32_t kFdDefault = 196;        // string[50]
constexpr int32_t kFdDerived = 247;        // byte; 248..251 stay zero
constexpr int32_t kFdHidden = 252;         // byte, not in the dataset's field list
constexpr int32_t kFdDescending = 253;     // byte
constexpr int32_t kFdQualifiedName = 254;  // string[100]; 355..767 stay zero

constexpr int32_t kMaxFieldNameLength = 30;
constexpr int32_t kMaxFieldTextLength = 50;
constexpr int32_t kMaxQualifiedNameLength = 100;
constexpr int32_t kMaxFieldCount = 1024;
constexpr int32_t kMaxBlobFieldCount = 64;
// Declared size limit of strings, bytes and type 15.
constexpr int32_t kMaxFieldSize = 250;

// How a string field's text is stored.
enum TCharCase : uint8_t { kCaseKeep = 0, kCaseLower = 1, kCaseUpper = 2 };

struct FieldDescriptor {
  int16_t Number = 0;
  std::string Name;
  std::string Description;
  uint8_t Type = 0;
  uint8_t SubType = 0;
  uint8_t Size = 0;
  uint8_t Decimals = 0;
  uint8_t PhysicalLength = 0;
  uint8_t PhysicalDecimals = 0;
  uint16_t Offset = 0;
  uint8_t Required = 0;
  uint8_t CharCase = kCaseKeep;
  std::string Minimum;
  std::string Maximum;
  std::string Default;
  uint8_t Derived = 0;
  // Set on a result table's average count columns.
  uint8_t Hidden = 0;
  uint8_t Descending = 0;
  std::string QualifiedName;

  bool IsAutoInc() const { return Type == kFldInteger && SubType == kSubTypeAutoInc; }
  // Whether the field has a slot of its own in the record.
  bool IsStored() const { return !IsAutoInc() && Derived == 0; }

  // Writes exactly kFieldDescriptorSize bytes; strings are cut to their room.
  void EncodeTo(uint8_t* dest) const;
  // False when a string's length byte exceeds its room.
  bool DecodeFrom(const uint8_t* src);
};

// Whether the code is a field type a table may hold (1 to 15).
bool IsKnownFieldType(uint8_t type);
// The bytes a value of the type takes in a record; 0 for an unknown type.
int32_t PhysicalFieldLength(uint8_t type, uint8_t size);
// Sets the descriptor's physical length from its type and size.
void SetPhysicalLength(FieldDescriptor& field);
// Copies the descriptor's decimals into its physical decimals.
void SetPhysicalScale(FieldDescriptor& field);

// Record head.
constexpr int32_t kRecStatus = 0;  // byte: 0 live, 1 free
constexpr int32_t kRecNumber = 1;  // int32: own number when live, free-chain link when free
constexpr int32_t kRecId = 5;      // int32: record id, the auto-increment value
constexpr int32_t kRecordHeadSize = 9;
constexpr uint8_t kRecordLive = 0;
constexpr uint8_t kRecordFree = 1;
constexpr int32_t kMaxRecordSize = 65535;

// Little-endian access to stored integers and floats.
// Inline: the B-tree's pages and the record cache read one for every entry
// and record they pass, and a header's descriptors write hundreds.
inline uint16_t GetUInt16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline int16_t GetInt16(const uint8_t* p) {
  return static_cast<int16_t>(GetUInt16(p));
}
inline int32_t GetInt32(const uint8_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                              (static_cast<uint32_t>(p[2]) << 16) |
                              (static_cast<uint32_t>(p[3]) << 24));
}
int64_t GetInt64(const uint8_t* p);
double GetFloat64(const uint8_t* p);
inline void PutUInt16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutInt16(uint8_t* p, int16_t v) {
  PutUInt16(p, static_cast<uint16_t>(v));
}
inline void PutInt32(uint8_t* p, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(u >> (8 * i));
}
void PutInt64(uint8_t* p, int64_t v);
void PutFloat64(uint8_t* p, double v);

// A length-prefixed string of at most max_length characters.
void PutShortString(uint8_t* p, const std::string& s, int32_t max_length);
// False when the length byte exceeds max_length.
bool GetShortString(const uint8_t* p, int32_t max_length, std::string& s);

}  // namespace jw
