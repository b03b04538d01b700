// Writing and reading the rows through a cursor against the same work in
// SQLite: inserts, full scans in natural, primary-key and secondary order.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/bench_tables.h"

namespace {

using jw::bench::BenchRow;
using jw::bench::BenchRows;
using jw::bench::QuireRows;
using jw::bench::SqliteRows;
using jw::bench::SqliteStatement;

// Every row inserted in one transaction into a new table.
void BM_Quire_InsertInTransaction(benchmark::State& state) {
  const auto rows = BenchRows(static_cast<int32_t>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    QuireRows table;
    auto cursor = table.Open(false);
    state.ResumeTiming();
    table.Insert(*cursor, rows, true);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_SQLite_InsertInTransaction(benchmark::State& state) {
  const auto rows = BenchRows(static_cast<int32_t>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    SqliteRows table(false);
    state.ResumeTiming();
    table.Insert(rows, true);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Sums the value column over a full scan of the cursor.
int64_t ScanValues(jw::TDataCursor& cursor) {
  std::vector<uint8_t> image(static_cast<size_t>(cursor.GetRecordSize()));
  int64_t sum = 0;
  cursor.First();
  while (cursor.GetNextRecord(image.data()) == 0) {
    bool null = false;
    int32_t value = 0;
    cursor.GetFieldData(jw::bench::kValueField, image.data(), null, &value);
    sum += value;
  }
  return sum;
}

// A full scan by a cursor opened for each pass, in natural order, by the
// primary key or by the secondary index.
enum class Order { kNatural, kPrimary, kSecondary };

void QuireScan(benchmark::State& state, Order order) {
  const auto rows = BenchRows(static_cast<int32_t>(state.range(0)));
  QuireRows table;
  table.Fill(rows);
  for (auto _ : state) {
    auto cursor = table.Open(false, order == Order::kNatural);
    if (order == Order::kSecondary) cursor->SetIndexByName(jw::bench::kNameIndex);
    benchmark::DoNotOptimize(ScanValues(*cursor));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void SqliteScan(benchmark::State& state, const char* sql) {
  const auto rows = BenchRows(static_cast<int32_t>(state.range(0)));
  SqliteRows table(false);
  table.Fill(rows);
  for (auto _ : state) {
    SqliteStatement select(table, sql);
    int64_t sum = 0;
    while (select.Step()) sum += sqlite3_column_int(select.get(), 2);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
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
void BM_Quire_ScanSecondaryOrder(benchmark::State& state) {
  QuireScan(state, Order::kSecondary);
}
void BM_SQLite_ScanSecondaryOrder(benchmark::State& state) {
  SqliteScan(state, "SELECT * FROM rows ORDER BY name");
}

}  // namespace

BENCHMARK(BM_Quire_InsertInTransaction)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_InsertInTransaction)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quire_ScanNaturalOrder)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_ScanNaturalOrder)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quire_ScanPrimaryOrder)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_ScanPrimaryOrder)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quire_ScanSecondaryOrder)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_ScanSecondaryOrder)->Arg(100000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
