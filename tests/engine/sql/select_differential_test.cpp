// Random SELECTs over random tables, run by the engine and by SQLite, must
// give the same rows: joins (inner and left, through WHERE and ON), single-
// and cross-table conditions, DISTINCT, grouping with aggregates and ORDER
// BY. Each run of the engine also runs without join optimisation, which must
// not change the rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

#include "tests/engine/sql/select_oracle.h"

namespace jw {
namespace {

using test_support::OracleTable;
using test_support::SelectOracle;
using test_support::TextRow;
using test_support::TextRows;

struct Generator {
  std::mt19937 random;
  int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }
  bool Chance(int percent) { return Pick(1, 100) <= percent; }

  std::string Value() { return std::to_string(Pick(-5, 5)); }
  std::string Text() {
    static const char* const kTexts[] = {"a", "b", "ab", "ba", "c"};
    return kTexts[Pick(0, 4)];
  }

  OracleTable Table(const std::string& name, int max_rows) {
    OracleTable table{name, {{"k", kFldInteger}, {"v", kFldInteger}, {"s", kFldString}}, {}};
    const int rows = Pick(0, max_rows);
    for (int r = 0; r < rows; ++r) {
      table.rows.push_back({Chance(10) ? "NULL" : std::to_string(Pick(0, 9)), Value(), Text()});
    }
    return table;
  }

  // A condition that a left join's NULL row fails or passes as in SQL: the
  // engine's comparisons are two-valued (NULL <> 1 holds), so the NULL rows
  // meet only tests whose two-valued and three-valued results agree.
  std::string NullSafe(const std::string& t) {
    switch (Pick(0, 2)) {
      case 0:
        return t + ".v IS NULL";
      case 1:
        return t + ".v = " + Value();
      default:
        return t + ".s = '" + Text() + "'";
    }
  }

  // A condition over one table.
  std::string Single(const std::string& t) {
    switch (Pick(0, 9)) {
      case 0:
        return t + ".v > " + Value();
      case 1:
        return t + ".v = " + Value();
      case 2:
        return t + ".s = '" + Text() + "'";
      case 3:
        return t + ".s LIKE '" + Text().substr(0, 1) + "%'";
      case 4:
        return t + ".v IS NULL";
      case 5:
        return t + ".v BETWEEN " + Value() + " AND " + Value();
      case 6:
        return "NOT (" + t + ".v < " + Value() + ")";
      case 7:
        return "(" + t + ".v < " + Value() + " OR " + t + ".s = '" + Text() + "')";
      case 8:
        return Value() + " > " + t + ".k";
      default:
        return t + ".v <> " + Value();
    }
  }

