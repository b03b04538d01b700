// INSERT, UPDATE and DELETE run on real tables: random statements against
// SQLite as an independent oracle (rows and rows affected after every
// statement), a failure in the middle that keeps exactly what the last
// interim commit wrote, a caller's transaction with and without a commit
// interval, progress with an abort, the values and checks of prepare, and
// BLOB columns copied whole into result rows and inserted rows, and the
// records read to choose the rows under an indexed condition.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/blob_buffer.h"
#include "engine/core/data_cursor.h"
#include "engine/core/data_directory.h"
#include "engine/core/table_verify.h"
#include "engine/expr/expression_types.h"
#include "engine/sql/data_change_execution.h"
#include "engine/sql/query_statement.h"
#include "engine/support/engine_errors.h"
#include "engine/support/field_types.h"
#include "engine/support/value_conversions.h"
#include "tests/engine/core/table_peer.h"
#include "tests/engine/sql/sql_test_util.h"

namespace jw {
namespace {

using test_support::Column;

// A scratch database with n (a integer, b integer, s string 10), k (the
// same with a primary key on a) and d (a integer, d date).
struct DataChangeDatabase : test_support::ResolveDatabase {
  DataChangeDatabase() {
    Create("n", Fields());
    TTableDefinition keyed;
    IndexDescriptor primary;
    primary.SegmentCount = 1;
    primary.FieldNumbers[0] = 1;
    keyed.Indexes = {primary};
    keyed.Fields = Fields();
    CreateKeyed("k", keyed);
    Create("d", {Column("a", kFldInteger), Column("d", kFldDate)});
  }

  static std::vector<FieldDescriptor> Fields() {
    return {Column("a", kFldInteger), Column("b", kFldInteger), Column("s", kFldString, 10)};
  }

  void CreateKeyed(const std::string& name, TTableDefinition definition) {
    TDataTable* table = nullptr;
    if (const int32_t result =
            database.directory->CreateTable(name, definition, false, false, table)) {
      RaiseEngineError(static_cast<EngineErrorCode>(-result), name);
    }
    table->WriteBack(false, true, false, true, true);
    database.directory->CloseTable(table, false);
  }

  // Runs one statement with its parameters bound to the values and gives
  // its rows affected.
  int32_t Run(const std::string& text, const std::vector<int32_t>& values = {},
              uint8_t type = kFldInteger) {
    TQueryStatement statement(database.session, *database.directory);
    int32_t consumed = 0;
    statement.Prepare(text.c_str(), consumed);
    Bind(statement, values, type);
    statement.Execute();
    return statement.GetRowsAffected();
  }

  // Binds the statement's first parameters to the values: integers, or
  // floats half above them.
  static void Bind(TQueryStatement& statement, const std::vector<int32_t>& values, uint8_t type) {
    if (!values.empty()) {
      constexpr int32_t kSlot = kParamFlagSize + 8;
      std::vector<uint8_t> descriptors(values.size() * kFieldDescriptorSize);
      std::vector<uint8_t> slots(values.size() * kSlot);
      for (size_t i = 0; i < values.size(); ++i) {
        FieldDescriptor field;
        field.Number = static_cast<int16_t>(i + 1);
        field.Type = type;
        field.PhysicalLength = type == kFldFloat ? 8 : 4;
        field.Offset = static_cast<uint16_t>(i * kSlot);
        field.EncodeTo(descriptors.data() + i * kFieldDescriptorSize);
        uint8_t* slot = slots.data() + i * kSlot;
        slot[0] = 1;
        if (type == kFldFloat) {
          const double value = values[i] + 0.5;
          std::memcpy(slot + kParamFlagSize, &value, sizeof value);
        } else {
          std::memcpy(slot + kParamFlagSize, &values[i], sizeof values[i]);
        }
      }
      statement.BindParams(static_cast<int32_t>(values.size()), descriptors.data(), slots.data());
    }
  }

