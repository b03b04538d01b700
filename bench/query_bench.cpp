// SQL statements through the query component against the same statements in
// SQLite, on the shared rows and a second table LINKS (RID = each row's id,
// GRP = its position mod 100, AMOUNT = its value mod 1000) indexed on RID.
// Quire is timed from Open to the last row fetched, SQLite from binding to
// the last sqlite3_step; both statements are prepared once. The point and
// range SELECTs run twice on our side: with a result table that takes a
// copy of the rows (live:0), and as a live result, the table's own cursor
// with the condition as its filter (live:1); SQLite runs the same statement
// for both. A result of a million rows, wider than the rows kept in memory,
// comes from every row joined with each of the ten rows of TEN.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_tables.h"
#include "engine/core/data_cursor.h"
#include "engine/core/data_directory.h"
#include "engine/dataset/quire_database.h"
#include "engine/dataset/quire_query.h"
#include "engine/dataset/session_list.h"
#include "platform/db/field.h"

namespace {

using jw::bench::BenchRow;
using jw::bench::BenchRows;
using jw::bench::QuireRows;
using jw::bench::SqliteRows;
using jw::bench::SqliteStatement;

constexpr int32_t kRowCount = 100000;
constexpr int32_t kTenth = kRowCount / 10;
constexpr int32_t kGroups = 100;
constexpr int32_t kPointSelects = 100;

struct Link {
  int32_t rid;
  int32_t grp;
  int32_t amount;
};

std::vector<Link> Links(const std::vector<BenchRow>& rows) {
  std::vector<Link> links;
  links.reserve(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    links.push_back({rows[i].id, static_cast<int32_t>(i % kGroups), rows[i].value % 1000});
  }
  return links;
}

constexpr const char* kCreateLinks =
    "CREATE TABLE LINKS (RID INTEGER, GRP INTEGER, AMOUNT INTEGER)";
constexpr const char* kIndexLinks = "CREATE INDEX ByRid ON LINKS (RID)";
constexpr const char* kCreateTen = "CREATE TABLE TEN (N INTEGER)";
constexpr int32_t kTen = 10;

// The rows (and LINKS) in Quire, reached through a database component on
// the rows' folder.
class QuireQueries {
 public:
  explicit QuireQueries(bool with_links) {
    const auto rows = BenchRows(kRowCount);
    rows_.Fill(rows);
    jw::InitQuireSessions();
    database_ = new jw::TQuireDatabase(&form_);
    database_->SetDatabaseName("BENCH");
    database_->SetDirectory(rows_.Directory()->Path());
    database_->SetConnected(true);
    if (with_links) CreateLinks(rows);
  }
  ~QuireQueries() {
    form_.DestroyComponents();
    jw::DoneQuireSessions();
  }

  jw::TQuireQuery& Query(const std::string& text, bool live = false) {
    auto* query = new jw::TQuireQuery(&form_);
    query->SetDatabaseName("BENCH");
    query->SetRequestLive(live);
    jw::TStringList lines;
    lines.SetText(text);
    query->SetSQL(lines);
    return *query;
  }

  // A query prepared once, as SQLite's statements are, to be run many times:
  // a query prepared while closed keeps its statement across Close.
  jw::TQuireQuery& Statement(const std::string& text, bool live = false) {
    jw::TQuireQuery& query = Query(text, live);
    query.SetPrepared(true);
    return query;
  }

  // Opens the query and reads the field of every row; the sum of its
  // values.
  static int64_t Fetch(jw::TQuireQuery& query, const char* field_name) {
    query.Open();
    const jw::TField* field = query.FieldByName(field_name);
    int64_t sum = 0;
    for (; !query.Eof(); query.Next()) sum += field->AsInteger();
    query.Close();
    return sum;
  }

  QuireRows& Rows() { return rows_; }

  void CreateTen() {
    Query(kCreateTen).Open();
    for (int32_t n = 1; n <= kTen; ++n) {
      Query("INSERT INTO TEN VALUES (" + std::to_string(n) + ")").Open();
    }
  }

