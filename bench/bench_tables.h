// The rows every engine benchmark works on, and the two tables that hold
// them side by side: an integer primary key filled with a random
// permutation of 1..N, a 40-character text with a secondary index and an
// integer. BenchRows makes the rows; QuireRows and SqliteRows build the same
// table in a scratch folder of their own (removed when they end), at the
// same durability tier: no flush to disk on either side (the buffer flush
// off; synchronous=OFF with journal_mode=DELETE), exclusive locking on both
// sides or on neither.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/data_cursor.h"
#include "engine/core/data_session.h"
#include "tests/engine/core/test_table.h"

namespace jw::bench {

struct BenchRow {
  int32_t id = 0;
  std::string name;
  int32_t value = 0;
};

// Field numbers of the row schema; kBlobField only with a BLOB.
enum : int16_t { kIdField = 1, kNameField, kValueField, kBlobField };
constexpr int32_t kNameLength = 40;
// The name of the secondary index on the text.
inline constexpr const char* kNameIndex = "ByName";

// count rows in insert order: the ids a permutation of 1..count, names of
// 40 random letters, values random; the same rows for the same seed.
std::vector<BenchRow> BenchRows(int32_t count, uint32_t seed = 21);

// The positions 0..count-1 in a random order of their own, for seeks.
std::vector<size_t> ShuffledPositions(size_t count, uint32_t seed = 24);

// Bytes of the file (0 when it is missing).
int64_t FileBytes(const std::string& path);

// The rows' table in Quire: ROWS.DAT with its index file (and its BLOB file
// when with_blob), opened through one session and directory. Without
// indexed the table has neither the primary nor the secondary index.
class QuireRows {
 public:
  explicit QuireRows(bool with_blob = false, bool indexed = true);
  ~QuireRows();
  QuireRows(const QuireRows&) = delete;
  QuireRows& operator=(const QuireRows&) = delete;

  // A cursor on the table in primary-key order (or natural order).
  std::unique_ptr<TDataCursor> Open(bool exclusive, bool natural_order = false);
  // Inserts the rows through the cursor, inside one transaction when asked
  // (else each insert is written back on its own unless the cursor is
  // exclusive, which writes back at close).
  void Insert(TDataCursor& cursor, const std::vector<BenchRow>& rows, bool in_transaction);
  // Creates the table anew and fills it with the rows in one transaction.
  void Fill(const std::vector<BenchRow>& rows);
  // A record image holding the row.
  void PutRow(TDataCursor& cursor, const BenchRow& row, uint8_t* image) const;

  TDataDirectory* Directory() const { return directory_; }
  // The data, index and BLOB files' bytes together.
  int64_t FilesBytes() const;

 private:
  void Create();

  jw::test::ScratchDir folder_;
  TDataSession session_;
  TDataDirectory* directory_;
  bool with_blob_;
  bool indexed_;
};

// The rows' table in SQLite: rows(id INTEGER PRIMARY KEY, name TEXT, value
// INTEGER) with an index on name (and a BLOB column when with_blob).
class SqliteRows {
 public:
  explicit SqliteRows(bool exclusive, bool with_blob = false);
  ~SqliteRows();
  SqliteRows(const SqliteRows&) = delete;
  SqliteRows& operator=(const SqliteRows&) = delete;

  // Closes the connection and opens it again (cold page cache).
  void Reopen();
  void Exec(const char* sql);
  // Raises on a fault; the caller finalizes.
  sqlite3_stmt* Prepare(const char* sql);
  // Inserts through one prepared statement, in one transaction when asked
  // (else each statement commits on its own).
  void Insert(const std::vector<BenchRow>& rows, bool in_transaction);
  // Drops and creates the table, then fills it in one transaction.
  void Fill(const std::vector<BenchRow>& rows);
  int64_t FilesBytes() const;
  sqlite3* Db() const { return db_; }

 private:
  void Connect();
  void Create();

  jw::test::ScratchDir folder_;
  sqlite3* db_ = nullptr;
  bool exclusive_;
  bool with_blob_;
};

// A prepared statement finalized when it ends.
class SqliteStatement {
 public:
  SqliteStatement(SqliteRows& rows, const char* sql) : statement_(rows.Prepare(sql)) {}
  ~SqliteStatement() { sqlite3_finalize(statement_); }
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;
  sqlite3_stmt* get() const { return statement_; }
  // Steps once and raises on anything but a row or the end.
  bool Step();
  void Reset() { sqlite3_reset(statement_); }

 private:
  sqlite3_stmt* statement_;
};

}  // namespace jw::bench
