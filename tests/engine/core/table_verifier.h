// The table-level verify routine for tests: the data, index and BLOB files
// of a table checked on their own and against each other (every key of an
// index names a live record once, the live counts agree, every BLOB chain a
// record names is sound), read from disk.
#pragma once

#include <string>
#include <vector>

namespace jw::test {

// Problems found in the table whose data file is at data_path, one line
// each, prefixed "data: ", "index: ", "blob: " or "table: "; empty when
// sound.
std::vector<std::string> VerifyTable(const std::string& data_path);

}  // namespace jw::test