 private:
  void CreateLinks(const std::vector<BenchRow>& rows) {
    Query(kCreateLinks).Open();
    Query(kIndexLinks).Open();
    jw::TDataDirectory& directory = *database_->EngineDirectory();
    jw::TDataCursor cursor(&directory);
    cursor.SetTableName("LINKS");
    cursor.Open();
    std::vector<uint8_t> image(static_cast<size_t>(cursor.GetRecordSize()));
    directory.StartTransaction();
    for (const Link& link : Links(rows)) {
      cursor.ClearRecord(image.data());
      cursor.SetFieldData(1, image.data(), false, &link.rid);
      cursor.SetFieldData(2, image.data(), false, &link.grp);
      cursor.SetFieldData(3, image.data(), false, &link.amount);
      cursor.InsertRecord(image.data(), false);
    }
    directory.Commit(true);
    cursor.Close(false);
  }

  QuireRows rows_;
  jw::TComponent form_{nullptr};
  jw::TQuireDatabase* database_ = nullptr;
};

class SqliteQueries {
 public:
  explicit SqliteQueries(bool with_links) : rows_(false) {
    const auto rows = BenchRows(kRowCount);
    rows_.Fill(rows);
    if (!with_links) return;
    rows_.Exec(kCreateLinks);
    rows_.Exec(kIndexLinks);
    rows_.Exec("BEGIN");
    SqliteStatement insert(rows_, "INSERT INTO LINKS VALUES (?, ?, ?)");
    for (const Link& link : Links(rows)) {
      sqlite3_bind_int(insert.get(), 1, link.rid);
      sqlite3_bind_int(insert.get(), 2, link.grp);
      sqlite3_bind_int(insert.get(), 3, link.amount);
      insert.Step();
      insert.Reset();
    }
    rows_.Exec("COMMIT");
  }

  // Steps the statement to its end; the sum of the column's values.
  static int64_t Fetch(SqliteStatement& statement, int column) {
    int64_t sum = 0;
    while (statement.Step()) sum += sqlite3_column_int(statement.get(), column);
    statement.Reset();
    return sum;
  }

  SqliteRows& Rows() { return rows_; }

  void CreateTen() {
    rows_.Exec(kCreateTen);
    for (int32_t n = 1; n <= kTen; ++n) {
      rows_.Exec(("INSERT INTO TEN VALUES (" + std::to_string(n) + ")").c_str());
    }
  }

