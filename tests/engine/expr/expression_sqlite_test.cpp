// The evaluator against SQLite: seeded random expressions over random rows,
// written once in each dialect, must give the same value. Only constructs
// whose meaning agrees are generated:
// - integer and float arithmetic on values kept small enough that no 32-bit
//   integer result overflows (ours wraps, SQLite widens), with division only
//   by non-zero constants and written for SQLite on a REAL operand (our
//   integer quotient is a float, SQLite's an integer);
// - no NULL values (our ordering comparisons give false where SQLite gives
//   NULL, and NOT LIKE of NULL is true here);
// - comparisons, AND, OR, NOT;
// - UPPER, LOWER, SUBSTRING, TRIM on ASCII text: our empty results are NULL
//   where SQLite's are '', so a NULL string equals '' when results are
//   compared, and every comparison of strings treats them alike on both
//   sides (= of two NULLs is true, ordering reads NULL as '');
// - LIKE with case-sensitive LIKE switched on, its operand a non-empty
//   column or UPPER or LOWER of one.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "engine/expr/expression_evaluator.h"
#include "engine/support/field_types.h"
#include "engine/support/language_settings.h"
#include "tests/engine/expr/expression_eval_util.h"

namespace jw {
namespace {

using test_support::ParseAndBind;
using test_support::TestTable;

// One expression in both dialects, with the kind of its value: 'i' integer,
// 'f' float, 'b' boolean, 's' string; bound is the largest magnitude an
// integer expression can reach.
struct Expr {
  std::string ours;
  std::string lite;
  char kind;
  double bound;
};

struct Row {
  int32_t i1, i2;
  double f1;
  std::string s1, s2;
};

class Generator {
 public:
  explicit Generator(uint64_t seed) : rng_(seed) {}

  int32_t Int(int32_t low, int32_t high) {
    return std::uniform_int_distribution<int32_t>(low, high)(rng_);
  }

  Row RandomRow() {
    return {Int(-1000, 1000), Int(-1000, 1000), Int(-800, 800) / 8.0, Text(1, 8), Text(1, 8)};
  }

  Expr Any(int depth) {
    switch (Int(0, 2)) {
      case 0:
        return Number(depth);
      case 1:
        return Boolean(depth);
      default:
        return String(depth);
    }
  }

  Expr Number(int depth) {
    if (depth <= 0 || Int(0, 3) == 0) return NumberLeaf();
    if (Int(0, 5) == 0) {
      Expr a = Number(depth - 1);
      return {"(-" + a.ours + ")", "(-" + a.lite + ")", a.kind, a.bound};
    }
    Expr a = Number(depth - 1);
    switch (Int(0, 3)) {
      case 0:
      case 1: {
        Expr b = Number(depth - 1);
        const std::string op = Int(0, 1) == 0 ? "+" : "-";
        return Combine(a, op, b, a.bound + b.bound);
      }
      case 2: {
        Expr b = Number(depth - 1);
        // Products that could leave the 32-bit range become sums.
        if (a.bound * b.bound > 2.0e9) return Combine(a, "+", b, a.bound + b.bound);
        return Combine(a, "*", b, a.bound * b.bound);
      }
      default: {
        Expr b = NonZeroConstant();
        return {"(" + a.ours + " / " + b.ours + ")",
                "(CAST(" + a.lite + " AS REAL) / " + b.lite + ")", 'f', 0};
      }
    }
  }

  Expr Boolean(int depth) {
    const int choice = depth <= 0 ? Int(0, 2) : Int(0, 5);
    switch (choice) {
      case 0: {
        Expr a = Number(depth - 1);
        Expr b = Number(depth - 1);
        return Compare(a, b);
      }
      case 1: {
        Expr a = String(depth - 1);
        Expr b = String(depth - 1);
        return Compare(a, b);
      }
      case 2: {
        Expr operand = StringColumn();
        if (Int(0, 2) == 0) {
          const std::string f = Int(0, 1) == 0 ? "UPPER" : "LOWER";
          operand = {f + "(" + operand.ours + ")", f + "(" + operand.lite + ")", 's', 0};
        }
        const std::string pattern = "'" + Pattern() + "'";
        const std::string op = Int(0, 3) == 0 ? " NOT LIKE " : " LIKE ";
        return {"(" + operand.ours + op + pattern + ")", "(" + operand.lite + op + pattern + ")",
                'b', 0};
      }
      case 3: {
        Expr a = Boolean(depth - 1);
        return {"(NOT " + a.ours + ")", "(NOT " + a.lite + ")", 'b', 0};
      }
      default: {
        Expr a = Boolean(depth - 1);
        Expr b = Boolean(depth - 1);
        const std::string op = choice == 4 ? "AND" : "OR";
        return {"(" + a.ours + " " + op + " " + b.ours + ")",
                "(" + a.lite + " " + op + " " + b.lite + ")", 'b', 0};
      }
    }
  }