  // A condition over two tables.
  std::string Cross(const std::string& a, const std::string& b) {
    switch (Pick(0, 3)) {
      case 0:
        return a + ".v < " + b + ".v";
      case 1:
        return a + ".v + " + b + ".v > " + Value();
      case 2:
        return "(" + a + ".v = " + Value() + " OR " + b + ".s = '" + Text() + "')";
      default:
        return a + ".s = " + b + ".s";
    }
  }
};

struct Query {
  std::string sql;
  int order_columns = 0;  // the leading result columns ORDER BY sorts on
};

Query MakeQuery(Generator& g, int tables) {
  std::vector<std::string> names;
  for (int i = 1; i <= tables; ++i) names.push_back("r" + std::to_string(i));
  std::vector<std::string> inner{names[0]};  // tables that are no left join's target
  std::vector<std::string> left;
  std::vector<std::string> where;
  std::string from = names[0];
  for (int i = 1; i < tables; ++i) {
    const std::string& t = names[i];
    const std::string& s =
        inner[static_cast<size_t>(g.Pick(0, static_cast<int>(inner.size()) - 1))];
    const std::string link = g.Chance(50) ? s + ".k = " + t + ".k" : t + ".k = " + s + ".k";
    switch (g.Pick(0, 2)) {
      case 0:
        from += ", " + t;
        where.push_back(link);
        inner.push_back(t);
        break;
      case 1:
        from += " JOIN " + t + " ON " + link;
        inner.push_back(t);
        break;
      default:
        from += " LEFT JOIN " + t + " ON " + link + (g.Chance(30) ? " AND " + g.Single(t) : "");
        if (g.Chance(30)) where.push_back(g.NullSafe(t));
        left.push_back(t);
        break;
    }
  }
  for (int c = g.Pick(0, 2); c > 0; --c) {
    const std::string& t = names[static_cast<size_t>(g.Pick(0, tables - 1))];
    where.push_back(std::count(left.begin(), left.end(), t) > 0 ? g.NullSafe(t) : g.Single(t));
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
  std::string select = "SELECT ";
  std::string tail;
  switch (g.Pick(0, 3)) {
    case 0:
    case 1: {  // plain columns, maybe DISTINCT, maybe ordered
      if (g.Chance(30)) select += "DISTINCT ";
      const int count = g.Pick(1, 4);
      for (int c = 0; c < count; ++c) {
        select += (c > 0 ? ", " : "") + (g.Chance(15) ? number() + " * 2 + 1" : column());
      }
      if (g.Chance(50)) {
        query.order_columns = g.Pick(1, count);
        tail = " ORDER BY ";
        for (int c = 1; c <= query.order_columns; ++c) {
          tail += (c > 1 ? ", " : "") + std::to_string(c) + (g.Chance(30) ? " DESC" : "");
        }
      }
      break;
    }
    case 2: {  // grouped
      const std::string key = column();
      select += key + ", COUNT(*), SUM(" + number() + "), MIN(" + number() + "), MAX(" + number() +
                "), COUNT(" + column() + ")";
      tail = " GROUP BY " + key;
      break;
    }
    default:  // one row of aggregates
      select += g.Chance(30) ? "COUNT(*)"
                             : "COUNT(*), SUM(" + number() + "), MIN(" + number() + "), COUNT(" +
                                   column() + ")";
      break;
  }
  query.sql = select + " FROM " + from;
  for (size_t w = 0; w < where.size(); ++w) query.sql += (w == 0 ? " WHERE " : " AND ") + where[w];
  query.sql += tail;
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

TEST(SelectDifferentialTest, RandomSelectsGiveSQLitesRows) {
  const int runs = test_support::Scaled(1500);
  const int queries_per_schema = 25;
  for (int schema = 0; schema * queries_per_schema < runs; ++schema) {
    const uint32_t seed = 1000 + static_cast<uint32_t>(schema);
    Generator g{std::mt19937(seed)};
    const int tables = g.Pick(2, 4);
    static const int kMaxRows[] = {0, 0, 200, 50, 20};
    SelectOracle oracle;
    std::vector<OracleTable> made;
    for (int i = 1; i <= tables; ++i) {
      made.push_back(g.Table("r" + std::to_string(i), kMaxRows[tables]));
      oracle.Add(made.back());
    }
    for (int q = 0; q < queries_per_schema; ++q) {
      const Query query = MakeQuery(g, g.Pick(1, tables));
      SCOPED_TRACE("seed " + std::to_string(seed) + " query " + std::to_string(q) + ": " +
                   query.sql);
      TextRows theirs = oracle.Theirs(query.sql);
      TextRows ours;
      TextRows unoptimised;
      try {
        ours = oracle.Ours(query.sql);
        unoptimised = oracle.Ours(query.sql, true);
      } catch (const std::exception& e) {
        FAIL() << e.what();
      }
      if (query.order_columns > 0) {
        ASSERT_EQ(Show(Keys(ours, query.order_columns)), Show(Keys(theirs, query.order_columns)));
      }
      std::sort(ours.begin(), ours.end());
      std::sort(unoptimised.begin(), unoptimised.end());
      std::sort(theirs.begin(), theirs.end());
      ASSERT_EQ(Show(ours), Show(theirs));
      ASSERT_EQ(Show(unoptimised), Show(theirs));
    }
  }
}

}  // namespace
}  // namespace jw