  // The full text of the error a statement raises; "" when it runs.
  std::string ErrorOf(const std::string& text) {
    try {
      Run(text);
    } catch (const EQuireEngineError& e) {
      return e.Message();
    }
    return std::string();
  }

  std::unique_ptr<TDataCursor> OpenTable(const std::string& name) {
    auto cursor = std::make_unique<TDataCursor>(database.directory);
    cursor->SetTableName(name);
    cursor->SetNaturalOrder(true);
    cursor->Open();
    return cursor;
  }

  // Appends rows (a, b, "s<a>") with a = first .. first + count - 1, b = a.
  void Fill(const std::string& name, int32_t first, int32_t count) {
    auto cursor = OpenTable(name);
    std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
    for (int32_t a = first; a < first + count; ++a) {
      cursor->InitRecord(image.data());
      cursor->SetFieldData(1, image.data(), false, &a);
      cursor->SetFieldData(2, image.data(), false, &a);
      char text[11] = {};
      std::snprintf(text, sizeof text, "s%d", a);
      cursor->SetFieldData(3, image.data(), false, text);
      cursor->InsertRecord(image.data(), false);
    }
  }

  // Every row of a table of Fields() as "a|b|s" ("~" for NULL), sorted.
  std::vector<std::string> Rows(const std::string& name) {
    auto cursor = OpenTable(name);
    std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
    std::vector<std::string> rows;
    cursor->First();
    while (cursor->GetNextRecord(image.data()) == 0) {
      std::string row;
      for (int32_t field = 1; field <= 3; ++field) {
        char value[kValueBufferSize] = {};
        bool null = false;
        cursor->GetFieldData(field, image.data(), null, value);
        int32_t number = 0;
        std::memcpy(&number, value, sizeof number);
        row += null ? "~" : field == 3 ? std::string(value) : std::to_string(number);
        row += field == 3 ? "" : "|";
      }
      rows.push_back(row);
    }
    std::sort(rows.begin(), rows.end());
    return rows;
  }
};

class Oracle {
 public:
  Oracle() {
    sqlite3_open(":memory:", &db_);
    Exec("CREATE TABLE n (a INTEGER, b INTEGER, s TEXT)");
  }
  ~Oracle() { sqlite3_close(db_); }
  Oracle(const Oracle&) = delete;
  Oracle& operator=(const Oracle&) = delete;

  int32_t Exec(const std::string& text, const std::vector<int32_t>& values = {}) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, text.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << "SQLite refused " << text << ": " << sqlite3_errmsg(db_);
      return -1;
    }
    for (size_t i = 0; i < values.size(); ++i) {
      sqlite3_bind_int(statement, static_cast<int>(i + 1), values[i]);
    }
    if (sqlite3_step(statement) != SQLITE_DONE) {
      ADD_FAILURE() << "SQLite failed " << text << ": " << sqlite3_errmsg(db_);
    }
    sqlite3_finalize(statement);
    return sqlite3_changes(db_);
  }

  std::vector<std::string> Rows() {
    std::vector<std::string> rows;
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db_, "SELECT a, b, s FROM n", -1, &statement, nullptr);
    while (sqlite3_step(statement) == SQLITE_ROW) {
      std::string row;
      for (int column = 0; column < 3; ++column) {
        const auto* text = sqlite3_column_text(statement, column);
        row += text == nullptr ? "~" : reinterpret_cast<const char*>(text);
        row += column == 2 ? "" : "|";
      }
      rows.push_back(row);
    }
    sqlite3_finalize(statement);
    std::sort(rows.begin(), rows.end());
    return rows;
  }

 private:
  sqlite3* db_ = nullptr;
};

