// Storage core against SQLite on the same rows (id, a 20-byte name, an
// integer value): a bulk insert inside one transaction, where every cached
// record stays dirty until the commit, and reads of every row in natural
// order and in the order of an index on the value. The Quire reads go
// through the data file's record cache as a cursor does: read-ahead in
// natural order, none in index order; one more run shows what read-ahead
// costs in index order.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/core/data_file.h"
#include "engine/core/record_sort.h"
#include "tests/engine/core/test_table.h"

namespace {

using jw::test::ScratchDir;

// The value of row i: a permutation of the rows, so that the value order
// is not the natural order.
std::vector<int32_t> RowValues(int32_t rows) {
  std::vector<int32_t> values(static_cast<size_t>(rows));
  std::iota(values.begin(), values.end(), 0);
  std::shuffle(values.begin(), values.end(), std::mt19937(15));
  return values;
}

std::string RowName(int32_t i) {
  return "row " + std::to_string(i);
}

// A Quire table of the rows, created, filled inside one transaction and committed.
class QuireTable {
 public:
  QuireTable(const ScratchDir& folder, const std::vector<int32_t>& values) : file_(&table_) {
    jw::test::CreateTable(file_, folder.Path("ROWS.DAT"), jw::test::SmallDefinition());
    table_.in_transaction = true;
    for (size_t i = 0; i < values.size(); ++i) {
      jw::test::AppendSmallRecord(file_, RowName(static_cast<int32_t>(i)), values[i]);
    }
    table_.in_transaction = false;
    file_.FlushRecords(false);
    file_.WriteHeader(true, false);
    file_.TrimRecordCache();
  }

  jw::TDataFile& File() { return file_; }

