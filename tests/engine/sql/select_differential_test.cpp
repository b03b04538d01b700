// Random SELECTs over random tables, run by the engine and by SQLite, must
// give the same rows: joins (inner and left, through WHERE and ON), single-
// and cross-table conditions, DISTINCT, grouping with aggregates and ORDER
// BY. Each run of the engine also runs without join optimisation, which must
// not change the rows, and a query over one table runs asked for live too,
// which hands back the table's own cursor where it can (r1 has an index on
// k, so ORDER BY k may walk it) and must give the same rows. Every other
// schema has k and s indexed in each table, where joins on k seek their
// keys and joins on s collect them.
// Result rows kept in memory and sorted as they go into the result table
// must give the rows, in the same order, that the same rows inserted one by
// one and sorted by the table's record sort give, also when the rows stop
// fitting in memory part way.
// A query over one table, whose rows come from one walk over the table's
// records, gives the same rows in the same order when its cursor moves onto
// each record instead (under strict change detection).
// Conditions with parameters are answered as the same conditions with the
// values written in, with and without indexes.
// Joined columns hold NULLs, which compare as the dialect has it (= holds
// for two NULLs, a NULL text is the empty one): SQLite is asked the same
// with IS and COALESCE, and the engine answers each query also with every
// inner link tested per row combination by the evaluator, which must give
// the rows the links planned give.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <sstream>

#include "engine/sql/select_execution.h"
#include "tests/engine/sql/select_oracle.h"

namespace jw {
namespace {

using test_support::CursorRows;
using test_support::OracleTable;
using test_support::SelectOracle;
using test_support::TextRow;
using test_support::TextRows;

// A condition as the engine is asked it, as SQLite is asked it, and as
// the engine is asked it with its links tested per row combination.
struct Cond {
  std::string ours;
  std::string lite;
  std::string evaluated;
};

Cond Same(const std::string& text) {
  return {text, text, text};
}

Cond operator+(const Cond& a, const Cond& b) {
  return {a.ours + b.ours, a.lite + b.lite, a.evaluated + b.evaluated};
}

struct Generator {
  std::mt19937 random;
  int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }
  bool Chance(int percent) { return Pick(1, 100) <= percent; }

  std::string Value() { return std::to_string(Pick(-5, 5)); }
  std::string Text() {
    static const char* const kTexts[] = {"a", "b", "ab", "ba", "c"};
    return kTexts[Pick(0, 4)];
  }

  // A memo longer than any string column may hold, now and then NULL.
  std::string Memo() {
    if (Chance(10)) return "NULL";
    std::string memo;
    for (int i = Pick(1, 120); i > 0; --i) memo += Text();
    return memo;
  }

  OracleTable Table(const std::string& name, int max_rows) {
    OracleTable table{
        name, {{"k", kFldInteger}, {"v", kFldInteger}, {"s", kFldString}, {"m", kFldBlob}}, {}};
    const int rows = Pick(0, max_rows);
    for (int r = 0; r < rows; ++r) {
      table.rows.push_back({Chance(10) ? "NULL" : std::to_string(Pick(0, 9)), Value(),
                            Chance(10) ? "NULL" : Text(), Memo()});
    }
    return table;
  }

  // A condition that a left join's NULL row fails or passes as in SQL: the
  // engine's comparisons are two-valued (NULL <> 1 holds), so the NULL rows
  // meet only tests whose two-valued and three-valued results agree.
  Cond NullSafe(const std::string& t) {
    switch (Pick(0, 2)) {
      case 0:
        return Same(t + ".v IS NULL");
      case 1:
        return Same(t + ".v = " + Value());
      default:
        return Same(t + ".s = '" + Text() + "'");
    }
  }

  // Bounds of k alone: a driving table whose condition they are walks them
  // as a range of its index on k where it has one.
  std::string KeyBounds(const std::string& t) {
    const std::string k = t + ".k";
    const int low = Pick(0, 5);
    switch (Pick(0, 3)) {
      case 0:
        return k + " <= " + std::to_string(low);
      case 1:
        return k + " >= " + std::to_string(low);
      case 2:
        return k + " = " + std::to_string(low);
      default:
        return k + " >= " + std::to_string(low) + " AND " + k +
               " <= " + std::to_string(Pick(low - 1, 5));
    }
  }