// One random statement of the subset both dialects read alike. A number
// written @k or @m stands where a parameter may: with markers it becomes
// "?" and its value joins values, in text order.
std::string RandomStatement(std::mt19937& random, bool markers, std::vector<int32_t>& values) {
  const auto pick = [&](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  const int32_t k = pick(0, 20);
  const int32_t m = pick(0, 20);
  const std::string sk = std::to_string(k);
  const std::string sm = std::to_string(m);
  const std::string where[] = {"", " WHERE a < @k", " WHERE b >= @k AND a <> @m",
                               " WHERE s = 's" + sk + "'", " WHERE b IS NULL OR a = @k"};
  const std::string& condition = where[pick(0, 4)];
  std::string text;
  switch (pick(0, 6)) {
    case 0:
    case 1:
      text = "INSERT INTO n (a, b, s) VALUES (@k, " + std::string(pick(0, 4) == 0 ? "NULL" : "@m") +
             ", 's" + sm + "')";
      break;
    case 2:
      text = "UPDATE n SET b = b + @m" + condition;
      break;
    case 3:
      text = "UPDATE n SET s = 's" + sm + "', a = @k" + condition;
      break;
    case 4:
      text = "UPDATE n SET b = NULL" + condition;
      break;
    case 5:
      // Reads a snapshot of n, never the rows it adds. Column a stays
      // non-NULL: NULL <> m is a comparison the two dialects answer apart.
      text = "INSERT INTO n (a, b, s) SELECT a + " + sm + ", b, s FROM n" + condition;
      break;
    default:
      text = "DELETE FROM n" + condition;
      break;
  }
  std::string statement;
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] != '@') {
      statement += text[at];
      continue;
    }
    const int32_t value = text[at + 1] == 'k' ? k : m;
    statement += markers ? "?" : std::to_string(value);
    if (markers) values.push_back(value);
    ++at;
  }
  return statement;
}

TEST(DataChange, RandomStatementsMatchSqlite) {
  const int runs = std::getenv("JW_LONG_TESTS") != nullptr ? 40 : 4;
  for (int run = 0; run < runs; ++run) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    DataChangeDatabase tables;
    Oracle oracle;
    for (int step = 0; step < 60; ++step) {
      // Every other run gives its numbers through parameters.
      std::vector<int32_t> values;
      const std::string text = RandomStatement(random, run % 2 == 1, values);
      SCOPED_TRACE(text);
      ASSERT_EQ(tables.Run(text, values), oracle.Exec(text, values));
      ASSERT_EQ(tables.Rows("n"), oracle.Rows());
    }
  }
}

