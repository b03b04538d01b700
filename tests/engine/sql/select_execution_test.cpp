// SELECT results where SQL's answer is settled but easy to get wrong:
// aggregates over empty tables, NULLs and groups that start with NULL,
// averages and their hidden count column, default result names, the row
// limit, progress and abort.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "engine/core/btree.h"
#include "engine/core/data_table.h"
#include "engine/core/index_slot_cursor.h"
#include "engine/core/record_keys.h"

#include "tests/engine/sql/select_oracle.h"

namespace jw {
namespace {

using test_support::OracleTable;
using test_support::SelectOracle;
using test_support::TextRows;

class SelectExecutionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::vector<std::pair<std::string, uint8_t>> columns = {
        {"k", kFldInteger}, {"x", kFldInteger}, {"s", kFldString}};
    oracle_.Add(OracleTable{"e", columns, {}});
    oracle_.Add(
        OracleTable{"n",
                    columns,
                    {{"1", "NULL", "b"}, {"1", "-3", "a"}, {"2", "-1", "NULL"}, {"2", "-7", "c"}}});
    oracle_.Add(OracleTable{"g",
                            columns,
                            {{"1", "NULL", "a"},
                             {"1", "5", "a"},
                             {"2", "4", "b"},
                             {"2", "NULL", "b"},
                             {"3", "NULL", "c"}}});
  }

  TDataCursor& Run(TQueryStatement& statement, const std::string& sql) {
    int32_t consumed = 0;
    statement.Prepare(sql.c_str(), consumed);
    statement.Execute(progress_ ? &SelectExecutionTest::Progress : nullptr, this);
    return *statement.ResultCursor();
  }

  TQueryStatement Statement() {
    return TQueryStatement(oracle_.Database().database.session,
                           *oracle_.Database().database.directory);
  }

  static void Progress(void* user_data, int32_t count, int32_t percent, bool& abort) {
    auto& test = *static_cast<SelectExecutionTest*>(user_data);
    test.calls_.emplace_back(count, percent);
    abort = count == test.abort_at_;
  }

  SelectOracle oracle_;
  bool progress_ = false;
  int32_t abort_at_ = -1;
  std::vector<std::pair<int32_t, int32_t>> calls_;
};

