// Evaluation of bound trees: the corpus in expression_corpus.txt (types,
// sizes, NULL flags and values of every operator, function and predicate),
// the order in which operands are read, sub-selects through a test double,
// and the token pool's balance.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/expr/expression_evaluator.h"
#include "engine/expr/expression_parser.h"
#include "engine/expr/expression_rewrite.h"
#include "engine/support/engine_errors.h"
#include "engine/support/language_settings.h"
#include "tests/engine/expr/expression_eval_util.h"
#include "tests/engine/expr/expression_test_util.h"
#include "tests/engine/expr/subselect_hooks_fake.h"
#include "tests/support/source_path.h"

namespace jw {
namespace {

using test_support::FakeSqlHooks;
using test_support::HooksScope;
using test_support::ParseAndBind;
using test_support::TestTable;
using test_support::TreeGuard;
using test_support::ValueToText;

std::string Trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t");
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

struct CorpusRow {
  int line = 0;
  std::string expression;
  std::string columns;
  int language = 0;
  std::string form;  // "type subtype size scale"
  std::string value;
};

std::vector<CorpusRow> ReadCorpus() {
  const std::string path = test_support::SourcePath("tests/engine/expr/expression_corpus.txt");
  std::ifstream file(path);
  EXPECT_TRUE(file.good()) << path;
  std::vector<CorpusRow> rows;
  std::string default_columns;
  std::string line;
  int number = 0;
  while (std::getline(file, line)) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    if (line.rfind("@cols ", 0) == 0) {
      default_columns = line.substr(6);
      continue;
    }
    // Fields are separated by " | ", so the operator || stays whole.
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t bar = line.find(" | "); bar != std::string::npos; bar = line.find(" | ", start)) {
      fields.push_back(Trim(line.substr(start, bar - start)));
      start = bar + 3;
    }
    fields.push_back(Trim(line.substr(start)));
    if (fields.size() != 5) {
      ADD_FAILURE() << "malformed corpus line " << number;
      continue;
    }
    CorpusRow row;
    row.line = number;
    row.expression = fields[0];
    row.columns = fields[1] == "*" ? default_columns : fields[1];
    row.language = std::stoi(fields[2]);
    row.form = fields[3];
    row.value = fields[4];
    rows.push_back(row);
  }
  return rows;
}

// The result's type, subtype, size and scale, and its value, as text.
std::string FormAndValue(const TExpToken& result) {
  return std::to_string(result.Type) + " " + std::to_string(result.Subtype) + " " +
         std::to_string(result.Size()) + " " + std::to_string(result.Scale) + " | " +
         ValueToText(result);
}

// Parses, binds and evaluates the row; the form and value as text.
std::string RunRow(const CorpusRow& row) {
  TLanguageSwap swap(static_cast<uint16_t>(row.language), 0);
  TestTable table(row.columns);
  TExpToken* tree = ParseAndBind(row.expression, table);
  TExpToken* result = nullptr;
  try {
    result = EvaluateExpression(tree, nullptr, &table, 0, static_cast<uint16_t>(row.language),
                                &TestTable::Value);
  } catch (...) {
    FreeTokenTree(tree);
    throw;
  }
  const std::string text = FormAndValue(*result);
  EXPECT_EQ(result->Kind, kTokenConstant);
  EXPECT_EQ(result->Left, nullptr);
  ReleaseToken(result);
  FreeTokenTree(tree);
  return text;
}

TEST(ExpressionEvaluation, CorpusRowsGiveTheirTypesAndValues) {
  const std::vector<CorpusRow> rows = ReadCorpus();
  ASSERT_GT(rows.size(), 150u);
  for (const CorpusRow& row : rows) {
    try {
      EXPECT_EQ(RunRow(row), row.form + " | " + row.value)
          << "line " << row.line << ": " << row.expression;
    } catch (const Exception& e) {
      ADD_FAILURE() << "line " << row.line << ": " << row.expression << " raised " << e.Message();
    }
  }
}

TEST(ExpressionEvaluation, EveryCorpusRowReturnsItsTokensToThePool) {
  for (const CorpusRow& row : ReadCorpus()) {
    try {
      RunRow(row);  // the pool grows to what the row needs
      const int32_t before = ExpTokenStack().Count();
      RunRow(row);
      EXPECT_EQ(ExpTokenStack().Count(), before) << "line " << row.line;
    } catch (const Exception&) {
      // Reported by the corpus test.
    }
  }
}

// A table whose column reads fail on the chosen read: an evaluation cut
// short anywhere in its tree.
struct FaultyTable {
  TestTable* table = nullptr;
  int32_t fail_at = 0;  // 0: no read fails

