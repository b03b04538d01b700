// TQuireTable: the dataset over one engine table named by TableName in the
// database of its DatabaseName. It opens the table's cursor with the open
// options and the active index, fills the field and index definitions from
// the engine's descriptors, finds records by key, follows a master dataset
// through a range on its index, and creates, deletes and tests for its
// table. TQuireMasterDataLink is the link to the master's data source.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/dataset/quire_db_dataset.h"
#include "platform/db/data_link.h"

namespace jw {

class TDataCursor;
class TQuireTable;

class TQuireMasterDataLink : public TDataLink {
 public:
  explicit TQuireMasterDataLink(TQuireTable& table) : table_(table) {}

  const std::string& FieldNames() const { return field_names_; }
  void SetFieldNames(const std::string& names);
  const std::vector<TField*>& Fields() const { return fields_; }

 protected:
  void ActiveChanged() override;
  void CheckBrowseMode() override;
  void LayoutChanged() override { ActiveChanged(); }
  void RecordChanged(TField* field) override;

 private:
  TQuireTable& table_;
  std::string field_names_;
  std::vector<TField*> fields_;
};

class TQuireTable : public TQuireDBDataSet {
 public:
  explicit TQuireTable(TComponent* owner);
  ~TQuireTable() override;

  std::string EngineVersion() const;
  const std::string& TableName() const { return table_name_; }
  void SetTableName(const std::string& name);
  // The index by name, or (IndexFieldNames) the index over those fields.
  std::string IndexName() const { return index_by_fields_ ? std::string() : index_text_; }
  void SetIndexName(const std::string& name) { SetIndex(name, false); }
  std::string IndexFieldNames() const { return index_by_fields_ ? index_text_ : std::string(); }
  void SetIndexFieldNames(const std::string& names) { SetIndex(names, !names.empty()); }
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool value);
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool value);
  bool InMemory() const { return in_memory_; }
  void SetInMemory(bool value);
  bool StoreDefs() const { return store_defs_; }
  void SetStoreDefs(bool value) { store_defs_ = value; }
  void SetDatabaseName(const std::string& name) override;

  // Master-detail: the master's data source and its fields, matched in order
  // with the fields of the active index.
  TDataSource* MasterSource() const { return master_link_.DataSource(); }
  void SetMasterSource(TDataSource* source);
  const std::string& MasterFields() const { return master_link_.FieldNames(); }
  void SetMasterFields(const std::string& names) { master_link_.SetFieldNames(names); }
  TDataSource* GetDataSource() const override { return MasterSource(); }

  // Moves to the record whose leading index fields hold the values.
  bool FindKey(const std::vector<Variant>& values);
  // Moves to the record of the lookup key buffer.
  bool GotoKey();
  void ApplyRange();
  void CancelRange();
  // Creates the table from the field and index definitions (or, without
  // field definitions, from the persistent fields); the dataset must be
  // closed and the table must not exist.
  void CreateTable();
  // Removes the table's files; the dataset must be closed.
  void DeleteTable();
  bool Exists();

  void InitFieldDefs() override;
  void UpdateIndexDefs() override;
  void DataEvent(TDataEvent event, intptr_t info) override;
  // Definitions changed by another hand than the table's own filling are
  // the user's: they are kept with the table.
  void DefChanged(TPersistent* sender) override;

 protected:
  TCursorHandle CreateCursorHandle() override;
  void DestroyCursorHandle() override;
  TDataCursor* GetLookupCursor(const std::string& field_names, bool case_insensitive) override;
  void ReleaseLookupCursor() override;
  void AfterCursorOpened() override;
  void DoOnNewRecord() override;
  bool GetCanModify() const override;

 private:
  friend class TQuireMasterDataLink;

  std::unique_ptr<TDataCursor> OpenTableCursor(const std::string& index_name);
  // A cursor on the table with the table's options, opened when asked.
  std::unique_ptr<TDataCursor> OpenTempCursor(bool open, bool exclusive);
  std::string ResolveIndexName(const std::string& text, bool by_field_names);
  void SetIndex(const std::string& text, bool by_field_names);
  void CheckMasterRange();
  void MasterChanged();
  void MasterDisabled();
  // The index definitions: the table's own cursor, or one opened for the
  // purpose while the dataset is closed.
  template <class Body>
  void WithCursor(uint8_t reason, Body body);

  bool store_defs_ = false;
  TQuireMasterDataLink master_link_;
  bool exclusive_ = false;
  bool read_only_ = false;
  bool in_memory_ = false;
  bool index_by_fields_ = false;
  std::string table_name_;
  std::string index_text_;
  std::unique_ptr<TDataCursor> lookup_cursor_;
  std::string lookup_fields_;
  bool lookup_case_insensitive_ = false;
  bool lookup_made_ = false;
};

}  // namespace jw