TEST_F(SelectExecutionTest, AggregatesAnswerAsSQLDoes) {
  const struct {
    const char* sql;
    TextRows rows;
  } kCases[] = {
      // The record count shortcut and the row loop agree on no rows.
      {"SELECT COUNT(*) FROM e", {{"0"}}},
      {"SELECT COUNT(*) FROM e WHERE 1 = 1", {{"0"}}},
      {"SELECT COUNT(*), MIN(x) FROM e", {{"0", "NULL"}}},
      {"SELECT SUM(x), COUNT(x) FROM e", {{"NULL", "0"}}},
      // COUNT(*) counts rows whatever their first column holds.
      {"SELECT COUNT(*), COUNT(x), COUNT(s) FROM n", {{"4", "3", "3"}}},
      // A first NULL is no value yet.
      {"SELECT MAX(x), MIN(x), SUM(x) FROM n", {{"-1", "-7", "-11"}}},
      {"SELECT MAX(x) FROM n WHERE x IS NOT NULL", {{"-1"}}},
      // Averages leave NULLs out and give 0 without values; the hidden
      // count column is no result column.
      {"SELECT AVG(x) FROM g", {{"4.5"}}},
      {"SELECT AVG(x) FROM g WHERE x IS NULL", {{"0"}}},
      {"SELECT k, SUM(x), COUNT(x), MAX(x), AVG(x), COUNT(*) FROM g GROUP BY k",
       {{"1", "5", "1", "5", "5", "2"},
        {"2", "4", "1", "4", "4", "2"},
        {"3", "NULL", "0", "NULL", "0", "1"}}},
      {"SELECT k, SUM(x) FROM g GROUP BY k HAVING SUM(x) > 4", {{"1", "5"}}},
      {"SELECT DISTINCT s FROM g ORDER BY s DESC", {{"c"}, {"b"}, {"a"}}},
      {"SELECT k, x FROM n ORDER BY k DESC, x",
       {{"2", "-7"}, {"2", "-1"}, {"1", "NULL"}, {"1", "-3"}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.sql);
    EXPECT_EQ(oracle_.Ours(c.sql), c.rows);
  }
}

// A sorted result is renumbered: its status index holds one key per record
// written, each naming the record as the sort numbered it, also when
// DISTINCT wrote fewer records than the query inserted.
TEST_F(SelectExecutionTest, SortedResultKeepsOneStatusKeyPerRecordUnderItsNewNumber) {
  for (const char* sql :
       {"SELECT k, x FROM n ORDER BY k DESC, x", "SELECT DISTINCT s FROM g ORDER BY s DESC"}) {
    SCOPED_TRACE(sql);
    TQueryStatement statement = Statement();
    TDataCursor& sorted = Run(statement, sql);
    TDataTable& table = *sorted.Table();
    TIndexSlotCursor status(sorted, table.IndexFile(), kStatusSlot);
    TBTree tree(table.IndexFile(), status);
    ASSERT_EQ(tree.KeyCount(), sorted.GetRecordCount());
    std::vector<uint8_t> key(kStatusKeyLength);
    std::vector<uint8_t> expected(kStatusKeyLength);
    for (int64_t ordinal = 1; ordinal <= tree.KeyCount(); ++ordinal) {
      int32_t number = 0;
      ASSERT_TRUE(tree.Select(ordinal, key.data(), number));
      TRecord* record = nullptr;
      table.DataFile().FetchRecord(nullptr, number, 1, false, false, record);
      BuildStatusKey(record->Bytes(), expected.data());
      table.DataFile().ReleaseRecord(record);
      EXPECT_EQ(key, expected) << "record " << number;
    }
  }
}

TEST_F(SelectExecutionTest, ResultColumnsTakeDefaultNamesAndHideAverageCounts) {
  TQueryStatement statement = Statement();
  TDataCursor& computed = Run(statement, "SELECT x + 1, x * 2, s FROM n");
  ASSERT_EQ(computed.GetCursorFieldCount(), 3);
  EXPECT_EQ(computed.GetFieldDesc(1).Name, "Expression");
  EXPECT_EQ(computed.GetFieldDesc(2).Name, "Expression_1");
  EXPECT_EQ(computed.GetFieldDesc(3).Name, "s");

  TDataCursor& averages = Run(statement, "SELECT AVG(x), SUM(x) FROM g");
  ASSERT_EQ(averages.GetCursorFieldCount(), 2);
  EXPECT_EQ(averages.GetFieldDesc(1).Name, "Average Of x");
  EXPECT_EQ(averages.GetFieldDesc(2).Name, "Sum Of x");
  EXPECT_EQ(averages.GetTableFieldDesc(3).Name, "Sys__Avg__Count3");
}

TEST_F(SelectExecutionTest, RowLimitCountsRowsBeforeDistinct) {
  TQueryStatement statement = Statement();
  statement.SetMaxRowCount(0);
  EXPECT_EQ(Run(statement, "SELECT k FROM g").GetRecordCount(), 0);
  EXPECT_EQ(statement.GetRowsAffected(), 0);
  statement.SetMaxRowCount(3);
  // Three rows are copied (keys 1, 1, 2) before DISTINCT makes them two.
  EXPECT_EQ(test_support::CursorRows(Run(statement, "SELECT DISTINCT k FROM g")),
            (TextRows{{"1"}, {"2"}}));
}

TEST_F(SelectExecutionTest, ProgressRunsToOneHundredAndAbortKeepsTheRowsSoFar) {
  progress_ = true;
  TQueryStatement statement = Statement();
  Run(statement, "SELECT k FROM g");
  EXPECT_EQ(calls_, (std::vector<std::pair<int32_t, int32_t>>{
                        {1, 20}, {2, 40}, {3, 60}, {4, 80}, {5, 100}}));

  calls_.clear();
  abort_at_ = 3;
  TDataCursor& aborted = Run(statement, "SELECT k FROM g");
  EXPECT_EQ(calls_,
            (std::vector<std::pair<int32_t, int32_t>>{{1, 20}, {2, 40}, {3, 60}, {5, 100}}));
  EXPECT_EQ(test_support::CursorRows(aborted), (TextRows{{"1"}, {"1"}}));
  EXPECT_EQ(statement.GetRowsAffected(), 2);
}

}  // namespace
}  // namespace jw
