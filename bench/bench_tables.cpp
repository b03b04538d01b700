#include "bench/bench_tables.h"

#include <algorithm>
#include <filesystem>
#include <numeric>
#include <random>
#include <stdexcept>

namespace jw::bench {

namespace {

const char* const kTable = "ROWS";

FieldDescriptor RowField(const char* name, int16_t number, uint8_t type, uint8_t size = 0) {
  FieldDescriptor field = jw::test::Field(name, type, size);
  field.Number = number;
  return field;
}

IndexDescriptor RowIndex(const char* name, int16_t field, bool unique) {
  IndexDescriptor index;
  index.Name = name;
  index.Unique = unique ? 1 : 0;
  index.SegmentCount = 1;
  index.FieldNumbers[0] = field;
  return index;
}

}  // namespace

std::vector<BenchRow> BenchRows(int32_t count, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<int32_t> ids(static_cast<size_t>(count));
  std::iota(ids.begin(), ids.end(), 1);
  std::shuffle(ids.begin(), ids.end(), random);
  std::uniform_int_distribution<int> letter('a', 'z');
  std::vector<BenchRow> rows(ids.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    rows[i].id = ids[i];
    rows[i].name.resize(kNameLength);
    for (char& c : rows[i].name) c = static_cast<char>(letter(random));
    rows[i].value = static_cast<int32_t>(random() >> 1);
  }
  return rows;
}

std::vector<size_t> ShuffledPositions(size_t count, uint32_t seed) {
  std::vector<size_t> positions(count);
  std::iota(positions.begin(), positions.end(), size_t{0});
  std::shuffle(positions.begin(), positions.end(), std::mt19937(seed));
  return positions;
}

int64_t FileBytes(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? 0 : static_cast<int64_t>(size);
}

// ---- Quire ----

QuireRows::QuireRows(bool with_blob, bool indexed)
    : directory_(session_.OpenDirectory("BENCH", folder_.Path(""))),
      with_blob_(with_blob),
      indexed_(indexed) {
  session_.SetForceBufferFlush(false);
  session_.SetPrivateDir(folder_.Path(""));
  Create();
}

QuireRows::~QuireRows() {
  session_.CloseDirectory(directory_);
}

void QuireRows::Create() {
  TTableDefinition definition;
  definition.Fields = {RowField("ID", kIdField, kFldInteger),
                       RowField("NAME", kNameField, kFldString, kNameLength),
                       RowField("VALUE", kValueField, kFldInteger)};
  if (with_blob_) definition.Fields.push_back(RowField("DATA", kBlobField, kFldBlob));
  definition.BlobBlockSize = kDefaultBlobBlockSize;
  // A primary index whose first segment names no field leaves the table
  // without one.
  definition.Indexes = {RowIndex("", indexed_ ? kIdField : 0, true)};
  if (indexed_) definition.Indexes.push_back(RowIndex(kNameIndex, kNameField, false));
  TDataCursor cursor(directory_);
  cursor.SetTableName(kTable);
  cursor.SetExclusive(true);
  cursor.CreateTable(definition, true, !indexed_);
}

std::unique_ptr<TDataCursor> QuireRows::Open(bool exclusive, bool natural_order) {
  auto cursor = std::make_unique<TDataCursor>(directory_);
  cursor->SetTableName(kTable);
  cursor->SetExclusive(exclusive);
  cursor->SetNaturalOrder(natural_order);
  cursor->Open();
  return cursor;
}

void QuireRows::PutRow(TDataCursor& cursor, const BenchRow& row, uint8_t* image) const {
  cursor.ClearRecord(image);
  cursor.SetFieldData(kIdField, image, false, &row.id);
  cursor.SetFieldData(kNameField, image, false, row.name.c_str());
  cursor.SetFieldData(kValueField, image, false, &row.value);
}

void QuireRows::Insert(TDataCursor& cursor, const std::vector<BenchRow>& rows,
                       bool in_transaction) {
  std::vector<uint8_t> image(static_cast<size_t>(cursor.GetRecordSize()));
  if (in_transaction) directory_->StartTransaction();
  for (const BenchRow& row : rows) {
    PutRow(cursor, row, image.data());
    cursor.InsertRecord(image.data(), false);
  }
  if (in_transaction) directory_->Commit(true);
}

void QuireRows::Fill(const std::vector<BenchRow>& rows) {
  Create();
  auto cursor = Open(false);
  Insert(*cursor, rows, true);
}

int64_t QuireRows::FilesBytes() const {
  return FileBytes(folder_.Path("ROWS.DAT")) + FileBytes(folder_.Path("ROWS.IDX")) +
         FileBytes(folder_.Path("ROWS.BLB"));
}

// ---- SQLite ----

SqliteRows::SqliteRows(bool exclusive, bool with_blob)
    : exclusive_(exclusive), with_blob_(with_blob) {
  Connect();
  Create();
}

SqliteRows::~SqliteRows() {
  sqlite3_close(db_);
}

void SqliteRows::Connect() {
  if (sqlite3_open(folder_.Path("rows.db").c_str(), &db_) != SQLITE_OK) {
    throw std::runtime_error("sqlite3_open failed");
  }
  Exec("PRAGMA synchronous=OFF");
  Exec("PRAGMA journal_mode=DELETE");
  if (exclusive_) Exec("PRAGMA locking_mode=EXCLUSIVE");
}

void SqliteRows::Reopen() {
  sqlite3_close(db_);
  db_ = nullptr;
  Connect();
}

void SqliteRows::Create() {
  Exec("DROP TABLE IF EXISTS rows");
  Exec(with_blob_
           ? "CREATE TABLE rows(id INTEGER PRIMARY KEY, name TEXT, value INTEGER, data BLOB)"
           : "CREATE TABLE rows(id INTEGER PRIMARY KEY, name TEXT, value INTEGER)");
  Exec("CREATE INDEX by_name ON rows(name)");
}

void SqliteRows::Exec(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    const std::string text = message != nullptr ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    throw std::runtime_error(text);
  }
}

sqlite3_stmt* SqliteRows::Prepare(const char* sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) != SQLITE_OK) {
    throw std::runtime_error(sqlite3_errmsg(db_));
  }
  return statement;
}

void SqliteRows::Insert(const std::vector<BenchRow>& rows, bool in_transaction) {
  if (in_transaction) Exec("BEGIN");
  SqliteStatement insert(*this, "INSERT INTO rows(id, name, value) VALUES(?, ?, ?)");
  for (const BenchRow& row : rows) {
    sqlite3_bind_int(insert.get(), 1, row.id);
    sqlite3_bind_text(insert.get(), 2, row.name.data(), static_cast<int>(row.name.size()),
                      SQLITE_STATIC);
    sqlite3_bind_int(insert.get(), 3, row.value);
    insert.Step();
    insert.Reset();
  }
  if (in_transaction) Exec("COMMIT");
}

void SqliteRows::Fill(const std::vector<BenchRow>& rows) {
  Create();
  Insert(rows, true);
}

int64_t SqliteRows::FilesBytes() const {
  return FileBytes(folder_.Path("rows.db"));
}

bool SqliteStatement::Step() {
  const int result = sqlite3_step(statement_);
  if (result == SQLITE_ROW) return true;
  if (result == SQLITE_DONE) return false;
  throw std::runtime_error(sqlite3_errstr(result));
}

}  // namespace jw::bench