  static void Value(void* context, const void* record, TExpToken* node) {
    auto* faulty = static_cast<FaultyTable*>(context);
    if (faulty->fail_at > 0 && --faulty->fail_at == 0) throw std::runtime_error("read failed");
    TestTable::Value(faulty->table, record, node);
  }
};

// One evaluator per table and language evaluates every corpus row of it,
// round after round in changing order, while column reads fail in the
// middle of trees: each value must be the corpus one, as its nodes are
// reused for other trees and after failures. Once the first round has been
// through, the evaluators take nothing from the pool and give nothing
// back; when they go, the pool is as it was.
TEST(ExpressionEvaluation, OneEvaluatorServesEveryRowOverAndOverThroughFailures) {
  struct Group {
    std::vector<CorpusRow> rows;
    std::vector<TExpToken*> trees;
  };
  std::map<std::pair<std::string, int>, Group> groups;
  const std::vector<CorpusRow> rows = ReadCorpus();
  ASSERT_GT(rows.size(), 150u);
  for (const CorpusRow& row : rows) groups[{row.columns, row.language}].rows.push_back(row);
  auto run = [&groups]() {
    const int32_t pooled = ExpTokenStack().Count();
    int32_t failures = 0;
    {
      std::vector<std::unique_ptr<TestTable>> tables;
      std::vector<std::unique_ptr<FaultyTable>> faulty;
      std::vector<std::unique_ptr<TExpressionEvaluator>> evaluators;
      for (auto& [key, group] : groups) {
        tables.push_back(std::make_unique<TestTable>(key.first));
        faulty.push_back(std::make_unique<FaultyTable>(FaultyTable{tables.back().get(), 0}));
        evaluators.push_back(std::make_unique<TExpressionEvaluator>(
            faulty.back().get(), 0, static_cast<uint16_t>(key.second), &FaultyTable::Value));
        TLanguageSwap swap(static_cast<uint16_t>(key.second), 0);
        for (const CorpusRow& row : group.rows) {
          group.trees.push_back(ParseAndBind(row.expression, *tables.back()));
        }
      }
      int32_t steady = 0;
      for (int round = 0; round < 4; ++round) {
        if (round == 1) steady = ExpTokenStack().Count();
        size_t g = 0;
        for (auto& [key, group] : groups) {
          TLanguageSwap swap(static_cast<uint16_t>(key.second), 0);
          TExpressionEvaluator& evaluator = *evaluators[g];
          FaultyTable& table = *faulty[g++];
          const size_t n = group.rows.size();
          for (size_t k = 0; k < n; ++k) {
            const size_t i = round % 2 == 0 ? k : n - 1 - k;
            if (round >= 2) {
              table.fail_at = static_cast<int32_t>(1 + (i + round) % 3);
              try {
                evaluator.Evaluate(*group.trees[i], nullptr);
              } catch (const std::runtime_error&) {
                ++failures;
              }
              table.fail_at = 0;
            }
            const TExpToken& result = evaluator.Evaluate(*group.trees[i], nullptr);
            EXPECT_EQ(FormAndValue(result), group.rows[i].form + " | " + group.rows[i].value)
                << "line " << group.rows[i].line << " round " << round << ": "
                << group.rows[i].expression;
            EXPECT_EQ(result.Kind, kTokenConstant);
            EXPECT_EQ(result.Left, nullptr);
          }
        }
      }
      EXPECT_EQ(ExpTokenStack().Count(), steady) << "the pool was used after the first round";
      for (auto& [key, group] : groups) {
        for (TExpToken*& tree : group.trees) FreeTokenTree(tree);
        group.trees.clear();
      }
    }
    EXPECT_GT(failures, 100);
    return ExpTokenStack().Count() - pooled;
  };
  run();  // the pool grows to what the evaluators need
  EXPECT_EQ(run(), 0) << "nodes did not go back to the pool";
}

struct OrderCase {
  const char* expression;
  const char* reads;  // the columns read, in order
  const char* value;
};

TEST(ExpressionEvaluation, OperandsAreReadInTheirOrderAndShortCircuits) {
  const OrderCase cases[] = {
      {"a = 1 AND b = 1", "b", "False"},  // right first; false decides AND
      {"a = 1 AND b = 2", "b a", "True"},      {"a = 9 OR b = 2", "b", "True"},  // true decides OR
      {"a = 9 OR b = 9", "b a", "False"},      {"a + b = c", "a b c", "True"},
      {"a BETWEEN 0 AND 5", "a", "True"},      {"c - a IN (1, 2)", "c a", "True"},
      {"IF(a = 1 THEN b ELSE c)", "a b", "2"}, {"NOT (a = 2 AND c = 3)", "c a", "True"},
  };
  for (const OrderCase& c : cases) {
    TestTable table("a 6 4 0 = 1; b 6 4 0 = 2; c 6 4 0 = 3");
    TExpToken* tree = ParseAndBind(c.expression, table);
    TExpToken* result = EvaluateExpression(tree, nullptr, &table, 0, 0, &TestTable::Value);
    std::string reads;
    for (const std::string& name : table.log) reads += (reads.empty() ? "" : " ") + name;
    EXPECT_EQ(reads, c.reads) << c.expression;
    EXPECT_EQ(ValueToText(*result), c.value) << c.expression;
    ReleaseToken(result);
    FreeTokenTree(tree);
  }
}

