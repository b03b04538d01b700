#include "engine/dataset/quire_table.h"

#include "engine/core/data_cursor.h"
#include "engine/core/data_directory.h"
#include "engine/core/index_file.h"
#include "engine/dataset/dataset_texts.h"
#include "engine/dataset/field_type_map.h"
#include "engine/dataset/quire_database.h"
#include "engine/dataset/quire_session.h"
#include "engine/support/engine_errors.h"
#include "platform/db/data_source.h"
#include "platform/db/db_errors.h"
#include "platform/db/field.h"

namespace jw {
namespace {

constexpr size_t kMaxEngineName = 255;
constexpr const char* kMemoryDatabase = "Memory";

bool AskSessionPassword(void* user_data, TDataCursor& cursor) {
  (void)cursor;
  return static_cast<TQuireSession*>(user_data)->PasswordCallback();
}

// A table name with a folder: ':' or a path separator.
bool HasPath(const std::string& name) {
  return name.find_first_of(":\\/") != std::string::npos;
}

}  // namespace

// The master link.

void TQuireMasterDataLink::SetFieldNames(const std::string& names) {
  if (names == field_names_) return;
  field_names_ = names;
  ActiveChanged();
}

void TQuireMasterDataLink::ActiveChanged() {
  fields_.clear();
  if (Active()) {
    try {
      fields_ = DataSet()->GetFieldList(field_names_);
    } catch (...) {
      fields_.clear();
      throw;
    }
  }
  if (!table_.Active() || table_.ComponentState().Contains(csDestroying)) return;
  if (Active() && !fields_.empty()) {
    table_.MasterChanged();
  } else {
    table_.MasterDisabled();
  }
}

void TQuireMasterDataLink::CheckBrowseMode() {
  if (table_.Active()) table_.CheckBrowseMode();
}

void TQuireMasterDataLink::RecordChanged(TField* field) {
  if (DataSet()->State() == dsSetKey || !table_.Active() || fields_.empty()) return;
  if (field != nullptr && std::find(fields_.begin(), fields_.end(), field) == fields_.end()) return;
  table_.MasterChanged();
}

// The table.

TQuireTable::TQuireTable(TComponent* owner) : TQuireDBDataSet(owner), master_link_(*this) {}

TQuireTable::~TQuireTable() {
  Close();
  master_link_.SetDataSource(nullptr);
}

std::string TQuireTable::EngineVersion() const {
  return std::string(kQuireEngineVersion);
}

void TQuireTable::SetTableName(const std::string& name) {
  if (ComponentState().Contains(csLoading)) {
    table_name_ = name;
    return;
  }
  if (name == table_name_) return;
  CheckInactive();
  if (!name.empty() && HasPath(name) && !in_memory_) {
    const size_t slash = name.find_last_of(":\\/");
    SetDatabaseName(name.substr(0, slash + 1));
    table_name_ = name.substr(slash + 1);
  } else {
    table_name_ = name;
  }
  DataEvent(dePropertyChange, 0);
}

void TQuireTable::SetDatabaseName(const std::string& name) {
  if (in_memory_ && !ComponentState().Contains(csLoading)) {
    database_name_ = kMemoryDatabase;
    return;
  }
  TQuireDBDataSet::SetDatabaseName(name);
}

void TQuireTable::SetExclusive(bool value) {
  if (value == exclusive_) return;
  CheckInactive();
  exclusive_ = value;
}

void TQuireTable::SetReadOnly(bool value) {
  if (value == read_only_) return;
  CheckInactive();
  read_only_ = value;
}

void TQuireTable::SetInMemory(bool value) {
  if (value == in_memory_) return;
  CheckInactive();
  in_memory_ = value;
  if (value) SetDatabaseName(kMemoryDatabase);
}

bool TQuireTable::GetCanModify() const {
  return TQuireDBDataSet::GetCanModify() && !read_only_;
}

void TQuireTable::SetMasterSource(TDataSource* source) {
  if (source != nullptr && IsLinkedTo(source)) DatabaseError(db_text::kCircularDataLink, this);
  master_link_.SetDataSource(source);
}

void TQuireTable::DataEvent(TDataEvent event, intptr_t info) {
  if (event == dePropertyChange) IndexDefs().SetUpdated(false);
  TQuireDBDataSet::DataEvent(event, info);
}

void TQuireTable::DefChanged(TPersistent* sender) {
  (void)sender;
  store_defs_ = true;
}

// Cursors.

std::unique_ptr<TDataCursor> TQuireTable::OpenTempCursor(bool open, bool exclusive) {
  auto cursor = std::make_unique<TDataCursor>(Database()->EngineDirectory());
  cursor->SetTableName(table_name_.substr(0, kMaxEngineName));
  cursor->SetExclusive(exclusive);
  cursor->SetReadOnly(read_only_);
  cursor->SetInMemory(in_memory_);
  cursor->SetPasswordHandler(&AskSessionPassword, Database()->Session());
  if (open) cursor->Open();
  return cursor;
}

std::unique_ptr<TDataCursor> TQuireTable::OpenTableCursor(const std::string& index_name) {
  std::unique_ptr<TDataCursor> cursor = OpenTempCursor(true, exclusive_);
  // The engine may open the table read-only although writing was asked.
  read_only_ = cursor->ReadOnly();
  if (!index_name.empty()) cursor->SetIndexByName(index_name.substr(0, kMaxEngineName));
  return cursor;
}

TCursorHandle TQuireTable::CreateCursorHandle() {
  if (table_name_.empty()) DatabaseError(quire_text::kTableNameMissing, this);
  IndexDefs().SetUpdated(false);
  return OpenTableCursor(ResolveIndexName(index_text_, index_by_fields_));
}

void TQuireTable::DestroyCursorHandle() {
  ReleaseLookupCursor();
  TQuireDBDataSet::DestroyCursorHandle();
}

void TQuireTable::AfterCursorOpened() {
  ResolveIndexName(index_text_, index_by_fields_);
  CheckMasterRange();
}

template <class Body>
void TQuireTable::WithCursor(uint8_t reason, Body body) {
  TDatabaseUseGuard use(*this, reason);
  if (table_name_.empty()) DatabaseError(quire_text::kTableNameMissing, this);
  if (Cursor() != nullptr) {
    body(*Cursor());
    return;
  }
  std::unique_ptr<TDataCursor> cursor = OpenTempCursor(true, false);
  body(*cursor);
  cursor->Close(true);
}

void TQuireTable::InitFieldDefs() {
  WithCursor(kUseFieldDefs, [this](TDataCursor& cursor) { LoadFieldDefs(cursor); });
}

void TQuireTable::UpdateIndexDefs() {
  FieldDefs().Update();
  WithCursor(kUseIndexDefs, [this](TDataCursor& cursor) {
    TIndexDefs& defs = IndexDefs();
    defs.Clear();
    const TIndexFile& index = cursor.Table()->IndexFile();
    for (int32_t slot = cursor.Table()->HasPrimaryIndex() ? 0 : 1; slot <= cursor.GetIndexCount();
         ++slot) {
      const IndexDescriptor& desc = index.IndexDesc(slot);
      std::string fields;
      for (int segment = 0; segment < desc.SegmentCount; ++segment) {
        for (int i = 0; i < FieldDefs().Count(); ++i) {
          const TFieldDef* def = FieldDefs().Items(i);
          if (def->FieldNo() != desc.FieldNumbers[segment]) continue;
          if (!fields.empty()) fields += ';';
          fields += def->Name();
        }
      }
      TIndexOptions options;
      if (slot == 0) options.Include(ixPrimary);
      if (desc.Descending != 0) options.Include(ixDescending);
      if (desc.CaseInsensitive != 0) options.Include(ixCaseInsensitive);
      if (desc.Unique != 0) options.Include(ixUnique);
      defs.Add(desc.Name, fields, options);
    }
  });
}

bool TQuireTable::Exists() {
  if (Active()) return true;
  if (table_name_.empty()) return false;
  TDatabaseUseGuard use(*this, kUseTableFiles);
  return Database()->EngineDirectory()->TableExists(table_name_.substr(0, kMaxEngineName),
                                                    in_memory_);
}

// Creating and deleting.

namespace {

// The room of the engine's definition arrays.
constexpr int kMaxIndexDefs = 33;
constexpr int kMaxFieldDefs = 1024;
constexpr size_t kMaxDefName = 30;
constexpr int kTableBlobBlockSize = 512;

FieldDescriptor FieldDescriptorOf(const TFieldDef& def, int number) {
  FieldDescriptor field;
  field.Number = static_cast<int16_t>(number);
  field.Name = def.Name().substr(0, kMaxDefName);
  const TEngineFieldType type = EngineTypeOf(def.DataType());
  field.Type = type.Type;
  field.SubType = type.SubType;
  if (def.DataType() == ftString || def.DataType() == ftBytes || def.DataType() == ftVarBytes) {
    field.Size = static_cast<uint8_t>(def.Size());
  }
  if (def.DataType() == ftBCD) field.Decimals = static_cast<uint8_t>(def.Size());
  field.Required = def.Required() ? 1 : 0;
  return field;
}

}  // namespace

void TQuireTable::CreateTable() {
  CheckInactive();
  if (FieldDefs().Count() == 0) {
    for (int i = 0; i < FieldCount(); ++i) {
      const TField* field = Fields(i);
      if (field->FieldKind() != fkData) continue;
      FieldDefs().Add(field->FieldName(), field->DataType(), field->Size(), field->Required());
    }
  }
  // The engine's arrays hold no more than this; refused before any is filled.
  if (IndexDefs().Count() > kMaxIndexDefs) RaiseEngineError(kErrIndexLimits, table_name_);
  if (FieldDefs().Count() > kMaxFieldDefs) RaiseEngineError(kErrFieldLimits, table_name_);
  TTableDefinition definition;
  for (int i = 0; i < FieldDefs().Count(); ++i) {
    definition.Fields.push_back(FieldDescriptorOf(*FieldDefs().Items(i), i + 1));
  }
  // The primary index goes first, wherever it stands; without one slot 0
  // stays empty.
  std::vector<const TIndexDef*> indexes;
  for (int i = 0; i < IndexDefs().Count(); ++i) indexes.push_back(IndexDefs().Items(i));
  const auto primary = std::find_if(indexes.begin(), indexes.end(), [](const TIndexDef* def) {
    return def->Options().Contains(ixPrimary);
  });
  if (primary != indexes.end()) {
    std::rotate(indexes.begin(), primary, primary + 1);
  } else {
    definition.Indexes.emplace_back();
  }
  for (const TIndexDef* def : indexes) {
    IndexDescriptor index;
    index.Name = def->Name().substr(0, kMaxDefName);
    if (def->Options().Contains(ixDescending)) {
      index.Descending = 1;
      index.SegmentDescending.fill(1);
    }
    index.CaseInsensitive = def->Options().Contains(ixCaseInsensitive) ? 1 : 0;
    index.Unique = def->Options().Contains(ixUnique) ? 1 : 0;
    for (const std::string& name : SplitFieldNames(def->Fields())) {
      if (index.SegmentCount == kMaxSegments) break;
      const int position = FieldDefs().IndexOf(name);
      if (position < 0) DatabaseErrorFmt(db_text::kFieldNotFound, name);
      index.FieldNumbers[index.SegmentCount++] = static_cast<int16_t>(position + 1);
    }
    definition.Indexes.push_back(index);
  }
  definition.BlobBlockSize = kTableBlobBlockSize;
  definition.UserMajor = 1;
  definition.UserMinor = 0;
  TDatabaseUseGuard use(*this, kUseTableFiles);
  TDataCursor cursor(Database()->EngineDirectory());
  cursor.SetTableName(table_name_.substr(0, kMaxEngineName));
  cursor.SetInMemory(in_memory_);
  cursor.SetReadOnly(false);
  cursor.SetExclusive(true);
  cursor.CreateTable(definition, false, true);
}

void TQuireTable::DeleteTable() {
  CheckInactive();
  TDatabaseUseGuard use(*this, kUseTableFiles);
  OpenTempCursor(false, true)->DeleteTable();
}

// Indexes.

std::string TQuireTable::ResolveIndexName(const std::string& text, bool by_field_names) {
  if (text.empty()) return std::string();
  IndexDefs().Update();
  return by_field_names ? IndexDefs().FindIndexForFields(text).Name() : text;
}

void TQuireTable::SetIndex(const std::string& text, bool by_field_names) {
  if (Active()) CheckBrowseMode();
  if (text == index_text_ && by_field_names == index_by_fields_) return;
  if (Active()) {
    SwitchToIndex(ResolveIndexName(text, by_field_names));
    CheckMasterRange();
  }
  index_text_ = text;
  index_by_fields_ = by_field_names;
  if (Active()) Resync({});
}

// Keys and ranges.

bool TQuireTable::FindKey(const std::vector<Variant>& values) {
  CheckBrowseMode();
  SetKeyFields(TKeyIndex::Lookup, values);
  return GotoKey();
}

bool TQuireTable::GotoKey() {
  CheckBrowseMode();
  DoBeforeScroll();
  CursorPosChanged();
  const bool found = SeekLookupKey();
  if (found) {
    Resync({rmExact, rmCenter});
    DoAfterScroll();
  }
  return found;
}

void TQuireTable::ApplyRange() {
  CheckBrowseMode();
  if (ApplyKeyRange()) First();
}

void TQuireTable::CancelRange() {
  CheckBrowseMode();
  UpdateCursorPos();
  if (CancelKeyRange()) Resync({});
}

void TQuireTable::CheckMasterRange() {
  if (!master_link_.Active() || master_link_.Fields().empty()) return;
  SetLinkRange(master_link_.Fields());
  ApplyKeyRange();
}

void TQuireTable::MasterChanged() {
  CheckBrowseMode();
  SetLinkRange(master_link_.Fields());
  ApplyRange();
}

void TQuireTable::MasterDisabled() {
  CancelRange();
}

void TQuireTable::DoOnNewRecord() {
  if (master_link_.Active()) {
    const std::vector<TField*>& fields = master_link_.Fields();
    for (size_t i = 0; i < fields.size(); ++i)
      GetIndexField(static_cast<int>(i))->Assign(fields[i]);
  }
  TQuireDBDataSet::DoOnNewRecord();
}

// Lookup cursors.

TDataCursor* TQuireTable::GetLookupCursor(const std::string& field_names, bool case_insensitive) {
  if (lookup_made_ && field_names == lookup_fields_ &&
      case_insensitive == lookup_case_insensitive_) {
    return lookup_cursor_.get();
  }
  ReleaseLookupCursor();
  if (RangeApplied()) return nullptr;
  const TIndexDef* def = IndexDefs().GetIndexForFields(field_names, case_insensitive);
  if (def != nullptr && def->Options().Contains(ixCaseInsensitive) == case_insensitive) {
    lookup_cursor_ = Cursor()->Clone();
    if (def->Name().empty()) {
      lookup_cursor_->SetIndexByNumber(0);
    } else {
      lookup_cursor_->SetIndexByName(def->Name());
    }
  }
  lookup_fields_ = field_names;
  lookup_case_insensitive_ = case_insensitive;
  lookup_made_ = true;
  return lookup_cursor_.get();
}

void TQuireTable::ReleaseLookupCursor() {
  if (lookup_cursor_ != nullptr) lookup_cursor_->Close(true);
  lookup_cursor_.reset();
  lookup_fields_.clear();
  lookup_made_ = false;
}

}  // namespace jw
