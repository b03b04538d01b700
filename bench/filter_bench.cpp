// Cursor filters against SQLite on the shared rows: each step adds a
// filter, activates it, takes the filtered record count and drops the
// filter again, beside SQLite preparing and counting the same WHERE.
// Equality and range filters on the indexed id and name, and on the
// unindexed value, which are read record by record; equality on the name
// ignoring case, answered on both sides by an index whose keys ignore case
// (SQLite's COLLATE NOCASE). The records a filter read come from the
// cursor's own counter ("reads" per step): an indexed filter that reads
// any fails its run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_tables.h"
#include "engine/core/filter.h"

namespace {

using jw::bench::BenchRow;
using jw::bench::QuireRows;
using jw::bench::SqliteRows;
using jw::bench::SqliteStatement;

constexpr int32_t kRows = 100000;

// One filter: its WHERE text (the same in both dialects), whether an index
// answers it without reading a record, how many rows pass and whether its
// string comparison ignores case (Quire's filter option, SQLite's COLLATE
// NOCASE after the text).
struct TFilterCase {
  std::string Where;
  bool Indexed = false;
  int32_t Rows = 0;
  bool CaseInsensitive = false;
};

// The index on the name whose keys ignore case, in both tables.
constexpr const char* kNameNoCaseIndex = "ByNameNoCase";

const std::vector<BenchRow>& Rows() {
  static const std::vector<BenchRow> rows = jw::bench::BenchRows(kRows);
  return rows;
}

template <class Pass>
TFilterCase Case(std::string where, bool indexed, Pass pass) {
  const auto& rows = Rows();
  const auto passing = std::count_if(rows.begin(), rows.end(), pass);
  return {std::move(where), indexed, static_cast<int32_t>(passing)};
}

TFilterCase IdEquality() {
  return Case("ID = 4242", true, [](const BenchRow& row) { return row.id == 4242; });
}
TFilterCase IdRange() {
  return Case("ID <= 10000", true, [](const BenchRow& row) { return row.id <= 10000; });
}
TFilterCase NameEquality() {
  const std::string name = Rows()[777].name;
  return Case("NAME = '" + name + "'", true, [&](const BenchRow& row) { return row.name == name; });
}
char Upper(char c) {
  return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}
// The letters of the rows' names are lower case: the constant in upper case
// finds the same rows only when case is ignored.
TFilterCase NameEqualityIgnoringCase() {
  std::string name = Rows()[777].name;
  std::transform(name.begin(), name.end(), name.begin(), Upper);
  TFilterCase filter = Case("NAME = '" + name + "'", true, [&](const BenchRow& row) {
    return std::equal(row.name.begin(), row.name.end(), name.begin(), name.end(),
                      [](char a, char b) { return Upper(a) == Upper(b); });
  });
  filter.CaseInsensitive = true;
  return filter;
}
TFilterCase ValueEquality() {
  const int32_t value = Rows()[777].value;
  return Case("VALUE = " + std::to_string(value), false,
              [&](const BenchRow& row) { return row.value == value; });
}
// About a tenth of the rows: values are spread over 0 .. 2^31 - 1.
TFilterCase ValueRange() {
  return Case("VALUE < 214748364", false,
              [](const BenchRow& row) { return row.value < 214748364; });
}

// The rows in a Quire table with one shared cursor in primary-key order.
class QuireFilterTable {
 public:
  QuireFilterTable() {
    table_.Fill(Rows());
    jw::IndexDescriptor no_case;
    no_case.Name = kNameNoCaseIndex;
    no_case.SegmentCount = 1;
    no_case.FieldNumbers[0] = jw::bench::kNameField;
    no_case.CaseInsensitive = 1;
    table_.Open(true)->AddIndex(no_case);
    cursor_ = table_.Open(false);
  }

  // The filtered count of the filter; reads gets the records it read.
  int32_t Count(const TFilterCase& filter_case, int64_t& reads) {
    jw::TCursorFilterOptions options;
    options.CaseInsensitive = filter_case.CaseInsensitive;
    jw::TFilter* filter =
        cursor_->AddFilter(filter_case.Where.c_str(), nullptr, nullptr, nullptr, options);
    const int64_t before = cursor_->FilterRecordReads();
    cursor_->ActivateFilter(filter);
    const int32_t count = cursor_->GetRecordCount();
    reads = cursor_->FilterRecordReads() - before;
    cursor_->DropFilter(filter);
    return count;
  }

