// A reader beside a writer in another process (sql_writer, started with
// exec) that moves index keys, inserts and deletes rows in statements of
// their own. Each statement the reader runs, and each count and sum it
// takes through a cursor filter on the ascending grp index or the
// descending bal index under one statement read lock, must answer with a
// state the writer commits, and nothing may report corruption. 3 seconds,
// 120 with JW_LONG_TESTS=1.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <random>
#include <set>
#include <string>

#include "engine/core/data_cursor.h"
#include "engine/sql/query_statement.h"
#include "tests/engine/sql/select_oracle.h"
#include "tests/engine/sql/sql_test_util.h"
#include "tests/support/piped_child.h"

namespace jw {
namespace {

using test_support::Column;

// The committed states: kRows rows with bal 1 .. kRows once each, and
// none, one or 31 and one rows with bal 0 besides; grp is never negative.
// The writer's statements know the same numbers.
constexpr int kRows = 300;
const std::set<std::string> kCounts = {std::to_string(kRows), std::to_string(kRows + 1),
                                       std::to_string(kRows + 31), std::to_string(kRows + 32)};
const std::string kSum = std::to_string(kRows * (kRows + 1) / 2);
// Of 1 .. kRows, the values up to half and those above.
constexpr int kHalf = kRows / 2;
const std::string kLowSum = std::to_string(kHalf * (kHalf + 1) / 2);
const std::string kHighSum = std::to_string(kRows * (kRows + 1) / 2 - kHalf * (kHalf + 1) / 2);

IndexDescriptor SecondaryIndex(const std::string& name, int16_t field, bool descending) {
  IndexDescriptor index;
  index.Name = name;
  index.SegmentCount = 1;
  index.FieldNumbers[0] = field;
  index.Descending = descending ? 1 : 0;
  return index;
}

class SharedReadSoak : public ::testing::Test {
 protected:
  SharedReadSoak() : database_(folder_.Path()) {
    TTableDefinition definition;
    definition.Fields = {Column("id", kFldInteger), Column("grp", kFldSmallInt),
                         Column("bal", kFldInteger)};
    IndexDescriptor primary;
    primary.SegmentCount = 1;
    primary.FieldNumbers[0] = 1;
    definition.Indexes = {primary, SecondaryIndex("ByGrp", 2, false),
                          SecondaryIndex("ByBal", 3, true)};
    TDataTable* table = nullptr;
    if (const int32_t result =
            database_.directory->CreateTable("acc", definition, false, false, table)) {
      RaiseEngineError(static_cast<EngineErrorCode>(-result), "acc");
    }
    table->WriteBack(false, true, false, true, true);
    database_.directory->CloseTable(table, false);
    TDataCursor cursor(database_.directory);
    cursor.SetTableName("acc");
    cursor.Open();
    std::vector<uint8_t> image(static_cast<size_t>(cursor.GetRecordSize()));
    database_.directory->StartTransaction();
    for (int32_t id = 1; id <= kRows; ++id) {
      const auto group = static_cast<int16_t>(id % 50);
      cursor.InitRecord(image.data());
      cursor.SetFieldData(1, image.data(), false, &id);
      cursor.SetFieldData(2, image.data(), false, &group);
      cursor.SetFieldData(3, image.data(), false, &id);
      cursor.InsertRecord(image.data(), false);
    }
    database_.directory->Commit(true);
    cursor.Close(false);
  }

  test_support::TextRows Run(const std::string& text) {
    TQueryStatement statement(database_.session, *database_.directory);
    int32_t consumed = 0;
    statement.Prepare(text.c_str(), consumed);
    statement.Execute();
    TDataCursor* result = statement.ResultCursor();
    return result == nullptr ? test_support::TextRows() : test_support::CursorRows(*result);
  }