TEST(ExpressionEvaluation, ColumnWithoutValueSourceRaises11949) {
  TestTable table("a 6 4 0 = 1");
  TExpToken* tree = ParseAndBind("a + 1", table);
  // The first run may add nodes to the pool (it can be empty, as after a
  // shutdown); the second takes its nodes from the pool and must give every
  // one of them back.
  int32_t pooled = 0;
  for (int run = 0; run < 2; ++run) {
    pooled = ExpTokenStack().Count();
    try {
      EvaluateExpression(tree, nullptr, nullptr, 0, 0, nullptr);
      ADD_FAILURE() << "no error";
    } catch (const EQuireEngineError& e) {
      EXPECT_EQ(e.Code(), kErrSql);
      EXPECT_EQ(e.Names().TableName, "");
      EXPECT_EQ(e.Names().Message, "Internal error: Column 'a' specified illegally");
      EXPECT_EQ(e.Message(),
                "Quire Engine Error # 11949 SQL error - Internal error: Column 'a' specified "
                "illegally");
    }
  }
  EXPECT_EQ(ExpTokenStack().Count(), pooled) << "operand nodes went back to the pool";
  FreeTokenTree(tree);
}

TEST(ExpressionEvaluation, ColumnWrittenAsStringKeepsItsTextWithoutValueSource) {
  TestTable table("abc 6 4 0 = 1");
  TExpToken* tree = ParseAndBind("'abc'", table);
  ASSERT_EQ(tree->Kind, kTokenColumn);
  TExpToken* result = EvaluateExpression(tree, nullptr, nullptr, 0, 0, nullptr);
  EXPECT_EQ(ValueToText(*result), "'abc'");
  ReleaseToken(result);
  FreeTokenTree(tree);
}

