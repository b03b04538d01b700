#include "tests/engine/core/table_ops.h"

#include "engine/core/btree.h"
#include "engine/support/key_images.h"
#include "tests/engine/core/index_test_table.h"

namespace jw::test {

namespace {

constexpr int32_t kValueField = 3;

// Runs release when the scope is left by an exception; the exception on
// its way is the one that counts.
template <class Release>
class Finally {
 public:
  explicit Finally(Release release) : release_(release) {}
  ~Finally() {
    if (!armed_) return;
    try {
      release_();
    } catch (const Exception&) {
    }
  }
  void Disarm() { armed_ = false; }
  Finally(const Finally&) = delete;
  Finally& operator=(const Finally&) = delete;

 private:
  Release release_;
  bool armed_ = true;
};

}  // namespace

TTableDefinition SmallTableDefinition(bool with_blobs) {
  TTableDefinition d;
  d.Fields = SmallDefinition();
  if (with_blobs) d.Fields.push_back(Field("MEMO", kFldBlob));
  d.Indexes = {Index("", {kValueField})};
  d.BlobBlockSize = 64;
  return d;
}

void CreateSmallTable(TTableDirectory& directory, const std::string& name, bool with_blobs) {
  TDataTable table(&directory);
  table.SetName(name);
  table.CreateFiles(SmallTableDefinition(with_blobs));
  table.Close(false);
}

std::unique_ptr<TDataTable> OpenSmallTable(TTableDirectory& directory, const std::string& name,
                                           bool exclusive) {
  auto table = std::make_unique<TDataTable>(&directory);
  table->SetName(name);
  table->SetExclusive(exclusive);
  table->Open();
  return table;
}

int32_t AddSmallRecord(TDataTable& table, int32_t value) {
  const int32_t number = AppendSmallRecord(table.DataFile(), "r", value);
  KeyCursor cursor;
  cursor.order = table.IndexFile().KeyOrder(0);
  uint8_t key[5] = {1};
  EncodeIntKey(value, key + 1);
  TBTree(table.IndexFile(), cursor).Insert(key, number);
  table.IndexFile().IncLiveCount();
  return number;
}

std::optional<int32_t> TableOps::Read(int32_t number) {
  TDataFile& data = table_.DataFile();
  if (number < 1 || number > data.RecordCount()) return std::nullopt;
  TRecord* record = nullptr;
  data.FetchRecord(nullptr, number, 1, false, false, record);
  std::optional<int32_t> value;
  if (record->Status() != kRecordFree) {
    value = GetInt32(record->Bytes() + data.FieldDesc(kValueField).Offset + 1);
  }
  data.ReleaseRecord(record);
  return value;
}

void TableOps::ChangeKey(int32_t number, int32_t old_value, std::optional<int32_t> new_value) {
  KeyCursor cursor;
  cursor.order = table_.IndexFile().KeyOrder(0);
  uint8_t key[5] = {1};
  EncodeIntKey(old_value, key + 1);
  TBTree tree(table_.IndexFile(), cursor);
  tree.Delete(key, number);
  if (!new_value) return;
  EncodeIntKey(*new_value, key + 1);
  tree.Insert(key, number);
}

void TableOps::Finish() {
  try {
    table_.WriteBack(false, true, false, false, true);
  } catch (...) {
    Finally unlock([this] { table_.UnlockForWrite(); });
    throw;
  }
  table_.UnlockForWrite();
}

int32_t TableOps::Insert(int32_t value) {
  table_.LockForWrite();
  Finally unlock([this] { table_.UnlockForWrite(); });
  const int32_t number = AddSmallRecord(table_, value);
  unlock.Disarm();
  Finish();
  return number;
}

void TableOps::LockUnchanged(int32_t number, int32_t expected) {
  table_.LockRecord(number);
  Finally unlock_record([this, number] { table_.UnlockRecord(number); });
  table_.LockForWrite();
  Finally unlock([this] { table_.UnlockForWrite(); });
  const std::optional<int32_t> now = Read(number);
  if (!now) RaiseEngineError(kErrRecordNotFound, table_.Name());
  if (*now != expected) RaiseEngineError(kErrRecordChanged, table_.Name());
  unlock.Disarm();
  unlock_record.Disarm();
}

void TableOps::Edit(int32_t number, int32_t expected, int32_t value) {
  LockUnchanged(number, expected);
  Finally unlock_record([this, number] { table_.UnlockRecord(number); });
  Finally unlock([this] { table_.UnlockForWrite(); });
  TDataFile& data = table_.DataFile();
  TRecord* record = nullptr;
  data.FetchRecord(nullptr, number, 1, false, false, record);
  PutInt32(record->Bytes() + data.FieldDesc(kValueField).Offset + 1, value);
  record->SetModified(true);
  data.ReleaseRecord(record);
  ChangeKey(number, expected, value);
  unlock.Disarm();
  Finish();
  unlock_record.Disarm();
  table_.UnlockRecord(number);
}

void TableOps::Delete(int32_t number, int32_t expected) {
  LockUnchanged(number, expected);
  Finally unlock_record([this, number] { table_.UnlockRecord(number); });
  Finally unlock([this] { table_.UnlockForWrite(); });
  ChangeKey(number, expected, std::nullopt);
  TDataFile& data = table_.DataFile();
  TRecord* record = nullptr;
  data.FetchRecord(nullptr, number, 1, false, false, record);
  data.FreeRecord(record);
  data.ReleaseRecord(record);
  table_.IndexFile().DecLiveCount();
  unlock.Disarm();
  Finish();
  unlock_record.Disarm();
  table_.UnlockRecord(number);
}

std::optional<int32_t> TableOps::Value(int32_t number) {
  table_.LockForRead();
  Finally unlock([this] { table_.UnlockForRead(); });
  const std::optional<int32_t> value = Read(number);
  unlock.Disarm();
  table_.UnlockForRead();
  return value;
}

std::map<int32_t, int32_t> TableOps::Live() {
  table_.LockForRead();
  Finally unlock([this] { table_.UnlockForRead(); });
  std::map<int32_t, int32_t> live;
  for (int32_t n = 1; n <= table_.DataFile().RecordCount(); ++n) {
    if (const std::optional<int32_t> value = Read(n)) live[n] = *value;
  }
  unlock.Disarm();
  table_.UnlockForRead();
  return live;
}

}  // namespace jw::test
