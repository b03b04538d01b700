// Sorting the rows by their integer column: Quire rewrites the records of a
// table without indexes in that order; SQLite copies them into a new table
// in that order.
#include <benchmark/benchmark.h>

#include "bench/bench_tables.h"

namespace {

using jw::bench::BenchRows;
using jw::bench::QuireRows;
using jw::bench::SqliteRows;

void BM_Quire_SortByValue(benchmark::State& state) {
  const auto rows = BenchRows(static_cast<int32_t>(state.range(0)));
  QuireRows table(false, false);
  jw::TSortRequest request;
  request.Fields.emplace_back();
  request.Fields.back().Number = jw::bench::kValueField;
  for (auto _ : state) {
    state.PauseTiming();
    table.Fill(rows);
    auto cursor = table.Open(true);
    state.ResumeTiming();
    cursor->SortRecords(request);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_SQLite_SortByValue(benchmark::State& state) {
  const auto rows = BenchRows(static_cast<int32_t>(state.range(0)));
  SqliteRows table(true);
  table.Fill(rows);
  for (auto _ : state) {
    state.PauseTiming();
    table.Exec("DROP TABLE IF EXISTS sorted");
    state.ResumeTiming();
    table.Exec("CREATE TABLE sorted AS SELECT * FROM rows ORDER BY value");
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_Quire_SortByValue)->Arg(300000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_SortByValue)->Arg(300000)->Arg(1000000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