// Chains of operators are flat in the text however long they are: binding,
// evaluation, filter preparation and the removal of NULL tests walk them
// without recursion and do not count their length as nesting.
TEST(ExpressionEvaluation, LongFlatChainsBindEvaluatePrepareAndStrip) {
  const int terms = std::getenv("JW_LONG_TESTS") != nullptr ? 200000 : 20000;
  TestTable table("a 6 4 0 = 7; s 1 20 0 = 'ab'");
  auto evaluate = [&table](const TExpToken* tree) {
    TExpToken* result = EvaluateExpression(tree, nullptr, &table, 0, 0, &TestTable::Value);
    const std::string text = ValueToText(*result);
    ReleaseToken(result);
    return text;
  };
  auto chain = [terms](const std::string& first, const std::string& op, auto term) {
    std::string text = first;
    for (int i = 1; i < terms; ++i) text += op + term(i);
    return text;
  };
  auto number = [](int i) { return std::to_string(i % 10); };
  auto test_of = [](int i) { return "a = " + std::to_string(i); };
  auto null_or_test = [](int i) {
    return i % 2 != 0 ? std::string("a = NULL") : "a > " + std::to_string(i);
  };
  std::string strings = "s";
  for (int i = 1; i < 2000; ++i) strings += " + 'c'";
  int64_t sum = 7;
  for (int i = 1; i < terms; ++i) sum += i % 10;
  const struct {
    std::string text;
    std::string value;
  } cases[] = {
      {chain("a", " + ", number), std::to_string(static_cast<int32_t>(sum))},
      {chain("a = 0", " OR ", test_of), "True"},  // the match is the 8th term
      {chain("a > 0", " AND ", [](int) { return std::string("a > 1"); }), "True"},
      {chain("a = 0", " OR ", [](int i) { return "a = " + std::to_string(-i); }), "False"},
      // Every level of a string chain copies the text so far: a shorter one.
      {strings + " = s + '" + std::string(1999, 'c') + "'", "True"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    TExpToken* tree = ParseAndBind(c.text, table, true);
    EXPECT_EQ(evaluate(tree), c.value);
    TExpToken* prepared = PrepareFilter(tree, &table, &TestTable::Value, false, false, 0, 0);
    EXPECT_EQ(evaluate(prepared), c.value);
    FreeTokenTree(prepared);
    FreeTokenTree(tree);
  }
  // Half the tests compare with NULL: stripping leaves the AND of the rest,
  // a > 0 AND a > 2 AND a > 4 ..., which is false past a > 6.
  TExpToken* tree = ParseAndBind(chain("a > 0", " AND ", null_or_test), table, true);
  EXPECT_FALSE(StripNullTests(tree));
  EXPECT_EQ(evaluate(tree), "False");
  int remaining = 0;
  for (const TExpToken* link = tree; link->Code == kOpAnd; link = link->Left) {
    EXPECT_EQ(link->Right->Code, kOpGreater);
    ++remaining;
  }
  EXPECT_EQ(remaining, (terms - 1) / 2);
  FreeTokenTree(tree);
}

// Parses the SQL condition with sub-selects allowed; the registered hooks
// parse the sub-select. The caller binds and frees the tree.
TExpToken* ParseSqlCondition(const char* text, void* statement) {
  TExpressionParser parser(statement);
  parser.SetErrorCode(kErrSql);
  parser.SetContextName("SQL statement");
  parser.SetText(text);
  parser.NextToken();
  return parser.ParseExpression(kParseExtended | kParseSubSelects);
}

TEST(ExpressionEvaluation, InSubSelectAsksTheQueryForMatchingRows) {
  FakeSqlHooks fake;
  HooksScope scope(&fake);
  int statement = 0;
  for (const char* text : {"a IN (SELECT v)", "a NOT IN (SELECT v)"}) {
    for (const char* row : {"a 6 4 0 = 4", "a 6 4 0 = 5"}) {
      TestTable table(row);
      TreeGuard tree(ParseSqlCondition(text, &statement));
      BindExpression(kErrSql, "", "SQL statement", false, &TestTable::Resolve, &table, nullptr,
                     tree.get());
      EXPECT_EQ(tree.get()->Right->ColumnName, "v");
      TExpToken* result = EvaluateExpression(tree.get(), nullptr, &table, 0, 0, &TestTable::Value);
      const bool found = table.columns[0].value[0] == 4;
      const bool negated = tree.get()->Code == kOpNotInSubSelect;
      EXPECT_EQ(ValueToText(*result), found != negated ? "True" : "False") << text << row;
      ReleaseToken(result);
    }
  }
  EXPECT_EQ(fake.seen, (std::vector<int32_t>{4, 5, 4, 5}));
}

TEST(ExpressionEvaluation, SubSelectWithTwoColumnsOrUnboundColumnIsRefused) {
  FakeSqlHooks fake;
  HooksScope scope(&fake);
  int statement = 0;
  TestTable table("a 6 4 0 = 4");
  struct {
    int32_t columns;
    bool bindable;
    const char* message;
  } cases[] = {
      {2, true, "More than 1 column for sub-select  specified in SQL statement"},
      {1, false, "Invalid column name 'v' or table correlation name '' specified in SQL statement"},
  };
  for (const auto& c : cases) {
    fake.columns = c.columns;
    fake.bindable = c.bindable;
    TreeGuard tree(ParseSqlCondition("a IN (SELECT v)", &statement));
    try {
      BindExpression(kErrSql, "", "SQL statement", false, &TestTable::Resolve, &table, nullptr,
                     tree.get());
      ADD_FAILURE() << "no error";
    } catch (const EQuireEngineError& e) {
      EXPECT_EQ(e.Code(), kErrSql);
      EXPECT_EQ(e.Names().Message, c.message);
    }
  }
}

TEST(ExpressionEvaluation, SubSelectWithoutTheSqlEngineIsRefused) {
  FakeSqlHooks fake;
  TExpToken* tree = nullptr;
  {
    HooksScope scope(&fake);
    int statement = 0;
    tree = ParseSqlCondition("a IN (SELECT v)", &statement);
  }
  TreeGuard guard(tree);
  TestTable table("a 6 4 0 = 4");
  EXPECT_THROW(BindExpression(kErrSql, "", "SQL statement", false, &TestTable::Resolve, &table,
                              nullptr, tree),
               EQuireEngineError);
}

TEST(ExpressionEvaluation, AggregateCodesIgnoreCase) {
  EXPECT_EQ(AggregateCode("sum"), kFuncSum);
  EXPECT_EQ(AggregateCode("Avg"), kFuncAvg);
  EXPECT_EQ(AggregateCode("MIN"), kFuncMin);
  EXPECT_EQ(AggregateCode("max"), kFuncMax);
  EXPECT_EQ(AggregateCode("COUNT"), kFuncCount);
  EXPECT_EQ(AggregateCode("TOTAL"), 0);
  EXPECT_EQ(AggregateCode(""), 0);
}

}  // namespace
}  // namespace jw
