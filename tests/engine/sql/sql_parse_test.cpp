// The parse trees of SELECT, INSERT, UPDATE, DELETE and the data definition
// statements against the golden dumps in sql_parse_golden.txt, and the
// statement's own rules: script stepping by consumed length, keywords in any
// case, and parameter markers numbered in text order and bound by position.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/data_file_format.h"
#include "engine/sql/query_statement.h"
#include "engine/support/field_types.h"
#include "platform/rtl/strings.h"
#include "tests/engine/sql/sql_test_util.h"
#include "tests/support/table_rows.h"

namespace jw {
namespace {

using test_support::DumpStatement;
using test_support::ParseToText;
using test_support::StatementDatabase;

TEST(SqlParseGolden, EveryStatementGivesItsDump) {
  const auto rows = test_support::ReadTableRows("tests/engine/sql/sql_parse_golden.txt", 2);
  EXPECT_GE(rows.size(), 50u);
  for (const auto& row : rows) {
    const std::string& statement = row.fields[0];
    const std::string actual = ParseToText(statement);
    EXPECT_EQ(actual, row.fields[1])
        << "line " << row.line << "\nACTUAL\t" << statement << "\t" << actual;
  }
}
// Parses one statement after another from a script, each from where the
// one before stopped.
TEST(SqlScript, EachParseStepsPastItsStatementAndItsSemicolon) {
  const std::string script =
      "select * from t; INSERT INTO u VALUES (1);\n /* next */ DELETE FROM v WHERE a = 1;x";
  const size_t x_at = script.size() - 1;
  std::vector<uint8_t> kinds;
  std::vector<int32_t> steps;
  int32_t consumed = 0;
  while (static_cast<size_t>(consumed) < x_at) {
    StatementDatabase statement_database;
    TQueryStatement statement(statement_database.session, *statement_database.directory);
    statement.Parse(script.c_str() + consumed, consumed);
    kinds.push_back(statement.MainQuery()->Kind);
    steps.push_back(consumed);
  }
  EXPECT_EQ(kinds, (std::vector<uint8_t>{kSqlSelect, kSqlInsert, kSqlDelete}));
  EXPECT_EQ(steps, (std::vector<int32_t>{16, 42, static_cast<int32_t>(x_at)}));
  // What follows the last ';' is the next statement, with its own fault.
  EXPECT_EQ(ParseToText(script.substr(x_at)),
            "error Quire Engine Error # 11949 SQL error - SELECT, INSERT, UPDATE, DELETE, CREATE, "
            "ALTER, or DROP keyword expected, instead found 'x'");
  // A statement without ';' is read to the end of the text.
  StatementDatabase last_database;
  TQueryStatement last(last_database.session, *last_database.directory);
  int32_t to_end = 0;
  last.Parse("DROP TABLE t  ", to_end);
  EXPECT_EQ(to_end, 14);
}

TEST(SqlKeywords, AreRecognisedInAnyCase) {
  const std::string statements[] = {
      "SELECT DISTINCT a AS x, COUNT(b) FROM t LEFT OUTER JOIN u ON t.a = u.a WHERE a IN "
      "(SELECT c FROM v) GROUP BY a HAVING COUNT(b) > 1 ORDER BY 1 DESC NOCASE",
      "INSERT INTO MEMORY t (a) VALUES (1) NOAUTOINC COMMIT INTERVAL 5",
      "UPDATE t SET a = 1 WHERE b IS NOT NULL",
      "DELETE FROM t WHERE a BETWEEN 1 AND 2",
      "CREATE TABLE t (a INTEGER NOT NULL, b CHAR(5), PRIMARY KEY (a) COMPRESS FULL)",
      "CREATE UNIQUE INDEX i ON t (b)",
      "ALTER TABLE t ADD COLUMN c DATE AT 1, DROP PRIMARY KEY NOBACKUP",
      "DROP INDEX t.i"};
  auto recase = [](const std::string& text, bool upper_first) {
    std::string out = text;
    bool upper = upper_first;
    for (char& c : out) {
      if (c >= 'A' && c <= 'Z') {
        if (!upper) c = static_cast<char>(c - 'A' + 'a');
        upper = !upper;
      }
    }
    return out;
  };
  for (const std::string& statement : statements) {
    const std::string expected = UpperCase(ParseToText(statement));
    EXPECT_EQ(expected.find("ERROR"), std::string::npos) << expected;
    // Keywords are the only upper-case words of the statements.
    std::string lower = statement;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(UpperCase(ParseToText(lower)), expected) << statement;
    EXPECT_EQ(UpperCase(ParseToText(recase(statement, false))), expected) << statement;
  }
}

TEST(SqlParameters, AreNumberedInTextOrderAcrossSubSelects) {
  StatementDatabase statement_database;
  TQueryStatement statement(statement_database.session, *statement_database.directory);
  int32_t consumed = 0;
  statement.Parse("UPDATE t SET a = ?, b = ? WHERE c IN (SELECT d FROM u WHERE e = ?) AND f = ?",
                  consumed);
  const TDataQuery& update = *statement.Queries()[0];
  const TDataQuery& sub = *statement.Queries()[1];
  const std::vector<const TExpToken*> expected = {
      update.UpdateValues[0]->Expression.get(), update.UpdateValues[1]->Expression.get(),
      sub.Condition->Right, update.Condition->Right->Right};
  ASSERT_EQ(statement.Parameters().size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(statement.Parameters()[i], expected[i]) << i;
    EXPECT_TRUE(expected[i]->IsParameter) << i;
  }
  // A new Parse starts a new list.
  consumed = 0;
  statement.Parse("DELETE FROM t WHERE a = ?", consumed);
  ASSERT_EQ(statement.Parameters().size(), 1u);
  EXPECT_EQ(statement.Parameters()[0], statement.MainQuery()->Condition->Right);
}

TEST(SqlParameters, TakeTypeAndValueFromTheirDescriptorByPosition) {
  StatementDatabase statement_database;
  TQueryStatement statement(statement_database.session, *statement_database.directory);
  int32_t consumed = 0;
  statement.Parse("INSERT INTO t VALUES (?, ?, ?, ?)", consumed);
  const uint8_t blob_bytes[] = {'x', 0, 'z'};
  struct Slot {
    uint8_t type;
    uint8_t physical_length;
    uint8_t decimals;
    uint16_t offset;
  };
  const Slot slots[] = {
      {kFldInteger, 4, 0, 0}, {kFldString, 4, 0, 5}, {kFldBcd, 8, 2, 10}, {kFldBlob, 8, 0, 19}};
  std::vector<uint8_t> descriptors(4 * kFieldDescriptorSize);
  std::vector<uint8_t> values(19 + kParamFlagSize + 4 + sizeof(const uint8_t*));
  for (int i = 0; i < 4; ++i) {
    FieldDescriptor field;
    field.Number = static_cast<int16_t>(i + 1);
    field.Type = slots[i].type;
    field.PhysicalLength = slots[i].physical_length;
    field.PhysicalDecimals = slots[i].decimals;
    field.Offset = slots[i].offset;
    field.EncodeTo(descriptors.data() + i * kFieldDescriptorSize);
  }
  const int32_t integer = 42;
  values[0] = 1;
  std::memcpy(&values[1], &integer, 4);
  values[5] = 1;
  std::memcpy(&values[6], "abc", 4);
  values[10] = 0;  // the BCD parameter is NULL
  values[19] = 1;
  const int32_t blob_length = 3;
  const uint8_t* blob_pointer = blob_bytes;
  std::memcpy(&values[20], &blob_length, 4);
  std::memcpy(&values[24], &blob_pointer, sizeof blob_pointer);
  statement.BindParams(4, descriptors.data(), values.data());
  statement.CheckParamsBound();

  const std::vector<TExpToken*>& parameters = statement.Parameters();
  ASSERT_EQ(parameters.size(), 4u);
  EXPECT_EQ(parameters[0]->Type, kFldInteger);
  EXPECT_EQ(parameters[0]->Size(), 4);
  EXPECT_EQ(std::memcmp(parameters[0]->Value(), &integer, 4), 0);
  EXPECT_FALSE(parameters[0]->IsNull);
  EXPECT_EQ(parameters[1]->Type, kFldString);
  EXPECT_STREQ(reinterpret_cast<const char*>(parameters[1]->Value()), "abc");
  EXPECT_EQ(parameters[2]->Type, kFldBcd);
  EXPECT_EQ(parameters[2]->Scale, 2);
  EXPECT_TRUE(parameters[2]->IsNull);
  EXPECT_EQ(parameters[3]->Type, kFldBlob);
  EXPECT_EQ(parameters[3]->Size(), 3);
  EXPECT_EQ(std::memcmp(parameters[3]->Value(), blob_bytes, 3), 0);
}

}  // namespace
}  // namespace jw