  test_support::TempFolder folder_;
  test_support::StatementDatabase database_;
};

// Counts the records a filter lets through and sums their bal, all under
// one statement read lock, as a statement reads.
std::pair<std::string, std::string> FilteredCountAndSum(TDataCursor& cursor, TFilter* filter) {
  cursor.LockForRead();
  std::vector<uint8_t> image(static_cast<size_t>(cursor.GetRecordSize()));
  int32_t walked = 0;
  int64_t sum = 0;
  int32_t count = 0;
  try {
    cursor.ActivateFilter(filter);
    count = cursor.GetRecordCount();
    cursor.First();
    while (cursor.GetNextRecord(image.data()) == 0) {
      bool null = false;
      int32_t bal = 0;
      cursor.GetFieldData(3, image.data(), null, &bal);
      sum += bal;
      ++walked;
    }
    cursor.DeactivateFilter(filter);
  } catch (...) {
    cursor.UnlockForRead();
    throw;
  }
  cursor.UnlockForRead();
  EXPECT_EQ(count, walked) << "the filtered count and the walk disagree";
  return {std::to_string(walked), std::to_string(sum)};
}

TEST_F(SharedReadSoak, EveryReadBesideAWriterProcessAnswersACommittedState) {
  const char* long_tests = std::getenv("JW_LONG_TESTS");
  const int seconds = long_tests != nullptr && std::string(long_tests) == "1" ? 120 : 3;
  const uint32_t seed = std::random_device()();
  SCOPED_TRACE("writer seed " + std::to_string(seed));

  TDataCursor by_group(database_.directory);
  by_group.SetTableName("acc");
  by_group.Open();
  by_group.SetIndexByName("ByGrp");
  TFilter* group_filter = by_group.AddFilter("grp >= 0", nullptr, nullptr, nullptr, {});
  TDataCursor by_balance(database_.directory);
  by_balance.SetTableName("acc");
  by_balance.Open();
  by_balance.SetIndexByName("ByBal");
  TFilter* balance_filter = by_balance.AddFilter(("bal > " + std::to_string(kHalf)).c_str(),
                                                 nullptr, nullptr, nullptr, {});

  test_support::PipedChild writer(JW_SQL_WRITER, "sql_writer");
  fprintf(writer.In(), "%s %d %d %u\n", folder_.Path().c_str(), kRows, seconds * 1000, seed);
  fflush(writer.In());
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int64_t reads = 0;
  int failures = 0;
  const auto expect = [&](bool good, const std::string& what, const std::string& got) {
    if (good || ++failures > 5) return;
    ADD_FAILURE() << what << " answered " << got << " after " << reads << " reads";
  };
  // Each read, its answer checked; an error is a failure of that read.
  const auto read = [&](const std::string& what, const auto& answer) {
    try {
      const auto [good, got] = answer();
      expect(good, what, got);
    } catch (const EQuireEngineError& e) {
      expect(false, what, e.what());
    }
    ++reads;
  };
  const auto one = [&](const std::string& sql) { return Run(sql).at(0).at(0); };
  const std::string half = std::to_string(kHalf);
  while (std::chrono::steady_clock::now() < end && failures <= 5) {
    read("COUNT over grp >= 0", [&] {
      const std::string count = one("SELECT COUNT(*) FROM acc WHERE grp >= 0");
      return std::pair(kCounts.count(count) == 1, count);
    });
    read("SUM over grp >= 0", [&] {
      const std::string sum = one("SELECT SUM(bal) FROM acc WHERE grp >= 0");
      return std::pair(sum == kSum, sum);
    });
    read("COUNT, SUM over bal >= 1", [&] {
      const test_support::TextRow row =
          Run("SELECT COUNT(*), SUM(bal) FROM acc WHERE bal >= 1").at(0);
      return std::pair(row == test_support::TextRow{std::to_string(kRows), kSum},
                       row.at(0) + " " + row.at(1));
    });
    read("SUM over bal <= half", [&] {
      const std::string low = one("SELECT SUM(bal) FROM acc WHERE bal <= " + half);
      return std::pair(low == kLowSum, low);
    });
    read("COUNT", [&] {
      const std::string all = one("SELECT COUNT(*) FROM acc");
      return std::pair(kCounts.count(all) == 1, all);
    });
    read("filter grp >= 0", [&] {
      const auto [count, sum] = FilteredCountAndSum(by_group, group_filter);
      return std::pair(kCounts.count(count) == 1 && sum == kSum, count + " " + sum);
    });
    read("filter bal > half", [&] {
      const auto [count, sum] = FilteredCountAndSum(by_balance, balance_filter);
      return std::pair(count == std::to_string(kRows - kHalf) && sum == kHighSum,
                       count + " " + sum);
    });
    // A filter's fill alone is one operation of the cursor's own.
    read("filter grp >= 0 alone", [&] {
      by_group.ActivateFilter(group_filter);
      const std::string count = std::to_string(by_group.GetRecordCount());
      by_group.DeactivateFilter(group_filter);
      return std::pair(kCounts.count(count) == 1, count);
    });
    read("filter bal > half alone", [&] {
      by_balance.ActivateFilter(balance_filter);
      const int32_t count = by_balance.GetRecordCount();
      by_balance.DeactivateFilter(balance_filter);
      return std::pair(count == kRows - kHalf, std::to_string(count));
    });
  }
  char line[512] = {};
  ASSERT_NE(fgets(line, sizeof line, writer.Out()), nullptr);
  EXPECT_EQ(std::string(line).rfind("done ", 0), 0u) << line;
  std::cout << reads << " reads beside the writer's " << line;
  by_group.Close(false);
  by_balance.Close(false);
}

}  // namespace
}  // namespace jw
