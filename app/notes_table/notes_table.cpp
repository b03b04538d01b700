#include "app/notes_table/notes_table.h"

#include "engine/core/data_cursor.h"
#include "engine/core/data_file_format.h"
#include "engine/core/data_session.h"
#include "engine/support/field_types.h"

namespace jw {

namespace {

FieldDescriptor Column(const char* name, uint8_t type, uint8_t size = 0, uint8_t sub_type = 0) {
  FieldDescriptor field;
  field.Name = name;
  field.Type = type;
  field.Size = size;
  field.SubType = sub_type;
  return field;
}

// The longest string a column may hold; paper file names and font
// descriptions get all of it.
constexpr uint8_t kLongestString = 250;
// Field number of "Zorder", the last column.
constexpr int16_t kZorderField = 12;

IndexDescriptor IndexOn(const char* name, int16_t field_number, bool unique) {
  IndexDescriptor index;
  index.Name = name;
  index.Unique = unique ? 1 : 0;
  index.SegmentCount = 1;
  index.FieldNumbers[0] = field_number;
  return index;
}

}  // namespace

TTableDefinition ScrapTableDefinition() {
  TTableDefinition definition;
  definition.Fields = {Column("scrapid", kFldInteger, 0, kSubTypeAutoInc),
                       Column("message", kFldBlob),
                       Column("top", kFldInteger),
                       Column("left", kFldInteger),
                       Column("paperFile", kFldString, kLongestString),
                       Column("imagescale", kFldFloat),
                       Column("FontDesc", kFldString, kLongestString),
                       Column("FontAngle", kFldFloat),
                       Column("StayOnTop", kFldBoolean),
                       Column("AlarmDateTime", kFldTimeStamp),
                       Column("AlarmLastSounded", kFldTimeStamp),
                       Column("Zorder", kFldInteger)};
  for (size_t i = 0; i < definition.Fields.size(); ++i)
    definition.Fields[i].Number = static_cast<int16_t>(i + 1);
  definition.Indexes = {IndexOn("", 1, true), IndexOn("Zorder", kZorderField, false)};
  definition.BlobBlockSize = kDefaultBlobBlockSize;
  definition.Description = "Jotterwick notes";
  definition.Password = kScrapTablePassword;
  definition.Encrypted = true;
  return definition;
}

void CreateScrapTable(const std::string& folder) {
  TDataSession session;
  TDataCursor cursor(session.OpenDirectory("Notes", folder));
  cursor.SetTableName(kScrapTableName);
  cursor.SetExclusive(true);
  TTableDefinition definition = ScrapTableDefinition();
  cursor.CreateTable(definition, false, false);
}

}  // namespace jw