  // A condition over one table; sub-selects belong to WHERE only.
  Cond Single(const std::string& t, bool sub_select = false) {
    switch (Pick(0, sub_select ? 11 : 9)) {
      case 10: {
        // <> holds for a NULL text: SQLite's IS NOT.
        const std::string sub =
            t + ".k IN (SELECT " + t + ".v + 3 FROM " + t + " WHERE " + t + ".s";
        const std::string text = " '" + Text() + "')";
        return {sub + " <>" + text, sub + " IS NOT" + text, sub + " <>" + text};
      }
      case 11: {
        // k holds NULLs: a NULL k is in a sub-select that yields a NULL.
        const std::string v = Value();
        const bool in = Chance(60);
        const std::string ours = t + ".k " + (in ? "IN" : "NOT IN") + " (SELECT " + t + ".k FROM " +
                                 t + " WHERE " + t + ".v > " + v + ")";
        return {ours,
                std::string(in ? "" : "NOT ") + "EXISTS (SELECT 1 FROM " + t +
                    " AS q WHERE q.k IS " + t + ".k AND q.v > " + v + ")",
                ours};
      }
      case 0:
        return Same(t + ".v > " + Value());
      case 1:
        return Same(t + ".v = " + Value());
      case 2:
        return Same(t + ".s = '" + Text() + "'");
      case 3:
        return Same(t + ".s LIKE '" + Text().substr(0, 1) + "%'");
      case 4:
        return Same(t + ".v IS NULL");
      case 5:
        return Same(t + ".v BETWEEN " + Value() + " AND " + Value());
      case 6:
        return Same("NOT (" + t + ".v < " + Value() + ")");
      case 7:
        return Same("(" + t + ".v < " + Value() + " OR " + t + ".s = '" + Text() + "')");
      case 8:
        return Same(Chance(50) ? Value() + " > " + t + ".k" : KeyBounds(t));
      default:
        return Same(t + ".v <> " + Value());
    }
  }

  // A comparison of a column of two tables as a link: k (integers with
  // NULLs) by any operator, or s (texts with NULLs) by = or an order.
  Cond Link(const std::string& a, const std::string& b, bool evaluated) {
    static const char* const kOps[] = {"=", "=", "=", "<>", "<", "<=", ">", ">="};
    const std::string op = kOps[Pick(0, 7)];
    const bool text = Chance(20);
    const std::string x = a + (text ? ".s" : ".k");
    const std::string y = b + (text ? ".s" : ".k");
    const std::string ours = x + " " + op + " " + y;
    std::string lite;
    if (op == "=" || op == "<>") {
      lite = x + (op == "=" ? " IS " : " IS NOT ") + y;
    } else if (text) {
      lite = "COALESCE(" + x + ", '') " + op + " COALESCE(" + y + ", '')";
    } else if (op == "<=" || op == ">=") {
      // Two NULLs compare as equal.
      lite = "(" + ours + " OR (" + x + " IS NULL AND " + y + " IS NULL))";
    } else {
      lite = ours;
    }
    return {ours, lite, evaluated ? "(" + ours + " OR 1 = 0)" : ours};
  }

  // A condition over two tables.
  Cond Cross(const std::string& a, const std::string& b) {
    switch (Pick(0, 3)) {
      case 0:
        return Same(a + ".v < " + b + ".v");
      case 1:
        return Same(a + ".v + " + b + ".v > " + Value());
      case 2:
        return Same("(" + a + ".v = " + Value() + " OR " + b + ".s = '" + Text() + "')");
      default:
        return Link(a, b, false);
    }
  }
};

struct Query {
  Cond head;  // SELECT ... FROM ...
  std::vector<Cond> where;
  Cond tail;              // GROUP BY, HAVING or ORDER BY
  int order_columns = 0;  // the leading result columns ORDER BY sorts on
  bool one_table = false;