 private:
  QuireRows table_;
  std::unique_ptr<jw::TDataCursor> cursor_;
};

QuireFilterTable& SharedQuireTable() {
  static QuireFilterTable table;
  return table;
}

// The rows in SQLite, with the same indexes: the id is the row id.
struct SqliteFilterTable {
  SqliteFilterTable() {
    Table.Fill(Rows());
    Table.Exec((std::string("CREATE INDEX ") + kNameNoCaseIndex + " ON rows(name COLLATE NOCASE)")
                   .c_str());
  }
  SqliteRows Table{false};
};

SqliteRows& SharedSqliteTable() {
  static SqliteFilterTable table;
  return table.Table;
}

void QuireFilter(benchmark::State& state, const TFilterCase& filter) {
  QuireFilterTable& table = SharedQuireTable();
  int64_t reads = 0;
  for (auto _ : state) {
    if (table.Count(filter, reads) != filter.Rows) {
      state.SkipWithError("wrong filtered count");
      return;
    }
  }
  if (filter.Indexed && reads != 0) state.SkipWithError("an indexed filter read records");
  state.counters["reads"] = static_cast<double>(reads);
  state.counters["rows"] = filter.Rows;
}

void SqliteFilter(benchmark::State& state, const TFilterCase& filter) {
  SqliteRows& table = SharedSqliteTable();
  const std::string sql = "SELECT count(*) FROM rows WHERE " + filter.Where +
                          (filter.CaseInsensitive ? " COLLATE NOCASE" : "");
  for (auto _ : state) {
    SqliteStatement count(table, sql.c_str());
    if (!count.Step() || sqlite3_column_int(count.get(), 0) != filter.Rows) {
      state.SkipWithError("wrong count");
      return;
    }
  }
  state.counters["rows"] = filter.Rows;
}

void BM_Quire_FilterIdEquality(benchmark::State& state) {
  QuireFilter(state, IdEquality());
}
void BM_SQLite_FilterIdEquality(benchmark::State& state) {
  SqliteFilter(state, IdEquality());
}
void BM_Quire_FilterNameEquality(benchmark::State& state) {
  QuireFilter(state, NameEquality());
}
void BM_SQLite_FilterNameEquality(benchmark::State& state) {
  SqliteFilter(state, NameEquality());
}
void BM_Quire_FilterNameEqualityIgnoringCase(benchmark::State& state) {
  QuireFilter(state, NameEqualityIgnoringCase());
}
void BM_SQLite_FilterNameEqualityIgnoringCase(benchmark::State& state) {
  SqliteFilter(state, NameEqualityIgnoringCase());
}
void BM_Quire_FilterIdRange(benchmark::State& state) {
  QuireFilter(state, IdRange());
}
void BM_SQLite_FilterIdRange(benchmark::State& state) {
  SqliteFilter(state, IdRange());
}
void BM_Quire_FilterUnindexedEquality(benchmark::State& state) {
  QuireFilter(state, ValueEquality());
}
void BM_SQLite_FilterUnindexedEquality(benchmark::State& state) {
  SqliteFilter(state, ValueEquality());
}
void BM_Quire_FilterUnindexedRange(benchmark::State& state) {
  QuireFilter(state, ValueRange());
}
void BM_SQLite_FilterUnindexedRange(benchmark::State& state) {
  SqliteFilter(state, ValueRange());
}

}  // namespace

BENCHMARK(BM_Quire_FilterIdEquality)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SQLite_FilterIdEquality)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Quire_FilterNameEquality)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SQLite_FilterNameEquality)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Quire_FilterNameEqualityIgnoringCase)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SQLite_FilterNameEqualityIgnoringCase)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Quire_FilterIdRange)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SQLite_FilterIdRange)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Quire_FilterUnindexedEquality)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_FilterUnindexedEquality)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quire_FilterUnindexedRange)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_FilterUnindexedRange)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
