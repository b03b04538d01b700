// Execution of the data definition statements: column and index
// definitions turned into the engine's field and index descriptors, then the
// cursor's table operations (create, add index, restructure, delete table,
// delete index) on the statement's target table, which is closed again on
// every path.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/data_cursor.h"
#include "engine/core/table_restructure.h"
#include "engine/sql/data_query.h"
#include "engine/sql/query_statement.h"
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

// The one loss ALTER TABLE accepts is a column it drops itself; any other
// stops the restructure and is raised once the table is as it was.
struct TLossGuard {
  const std::vector<std::string>* dropped = nullptr;
  bool stopped = false;
  TDataLossKind kind = TDataLossKind::RecordNotCopied;
  std::string text;
};

void GuardDataLoss(void* user_data, TDataLossKind kind, const std::string& text,
                   bool& answer_for_all, bool& go_on) {
  auto& guard = *static_cast<TLossGuard*>(user_data);
  answer_for_all = false;
  if (kind == TDataLossKind::FieldDropped) {
    for (const std::string& name : *guard.dropped) go_on = go_on || SameText(name, text);
    if (go_on) return;
  }
  go_on = false;
  guard.stopped = true;
  guard.kind = kind;
  guard.text = text;
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
    case kSqlAlterTable:
      return ExecuteAlterTable();
    case kSqlDropTable:
      return SourceTables.front()->Cursor->DeleteTable();
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

void TDataQuery::ExecuteAlterTable() {
  TDataCursor& cursor = *SourceTables.front()->Cursor;
  const std::string& table = SourceTables.front()->TableName;
  OpenWithPasswordHandler(cursor);
  TTableDefinition definition;
  CloseAfter(cursor, [&] {
    definition.Encrypted = cursor.GetEncrypted();
    definition.Password = cursor.GetPassword();
    definition.LanguageId = static_cast<int16_t>(cursor.GetLanguageID());
    definition.SortId = static_cast<int16_t>(cursor.GetSortID());
    definition.BlobBlockSize = cursor.GetBlobBlockSize();
    definition.Description = cursor.GetDescription();
    definition.UserMajor = cursor.GetUserMajorVersion();
    definition.UserMinor = cursor.GetUserMinorVersion();
    for (int32_t i = 1; i <= cursor.GetFieldCount(); ++i) {
      definition.Fields.push_back(cursor.GetTableFieldDesc(i));
    }
    for (int32_t i = 0; i <= cursor.GetIndexCount(); ++i) {
      definition.Indexes.push_back(cursor.GetIndexDesc(static_cast<uint8_t>(i)));
    }
    if (cursor.HasNoPrimaryIndex()) definition.Indexes.front() = IndexDescriptor();
  });
  std::vector<std::string> dropped;
  ApplyColumnChanges(definition.Fields, dropped);
  ApplyKeyChanges(definition, table);
  if (Options.EncryptionGiven) {
    definition.Encrypted = Options.Encrypted;
    definition.Password = Options.Password;
  }
  if (Options.LanguageGiven) definition.LanguageId = static_cast<int16_t>(Options.LanguageId);
  if (Options.SortGiven) definition.SortId = static_cast<int16_t>(Options.SortId);
  if (Options.BlobBlockSizeGiven) definition.BlobBlockSize = Options.BlobBlockSize;
  if (Options.DescriptionGiven) definition.Description = Options.Description;
  if (Options.UserMajorVersionGiven) {
    definition.UserMajor = static_cast<int16_t>(Options.UserMajorVersion);
  }
  if (Options.UserMinorVersionGiven) {
    definition.UserMinor = static_cast<int16_t>(Options.UserMinorVersion);
  }
  TRestructureOptions restructure;
  restructure.NoBackup = true;
  restructure.LastAutoInc = Options.LastAutoInc;
  restructure.PrimaryOptional = true;
  TLossGuard guard;
  guard.dropped = &dropped;
  cursor.SetDataLossHandler(GuardDataLoss, &guard);
  cursor.SetPasswordHandler(Statement.PasswordHandler(), Statement.PasswordUserData());
  try {
    cursor.RestructureTable(definition, restructure);
  } catch (...) {
    cursor.SetDataLossHandler(nullptr, nullptr);
    cursor.SetPasswordHandler(nullptr, nullptr);
    throw;
  }
  cursor.SetDataLossHandler(nullptr, nullptr);
  cursor.SetPasswordHandler(nullptr, nullptr);
  if (!guard.stopped) return;
  if (guard.kind == TDataLossKind::DuplicateKey) {
    RaiseEngineError(kErrDuplicateKey, cursor.TableName(), std::string(), guard.text);
  }
  RaiseEngineError(kErrInvalidFieldDefinition, cursor.TableName(), guard.text);
}

void TDataQuery::ApplyColumnChanges(std::vector<FieldDescriptor>& fields,
                                    std::vector<std::string>& dropped) const {
  int16_t highest = 0;
  for (const FieldDescriptor& field : fields) highest = std::max(highest, field.Number);
  auto find = [&fields](const std::string& name) {
    for (size_t i = 0; i < fields.size(); ++i) {
      if (SameText(fields[i].Name, name)) return i;
    }
    RaiseSqlError("Column " + name + " not found");
  };
  for (const std::unique_ptr<TCreateField>& column : CreateFields) {
    const auto count = static_cast<int16_t>(fields.size());
    if (column->AtGiven && (column->At < 1 || column->At > count)) {
      RaiseSqlError("AT column position must be between 1 and " + IntToStr(count));
    }
    if (column->Add) {
      // Each added column takes a number of its own, so that no two added
      // columns are copied from the same old field.
      FieldDescriptor field;
      field.Number = ++highest;
      ApplyColumn(*column, field);
      fields.insert(column->AtGiven ? fields.begin() + (column->At - 1) : fields.end(), field);
    } else if (column->Redefine) {
      const size_t found = find(column->ColumnName);
      FieldDescriptor field = fields[found];
      ApplyColumn(*column, field);
      fields.erase(fields.begin() + static_cast<std::ptrdiff_t>(found));
      const size_t place = column->AtGiven ? static_cast<size_t>(column->At - 1) : found;
      fields.insert(fields.begin() + static_cast<std::ptrdiff_t>(place), field);
    } else if (column->Drop) {
      const size_t found = find(column->ColumnName);
      dropped.push_back(fields[found].Name);
      fields.erase(fields.begin() + static_cast<std::ptrdiff_t>(found));
    }
  }
}

void TDataQuery::ApplyKeyChanges(TTableDefinition& definition, const std::string& table) const {
  for (const std::unique_ptr<TCreateIndex>& key : CreateIndexes) {
    IndexDescriptor& primary = definition.Indexes.front();
    if (key->Drop) {
      primary = IndexDescriptor();
      continue;
    }
    if (key->Add && primary.SegmentCount != 0) {
      RaiseSqlError("Cannot REDEFINE the primary key using the ADD keyword");
    }
    primary = IndexOf(*key, definition.Fields, table);
  }
}

}  // namespace jw
