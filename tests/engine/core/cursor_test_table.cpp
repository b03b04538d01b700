#include "tests/engine/core/cursor_test_table.h"

#include <cstring>

#include "engine/core/btree.h"
#include "engine/core/record_keys.h"
#include "tests/engine/core/index_test_table.h"

namespace jw::test {

CursorDatabase::CursorDatabase() : directory(session.OpenDirectory("DB", dir.Path(""))) {}

CursorDatabase::~CursorDatabase() {
  session.CloseDirectory(directory);
}

void CursorDatabase::Create(const std::string& name, const TTableDefinition& definition) {
  TDataTable* table = nullptr;
  if (const int32_t result = directory->CreateTable(name, definition, false, false, table)) {
    RaiseEngineError(static_cast<EngineErrorCode>(-result), name);
  }
  table->WriteBack(false, true, false, true, true);
  directory->CloseTable(table, false);
}

std::unique_ptr<TDataCursor> CursorDatabase::Open(const std::string& name, bool natural_order) {
  auto cursor = std::make_unique<TDataCursor>(directory);
  cursor->SetTableName(name);
  cursor->SetNaturalOrder(natural_order);
  cursor->Open();
  return cursor;
}

TableLoader::TableLoader(TDataDirectory* directory, const std::string& name)
    : directory_(directory) {
  if (const int32_t result = directory->OpenTable(name, table_, false, false, false, true)) {
    RaiseEngineError(static_cast<EngineErrorCode>(-result), name);
  }
}

TableLoader::~TableLoader() {
  try {
    Flush();
  } catch (const Exception&) {
    // The test that used the loader reports what went wrong.
  }
  directory_->CloseTable(table_, false);
}

std::vector<uint8_t> TableLoader::Image() const {
  return std::vector<uint8_t>(static_cast<size_t>(table_->DataFile().RecordSize()), 0);
}

void TableLoader::SetKey(int32_t slot, const uint8_t* key, int32_t number, bool insert) {
  KeyCursor cursor;
  cursor.slot = slot;
  cursor.order = table_->IndexFile().KeyOrder(slot);
  TBTree tree(table_->IndexFile(), cursor);
  if (insert) {
    tree.Insert(key, number);
  } else {
    tree.Delete(key, number);
  }
}

void TableLoader::SetKeys(const uint8_t* image, int32_t number, bool insert) {
  TIndexFile& index = table_->IndexFile();
  for (int32_t slot = table_->HasPrimaryIndex() ? 0 : 1; slot <= index.SecondaryCount(); ++slot) {
    std::vector<uint8_t> key(static_cast<size_t>(index.IndexDesc(slot).KeyLength));
    BuildRecordKey(table_->DataFile(), index.IndexDesc(slot), slot, image, key.data());
    SetKey(slot, key.data(), number, insert);
  }
}

int32_t TableLoader::Insert(std::vector<uint8_t> image) {
  TDataFile& data = table_->DataFile();
  TRecord* record = data.AllocRecord();
  const int32_t number = record->RecordNumber();
  const bool reused = record->Status() == kRecordFree;
  uint8_t old_status[kStatusKeyLength] = {};
  BuildStatusKey(record->Bytes(), old_status);
  if (GetInt32(image.data() + kRecId) == 0) PutInt32(image.data() + kRecId, data.NextAutoInc());
  image[kRecStatus] = kRecordLive;
  PutInt32(image.data() + kRecNumber, number);
  std::memcpy(record->Bytes(), image.data(), image.size());
  record->SetModified(true);
  data.ReleaseRecord(record);
  SetKeys(image.data(), number, true);
  uint8_t status[kStatusKeyLength] = {};
  BuildStatusKey(image.data(), status);
  if (reused) SetKey(kStatusSlot, old_status, number, false);
  SetKey(kStatusSlot, status, number, true);
  table_->IndexFile().IncLiveCount();
  return number;
}

void TableLoader::Delete(int32_t number) {
  TDataFile& data = table_->DataFile();
  TRecord* record = nullptr;
  data.FetchRecord(nullptr, number, 1, false, false, record);
  const std::vector<uint8_t> image(record->Bytes(), record->Bytes() + record->Size());
  data.FreeRecord(record);
  record->SetModified(true);
  data.ReleaseRecord(record);
  SetKeys(image.data(), number, false);
  uint8_t status[kStatusKeyLength] = {};
  BuildStatusKey(image.data(), status);
  SetKey(kStatusSlot, status, number, false);
  status[0] = kRecordFree;
  SetKey(kStatusSlot, status, number, true);
  table_->IndexFile().DecLiveCount();
}

void TableLoader::Flush() {
  table_->LockForWrite();
  try {
    table_->WriteBack(false, true, false, false, true);
  } catch (...) {
    table_->UnlockForWrite();
    throw;
  }
  table_->UnlockForWrite();
}

void PutString(const TDataFile& data, std::vector<uint8_t>& image, int32_t field,
               const std::string& text) {
  const FieldDescriptor& f = data.FieldDesc(field);
  uint8_t* slot = image.data() + f.Offset;
  std::memset(slot, 0, static_cast<size_t>(f.PhysicalLength) + 1);
  slot[0] = text.empty() ? 0 : 1;
  std::memcpy(slot + 1, text.data(), std::min<size_t>(text.size(), f.PhysicalLength - 1));
}

void PutInt(const TDataFile& data, std::vector<uint8_t>& image, int32_t field, int32_t value) {
  const FieldDescriptor& f = data.FieldDesc(field);
  image[f.Offset] = 1;
  PutInt32(image.data() + f.Offset + 1, value);
}

void PutSmallInt(const TDataFile& data, std::vector<uint8_t>& image, int32_t field, int16_t value) {
  const FieldDescriptor& f = data.FieldDesc(field);
  image[f.Offset] = 1;
  PutInt16(image.data() + f.Offset + 1, value);
}

std::vector<std::pair<std::string, int32_t>> WalkTextAndInt(TDataCursor& cursor,
                                                            const std::string& index,
                                                            int32_t text_field, int32_t int_field) {
  cursor.SetIndexByName(index);
  std::vector<uint8_t> image(static_cast<size_t>(cursor.GetRecordSize()));
  std::vector<std::pair<std::string, int32_t>> out;
  cursor.First();
  while (cursor.GetNextRecord(image.data()) == 0) {
    bool null = false;
    std::vector<char> text(static_cast<size_t>(cursor.GetFieldDesc(text_field).PhysicalLength) + 1);
    int32_t value = 0;
    cursor.GetFieldData(text_field, image.data(), null, text.data());
    cursor.GetFieldData(int_field, image.data(), null, &value);
    out.emplace_back(text.data(), value);
  }
  return out;
}

}  // namespace jw::test