  std::string Text(std::string Cond::*form) const {
    std::string sql = head.*form;
    for (size_t w = 0; w < where.size(); ++w) {
      sql += (w == 0 ? " WHERE " : " AND ") + where[w].*form;
    }
    return sql + tail.*form;
  }
  std::string Sql() const { return Text(&Cond::ours); }
};

Query MakeQuery(Generator& g, int tables) {
  std::vector<std::string> names;
  for (int i = 1; i <= tables; ++i) names.push_back("r" + std::to_string(i));
  std::vector<std::string> inner{names[0]};  // tables that are no left join's target
  std::vector<std::string> left;
  std::vector<Cond> where;
  Cond from = Same(names[0]);
  for (int i = 1; i < tables; ++i) {
    const std::string& t = names[i];
    // Now and then a link from a left join's target, whose NULL row it
    // then meets.
    const std::string& s =
        !left.empty() && g.Chance(25)
            ? left[static_cast<size_t>(g.Pick(0, static_cast<int>(left.size()) - 1))]
            : inner[static_cast<size_t>(g.Pick(0, static_cast<int>(inner.size()) - 1))];
    const bool turned = g.Chance(50);
    const auto link = [&](bool evaluated) {
      return turned ? g.Link(s, t, evaluated) : g.Link(t, s, evaluated);
    };
    switch (g.Pick(0, left.empty() ? 2 : 3)) {
      case 0:
        from = from + Same(", " + t);
        where.push_back(link(true));
        inner.push_back(t);
        break;
      case 1:
        // An inner join's own restriction stays with it.
        from = from + Same(" JOIN " + t + " ON ") + link(true) +
               (g.Chance(30) ? Same(" AND ") + g.Single(t) : Same(""));
        inner.push_back(t);
        break;
      case 2: {
        static const char* const kFalse[] = {"1 = 0", "'x' LIKE 'y'", "1 = 1"};
        // Now and then without a link: each row so far meets the records
        // of t that pass, or its NULL row.
        const Cond on =
            g.Chance(15) ? (g.Chance(50) ? g.Single(t) : Same(kFalse[g.Pick(0, 2)])) : link(false);
        from = from + Same(" LEFT JOIN " + t + " ON ") + on +
               (g.Chance(30) ? Same(" AND ") + g.Single(t) : Same("")) +
               (g.Chance(15) ? Same(std::string(" AND ") + kFalse[g.Pick(0, 2)]) : Same(""));
        if (g.Chance(30)) where.push_back(g.NullSafe(t));
        left.push_back(t);
        break;
      }
      default:
        // After an outer join, a table joined to every row so far.
        from = from + Same(", " + t);
        inner.push_back(t);
        break;
    }
  }
  for (int c = g.Pick(0, 2); c > 0; --c) {
    const std::string& t = names[static_cast<size_t>(g.Pick(0, tables - 1))];
    where.push_back(std::count(left.begin(), left.end(), t) > 0 ? g.NullSafe(t)
                                                                : g.Single(t, true));
  }
  if (inner.size() > 1 && g.Chance(40)) {
    where.push_back(g.Cross(
        inner[0], inner[static_cast<size_t>(g.Pick(1, static_cast<int>(inner.size()) - 1))]));
  }
  const auto column = [&] {
    static const char* const kColumns[] = {"k", "v", "s"};
    return names[static_cast<size_t>(g.Pick(0, tables - 1))] + "." + kColumns[g.Pick(0, 2)];
  };
  const auto number = [&] {
    return names[static_cast<size_t>(g.Pick(0, tables - 1))] + (g.Chance(50) ? ".v" : ".k");
  };
  Query query;
  Cond select = Same("SELECT ");
  Cond tail = Same("");
  switch (g.Pick(0, 3)) {
    case 0:
    case 1: {  // plain columns, maybe DISTINCT, maybe ordered
      const bool distinct = g.Chance(30);
      if (distinct) select = select + Same("DISTINCT ");
      const int count = g.Pick(1, 4);
      for (int c = 0; c < count; ++c) {
        select =
            select + Same((c > 0 ? ", " : "") + (g.Chance(15) ? number() + " * 2 + 1" : column()));
      }
      if (g.Chance(50)) {
        query.order_columns = g.Pick(1, count);
        tail = Same(" ORDER BY ");
        for (int c = 1; c <= query.order_columns; ++c) {
          tail =
              tail + Same((c > 1 ? ", " : "") + std::to_string(c) + (g.Chance(30) ? " DESC" : ""));
        }
      }
      // Memos neither sort nor compare: they only come along, last.
      for (int c = distinct ? 0 : g.Pick(0, 2); c > 0; --c) {
        select = select + Same(", " + names[static_cast<size_t>(g.Pick(0, tables - 1))] + ".m");
      }
      break;
    }
    case 2: {  // grouped, maybe with HAVING on an aggregate of the list
      const std::string key = column();
      // An average without values is 0.
      const std::string average = "AVG(" + number() + ")";
      const Cond avg{average, "COALESCE(" + average + ", 0)", average};
      const Cond aggregates[] = {Same("SUM(" + number() + ")"), Same("MIN(" + number() + ")"),
                                 Same("MAX(" + number() + ")"), Same("COUNT(" + column() + ")"),
                                 avg};
      select = select + Same(key + ", COUNT(*)");
      for (const Cond& aggregate : aggregates) select = select + Same(", ") + aggregate;
      tail = Same(" GROUP BY " + key);
      if (g.Chance(50)) {
        tail = tail + Same(" HAVING ") + aggregates[g.Pick(0, 4)] +
               Same((g.Chance(50) ? " > " : " < ") + std::to_string(g.Pick(-3, 6)) + ".5");
      }
      break;
    }
    default:  // one row of aggregates
      select = select + Same(g.Chance(30) ? "COUNT(*)"
                                          : "COUNT(*), SUM(" + number() + "), MIN(" + number() +
                                                "), COUNT(" + column() + ")");
      break;
  }
  query.head = select + Same(" FROM ") + from;
  query.one_table = tables == 1;
  query.where = where;
  query.tail = tail;
  return query;
}

std::string Show(const TextRows& rows) {
  std::ostringstream out;
  for (const TextRow& row : rows) {
    for (const std::string& value : row) out << value << "|";
    out << "\n";
  }
  return out.str();
}

TextRows Keys(const TextRows& rows, int columns) {
  TextRows keys;
  for (const TextRow& row : rows) keys.emplace_back(row.begin(), row.begin() + columns);
  return keys;
}

// What differs between the engine's rows, its rows without join
// optimisation, its rows through inserts, and SQLite's; empty when they
// agree.
std::string Difference(SelectOracle& oracle, const Query& query) {
  TextRows theirs = oracle.Theirs(query.Text(&Cond::lite));
  TextRows ours;
  TextRows unoptimised;
  TextRows evaluated;
  TextRows live;
  TextRows inserted;
  TextRows moved;
  try {
    ours = oracle.Ours(query.Sql());
    unoptimised = oracle.Ours(query.Sql(), true);
    evaluated = oracle.Ours(query.Text(&Cond::evaluated));
    if (query.one_table) {
      // Strict change detection moves the table's cursor record by record
      // instead of reading its records in one walk: the same rows in the
      // same order.
      TDataSession& session = oracle.Database().database.session;
      session.SetStrictChangeDetection(true);
      try {
        moved = oracle.Ours(query.Sql());
      } catch (...) {
        session.SetStrictChangeDetection(false);
        throw;
      }
      session.SetStrictChangeDetection(false);
    }
    if (query.one_table) live = oracle.Ours(query.Sql(), false, true);
    // Room for no row, or for a few.
    const TScopedResultRowsLimit limit(query.Sql().size() % 2 == 0 ? 0 : 200);
    inserted = oracle.Ours(query.Sql());
  } catch (const std::exception& e) {
    return e.what();
  }
  if (inserted != ours) return "inserted rows:\n" + Show(inserted) + "in memory:\n" + Show(ours);
  if (query.one_table && moved != ours) {
    return "rows moved onto:\n" + Show(moved) + "walked:\n" + Show(ours);
  }
  const auto order_differs = [&](const TextRows& rows) {
    return query.order_columns > 0 &&
           Show(Keys(rows, query.order_columns)) != Show(Keys(theirs, query.order_columns));
  };
  if (order_differs(ours)) return "order:\n" + Show(ours) + "SQLite:\n" + Show(theirs);
  if (query.one_table && order_differs(live)) return "live order:\n" + Show(live);
  std::sort(ours.begin(), ours.end());
  std::sort(unoptimised.begin(), unoptimised.end());
  std::sort(evaluated.begin(), evaluated.end());
  std::sort(live.begin(), live.end());
  std::sort(theirs.begin(), theirs.end());
  if (ours != theirs) return "rows:\n" + Show(ours) + "SQLite:\n" + Show(theirs);
  if (unoptimised != theirs) return "NOJOINOPTIMIZE rows:\n" + Show(unoptimised);
  if (evaluated != theirs) return "rows with links evaluated:\n" + Show(evaluated);
  if (query.one_table && live != theirs) return "live rows:\n" + Show(live);
  return std::string();
}

// Drops WHERE conditions and ORDER BY while the difference stays.
Query Reduced(SelectOracle& oracle, Query query) {
  for (size_t w = query.where.size(); w-- > 0;) {
    Query smaller = query;
    smaller.where.erase(smaller.where.begin() + static_cast<std::ptrdiff_t>(w));
    if (!Difference(oracle, smaller).empty()) query = smaller;
  }
  if (query.order_columns > 0) {
    Query unordered = query;
    unordered.tail = Same("");
    unordered.order_columns = 0;
    if (!Difference(oracle, unordered).empty()) query = unordered;
  }
  return query;
}

TEST(SelectDifferentialTest, RandomSelectsGiveSQLitesRows) {
  const int runs = test_support::Scaled(1500);
  const int queries_per_schema = 25;
  for (int schema = 0; schema * queries_per_schema < runs; ++schema) {
    const uint32_t seed = 1000 + static_cast<uint32_t>(schema);
    Generator g{std::mt19937(seed)};
    const int tables = g.Pick(2, 4);
    static const int kMaxRows[] = {0, 0, 200, 50, 20};
    SelectOracle oracle;
    for (int i = 1; i <= tables; ++i)
      oracle.Add(g.Table("r" + std::to_string(i), kMaxRows[tables]));
    oracle.AddIndex("r1", 1);
    // Every other schema indexes k everywhere, so that joins look their
    // matches up by key, also on left joins' targets and filtered tables,
    // and s, whose joins (with NULLs) collect their matches from its keys.
    for (int i = 1; schema % 2 == 1 && i <= tables; ++i) {
      if (i > 1) oracle.AddIndex("r" + std::to_string(i), 1);
      oracle.AddIndex("r" + std::to_string(i), 3);
    }
    for (int q = 0; q < queries_per_schema; ++q) {
      const Query query = MakeQuery(g, g.Pick(1, tables));
      const std::string difference = Difference(oracle, query);
      if (difference.empty()) continue;
      const Query reduced = Reduced(oracle, query);
      FAIL() << "seed " << seed << " query " << q << ": " << query.Sql()
             << "\nreduced: " << reduced.Sql() << "\n"
             << Difference(oracle, reduced);
    }
  }
}

// Integers near the ends of their range: sums, differences, products and
// sums of them wrap at 32 bits as the engine's integer arithmetic does, in
// select items, conditions, groups and aggregates over one table or two.
// SQLite computes in 64 bits; its answer is taken modulo 2^32 into the
// 32-bit range (its products before they are summed, so that no sum leaves
// its 64 bits).
TEST(SelectDifferentialTest, IntegerArithmeticPastTheRangeWrapsAt32Bits) {
  const auto wrapped = [](const std::string& x) {
    return "(((" + x + ") % 4294967296 + 6442450944) % 4294967296 - 2147483648)";
  };
  const struct {
    std::string ours;
    std::string theirs;
  } kShapes[] = {
      {"SELECT k, SUM(v), SUM(w) FROM b1 GROUP BY k",
       "SELECT k, " + wrapped("SUM(v)") + ", " + wrapped("SUM(w)") + " FROM b1 GROUP BY k"},
      {"SELECT SUM(v), COUNT(*), SUM(v * w) FROM b1",
       "SELECT " + wrapped("SUM(v)") + ", COUNT(*), " + wrapped("SUM(" + wrapped("v * w") + ")") +
           " FROM b1"},
      {"SELECT k, v + w, v - w, v * w FROM b1", "SELECT k, " + wrapped("v + w") + ", " +
                                                    wrapped("v - w") + ", " + wrapped("v * w") +
                                                    " FROM b1"},
      {"SELECT k, v FROM b1 WHERE v + w > 0",
       "SELECT k, v FROM b1 WHERE " + wrapped("v + w") + " > 0"},
      {"SELECT b1.k, SUM(b1.v + b2.w) FROM b1, b2 WHERE b1.k = b2.k GROUP BY b1.k",
       "SELECT b1.k, " + wrapped("SUM(" + wrapped("b1.v + b2.w") + ")") +
           " FROM b1, b2 WHERE b1.k = b2.k GROUP BY b1.k"},
  };
  static const int64_t kEnds[] = {2147483647, -2147483647 - 1, 2147483000, -2147483000,
                                  65536,      46341,           -1,         0};
  const int runs = test_support::Scaled(20);
  for (int run = 0; run < runs; ++run) {
    const uint32_t seed = 9000 + static_cast<uint32_t>(run);
    Generator g{std::mt19937(seed)};
    const auto value = [&] {
      if (g.Chance(10)) return std::string("NULL");
      if (g.Chance(60)) return std::to_string(kEnds[g.Pick(0, 7)]);
      return std::to_string(g.Pick(-2147483647, 2147483647));
    };
    SelectOracle oracle;
    for (const char* name : {"b1", "b2"}) {
      OracleTable table{name, {{"k", kFldInteger}, {"v", kFldInteger}, {"w", kFldInteger}}, {}};
      for (int r = g.Pick(0, 40); r > 0; --r) {
        table.rows.push_back({std::to_string(g.Pick(0, 3)), value(), value()});
      }
      oracle.Add(table);
    }
    for (const auto& shape : kShapes) {
      SCOPED_TRACE("seed " + std::to_string(seed) + ": " + shape.ours);
      TextRows ours = oracle.Ours(shape.ours);
      TextRows theirs = oracle.Theirs(shape.theirs);
      std::sort(ours.begin(), ours.end());
      std::sort(theirs.begin(), theirs.end());
      EXPECT_EQ(Show(ours), Show(theirs));
    }
    if (HasFailure()) return;
  }
}

// A parameter's value: an integer, a string or NULL, and its text when
// written into a statement ('' is the NULL constant).
struct ParamValue {
  uint8_t type = kFldInteger;
  bool null = false;
  int32_t number = 0;
  std::string text;

