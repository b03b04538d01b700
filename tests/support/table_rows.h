// The rows of a table-driven test's data file: tab-separated fields, one row
// a line, with empty lines and lines that start with '#' left out. The file
// is found in the source tree (source_path.h).
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/source_path.h"

namespace jw::test_support {

struct TableRow {
  int line = 0;  // 1-based, for failure messages
  std::vector<std::string> fields;
};

// Every row must hold field_count fields; a row that does not is reported as
// a failure of the calling test and left out.
inline std::vector<TableRow> ReadTableRows(const std::string& relative, size_t field_count) {
  const std::string path = SourcePath(relative);
  std::ifstream file(path);
  EXPECT_TRUE(file.good()) << path;
  std::vector<TableRow> rows;
  std::string line;
  int number = 0;
  while (std::getline(file, line)) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    TableRow row{number, {}};
    std::stringstream stream(line);
    std::string field;
    while (std::getline(stream, field, '\t')) row.fields.push_back(field);
    // A last field left empty still counts.
    if (line.back() == '\t') row.fields.emplace_back();
    if (row.fields.size() != field_count) {
      ADD_FAILURE() << path << ": malformed line " << number;
      continue;
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace jw::test_support
