// Live results: which SELECTs hand back their table's own cursor and which
// index it walks, the select list as the cursor's fields (computed items
// derived per record), and editing through that cursor against a model: a
// unique index refuses duplicates, and every index of the table stays whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/table_verify.h"
#include "engine/expr/expression_types.h"
#include "platform/rtl/strings.h"
#include "tests/engine/sql/select_oracle.h"

namespace jw {
namespace {

using test_support::Column;
using test_support::TextRow;
using test_support::TextRows;

constexpr int kNotLive = -1;

IndexDescriptor Index(const std::string& name, std::vector<int16_t> fields, bool unique = false,
                      bool no_case = false, bool descending = false) {
  IndexDescriptor index;
  index.Name = name;
  index.SegmentCount = static_cast<uint8_t>(fields.size());
  std::copy(fields.begin(), fields.end(), index.FieldNumbers.begin());
  index.Unique = unique ? 1 : 0;
  index.CaseInsensitive = no_case ? 1 : 0;
  index.Descending = descending ? 1 : 0;
  return index;
}

// k: a integer (primary key), b integer, s string 10, m memo; indexes 1
// "ub" unique on b, 2 "ss" case-insensitive on s, b, 3 "db" descending on b.
struct LiveDatabase : test_support::ResolveDatabase {
  LiveDatabase() {
    FieldDescriptor memo = Column("m", kFldBlob);
    memo.SubType = kSubTypeTextBlob;
    TTableDefinition definition;
    definition.Fields = {Column("a", kFldInteger), Column("b", kFldInteger),
                         Column("s", kFldString, 10), memo};
    definition.Indexes = {Index("", {1}), Index("ub", {2}, true), Index("ss", {3, 2}, false, true),
                          Index("db", {2}, false, false, true)};
    TDataTable* table = nullptr;
    if (const int32_t result =
            database.directory->CreateTable("k", definition, false, false, table)) {
      RaiseEngineError(static_cast<EngineErrorCode>(-result), "k");
    }
    table->WriteBack(false, true, false, true, true);
    database.directory->CloseTable(table, false);
  }

  std::unique_ptr<TQueryStatement> Prepare(const std::string& sql, bool request_live) {
    auto statement = std::make_unique<TQueryStatement>(database.session, *database.directory);
    statement->SetRequestLive(request_live);
    int32_t consumed = 0;
    statement->Prepare(sql.c_str(), consumed);
    return statement;
  }
};

// The record image of a row of k, built through the cursor's field list by
// the names of the live result's fields.
struct RowWriter {
  TDataCursor& cursor;
  std::vector<uint8_t> image;

