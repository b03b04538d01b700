// The engine's error codes with their message texts, the process-wide
// last-error record, the one routine that raises an engine failure
// (RaiseEngineError) and the exception class that carries it to the caller
// (EQuireEngineError with its TQuireError entries).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/exceptions.h"

namespace jw {

// Engine error codes: unsigned 16-bit numbers whose high byte names a group.
using EngineErrorCode = uint16_t;

// Position (0x22..).
constexpr EngineErrorCode kErrBeginningOfFile = 8705;
constexpr EngineErrorCode kErrEndOfFile = 8706;
constexpr EngineErrorCode kErrRecordChanged = 8708;
constexpr EngineErrorCode kErrNoCurrentRecord = 8709;
constexpr EngineErrorCode kErrRecordNotFound = 8710;
constexpr EngineErrorCode kErrEndOfBlob = 8711;
// Corruption (0x23..).
constexpr EngineErrorCode kErrHeaderCorrupt = 8961;
constexpr EngineErrorCode kErrRecordBuffersCorrupt = 8962;
constexpr EngineErrorCode kErrBlobBuffersCorrupt = 8963;
constexpr EngineErrorCode kErrIndexPagesCorrupt = 8965;
// Input and output, EngineIoErrorCodes (0x24..).
constexpr EngineErrorCode kErrRead = 9217;
constexpr EngineErrorCode kErrWrite = 9218;
constexpr EngineErrorCode kErrDeleteTable = 9220;
constexpr EngineErrorCode kErrHeaderAccess = 9221;
// Limits (0x25..).
constexpr EngineErrorCode kErrRecordSize = 9477;
constexpr EngineErrorCode kErrTableFull = 9479;
constexpr EngineErrorCode kErrTooManyFilters = 9482;
constexpr EngineErrorCode kErrIndexLimits = 9487;
constexpr EngineErrorCode kErrFieldLimits = 9492;
constexpr EngineErrorCode kErrTooManyBlobs = 9494;
constexpr EngineErrorCode kErrBlobFieldsOrBlockSize = 9498;
// Keys and validity (0x26..).
constexpr EngineErrorCode kErrDuplicateKey = 9729;
constexpr EngineErrorCode kErrBelowMinimum = 9730;
constexpr EngineErrorCode kErrAboveMaximum = 9731;
constexpr EngineErrorCode kErrValueRequired = 9732;
// Definitions (0x27..).
constexpr EngineErrorCode kErrInvalidField = 9985;
constexpr EngineErrorCode kErrPrimaryIndexExists = 9993;
constexpr EngineErrorCode kErrInvalidBlobOffset = 9998;
constexpr EngineErrorCode kErrInvalidFieldDefinition = 10000;
constexpr EngineErrorCode kErrInvalidValidityCheck = 10006;
constexpr EngineErrorCode kErrIndexNameMissing = 10010;
constexpr EngineErrorCode kErrInvalidPassword = 10015;
constexpr EngineErrorCode kErrInvalidIndexName = 10022;
constexpr EngineErrorCode kErrInvalidIndexField = 10023;
constexpr EngineErrorCode kErrInvalidKeySize = 10026;
constexpr EngineErrorCode kErrIndexExists = 10027;
constexpr EngineErrorCode kErrInvalidBlobLength = 10029;
constexpr EngineErrorCode kErrInvalidBlobHandle = 10030;
constexpr EngineErrorCode kErrTableInUse = 10031;
constexpr EngineErrorCode kErrInvalidFieldName = 10038;
constexpr EngineErrorCode kErrInvalidFilterHandle = 10050;
constexpr EngineErrorCode kErrFilter = 10051;
constexpr EngineErrorCode kErrPrimaryIndexRemoval = 10055;
// Locks (0x28..).
constexpr EngineErrorCode kErrTableLocked = 10241;
constexpr EngineErrorCode kErrUnlock = 10242;
constexpr EngineErrorCode kErrLockFailure = 10249;
constexpr EngineErrorCode kErrMustBeExclusive = 10253;
constexpr EngineErrorCode kErrRecordInUse = 10258;
// Rights (0x29..).
constexpr EngineErrorCode kErrPasswordRequired = 10498;
// BLOB fields and engine state (0x2A..).
constexpr EngineErrorCode kErrInvalidBlobField = 10753;
constexpr EngineErrorCode kErrNotInitialized = 10758;
// Operating system and files, EngineFileErrorCodes (0x2B..).
constexpr EngineErrorCode kErrInvalidPath = 11010;
constexpr EngineErrorCode kErrTooManyFiles = 11012;
constexpr EngineErrorCode kErrAccessDenied = 11013;
constexpr EngineErrorCode kErrInvalidHandle = 11014;
constexpr EngineErrorCode kErrOutOfMemory = 11016;
constexpr EngineErrorCode kErrInvalidMemoryLength = 11017;
constexpr EngineErrorCode kErrDeviceAccess = 11023;
constexpr EngineErrorCode kErrTableMoved = 11025;
constexpr EngineErrorCode kErrUnknownOsError = 11047;
// SQL (0x2E..).
constexpr EngineErrorCode kErrSql = 11949;
// Version (0x2F..).
constexpr EngineErrorCode kErrWrongVersion = 12035;
// Index definition (0x30..).
constexpr EngineErrorCode kErrInvalidIndexFieldType = 12292;
// Table existence (0x33..).
constexpr EngineErrorCode kErrTableExists = 13060;
// Language (0x3E..).
constexpr EngineErrorCode kErrLanguageDriver = 15878;

// The names a message text is filled from. Each holds at most 255 characters.
struct TEngineErrorNames {
  std::string FieldName;
  std::string TableName;
  std::string IndexName;
  std::string Message;
};

// The longest message text an entry or an exception carries.
constexpr size_t kMaxEngineErrorText = 254;

// The text of a code with its placeholders filled from the given names, cut
// to kMaxEngineErrorText characters.
std::string EngineErrorText(EngineErrorCode code, const TEngineErrorNames& names);

// The text of a code filled from the last-error record.
std::string EngineErrorText(EngineErrorCode code);

// The last-error record, read under its lock. Kind 0 is the field name, 1
// the table name, 2 the index name; any other kind gives an empty string.
EngineErrorCode GetLastEngineErrorCode();
std::string GetLastEngineErrorName(int kind);

// One error entry of an EQuireEngineError.
class TQuireError {
 public:
  TQuireError(int32_t code, std::string message) : code_(code), message_(std::move(message)) {}

