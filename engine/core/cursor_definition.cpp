// TDataCursor's table definition: the definition check, creating,
// deleting, renaming, backing up and emptying a table, and the physical
// sort of a table without indexes.
#include <algorithm>

#include "engine/core/data_cursor.h"
#include "engine/core/data_directory.h"
#include "engine/core/data_session.h"
#include "engine/core/index_rebuild.h"
#include "engine/support/file_list.h"
#include "engine/support/key_images.h"
#include "engine/support/language_settings.h"
#include "engine/support/support_startup.h"
#include "engine/support/value_conversions.h"
#include "platform/rtl/strings.h"

namespace jw {
namespace {

bool IsSizedType(uint8_t type) {
  return type == kFldString || type == kFldBytes || type == kFldType15;
}

// A name that may stand as a field or index name: its upper-case form is
// 1..30 characters and starts with a character that may begin an identifier.
bool IsDefinableName(const std::string& name) {
  const std::string upper = UpperCase(name);
  return !upper.empty() && upper.size() <= static_cast<size_t>(kMaxFieldNameLength) &&
         IsIdentStartChar(upper[0]);
}

const FieldDescriptor* FieldOfNumber(const std::vector<FieldDescriptor>& fields, int16_t number) {
  const auto it = std::find_if(fields.begin(), fields.end(),
                               [number](const FieldDescriptor& f) { return f.Number == number; });
  return it == fields.end() ? nullptr : &*it;
}

// The stored table numbers its fields by position: index segments are
// mapped from the definition's numbers to those positions.
void NumberSegmentsByPosition(TTableDefinition& definition) {
  for (IndexDescriptor& index : definition.Indexes) {
    for (int32_t s = 0; s < index.SegmentCount; ++s) {
      const FieldDescriptor* field = FieldOfNumber(definition.Fields, index.FieldNumbers[s]);
      index.FieldNumbers[s] = static_cast<int16_t>(field - definition.Fields.data() + 1);
    }
  }
}

}  // namespace

void TDataCursor::CheckExclusive() const {
  if (!exclusive_) Raise(kErrMustBeExclusive);
}

void TDataCursor::CheckWritable() const {
  if (read_only_) Raise(kErrAccessDenied);
}

void TDataCursor::CheckOpen() const {
  if (!open_) Raise(kErrInvalidHandle);
}

void TDataCursor::CheckTableDefinition(TTableDefinition& definition, bool primary_optional,
                                       int32_t last_auto_inc) {
  TTableDefinition& d = definition;
  if (d.Encrypted) {
    const std::string password = Trim(d.Password);
    if (password.empty() || password.size() > static_cast<size_t>(kMaxPasswordLength)) {
      Raise(kErrInvalidPassword);
    }
  }
  const auto language_id = static_cast<uint16_t>(d.LanguageId);
  const auto sort_id = static_cast<uint16_t>(d.SortId);
  if (!IsKnownLanguage(language_id, sort_id)) Raise(kErrLanguageDriver);
  if (d.Fields.size() > static_cast<size_t>(kMaxFieldCount) || last_auto_inc < -1) {
    Raise(kErrFieldLimits);
  }
  // The index file holds 30 secondary indexes; a definition with more
  // could never be stored.
  if (d.Indexes.size() > static_cast<size_t>(kMaxSecondaryIndexes) + 1) Raise(kErrIndexLimits);
  if (d.BlobBlockSize < kMinBlobBlockSize || d.BlobBlockSize > kMaxBlobBlockSize) {
    Raise(kErrBlobFieldsOrBlockSize);
  }
  CheckFieldDefinitions(language_id, sort_id, d.Fields, true);
  CheckIndexDefinitions(d.Indexes, d.Fields, primary_optional);
}

void TDataCursor::CheckFieldDefinitions(uint16_t language_id, uint16_t sort_id,
                                        std::vector<FieldDescriptor>& fields,
                                        bool compute_offsets) const {
  // Default and limit texts are read as the table's own locale writes them.
  const TLanguageSwap swap(language_id, sort_id);
  int32_t offset = kRecordHeadSize;
  for (size_t i = 0; i < fields.size(); ++i) {
    FieldDescriptor& field = fields[i];
    field.Name = Trim(field.Name);
    if (!IsDefinableName(field.Name)) Raise(kErrInvalidFieldName, field.Name);
    for (size_t j = 0; j < i; ++j) {
      if (SameText(fields[j].Name, field.Name)) Raise(kErrInvalidFieldName, field.Name);
    }
    for (size_t j = 0; j < i; ++j) {
      if (fields[j].Number == field.Number) Raise(kErrInvalidFieldDefinition, field.Name);
    }
    // A type code outside the known ones would give the field no length
    // and make every record of the table unreadable.
    if (!IsKnownFieldType(field.Type)) Raise(kErrInvalidFieldDefinition, field.Name);
    if (IsSizedType(field.Type)) {
      if (field.Size > kMaxFieldSize) Raise(kErrInvalidFieldDefinition, field.Name);
    } else {
      field.Size = 0;
    }
    if (!IsValidFieldText(field.Default, field.Type) ||
        !IsValidFieldText(field.Minimum, field.Type) ||
        !IsValidFieldText(field.Maximum, field.Type)) {
      Raise(kErrInvalidValidityCheck, field.Name);
    }
    if (field.Type != kFldBcd) field.Decimals = 0;
    SetPhysicalLength(field);
    SetPhysicalScale(field);
    if (!result_set_) field.Derived = 0;
    if (!compute_offsets) continue;
    if (field.IsAutoInc()) {
      field.Offset = kRecId;
    } else if (field.Derived == 0) {
      field.Offset = static_cast<uint16_t>(std::min(offset, kMaxRecordSize));
      offset += field.PhysicalLength + 1;
    }
  }
  if (offset > kMaxRecordSize) Raise(kErrRecordSize);
}

void TDataCursor::CheckIndexDefinitions(std::vector<IndexDescriptor>& indexes,
                                        const std::vector<FieldDescriptor>& fields,
                                        bool primary_optional) const {
  if (indexes.empty()) indexes.emplace_back();
  for (size_t n = 0; n < indexes.size(); ++n) {
    IndexDescriptor& index = indexes[n];
    const bool primary = n == 0;
    if (primary) {
      index.Name.clear();
      index.Unique = 1;
    } else {
      index.Name = Trim(index.Name);
      if (!IsDefinableName(index.Name)) Raise(kErrInvalidIndexName, "", index.Name);
      for (size_t j = 1; j < n; ++j) {
        if (SameText(indexes[j].Name, index.Name)) Raise(kErrIndexExists, "", index.Name);
      }
    }
    int32_t segments = 0;
    int32_t length = 0;
    for (; segments < kMaxSegments && index.FieldNumbers[segments] != 0; ++segments) {
      const int16_t number = index.FieldNumbers[segments];
      const FieldDescriptor* field = FieldOfNumber(fields, number);
      if (field == nullptr) {
        if (primary && primary_optional && segments == 0) break;
        Raise(kErrInvalidIndexField, std::to_string(number), index.Name);
      }
      if (field->Type == kFldBlob) Raise(kErrInvalidIndexFieldType, "", index.Name);
      length += field->PhysicalLength + 1;
    }
    std::fill(index.FieldNumbers.begin() + segments, index.FieldNumbers.end(), 0);
    std::fill(index.SegmentDescending.begin() + segments, index.SegmentDescending.end(), 0);
    if (length > kMaxKeyImageLength || (length == 0 && !(primary && primary_optional))) {
      Raise(kErrInvalidKeySize, "", index.Name);
    }
    if (index.Unique == 0) length += kRecordIdLength;
    index.SegmentCount = static_cast<uint8_t>(segments);
    index.KeyLength = static_cast<int16_t>(length);
    index.Root = 0;
    index.FreeHead = 0;
  }
}

void TDataCursor::CreateTable(TTableDefinition& definition, bool overwrite, bool primary_optional) {
  CheckClosed();
  CheckExclusive();
  CheckWritable();
  // The password is stored trimmed, as the session will be asked for it.
  if (definition.Encrypted) definition.Password = Trim(definition.Password);
  const TLentPassword lent(definition.Encrypted ? directory_->Session() : nullptr,
                           definition.Password);
  CheckTableDefinition(definition, primary_optional, 0);
  if (directory_->TableExists(table_name_, in_memory_)) {
    if (!overwrite) Raise(kErrTableExists);
    // Replaced whole: a BLOB file the new definition does not need must
    // not stay behind under the table's name.
    RaiseIfRefused(directory_->DeleteTable(table_name_, in_memory_), table_name_);
  }
  TTableDefinition stored = definition;
  NumberSegmentsByPosition(stored);
  TDataTable* table = nullptr;
  RaiseIfRefused(directory_->CreateTable(table_name_, stored, in_memory_, exclusive_, table),
                 table_name_);
  // The files are this call's own: a half-written table must not stay.
  const auto drop_made_files = [this] {
    try {
      directory_->DeleteTable(table_name_, in_memory_);
    } catch (const Exception&) {
      // The failure that got here is the one the caller hears of.
    }
  };
  try {
    table->WriteBack(false, true, false, true, true);
  } catch (...) {
    try {
      directory_->CloseTable(table, true);
    } catch (const Exception&) {
    }
    drop_made_files();
    throw;
  }
  try {
    RaiseIfRefused(directory_->CloseTable(table, false), table_name_);
  } catch (...) {
    drop_made_files();
    throw;
  }
}

void TDataCursor::DeleteTable() {
  CheckClosed();
  RaiseIfRefused(directory_->DeleteTable(table_name_, in_memory_), table_name_);
}

void TDataCursor::RenameTable(const std::string& new_name) {
  CheckClosed();
  RaiseIfRefused(directory_->RenameTable(table_name_, new_name, false, in_memory_), table_name_);
}

void TDataCursor::BackupTable() {
  CheckClosed();
  RaiseIfRefused(directory_->RenameTable(table_name_, table_name_, true, in_memory_), table_name_);
}

void TDataCursor::EmptyTable() {
  CheckOpen();
  CheckExclusive();
  CheckWritable();
  FreeBlobs(true);
  table_->Empty();
  SaveChangeCounters();
  RecomputeView();
  First();
}

void TDataCursor::SortRecords(TSortRequest request) {
  CheckOpen();
  CheckExclusive();
  // The records are rewritten in place: never through a read-only cursor.
  CheckWritable();
  // The keys of other indexes would name the records by their old numbers.
  if (table_->HasPrimaryIndex() || GetIndexCount() > 0) return;
  if (request.RunFolder.empty() && directory_->Session() != nullptr) {
    request.RunFolder = directory_->Session()->GetPrivateDir();
  }
  FreeBlobs(true);
  // The sort writes the records over themselves: a copy of the data file,
  // taken with every change written, puts the table back should it fail
  // half way.
  table_->WriteBack(false, false, false, false, false);
  TDataFile& data = table_->DataFile();
  const std::string copy =
      MakeTempFileName(in_memory_ ? std::string() : directory_->Path(), ".TMP", in_memory_);
  try {
    data.CopyToFile(copy);
  } catch (...) {
    FileList().DeleteFile(copy, in_memory_);
    throw;
  }
  try {
    std::vector<TStatusKey> status_keys;
    request.StatusKeys = &status_keys;
    SortTableRecords(*table_, request);
    RestartStatusIndex(*table_, *this, status_keys);
  } catch (...) {
    RecoverFailedSort(copy);
    throw;
  }
  FileList().DeleteFile(copy, in_memory_);
  SaveChangeCounters();
  RecomputeView();
  First();
}

void TDataCursor::RecoverFailedSort(const std::string& copy) {
  // Every step is tried; the sort's failure is the one the caller hears of.
  TDataFile& data = table_->DataFile();
  bool restored = false;
  try {
    data.DropRecordCache();
    data.CopyFromFile(copy);
    data.ReadHeader();
    restored = true;
  } catch (const Exception&) {
  }
  // The index file is cut or half rebuilt: without it, the next open makes
  // a new one from the records.
  const std::string index_path = table_->FileNames().Index;
  try {
    Close(true);
  } catch (const Exception&) {
  }
  FileList().DeleteFile(index_path, in_memory_);
  // A copy that could not be put back is the table's only sound state.
  if (restored) FileList().DeleteFile(copy, in_memory_);
}

}  // namespace jw
