#include "engine/support/engine_errors.h"

#include "platform/rtl/strings.h"
#include "platform/rtl/sync.h"

namespace jw {
namespace {

// Which name fills a placeholder of a message text.
enum class Slot { Field, Table, Index, Message };

struct ErrorTextEntry {
  EngineErrorCode code;
  const char* text;
  std::vector<Slot> slots;
};

const std::vector<ErrorTextEntry>& ErrorTexts() {
  using enum Slot;
  static const std::vector<ErrorTextEntry> texts = {
      {8705, "Beginning of file encountered in table '%s'", {Table}},
      {8706, "End of file encountered in table '%s'", {Table}},
      {8708,
       "Record has been changed or deleted by another user, session, or table cursor in table "
       "'%s'",
       {Table}},
      {8709, "No current record in table '%s'", {Table}},
      {8710, "Record not found in table '%s'", {Table}},
      {8711, "End of blob data in table '%s' reached prematurely", {Table}},
      {8961, "Header information corrupt in table '%s'", {Table}},
      {8962, "Data record buffers corrupt in table '%s'", {Table}},
      {8963, "BLOB block buffers corrupt in table '%s'", {Table}},
      {8965, "Index page buffers corrupt in table '%s'", {Table}},
      {9217, "Error reading from table '%s'", {Table}},
      {9218, "Error writing to table '%s'", {Table}},
      {9220, "Cannot delete table '%s'", {Table}},
      {9221, "Error accessing header information for table '%s'", {Table}},
      {9477, "Maximum record size exceeded in table '%s'", {Table}},
      {9479, "The table '%s' is full and cannot contain any more data", {Table}},
      {9482, "Too many filters defined for table '%s'", {Table}},
      {9487,
       "Maximum or minimum limits on number of indexes or fields in an index exceeded in table "
       "'%s'",
       {Table}},
      {9492,
       "Maximum or minimum limits on number of fields, auto-increment field value, or field size "
       "exceeded in table '%s'",
       {Table}},
      {9494, "Too many blobs opened in table '%s'", {Table}},
      {9498, "Too many blob fields or invalid blob block size specified for table '%s'", {Table}},
      {9729, "Duplicate key found in index '%s' of table '%s'", {Index, Table}},
      {9730,
       "The value for the field '%s' in table '%s' is below the minimum allowable value",
       {Field, Table}},
      {9731,
       "The value for the field '%s' in table '%s' is above the maximum allowable value",
       {Field, Table}},
      {9732, "A value must be provided for the field '%s' in table '%s'", {Field, Table}},
      {9985, "Invalid field number or name '%s' specified for table '%s'", {Field, Table}},
      {9993,
       "A primary index is already defined for table '%s' and cannot be added again",
       {Table}},
      {9998, "Invalid blob offset into table '%s' specified", {Table}},
      {10000,
       "Invalid field definition specified for the field '%s' in table '%s'",
       {Field, Table}},
      {10006,
       "Invalid default, min or max validity check, or expression specified for '%s' in table '%s'",
       {Field, Table}},
      {10010, "The secondary index name is missing or not specified for table '%s'", {Table}},
      {10015, "Password provided for table '%s' is invalid", {Table}},
      {10022, "Invalid secondary index name '%s' specified for table '%s'", {Index, Table}},
      {10023,
       "Invalid field number '%s' specified in index '%s' for table '%s'",
       {Field, Index, Table}},
      {10026, "Invalid key size specified in index '%s' for table '%s'", {Index, Table}},
      {10027, "The secondary index '%s' already exists for table '%s'", {Index, Table}},
      {10029, "Invalid blob length in table '%s'", {Table}},
      {10030, "Invalid blob handle for table '%s' specified", {Table}},
      {10031, "table '%s' is already in use", {Table}},
      {10038, "Invalid or duplicate field name '%s' specified for table '%s'", {Field, Table}},
      {10050, "Invalid filter handle specified for table '%s'", {Table}},
      {10051, "Filter error for table '%s' - %s", {Table, Message}},
      {10055, "The primary index cannot be removed from table '%s'", {Table}},
      {10241, "The table '%s' is already locked by another user", {Table}},
      {10242, "Cannot unlock table or record in table '%s'", {Table}},
      {10249, "General lock failure with table '%s'", {Table}},
      {10253, "table '%s' must be opened exclusively", {Table}},
      {10258, "Record in table '%s' is in use by another user", {Table}},
      {10498, "Insufficient rights to table '%s', a password is required", {Table}},
      {10753, "Invalid blob field '%s' specified for table '%s'", {Field, Table}},
      {10758, "Engine not initialized", {}},
      {11010, "Invalid path or file name for table '%s'", {Table}},
      {11012, "Too many files open while attempting to open table '%s'", {Table}},
      {11013, "Access denied to table '%s'", {Table}},
      {11014, "Invalid file handle for table '%s'", {Table}},
      {11016,
       "There is insufficient operating system memory available for the current operation",
       {}},
      {11017, "Invalid length for in-memory table '%s'", {Table}},
      {11023, "Access denied to logical operating system device for table '%s'", {Table}},
      {11025, "table '%s' has been moved", {Table}},
      {11047, "An unknown operating system error occurred with table '%s'", {Table}},
      {11949, "SQL error - %s", {Message}},
      {12035, "table '%s' is not the correct version", {Table}},
      {12292, "Invalid field type specified for index '%s' in table '%s'", {Index, Table}},
      {13060, "The table '%s' already exists", {Table}},
      {15878, "The language driver for table '%s' is not available or installed", {Table}},
  };
  return texts;
}

const ErrorTextEntry& UnknownErrorText() {
  static const ErrorTextEntry unknown = {
      0, "Unknown error occurred with table '%S'", {Slot::Table}};
  return unknown;
}

const std::string& NameInSlot(const TEngineErrorNames& names, Slot slot) {
  switch (slot) {
    case Slot::Field:
      return names.FieldName;
    case Slot::Table:
      return names.TableName;
    case Slot::Index:
      return names.IndexName;
    case Slot::Message:
      break;
  }
  return names.Message;
}

// The last-error record and its lock.
TCriticalSection& LastErrorLock() {
  static TCriticalSection lock;
  return lock;
}

struct LastEngineError {
  EngineErrorCode code = 0;
  TEngineErrorNames names;
};

LastEngineError& LastError() {
  static LastEngineError record;
  return record;
}

}  // namespace

std::string EngineErrorText(EngineErrorCode code, const TEngineErrorNames& names) {
  const ErrorTextEntry* entry = &UnknownErrorText();
  for (const ErrorTextEntry& e : ErrorTexts()) {
    if (e.code == code) {
      entry = &e;
      break;
    }
  }
  // Every text has exactly as many "%s" (or "%S") placeholders as slots; the
  // names are inserted as they are, so a '%' inside a name stays literal.
  std::string text;
  size_t next_slot = 0;
  for (const char* p = entry->text; *p != '\0'; ++p) {
    if (p[0] == '%' && (p[1] == 's' || p[1] == 'S') && next_slot < entry->slots.size()) {
      text += NameInSlot(names, entry->slots[next_slot++]);
      ++p;
    } else {
      text += *p;
    }
  }
  if (text.size() > kMaxEngineErrorText) text.resize(kMaxEngineErrorText);
  return text;
}

std::string EngineErrorText(EngineErrorCode code) {
  TCriticalSectionGuard guard(LastErrorLock());
  return EngineErrorText(code, LastError().names);
}

EngineErrorCode GetLastEngineErrorCode() {
  TCriticalSectionGuard guard(LastErrorLock());
  return LastError().code;
}

std::string GetLastEngineErrorName(int kind) {
  TCriticalSectionGuard guard(LastErrorLock());
  switch (kind) {
    case 0:
      return LastError().names.FieldName;
    case 1:
      return LastError().names.TableName;
    case 2:
      return LastError().names.IndexName;
    default:
      return std::string();
  }
}

EQuireEngineError::EQuireEngineError(EngineErrorCode code, const TEngineErrorNames& names)
    : EDatabaseError(std::string()), code_(code), names_(names) {
  std::string text = EngineErrorText(code, names_);
  SetMessage("Quire Engine Error # " + std::to_string(code) + " " + text);
  AddError(code, std::move(text));
}

void EQuireEngineError::AddError(int32_t code, std::string message) {
  errors_.emplace_back(code, std::move(message));
}

void RaiseEngineError(EngineErrorCode code, const std::string& table_name,
                      const std::string& field_name, const std::string& index_name,
                      const std::string& message) {
  TEngineErrorNames names;
  names.FieldName = ShortString(field_name);
  names.TableName = ShortString(table_name);
  names.IndexName = ShortString(index_name);
  names.Message = ShortString(message);
  {
    TCriticalSectionGuard guard(LastErrorLock());
    LastError() = LastEngineError();
    LastError().code = code;
    LastError().names = names;
  }
  throw EQuireEngineError(code, names);
}

void RaiseEQuireEngineError(EngineErrorCode code, const TEngineErrorNames& names) {
  throw EQuireEngineError(code, names);
}

int CheckEngineResult(EngineErrorCode code) {
  if (code == 0) return 0;
  RaiseEQuireEngineError(code);
}

}  // namespace jw