  Expr String(int depth) {
    if (depth <= 0 || Int(0, 3) == 0) {
      if (Int(0, 3) == 0) {
        const std::string text = "'" + Text(1, 5) + "'";
        return {text, text, 's', 0};
      }
      return StringColumn();
    }
    Expr a = String(depth - 1);
    switch (Int(0, 3)) {
      case 0: {
        const std::string f = Int(0, 1) == 0 ? "UPPER" : "LOWER";
        return {f + "(" + a.ours + ")", f + "(" + a.lite + ")", 's', 0};
      }
      case 1: {
        const std::string from = std::to_string(Int(1, 6));
        if (Int(0, 1) == 0) {
          return {"SUBSTRING(" + a.ours + " FROM " + from + ")",
                  "substr(" + a.lite + ", " + from + ")", 's', 0};
        }
        const std::string length = std::to_string(Int(1, 4));
        return {"SUBSTRING(" + a.ours + " FROM " + from + " FOR " + length + ")",
                "substr(" + a.lite + ", " + from + ", " + length + ")", 's', 0};
      }
      default: {
        static const char* const kinds[][2] = {
            {"BOTH", "trim"}, {"LEADING", "ltrim"}, {"TRAILING", "rtrim"}};
        const auto& kind = kinds[Int(0, 2)];
        const std::string c = "'" + std::string(1, Letter()) + "'";
        return {"TRIM(" + std::string(kind[0]) + " " + c + " FROM " + a.ours + ")",
                std::string(kind[1]) + "(" + a.lite + ", " + c + ")", 's', 0};
      }
    }
  }

 private:
  static Expr Combine(const Expr& a, const std::string& op, const Expr& b, double bound) {
    const char kind = a.kind == 'i' && b.kind == 'i' ? 'i' : 'f';
    return {"(" + a.ours + " " + op + " " + b.ours + ")",
            "(" + a.lite + " " + op + " " + b.lite + ")", kind, bound};
  }

  Expr Compare(const Expr& a, const Expr& b) {
    static const char* const ops[] = {"=", "<>", "<", ">", "<=", ">="};
    const std::string op = ops[Int(0, 5)];
    return {"(" + a.ours + " " + op + " " + b.ours + ")",
            "(" + a.lite + " " + op + " " + b.lite + ")", 'b', 0};
  }

  Expr NumberLeaf() {
    switch (Int(0, 4)) {
      case 0:
        return {"i1", "i1", 'i', 1000};
      case 1:
        return {"i2", "i2", 'i', 1000};
      case 2:
        return {"f1", "f1", 'f', 0};
      case 3: {
        const std::string text = std::to_string(Int(0, 100));
        return {text, text, 'i', 100};
      }
      default:
        return FloatConstant(Int(0, 400));
    }
  }

  Expr NonZeroConstant() {
    if (Int(0, 1) == 0) {
      const std::string text = std::to_string(Int(1, 50));
      return {text, text, 'i', 50};
    }
    return FloatConstant(Int(1, 400));
  }

  // Quarters print exactly in both dialects.
  static Expr FloatConstant(int32_t quarters) {
    char text[32];
    std::snprintf(text, sizeof text, "%d.%02d", quarters / 4, quarters % 4 * 25);
    return {text, text, 'f', 0};
  }

  Expr StringColumn() {
    return Int(0, 1) == 0 ? Expr{"s1", "s1", 's', 0} : Expr{"s2", "s2", 's', 0};
  }

  char Letter() {
    static const char kLetters[] = "abcAB x";
    return kLetters[Int(0, static_cast<int32_t>(sizeof kLetters) - 2)];
  }

  std::string Text(int32_t min_length, int32_t max_length) {
    std::string text;
    for (int32_t n = Int(min_length, max_length); n > 0; --n) text += Letter();
    return text;
  }

  std::string Pattern() {
    static const char kPattern[] = "abA%%_";
    std::string text;
    for (int32_t n = Int(1, 5); n > 0; --n) {
      text += kPattern[Int(0, static_cast<int32_t>(sizeof kPattern) - 2)];
    }
    return text;
  }

