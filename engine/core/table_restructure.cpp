// TDataCursor's restructure: a new definition for a table, written in place
// when only header values and descriptors change, with the indexes rebuilt
// when they change, else through a copy of every record into a new table.
// A failure or a stop never leaves the table other than it was or as asked.
#include "engine/core/data_cursor.h"
#include "engine/core/index_rebuild.h"
#include "platform/rtl/strings.h"

namespace jw {
namespace {

const FieldDescriptor* FieldByNumber(const std::vector<FieldDescriptor>& fields, int32_t number) {
  for (const FieldDescriptor& field : fields) {
    if (field.Number == number) return &field;
  }
  return nullptr;
}

// Physical lengths and scales of the fields, and segment counts and key
// lengths of the indexes, as the new table will hold them.
void PrepareDefinition(TTableDefinition& definition, bool primary_optional,
                       const std::string& table_name) {
  for (FieldDescriptor& field : definition.Fields) {
    SetPhysicalLength(field);
    SetPhysicalScale(field);
  }
  if (definition.Indexes.empty()) definition.Indexes.emplace_back();
  for (size_t k = 0; k < definition.Indexes.size(); ++k) {
    IndexDescriptor& index = definition.Indexes[k];
    const bool primary = k == 0;
    int32_t length = 0;
    uint8_t segments = 0;
    for (; segments < kMaxSegments && index.FieldNumbers[segments] != 0; ++segments) {
      const FieldDescriptor* field = FieldByNumber(definition.Fields, index.FieldNumbers[segments]);
      if (field == nullptr && primary && primary_optional) break;
      if (field == nullptr) {
        RaiseEngineError(kErrInvalidField, table_name, std::to_string(index.FieldNumbers[segments]),
                         index.Name);
      }
      if (field->Type == kFldBlob) {
        RaiseEngineError(kErrInvalidIndexFieldType, table_name, "", index.Name);
      }
      length += field->PhysicalLength + 1;
    }
    for (uint8_t s = segments; s < kMaxSegments; ++s) index.FieldNumbers[s] = 0;
    index.SegmentCount = segments;
    if (primary) {
      index.Name.clear();
      index.Unique = 1;
    }
    const bool no_primary = primary && segments == 0 && primary_optional;
    if (length > kMaxKeyImageLength || (length == 0 && !no_primary)) {
      RaiseEngineError(kErrInvalidKeySize, table_name, "", index.Name);
    }
    index.KeyLength =
        static_cast<int16_t>(length == 0 ? 0 : length + (index.Unique != 0 ? 0 : kRecordIdLength));
  }
}

bool SameIndex(const IndexDescriptor& a, const IndexDescriptor& b) {
  if (a.KeyLength != b.KeyLength || a.SegmentCount != b.SegmentCount ||
      a.Descending != b.Descending || a.CaseInsensitive != b.CaseInsensitive ||
      a.Unique != b.Unique || a.Compression != b.Compression) {
    return false;
  }
  for (int32_t s = 0; s < a.SegmentCount; ++s) {
    if (a.FieldNumbers[s] != b.FieldNumbers[s] ||
        a.SegmentDescending[s] != b.SegmentDescending[s]) {
      return false;
    }
  }
  return true;
}

bool SameField(const FieldDescriptor& a, const FieldDescriptor& b) {
  return a.Number == b.Number && a.Type == b.Type && a.SubType == b.SubType &&
         a.PhysicalLength == b.PhysicalLength && a.PhysicalDecimals == b.PhysicalDecimals &&
         a.Required == b.Required && a.CharCase == b.CharCase && SameText(a.Default, b.Default) &&
         SameText(a.Minimum, b.Minimum) && SameText(a.Maximum, b.Maximum);
}

int32_t BlockSize(int32_t size) {
  return size == 0 ? kDefaultBlobBlockSize : size;
}

}  // namespace

void TDataCursor::SetRestructureProgressHandler(TProgressHandler handler, void* user_data) {
  restructure_progress_ = handler;
  restructure_progress_user_data_ = user_data;
}

void TDataCursor::SetDataLossHandler(TDataLossHandler handler, void* user_data) {
  data_loss_ = handler;
  data_loss_user_data_ = user_data;
}

bool TDataCursor::ReportDataLoss(TDataLossKind kind, const std::string& text) {
  if (data_loss_ == nullptr) return false;
  if (!loss_answered_) data_loss_(data_loss_user_data_, kind, text, loss_answered_, loss_go_on_);
  return loss_go_on_;
}

bool TDataCursor::NeedsFullCopy(const TTableDefinition& definition) const {
  const TDataFile& data = table_->DataFile();
  if (definition.Encrypted != data.Encrypted() ||
      BlockSize(definition.BlobBlockSize) != data.BlobBlockSize() ||
      definition.LanguageId != data.LanguageId() || definition.SortId != data.SortId() ||
      static_cast<int32_t>(definition.Fields.size()) != data.FieldCount()) {
    return true;
  }
  for (int32_t i = 1; i <= data.FieldCount(); ++i) {
    if (!SameField(data.FieldDesc(i), definition.Fields[static_cast<size_t>(i - 1)])) return true;
  }
  return false;
}

bool TDataCursor::IndexesDiffer(const TTableDefinition& definition) const {
  const TIndexFile& index = table_->IndexFile();
  if (static_cast<int32_t>(definition.Indexes.size()) != index.SecondaryCount() + 1) return true;
  const bool new_primary = definition.Indexes[0].SegmentCount != 0;
  if (new_primary != table_->HasPrimaryIndex()) return true;
  for (int32_t slot = new_primary ? 0 : 1; slot <= index.SecondaryCount(); ++slot) {
    if (!SameIndex(index.IndexDesc(slot), definition.Indexes[static_cast<size_t>(slot)])) {
      return true;
    }
  }
  return false;
}

void TDataCursor::ApplyIndexDefinitions(const TTableDefinition& definition,
                                        std::vector<int32_t>& rebuilt) {
  TIndexFile& index = table_->IndexFile();
  const auto wanted = static_cast<int32_t>(definition.Indexes.size()) - 1;
  // Surplus indexes go from the highest number down.
  for (int32_t slot = index.SecondaryCount(); slot > wanted; --slot) {
    FreeIndexPages(index, *this, slot);
    DropIndexPages();
    index.RemoveIndexDesc(slot, true);
  }
  const IndexDescriptor& primary = definition.Indexes[0];
  const bool new_primary = primary.SegmentCount != 0;
  if (new_primary != table_->HasPrimaryIndex() ||
      (new_primary && !SameIndex(index.IndexDesc(kPrimarySlot), primary))) {
    if (table_->HasPrimaryIndex()) FreeIndexPages(index, *this, kPrimarySlot);
    index.ReplaceIndexDesc(kPrimarySlot, new_primary ? primary : IndexDescriptor());
    index.SetNoPrimaryIndex(!new_primary);
    if (new_primary) rebuilt.push_back(kPrimarySlot);
  }
  for (int32_t slot = 1; slot <= wanted; ++slot) {
    const IndexDescriptor& wanted_index = definition.Indexes[static_cast<size_t>(slot)];
    if (slot > index.SecondaryCount()) {
      index.AddIndexDesc(wanted_index);
      rebuilt.push_back(slot);
    } else if (!SameIndex(index.IndexDesc(slot), wanted_index)) {
      FreeIndexPages(index, *this, slot);
      index.ReplaceIndexDesc(slot, wanted_index);
      rebuilt.push_back(slot);
    }
  }
  DropIndexPages();
}

bool TDataCursor::RestructureIndexes(const TTableDefinition& definition, bool no_backup) {
  TIndexFile& index = table_->IndexFile();
  table_->BackupIndexFile();
  std::string refused;
  bool stopped = false;
  try {
    std::vector<int32_t> rebuilt;
    ApplyIndexDefinitions(definition, rebuilt);
    if (!rebuilt.empty() && table_->DataFile().RecordCount() > 0) {
      TIndexRebuildHandlers handlers;
      handlers.Duplicate = [&](int32_t slot, int32_t) {
        refused = index.IndexDesc(slot).Name;
        return ReportDataLoss(TDataLossKind::DuplicateKey, refused);
      };
      if (restructure_progress_ != nullptr) {
        handlers.Progress = [this](int32_t number, int32_t percent) {
          restructure_progress_(restructure_progress_user_data_, number, percent);
        };
      }
      stopped = !RebuildIndexes(*this, rebuilt, handlers);
    }
    if (!stopped) table_->WriteBack(false, true, false, table_->BlobFileInUse(), true);
  } catch (...) {
    table_->RestoreIndexFile(false, no_backup);
    throw;
  }
  if (!stopped) return true;
  table_->RestoreIndexFile(false, no_backup);
  if (data_loss_ == nullptr) Raise(kErrDuplicateKey, "", refused);
  return false;
}

void TDataCursor::WriteDefinitionInPlace(const TTableDefinition& definition,
                                         int32_t last_auto_inc) {
  TDataFile& data = table_->DataFile();
  TIndexFile& index = table_->IndexFile();
  for (int32_t i = 1; i <= data.FieldCount(); ++i) {
    data.UpdateFieldDesc(i, definition.Fields[static_cast<size_t>(i - 1)]);
  }
  for (int32_t slot = 1; slot <= index.SecondaryCount(); ++slot) {
    const IndexDescriptor& wanted = definition.Indexes[static_cast<size_t>(slot)];
    index.RenameIndexDesc(slot, wanted.Name, wanted.FieldNumbers);
  }
  data.SetTableOptions(definition.Password, definition.Description, definition.UserMinor,
                       definition.UserMajor, last_auto_inc);
  table_->WriteBack(false, true, false, false, true);
}

bool TDataCursor::RestructureTable(const TTableDefinition& definition,
                                   const TRestructureOptions& options) {
  CheckClosed();
  if (!exclusive_) Raise(kErrMustBeExclusive);
  if (read_only_) Raise(kErrAccessDenied);
  Open();
  loss_answered_ = false;
  loss_go_on_ = true;
  bool done = true;
  try {
    TTableDefinition wanted = definition;
    PrepareDefinition(wanted, options.PrimaryOptional, table_name_);
    const int32_t last_auto_inc =
        options.LastAutoInc == -1 ? table_->DataFile().LastAutoInc() : options.LastAutoInc;
    if (NeedsFullCopy(wanted)) {
      Raise(kErrInvalidField);
    }
    const bool indexes = IndexesDiffer(wanted);
    if (indexes) done = RestructureIndexes(wanted, options.NoBackup);
    if (done) {
      WriteDefinitionInPlace(wanted, last_auto_inc);
      // The backup goes only once the new definition is written.
      if (indexes && options.NoBackup) table_->RestoreIndexFile(true, true);
    }
  } catch (...) {
    Close(false);
    throw;
  }
  Close(false);
  return done;
}

}  // namespace jw
