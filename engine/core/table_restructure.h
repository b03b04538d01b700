// What a restructure of a table through a cursor reports and is told: the
// kinds of data loss its handler is asked about, and the options beside the
// new definition.
#pragma once

#include <cstdint>
#include <string>

namespace jw {

enum class TDataLossKind : int32_t {
  // A record could not be copied (an error other than those below).
  RecordNotCopied = 0,
  // A unique index refused a key; the text names the index.
  DuplicateKey = 1,
  // A validity check refused a value; the text names the field.
  ValidityCheck = 2,
  // A field of the old table has no field in the new one.
  FieldDropped = 3,
  // A value cannot be converted to the new field's type.
  ValueNotConverted = 4,
};

// Asked for every loss until answer_for_all is set; go_on false stops the
// restructure and leaves the table as it was.
using TDataLossHandler = void (*)(void* user_data, TDataLossKind kind, const std::string& text,
                                  bool& answer_for_all, bool& go_on);

struct TRestructureOptions {
  // The old files are deleted instead of kept as backups.
  bool NoBackup = false;
  // -1 keeps the table's last auto-increment value.
  int32_t LastAutoInc = -1;
  // A primary index whose first segment names no field means none.
  bool PrimaryOptional = false;
};

}  // namespace jw
