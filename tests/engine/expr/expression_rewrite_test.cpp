// Rewrites of bound trees: filter preparation, the removal of comparisons
// with NULL, and the tree tests of the SQL planner.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/expr/expression_rewrite.h"
#include "engine/support/language_settings.h"
#include "tests/engine/expr/expression_eval_util.h"
#include "tests/engine/expr/expression_test_util.h"

namespace jw {
namespace {

using test_support::ParseAndBind;
using test_support::PrintTree;
using test_support::TestColumn;
using test_support::TestTable;
using test_support::ValueToText;

const char* const kColumns =
    "i 6 4 0 = 7; s 5 2 0 = 3; f 7 8 0 = 2.5; b 8 8 2 = 10.25; str 1 21 0 = 'Hello World'; "
    "d 2 4 0 = 2024-03-10; ts 11 8 0 = 2024-03-10 12:00:00.000; n 6 4 0 = NULL; bo 4 2 0 = True";

struct PrepareCase {
  const char* expression;
  bool partial_off;
  bool case_insensitive;
  const char* prepared;
};

std::string Evaluate(const TExpToken* tree, TestTable& table) {
  TExpToken* result = EvaluateExpression(tree, nullptr, &table, 0, 0, &TestTable::Value);
  const std::string text = ValueToText(*result);
  ReleaseToken(result);
  return text;
}

TEST(ExpressionRewrite, PrepareFilterMakesPrefixAndCaseInsensitiveComparisons) {
  const PrepareCase cases[] = {
      {"str = 'Hel*'", false, false,
       "(3 3 \"=\" t4 (4 0 \"str\" t1 col:str) (5 0 \"Hel\" t1 v:'Hel'/4))"},
      {"str = 'Hel*'", true, false,
       "(3 3 \"=\" t4 (4 0 \"str\" t1 col:str) (5 0 \"Hel*\" t1 v:'Hel*'/5))"},
      {"str <> 'hello world'", false, true,
       "(3 4 \"< >\" t4 (4 0 \"str\" t1 col:str) (5 0 \"hello world\" t1 v:'hello world'/12))"},
      {"str = '*'", false, false, "(1 2 \"=\" t4 (4 0 \"str\" t1 col:str))"},
      {"str <> '*'", false, true, "(1 1 \"< >\" t4 (4 0 \"str\" t1 col:str))"},
      {"str = '*'", true, false, "(3 3 \"=\" t4 (4 0 \"str\" t1 col:str) (5 0 \"*\" t1 v:'*'/2))"},
      {"str = 'Hello'", false, false,
       "(2 3 \"=\" t4 (4 0 \"str\" t1 col:str) (5 0 \"Hello\" t1 v:'Hello'/6))"},
      {"str LIKE 'Hel%'", false, false,
       "(3 3 \"=\" t4 (4 0 \"str\" t1 col:str) (5 0 \"Hel\" t1 v:'Hel'/4))"},
      {"str NOT LIKE 'Hel%'", false, false,
       "(3 4 \"<>\" t4 (4 0 \"str\" t1 col:str) (5 0 \"Hel\" t1 v:'Hel'/4))"},
      {"str LIKE '%World'", false, false,
       "(12 31 \"LIKE\" t4 (4 0 \"str\" t1 col:str) (5 0 \"%World\" t1 v:'%World'/7))"},
      {"str LIKE 'H_l%'", false, false,
       "(12 31 \"LIKE\" t4 (4 0 \"str\" t1 col:str) (5 0 \"H_l%\" t1 v:'H_l%'/5))"},
      {"str LIKE '%'", false, false,
       "(12 31 \"LIKE\" t4 (4 0 \"str\" t1 col:str) (5 0 \"%\" t1 v:'%'/2))"},
      {"f < 3", false, false, "(2 6 \"<\" t4 (4 0 \"f\" t7 col:f) (5 0 \"3\" t7 v:3/8))"},
      {"i > -2.9", false, false, "(2 5 \">\" t4 (4 0 \"i\" t6 col:i) (5 0 \"-\" t6 v:-3/4))"},
      {"i IN (1.5, 7)", false, false,
       "(12 32 \"IN\" t4 (4 0 \"i\" t6 col:i) (5 0 \"1.5\" t7 v:1.5/8 - (5 0 \"7\" t6 v:7/4)))"},
      {"ts > d", false, false, "(2 5 \">\" t4 (4 0 \"ts\" t11 col:ts) (4 0 \"d\" t2 col:d))"},
  };
  TLanguageSwap swap(0, 0);
  for (const PrepareCase& c : cases) {
    TestTable table(kColumns);
    TExpToken* tree = ParseAndBind(c.expression, table, true);
    TExpToken* prepared =
        PrepareFilter(tree, &table, &TestTable::Value, c.partial_off, c.case_insensitive, 0, 0);
    EXPECT_EQ(PrintTree(prepared), c.prepared) << c.expression;
    EXPECT_EQ(prepared->Left->Parent, prepared) << c.expression;
    // The prepared tree gives the original's answer on the row.
    if (!c.partial_off && !c.case_insensitive &&
        std::string(c.expression).find('*') == std::string::npos) {
      EXPECT_EQ(Evaluate(prepared, table), Evaluate(tree, table)) << c.expression;
    }
    FreeTokenTree(prepared);
    FreeTokenTree(tree);
  }
}

TEST(ExpressionRewrite, PrepareFilterFoldsConstantsToTheColumnType) {
  TLanguageSwap swap(0, 0);
  TestTable table(kColumns);
  struct {
    const char* expression;
    uint8_t type;
    int32_t size;
    uint8_t scale;
    const char* value;
  } cases[] = {
      {"s = 3", 5, 2, 0, "3"},
      {"b > 2", 8, 8, 2, "2"},
      {"b <= 12.5", 8, 8, 2, "12.5"},
      {"f = 2", 7, 8, 0, "2"},
      {"i BETWEEN 1 AND 7.9", 6, 4, 0, "1"},
      // A bound the column's type cannot hold is rounded the way that keeps
      // the comparison's answer, or stays as it is.
      {"i >= 5.5", 6, 4, 0, "6"},
      {"i > 5.5", 6, 4, 0, "5"},
      {"i < -5.5", 6, 4, 0, "-5"},
      {"i <= -5.5", 6, 4, 0, "-6"},
      {"i = 5.5", 7, 8, 0, "5.5"},
      {"i <> 5.0", 6, 4, 0, "5"},
      {"s > 70000", 6, 4, 0, "70000"},
      {"s <= -32768.5", 7, 8, 0, "-32768.5"},
      {"s < -32768.5", 5, 2, 0, "-32768"},
      {"b >= 12.505", 8, 8, 2, "12.51"},
      {"b > 12.505", 8, 8, 2, "12.5"},
      {"b = 12.505", 7, 8, 0, "12.505"},
  };
  for (const auto& c : cases) {
    TExpToken* tree = ParseAndBind(c.expression, table, true);
    TExpToken* prepared = PrepareFilter(tree, &table, &TestTable::Value, false, false, 0, 0);
    const TExpToken* constant = prepared->Right;
    EXPECT_EQ(constant->Kind, kTokenConstant) << c.expression;
    EXPECT_EQ(constant->Type, c.type) << c.expression;
    EXPECT_EQ(constant->Size(), c.size) << c.expression;
    EXPECT_EQ(constant->Scale, c.scale) << c.expression;
    EXPECT_EQ(ValueToText(*constant), c.value) << c.expression;
    FreeTokenTree(prepared);
    FreeTokenTree(tree);
  }
}

// Every value of a numeric column, NULL included, gets the same answer from
// the prepared tree as from the tree before folding: values on both sides
// of each constant, constants beyond the column's range, negative ones.
TEST(ExpressionRewrite, FoldedBoundsKeepTheAnswerOfTheUnfoldedComparison) {
  struct ColumnCase {
    const char* column;
    std::vector<const char*> values;
    std::vector<const char*> constants;
  };
  const ColumnCase columns[] = {
      {"x 5 2 0",
       {"-32768", "-6", "-5", "-1", "0", "1", "5", "6", "32767", "NULL"},
       {"5.5", "-5.5", "5", "5.0", "0.5", "-0.5", "70000", "-70000", "32767.5", "32766.5",
        "-32768.5", "-32767.5"}},
      {"x 12 2 0",
       {"0", "1", "5", "6", "65534", "65535", "NULL"},
       {"5.5", "-0.5", "-1", "0.5", "65535.5", "65534.5", "70000"}},
      {"x 6 4 0",
       {"-2147483648", "-6", "-5", "0", "5", "6", "2147483647", "NULL"},
       {"5.5", "-5.5", "5", "0.5", "-0.5", "2147483647.5", "2147483646.5", "-2147483648.5",
        "30000000000.0", "-30000000000.0"}},
      {"x 8 8 2",
       {"12.5", "12.51", "12.49", "-12.5", "-12.51", "0", "NULL"},
       {"12.505", "-12.505", "12.5", "12.509", "12.501", "-0.001", "0.001", "7"}},
  };
  const char* const comparisons[] = {"=", "<>", ">", ">=", "<", "<="};
  TLanguageSwap swap(0, 0);
  for (const ColumnCase& column : columns) {
    std::vector<std::string> expressions;
    for (const char* c : column.constants) {
      for (const char* op : comparisons) expressions.push_back(std::string("x ") + op + " " + c);
      expressions.push_back(std::string("x IN (") + c + ", 7)");
      expressions.push_back(std::string("x NOT IN (") + c + ")");
      for (const char* high : column.constants) {
        expressions.push_back(std::string("x BETWEEN ") + c + " AND " + high);
        expressions.push_back(std::string("x NOT BETWEEN ") + c + " AND " + high);
      }
    }
    TestTable table(std::string(column.column) + " = NULL");
    TestColumn& x = table.columns[0];
    for (const std::string& expression : expressions) {
      TExpToken* tree = ParseAndBind(expression, table, true);
      TExpToken* prepared = PrepareFilter(tree, &table, &TestTable::Value, false, false, 0, 0);
      for (const char* value : column.values) {
        x.is_null = std::string(value) == "NULL";
        if (!x.is_null) x.value = test_support::ValueFromText(value, x.type, x.scale);
        EXPECT_EQ(Evaluate(prepared, table), Evaluate(tree, table))
            << column.column << ": " << expression << " with x = " << value;
      }
      FreeTokenTree(prepared);
      FreeTokenTree(tree);
    }
  }
}

TEST(ExpressionRewrite, PrefixComparisonMatchesLongerStringsOnly) {
  TLanguageSwap swap(0, 0);
  for (const char* value : {"'Hel'", "'Hello'", "'Help me'", "'He'", "'hello'"}) {
    TestTable table(std::string("str 1 21 0 = ") + value);
    TExpToken* tree = ParseAndBind("str = 'Hel*'", table, true);
    TExpToken* prepared = PrepareFilter(tree, &table, &TestTable::Value, false, false, 0, 0);
    const std::string text = value;
    const bool expected = text.rfind("'Hel", 0) == 0;
    EXPECT_EQ(Evaluate(prepared, table), expected ? "True" : "False") << value;
    FreeTokenTree(prepared);
    FreeTokenTree(tree);
  }
}

// '*' alone is a prefix of no characters: = finds every value but NULL,
// <> only NULL.
TEST(ExpressionRewrite, StarAloneMatchesEveryValueButNull) {
  TLanguageSwap swap(0, 0);
  for (const char* value : {"'Hello'", "'*'", "''", "NULL"}) {
    TestTable table(std::string("str 1 21 0 = ") + value);
    const bool is_null = std::string(value) == "NULL";
    for (const char* expression : {"str = '*'", "str <> '*'"}) {
      TExpToken* tree = ParseAndBind(expression, table, true);
      TExpToken* prepared = PrepareFilter(tree, &table, &TestTable::Value, false, false, 0, 0);
      const bool equal = expression[4] == '=';
      EXPECT_EQ(Evaluate(prepared, table), equal != is_null ? "True" : "False")
          << expression << " with " << value;
      FreeTokenTree(prepared);
      FreeTokenTree(tree);
    }
  }
}

struct StripCase {
  const char* expression;
  bool removed;
  const char* rest;
};

TEST(ExpressionRewrite, StripNullTestsRemovesComparisonsWithNull) {
  const StripCase cases[] = {
      {"i = NULL", true, "-"},
      {"i <> NULL", true, "-"},
      {"NOT (i = NULL)", true, "-"},
      {"i = NULL OR n = NULL", true, "-"},
      {"i = NULL AND s = 3", false, "(2 3 \"=\" t4 (4 0 \"s\" t5 col:s) (5 0 \"3\" t6 v:3/4))"},
      {"s = 3 OR i <> NULL", false, "(2 3 \"=\" t4 (4 0 \"s\" t5 col:s) (5 0 \"3\" t6 v:3/4))"},
      {"IF(i = NULL THEN 1 ELSE 2) = 1", false, "(5 0 \"1\" t6 v:1/4)"},
      {"i > 1", false, "(2 5 \">\" t4 (4 0 \"i\" t6 col:i) (5 0 \"1\" t6 v:1/4))"},
      {"str LIKE 'a%'", false,
       "(12 31 \"LIKE\" t4 (4 0 \"str\" t1 col:str) (5 0 \"a%\" t1 v:'a%'/3))"},
  };
  for (const StripCase& c : cases) {
    TestTable table(kColumns);
    TExpToken* tree = ParseAndBind(c.expression, table, true);
    // Counts the tree's nodes through a copy returned at once; the pool
    // then holds at least that many, so the count below is exact.
    TExpToken* copy = CopyTokenTree(tree);
    const int32_t pooled = ExpTokenStack().Count();
    FreeTokenTree(copy);
    const int32_t before = ExpTokenStack().Count();
    const int32_t nodes = before - pooled;
    EXPECT_EQ(StripNullTests(tree), c.removed) << c.expression;
    EXPECT_EQ(PrintTree(tree), c.rest) << c.expression;
    if (tree != nullptr) {
      EXPECT_EQ(tree->Parent, nullptr) << c.expression;
    }
    FreeTokenTree(tree);
    EXPECT_EQ(ExpTokenStack().Count(), before + nodes) << "every node back in the pool";
  }
}

TEST(ExpressionRewrite, TreeTests) {
  TestTable table(kColumns);
  auto with_tree = [&](const char* text, auto test) {
    TExpToken* tree = ParseAndBind(text, table);
    const bool answer = test(tree);
    FreeTokenTree(tree);
    return answer;
  };
  EXPECT_TRUE(with_tree("i = 1 OR s = 2", IsDisjunction));
  EXPECT_FALSE(with_tree("i = 1 AND s = 2", IsDisjunction));
  EXPECT_TRUE(with_tree("NOT (i = 1 AND s = 2)", IsDisjunction));
  EXPECT_FALSE(with_tree("NOT (i = 1 OR s = 2)", IsDisjunction));
  EXPECT_TRUE(with_tree("NOT (i = 1 AND s = 2)",
                        [](TExpToken* t) { return HasNotAncestor(t->Left->Left); }));
  EXPECT_FALSE(with_tree("i = 1 AND s = 2", [](TExpToken* t) { return HasNotAncestor(t->Left); }));
  EXPECT_FALSE(with_tree("NOT (UPPER(str) = 'A')",
                         [](TExpToken* t) { return HasNotAncestor(t->Left->Left); }));
  EXPECT_TRUE(with_tree("1 + ABS(i) > 2", ContainsColumn));
  EXPECT_TRUE(with_tree("IF(1 = 1 THEN 2 ELSE i)", ContainsColumn));
  EXPECT_FALSE(with_tree("1 + 2 > 2", ContainsColumn));
  EXPECT_TRUE(with_tree("1 + SUM(i)", ContainsAggregate));
  EXPECT_TRUE(with_tree("COUNT(*)", ContainsAggregate));
  EXPECT_FALSE(with_tree("UPPER(str)", ContainsAggregate));
}

}  // namespace
}  // namespace jw