  std::mt19937_64 rng_;
};

std::string TableSpec(const Row& row) {
  char f1[40];
  std::snprintf(f1, sizeof f1, "%.17g", row.f1);
  return "i1 6 4 0 = " + std::to_string(row.i1) + "; i2 6 4 0 = " + std::to_string(row.i2) +
         "; f1 7 8 0 = " + f1 + "; s1 1 21 0 = '" + row.s1 + "'; s2 1 21 0 = '" + row.s2 + "'";
}

// Our value as text in the form SQLite's is read into; NULL strings are ''.
std::string OurValue(const TExpToken& node, char kind) {
  char buffer[64];
  switch (kind) {
    case 'i':
    case 'b': {
      int64_t value = 0;
      if (node.Type == kFldBoolean) {
        int16_t v;
        std::memcpy(&v, node.Value(), sizeof v);
        value = v;
      } else {
        int32_t v;
        std::memcpy(&v, node.Value(), sizeof v);
        value = v;
      }
      return node.IsNull ? "NULL" : std::to_string(value);
    }
    case 'f': {
      double v;
      std::memcpy(&v, node.Value(), sizeof v);
      std::snprintf(buffer, sizeof buffer, "%.17g", v);
      return node.IsNull ? "NULL" : buffer;
    }
    default:
      return node.IsNull ? "" : reinterpret_cast<const char*>(node.Value());
  }
}

// SQLite hands back -0.0 as 0; floats agree when their values are equal.
bool SameFloat(const std::string& ours, const std::string& lite, char kind) {
  if (kind != 'f' || ours == "NULL" || lite == "NULL" || lite.empty() || lite[0] == '!') {
    return false;
  }
  return std::strtod(ours.c_str(), nullptr) == std::strtod(lite.c_str(), nullptr);
}

class SqliteOracle {
 public:
  SqliteOracle() {
    if (sqlite3_open(":memory:", &db_) != SQLITE_OK) ADD_FAILURE() << "sqlite3_open";
    sqlite3_exec(db_, "PRAGMA case_sensitive_like = ON", nullptr, nullptr, nullptr);
  }
  ~SqliteOracle() { sqlite3_close(db_); }
  SqliteOracle(const SqliteOracle&) = delete;
  SqliteOracle& operator=(const SqliteOracle&) = delete;

  // The value of the expression over the row, in OurValue's form; an
  // error text starting with '!' when SQLite refuses it.
  std::string Value(const std::string& expression, const Row& row, char kind) {
    const std::string sql =
        "WITH t(i1, i2, f1, s1, s2) AS (VALUES (?, ?, ?, ?, ?)) SELECT " + expression + " FROM t";
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      return std::string("!") + sqlite3_errmsg(db_);
    }
    sqlite3_bind_int(statement, 1, row.i1);
    sqlite3_bind_int(statement, 2, row.i2);
    sqlite3_bind_double(statement, 3, row.f1);
    sqlite3_bind_text(statement, 4, row.s1.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(statement, 5, row.s2.c_str(), -1, SQLITE_TRANSIENT);
    std::string result = "!no row";
    if (sqlite3_step(statement) == SQLITE_ROW) {
      char buffer[64];
      const int type = sqlite3_column_type(statement, 0);
      if (type == SQLITE_NULL) {
        result = kind == 's' ? "" : "NULL";
      } else if (kind == 'f') {
        std::snprintf(buffer, sizeof buffer, "%.17g", sqlite3_column_double(statement, 0));
        result = buffer;
      } else if (kind == 's') {
        result = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
      } else {
        result = std::to_string(sqlite3_column_int64(statement, 0));
      }
    }
    sqlite3_finalize(statement);
    return result;
  }

 private:
  sqlite3* db_ = nullptr;
};

TEST(ExpressionDifferential, EvaluatorAgreesWithSqlite) {
  const int cases = std::getenv("JW_LONG_TESTS") != nullptr ? 10000 : 500;
  const uint64_t seed = std::random_device()();
  Generator generator(seed);
  SqliteOracle oracle;
  TLanguageSwap swap(0, 0);
  int failures = 0;
  for (int n = 0; n < cases && failures < 5; ++n) {
    const Row row = generator.RandomRow();
    const Expr expr = generator.Any(generator.Int(1, 4));
    TestTable table(TableSpec(row));
    std::string ours;
    try {
      TExpToken* tree = ParseAndBind(expr.ours, table);
      TExpToken* result = EvaluateExpression(tree, nullptr, &table, 0, 0, &TestTable::Value);
      ours = OurValue(*result, expr.kind);
      ReleaseToken(result);
      FreeTokenTree(tree);
    } catch (const std::exception& e) {
      ours = std::string("!") + e.what();
    }
    const std::string lite = oracle.Value(expr.lite, row, expr.kind);
    if (ours != lite && !SameFloat(ours, lite, expr.kind)) {
      ++failures;
      ADD_FAILURE() << "seed " << seed << ", case " << n << ": " << expr.ours
                    << "\n  SQLite: " << expr.lite << "\n  row: " << TableSpec(row) << "\n  ours '"
                    << ours << "', SQLite '" << lite << "'";
    }
  }
}

}  // namespace
}  // namespace jw