  int32_t ErrorCode() const { return code_; }
  const std::string& Message() const { return message_; }

 private:
  int32_t code_ = 0;
  std::string message_;
};

// The exception of every engine failure. It carries its own code and names,
// so its text never shows the names of an earlier, unrelated error.
class EQuireEngineError : public EDatabaseError {
 public:
  EQuireEngineError(EngineErrorCode code, const TEngineErrorNames& names);

  EngineErrorCode Code() const { return code_; }
  const TEngineErrorNames& Names() const { return names_; }
  int ErrorCount() const { return static_cast<int>(errors_.size()); }
  // Entry 0 is the one the constructor adds.
  const TQuireError& GetError(int index) const { return errors_.at(index); }
  void AddError(int32_t code, std::string message);

 private:
  EngineErrorCode code_ = 0;
  TEngineErrorNames names_;
  std::vector<TQuireError> errors_;
};

// The one way the engine reports a failure: stores the code and the names in
// the last-error record and raises EQuireEngineError for the code.
[[noreturn]] void RaiseEngineError(EngineErrorCode code, const std::string& table_name,
                                   const std::string& field_name = std::string(),
                                   const std::string& index_name = std::string(),
                                   const std::string& message = std::string());

// Raises EQuireEngineError for the code with the given names, leaving the
// last-error record alone.
[[noreturn]] void RaiseEQuireEngineError(EngineErrorCode code,
                                         const TEngineErrorNames& names = TEngineErrorNames());

// 0 for code 0; raises EQuireEngineError for any other code.
int CheckEngineResult(EngineErrorCode code);

}  // namespace jw
