// Every statement message against the table in sql_messages.txt: each row
// must raise its code with its full text, and leave nothing behind: the
// statement frees cleanly with the tables it opened, the process format
// settings are as they were and every token taken is back in the pool.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/core/data_file_format.h"
#include "engine/sql/query_statement.h"
#include "engine/support/engine_errors.h"
#include "engine/support/field_types.h"
#include "platform/rtl/format_settings.h"
#include "tests/engine/sql/sql_test_util.h"
#include "tests/support/table_rows.h"

namespace jw {
namespace {

// The session language of every row: its date formats differ from the fixed
// ones, so a swap that is not undone shows, while its numbers read as in the
// statements.
constexpr uint16_t kEnglishUk = 0x0809;

struct MessageRow {
  int line;
  std::string phase;
  EngineErrorCode code;
  std::string statement;
  std::string message;
};

std::vector<MessageRow> ReadMessages() {
  std::vector<MessageRow> rows;
  for (const auto& row : test_support::ReadTableRows("tests/engine/sql/sql_messages.txt", 4)) {
    const std::vector<std::string>& f = row.fields;
    rows.push_back({row.line, f[0], static_cast<EngineErrorCode>(std::stoi(f[1])), f[2], f[3]});
  }
  return rows;
}

// Binds integer values to the first count parameters.
void BindIntegers(TQueryStatement& statement, int32_t count) {
  if (count <= 0) return;
  std::vector<uint8_t> descriptors(static_cast<size_t>(count) * kFieldDescriptorSize);
  std::vector<uint8_t> values(static_cast<size_t>(count) * 5 + 1);
  for (int32_t i = 0; i < count; ++i) {
    FieldDescriptor field;
    field.Number = static_cast<int16_t>(i + 1);
    field.Type = kFldInteger;
    field.PhysicalLength = 4;
    field.Offset = static_cast<uint16_t>(i * 5);
    field.EncodeTo(descriptors.data() + static_cast<size_t>(i) * kFieldDescriptorSize);
    values[static_cast<size_t>(i) * 5] = 1;
  }
  statement.BindParams(count, descriptors.data(), values.data());
}

// Runs the row's phase and gives the raised error as code and full text.
std::string RunRow(test_support::StatementDatabase& database, const MessageRow& row) {
  TQueryStatement statement(database.session, *database.directory);
  int32_t consumed = 0;
  try {
    if (row.phase == "define") {
      statement.Prepare(row.statement.c_str(), consumed);
      statement.MainQuery()->ExecuteDefinition();
    } else if (row.phase == "resolve" || row.phase == "condition") {
      statement.Prepare(row.statement.c_str(), consumed);
      TDataQuery& query = *statement.MainQuery();
      if (row.phase == "condition") query.BindCondition(query.Condition.get());
    } else {
      statement.Parse(row.statement.c_str(), consumed);
    }
    const auto count = static_cast<int32_t>(statement.Parameters().size());
    if (row.phase == "bind") BindIntegers(statement, count + 1);
    if (row.phase == "execute") {
      BindIntegers(statement, count - 1);
      statement.CheckParamsBound();
    }
  } catch (const EQuireEngineError& e) {
    return std::to_string(e.Code()) + "\t" + e.Message();
  }
  return "(nothing raised)";
}

TEST(SqlMessages, EveryRowRaisesItsTextAndLeavesNothingBehind) {
  const std::vector<MessageRow> rows = ReadMessages();
  EXPECT_GT(rows.size(), 150u);
  test_support::ResolveDatabase tables(kEnglishUk);
  test_support::StatementDatabase& database = tables.database;
  for (const MessageRow& row : rows) {
    const TFormatSettings saved = FormatSettings();
    const int32_t pooled = ExpTokenStack().Count();
    const std::string actual = RunRow(database, row);
    EXPECT_EQ(actual, std::to_string(row.code) + "\t" + row.message)
        << "line " << row.line << ": " << row.statement;
    EXPECT_TRUE(FormatSettings() == saved) << "line " << row.line;
    // The first run may have grown the pool; the second takes every node
    // from it and must give each one back.
    EXPECT_GE(ExpTokenStack().Count(), pooled) << "line " << row.line;
    const int32_t after_first = ExpTokenStack().Count();
    RunRow(database, row);
    EXPECT_EQ(ExpTokenStack().Count(), after_first) << "line " << row.line;
    EXPECT_EQ(database.directory->TableCount(), 0) << "line " << row.line;
    // A table that failed to be made leaves no file behind.
    EXPECT_FALSE(std::filesystem::exists(tables.folder.File("x.DAT"))) << "line " << row.line;
  }
}

}  // namespace
}  // namespace jw
