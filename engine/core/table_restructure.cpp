// TDataCursor's restructure: a new definition for a table, written in place
// when only header values and descriptors change, with the indexes rebuilt
// when they change, else through a copy of every record into a new table.
// A failure or a stop never leaves the table other than it was or as asked.
#include <algorithm>
#include <array>
#include <cstring>

#include "engine/core/data_cursor.h"
#include "engine/core/data_directory.h"
#include "engine/core/data_session.h"
#include "engine/core/index_rebuild.h"
#include "engine/support/language_settings.h"
#include "engine/support/value_conversions.h"
#include "platform/rtl/strings.h"

namespace jw {
namespace {

// Texts are read and written as the new table's locale has them. A text
// longer than the new string field does not convert: cut to the field, it
// would lose characters without a word. (Trailing blanks are not stored.)
bool ConvertValue(const FieldDescriptor& from, const FieldDescriptor& into, uint8_t* value,
                  uint16_t language_id, uint16_t sort_id) {
  const TLanguageSwap swap(language_id, sort_id);
  if (into.Type != kFldString) {
    return ConvertFieldValue(from.Type, from.Size, from.Decimals, value, into.Decimals, into.Size,
                             into.Type);
  }
  if (!ConvertFieldValue(from.Type, from.Size, from.Decimals, value, into.Decimals,
                         kValueBufferSize, kFldString)) {
    return false;
  }
  size_t length = strnlen(reinterpret_cast<const char*>(value), kValueBufferSize);
  while (length > 0 && value[length - 1] == ' ') --length;
  return length <= static_cast<size_t>(into.Size);
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
  if (!new_primary && table_->HasPrimaryIndex()) {
    FreeIndexPages(index, *this, kPrimarySlot);
    DropIndexPages();
    index.RemoveIndexDesc(kPrimarySlot, true);
  } else if (new_primary &&
             (!table_->HasPrimaryIndex() || !SameIndex(index.IndexDesc(kPrimarySlot), primary))) {
    if (table_->HasPrimaryIndex()) FreeIndexPages(index, *this, kPrimarySlot);
    index.ReplaceIndexDesc(kPrimarySlot, primary);
    index.SetNoPrimaryIndex(false);
    rebuilt.push_back(kPrimarySlot);
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
    try {
      table_->RestoreIndexFile(false, no_backup);
    } catch (const Exception&) {
      // A failed restore deletes the half-copied index file, so that it is
      // never read as an index; the first error is the one reported.
    }
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
  SetHeaderValues(definition.Password, definition.Description, definition.UserMajor,
                  definition.UserMinor, last_auto_inc);
  table_->WriteBack(false, true, false, false, true);
}

bool TDataCursor::ReportFieldLoss(TDataLossKind kind, const FieldDescriptor& field) {
  if (data_loss_ == nullptr) Raise(kErrInvalidFieldDefinition, field.Name);
  return ReportDataLoss(kind, field.Name);
}

bool TDataCursor::CopyRecords(TDataCursor& work, const TTableDefinition& definition) {
  TDataFile& data = table_->DataFile();
  // The new table numbers its fields by position; an old field keeps its
  // value in the new field that has its number in the definition.
  std::vector<int32_t> target(static_cast<size_t>(data.FieldCount()) + 1, 0);
  for (int32_t i = 1; i <= data.FieldCount(); ++i) {
    for (size_t p = 0; p < definition.Fields.size(); ++p) {
      if (definition.Fields[p].Number == data.FieldDesc(i).Number) {
        target[static_cast<size_t>(i)] = static_cast<int32_t>(p) + 1;
      }
    }
  }
  const int32_t count = data.RecordCount();
  std::vector<uint8_t> old_image(static_cast<size_t>(data.RecordSize()));
  std::vector<uint8_t> image(static_cast<size_t>(work.GetRecordSize()));
  std::array<uint8_t, 2 * kValueBufferSize> value{};
  const auto language_id = static_cast<uint16_t>(definition.LanguageId);
  const auto sort_id = static_cast<uint16_t>(definition.SortId);
  for (int32_t n = 1; n <= count; ++n) {
    TRecord* record = nullptr;
    data.FetchRecord(nullptr, n, 1, true, false, record);
    std::copy(record->Bytes(), record->Bytes() + old_image.size(), old_image.begin());
    const bool live = record->Status() == kRecordLive;
    data.ReleaseRecord(record);
    if (live) {
      work.InitRecord(image.data());
      bool auto_inc_matched = false;
      for (int32_t i = 1; i <= data.FieldCount(); ++i) {
        const FieldDescriptor& from = data.FieldDesc(i);
        const int32_t to = target[static_cast<size_t>(i)];
        if (to == 0) {
          if (!ReportFieldLoss(TDataLossKind::FieldDropped, from)) return false;
          continue;
        }
        const FieldDescriptor& into = work.GetTableFieldDesc(to);
        if (into.IsAutoInc()) auto_inc_matched = true;
        bool null = false;
        value.fill(0);
        GetTableFieldData(i, old_image.data(), null, value.data());
        if (null) continue;
        const bool converts = from.Type == kFldBlob
                                  ? into.Type == kFldBlob
                                  : into.Type != kFldBlob && ConvertValue(from, into, value.data(),
                                                                          language_id, sort_id);
        if (!converts) {
          if (!ReportFieldLoss(TDataLossKind::ValueNotConverted, from)) return false;
        } else if (from.Type == kFldBlob) {
          CopyBlob(i, old_image.data(), true, work, to, image.data());
        } else {
          work.SetTableFieldData(to, image.data(), value.data());
        }
      }
      if (!auto_inc_matched) SetRecordId(image.data(), GetRecordId(old_image.data()));
      try {
        work.InsertRecord(image.data(), false);
      } catch (const EQuireEngineError& e) {
        work.FreeBlobs(true);
        if (data_loss_ == nullptr) throw;
        const EngineErrorCode code = e.Code();
        bool go_on = false;
        if (code == kErrDuplicateKey) {
          go_on = ReportDataLoss(TDataLossKind::DuplicateKey, e.Names().IndexName);
        } else if (code >= kErrBelowMinimum && code <= kErrValueRequired) {
          go_on = ReportDataLoss(TDataLossKind::ValidityCheck, e.Names().FieldName);
        } else {
          go_on = ReportDataLoss(TDataLossKind::RecordNotCopied, "");
        }
        if (!go_on) return false;
      }
    }
    if (restructure_progress_ != nullptr) {
      restructure_progress_(restructure_progress_user_data_, n,
                            static_cast<int32_t>(static_cast<int64_t>(n) * 100 / count));
    }
  }
  return true;
}

bool TDataCursor::CopyTable(const TTableDefinition& definition, const TRestructureOptions& options,
                            int32_t last_auto_inc) {
  // The work table lies in the table's own folder: putting it in place is
  // a rename on one file system, never a copy that a failure could cut short.
  const std::string work_name = directory_->GetTempTableName(in_memory_);
  const TLentPassword lent(definition.Encrypted ? directory_->Session() : nullptr,
                           definition.Password);
  bool copied = false;
  {
    TDataCursor work(directory_);
    work.SetTableName(work_name);
    work.SetExclusive(true);
    work.SetInMemory(in_memory_);
    try {
      TTableDefinition created = definition;
      work.CreateTable(created, true, options.PrimaryOptional);
      work.SetKeepAutoInc(true);
      work.SetNaturalOrder(true);
      work.Open();
      copied = CopyRecords(work, definition);
      if (copied) {
        TDataFile& data = work.Table()->DataFile();
        data.SetLastAutoInc(std::max(last_auto_inc, data.LastAutoInc()));
      }
      work.Close(!copied);
    } catch (...) {
      FreeBlobs(true);
      // A failed create has removed its files already; the error that got
      // here is the one the caller hears of.
      try {
        work.Close(true);
        if (directory_->TableExists(work_name, in_memory_)) {
          directory_->DeleteTable(work_name, in_memory_);
        }
      } catch (const Exception&) {
      }
      throw;
    }
  }
  FreeBlobs(true);
  if (!copied) {
    RaiseIfRefused(directory_->DeleteTable(work_name, in_memory_), work_name);
    return false;
  }
  // The old table must be let go before its files can move.
  Close(false);
  ReplaceWithWorkTable(work_name, options.NoBackup);
  return true;
}

void TDataCursor::ReplaceWithWorkTable(const std::string& work_name, bool no_backup) {
  // The old files step aside under a name of their own while the new table
  // takes the name; a failed rename puts them back, so the table is never
  // without its files.
  const std::string aside = directory_->GetTempTableName(in_memory_);
  RaiseIfRefused(directory_->DeleteTable(aside, in_memory_), aside);
  try {
    RaiseIfRefused(directory_->RenameTable(table_name_, aside, false, in_memory_), table_name_);
    try {
      RaiseIfRefused(directory_->RenameTable(work_name, table_name_, false, in_memory_), work_name);
    } catch (...) {
      // Should even the way back fail, the caller hears of that failure,
      // which names the old files where they lie.
      RaiseIfRefused(directory_->RenameTable(aside, table_name_, false, in_memory_), aside);
      throw;
    }
  } catch (...) {
    // With the old files back under the table's name the work table goes;
    // else it stays beside them.
    try {
      if (directory_->TableExists(table_name_, in_memory_)) {
        directory_->DeleteTable(work_name, in_memory_);
      }
    } catch (const Exception&) {
      // The failure that got here is the one the caller hears of.
    }
    throw;
  }
  // From here the new table is in place: a failure keeps the old files,
  // whole, under the name aside, which the error names.
  if (no_backup || in_memory_) {
    RaiseIfRefused(directory_->DeleteTable(aside, in_memory_), aside);
  } else {
    RaiseIfRefused(directory_->RenameTable(aside, table_name_, true, in_memory_), aside);
  }
}

bool TDataCursor::RestructureTable(const TTableDefinition& definition,
                                   const TRestructureOptions& options) {
  CheckClosed();
  CheckExclusive();
  CheckWritable();
  Open();
  loss_answered_ = false;
  loss_go_on_ = true;
  bool done = true;
  try {
    const int32_t last_auto_inc =
        options.LastAutoInc == -1 ? table_->DataFile().LastAutoInc() : options.LastAutoInc;
    TTableDefinition wanted = definition;
    if (wanted.Encrypted) wanted.Password = Trim(wanted.Password);
    CheckTableDefinition(wanted, options.PrimaryOptional, last_auto_inc);
    if (NeedsFullCopy(wanted)) {
      done = CopyTable(wanted, options, last_auto_inc);
    } else {
      const bool indexes = IndexesDiffer(wanted);
      if (indexes) done = RestructureIndexes(wanted, options.NoBackup);
      if (done) {
        WriteDefinitionInPlace(wanted, last_auto_inc);
        // The backup goes only once the new definition is written.
        if (indexes && options.NoBackup) table_->RestoreIndexFile(true, true);
      }
    }
  } catch (...) {
    try {
      Close(false);
    } catch (const Exception&) {
    }
    throw;
  }
  Close(false);
  return done;
}

}  // namespace jw