// UPDATE and DELETE find their records through the condition as the
// cursor's filter: an indexed comparison with a bound parameter reads no
// record to choose them, an indexed side limits the records read for the
// rest, and an UPDATE that moves the indexed key changes each record once.
TEST(DataChange, AnIndexedConditionChoosesTheRecordsWithoutReadingTheOthers) {
  DataChangeDatabase tables;
  tables.Fill("k", 1, 300);
  TQueryStatement statement(tables.database.session, *tables.database.directory);
  int32_t consumed = 0;
  statement.Prepare("DELETE FROM k WHERE a = ?", consumed);
  const TDataCursor& cursor = *statement.MainQuery()->SourceTables[0]->Cursor;
  // The second delete of 5 finds nothing left to delete.
  for (const auto& [a, deleted] : {std::pair{5, 1}, std::pair{250, 1}, std::pair{5, 0}}) {
    SCOPED_TRACE(a);
    const int64_t reads = cursor.FilterRecordReads();
    DataChangeDatabase::Bind(statement, {a}, kFldInteger);
    statement.Execute();
    EXPECT_EQ(statement.GetRowsAffected(), deleted);
    EXPECT_EQ(cursor.FilterRecordReads(), reads);
  }
  EXPECT_EQ(tables.Rows("k").size(), 298u);
  // Without an index the same condition is tested on every record.
  tables.Fill("n", 1, 300);
  TQueryStatement plain(tables.database.session, *tables.database.directory);
  plain.Prepare("DELETE FROM n WHERE a = ?", consumed);
  const TDataCursor& plain_cursor = *plain.MainQuery()->SourceTables[0]->Cursor;
  DataChangeDatabase::Bind(plain, {5}, kFldInteger);
  const int64_t plain_reads = plain_cursor.FilterRecordReads();
  plain.Execute();
  EXPECT_EQ(plain.GetRowsAffected(), 1);
  EXPECT_EQ(plain_cursor.FilterRecordReads() - plain_reads, 300);

  TQueryStatement mixed(tables.database.session, *tables.database.directory);
  mixed.Prepare("DELETE FROM k WHERE s LIKE '%7%' AND a <= ?", consumed);
  const TDataCursor& mixed_cursor = *mixed.MainQuery()->SourceTables[0]->Cursor;
  DataChangeDatabase::Bind(mixed, {100}, kFldInteger);
  const int64_t before = mixed_cursor.FilterRecordReads();
  mixed.Execute();
  // a 1..100 without 5: 7, 17, ..., 97 and 70..79 (77 once).
  EXPECT_EQ(mixed.GetRowsAffected(), 19);
  EXPECT_EQ(mixed_cursor.FilterRecordReads() - before, 99);

  EXPECT_EQ(tables.Run("UPDATE k SET a = a + 1000 WHERE a BETWEEN ? AND ?", {101, 200}), 100);
  std::vector<std::string> expected;
  for (int32_t a = 1; a <= 300; ++a) {
    if (a == 5 || a == 250 || (a <= 100 && std::to_string(a).find('7') != std::string::npos)) {
      continue;
    }
    const int32_t moved = a >= 101 && a <= 200 ? a + 1000 : a;
    expected.push_back(std::to_string(moved) + "|" + std::to_string(a) + "|s" + std::to_string(a));
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(tables.Rows("k"), expected);
}

// A parameter beside a column takes the column's type at prepare; a value
// bound later must fit it (an integer converts), else the run fails before
// it changes a row.
TEST(DataChange, AParameterBesideAColumnTakesItsType) {
  DataChangeDatabase tables;
  tables.Fill("n", 1, 3);
  EXPECT_EQ(tables.Run("UPDATE n SET b = b + ? WHERE a = ?", {10, 2}), 1);
  const std::vector<std::string> rows{"1|1|s1", "2|12|s2", "3|3|s3"};
  EXPECT_EQ(tables.Rows("n"), rows);
  // The refused value does not stay bound: the statement's next run fails
  // too, where an earlier value would otherwise have been read as a float.
  TQueryStatement statement(tables.database.session, *tables.database.directory);
  int32_t consumed = 0;
  statement.Prepare("UPDATE n SET b = b + ?", consumed);
  DataChangeDatabase::Bind(statement, {1}, kFldInteger);
  const auto message = [&](const std::function<void()>& step) {
    try {
      step();
    } catch (const EQuireEngineError& e) {
      EXPECT_EQ(e.Code(), kErrSql);
      return e.Message();
    }
    return std::string("no error");
  };
  EXPECT_NE(message([&] {
              DataChangeDatabase::Bind(statement, {1}, kFldFloat);
            }).find("Type mismatch between parameter 1 and the expression it stands in"),
            std::string::npos);
  EXPECT_NE(message([&] { statement.Execute(); }).find("Parameter 1 has not been bound"),
            std::string::npos);
  EXPECT_EQ(tables.Rows("n"), rows);
}

std::vector<int32_t> commits;
void CountCommit(int32_t processed) {
  commits.push_back(processed);
}

TEST(DataChange, CallersTransactionCommitsOnlyAtAGivenInterval) {
  DataChangeDatabase tables;
  tables.Fill("n", 1, 1800);
  TDataDirectory& directory = *tables.database.directory;
  commits.clear();
  SetInterimCommitHook(CountCommit);

  directory.StartTransaction();
  EXPECT_EQ(tables.Run("DELETE FROM n WHERE a > 900"), 900);
  EXPECT_TRUE(commits.empty());
  // The statement's changes ran under one write lock, which ended with the
  // statement: a reader of another process gets in while the caller's
  // transaction goes on.
  test::Peer peer;
  ASSERT_TRUE(peer.Ready());
  ASSERT_EQ(peer.Ask("open " + tables.folder.Path() + " n"), "ok");
  ASSERT_EQ(peer.Ask("retries 2"), "ok");
  EXPECT_EQ(peer.Ask("read-lock"), "ok");
  EXPECT_EQ(peer.Ask("read-unlock"), "ok");
  directory.Rollback();
  EXPECT_EQ(tables.Rows("n").size(), 1800u);

  // The interim commits write what came before them; the caller's rollback
  // takes back only the rest.
  directory.StartTransaction();
  EXPECT_EQ(tables.Run("DELETE FROM n COMMIT INTERVAL 500"), 1800);
  directory.Rollback();
  SetInterimCommitHook(nullptr);
  EXPECT_EQ(commits, (std::vector<int32_t>{500, 1000, 1500}));
  EXPECT_EQ(tables.Rows("n").size(), 300u);
}

TEST(DataChange, OwnTransactionCommitsEveryIntervalAndAFailureKeepsTheLastCommit) {
  DataChangeDatabase tables;
  // 100-byte records: the statement commits every 262140 / 100 = 2621.
  tables.Create("h", {Column("a", kFldInteger), Column("s", kFldString, 84)});
  const auto fill = [&] {
    auto cursor = tables.OpenTable("h");
    EXPECT_EQ(cursor->GetRecordSize(), 100);
    std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
    for (int32_t a = 1; a <= 6000; ++a) {
      cursor->InitRecord(image.data());
      cursor->SetFieldData(1, image.data(), false, &a);
      cursor->InsertRecord(image.data(), false);
    }
  };
  fill();
  commits.clear();
  SetInterimCommitHook(CountCommit);
  EXPECT_EQ(tables.Run("DELETE FROM h"), 6000);
  EXPECT_EQ(commits, (std::vector<int32_t>{2621, 5242}));
  EXPECT_TRUE(test_support::FirstFieldIntegers(*tables.OpenTable("h")).empty());

  // A second process holds the 4000th record: the delete fails there and
  // rolls back to its commit after 2621 records.
  fill();
  int32_t locked = 0;
  {
    auto cursor = tables.OpenTable("h");
    cursor->First();
    for (int i = 0; i < 4000; ++i) ASSERT_EQ(cursor->GetNextRecord(nullptr), 0);
    locked = cursor->CurrentRecordNumber();
  }
  test::Peer peer;
  ASSERT_TRUE(peer.Ready());
  ASSERT_EQ(peer.Ask("open " + tables.folder.Path() + " h"), "ok");
  ASSERT_EQ(peer.Ask("lock-record " + std::to_string(locked)), "ok");
  tables.database.session.SetLockRetryCount(0);
  commits.clear();
  EngineErrorCode code = 0;
  int32_t rows_affected = -1;
  {
    TQueryStatement statement(tables.database.session, *tables.database.directory);
    int32_t consumed = 0;
    statement.Prepare("DELETE FROM h", consumed);
    try {
      statement.Execute();
    } catch (const EQuireEngineError& e) {
      code = e.Code();
    }
    rows_affected = statement.GetRowsAffected();
  }
  SetInterimCommitHook(nullptr);
  EXPECT_EQ(code, kErrRecordInUse);
  EXPECT_EQ(rows_affected, 2621);
  EXPECT_EQ(commits, (std::vector<int32_t>{2621}));
  std::vector<int32_t> left(6000 - 2621);
  std::iota(left.begin(), left.end(), 2622);
  EXPECT_EQ(test_support::FirstFieldIntegers(*tables.OpenTable("h")), left);
  EXPECT_EQ(peer.Ask("close"), "ok");
  for (const TVerifyProblem& problem : VerifyTableFiles(tables.folder.File("h.DAT"))) {
    ADD_FAILURE() << problem.Text;
  }
}

TEST(DataChange, ProgressAbortKeepsTheWorkDoneAndEndsAtOneHundred) {
  DataChangeDatabase tables;
  tables.Fill("n", 1, 10);
  struct Seen {
    std::vector<std::pair<int32_t, int32_t>> calls;
  } seen;
  const TSqlProgress progress = [](void* user_data, int32_t count, int32_t percent, bool& abort) {
    auto& calls = static_cast<Seen*>(user_data)->calls;
    calls.emplace_back(count, percent);
    abort = count == 3;
  };
  TQueryStatement statement(tables.database.session, *tables.database.directory);
  int32_t consumed = 0;
  statement.Prepare("DELETE FROM n WHERE a > 0", consumed);
  statement.Execute(progress, &seen);
  EXPECT_EQ(statement.GetRowsAffected(), 2);
  EXPECT_EQ(seen.calls,
            (std::vector<std::pair<int32_t, int32_t>>{{1, 10}, {2, 20}, {3, 30}, {10, 100}}));
  EXPECT_EQ(tables.Rows("n").size(), 8u);
}

TEST(DataChange, FailureInTheMiddleKeepsWhatTheLastInterimCommitWrote) {
  DataChangeDatabase tables;
  tables.Fill("k", 1, 100);
  // Record a becomes 150 - a: the 50th record meets the key 100 of the
  // 51st, which is not changed yet.
  std::string error;
  int32_t rows_affected = -1;
  {
    TQueryStatement statement(tables.database.session, *tables.database.directory);
    int32_t consumed = 0;
    statement.Prepare("UPDATE k SET a = 150 - a COMMIT INTERVAL 20", consumed);
    try {
      statement.Execute();
    } catch (const EQuireEngineError& e) {
      error = e.Message();
    }
    rows_affected = statement.GetRowsAffected();
  }
  EXPECT_NE(error.find("Duplicate key found"), std::string::npos) << error;
  EXPECT_EQ(rows_affected, 40);
  const std::vector<std::string> rows = tables.Rows("k");
  ASSERT_EQ(rows.size(), 100u);
  int changed = 0;
  for (const std::string& row : rows) {
    const int a = std::stoi(row);
    const int b = std::stoi(row.substr(row.find('|') + 1));
    if (a != b) {
      ++changed;
      EXPECT_EQ(a, 150 - b);
      EXPECT_LE(b, 40);
    }
  }
  EXPECT_EQ(changed, 40);
}

// A BLOB column's bytes through a cursor of its own owner byte.
std::string BlobOf(TDataCursor& cursor, int32_t field, uint8_t* image) {
  constexpr uint8_t kTestOwner = 3;
  EXPECT_EQ(cursor.OpenBlob(field, image, kTestOwner, false, kBlobReadMode), 0);
  int32_t size = 0;
  EXPECT_EQ(cursor.GetBlobSize(field, image, false, size), 0);
  std::string bytes(static_cast<size_t>(size), '\0');
  int32_t read = 0;
  EXPECT_EQ(cursor.ReadBlob(field, image, false, read, size, bytes.data(), 0), 0);
  EXPECT_EQ(cursor.CloseBlob(field, image, kTestOwner, false), 0);
  return bytes;
}

// Every row of a table (a integer, then BLOB columns) as a -> the BLOBs'
// bytes, read through a cursor on the result or the table.
std::map<int32_t, std::vector<std::string>> BlobRows(TDataCursor& cursor) {
  std::map<int32_t, std::vector<std::string>> rows;
  std::vector<uint8_t> image(static_cast<size_t>(cursor.GetRecordSize()));
  cursor.First();
  while (cursor.GetNextRecord(image.data()) == 0) {
    int32_t a = 0;
    bool null = false;
    cursor.GetFieldData(1, image.data(), null, &a);
    std::vector<std::string>& blobs = rows[a];
    for (int32_t f = 2; f <= cursor.GetCursorFieldCount(); ++f) {
      blobs.push_back(BlobOf(cursor, f, image.data()));
    }
  }
  return rows;
}

TEST(DataChange, BlobColumnsAreCopiedWholeIntoResultRowsAndInsertedRows) {
  DataChangeDatabase tables;
  FieldDescriptor memo = Column("m", kFldBlob);
  memo.SubType = kSubTypeTextBlob;
  for (const char* name : {"bl", "bl2"}) {
    tables.Create(name, {Column("a", kFldInteger), memo, Column("g", kFldBlob)});
  }
  // More rows than a cursor may hold BLOBs open: every row's buffers must
  // go when it is posted. Some values are 100 KB, the rest 1 KB; the binary
  // ones hold every byte value, zero included.
  std::mt19937 random(7);
  std::map<int32_t, std::vector<std::string>> expected;
  {
    auto cursor = tables.OpenTable("bl");
    std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
    for (int32_t a = 1; a <= 70; ++a) {
      const size_t size = a % 25 == 0 ? 100 * 1024 : 1024;
      std::string text(size, ' ');
      std::string bytes(size + 7, '\0');
      for (char& c : text) c = static_cast<char>('a' + random() % 26);
      for (char& c : bytes) c = static_cast<char>(random() % 256);
      cursor->InitRecord(image.data());
      cursor->SetFieldData(1, image.data(), false, &a);
      for (const auto& [field, value] : {std::pair{2, &text}, {3, &bytes}}) {
        ASSERT_EQ(cursor->OpenBlob(field, image.data(), 1, false, kBlobWriteMode), 0);
        ASSERT_EQ(cursor->WriteBlob(field, image.data(), false, static_cast<int32_t>(value->size()),
                                    value->data(), 0),
                  0);
      }
      cursor->InsertRecord(image.data(), false);
      expected[a] = {text, bytes};
    }
  }

  TQueryStatement select(tables.database.session, *tables.database.directory);
  int32_t consumed = 0;
  select.Prepare("SELECT a, m, g FROM bl WHERE a > 0", consumed);
  select.Execute();
  EXPECT_EQ(BlobRows(*select.ResultCursor()), expected);

  EXPECT_EQ(tables.Run("INSERT INTO bl2 SELECT * FROM bl"), 70);
  // Groups of two equal rows: each group keeps whole BLOBs.
  EXPECT_EQ(tables.Run("INSERT INTO bl2 SELECT * FROM bl"), 70);
  TQueryStatement grouped(tables.database.session, *tables.database.directory);
  grouped.Prepare("SELECT a, m, g FROM bl2 GROUP BY a", consumed);
  grouped.Execute();
  EXPECT_EQ(BlobRows(*grouped.ResultCursor()), expected);
  EXPECT_EQ(tables.Run("DELETE FROM bl2 WHERE a > 0"), 140);
  EXPECT_EQ(tables.Run("INSERT INTO bl2 SELECT * FROM bl"), 70);
  // From the table into itself: the SELECT reads a snapshot.
  EXPECT_EQ(tables.Run("INSERT INTO bl (a, g, m) SELECT a + 100, g, m FROM bl"), 70);
  EXPECT_EQ(tables.Run("UPDATE bl2 SET m = g WHERE a = 25"), 1);
  for (auto& [a, blobs] : std::map(expected)) expected[a + 100] = blobs;
  EXPECT_EQ(BlobRows(*tables.OpenTable("bl")), expected);
  std::map<int32_t, std::vector<std::string>> copied;
  for (int32_t a = 1; a <= 70; ++a) copied[a] = expected[a];
  copied[25][0] = copied[25][1];
  EXPECT_EQ(BlobRows(*tables.OpenTable("bl2")), copied);
  // The result copied the BLOBs, so changing them in the tables leaves it.
  EXPECT_EQ(tables.Run("DELETE FROM bl"), 140);
  std::map<int32_t, std::vector<std::string>> first(expected.begin(), expected.find(101));
  EXPECT_EQ(BlobRows(*select.ResultCursor()), first);

  for (const char* name : {"bl", "bl2"}) {
    for (const TVerifyProblem& problem :
         VerifyTableFiles(tables.folder.File(std::string(name) + ".DAT"))) {
      ADD_FAILURE() << name << ": " << problem.Text;
    }
  }
}

// A value past what its type holds raises the error of a value above its
// field's maximum, and the statement's transaction rolls back: the row
// already changed before the overflowing one is as it was, and no row is
// reported affected.
TEST(DataChange, AValuePastItsRangeRaisesAndChangesNoRow) {
  DataChangeDatabase tables;
  for (const char* sql :
       {"CREATE TABLE am (a INTEGER, m DECIMAL(20,2))", "INSERT INTO am VALUES (1, 1.5)",
        "INSERT INTO am VALUES (2, 600000000000000.00)", "INSERT INTO am VALUES (3, 2.25)"}) {
    tables.Run(sql);
  }
  const auto amounts = [&] {
    auto cursor = tables.OpenTable("am");
    std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
    std::vector<double> values;
    cursor->First();
    while (cursor->GetNextRecord(image.data()) == 0) {
      int64_t bcd = 0;
      bool null = false;
      cursor->GetFieldData(2, image.data(), null, &bcd);
      values.push_back(null ? -1 : BcdToFloat(bcd));
    }
    return values;
  };
  const std::vector<double> before = {1.5, 600000000000000.0, 2.25};
  ASSERT_EQ(amounts(), before);
  for (const char* sql : {"UPDATE am SET m = m + m", "UPDATE am SET m = m * 2 WHERE a >= 1",
                          "INSERT INTO am SELECT a, m + m FROM am"}) {
    SCOPED_TRACE(sql);
    EngineErrorCode code = 0;
    TQueryStatement statement(tables.database.session, *tables.database.directory);
    int32_t consumed = 0;
    statement.Prepare(sql, consumed);
    try {
      statement.Execute();
    } catch (const EQuireEngineError& e) {
      code = e.Code();
    }
    EXPECT_EQ(code, kErrAboveMaximum);
    EXPECT_EQ(statement.GetRowsAffected(), 0);
    EXPECT_EQ(amounts(), before);
  }
}

TEST(DataChange, ValuesAndChecks) {
  struct Case {
    const char* statement;
    const char* rows_or_error;
  };
  const Case cases[] = {
      {"INSERT INTO n VALUES (1)", "The number of values must match the number of table columns"},
      {"UPDATE d SET d = 'not a date'",
       "Date, time, or timestamp expression expected, instead found ''not a date'' in update "
       "values"},
      {"UPDATE n SET b = 'x'",
       "Type mismatch between column 'b' and constant ''x'' in update values"},
      {"INSERT INTO n (a, b, s) VALUES (1, 2, 'abcdefghijklmnop')", "1|2|abcdefghij"},
      // The second value sees the first assignment of its record.
      {"UPDATE n SET a = b, b = a", "2|2|abcdefghij"},
      {"UPDATE n SET a = a + 1, s = NULL WHERE b = 2", "3|2|~"},
  };
  DataChangeDatabase tables;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.statement);
    const std::string error = tables.ErrorOf(c.statement);
    if (!error.empty()) {
      EXPECT_NE(error.find(c.rows_or_error), std::string::npos) << error;
      continue;
    }
    std::string rows;
    for (const std::string& row : tables.Rows("n")) rows += (rows.empty() ? "" : " ") + row;
    EXPECT_EQ(rows, c.rows_or_error);
  }
}

}  // namespace
}  // namespace jw