 private:
  SqliteRows rows_;
};

// The ids of the point selects, spread over the table.
std::vector<int32_t> PointIds() {
  const auto positions = jw::bench::ShuffledPositions(kRowCount);
  std::vector<int32_t> ids;
  for (int32_t i = 0; i < kPointSelects; ++i) ids.push_back(static_cast<int32_t>(positions[i]) + 1);
  return ids;
}

void BM_Quire_PointSelect(benchmark::State& state) {
  QuireQueries tables(false);
  jw::TQuireQuery& query =
      tables.Statement("SELECT * FROM ROWS WHERE ID = :id", state.range(0) != 0);
  const auto ids = PointIds();
  for (auto _ : state) {
    int64_t sum = 0;
    for (const int32_t id : ids) {
      query.Params().ParamByName("id")->SetAsInteger(id);
      sum += QuireQueries::Fetch(query, "VALUE");
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kPointSelects);
}

void BM_SQLite_PointSelect(benchmark::State& state) {
  SqliteQueries tables(false);
  SqliteStatement select(tables.Rows(), "SELECT * FROM rows WHERE id = ?");
  const auto ids = PointIds();
  for (auto _ : state) {
    int64_t sum = 0;
    for (const int32_t id : ids) {
      sqlite3_bind_int(select.get(), 1, id);
      sum += SqliteQueries::Fetch(select, 2);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kPointSelects);
}

// A tenth of the rows by a key range.
void BM_Quire_RangeSelect(benchmark::State& state) {
  QuireQueries tables(false);
  jw::TQuireQuery& query =
      tables.Statement("SELECT * FROM ROWS WHERE ID >= :lo AND ID < :hi", state.range(0) != 0);
  query.Params().ParamByName("lo")->SetAsInteger(kRowCount / 2);
  query.Params().ParamByName("hi")->SetAsInteger(kRowCount / 2 + kTenth);
  for (auto _ : state) benchmark::DoNotOptimize(QuireQueries::Fetch(query, "VALUE"));
  state.SetItemsProcessed(state.iterations() * kTenth);
}

void BM_SQLite_RangeSelect(benchmark::State& state) {
  SqliteQueries tables(false);
  SqliteStatement select(tables.Rows(), "SELECT * FROM rows WHERE id >= ? AND id < ?");
  for (auto _ : state) {
    sqlite3_bind_int(select.get(), 1, kRowCount / 2);
    sqlite3_bind_int(select.get(), 2, kRowCount / 2 + kTenth);
    benchmark::DoNotOptimize(SqliteQueries::Fetch(select, 2));
  }
  state.SetItemsProcessed(state.iterations() * kTenth);
}

// A tenth of LINKS by its indexed key, each joined to its row by the
// primary key.
constexpr const char* kJoin =
    "SELECT R.NAME, L.AMOUNT FROM LINKS L JOIN ROWS R ON R.ID = L.RID WHERE L.RID <= :hi";

void BM_Quire_JoinOnIndexedKey(benchmark::State& state) {
  QuireQueries tables(true);
  jw::TQuireQuery& query = tables.Statement(kJoin);
  query.Params().ParamByName("hi")->SetAsInteger(kTenth);
  for (auto _ : state) benchmark::DoNotOptimize(QuireQueries::Fetch(query, "AMOUNT"));
  state.SetItemsProcessed(state.iterations() * kTenth);
}

void BM_SQLite_JoinOnIndexedKey(benchmark::State& state) {
  SqliteQueries tables(true);
  SqliteStatement select(tables.Rows(),
                         "SELECT R.NAME, L.AMOUNT FROM LINKS L JOIN rows R ON R.id = L.RID "
                         "WHERE L.RID <= ?");
  for (auto _ : state) {
    sqlite3_bind_int(select.get(), 1, kTenth);
    benchmark::DoNotOptimize(SqliteQueries::Fetch(select, 1));
  }
  state.SetItemsProcessed(state.iterations() * kTenth);
}

constexpr const char* kGroupBy =
    "SELECT GRP, COUNT(*), SUM(AMOUNT), AVG(AMOUNT) FROM LINKS GROUP BY GRP";

void BM_Quire_GroupByAggregates(benchmark::State& state) {
  QuireQueries tables(true);
  jw::TQuireQuery& query = tables.Statement(kGroupBy);
  for (auto _ : state) benchmark::DoNotOptimize(QuireQueries::Fetch(query, "GRP"));
  state.SetItemsProcessed(state.iterations() * kRowCount);
}

void BM_SQLite_GroupByAggregates(benchmark::State& state) {
  SqliteQueries tables(true);
  SqliteStatement select(tables.Rows(), kGroupBy);
  for (auto _ : state) benchmark::DoNotOptimize(SqliteQueries::Fetch(select, 0));
  state.SetItemsProcessed(state.iterations() * kRowCount);
}

void BM_Quire_OrderByUnindexed(benchmark::State& state) {
  QuireQueries tables(false);
  jw::TQuireQuery& query = tables.Statement("SELECT * FROM ROWS ORDER BY VALUE");
  for (auto _ : state) benchmark::DoNotOptimize(QuireQueries::Fetch(query, "VALUE"));
  state.SetItemsProcessed(state.iterations() * kRowCount);
}

void BM_SQLite_OrderByUnindexed(benchmark::State& state) {
  SqliteQueries tables(false);
  SqliteStatement select(tables.Rows(), "SELECT * FROM rows ORDER BY value");
  for (auto _ : state) benchmark::DoNotOptimize(SqliteQueries::Fetch(select, 2));
  state.SetItemsProcessed(state.iterations() * kRowCount);
}

// Every row with each of TEN's: a million result rows of about 100 bytes.
constexpr const char* kMillionRows =
    "SELECT R.ID, R.NAME, R.VALUE, R.NAME AS NAME2, T.N FROM ROWS R, TEN T";

void BM_Quire_MillionRowResult(benchmark::State& state) {
  QuireQueries tables(false);
  tables.CreateTen();
  jw::TQuireQuery& query = tables.Statement(kMillionRows);
  for (auto _ : state) benchmark::DoNotOptimize(QuireQueries::Fetch(query, "VALUE"));
  state.SetItemsProcessed(state.iterations() * kRowCount * kTen);
}

void BM_SQLite_MillionRowResult(benchmark::State& state) {
  SqliteQueries tables(false);
  tables.CreateTen();
  SqliteStatement select(tables.Rows(), kMillionRows);
  for (auto _ : state) benchmark::DoNotOptimize(SqliteQueries::Fetch(select, 2));
  state.SetItemsProcessed(state.iterations() * kRowCount * kTen);
}

// A tenth of the rows changed; the value alternates so that every pass
// changes every row it reaches.
void BM_Quire_UpdateTenth(benchmark::State& state) {
  QuireQueries tables(false);
  jw::TQuireQuery& query = tables.Statement("UPDATE ROWS SET VALUE = :v WHERE ID <= :hi");
  query.Params().ParamByName("hi")->SetAsInteger(kTenth);
  int32_t pass = 0;
  for (auto _ : state) {
    query.Params().ParamByName("v")->SetAsInteger(++pass);
    query.Open();
    if (query.RowsAffected() != kTenth) state.SkipWithError("rows affected");
  }
  state.SetItemsProcessed(state.iterations() * kTenth);
}

void BM_SQLite_UpdateTenth(benchmark::State& state) {
  SqliteQueries tables(false);
  SqliteStatement update(tables.Rows(), "UPDATE rows SET value = ? WHERE id <= ?");
  int32_t pass = 0;
  for (auto _ : state) {
    sqlite3_bind_int(update.get(), 1, ++pass);
    sqlite3_bind_int(update.get(), 2, kTenth);
    update.Step();
    update.Reset();
    if (sqlite3_changes(tables.Rows().Db()) != kTenth) state.SkipWithError("rows affected");
  }
  state.SetItemsProcessed(state.iterations() * kTenth);
}

// The rows a tenth's delete removes, put back outside the timing.
std::vector<BenchRow> FirstTenth() {
  std::vector<BenchRow> tenth;
  for (const BenchRow& row : BenchRows(kRowCount)) {
    if (row.id <= kTenth) tenth.push_back(row);
  }
  return tenth;
}

void BM_Quire_DeleteTenth(benchmark::State& state) {
  QuireQueries tables(false);
  jw::TQuireQuery& query = tables.Statement("DELETE FROM ROWS WHERE ID <= :hi");
  query.Params().ParamByName("hi")->SetAsInteger(kTenth);
  const auto tenth = FirstTenth();
  for (auto _ : state) {
    query.Open();
    if (query.RowsAffected() != kTenth) state.SkipWithError("rows affected");
    state.PauseTiming();
    auto cursor = tables.Rows().Open(false);
    tables.Rows().Insert(*cursor, tenth, true);
    cursor->Close(false);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kTenth);
}

void BM_SQLite_DeleteTenth(benchmark::State& state) {
  SqliteQueries tables(false);
  SqliteStatement remove(tables.Rows(), "DELETE FROM rows WHERE id <= ?");
  const auto tenth = FirstTenth();
  for (auto _ : state) {
    sqlite3_bind_int(remove.get(), 1, kTenth);
    remove.Step();
    remove.Reset();
    if (sqlite3_changes(tables.Rows().Db()) != kTenth) state.SkipWithError("rows affected");
    state.PauseTiming();
    tables.Rows().Insert(tenth, true);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kTenth);
}

}  // namespace

BENCHMARK(BM_Quire_PointSelect)->ArgName("live")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_PointSelect)->ArgName("live")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quire_RangeSelect)->ArgName("live")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_RangeSelect)->ArgName("live")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quire_JoinOnIndexedKey)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_JoinOnIndexedKey)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quire_GroupByAggregates)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_GroupByAggregates)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quire_OrderByUnindexed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_OrderByUnindexed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quire_MillionRowResult)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_MillionRowResult)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quire_UpdateTenth)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_UpdateTenth)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quire_DeleteTenth)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_DeleteTenth)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