  explicit RowWriter(TDataCursor& c) : cursor(c), image(static_cast<size_t>(c.GetRecordSize())) {}
  int32_t Field(const char* name) const {
    for (int32_t f = 1; f <= cursor.GetCursorFieldCount(); ++f) {
      if (SameText(cursor.GetCursorFieldDesc(f).Name, name)) return f;
    }
    ADD_FAILURE() << "no field " << name;
    return 1;
  }
  void Set(const char* name, int32_t value) {
    cursor.SetFieldData(Field(name), image.data(), false, &value);
  }
  void Set(const char* name, const std::string& text) {
    cursor.SetFieldData(Field(name), image.data(), false, text.c_str());
  }
};

TEST(LiveResult, DecisionFollowsTheStatementsShapeAndTheTablesIndexes) {
  struct Case {
    const char* sql;
    bool request_live;
    int index;  // kNotLive, kNaturalOrder or the index walked
  };
  const Case cases[] = {
      {"SELECT * FROM k", true, kNaturalOrder},
      {"SELECT * FROM k", false, kNotLive},
      {"SELECT * FROM k WHERE a > 1", true, kNaturalOrder},
      {"SELECT * FROM k ORDER BY a", true, 0},
      {"SELECT s, b FROM k ORDER BY b", true, 1},
      {"SELECT * FROM k ORDER BY 2", true, 1},
      {"SELECT * FROM k ORDER BY b DESC", true, 3},
      {"SELECT * FROM k ORDER BY a DESC", true, kNotLive},
      {"SELECT * FROM k ORDER BY b, a", true, kNotLive},
      {"SELECT * FROM k ORDER BY s NOCASE", true, 2},
      {"SELECT * FROM k ORDER BY s, b NOCASE", true, 2},
      {"SELECT * FROM k ORDER BY s", true, kNotLive},
      {"SELECT * FROM k ORDER BY b NOCASE", true, 1},
      {"SELECT a + b AS t, a FROM k", true, kNaturalOrder},
      {"SELECT a + b AS t, a FROM k ORDER BY t", true, kNotLive},
      {"SELECT m, a FROM k", true, kNaturalOrder},
      {"SELECT UPPER(m) FROM k", true, kNotLive},
      {"SELECT a, b, a FROM k", true, kNaturalOrder},
      {"SELECT m, a, m FROM k", true, kNotLive},
      {"SELECT * INTO r FROM k", true, kNotLive},
      {"SELECT * INTO MEMORY r FROM k", true, kNotLive},
      {"SELECT DISTINCT b FROM k", true, kNotLive},
      {"SELECT b FROM k GROUP BY b", true, kNotLive},
      {"SELECT COUNT(*) FROM k", true, kNotLive},
      {"SELECT MAX(a) FROM k", true, kNotLive},
      {"SELECT * FROM k, u", true, kNotLive},
      {"SELECT * FROM k JOIN u ON k.a = u.a", true, kNotLive},
      {"SELECT * FROM k WHERE a IN (SELECT a FROM u)", true, kNotLive},
  };
  LiveDatabase tables;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    std::unique_ptr<TQueryStatement> statement = tables.Prepare(c.sql, c.request_live);
    const TDataQuery& query = *statement->MainQuery();
    EXPECT_EQ(query.Live, c.index != kNotLive);
    if (c.index != kNotLive) {
      EXPECT_EQ(query.IndexNumber, c.index);
    }
    statement->Execute();
    TDataCursor* source = query.SourceTables.front()->Cursor.get();
    EXPECT_EQ(statement->ResultCursor() == source, c.index != kNotLive);
    if (c.index != kNotLive) {
      EXPECT_EQ(source->IndexNumber(), c.index);
    }
  }
}

// The whole table through each of its indexes as the a values in key
// order: every index must hold every row once, in its order.
std::vector<int32_t> AValuesByIndex(test_support::StatementDatabase& database, uint8_t index) {
  TDataCursor cursor(database.directory);
  cursor.SetTableName("k");
  cursor.Open();
  cursor.SetIndexByNumber(index);
  return test_support::FirstFieldIntegers(cursor);
}

TEST(LiveResult, EditingThroughTheCursorKeepsEveryIndexAndRefusesDuplicates) {
  LiveDatabase tables;
  std::unique_ptr<TQueryStatement> statement = tables.Prepare(
      "SELECT b AS bee, a * 100 + b AS total, s, a, b FROM k WHERE a < 40 ORDER BY b", true);
  statement->Execute();
  TDataCursor& cursor = *statement->ResultCursor();
  ASSERT_EQ(&cursor, statement->MainQuery()->SourceTables.front()->Cursor.get());
  ASSERT_EQ(cursor.GetCursorFieldCount(), 5);
  const char* names[] = {"bee", "total", "s", "a", "b"};
  for (int32_t f = 1; f <= 5; ++f) EXPECT_EQ(cursor.GetCursorFieldDesc(f).Name, names[f - 1]);

  // a -> (b, s): a is the primary key, b unique.
  std::map<int32_t, std::pair<int32_t, std::string>> model;
  const auto taken = [&](int32_t a, int32_t b, int32_t except) {
    for (const auto& [key, row] : model) {
      if (key != except && (key == a || row.first == b)) return true;
    }
    return false;
  };
  const auto view = [&] {
    std::vector<std::pair<int32_t, int32_t>> by_b;
    for (const auto& [a, row] : model) {
      if (a < 40) by_b.emplace_back(row.first, a);
    }
    std::sort(by_b.begin(), by_b.end());
    TextRows rows;
    for (const auto& [b, a] : by_b) {
      rows.push_back({std::to_string(b), std::to_string(a * 100 + b), model[a].second,
                      std::to_string(a), std::to_string(b)});
    }
    return rows;
  };
  // Stands the cursor on the view's row at the position and reads it.
  const auto stand_on = [&](RowWriter& row, int32_t position) {
    cursor.First();
    for (int32_t i = 0; i <= position; ++i) ASSERT_EQ(cursor.GetNextRecord(row.image.data()), 0);
  };
  const auto refused = [](auto operation) {
    try {
      operation();
    } catch (const EQuireEngineError& e) {
      EXPECT_EQ(e.Code(), kErrDuplicateKey) << e.Message();
      return true;
    }
    return false;
  };

  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  const auto pick = [&](int32_t low, int32_t high) {
    return std::uniform_int_distribution<int32_t>(low, high)(random);
  };
  const int steps = test_support::Scaled(300);
  for (int step = 0; step < steps; ++step) {
    const int32_t a = pick(0, 59);
    const int32_t b = pick(0, 59);
    const std::string s = "s" + std::to_string(pick(0, 9));
    const int32_t rows = cursor.GetRecordCount();
    const int kind = rows == 0 ? 0 : pick(0, 3);
    RowWriter row(cursor);
    if (kind == 0) {
      SCOPED_TRACE("insert " + std::to_string(a) + " " + std::to_string(b));
      cursor.InitRecord(row.image.data());
      row.Set("a", a);
      row.Set("bee", b);
      row.Set("s", s);
      const bool duplicate = taken(a, b, -1);
      EXPECT_EQ(refused([&] { cursor.InsertRecord(row.image.data(), false); }), duplicate);
      if (!duplicate) model[a] = {b, s};
    } else {
      const int32_t position = pick(0, rows - 1);
      stand_on(row, position);
      int32_t old_a = 0;
      bool null = false;
      cursor.GetFieldData(4, row.image.data(), null, &old_a);
      if (kind == 3) {
        SCOPED_TRACE("delete " + std::to_string(old_a));
        cursor.DeleteRecord(row.image.data(), false);
        model.erase(old_a);
      } else {
        // Either key may change; the row may leave the view (a >= 40).
        const int32_t new_a = kind == 1 ? old_a : a;
        SCOPED_TRACE("modify " + std::to_string(old_a) + " to " + std::to_string(new_a) + " " +
                     std::to_string(b));
        ASSERT_EQ(cursor.GetCurrentRecord(row.image.data(), true), 0);
        row.Set("a", new_a);
        row.Set("bee", b);
        row.Set("s", s);
        const bool duplicate = taken(new_a, b, old_a);
        EXPECT_EQ(refused([&] { cursor.ModifyRecord(row.image.data(), true, false); }), duplicate);
        if (duplicate) {
          cursor.UnlockRecord(0);
        } else {
          model.erase(old_a);
          model[new_a] = {b, s};
        }
      }
    }
    ASSERT_EQ(test_support::CursorRows(cursor), view()) << "step " << step;
    ASSERT_EQ(cursor.GetRecordCount(), static_cast<int32_t>(view().size()));
  }

  std::vector<std::pair<int32_t, int32_t>> by_b;
  std::vector<std::pair<std::string, int32_t>> by_s;
  std::vector<int32_t> by_a;
  for (const auto& [a, row] : model) {
    by_a.push_back(a);
    by_b.emplace_back(row.first, a);
    by_s.emplace_back(row.second + "/" + std::to_string(1000 + row.first), a);
  }
  std::sort(by_b.begin(), by_b.end());
  std::sort(by_s.begin(), by_s.end());
  std::vector<int32_t> a_by_b, a_by_s;
  for (const auto& [b, a] : by_b) a_by_b.push_back(a);
  for (const auto& [key, a] : by_s) a_by_s.push_back(a);
  std::vector<int32_t> a_by_b_descending(a_by_b.rbegin(), a_by_b.rend());
  test_support::StatementDatabase& database = tables.database;
  EXPECT_EQ(AValuesByIndex(database, 0), by_a);
  EXPECT_EQ(AValuesByIndex(database, 1), a_by_b);
  EXPECT_EQ(AValuesByIndex(database, 2), a_by_s);
  EXPECT_EQ(AValuesByIndex(database, 3), a_by_b_descending);
  statement.reset();
  const TVerifyReport report = VerifyTableFiles(tables.folder.File("k.DAT"));
  for (const TVerifyProblem& problem : report) ADD_FAILURE() << problem.Text;
}

TEST(LiveResult, ComputedItemsReadTheirMemosWholeAsTheResultTableDoes) {
  test_support::SelectOracle oracle;
  oracle.Add({"q",
              {{"k", kFldInteger}, {"m", kFldBlob}},
              {{"1", "hello world"},
               {"2", "NULL"},
               {"3", "hi"},
               {"4", std::string(3000, 'z') + "tail"},
               {"5", "hum"}}});
  // Each statement as ours, live and as a result table, and as SQLite's.
  const std::pair<const char*, const char*> statements[] = {
      {"SELECT SUBSTRING(m FROM 1 FOR 5) AS x, k FROM q", "SELECT SUBSTR(m, 1, 5), k FROM q"},
      {"SELECT k, SUBSTRING(m FROM 2 FOR 3) AS y FROM q WHERE m LIKE 'h%'",
       "SELECT k, SUBSTR(m, 2, 3) FROM q WHERE m LIKE 'h%'"},
      {"SELECT SUBSTRING(m FROM 2999 FOR 6) AS t FROM q WHERE k = 4",
       "SELECT SUBSTR(m, 2999, 6) FROM q WHERE k = 4"},
  };
  for (const auto& [ours, theirs] : statements) {
    SCOPED_TRACE(ours);
    TQueryStatement statement(oracle.Database().database.session,
                              *oracle.Database().database.directory);
    statement.SetRequestLive(true);
    int32_t consumed = 0;
    statement.Prepare(ours, consumed);
    EXPECT_TRUE(statement.MainQuery()->Live);
    const TextRows live = oracle.Ours(ours, false, true);
    EXPECT_EQ(live, oracle.Ours(ours, false, false));
    EXPECT_EQ(live, oracle.Theirs(theirs));
  }
  EXPECT_EQ(oracle.Ours(statements[0].first, false, true),
            (TextRows{{"hello", "1"}, {"NULL", "2"}, {"hi", "3"}, {"zzzzz", "4"}, {"hum", "5"}}));
}

}  // namespace
}  // namespace jw
