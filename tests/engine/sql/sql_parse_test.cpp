// The parse trees of SELECT, INSERT, UPDATE, DELETE and the data definition
// statements against the golden dumps in sql_parse_golden.txt, and the
// statement's own rules: script stepping by consumed length, keywords in any
// case, and parameter markers numbered in text order and bound by position.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/core/data_file_format.h"
#include "engine/sql/query_statement.h"
#include "engine/support/field_types.h"
#include "tests/engine/sql/sql_test_util.h"
#include "tests/support/source_path.h"

namespace jw {
namespace {

using test_support::DumpStatement;
using test_support::kStatementDirectory;
using test_support::PrepareToText;

struct GoldenRow {
  int line;
  std::string statement;
  std::string dump;
};

std::vector<GoldenRow> ReadGolden() {
  const std::string path = test_support::SourcePath("tests/engine/sql/sql_parse_golden.txt");
  std::ifstream file(path);
  EXPECT_TRUE(file.good()) << path;
  std::vector<GoldenRow> rows;
  std::string line;
  int number = 0;
  while (std::getline(file, line)) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) {
      ADD_FAILURE() << "malformed line " << number;
      continue;
    }
    rows.push_back({number, line.substr(0, tab), line.substr(tab + 1)});
  }
  return rows;
}

TEST(SqlParseGolden, EveryStatementGivesItsDump) {
  const std::vector<GoldenRow> rows = ReadGolden();
  EXPECT_GE(rows.size(), 50u);
  for (const GoldenRow& row : rows) {
    const std::string actual = PrepareToText(row.statement);
    EXPECT_EQ(actual, row.dump) << "line " << row.line << "\nACTUAL\t" << row.statement << "\t"
                                << actual;
  }
}
}  // namespace
}  // namespace jw
