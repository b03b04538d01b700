// Writing and reading the rows through a cursor against the same work in
// SQLite: inserts in one transaction, in exclusive mode and one by one,
// point seeks on the primary and the secondary index, range scans, full
// scans in natural, primary-key and secondary order (of 100,000 rows, and
// of 1,000,000, whose data file is far larger than the record cache),
// updates that change both keys, deletes with re-inserts, and opening a
// table to its first record. The insert benchmarks report the files'
// sizes as counters.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "bench/bench_tables.h"

namespace {

using jw::TDataCursor;
using jw::bench::BenchRow;
using jw::bench::BenchRows;
using jw::bench::kIdField;
using jw::bench::kNameField;
using jw::bench::kNameIndex;
using jw::bench::kValueField;
using jw::bench::QuireRows;
using jw::bench::ShuffledPositions;
using jw::bench::SqliteRows;
using jw::bench::SqliteStatement;

constexpr int32_t kTableRows = 100000;
// The scans' large table; its keys are inserted in random order.
constexpr int32_t kLargeTableRows = 1000000;
// Rows an update or delete pass changes, each pass in one transaction.
constexpr int32_t kChangedRows = 10000;
// Rows the per-row insert adds, each in a transaction of its own.
constexpr int32_t kAutocommitRows = 2000;

int32_t Rows(const benchmark::State& state) {
  return static_cast<int32_t>(state.range(0));
}

void CountFiles(benchmark::State& state, int64_t bytes) {
  state.counters["file_bytes"] = static_cast<double>(bytes);
}

// ---- inserts ----

// Every row inserted into a new table, in one transaction or (exclusive)
// through an exclusive cursor that writes back as it closes.
void QuireInsert(benchmark::State& state, bool exclusive) {
  const auto rows = BenchRows(Rows(state));
  int64_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    QuireRows table;
    auto cursor = table.Open(exclusive);
    state.ResumeTiming();
    table.Insert(*cursor, rows, !exclusive);
    cursor->Close(false);
    bytes = table.FilesBytes();
  }
  CountFiles(state, bytes);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void SqliteInsert(benchmark::State& state, bool exclusive) {
  const auto rows = BenchRows(Rows(state));
  int64_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    SqliteRows table(exclusive);
    state.ResumeTiming();
    table.Insert(rows, true);
    bytes = table.FilesBytes();
  }
  CountFiles(state, bytes);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Quire_InsertInTransaction(benchmark::State& state) {
  QuireInsert(state, false);
}
void BM_SQLite_InsertInTransaction(benchmark::State& state) {
  SqliteInsert(state, false);
}
void BM_Quire_InsertExclusive(benchmark::State& state) {
  QuireInsert(state, true);
}
void BM_SQLite_InsertExclusive(benchmark::State& state) {
  SqliteInsert(state, true);
}

// Each row committed on its own into a shared table.
void BM_Quire_InsertPerRow(benchmark::State& state) {
  const auto rows = BenchRows(kAutocommitRows);
  for (auto _ : state) {
    state.PauseTiming();
    QuireRows table;
    auto cursor = table.Open(false);
    state.ResumeTiming();
    table.Insert(*cursor, rows, false);
  }
  state.SetItemsProcessed(state.iterations() * kAutocommitRows);
}

void BM_SQLite_InsertPerRow(benchmark::State& state) {
  const auto rows = BenchRows(kAutocommitRows);
  for (auto _ : state) {
    state.PauseTiming();
    SqliteRows table(false);
    state.ResumeTiming();
    table.Insert(rows, false);
  }
  state.SetItemsProcessed(state.iterations() * kAutocommitRows);
}

// ---- point seeks ----

// Seeks every row once in a random order by its id or by its name.
void QuireSeek(benchmark::State& state, bool by_name) {
  const auto rows = BenchRows(kTableRows);
  const auto order = ShuffledPositions(rows.size());
  QuireRows table;
  table.Fill(rows);
  auto cursor = table.Open(false);
  if (by_name) cursor->SetIndexByName(kNameIndex);
  std::vector<uint8_t> probe(static_cast<size_t>(cursor->GetRecordSize()));
  std::vector<uint8_t> image(probe.size());
  for (auto _ : state) {
    int64_t found = 0;
    for (const size_t i : order) {
      table.PutRow(*cursor, rows[i], probe.data());
      found += cursor->SeekKey(false, probe.data(), image.data(), 0, false, 1) ? 1 : 0;
    }
    if (found != kTableRows) state.SkipWithError("a row was not found");
  }
  state.SetItemsProcessed(state.iterations() * kTableRows);
}

void SqliteSeek(benchmark::State& state, bool by_name) {
  const auto rows = BenchRows(kTableRows);
  const auto order = ShuffledPositions(rows.size());
  SqliteRows table(false);
  table.Fill(rows);
  SqliteStatement select(
      table, by_name ? "SELECT * FROM rows WHERE name = ?" : "SELECT * FROM rows WHERE id = ?");
  for (auto _ : state) {
    int64_t found = 0;
    for (const size_t i : order) {
      if (by_name) {
        sqlite3_bind_text(select.get(), 1, rows[i].name.data(),
                          static_cast<int>(rows[i].name.size()), SQLITE_STATIC);
      } else {
        sqlite3_bind_int(select.get(), 1, rows[i].id);
      }
      while (select.Step()) ++found;
      select.Reset();
    }
    if (found != kTableRows) state.SkipWithError("a row was not found");
  }
  state.SetItemsProcessed(state.iterations() * kTableRows);
}

void BM_Quire_SeekPrimary(benchmark::State& state) {
  QuireSeek(state, false);
}
void BM_SQLite_SeekPrimary(benchmark::State& state) {
  SqliteSeek(state, false);
}
void BM_Quire_SeekSecondary(benchmark::State& state) {
  QuireSeek(state, true);
}
void BM_SQLite_SeekSecondary(benchmark::State& state) {
  SqliteSeek(state, true);
}

// ---- scans ----

// Sums the value column of every record of the cursor's range. With
// locked the scan holds the statement read lock, as a SQL statement does
// and as SQLite holds its shared lock while a statement steps; without it
// every record is a read of its own that looks for other writers' changes.
int64_t SumToEnd(TDataCursor& cursor, std::vector<uint8_t>& image, bool locked) {
  if (locked) cursor.LockForRead();
  int64_t sum = 0;
  cursor.First();
  while (cursor.GetNextRecord(image.data()) == 0) {
    bool null = false;
    int32_t value = 0;
    cursor.GetFieldData(kValueField, image.data(), null, &value);
    sum += value;
  }
  if (locked) cursor.UnlockForRead();
  return sum;
}

// The range scans read the ids first .. first + percent of the rows,
// first stepping through the table pass by pass. Each pass sets its range
// and walks it under one read lock, as a SQL statement does and as SQLite
// binds and steps its statement under one shared lock.
int32_t RangeStart(int64_t pass, int32_t length) {
  return static_cast<int32_t>(1 + (pass * 7919) % (kTableRows - length));
}

void BM_Quire_RangeScan(benchmark::State& state) {
  const auto rows = BenchRows(kTableRows);
  const int32_t length = kTableRows / 100 * static_cast<int32_t>(state.range(0));
  QuireRows table;
  table.Fill(rows);
  auto cursor = table.Open(false);
  std::vector<uint8_t> low(static_cast<size_t>(cursor->GetRecordSize()));
  std::vector<uint8_t> high(low.size());
  std::vector<uint8_t> image(low.size());
  int64_t pass = 0;
  for (auto _ : state) {
    const int32_t first = RangeStart(pass++, length);
    const int32_t last = first + length - 1;
    cursor->ClearRecord(low.data());
    cursor->SetFieldData(kIdField, low.data(), false, &first);
    cursor->ClearRecord(high.data());
    cursor->SetFieldData(kIdField, high.data(), false, &last);
    cursor->LockForRead();
    cursor->SetRange(false, low.data(), 1, high.data(), 1);
    benchmark::DoNotOptimize(SumToEnd(*cursor, image, false));
    cursor->UnlockForRead();
  }
  state.SetItemsProcessed(state.iterations() * length);
}

void BM_SQLite_RangeScan(benchmark::State& state) {
  const auto rows = BenchRows(kTableRows);
  const int32_t length = kTableRows / 100 * static_cast<int32_t>(state.range(0));
  SqliteRows table(false);
  table.Fill(rows);
  SqliteStatement select(table, "SELECT * FROM rows WHERE id BETWEEN ? AND ? ORDER BY id");
  int64_t pass = 0;
  for (auto _ : state) {
    const int32_t first = RangeStart(pass++, length);
    sqlite3_bind_int(select.get(), 1, first);
    sqlite3_bind_int(select.get(), 2, first + length - 1);
    int64_t sum = 0;
    while (select.Step()) sum += sqlite3_column_int(select.get(), 2);
    select.Reset();
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * length);
}

// A full scan in natural order, by the primary key or by the secondary
// index, each pass by the same open cursor as each pass in SQLite is a
// statement of the same connection.
enum class Order { kNatural, kPrimary, kSecondary };

void QuireScan(benchmark::State& state, Order order, bool locked = true) {
  const int32_t rows = Rows(state);
  QuireRows table;
  table.Fill(BenchRows(rows));
  auto cursor = table.Open(false, order == Order::kNatural);
  if (order == Order::kSecondary) cursor->SetIndexByName(kNameIndex);
  std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
  for (auto _ : state) {
    benchmark::DoNotOptimize(SumToEnd(*cursor, image, locked));
  }
  state.SetItemsProcessed(state.iterations() * rows);
}

void SqliteScan(benchmark::State& state, const char* sql) {
  const int32_t rows = Rows(state);
  SqliteRows table(false);
  table.Fill(BenchRows(rows));
  for (auto _ : state) {
    SqliteStatement select(table, sql);
    int64_t sum = 0;
    while (select.Step()) sum += sqlite3_column_int(select.get(), 2);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * rows);
}

// Each scan at both table sizes.
void ScanSizes(benchmark::internal::Benchmark* b) {
  b->Arg(kTableRows)->Arg(kLargeTableRows)->Unit(benchmark::kMillisecond);
}

void BM_Quire_ScanNaturalOrder(benchmark::State& state) {
  QuireScan(state, Order::kNatural);
}
void BM_SQLite_ScanNaturalOrder(benchmark::State& state) {
  SqliteScan(state, "SELECT * FROM rows");
}
void BM_Quire_ScanPrimaryOrder(benchmark::State& state) {
  QuireScan(state, Order::kPrimary);
}
void BM_SQLite_ScanPrimaryOrder(benchmark::State& state) {
  SqliteScan(state, "SELECT * FROM rows ORDER BY id");
}
void BM_Quire_ScanPrimaryOrderRecordByRecord(benchmark::State& state) {
  QuireScan(state, Order::kPrimary, false);
}
void BM_Quire_ScanSecondaryOrder(benchmark::State& state) {
  QuireScan(state, Order::kSecondary);
}
void BM_SQLite_ScanSecondaryOrder(benchmark::State& state) {
  SqliteScan(state, "SELECT * FROM rows ORDER BY name");
}

// ---- updates, deletes and re-inserts ----

// The rows a pass changes: the first kChangedRows of a shuffle.
std::vector<size_t> ChangedPositions() {
  auto positions = ShuffledPositions(kTableRows, 99);
  positions.resize(kChangedRows);
  return positions;
}

// Each pass moves the changed rows' ids past every id in use and gives them
// new names, in one transaction.
void BM_Quire_UpdateKeys(benchmark::State& state) {
  auto rows = BenchRows(kTableRows);
  const auto changed = ChangedPositions();
  const auto names = BenchRows(kChangedRows, 7);
  QuireRows table;
  table.Fill(rows);
  auto cursor = table.Open(false);
  std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
  int32_t shift = kTableRows;
  for (auto _ : state) {
    table.Directory()->StartTransaction();
    for (size_t k = 0; k < changed.size(); ++k) {
      BenchRow& row = rows[changed[k]];
      table.PutRow(*cursor, row, image.data());
      if (!cursor->SeekKey(false, image.data(), image.data(), 0, false, 1)) {
        state.SkipWithError("a row was not found");
        break;
      }
      row.id += shift;
      row.name = names[(k + static_cast<size_t>(shift)) % names.size()].name;
      table.PutRow(*cursor, row, image.data());
      cursor->ModifyRecord(image.data(), false, false);
    }
    table.Directory()->Commit(true);
    shift += kTableRows;
  }
  state.SetItemsProcessed(state.iterations() * kChangedRows);
}

void BM_SQLite_UpdateKeys(benchmark::State& state) {
  auto rows = BenchRows(kTableRows);
  const auto changed = ChangedPositions();
  const auto names = BenchRows(kChangedRows, 7);
  SqliteRows table(false);
  table.Fill(rows);
  SqliteStatement update(table, "UPDATE rows SET id = ?, name = ? WHERE id = ?");
  int32_t shift = kTableRows;
  for (auto _ : state) {
    table.Exec("BEGIN");
    for (size_t k = 0; k < changed.size(); ++k) {
      BenchRow& row = rows[changed[k]];
      const int32_t old_id = row.id;
      row.id += shift;
      row.name = names[(k + static_cast<size_t>(shift)) % names.size()].name;
      sqlite3_bind_int(update.get(), 1, row.id);
      sqlite3_bind_text(update.get(), 2, row.name.data(), static_cast<int>(row.name.size()),
                        SQLITE_STATIC);
      sqlite3_bind_int(update.get(), 3, old_id);
      update.Step();
      update.Reset();
    }
    table.Exec("COMMIT");
    shift += kTableRows;
  }
  state.SetItemsProcessed(state.iterations() * kChangedRows);
}

// Each pass deletes the changed rows by their ids and inserts them again,
// in one transaction.
void BM_Quire_DeleteReinsert(benchmark::State& state) {
  const auto rows = BenchRows(kTableRows);
  const auto changed = ChangedPositions();
  QuireRows table;
  table.Fill(rows);
  auto cursor = table.Open(false);
  std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
  for (auto _ : state) {
    table.Directory()->StartTransaction();
    for (const size_t i : changed) {
      table.PutRow(*cursor, rows[i], image.data());
      if (!cursor->SeekKey(false, image.data(), image.data(), 0, false, 1)) {
        state.SkipWithError("a row was not found");
        break;
      }
      cursor->DeleteRecord(image.data(), false);
    }
    for (const size_t i : changed) {
      table.PutRow(*cursor, rows[i], image.data());
      cursor->InsertRecord(image.data(), false);
    }
    table.Directory()->Commit(true);
  }
  state.SetItemsProcessed(state.iterations() * kChangedRows);
}

void BM_SQLite_DeleteReinsert(benchmark::State& state) {
  const auto rows = BenchRows(kTableRows);
  const auto changed = ChangedPositions();
  SqliteRows table(false);
  table.Fill(rows);
  SqliteStatement remove(table, "DELETE FROM rows WHERE id = ?");
  SqliteStatement insert(table, "INSERT INTO rows(id, name, value) VALUES(?, ?, ?)");
  for (auto _ : state) {
    table.Exec("BEGIN");
    for (const size_t i : changed) {
      sqlite3_bind_int(remove.get(), 1, rows[i].id);
      remove.Step();
      remove.Reset();
    }
    for (const size_t i : changed) {
      sqlite3_bind_int(insert.get(), 1, rows[i].id);
      sqlite3_bind_text(insert.get(), 2, rows[i].name.data(), static_cast<int>(rows[i].name.size()),
                        SQLITE_STATIC);
      sqlite3_bind_int(insert.get(), 3, rows[i].value);
      insert.Step();
      insert.Reset();
    }
    table.Exec("COMMIT");
  }
  state.SetItemsProcessed(state.iterations() * kChangedRows);
}

// ---- open to first record ----

void BM_Quire_OpenToFirstRecord(benchmark::State& state) {
  QuireRows table;
  table.Fill(BenchRows(kTableRows));
  for (auto _ : state) {
    auto cursor = table.Open(false);
    std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
    cursor->First();
    benchmark::DoNotOptimize(cursor->GetNextRecord(image.data()));
  }
}

void BM_SQLite_OpenToFirstRecord(benchmark::State& state) {
  SqliteRows table(false);
  table.Fill(BenchRows(kTableRows));
  for (auto _ : state) {
    table.Reopen();
    SqliteStatement select(table, "SELECT * FROM rows ORDER BY id LIMIT 1");
    benchmark::DoNotOptimize(select.Step());
  }
}

}  // namespace

