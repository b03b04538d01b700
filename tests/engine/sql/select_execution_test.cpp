// SELECT results where SQL's answer is settled but easy to get wrong:
// aggregates over empty tables, NULLs and groups that start with NULL,
// averages and their hidden count column, default result names, the row
// limit, progress and abort.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/btree.h"
#include "engine/core/data_cursor.h"
#include "engine/core/data_table.h"
#include "engine/core/index_slot_cursor.h"
#include "engine/core/lock_bytes.h"
#include "engine/core/record_keys.h"
#include "engine/sql/query_statement.h"
#include "tests/engine/core/table_peer.h"
#include "tests/engine/sql/select_oracle.h"
#include "tests/engine/sql/sql_test_util.h"

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

  // Runs each statement in turn, each in a statement of its own.
  void ExecuteAll(std::initializer_list<const char*> statements) {
    for (const char* sql : statements) {
      TQueryStatement statement = Statement();
      int32_t consumed = 0;
      statement.Prepare(sql, consumed);
      statement.Execute();
    }
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

// SUM, AVG, MIN and MAX of a DECIMAL column add and compare its amounts,
// and a sum keeps the column's scale.
TEST_F(SelectExecutionTest, DecimalAggregatesTakeTheAmounts) {
  ExecuteAll({"CREATE TABLE d (k INTEGER, m DECIMAL(10,2))", "INSERT INTO d VALUES (1, 12.25)",
              "INSERT INTO d VALUES (1, -3.5)", "INSERT INTO d VALUES (2, 0.75)",
              "INSERT INTO d VALUES (2, NULL)", "INSERT INTO d VALUES (1, 40.01)"});
  EXPECT_EQ(oracle_.Ours("SELECT SUM(m), AVG(m), MIN(m), MAX(m), COUNT(m) FROM d"),
            (TextRows{{"49.51", "12.3775", "-3.5", "40.01", "4"}}));
  EXPECT_EQ(oracle_.Ours("SELECT k, SUM(m), AVG(m), MIN(m), MAX(m) FROM d GROUP BY k"),
            (TextRows{{"1", "48.76", "16.2533333", "-3.5", "40.01"},
                      {"2", "0.75", "0.75", "0.75", "0.75"}}));
}

// HAVING compares an aggregate as its result row holds it: an average as a
// float (also of a DECIMAL column), a sum of smallints as an integer past
// the smallint range.
TEST_F(SelectExecutionTest, HavingComparesAggregatesAsTheirColumnsHoldThem) {
  ExecuteAll({"CREATE TABLE h (b BOOLEAN, c INTEGER, w SMALLINT, m DECIMAL(10,2))",
              "INSERT INTO h VALUES (TRUE, 6, -16388, 1.5)",
              "INSERT INTO h VALUES (TRUE, 2, -16388, 2)",
              "INSERT INTO h VALUES (FALSE, 4, 30000, 4.25)",
              "INSERT INTO h VALUES (FALSE, 4, 30000, 4.75)"});
  const struct {
    const char* sql;
    TextRows rows;
  } kCases[] = {
      {"SELECT b, AVG(c) FROM h GROUP BY 1 HAVING AVG(c) > 3", {{"0", "4"}, {"1", "4"}}},
      {"SELECT b, AVG(c) FROM h GROUP BY 1 HAVING AVG(c) < 3", {}},
      {"SELECT b, SUM(w) FROM h GROUP BY 1 HAVING SUM(w) > 3", {{"0", "60000"}}},
      {"SELECT b, SUM(w) FROM h GROUP BY 1 HAVING SUM(w) < -32000", {{"1", "-32776"}}},
      {"SELECT b, AVG(m) FROM h GROUP BY 1 HAVING AVG(m) > 2", {{"0", "4.5"}}},
      {"SELECT b, AVG(m), SUM(m) FROM h GROUP BY 1 HAVING AVG(m) < SUM(m) - 2",
       {{"0", "4.5", "9"}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.sql);
    EXPECT_EQ(oracle_.Ours(c.sql), c.rows);
  }
}

// Sums add as their column's type adds: integers wrap at 32 bits as + does,
// a smallint's sum is an integer and a word's wraps at 16 bits. An amount
// past what the currency form holds raises the error of a value above (or
// below) its field's range, from an aggregate, grouped or not, and from an
// operator anywhere in a statement.
TEST_F(SelectExecutionTest, SumsAddAsTheirTypeAndAmountsPastTheRangeRaise) {
  ExecuteAll({"CREATE TABLE ov (i INTEGER, h SMALLINT, u WORD, m DECIMAL(20,2))",
              "INSERT INTO ov VALUES (2147483647, 32767, 65535, 600000000000000.00)",
              "INSERT INTO ov VALUES (6, 32767, 2, 600000000000000.00)"});
  const std::string wrapped = test_support::NumberText(-2147483643);
  EXPECT_EQ(oracle_.Ours("SELECT SUM(i), SUM(h), SUM(u), SUM(i + 0) FROM ov"),
            (TextRows{{wrapped, "65534", "1", wrapped}}));
  EXPECT_EQ(oracle_.Ours("SELECT h, SUM(i), SUM(u), MAX(m) FROM ov GROUP BY h"),
            (TextRows{{"32767", wrapped, "1", "6e+14"}}));
  const struct {
    const char* sql;
    EngineErrorCode code;
  } kOverflows[] = {
      {"SELECT SUM(m) FROM ov", kErrAboveMaximum},
      {"SELECT h, SUM(m) FROM ov GROUP BY h", kErrAboveMaximum},
      {"SELECT SUM(0 - m) FROM ov", kErrBelowMinimum},
      {"SELECT m + m FROM ov", kErrAboveMaximum},
      {"SELECT m * 2 FROM ov", kErrAboveMaximum},
      {"SELECT 0 - m - m FROM ov", kErrBelowMinimum},
      {"SELECT i FROM ov WHERE m + m > 0", kErrAboveMaximum},
  };
  for (const auto& c : kOverflows) EXPECT_EQ(oracle_.ErrorOf(c.sql), c.code) << c.sql;
  std::string message;
  oracle_.ErrorOf("SELECT m + m FROM ov", &message);
  EXPECT_NE(message.find("field 'm + m'"), std::string::npos) << message;
}

// Sub-selects nested in sub-selects count toward the nesting limit with the
// parentheses around and inside them: within it, the statement answers;
// past it, at any depth, it raises the parse error instead of running out
// of stack, with or without parentheses between the levels.
TEST_F(SelectExecutionTest, NestedSubSelectsAnswerOrRaiseTheNestingError) {
  const auto nested = [](int depth, int parentheses) {
    std::string open;
    std::string close;
    for (int level = 0; level < depth; ++level) {
      open += std::string(static_cast<size_t>(parentheses), '(') + "k IN (SELECT k FROM g WHERE ";
      close += ")" + std::string(static_cast<size_t>(parentheses), ')');
    }
    return "SELECT k FROM g WHERE " + open + "k > 1" + close;
  };
  EXPECT_EQ(oracle_.Ours(nested(255, 0) + " ORDER BY k"), (TextRows{{"2"}, {"2"}, {"3"}}));
  EXPECT_EQ(oracle_.Ours(nested(63, 3)).size(), 3u);
  for (const auto& [depth, parentheses] :
       {std::pair{300, 0}, std::pair{1000, 0}, std::pair{5000, 0}, std::pair{2000, 2}}) {
    SCOPED_TRACE(std::to_string(depth) + " levels");
    std::string message;
    EXPECT_EQ(oracle_.ErrorOf(nested(depth, parentheses), &message), kErrSql);
    EXPECT_NE(message.find("nested more than 256 levels deep"), std::string::npos) << message;
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

// A result table read in natural order comes a window at a time past its
// record cache: its own edits show in every later walk wherever they stand,
// changed in the cache, written back, or written back and dropped from the
// cache, as a model of its rows says after every step.
TEST_F(SelectExecutionTest, ResultTableWalksShowItsOwnEditsWhereverTheyStand) {
  OracleTable wide{"w", {{"k", kFldInteger}, {"x", kFldInteger}, {"s", kFldString}}, {}};
  std::vector<std::pair<int32_t, int32_t>> model;
  // Rows enough for several read windows and more than the record cache holds.
  for (int32_t i = 1; i <= 6000; ++i) {
    wide.rows.push_back({std::to_string(i), std::to_string(i), "s"});
    model.emplace_back(i, i);
  }
  oracle_.Add(wide);
  TQueryStatement statement = Statement();
  TDataCursor& cursor = Run(statement, "SELECT k, x FROM w");
  TDataTable& table = *cursor.Table();
  std::vector<uint8_t> image(static_cast<size_t>(cursor.GetRecordSize()));
  const auto value = [&](int32_t field) {
    int32_t number = 0;
    bool null = false;
    cursor.GetFieldData(field, image.data(), null, &number);
    return null ? INT32_MIN : number;
  };
  const auto walk = [&](int step) {
    ASSERT_EQ(cursor.GetRecordCount(), static_cast<int32_t>(model.size())) << step;
    cursor.First();
    for (size_t i = 0; i < model.size(); ++i) {
      ASSERT_EQ(cursor.GetNextRecord(image.data()), 0) << step << " row " << i;
      ASSERT_EQ(std::make_pair(value(1), value(2)), model[i]) << step << " row " << i;
    }
    EXPECT_EQ(cursor.GetNextRecord(image.data()), kErrEndOfFile) << step;
  };
  // The row at the ordinal, read on its own: the walks' window around it
  // may still stand from the read before the edit.
  const auto check_row = [&](int step, int32_t ordinal) {
    if (ordinal < 1 || ordinal > static_cast<int32_t>(model.size())) return;
    cursor.SetRecNo(ordinal);
    ASSERT_EQ(cursor.GetCurrentRecord(image.data(), false), 0) << step;
    EXPECT_EQ(std::make_pair(value(1), value(2)), model[static_cast<size_t>(ordinal - 1)])
        << step << " ordinal " << ordinal;
  };
  std::mt19937 random(7);
  walk(-1);
  for (int step = 0; step < 200; ++step) {
    const auto row = static_cast<int32_t>(random() % model.size()) + 1;
    cursor.SetRecNo(row);
    ASSERT_EQ(cursor.GetCurrentRecord(image.data(), false), 0);
    switch (random() % 3) {
      case 0: {
        ASSERT_EQ(cursor.GetCurrentRecord(image.data(), true), 0);
        const int32_t x = -step;
        cursor.SetFieldData(2, image.data(), false, &x);
        cursor.ModifyRecord(image.data(), true, false);
        model[static_cast<size_t>(row - 1)].second = x;
        break;
      }
      case 1:
        cursor.DeleteRecord(image.data(), false);
        model.erase(model.begin() + row - 1);
        break;
      default: {
        // A table without a primary index appends what it inserts.
        cursor.ClearRecord(image.data());
        const int32_t k = 10000 + step;
        cursor.SetFieldData(1, image.data(), false, &k);
        cursor.SetFieldData(2, image.data(), false, &k);
        cursor.InsertRecord(image.data(), false);
        model.emplace_back(k, k);
        break;
      }
    }
    // The change stays in the cache, is written back, or is written back
    // and dropped from the cache.
    const auto where = random() % 3;
    if (where >= 1) table.WriteBack(false, false, false, false, false);
    if (where == 2) table.Reload(true, false);
    check_row(step, row);
    check_row(step, row + 1);
    check_row(step, static_cast<int32_t>(model.size()));
    if (step % 10 == 9) walk(step);
    if (HasFatalFailure()) return;
  }
  walk(200);
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

// A prepared SELECT keeps its result table and empties it on each run: run
// again after rows came and went it answers as a statement made afresh,
// its sub-select too, and an INTO table is emptied rather than refused.
TEST_F(SelectExecutionTest, APreparedSelectRunAgainAnswersAsAFreshOne) {
  const struct {
    const char* prepared;
    const char* fresh;
  } kCases[] = {
      {"SELECT k, SUM(x), COUNT(*), AVG(x), MIN(x) FROM g GROUP BY k HAVING SUM(x) > 0", nullptr},
      {"SELECT k, x FROM g WHERE k IN (SELECT k FROM n WHERE x < -2)", nullptr},
      {"SELECT DISTINCT s FROM g ORDER BY s DESC", nullptr},
      {"SELECT COUNT(*), MAX(x) FROM g WHERE x IS NOT NULL", nullptr},
      {"SELECT k, x INTO again FROM g ORDER BY x", "SELECT k, x FROM g ORDER BY x"},
  };
  std::vector<std::unique_ptr<TQueryStatement>> statements;
  for (const auto& c : kCases) {
    statements.push_back(std::make_unique<TQueryStatement>(oracle_.Database().database.session,
                                                           *oracle_.Database().database.directory));
    int32_t consumed = 0;
    statements.back()->Prepare(c.prepared, consumed);
  }
  const char* kChanges[] = {"INSERT INTO g (k, x, s) VALUES (2, 9, 'z')",
                            "DELETE FROM g WHERE k = 1",
                            "INSERT INTO n (k, x, s) VALUES (3, -5, 'd')",
                            "UPDATE g SET k = 3 WHERE x IS NULL", "DELETE FROM g"};
  for (const char* change : kChanges) {
    SCOPED_TRACE(change);
    for (size_t i = 0; i < statements.size(); ++i) {
      SCOPED_TRACE(kCases[i].prepared);
      statements[i]->Execute();
      const TextRows rows = test_support::CursorRows(*statements[i]->ResultCursor());
      EXPECT_EQ(static_cast<size_t>(statements[i]->GetRowsAffected()), rows.size());
      EXPECT_EQ(rows,
                oracle_.Ours(kCases[i].fresh != nullptr ? kCases[i].fresh : kCases[i].prepared));
    }
    TQueryStatement statement = Statement();
    int32_t consumed = 0;
    statement.Prepare(change, consumed);
    statement.Execute();
  }
}

// A result table ENCRYPTED WITH a password the session does not know is
// opened and filled with that password, which the session does not keep.
// A run refused its result table leaves the statement as it was, so that
// running it again fails for the same reason, and leaves the table that
// was there alone.
TEST_F(SelectExecutionTest, AnEncryptedResultTableOpensWithItsOwnPasswordAndKeepsOnlyIt) {
  TDataSession& session = oracle_.Database().database.session;
  const TextRows expected = oracle_.Ours("SELECT k, x FROM g");
  const auto failure = [](const std::function<void()>& run) {
    try {
      run();
    } catch (const EQuireEngineError& e) {
      return e.Code();
    }
    return EngineErrorCode{0};
  };
  {
    TQueryStatement statement = Statement();
    EXPECT_EQ(test_support::CursorRows(
                  Run(statement, "SELECT k, x INTO r FROM g ENCRYPTED WITH 'secret'")),
              expected);
    EXPECT_FALSE(session.HasPassword("secret"));
    statement.Execute();
    EXPECT_EQ(test_support::CursorRows(*statement.ResultCursor()), expected);
  }
  {
    TQueryStatement statement = Statement();
    int32_t consumed = 0;
    statement.Prepare("SELECT k INTO r FROM g", consumed);
    for (int run = 0; run < 2; ++run) {
      EXPECT_EQ(failure([&] { statement.Execute(); }), kErrTableExists);
    }
  }
  TDataCursor kept(oracle_.Database().database.directory);
  kept.SetTableName("r");
  EXPECT_EQ(failure([&] { kept.Open(); }), kErrPasswordRequired);
  session.AddPassword("secret");
  kept.Open();
  EXPECT_EQ(test_support::CursorRows(kept), expected);
  kept.Close(false);
}

// Another process inserts, edits and deletes records of a table (moving
// its primary index) between the runs of prepared SELECTs: every run
// answers for the records as they are then, with and without filters,
// from a result table and live from the table's own cursor, and counts
// them in its rows affected.
TEST(SelectExecutionWithPeer, PreparedSelectsSeeTheChangesOfAnotherProcessOnEveryRun) {
  test_support::ResolveDatabase tables;
  test::Peer peer;
  ASSERT_TRUE(peer.Ready());
  ASSERT_EQ(peer.Ask("create " + tables.folder.Path() + " sm"), "ok");
  ASSERT_EQ(peer.Ask("close"), "ok");
  ASSERT_EQ(peer.Ask("open " + tables.folder.Path() + " sm"), "ok");
  using Values = std::vector<int32_t>;
  const struct {
    const char* sql;
    bool ordered;
    std::function<bool(int32_t)> keeps;
  } kSelects[] = {
      {"SELECT VALUE FROM sm", false, [](int32_t) { return true; }},
      {"SELECT VALUE FROM sm WHERE VALUE = 7", false, [](int32_t v) { return v == 7; }},
      {"SELECT VALUE FROM sm WHERE VALUE >= 10 AND VALUE < 40 ORDER BY VALUE DESC", true,
       [](int32_t v) { return v >= 10 && v < 40; }},
      {"SELECT VALUE FROM sm WHERE VALUE > 20 GROUP BY VALUE", true,
       [](int32_t v) { return v > 20; }},
  };
  // Each SELECT once into a result table and once asked for live.
  std::vector<std::unique_ptr<TQueryStatement>> statements;
  for (const bool live : {false, true}) {
    for (const auto& select : kSelects) {
      statements.push_back(
          std::make_unique<TQueryStatement>(tables.database.session, *tables.database.directory));
      statements.back()->SetRequestLive(live);
      int32_t consumed = 0;
      statements.back()->Prepare(select.sql, consumed);
    }
  }
  TQueryStatement count(tables.database.session, *tables.database.directory);
  int32_t consumed = 0;
  count.Prepare("SELECT COUNT(*) FROM sm", consumed);

  std::map<int32_t, int32_t> live;  // record number to value, as the peer left them
  std::mt19937 random(31);
  const auto unused_value = [&] {
    for (;;) {
      const auto value = static_cast<int32_t>(random() % 60);
      if (std::none_of(live.begin(), live.end(),
                       [&](const auto& r) { return r.second == value; })) {
        return value;
      }
    }
  };
  for (int step = 0; step < 60; ++step) {
    const int kind = live.size() < 5 ? 0 : static_cast<int>(random() % 2);
    auto record = live.begin();
    std::advance(record, static_cast<std::ptrdiff_t>(random() % std::max<size_t>(live.size(), 1)));
    if (kind == 0) {
      const int32_t value = unused_value();
      const std::string answer = peer.Ask("insert " + std::to_string(value));
      ASSERT_EQ(answer.rfind("ok ", 0), 0u) << answer;
      live[std::stoi(answer.substr(3))] = value;
    } else if (kind == 1) {
      const int32_t value = unused_value();
      ASSERT_EQ(peer.Ask("edit " + std::to_string(record->first) + " " +
                         std::to_string(record->second) + " " + std::to_string(value)),
                "ok");
      record->second = value;
    } else {
      ASSERT_EQ(peer.Ask("delete " + std::to_string(record->first) + " " +
                         std::to_string(record->second)),
                "ok");
      live.erase(record);
    }
    SCOPED_TRACE("step " + std::to_string(step));
    for (size_t i = 0; i < statements.size(); ++i) {
      const auto& select = kSelects[i % std::size(kSelects)];
      SCOPED_TRACE(select.sql);
      SCOPED_TRACE(statements[i]->MainQuery()->Live ? "live" : "result table");
      Values expected;
      for (const auto& [number, value] : live) {
        if (select.keeps(value)) expected.push_back(value);
      }
      std::sort(expected.begin(), expected.end());
      if (std::string(select.sql).find("DESC") != std::string::npos) {
        std::reverse(expected.begin(), expected.end());
      }
      statements[i]->Execute();
      EXPECT_EQ(statements[i]->GetRowsAffected(), static_cast<int32_t>(expected.size()));
      TDataCursor& result = *statements[i]->ResultCursor();
      result.First();
      Values got = test_support::FirstFieldIntegers(result);
      if (!select.ordered) std::sort(got.begin(), got.end());
      EXPECT_EQ(got, expected);
    }
    count.Execute();
    EXPECT_EQ(test_support::FirstFieldIntegers(*count.ResultCursor()),
              Values{static_cast<int32_t>(live.size())});
  }
  EXPECT_EQ(peer.Ask("close"), "ok");
}

// WITH LOCKS takes the read locks table by table. Another process that
// write-locks the last table makes the run fail there, and the locks taken
// before it must go with the failure: else that process could never write
// the earlier tables again.
TEST(SelectExecutionWithPeer, WithLocksLetsGoOfTheLocksTakenBeforeARefusedOne) {
  test_support::ResolveDatabase tables;
  test::Peer peer;
  ASSERT_TRUE(peer.Ready());
  ASSERT_EQ(peer.Ask("retries 2"), "ok");
  const std::vector<std::string> names = {"la", "lb", "lc"};
  for (const std::string& name : names) {
    ASSERT_EQ(peer.Ask("create " + tables.folder.Path() + " " + name), "ok");
    ASSERT_EQ(peer.Ask("insert 4").rfind("ok ", 0), 0u);
  }
  ASSERT_EQ(peer.Ask("close"), "ok");
  TQueryStatement statement(tables.database.session, *tables.database.directory);
  int32_t consumed = 0;
  statement.Prepare(
      "SELECT la.VALUE FROM la, lb, lc WHERE la.VALUE = lb.VALUE AND lb.VALUE = lc.VALUE "
      "WITH LOCKS",
      consumed);
  const auto peer_writes = [&](const std::string& name) {
    SCOPED_TRACE(name);
    EXPECT_EQ(peer.Ask("open " + tables.folder.Path() + " " + name), "ok");
    EXPECT_EQ(peer.Ask("write-lock"), "ok");
    EXPECT_EQ(peer.Ask("write-unlock"), "ok");
  };
  const TScopedSemaphoreRetries retries(2);
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    ASSERT_EQ(peer.Ask("open " + tables.folder.Path() + " lc"), "ok");
    ASSERT_EQ(peer.Ask("write-lock"), "ok");
    EngineErrorCode code = 0;
    try {
      statement.Execute();
    } catch (const EQuireEngineError& e) {
      code = e.Code();
    }
    EXPECT_EQ(code, kErrLockFailure);
    ASSERT_EQ(peer.Ask("close"), "ok");
    for (const std::string& name : names) peer_writes(name);
  }
  // Once the peer lets go, the same statement runs, and its locks go after it.
  ASSERT_EQ(peer.Ask("close"), "ok");
  statement.Execute();
  EXPECT_EQ(test_support::FirstFieldIntegers(*statement.ResultCursor()), std::vector<int32_t>{4});
  for (const std::string& name : names) peer_writes(name);
  EXPECT_EQ(peer.Ask("close"), "ok");
}

}  // namespace
}  // namespace jw
