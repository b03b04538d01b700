// Long string results against a model built with std::string: a string
// that + makes is cut to the longest string a field holds, and a text BLOB
// result longer than a node's first value buffer (255 bytes) stays whole.
// Every way a node's size is set (the binder, a copied tree, a prepared
// filter, evaluation) must leave a buffer that holds it; under the sanitizers
// an overflow fails here. A chain of many concatenations takes memory in its
// length.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/expr/expression_evaluator.h"
#include "engine/expr/expression_rewrite.h"
#include "engine/support/engine_heap.h"
#include "tests/engine/expr/expression_eval_util.h"

namespace jw {
namespace {

using test_support::ParseAndBind;
using test_support::TestTable;
using test_support::ValueToText;

std::string Repeat(const std::string& unit, size_t length) {
  std::string text;
  while (text.size() < length) text += unit;
  return text.substr(0, length);
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string ReplaceEvery(const std::string& text, const std::string& from, const std::string& to) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    if (text.compare(i, from.size(), from) == 0) {
      out += to;
      i += from.size();
    } else {
      out += text[i++];
    }
  }
  return out;
}

std::string Evaluated(const TExpToken* tree, TestTable& table) {
  TExpToken* result = EvaluateExpression(tree, nullptr, &table, 0, 0, &TestTable::Value);
  std::string text = ValueToText(*result);
  EXPECT_LE(result->Size(), result->ValueCapacity());
  ReleaseToken(result);
  return text;
}

// What + makes of two strings: the first 250 characters.
std::string Cut(const std::string& text) {
  return text.substr(0, 250);
}

TEST(LongStrings, ResultsBeyondTheFirstBufferMatchAModel) {
  // Two full string columns of size 200, a short one of the same size and
  // a text BLOB.
  const std::string a = Repeat("abcdefghij", 199);
  const std::string b = Repeat("KLMNOPQRST", 199);
  const std::string ab = Cut(a + b);
  const std::string spec = "a 1 200 0 = '" + a + "'; b 1 200 0 = '" + b +
                           "'; s 1 200 0 = 'abc'; m 3.22 8 0 = '" + b + "'";
  struct Case {
    std::string expression;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"a + b", ab},
      {"a || b || a || b || a", ab},
      {"s + a + b", Cut("abc" + a + b)},
      {"UPPER(a + b)", Upper(ab)},
      {"LOWER(UPPER(a) + b)", Cut(a.substr(0, 199) + Repeat("klmnopqrst", 199))},
      {"IF(s = 'abc' THEN a + b ELSE s)", ab},
      {"IF(s = 'xyz' THEN s ELSE b + a)", Cut(b + a)},
      {"SUBSTRING(s FROM 1 FOR 300)", "abc"},
      {"SUBSTRING(a + b FROM 2 FOR 300)", ab.substr(1)},
      {"SUBSTRING(a FROM 2 FOR 2147483647)", a.substr(1)},
      {"SUBSTRING(a + b + a FROM 190)", ab.substr(189)},
      {"REPLACE('a' WITH 'aaa' IN (a + b))", Cut(ReplaceEvery(ab, "a", "aaa"))},
      {"REPLACE('a' WITH 'aaa' IN (m + a))", ReplaceEvery(b + a, "a", "aaa")},
      {"TRIM(TRAILING 'T' FROM a + b + 'TTT')", ab},
      {"CAST(a + b AS CHAR(250))", ab},
      // A text BLOB takes every character.
      {"m + a + m", b + a + b},
      {"a + m", a + b},
      {"UPPER(m + m)", Upper(b + b)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expression);
    TestTable table(spec);
    TExpToken* tree = ParseAndBind(c.expression, table);
    const std::string expected = "'" + c.expected + "'";
    EXPECT_EQ(Evaluated(tree, table), expected);
    TExpToken* copy = CopyTokenTree(tree);
    EXPECT_EQ(Evaluated(copy, table), expected);
    FreeTokenTree(copy);
    FreeTokenTree(tree);

    // As a condition, bound, and prepared for a filter (a deep copy with
    // constants folded), against a different and an equal constant.
    for (const std::string& constant : {std::string("x"), c.expected}) {
      const bool equal = constant == c.expected;
      TExpToken* condition = ParseAndBind(c.expression + " = '" + constant + "'", table, true);
      EXPECT_EQ(Evaluated(condition, table), equal ? "True" : "False");
      TExpToken* prepared = PrepareFilter(condition, &table, &TestTable::Value, false, false, 0, 0);
      EXPECT_EQ(Evaluated(prepared, table), equal ? "True" : "False");
      FreeTokenTree(prepared);
      FreeTokenTree(condition);
    }
  }
}

// The engine heap refuses what would take it past its budget.
int64_t heap_budget = 0;
void* BudgetedMalloc(size_t size) {
  if (EngineBytesInUse() + static_cast<int64_t>(size) > heap_budget) return nullptr;
  return std::malloc(size);
}

TEST(LongStrings, AConcatenationChainTakesMemoryInItsLength) {
  // 25,000 operands over a CHAR(21) column: about 6 GB if each + held
  // the sum of its operands, a few MB when it holds the longest string.
  const std::string s = "abcdefghijklmnopqrstu";
  std::string chain = "s";
  for (int i = 1; i < 25000; ++i) chain += " + s";
  std::string model;
  while (model.size() < 250) model += s;
  TestTable table("s 1 22 0 = '" + s + "'");
  heap_budget = EngineBytesInUse() + (int64_t{32} << 20);
  const EngineMallocFn saved = SetEngineMalloc(&BudgetedMalloc);
  std::vector<std::string> answers;
  try {
    for (const std::string& condition : {chain + " = ''", chain + " = '" + Cut(model) + "'"}) {
      TExpToken* tree = ParseAndBind(condition, table, true);
      answers.push_back(Evaluated(tree, table));
      FreeTokenTree(tree);
    }
  } catch (const std::exception& e) {
    ADD_FAILURE() << e.what();
  }
  SetEngineMalloc(saved);
  EXPECT_EQ(answers, (std::vector<std::string>{"False", "True"}));
}

}  // namespace
}  // namespace jw
