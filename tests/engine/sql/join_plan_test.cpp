// The join plan of a statement: loop order, links with their kinds and
// conditions, per-table filters and residual conditions, after the filters
// are installed (and the optimiser has run unless NOJOINOPTIMIZE is given).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <numeric>
#include <random>

#include "engine/sql/table_join.h"
#include "tests/engine/core/table_peer.h"
#include "tests/engine/sql/select_oracle.h"

namespace jw {
namespace {

using test_support::OracleTable;
using test_support::SelectOracle;

std::string Infix(const TExpToken* node) {
  if (node == nullptr) return "-";
  static const char* const kOps[] = {"",  "IS NULL", "IS NOT NULL", "=",   "<>",  ">",
                                     "<", ">=",      "<=",          "NOT", "AND", "OR"};
  switch (node->Kind) {
    case kTokenColumn:
      return node->TableName + "." + node->ColumnName;
    case kTokenUnary:
      return "(" + node->SourceText + " " + Infix(node->Left) + ")";
    case kTokenBinary:
      if (node->Code <= kOpOr) {
        return "(" + Infix(node->Left) + " " + kOps[node->Code] + " " + Infix(node->Right) + ")";
      }
      return "(" + Infix(node->Left) + " " + node->SourceText + " " + Infix(node->Right) + ")";
    default:
      return node->SourceText;
  }
}

// "order | links | table filters | cross residual | row residual".
std::string Plan(SelectOracle& oracle, const std::string& sql) {
  TQueryStatement statement(oracle.Database().database.session,
                            *oracle.Database().database.directory);
  int32_t consumed = 0;
  statement.Prepare(sql.c_str(), consumed);
  TDataQuery& query = *statement.MainQuery();
  TTokenTree condition;
  if (query.Condition) {
    condition.reset(CopyTokenTree(query.Condition.get()));
    query.BindCondition(condition.get());
  }
  TJoinPlan plan(query);
  plan.Analyse(std::move(condition));
  plan.InstallFilters();
  std::string out;
  for (const TSourceTable* table : plan.Order()) {
    out += (out.empty() ? "" : ",") + table->CorrelationName;
  }
  out += " |";
  for (const auto& link : plan.Links()) {
    out += " " + link->Source->CorrelationName + ">" + link->Target->CorrelationName + ":" +
           std::to_string(link->Kind);
    if (link->Condition) out += Infix(link->Condition.get());
    if (link->Guard) out += " if " + Infix(link->Guard.get());
  }
  out += " |";
  for (const TSourceTable* table : plan.Order()) {
    if (plan.TableCondition(*table) != nullptr) out += " " + Infix(plan.TableCondition(*table));
  }
  return out + " | " + Infix(plan.CrossResidual()) + " | " + Infix(plan.RowResidual());
}

TEST(JoinPlanTest, ConditionsSplitIntoLinksFiltersAndResiduals) {
  SelectOracle oracle;
  // a has the most records, c the fewest: the optimiser prefers c, then b.
  const auto rows = [](int count) {
    test_support::TextRows rows;
    for (int i = 0; i < count; ++i) rows.push_back({"1", "2", "3"});
    return rows;
  };
  const std::vector<std::pair<std::string, uint8_t>> columns = {
      {"x", kFldInteger}, {"y", kFldInteger}, {"z", kFldInteger}};
  oracle.Add(OracleTable{"a", columns, rows(5)});
  oracle.Add(OracleTable{"b", columns, rows(3)});
  oracle.Add(OracleTable{"c", columns, rows(1)});
  const struct {
    const char* sql;
    const char* plan;
  } kCases[] = {
      // A cross product chains the tables.
      {"SELECT * FROM a, b", "a,b | a>b:0 | | - | -"},
      // A WHERE comparison of two tables joins them; the constant goes right.
      {"SELECT * FROM a, b WHERE 5 > a.x AND a.y = b.y NOJOINOPTIMIZE",
       "a,b | a>b:1(a.y = b.y) | (a.x < 5) | - | -"},
      // Written the other way round, the link still runs from a to b.
      {"SELECT * FROM a, b WHERE b.y >= a.x NOJOINOPTIMIZE", "a,b | a>b:1(a.x <= b.y) | | - | -"},
      // The optimiser drives from the smaller b, turning the comparison.
      {"SELECT * FROM a, b WHERE b.y >= a.x", "b,a | b>a:1(b.y >= a.x) | | - | -"},
      // Two links from a, whatever the order of the text.
      {"SELECT * FROM a, b, c WHERE a.x = b.x AND c.y = a.y NOJOINOPTIMIZE",
       "a,b,c | a>b:1(a.x = b.x) a>c:1(a.y = c.y) | | - | -"},
      // b and c become links of c's source b, a the target of c.
      {"SELECT * FROM a, b, c WHERE b.x = c.x AND a.y = c.y NOJOINOPTIMIZE",
       "b,c,a | b>c:1(b.x = c.x) c>a:1(c.y = a.y) | | - | -"},
      // A comparison that would close a cycle is tested per combination.
      {"SELECT * FROM a, b, c WHERE a.x = b.x AND b.y = c.y AND c.z = a.z NOJOINOPTIMIZE",
       "a,b,c | a>b:1(a.x = b.x) b>c:1(b.y = c.y) | | (c.z = a.z) | -"},
      // Disjunctions and expressions over several tables are residual.
      {"SELECT * FROM a, b WHERE a.x = b.x OR a.y = 1",
       "a,b | a>b:0 | | ((a.x = b.x) OR (a.y = 1)) | -"},
      {"SELECT * FROM a, b WHERE a.x + b.y > 3", "a,b | a>b:0 | | ((a.x + b.y) > 3) | -"},
      {"SELECT * FROM a, b WHERE NOT (a.x = b.x AND a.y = 1)",
       "a,b | a>b:0 | | (NOT ((a.x = b.x) AND (a.y = 1))) | -"},
      // A right join is the left join of its other side.
      {"SELECT * FROM a RIGHT JOIN b ON a.x = b.x", "b,a | b>a:2(b.x = a.x) | | - | -"},
      // A left join's ON conditions decide matching only: over the target
      // they filter it, over the preserved side they guard the link; a
      // WHERE condition on the target sees its NULL row.
      {"SELECT * FROM a LEFT JOIN b ON a.x = b.x AND b.y = 2 AND a.z = 3 WHERE b.z IS NULL",
       "a,b | a>b:2(a.x = b.x) if (a.z = 3) | (b.y = 2) | - | (b.z = NULL)"},
      // The optimiser never turns a left join round.
      {"SELECT * FROM a LEFT JOIN c ON a.x = c.x", "a,c | a>c:2(a.x = c.x) | | - | -"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.sql);
    EXPECT_EQ(Plan(oracle, c.sql), c.plan);
  }
}

TEST(JoinPlanTest, BadJoinConditionsAreRefused) {
  SelectOracle oracle;
  const std::vector<std::pair<std::string, uint8_t>> columns = {{"x", kFldInteger},
                                                                {"y", kFldInteger}};
  for (const char* name : {"a", "b", "c"}) oracle.Add(OracleTable{name, columns, {}});
  const struct {
    const char* sql;
    const char* message;
  } kCases[] = {
      {"SELECT * FROM a, b, c WHERE a.x = b.x AND a.y = c.y AND b.y = c.x",
       "Internal join error - table correlation name \"c\" is target of multiple join "
       "conditions in WHERE or JOIN clause"},
      {"SELECT * FROM a, b, c WHERE a.x + b.x = c.x",
       "The join condition cannot contain multiple table correlation names in either the left "
       "or right operand in WHERE or JOIN clause"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.sql);
    try {
      oracle.Ours(c.sql);
      ADD_FAILURE() << "no error";
    } catch (const EQuireEngineError& e) {
      EXPECT_NE(std::string(e.Message()).find(c.message), std::string::npos) << e.Message();
    }
  }
}

// A link on an indexed column seeks its keys; the same statements over a
// twin table without the index walk the filter made per source record,
// whose rows they must give: source expressions converted to the column's
// type, further comparisons of the link, left joins, filtered targets and
// a unique index whose key ends the walk. "$" stands for the joined table.
TEST(JoinPlanTest, KeyedLookupsGiveTheRowsOfTheFilterPerRecord) {
  static const char* const kQueries[] = {
      "SELECT a.k, a.v, $.k, $.v FROM a JOIN $ ON $.k = a.v",
      "SELECT a.k, a.v, $.k, $.v FROM a JOIN $ ON $.k = a.v + 1 AND a.k < $.v",
      "SELECT a.k, a.v, $.k, $.v FROM a JOIN $ ON $.k = a.v / 2",
      "SELECT a.k, a.v, $.k, $.v FROM a LEFT JOIN $ ON a.k = $.k AND $.v > a.v",
      "SELECT a.k, a.v, $.k, $.v FROM a, $ WHERE $.k = a.k AND $.s <> 'a' AND a.v <= $.v",
      "SELECT a.k, a.v, $.k, $.v FROM $, a WHERE a.v = $.k",
  };
  const std::vector<std::pair<std::string, uint8_t>> columns = {
      {"k", kFldInteger}, {"v", kFldInteger}, {"s", kFldString}};
  const int schemas = test_support::Scaled(8);
  for (int schema = 0; schema < schemas; ++schema) {
    const auto seed = static_cast<uint32_t>(7000 + schema);
    std::mt19937 random(seed);
    const auto pick = [&](int low, int high) {
      return std::uniform_int_distribution<int>(low, high)(random);
    };
    const auto number = [&](int low, int high) {
      return pick(1, 10) == 1 ? std::string("NULL") : std::to_string(pick(low, high));
    };
    const auto table = [&](int count, const std::function<std::string(int)>& key) {
      test_support::TextRows rows;
      for (int r = 0; r < count; ++r)
        rows.push_back({key(r), number(-3, 12), pick(0, 1) ? "a" : "b"});
      return rows;
    };
    SelectOracle oracle;
    oracle.Add(OracleTable{"a", columns, table(pick(0, 40), [&](int) { return number(0, 9); })});
    const test_support::TextRows repeated = table(pick(0, 40), [&](int) { return number(0, 9); });
    oracle.Add(OracleTable{"plain", columns, repeated});
    oracle.Add(OracleTable{"keyed", columns, repeated});
    oracle.AddIndex("keyed", 1);
    std::vector<int> keys(20);
    std::iota(keys.begin(), keys.end(), -2);
    std::shuffle(keys.begin(), keys.end(), random);
    const test_support::TextRows distinct =
        table(pick(0, 20), [&](int r) { return std::to_string(keys[static_cast<size_t>(r)]); });
    oracle.Add(OracleTable{"uplain", columns, distinct});
    oracle.Add(OracleTable{"ukeyed", columns, distinct});
    oracle.AddIndex("ukeyed", 1, true);
    for (const char* query : kQueries) {
      for (const auto& [model, keyed] : {std::pair{"plain", "keyed"}, {"uplain", "ukeyed"}}) {
        for (const bool no_optimize : {false, true}) {
          const auto rows = [&](const std::string& name) {
            std::string sql = query;
            for (size_t at; (at = sql.find('$')) != std::string::npos;) sql.replace(at, 1, name);
            auto result = oracle.Ours(sql, no_optimize);
            std::sort(result.begin(), result.end());
            return result;
          };
          SCOPED_TRACE("seed " + std::to_string(seed) + " " + query + " on " + keyed +
                       (no_optimize ? " NOJOINOPTIMIZE" : ""));
          EXPECT_EQ(rows(keyed), rows(model));
          if (HasFailure()) return;
        }
      }
    }
  }
}

// Another process tries to insert a key of the joined table while the join
// runs (at the first progress call, after the first lookup): the statement
// reads one state, so the change is refused for the lock (the peer's lock
// retries lowered) and the join answers the rows as they were. Made
// between two runs, the change is found by the second run's lookups,
// though the first left the joined table's index pages in the cache.
TEST(JoinPlanTest, KeyedLookupsSeeAnotherProcessChangeTheIndex) {
  SelectOracle oracle;
  oracle.Add(OracleTable{"a", {{"k", kFldInteger}}, {{"1"}, {"2"}, {"3"}, {"4"}, {"5"}}});
  test::Peer peer;
  ASSERT_TRUE(peer.Ready());
  const std::string folder = oracle.Database().folder.Path();
  ASSERT_EQ(peer.Ask("create " + folder + " p"), "ok");
  // The peer makes the table, then opens it shared as any user of it would.
  ASSERT_EQ(peer.Ask("close"), "ok");
  ASSERT_EQ(peer.Ask("open " + folder + " p"), "ok");
  ASSERT_EQ(peer.Ask("retries 2"), "ok");
  std::string five;
  for (const char* value : {"1", "2", "3", "5"}) five = peer.Ask(std::string("insert ") + value);
  ASSERT_EQ(five.rfind("ok ", 0), 0u) << five;
  struct Changes {
    test::Peer& peer;
    std::vector<std::string> answers;
  } changes{peer, {}};
  const TSqlProgress progress = [](void* user_data, int32_t count, int32_t, bool&) {
    auto& c = *static_cast<Changes*>(user_data);
    if (count == 1) c.answers.push_back(c.peer.Ask("insert 4"));
  };
  TQueryStatement statement(oracle.Database().database.session,
                            *oracle.Database().database.directory);
  int32_t consumed = 0;
  statement.Prepare("SELECT a.k, p.VALUE FROM a, p WHERE p.VALUE = a.k NOJOINOPTIMIZE", consumed);
  const auto run = [&](TSqlProgress during) {
    statement.Execute(during, &changes);
    test_support::TextRows rows = test_support::CursorRows(*statement.ResultCursor());
    std::sort(rows.begin(), rows.end());
    return rows;
  };
  EXPECT_EQ(run(progress),
            (test_support::TextRows{{"1", "1"}, {"2", "2"}, {"3", "3"}, {"5", "5"}}));
  EXPECT_EQ(changes.answers, (std::vector<std::string>{"err 10249"}));
  EXPECT_EQ(peer.Ask("insert 4").substr(0, 2), "ok");
  EXPECT_EQ(peer.Ask("delete " + five.substr(3) + " 5"), "ok");
  EXPECT_EQ(run(nullptr), (test_support::TextRows{{"1", "1"}, {"2", "2"}, {"3", "3"}, {"4", "4"}}));
  EXPECT_EQ(peer.Ask("close"), "ok");
}

// The shapes where joins went wrong, each answered as the evaluator
// answers it row by row: links between NULLs (= holds for two NULLs), a
// table after a left join without a link, a left join's ON with a bare
// boolean column or a condition over no column, and an inner join's ON
// restriction ahead of a left join.
TEST(JoinPlanTest, NullLinksAndOuterJoinsGiveTheEvaluatorsRows) {
  SelectOracle oracle;
  for (const char* sql :
       {"CREATE TABLE a (id INTEGER, k INTEGER, b BOOLEAN)", "INSERT INTO a VALUES (1, 6, FALSE)",
        "INSERT INTO a VALUES (2, NULL, TRUE)", "CREATE TABLE c (id INTEGER, k INTEGER, b BOOLEAN)",
        "INSERT INTO c VALUES (10, 6, FALSE)", "INSERT INTO c VALUES (20, NULL, TRUE)",
        "INSERT INTO c VALUES (30, 7, TRUE)", "CREATE TABLE e (id INTEGER, k INTEGER)",
        "CREATE TABLE d (id INTEGER, k INTEGER)", "INSERT INTO d VALUES (100, 6)"}) {
    TQueryStatement statement(oracle.Database().database.session,
                              *oracle.Database().database.directory);
    int32_t consumed = 0;
    statement.Prepare(sql, consumed);
    statement.Execute();
  }
  using test_support::TextRows;
  const struct {
    const char* sql;
    TextRows rows;
  } kCases[] = {
      {"SELECT a.id, c.id FROM a, c WHERE c.k = a.k", {{"1", "10"}, {"2", "20"}}},
      {"SELECT a.id, c.id FROM a, c WHERE a.k <> c.k",
       {{"1", "20"}, {"1", "30"}, {"2", "10"}, {"2", "30"}}},
      {"SELECT a.id, c.id FROM a, c WHERE a.k <= c.k", {{"1", "10"}, {"1", "30"}, {"2", "20"}}},
      {"SELECT a.id FROM a WHERE a.k IN (SELECT k FROM c)", {{"1"}, {"2"}}},
      {"SELECT a.id FROM a WHERE a.k NOT IN (SELECT k FROM c)", {}},
      {"SELECT a.id, c.id FROM a LEFT JOIN c ON c.k = a.k AND c.b", {{"1", "NULL"}, {"2", "20"}}},
      {"SELECT a.id, c.id FROM a LEFT JOIN c ON c.k = a.k AND FALSE",
       {{"1", "NULL"}, {"2", "NULL"}}},
      {"SELECT a.id, c.id, e.id FROM a LEFT JOIN c ON c.k = a.k, e", {}},
      {"SELECT a.id, c.id, x.id FROM a LEFT JOIN c ON c.k = a.k AND c.id = 10, a x",
       {{"1", "10", "1"}, {"1", "10", "2"}, {"2", "NULL", "1"}, {"2", "NULL", "2"}}},
      {"SELECT a.id, c.id, d.id FROM a JOIN c ON c.k = a.k AND c.id = 20 LEFT JOIN d ON d.k = c.k",
       {{"2", "20", "NULL"}}},
      // A left join's ON without a comparison of two tables.
      {"SELECT a.id, c.id FROM a LEFT JOIN c ON c.id = 99", {{"1", "NULL"}, {"2", "NULL"}}},
      {"SELECT a.id, c.id FROM a LEFT JOIN c ON a.id = 1 AND c.id = 10",
       {{"1", "10"}, {"2", "NULL"}}},
      {"SELECT a.id, c.id FROM a LEFT JOIN c ON 1 = 0", {{"1", "NULL"}, {"2", "NULL"}}},
      {"SELECT a.id, c.id FROM a RIGHT JOIN c ON 1 = 0",
       {{"NULL", "10"}, {"NULL", "20"}, {"NULL", "30"}}},
      {"SELECT a.id, c.id, x.id FROM a LEFT JOIN c ON c.id > 0 AND 1 = 0, a x "
       "WHERE x.k = c.k AND a.id < x.id",
       {{"1", "NULL", "2"}}},
      // A link that would lift the left join's preserved side past its
      // target is tested per combination.
      {"SELECT a.id, c.id, x.id, d.id FROM a LEFT JOIN c ON c.k = a.k, a x, d "
       "WHERE d.k <> x.k AND a.k <= d.k",
       {{"1", "10", "2", "100"}}},
  };
  for (const auto& c : kCases) {
    for (const bool no_optimize : {false, true}) {
      SCOPED_TRACE(std::string(c.sql) + (no_optimize ? " NOJOINOPTIMIZE" : ""));
      TextRows rows = oracle.Ours(c.sql, no_optimize);
      std::sort(rows.begin(), rows.end());
      EXPECT_EQ(rows, c.rows);
    }
  }
}

// A WHERE clause of 100,000 conjuncts (links, conditions on one table and
// on several) splits without a stack frame per conjunct, and FROM takes
// more tables than a word has bits, linked or not: each query gives the
// rows its conditions leave.
TEST(JoinPlanTest, LongConditionChainsAndManyTablesGiveTheirRows) {
  SelectOracle oracle;
  const std::vector<std::pair<std::string, uint8_t>> columns = {{"x", kFldInteger},
                                                                {"y", kFldInteger}};
  oracle.Add(OracleTable{"a", columns, {{"1", "10"}, {"2", "20"}, {"3", "30"}}});
  oracle.Add(OracleTable{"b", columns, {{"1", "5"}, {"3", "6"}, {"4", "7"}}});
  std::string sql = "SELECT a.x, b.y FROM a, b WHERE a.x = b.x";
  for (int i = 0; i < 100000; ++i) {
    switch (i % 3) {
      case 0:
        sql += " AND a.y <> " + std::to_string(100 + i);
        break;
      case 1:
        sql += " AND b.y < " + std::to_string(8 + i);
        break;
      default:
        sql += " AND (a.y > b.y OR a.x = " + std::to_string(-i) + ")";
    }
  }
  sql += " AND a.y <> 30";
  EXPECT_EQ(oracle.Ours(sql), (test_support::TextRows{{"1", "5"}}));
  // One table of two rows among tables of one row each.
  constexpr int kTables = 200;
  std::string from;
  for (int t = 0; t < kTables; ++t) {
    const std::string name = "t" + std::to_string(t);
    test_support::TextRows rows{{"1", std::to_string(t)}};
    if (t == 0) rows.push_back({"2", "0"});
    oracle.Add(OracleTable{name, columns, rows});
    from += (t == 0 ? "" : ", ") + name;
  }
  const std::string first_66 = from.substr(0, from.find(", t66"));
  const struct {
    std::string sql;
    test_support::TextRows rows;
  } kCases[] = {
      {"SELECT COUNT(*) FROM " + first_66, {{"2"}}},
      {"SELECT COUNT(*), MAX(t65.y) FROM " + first_66 + " WHERE t65.x = t0.x", {{"1", "65"}}},
      {"SELECT COUNT(*), MAX(t199.y) FROM " + from, {{"2", "199"}}},
      {"SELECT COUNT(*) FROM " + from + " WHERE t199.x = t0.x AND t150.y > t100.y", {{"1"}}},
      {"SELECT COUNT(*) FROM " + from + " WHERE t199.x = t0.x AND t150.y < t100.y", {{"0"}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.sql.substr(0, 40));
    EXPECT_EQ(oracle.Ours(c.sql), c.rows);
  }
}

}  // namespace
}  // namespace jw
