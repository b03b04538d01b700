// The binder: every message it raises, word for word, and the types,
// sizes and rewrites it gives the trees it accepts.
#include <gtest/gtest.h>

#include <string>

#include "engine/expr/expression_binder.h"
#include "engine/support/engine_errors.h"
#include "engine/support/language_settings.h"
#include "tests/engine/expr/expression_eval_util.h"
#include "tests/engine/expr/expression_test_util.h"

namespace jw {
namespace {

using test_support::ParseAndBind;
using test_support::PrintTree;
using test_support::TestTable;

const char* const kColumns =
    "i 6 4 0 = 7; j 6 4 0 = 2; f 7 8 0 = 2.5; str 1 21 0 = 'Hello'; d 2 4 0 = 2024-03-10; "
    "bo 4 2 0 = True; tb 3.22 8 0 = 'memo'; bb 3.21 8 0 = 'x'";

struct MessageCase {
  const char* expression;
  const char* message;  // without the trailing " in filter expression"
};

TEST(ExpressionBinding, EveryFaultHasItsMessage) {
  const MessageCase cases[] = {
      {"-str", "Type mismatch between '-' operator and 'str'"},
      {"NOT i", "Type mismatch between 'NOT' operator and 'i'"},
      {"i + str", "Type mismatch between column 'i' and column 'str'"},
      {"1 + 'x'", "Type mismatch between constant '1' and constant 'x'"},
      {"UPPER(str) = 1", "Type mismatch between function 'UPPER' and constant '1'"},
      {"(i + 1) = 'x'", "Type mismatch between expression '+' and constant 'x'"},
      {"str = bb", "Type mismatch between column 'str' and column 'bb'"},
      {"d = 'nodate'", "Date, time, or timestamp expression expected, instead found 'nodate'"},
      {"q = 1", "Invalid column name 'q' or table correlation name '' specified"},
      {"x.q = 1", "Invalid column name 'q' or table correlation name 'x' specified"},
      {"SUM(str)",
       "SUM aggregate function must contain a numeric, date, time, or timestamp expression"},
      {"AVG(bo)",
       "AVG aggregate function must contain a numeric, date, time, or timestamp expression"},
      {"UPPER(i)", "Type mismatch between UPPER function and function argument"},
      {"LOWER(d)", "Type mismatch between LOWER function and function argument"},
      {"SUBSTRING(i FROM 1)", "Expression argument of SUBSTRING function must be a string or memo"},
      {"SUBSTRING(str FROM 'a')",
       "FROM argument of SUBSTRING function must be an integer constant"},
      {"SUBSTRING(str FROM 0)",
       "FROM argument of SUBSTRING function must be an integer constant greater than 0"},
      {"SUBSTRING(str FROM 1 FOR i)",
       "FOR argument of SUBSTRING function must be an integer constant"},
      {"SUBSTRING(str FROM 1 FOR 0)",
       "FOR argument of SUBSTRING function must be an integer constant greater than 0"},
      {"REPLACE('a' WITH 'b' IN i)", "IN argument of REPLACE function must be a string or memo"},
      {"REPLACE(i WITH 'b' IN str)",
       "Search argument of REPLACE function must be a string constant"},
      {"REPLACE('a' WITH i IN str)", "WITH argument of REPLACE function must be a string constant"},
      {"REPLACE('a' WITH '' IN str)",
       "WITH argument of REPLACE function must be a string constant"},
      {"POS('a' IN i)", "Type mismatch between POS function and IN argument"},
      {"POS(i IN str)", "Search string argument of POS function must be a string constant"},
      {"OCCURS('a' IN i)", "Type mismatch between OCCURS function and IN argument"},
      {"OCCURS(i IN str)", "Search string argument of OCCURS function must be a string constant"},
      {"TRIM(BOTH 'x' FROM i)", "FROM argument of TRIM function must be a string or memo"},
      {"TRIM(BOTH 'xy' FROM str)",
       "Trim character argument of TRIM function must be a single character constant"},
      {"CAST(tb AS INTEGER)", "Type mismatch between column 'tb' and AS argument"},
      {"CAST(d AS TIME)", "Type mismatch between column 'd' and AS argument"},
      {"CAST(str AS CHAR(251))",
       "Length argument must be an integer greater than 0 and less than or equal to 250"},
      {"CAST(str AS CHAR(0))",
       "Length argument must be an integer greater than 0 and less than or equal to 250"},
      {"CAST(str AS CHAR('a'))", "Length argument must be an integer"},
      {"CAST(str AS BYTES(251))",
       "Length argument must be an integer greater than 0 and less than or equal to 250"},
      {"CAST(f AS FLOAT(10, 'a'))", "Scale argument must be an integer"},
      {"CAST(tb AS BLOB('a', 1))",
       "First BLOB type argument must be an integer with the value of 0"},
      {"CAST(tb AS BLOB(0, 'a'))", "BLOB type argument must be an integer"},
      {"CAST(tb AS BLOB(0, 4))", "BLOB type argument must be an integer equal to 1,2,3,5, or 7"},
      {"EXTRACT(YEAR FROM i)",
       "FROM argument of EXTRACT function must be a date, time, or timestamp"},
      {"IF(i THEN 1 ELSE 2)", "First expression argument of IF function must be a boolean type"},
      {"IF(bo THEN 1 ELSE 'a')", "Type mismatch between second and third IF expression arguments"},
      {"ABS(str)", "Expression argument of ABS function must be an integer or floating-point type"},
      {"ROUND(i)", "Expression argument of ROUND function must be a floating-point type"},
      {"ROUND(f TO 'a')", "Decimal places argument of ROUND function must be an integer constant"},
      {"ROUND(f TO -1)", "Decimal places argument of ROUND function must be an integer constant"},
      {"ROUND(f TO 33)",
       "Decimal places argument of ROUND function must be an integer constant between 0 and 32"},
      {"i LIKE 'a%'", "Type mismatch between LIKE operator and expression 'i'"},
      {"str LIKE i", "Constant expression expected after LIKE operator, instead found 'i'"},
      {"str LIKE 5", "Type mismatch between LIKE operator and expression '5'"},
      {"str NOT LIKE str",
       "Constant expression expected after NOT LIKE operator, instead found 'str'"},
      {"i IN (j)", "Constant expression expected after IN operator, instead found 'j'"},
      {"i IN (1, 'a')", "Type mismatch between IN operator and expression 'a'"},
      {"i NOT IN (i + 1)", "Constant expression expected after NOT IN operator, instead found '+'"},
      {"d IN ('nodate')", "Date, time, or timestamp expression expected, instead found 'nodate'"},
      {"i BETWEEN 1 AND j",
       "Constant expression expected after BETWEEN operator, instead found 'j'"},
      {"i NOT BETWEEN 'a' AND 2", "Type mismatch between NOT BETWEEN operator and expression 'a'"},
  };
  TLanguageSwap swap(0, 0);
  for (const MessageCase& c : cases) {
    TestTable table(kColumns);
    try {
      TExpToken* tree = ParseAndBind(c.expression, table);
      FreeTokenTree(tree);
      ADD_FAILURE() << c.expression << ": no error";
    } catch (const EQuireEngineError& e) {
      EXPECT_EQ(e.Code(), kErrFilter) << c.expression;
      EXPECT_EQ(e.Names().TableName, "T") << c.expression;
      EXPECT_EQ(e.Names().FieldName, "") << c.expression;
      EXPECT_EQ(e.Names().Message, std::string(c.message) + " in filter expression")
          << c.expression;
    }
  }
}

TEST(ExpressionBinding, MessagesWithTheContextInsideThem) {
  TLanguageSwap swap(0, 0);
  TestTable table(kColumns);
  const MessageCase cases[] = {
      {"IF(bo THEN NULL ELSE NULL)",
       "At least one of the second and third IF expression arguments in filter expression must be "
       "a non-NULL value"},
      {"CAST(f AS DECIMAL(10, 5))",
       "Scale argument must be an integer less than or equal to 4 for the BCD data type filter "
       "expression"},
  };
  for (const MessageCase& c : cases) {
    try {
      TExpToken* tree = ParseAndBind(c.expression, table);
      FreeTokenTree(tree);
      ADD_FAILURE() << c.expression << ": no error";
    } catch (const EQuireEngineError& e) {
      EXPECT_EQ(e.Names().Message, c.message) << c.expression;
    }
  }
}

struct FormCase {
  const char* expression;
  const char* tree;
};

TEST(ExpressionBinding, AcceptedTreesTakeTheirTypesAndSizes) {
  TLanguageSwap swap(0, 0);
  const FormCase cases[] = {
      {"CAST(str AS CHAR(250))",
       "(10 52 \"CAST\" t1 (4 0 \"str\" t1 col:str) (5 0 \"250\" t6 v:250/4))"},
      {"IF(bo THEN str ELSE NULL)",
       "(10 60 \"IF\" t1 (4 0 \"bo\" t4 col:bo) (4 0 \"str\" t1 col:str) (5 0 \"NULL\" t1 null))"},
      {"d = '2024-03-10'",
       "(2 3 \"=\" t4 (4 0 \"d\" t2 col:d) (5 0 \"2024-03-10\" t2 v:738955/4))"},
      {"'str' = 'Hello'", "(2 3 \"=\" t4 (4 0 \"str\" t1 col:str) (5 0 \"Hello\" t1 v:'Hello'/6))"},
      {"'str' = 'i'", "(2 3 \"=\" t4 (4 0 \"str\" t1 col:str) (5 0 \"i\" t1 v:'i'/2))"},
  };
  for (const FormCase& c : cases) {
    TestTable table(kColumns);
    TExpToken* tree = ParseAndBind(c.expression, table);
    EXPECT_EQ(PrintTree(tree), c.tree) << c.expression;
    FreeTokenTree(tree);
  }
  TestTable table(kColumns);
  TExpToken* cast = ParseAndBind("CAST(str AS CHAR(250))", table);
  EXPECT_EQ(cast->Size(), 251);
  FreeTokenTree(cast);
  TExpToken* bcd = ParseAndBind("CAST(f AS DECIMAL(10, 4)) + CAST(i AS DECIMAL(8, 2))", table);
  EXPECT_EQ(bcd->Type, kFldBcd);
  EXPECT_EQ(bcd->Size(), 8);
  EXPECT_EQ(bcd->Scale, 4);
  FreeTokenTree(bcd);
  TExpToken* blob = ParseAndBind("CAST(tb AS BLOB(0, 1))", table);
  EXPECT_EQ(blob->Subtype, 22);
  FreeTokenTree(blob);
}

TEST(ExpressionBinding, BareBooleansInConditionsBecomeComparisonsWithTrue) {
  const FormCase cases[] = {
      {"bo", "(2 3 \"=\" t4 (4 0 \"bo\" t4 col:bo) (5 0 \"True\" t4 v:1/2))"},
      {"NOT bo", "(1 9 \"NOT\" t4 (2 3 \"=\" t4 (4 0 \"bo\" t4 col:bo) (5 0 \"True\" t4 v:1/2)))"},
      {"i > 1 AND bo",
       "(2 10 \"AND\" t4 (2 5 \">\" t4 (4 0 \"i\" t6 col:i) (5 0 \"1\" t6 v:1/4)) (2 3 \"=\" t4 (4 "
       "0 "
       "\"bo\" t4 col:bo) (5 0 \"True\" t4 v:1/2)))"},
      {"bo = False", "(2 3 \"=\" t4 (4 0 \"bo\" t4 col:bo) (5 0 \"False\" t4 v:0/2))"},
  };
  for (const FormCase& c : cases) {
    TestTable table(kColumns);
    TExpToken* tree = ParseAndBind(c.expression, table, true);
    EXPECT_EQ(PrintTree(tree), c.tree) << c.expression;
    // The parent links name the nodes that hold each child.
    for (const TExpToken* child : {tree->Left, tree->Right}) {
      if (child != nullptr) {
        EXPECT_EQ(child->Parent, tree) << c.expression;
      }
    }
    FreeTokenTree(tree);
  }
}

}  // namespace
}  // namespace jw