  std::string Written() const {
    if (null) return "''";
    return type == kFldString ? "'" + text + "'" : std::to_string(number);
  }
};

// A random condition over k (integer, indexed), s (string 10, indexed) and
// v (integer), once with "?" markers and once with the values written in.
struct ParamCondition {
  std::string marked;
  std::string written;
  std::vector<ParamValue> params;
};

struct ParamGenerator {
  Generator& g;

  ParamValue Value(uint8_t type) {
    ParamValue value;
    value.type = type;
    value.null = g.Chance(8);
    value.number = g.Pick(-2, 11);
    // Some texts are longer than the column, whose index cannot hold them.
    static const char* const kTexts[] = {"a", "b", "ab", "ba", "c", "abcdefghijkl"};
    value.text = kTexts[g.Pick(0, 5)];
    return value;
  }
  void Add(ParamCondition& c, const std::string& text) {
    c.marked += text;
    c.written += text;
  }
  void Add(ParamCondition& c, const ParamValue& value) {
    c.marked += "?";
    c.written += value.Written();
    c.params.push_back(value);
  }

  void Leaf(ParamCondition& c) {
    static const char* const kColumns[] = {"k", "s", "v"};
    const std::string column = kColumns[g.Pick(0, 2)];
    const uint8_t type = column == "s" ? kFldString : kFldInteger;
    static const char* const kComparisons[] = {" = ", " <> ", " < ", " <= ", " > ", " >= "};
    switch (g.Pick(0, 4)) {
      case 0:
      case 1: {
        // The NULL constant is written only where it may stand: right of
        // = and <>.
        const int comparison = g.Pick(0, 5);
        ParamValue value = Value(type);
        if (g.Chance(20)) {  // the parameter on the left
          value.null = false;
          Add(c, value);
          Add(c, std::string(kComparisons[comparison]) + column);
          return;
        }
        value.null = value.null && comparison < 2;
        Add(c, column + kComparisons[comparison]);
        Add(c, value);
        return;
      }
      case 2: {
        Add(c, column + (g.Chance(30) ? " NOT IN (" : " IN ("));
        for (int i = g.Pick(1, 3); i > 0; --i) {
          Add(c, Value(type));
          if (i > 1) Add(c, ", ");
        }
        Add(c, ")");
        return;
      }
      case 3: {
        ParamValue low = Value(type);
        ParamValue high = Value(type);
        // The written-in form refuses a NULL bound; the parameter's is typed.
        low.null = high.null = false;
        Add(c, column + (g.Chance(30) ? " NOT BETWEEN " : " BETWEEN "));
        Add(c, low);
        Add(c, " AND ");
        Add(c, high);
        return;
      }
      default:
        Add(c, column + (g.Chance(50) ? " IS NULL" : " IS NOT NULL"));
        return;
    }
  }

