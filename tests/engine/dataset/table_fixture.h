// A database component on a scratch folder with tables made directly by the
// engine, and walks of a table through a plain engine cursor: the reference
// that the dataset components are compared with.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/data_cursor.h"
#include "engine/core/data_directory.h"
#include "engine/dataset/quire_database.h"
#include "engine/dataset/quire_table.h"
#include "engine/support/engine_errors.h"
#include "session_fixture.h"
#include "tests/support/temp_folder.h"

namespace jw::test_support {

inline FieldDescriptor EngineField(const std::string& name, uint8_t type, uint8_t size = 0,
                                   uint8_t sub_type = 0, uint8_t decimals = 0) {
  FieldDescriptor field;
  field.Name = name;
  field.Type = type;
  field.Size = size;
  field.SubType = sub_type;
  field.Decimals = decimals;
  return field;
}

inline IndexDescriptor EngineIndex(const std::string& name, std::vector<int16_t> fields,
                                   bool unique, bool case_insensitive = false) {
  IndexDescriptor index;
  index.Name = name;
  index.Unique = unique ? 1 : 0;
  index.CaseInsensitive = case_insensitive ? 1 : 0;
  index.SegmentCount = static_cast<uint8_t>(fields.size());
  for (size_t i = 0; i < fields.size(); ++i) index.FieldNumbers[i] = fields[i];
  return index;
}

class TableTest : public SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    database_ = new TQuireDatabase(&form_);
    database_->SetDatabaseName("DB");
    database_->SetDirectory(folder_.Path());
    database_->SetConnected(true);
  }
  void TearDown() override {
    delete database_;
    SessionTest::TearDown();
  }

  void CreateEngineTable(const std::string& name, const TTableDefinition& definition) {
    TDataTable* table = nullptr;
    TDataDirectory* directory = database_->EngineDirectory();
    if (const int32_t result = directory->CreateTable(name, definition, false, false, table)) {
      RaiseEngineError(static_cast<EngineErrorCode>(-result), name);
    }
    table->WriteBack(false, true, false, true, true);
    directory->CloseTable(table, false);
  }

  // A table component of the form on the table, not yet open.
  TQuireTable* NewTable(const std::string& name, const std::string& index_name = "") {
    auto* table = new TQuireTable(&form_);
    table->SetDatabaseName("DB");
    table->SetTableName(name);
    table->SetIndexName(index_name);
    return table;
  }

  // The integer field's values in the index's order, read by an engine cursor.
  std::vector<int32_t> CursorWalk(const std::string& name, const std::string& index_name,
                                  int32_t field) {
    TDataCursor cursor(database_->EngineDirectory());
    cursor.SetTableName(name);
    cursor.Open();
    if (!index_name.empty()) cursor.SetIndexByName(index_name);
    std::vector<uint8_t> image(static_cast<size_t>(cursor.GetRecordSize()));
    std::vector<int32_t> values;
    cursor.First();
    while (cursor.GetNextRecord(image.data()) == 0) {
      bool null = false;
      int32_t value = 0;
      cursor.GetFieldData(field, image.data(), null, &value);
      values.push_back(value);
    }
    cursor.Close(false);
    return values;
  }

  TempFolder folder_;
  TComponent form_{nullptr};
  TQuireDatabase* database_ = nullptr;
};

// The integer field's values from the first record to the last.
inline std::vector<int32_t> WalkForward(TDataSet& dataset, const std::string& field) {
  std::vector<int32_t> values;
  for (dataset.First(); !dataset.Eof(); dataset.Next()) {
    values.push_back(dataset.FieldByName(field)->AsInteger());
  }
  return values;
}

inline std::vector<int32_t> WalkBackward(TDataSet& dataset, const std::string& field) {
  std::vector<int32_t> values;
  for (dataset.Last(); !dataset.Bof(); dataset.Prior()) {
    values.insert(values.begin(), dataset.FieldByName(field)->AsInteger());
  }
  return values;
}

}  // namespace jw::test_support
