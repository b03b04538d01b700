// Execution of the data definition statements: column and index
// definitions turned into the engine's field and index descriptors, then the
// cursor's table operations (create, add index, restructure, delete table,
// delete index) on the statement's target table, which is closed again on
// every path.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/data_cursor.h"
#include "engine/sql/data_query.h"
#include "engine/sql/sql_errors.h"
#include "engine/support/engine_errors.h"
#include "engine/support/field_types.h"
#include "platform/rtl/strings.h"

namespace jw {

namespace {

// The room of a descriptor's name and of its description and texts.
constexpr size_t kNameRoom = 30;
constexpr size_t kTextRoom = 50;

// Gives the descriptor what the column definition writes: its name, its
// type when one is given, and each attribute it gives.
void ApplyColumn(const TCreateField& column, FieldDescriptor& field) {
  const std::string& name = column.NewColumnName.empty() ? column.ColumnName : column.NewColumnName;
  if (field.Name.empty() || !column.NewColumnName.empty()) field.Name = name.substr(0, kNameRoom);
  if (column.Type != 0) {
    field.Type = column.Type;
    field.SubType = column.Subtype;
    field.Size = column.Type == kFldString || column.Type == kFldBytes ? column.Size : 0;
    field.Decimals = column.Type == kFldBcd ? column.Scale : 0;
  }
  if (column.DescriptionGiven) field.Description = column.Description.substr(0, kTextRoom);
  if (column.RequiredGiven) field.Required = column.Required ? 1 : 0;
  if (column.CharCaseGiven) field.CharCase = column.CharCase;
  if (column.DefaultGiven) field.Default = column.Default.substr(0, kTextRoom);
  if (column.MinimumGiven) field.Minimum = column.Minimum.substr(0, kTextRoom);
  if (column.MaximumGiven) field.Maximum = column.Maximum.substr(0, kTextRoom);
  field.Derived = 0;
}

// The index descriptor of a key or index definition over the fields; an
// unknown column is refused rather than left to end the key early.
IndexDescriptor IndexOf(const TCreateIndex& index, const std::vector<FieldDescriptor>& fields,
                        const std::string& table) {
  IndexDescriptor descriptor;
  descriptor.Name = index.Name.substr(0, kNameRoom);
  descriptor.Descending = index.Descending ? 1 : 0;
  descriptor.CaseInsensitive = index.CaseInsensitive ? 1 : 0;
  descriptor.Unique = index.Unique ? 1 : 0;
  descriptor.Compression = index.Compression;
  descriptor.SegmentCount = static_cast<uint8_t>(index.ColumnNames.size());
  for (size_t i = 0; i < index.ColumnNames.size(); ++i) {
    const std::string& name = index.ColumnNames[i];
    int16_t number = 0;
    for (const FieldDescriptor& field : fields) {
      if (number == 0 && SameText(field.Name, name)) number = field.Number;
    }
    if (number == 0) RaiseInvalidColumn(name, table, "index columns");
    descriptor.FieldNumbers[i] = number;
  }
  return descriptor;
}

// Runs the work on the open target and closes it, also when the work fails.
template <class Work>
void CloseAfter(TDataCursor& cursor, Work work) {
  try {
    work();
  } catch (...) {
    cursor.Close(false);
    throw;
  }
  cursor.Close(false);
}

}  // namespace

void TDataQuery::PrepareDefinition() {
  TDataCursor& cursor = CreateTableCursor(*SourceTables.front());
  cursor.SetExclusive(true);
}

void TDataQuery::ExecuteDefinition() {
  switch (Kind) {
    case kSqlCreateTable:
      return ExecuteCreateTable();
    case kSqlCreateIndex:
      return ExecuteCreateIndex();
    case kSqlDropIndex:
      return ExecuteDropIndex();
    default:
      return;
  }
}

void TDataQuery::ExecuteCreateTable() {
  TTableDefinition definition;
  for (const std::unique_ptr<TCreateField>& column : CreateFields) {
    FieldDescriptor field;
    field.Number = column->Position;
    ApplyColumn(*column, field);
    definition.Fields.push_back(field);
  }
  const TSourceTable& target = *SourceTables.front();
  // Without a key clause the table has no primary index.
  definition.Indexes.push_back(
      CreateIndexes.empty() ? IndexDescriptor()
                            : IndexOf(*CreateIndexes.front(), definition.Fields, target.TableName));
  definition.LanguageId = static_cast<int16_t>(Options.LanguageId);
  definition.SortId = static_cast<int16_t>(Options.SortId);
  definition.BlobBlockSize = Options.BlobBlockSize;
  definition.Description = Options.Description;
  definition.Password = Options.Password;
  definition.Encrypted = Options.Encrypted;
  definition.UserMajor = static_cast<int16_t>(Options.UserMajorVersion);
  definition.UserMinor = static_cast<int16_t>(Options.UserMinorVersion);
  target.Cursor->CreateTable(definition, false, true);
}

void TDataQuery::ExecuteCreateIndex() {
  TDataCursor& cursor = *SourceTables.front()->Cursor;
  OpenWithPasswordHandler(cursor);
  CloseAfter(cursor, [&] {
    std::vector<FieldDescriptor> fields;
    for (int32_t i = 1; i <= cursor.GetFieldCount(); ++i) {
      fields.push_back(cursor.GetTableFieldDesc(i));
    }
    cursor.AddIndex(IndexOf(*CreateIndexes.front(), fields, SourceTables.front()->TableName));
  });
}

void TDataQuery::ExecuteDropIndex() {
  TDataCursor& cursor = *SourceTables.front()->Cursor;
  OpenWithPasswordHandler(cursor);
  CloseAfter(cursor, [&] {
    if (SameText(Trim(SecondName), "PRIMARY")) {
      cursor.DeleteIndexByNumber(0, true);
    } else {
      cursor.DeleteIndex(SecondName, true);
    }
  });
}

}  // namespace jw
