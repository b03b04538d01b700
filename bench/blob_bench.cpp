// BLOBs of 1 KB, 64 KB and 1 MB written with new rows in one transaction
// and read back through a primary-key scan, against the same work in
// SQLite. Each pass moves 8 MB of BLOB data whatever the size. A Quire
// commit syncs its files even with the buffer flush off, so SQLite's
// transaction commits with synchronous=FULL: both end on the disk.
#include <benchmark/benchmark.h>

#include <cstring>
#include <numeric>
#include <vector>

#include "bench/bench_tables.h"

namespace {

using jw::TDataCursor;
using jw::bench::BenchRow;
using jw::bench::BenchRows;
using jw::bench::kBlobField;
using jw::bench::QuireRows;
using jw::bench::SqliteRows;
using jw::bench::SqliteStatement;

constexpr int64_t kPassBytes = 8 << 20;

int32_t BlobBytes(const benchmark::State& state) {
  return static_cast<int32_t>(state.range(0));
}

int32_t RowCount(const benchmark::State& state) {
  return static_cast<int32_t>(kPassBytes / BlobBytes(state));
}

// The BLOB of a row: bytes that differ from row to row.
std::vector<uint8_t> BlobOf(int32_t bytes, int32_t id) {
  std::vector<uint8_t> blob(static_cast<size_t>(bytes));
  std::iota(blob.begin(), blob.end(), static_cast<uint8_t>(id));
  return blob;
}

void Raise(int32_t code) {
  if (code != 0) jw::RaiseEngineError(static_cast<jw::EngineErrorCode>(code), "ROWS");
}

void QuireWrite(QuireRows& table, TDataCursor& cursor, const std::vector<BenchRow>& rows,
                const std::vector<uint8_t>& blob) {
  std::vector<uint8_t> image(static_cast<size_t>(cursor.GetRecordSize()));
  table.Directory()->StartTransaction();
  for (const BenchRow& row : rows) {
    table.PutRow(cursor, row, image.data());
    Raise(cursor.OpenBlob(kBlobField, image.data(), 1, false, 2));
    Raise(cursor.WriteBlob(kBlobField, image.data(), false, static_cast<int32_t>(blob.size()),
                           blob.data(), 0));
    cursor.InsertRecord(image.data(), false);
  }
  table.Directory()->Commit(true);
}

void SqliteWrite(SqliteRows& table, const std::vector<BenchRow>& rows,
                 const std::vector<uint8_t>& blob) {
  SqliteStatement insert(table, "INSERT INTO rows(id, name, value, data) VALUES(?, ?, ?, ?)");
  table.Exec("BEGIN");
  for (const BenchRow& row : rows) {
    sqlite3_bind_int(insert.get(), 1, row.id);
    sqlite3_bind_text(insert.get(), 2, row.name.data(), static_cast<int>(row.name.size()),
                      SQLITE_STATIC);
    sqlite3_bind_int(insert.get(), 3, row.value);
    sqlite3_bind_blob(insert.get(), 4, blob.data(), static_cast<int>(blob.size()), SQLITE_STATIC);
    insert.Step();
    insert.Reset();
  }
  table.Exec("COMMIT");
}

void BM_Quire_BlobWrite(benchmark::State& state) {
  const auto rows = BenchRows(RowCount(state));
  const auto blob = BlobOf(BlobBytes(state), 1);
  for (auto _ : state) {
    state.PauseTiming();
    QuireRows table(true);
    auto cursor = table.Open(false);
    state.ResumeTiming();
    QuireWrite(table, *cursor, rows, blob);
  }
  state.SetBytesProcessed(state.iterations() * kPassBytes);
}

void BM_SQLite_BlobWrite(benchmark::State& state) {
  const auto rows = BenchRows(RowCount(state));
  const auto blob = BlobOf(BlobBytes(state), 1);
  for (auto _ : state) {
    state.PauseTiming();
    SqliteRows table(false, true);
    table.Exec("PRAGMA synchronous=FULL");
    state.ResumeTiming();
    SqliteWrite(table, rows, blob);
  }
  state.SetBytesProcessed(state.iterations() * kPassBytes);
}

// Every BLOB read whole, in primary-key order, under the statement lock,
// each pass by the same open cursor.
void BM_Quire_BlobRead(benchmark::State& state) {
  const auto rows = BenchRows(RowCount(state));
  const auto blob = BlobOf(BlobBytes(state), 1);
  QuireRows table(true);
  {
    auto cursor = table.Open(false);
    QuireWrite(table, *cursor, rows, blob);
  }
  std::vector<uint8_t> out(blob.size());
  auto cursor = table.Open(false);
  std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
  for (auto _ : state) {
    int64_t bytes = 0;
    cursor->LockForRead();
    cursor->First();
    while (cursor->GetNextRecord(image.data()) == 0) {
      int32_t read = 0;
      Raise(cursor->OpenBlob(kBlobField, image.data(), 1, false, 1));
      Raise(cursor->ReadBlob(kBlobField, image.data(), false, read,
                             static_cast<int32_t>(out.size()), out.data(), 0));
      Raise(cursor->CloseBlob(kBlobField, image.data(), 1, false));
      bytes += read;
    }
    cursor->UnlockForRead();
    if (bytes != kPassBytes || out != blob) state.SkipWithError("a BLOB read back wrong");
  }
  state.SetBytesProcessed(state.iterations() * kPassBytes);
}

void BM_SQLite_BlobRead(benchmark::State& state) {
  const auto rows = BenchRows(RowCount(state));
  const auto blob = BlobOf(BlobBytes(state), 1);
  SqliteRows table(false, true);
  SqliteWrite(table, rows, blob);
  std::vector<uint8_t> out(blob.size());
  for (auto _ : state) {
    SqliteStatement select(table, "SELECT data FROM rows ORDER BY id");
    int64_t bytes = 0;
    while (select.Step()) {
      const int size = sqlite3_column_bytes(select.get(), 0);
      std::memcpy(out.data(), sqlite3_column_blob(select.get(), 0), static_cast<size_t>(size));
      bytes += size;
    }
    if (bytes != kPassBytes || out != blob) state.SkipWithError("a BLOB read back wrong");
  }
  state.SetBytesProcessed(state.iterations() * kPassBytes);
}

}  // namespace

BENCHMARK(BM_Quire_BlobWrite)->Arg(1 << 10)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_BlobWrite)->Arg(1 << 10)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quire_BlobRead)->Arg(1 << 10)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_BlobRead)->Arg(1 << 10)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
