// The lexer and parser against the golden table in expression_parser_golden.txt
// (input, flags and decimal separator -> tree or exact message), plus the
// lexer's entry points, the nesting limit, the token pool's balance and the
// sub-select and parameter hooks.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/expr/expression_parser.h"
#include "engine/support/engine_errors.h"
#include "platform/rtl/clock.h"
#include "platform/rtl/date_time.h"
#include "platform/rtl/format_settings.h"
#include "tests/engine/expr/expression_eval_util.h"
#include "tests/engine/expr/expression_test_util.h"
#include "tests/engine/expr/subselect_hooks_fake.h"
#include "tests/support/source_path.h"

namespace jw {
namespace {

using test_support::FakeSqlHooks;
using test_support::HooksScope;
using test_support::PrintTree;
using test_support::TreeGuard;

// Sets the decimal separator for a scope.
class SeparatorScope {
 public:
  explicit SeparatorScope(char separator) : saved_(FormatSettings().DecimalSeparator) {
    FormatSettings().DecimalSeparator = separator;
  }
  ~SeparatorScope() { FormatSettings().DecimalSeparator = saved_; }

 private:
  char saved_;
};

// A parser set up as a filter's, holding the text.
class FilterParser : public TExpressionParser {
 public:
  explicit FilterParser(const std::string& text) {
    SetErrorCode(kErrFilter);
    SetObjectName("customer");
    SetContextName("filter expression");
    SetText(text.c_str());
  }
};

// The tree, with any token left after it, or "error " and the message.
std::string ParseToText(const std::string& text, uint8_t flags) {
  FilterParser parser("");
  try {
    parser.SetText(text.c_str());
    parser.NextToken();
    TreeGuard tree(parser.ParseExpression(flags));
    std::string out = "tree " + PrintTree(tree.get());
    if (!parser.IsSymbol(kClassEnd)) out += " rest:" + parser.GetTokenText();
    return out;
  } catch (const EQuireEngineError& e) {
    if (e.Code() != kErrFilter || e.Names().TableName != "customer") {
      return "wrong error " + std::to_string(e.Code()) + " " + e.Names().TableName;
    }
    return "error " + e.Names().Message;
  }
}

struct GoldenRow {
  int line;
  int flags;
  char separator;
  std::string input;
  std::string expected;
};

std::vector<GoldenRow> ReadGolden() {
  const std::string path =
      test_support::SourcePath("tests/engine/expr/expression_parser_golden.txt");
  std::ifstream file(path);
  EXPECT_TRUE(file.good()) << path;
  std::vector<GoldenRow> rows;
  std::string line;
  int number = 0;
  while (std::getline(file, line)) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::stringstream stream(line);
    std::string field;
    while (std::getline(stream, field, '\t')) fields.push_back(field);
    if (fields.size() != 4 || fields[1].size() != 1) {
      ADD_FAILURE() << "malformed golden line " << number;
      continue;
    }
    rows.push_back({number, std::stoi(fields[0]), fields[1][0], fields[2], fields[3]});
  }
  return rows;
}

TEST(ExpressionGolden, EveryRowGivesItsTreeOrMessageAndReturnsEveryNode) {
  TFixedClock clock(EncodeDate(2024, 2, 29) + EncodeTime(13, 45, 30, 250));
  TScopedClock scoped_clock(clock);
  const std::vector<GoldenRow> rows = ReadGolden();
  EXPECT_GT(rows.size(), 200u);
  for (const GoldenRow& row : rows) {
    SeparatorScope separator(row.separator);
    const int32_t pooled = ExpTokenStack().Count();
    const std::string actual = ParseToText(row.input, static_cast<uint8_t>(row.flags));
    EXPECT_EQ(actual, row.expected)
        << "line " << row.line << ": " << row.input << "\nACTUAL\t" << row.flags << "\t"
        << row.separator << "\t" << row.input << "\t" << actual;
    // Every node taken, for the tree or for a partial tree, is back.
    EXPECT_GE(ExpTokenStack().Count(), pooled) << "line " << row.line;
    const int32_t after_first = ExpTokenStack().Count();
    ParseToText(row.input, static_cast<uint8_t>(row.flags));
    EXPECT_EQ(ExpTokenStack().Count(), after_first) << "line " << row.line;
  }
}

TEST(ExpressionLexer, ClassesOffsetsAndTexts) {
  FilterParser parser("  abc_1 [x y] 'q''r' #12 34 5.6e-7 ( /*c*/ <");
  EXPECT_EQ(parser.TextSize(), 45);
  struct Expected {
    uint8_t token_class;
    const char* text;
    int32_t offset;
  };
  const Expected tokens[] = {{kClassIdentifier, "abc_1", 2},
                             {kClassBracketed, "x y", 8},
                             {kClassString, "q'r", 14},
                             {kClassCharCode, "#12", 21},
                             {kClassInteger, "34", 25},
                             {kClassFloat, "5.6e-7", 28},
                             {'(', "(", 35},
                             {'<', "<", 43},
                             {kClassEnd, "", 44}};
  for (const Expected& e : tokens) {
    EXPECT_EQ(parser.NextToken(), e.token_class) << e.text;
    EXPECT_EQ(parser.GetTokenText(), e.text);
    EXPECT_EQ(parser.GetTokenOffset(), e.offset) << e.text;
  }
  // The end stays the end.
  EXPECT_EQ(parser.NextToken(), kClassEnd);
}

TEST(ExpressionLexer, SignEndsANumberExceptAfterItsExponent) {
  FilterParser parser("1e+5-2 3-4 7E");
  const char* texts[] = {"1e+5", "-", "2", "3", "-", "4", "7E"};
  for (const char* text : texts) {
    parser.NextToken();
    EXPECT_EQ(parser.GetTokenText(), text);
  }
}

TEST(ExpressionLexer, KeywordsMatchWithoutCaseButNeverWhenQuoted) {
  FilterParser parser("select 'SELECT' [SELECT]");
  parser.NextToken();
  EXPECT_TRUE(parser.IsKeyword("SELECT"));
  parser.NextToken();
  EXPECT_FALSE(parser.IsKeyword("SELECT"));
  parser.NextToken();
  EXPECT_FALSE(parser.IsKeyword("SELECT"));
}

TEST(ExpressionLexer, ExpressionTextRunsFromTheMarkToThePreviousTokenWithoutLineBreaks) {
  FilterParser parser("x, a +\r\n b  , y");
  parser.NextToken();
  parser.NextToken();
  parser.NextToken();
  parser.MarkExpressionStart();
  TreeGuard tree(parser.ParseAdditive(0));
  EXPECT_EQ(parser.GetExpressionText(), "a + b");
  EXPECT_TRUE(parser.IsSymbol(','));
}

TEST(ExpressionLexer, ClearTextForgetsEverything) {
  FilterParser parser("abc");
  parser.NextToken();
  parser.ClearText();
  EXPECT_EQ(parser.TextSize(), 0);
  EXPECT_EQ(parser.NextToken(), kClassEnd);
}

std::string Nested(int depth) {
  return std::string(depth, '(') + "1" + std::string(depth, ')');
}

TEST(ExpressionNesting, TheLimitIsAParseErrorNotAStackOverflow) {
  EXPECT_EQ(ParseToText(Nested(255), 0).substr(0, 11), "tree (5 0 \"");
  EXPECT_EQ(ParseToText(Nested(256), 0),
            "error Expression nested more than 256 levels deep in filter expression");
  // Far deeper text fails the same way, whichever construct nests.
  EXPECT_EQ(ParseToText(Nested(100000), 0),
            "error Expression nested more than 256 levels deep in filter expression");
  std::string functions;
  for (int i = 0; i < 5000; ++i) functions += "UPPER(";
  EXPECT_EQ(ParseToText(functions, 0),
            "error Expression nested more than 256 levels deep in filter expression");
}

TEST(ExpressionNesting, LongOperatorChainsParseAndFreeWithoutRecursion) {
  std::string text = "a";
  for (int i = 0; i < 100000; ++i) text += i % 2 ? " + a" : " OR a = 1";
  const int32_t before = ExpTokenStack().Count();
  FilterParser parser(text);
  parser.NextToken();
  TExpToken* tree = parser.ParseExpression(0);
  TExpToken* copy = CopyTokenTree(tree);
  EXPECT_TRUE(TokenTreesEqual(tree, copy));
  FreeTokenTree(copy);
  FreeTokenTree(tree);
  EXPECT_EQ(tree, nullptr);
  EXPECT_GE(ExpTokenStack().Count(), before);
}

TEST(ExpressionMessages, LongInputsAreQuotedInPartAndTheMessageKeepsItsEnd) {
  const std::string long_text(1 << 20, 'x');
  const std::string quoted(kMaxQuotedText, 'x');
  const std::pair<std::string, std::string> cases[] = {
      {"a = '" + long_text, "Missing single quote after '" + quoted + "' in filter expression"},
      {"a = \"" + long_text, "Missing double quote after '" + quoted + "' in filter expression"},
      {"[" + long_text, "Missing right bracket after '" + quoted + "' in filter expression"},
      {"UPPER " + long_text, "Left parentheses expectedafter UPPER keyword, instead found '" +
                                 quoted + "' in filter expression"},
      {long_text + "(1)",
       "Unknown or unexpected function '" + quoted + "' found in filter expression"},
  };
  for (const auto& [input, expected] : cases) {
    EXPECT_EQ(ParseToText(input, kParseExtended), "error " + expected) << input.substr(0, 20);
  }
  // The binder quotes node texts the same way.
  test_support::TestTable table("a 6 4 0 = 1");
  try {
    TExpToken* tree = test_support::ParseAndBind("'" + long_text + "' + a", table);
    FreeTokenTree(tree);
    ADD_FAILURE() << "no error";
  } catch (const EQuireEngineError& e) {
    EXPECT_EQ(e.Names().Message, "Type mismatch between constant '" + quoted +
                                     "' and column 'a' in filter expression");
  }
}

TEST(ExpressionHooks, SubSelectIsParsedByTheRegisteredEngineForItsOwner) {
  FakeSqlHooks hooks;
  HooksScope scope(&hooks);
  int statement = 0;
  TExpressionParser parser(&statement);
  parser.SetContextName("WHERE or JOIN clause");
  parser.SetText("a NOT IN (select b) AND c");
  parser.NextToken();
  TreeGuard tree(parser.ParseExpression(kParseExtended | kParseSubSelects));
  EXPECT_EQ(PrintTree(tree.get()),
            "(2 10 \"AND\" t4 (12 44 \"NOT IN\" t4 (4 0 \"a\" col:a) (6 0 \"SELECT\")) "
            "(4 0 \"c\" col:c))");
  EXPECT_EQ(tree.get()->Left->Right->QueryRef, &hooks.query);
  ASSERT_EQ(hooks.owners.size(), 1u);
  EXPECT_EQ(hooks.owners[0], &statement);
  EXPECT_EQ(hooks.subselect_texts, std::vector<std::string>{"b"});
}

TEST(ExpressionHooks, SubSelectNeedsItsFlagAndTheHooks) {
  FakeSqlHooks hooks;
  HooksScope scope(&hooks);
  EXPECT_EQ(ParseToText("a IN (SELECT b)", kParseExtended),
            "error Sub-select queries are not allowed in filter expression");
  EXPECT_EQ(ParseToText("a IN (SELECT b x", kParseExtended | kParseSubSelects),
            "error Expected right parentheses after IN operator, instead found 'x' in filter "
            "expression");
  EXPECT_TRUE(hooks.parameters.empty());
}

TEST(ExpressionHooks, ParametersAreRegisteredInTextOrder) {
  FakeSqlHooks hooks;
  HooksScope scope(&hooks);
  int statement = 0;
  TExpressionParser parser(&statement);
  parser.SetText("? + ?");
  parser.NextToken();
  TreeGuard tree(parser.ParseExpression(kParseParameters));
  ASSERT_EQ(hooks.parameters.size(), 2u);
  EXPECT_EQ(hooks.parameters[0], tree.get()->Left);
  EXPECT_EQ(hooks.parameters[1], tree.get()->Right);
  EXPECT_EQ(hooks.owners, (std::vector<void*>{&statement, &statement}));
}

TEST(ExpressionParser, ErrorsCarryTheOwnersCodeAndObjectName) {
  TExpressionParser parser;
  parser.SetErrorCode(kErrSql);
  parser.SetObjectName("orders");
  parser.SetContextName("SQL statement");
  parser.SetText("a +");
  parser.NextToken();
  try {
    TreeGuard tree(parser.ParseExpression(0));
    FAIL() << "no error";
  } catch (const EQuireEngineError& e) {
    EXPECT_EQ(e.Code(), kErrSql);
    EXPECT_EQ(e.Names().TableName, "orders");
    EXPECT_EQ(e.Message(),
              "Quire Engine Error # 11949 SQL error - Unknown or unexpected symbol '' found in SQL "
              "statement");
  }
}

TEST(ExpressionParser, DataTypeClauseIsOptionalWhenAsked) {
  FilterParser parser("NOT_A_TYPE");
  parser.NextToken();
  TreeGuard node(GetToken());
  parser.ParseDataType(node.get(), 0, true);
  EXPECT_EQ(node.get()->Type, 0);
  EXPECT_TRUE(parser.IsKeyword("NOT_A_TYPE"));
  parser.SetText("VARCHAR(20)");
  parser.NextToken();
  parser.ParseDataType(node.get(), 0, true);
  EXPECT_EQ(PrintTree(node.get()), "(0 0 \"\" t1 - (5 0 \"20\" t6 v:20/4))");
}

TEST(ExpressionParser, DataTypeFaultLeavesTheNodeAsItWas) {
  FilterParser parser("BLOB(1, 2");
  parser.NextToken();
  TreeGuard node(GetToken());
  EXPECT_THROW(parser.ParseDataType(node.get(), 0, false), EQuireEngineError);
  EXPECT_EQ(node.get()->Right, nullptr);
  EXPECT_EQ(node.get()->Type, 0);
}

TEST(ExpressionParser, UpperOfColumnIsRecognised) {
  const std::pair<const char*, bool> cases[] = {{"UPPER(a)", true},       {"upper(t.a)", true},
                                                {"LOWER(a)", false},      {"UPPER('a')", false},
                                                {"UPPER(a || b)", false}, {"a", false}};
  for (const auto& [text, expected] : cases) {
    FilterParser parser(text);
    parser.NextToken();
    TreeGuard tree(parser.ParseExpression(0));
    EXPECT_EQ(IsUpperOfColumn(tree.get()), expected) << text;
  }
  EXPECT_FALSE(IsUpperOfColumn(nullptr));
}

}  // namespace
}  // namespace jw