  void Condition(ParamCondition& c, int depth) {
    if (depth == 0 || g.Chance(40)) return Leaf(c);
    if (g.Chance(15)) {
      Add(c, "NOT (");
      Condition(c, depth - 1);
      Add(c, ")");
      return;
    }
    Add(c, "(");
    Condition(c, depth - 1);
    Add(c, g.Chance(50) ? " AND " : " OR ");
    Condition(c, depth - 1);
    Add(c, ")");
  }
};

// Gives the statement's parameters the values, each in its own slot of a
// flag byte and the value in record form (a string without a zero byte
// after it where the length says so).
void BindValues(TQueryStatement& statement, const std::vector<ParamValue>& params) {
  if (params.empty()) return;
  constexpr int32_t kSlot = kParamFlagSize + 16;
  std::vector<uint8_t> descriptors(params.size() * kFieldDescriptorSize);
  std::vector<uint8_t> values(params.size() * kSlot);
  for (size_t i = 0; i < params.size(); ++i) {
    const ParamValue& param = params[i];
    FieldDescriptor field;
    field.Number = static_cast<int16_t>(i + 1);
    field.Type = param.type;
    // Every other string comes without its closing zero byte.
    field.PhysicalLength = static_cast<uint8_t>(
        param.type == kFldString ? param.text.size() + (i % 2 == 0 ? 1 : 0) : 4);
    field.Offset = static_cast<uint16_t>(i * kSlot);
    field.EncodeTo(descriptors.data() + i * kFieldDescriptorSize);
    uint8_t* slot = values.data() + i * kSlot;
    slot[0] = param.null ? 0 : 1;
    if (param.type == kFldString) {
      std::memcpy(slot + kParamFlagSize, param.text.c_str(), param.text.size() + 1);
    } else {
      std::memcpy(slot + kParamFlagSize, &param.number, sizeof param.number);
    }
  }
  statement.BindParams(static_cast<int32_t>(params.size()), descriptors.data(), values.data());
}

struct ParamRun {
  TextRows rows;
  int64_t filter_reads = 0;
};

// The rows of SELECT k, s, v FROM table WHERE condition, and how many
// records the table's filter read to answer it; with parameters, the
// statement has run once before with other values.
ParamRun RunWhere(SelectOracle& oracle, const std::string& table, const std::string& condition,
                  const std::vector<ParamValue>& params) {
  const std::string sql = "SELECT k, s, v FROM " + table + " WHERE " + condition;
  TQueryStatement statement(oracle.Database().database.session,
                            *oracle.Database().database.directory);
  int32_t consumed = 0;
  statement.Prepare(sql.c_str(), consumed);
  if (!params.empty()) {
    // A first run with other values, longer texts among them, which the
    // run that counts must not see.
    std::vector<ParamValue> others = params;
    for (ParamValue& other : others) {
      other.null = false;
      other.number = 7;
      other.text = "abcdefghijkl";
    }
    BindValues(statement, others);
    statement.Execute();
  }
  const TDataCursor& cursor = *statement.MainQuery()->SourceTables[0]->Cursor;
  const int64_t reads = cursor.FilterRecordReads();
  BindValues(statement, params);
  statement.Execute();
  ParamRun run;
  run.rows = CursorRows(*statement.ResultCursor());
  std::sort(run.rows.begin(), run.rows.end());
  run.filter_reads = cursor.FilterRecordReads() - reads;
  return run;
}

void RunDefinition(SelectOracle& oracle, const std::string& sql) {
  TQueryStatement statement(oracle.Database().database.session,
                            *oracle.Database().database.directory);
  int32_t consumed = 0;
  statement.Prepare(sql.c_str(), consumed);
  statement.Execute();
}

TEST(SelectDifferentialTest, ParameterConditionsGiveTheRowsOfTheirValuesWrittenIn) {
  const int runs = test_support::Scaled(300);
  const int conditions_per_table = 30;
  for (int round = 0; round * conditions_per_table < runs; ++round) {
    const uint32_t seed = 5000 + static_cast<uint32_t>(round);
    Generator g{std::mt19937(seed)};
    OracleTable rows = g.Table("plain", 300);
    for (TextRow& row : rows.rows) {
      if (g.Chance(8)) row[1] = "NULL";
      if (g.Chance(8)) row[2] = "NULL";
    }
    SelectOracle oracle;
    oracle.Add(rows);
    rows.name = "indexed";
    oracle.Add(rows);
    RunDefinition(oracle, "CREATE INDEX byk ON indexed (k)");
    RunDefinition(oracle, "CREATE INDEX bys ON indexed (s)");
    ParamGenerator maker{g};
    for (int q = 0; q < conditions_per_table; ++q) {
      ParamCondition c;
      maker.Condition(c, 3);
      SCOPED_TRACE("seed " + std::to_string(seed) + " condition " + c.marked + "  values " +
                   c.written);
      const ParamRun brute = RunWhere(oracle, "plain", c.written, {});
      const ParamRun bound = RunWhere(oracle, "indexed", c.marked, c.params);
      EXPECT_EQ(bound.rows, brute.rows);
      EXPECT_EQ(RunWhere(oracle, "plain", c.marked, c.params).rows, brute.rows);
      const ParamRun written = RunWhere(oracle, "indexed", c.written, {});
      EXPECT_EQ(written.rows, brute.rows);
      // Bound values reach the indexes as written-in ones do. A negative
      // number written in is a sign before a constant, which no index takes.
      if (c.written.find('-') == std::string::npos) {
        EXPECT_EQ(bound.filter_reads, written.filter_reads);
      }
      if (HasFailure()) return;
    }
    // A key looked up through a parameter reads no record to find it.
    for (const int32_t key : {0, 5, 42}) {
      ParamValue value;
      value.number = key;
      const ParamRun point = RunWhere(oracle, "indexed", "k = ?", {value});
      EXPECT_EQ(point.filter_reads, 0);
      EXPECT_EQ(point.rows, RunWhere(oracle, "plain", "k = " + std::to_string(key), {}).rows);
    }
  }
}

}  // namespace
}  // namespace jw