// The million-row inserts run with the others; --benchmark_filter='/100000$'
// leaves them out.
BENCHMARK(BM_Quire_InsertInTransaction)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_InsertInTransaction)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quire_InsertExclusive)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_InsertExclusive)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quire_InsertPerRow)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_InsertPerRow)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quire_SeekPrimary)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_SeekPrimary)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quire_SeekSecondary)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_SeekSecondary)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quire_RangeScan)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_RangeScan)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quire_ScanNaturalOrder)->Apply(ScanSizes);
BENCHMARK(BM_SQLite_ScanNaturalOrder)->Apply(ScanSizes);
BENCHMARK(BM_Quire_ScanPrimaryOrder)->Apply(ScanSizes);
BENCHMARK(BM_SQLite_ScanPrimaryOrder)->Apply(ScanSizes);
BENCHMARK(BM_Quire_ScanPrimaryOrderRecordByRecord)->Arg(kTableRows)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quire_ScanSecondaryOrder)->Apply(ScanSizes);
BENCHMARK(BM_SQLite_ScanSecondaryOrder)->Apply(ScanSizes);
BENCHMARK(BM_Quire_UpdateKeys)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_UpdateKeys)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quire_DeleteReinsert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_DeleteReinsert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quire_OpenToFirstRecord)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SQLite_OpenToFirstRecord)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
