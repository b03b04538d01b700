#include "tests/engine/core/index_test_table.h"

#include "engine/support/key_images.h"

namespace jw::test {

IndexTable::IndexTable(const std::vector<FieldDescriptor>& fields, uint16_t language_id,
                       bool encrypted) {
  data = std::make_unique<TestDataFile>(&table);
  data->SetName(DataPath());
  data->InitHeader(static_cast<int16_t>(language_id), 0, fields, 0, "index test", "pw", encrypted,
                   0, 0);
  data->WriteHeader(true, false);
  data->WriteFieldDescs();
  index = std::make_unique<TestIndexFile>(&table, data.get());
  index->SetName(IndexPath());
  index->CreateFile();
  index->WriteHeader(true, false);
}

void IndexTable::WriteBack() {
  index->FlushPages(false);
  index->WriteHeader(false, false);
  data->FlushRecords(false);
  data->WriteHeader(false, false);
}

void IndexTable::Reopen() {
  WriteBack();
  index->Close();
  data->Close();
  data = std::make_unique<TestDataFile>(&table);
  data->SetName(DataPath());
  data->Open();
  index = std::make_unique<TestIndexFile>(&table, data.get());
  index->SetName(IndexPath());
  index->Open();
}

KeyCursor& IndexTable::Use(int32_t slot) {
  cursor.slot = slot;
  cursor.order = index->KeyOrder(slot);
  return cursor;
}

IndexDescriptor Index(const std::string& name, std::vector<int16_t> fields, bool unique,
                      uint8_t compression, bool descending) {
  IndexDescriptor d;
  d.Name = name;
  d.Unique = unique ? 1 : 0;
  d.Compression = compression;
  d.Descending = descending ? 1 : 0;
  d.SegmentCount = static_cast<uint8_t>(fields.size());
  for (size_t i = 0; i < fields.size(); ++i) d.FieldNumbers[i] = fields[i];
  return d;
}

std::vector<uint8_t> MakeKey(uint32_t value, int32_t image_length, int32_t key_length,
                             int32_t record_id) {
  std::vector<uint8_t> key(key_length, 0);
  key[0] = 1;
  const int32_t pattern = std::max(0, (image_length - 5) / 2);
  for (int32_t i = 0; i < pattern; ++i) key[1 + i] = static_cast<uint8_t>('a' + (value >> 12) % 3);
  uint8_t be[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                   static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  for (int32_t i = 0; i < 4 && 1 + pattern + i < image_length; ++i) key[1 + pattern + i] = be[i];
  if (key_length > image_length) EncodeIntKey(record_id, key.data() + image_length);
  return key;
}

}  // namespace jw::test