 private:
  jw::test::FakeTable table_;
  jw::TDataFile file_;
};

// Reads every record in the given order from a freshly opened table.
int64_t ReadRecords(QuireTable& table, const std::vector<int32_t>& order, bool read_ahead) {
  jw::TDataFile& file = table.File();
  file.DropRecordCache();
  const int32_t offset = file.FieldDesc(3).Offset + 1;
  int64_t sum = 0;
  for (const int32_t number : order) {
    jw::TRecord* record = nullptr;
    file.FetchRecord(nullptr, number, 1, read_ahead, false, record);
    sum += jw::GetInt32(record->Bytes() + offset);
    file.ReleaseRecord(record);
  }
  return sum;
}

// The record numbers in natural order and in the value's order.
std::vector<int32_t> NaturalOrder(int32_t rows) {
  std::vector<int32_t> order(static_cast<size_t>(rows));
  std::iota(order.begin(), order.end(), 1);
  return order;
}

std::vector<int32_t> ValueOrder(const std::vector<int32_t>& values) {
  std::vector<int32_t> order(values.size());
  for (size_t i = 0; i < values.size(); ++i)
    order[static_cast<size_t>(values[i])] = static_cast<int32_t>(i) + 1;
  return order;
}

void BM_Quire_BulkInsertInTransaction(benchmark::State& state) {
  const std::vector<int32_t> values = RowValues(static_cast<int32_t>(state.range(0)));
  for (auto _ : state) {
    ScratchDir folder;
    QuireTable table(folder, values);
    benchmark::DoNotOptimize(table.File().RecordCount());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void QuireRead(benchmark::State& state, bool by_value, bool read_ahead) {
  const std::vector<int32_t> values = RowValues(static_cast<int32_t>(state.range(0)));
  ScratchDir folder;
  QuireTable table(folder, values);
  const std::vector<int32_t> order =
      by_value ? ValueOrder(values) : NaturalOrder(static_cast<int32_t>(values.size()));
  for (auto _ : state) benchmark::DoNotOptimize(ReadRecords(table, order, read_ahead));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Quire_ReadNaturalOrder(benchmark::State& state) {
  QuireRead(state, false, true);
}
void BM_Quire_ReadIndexOrder(benchmark::State& state) {
  QuireRead(state, true, false);
}
void BM_Quire_ReadIndexOrderWithReadAhead(benchmark::State& state) {
  QuireRead(state, true, true);
}

void BM_Quire_SortByValue(benchmark::State& state) {
  const std::vector<int32_t> values = RowValues(static_cast<int32_t>(state.range(0)));
  jw::TSortRequest request;
  request.Fields.emplace_back();
  request.Fields.back().Number = 3;
  for (auto _ : state) {
    state.PauseTiming();
    ScratchDir folder;
    QuireTable table(folder, values);
    request.RunFolder = folder.Path("");
    state.ResumeTiming();
    benchmark::DoNotOptimize(table.File().SortRecords(request));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// ---- SQLite ----

class SqliteTable {
 public:
  explicit SqliteTable(const ScratchDir& folder) {
    if (sqlite3_open(folder.Path("rows.db").c_str(), &db_) != SQLITE_OK) {
      throw std::runtime_error("sqlite3_open failed");
    }
    Exec("CREATE TABLE rows(id INTEGER PRIMARY KEY, name TEXT, value INTEGER)");
  }
  ~SqliteTable() { sqlite3_close(db_); }
  SqliteTable(const SqliteTable&) = delete;
  SqliteTable& operator=(const SqliteTable&) = delete;

  void Exec(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
      throw std::runtime_error(sqlite3_errmsg(db_));
    }
  }

  void Fill(const std::vector<int32_t>& values) {
    Exec("BEGIN");
    sqlite3_stmt* insert = Prepare("INSERT INTO rows(name, value) VALUES(?, ?)");
    for (size_t i = 0; i < values.size(); ++i) {
      const std::string name = RowName(static_cast<int32_t>(i));
      sqlite3_bind_text(insert, 1, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
      sqlite3_bind_int(insert, 2, values[i]);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    Exec("COMMIT");
  }

  int64_t SumValues(const char* sql) {
    sqlite3_stmt* select = Prepare(sql);
    int64_t sum = 0;
    while (sqlite3_step(select) == SQLITE_ROW) sum += sqlite3_column_int(select, 2);
    sqlite3_finalize(select);
    return sum;
  }

 private:
  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) != SQLITE_OK) {
      throw std::runtime_error(sqlite3_errmsg(db_));
    }
    return statement;
  }

  sqlite3* db_ = nullptr;
};

void BM_SQLite_BulkInsertInTransaction(benchmark::State& state) {
  const std::vector<int32_t> values = RowValues(static_cast<int32_t>(state.range(0)));
  for (auto _ : state) {
    ScratchDir folder;
    SqliteTable table(folder);
    table.Fill(values);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void SqliteRead(benchmark::State& state, const char* sql) {
  const std::vector<int32_t> values = RowValues(static_cast<int32_t>(state.range(0)));
  ScratchDir folder;
  SqliteTable table(folder);
  table.Fill(values);
  table.Exec("CREATE INDEX by_value ON rows(value)");
  for (auto _ : state) benchmark::DoNotOptimize(table.SumValues(sql));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_SQLite_SortByValue(benchmark::State& state) {
  const std::vector<int32_t> values = RowValues(static_cast<int32_t>(state.range(0)));
  ScratchDir folder;
  SqliteTable table(folder);
  table.Fill(values);
  for (auto _ : state) {
    state.PauseTiming();
    table.Exec("DROP TABLE IF EXISTS sorted");
    state.ResumeTiming();
    table.Exec("CREATE TABLE sorted AS SELECT * FROM rows ORDER BY value");
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_SQLite_ReadNaturalOrder(benchmark::State& state) {
  SqliteRead(state, "SELECT * FROM rows");
}
void BM_SQLite_ReadIndexOrder(benchmark::State& state) {
  SqliteRead(state, "SELECT * FROM rows ORDER BY value");
}

}  // namespace

BENCHMARK(BM_Quire_BulkInsertInTransaction)
    ->Arg(100000)
    ->Arg(300000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_BulkInsertInTransaction)
    ->Arg(100000)
    ->Arg(300000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quire_ReadNaturalOrder)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_ReadNaturalOrder)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quire_ReadIndexOrder)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_ReadIndexOrder)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quire_ReadIndexOrderWithReadAhead)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quire_SortByValue)->Arg(300000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_SortByValue)->Arg(300000)->Arg(1000000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
