// The table-level verifier: runs the data, index and BLOB file verifiers
// over a table's files and checks the files against each other: every key
// of an index names a live record and each live record appears once, the
// index file's live count is the data file's, and a table with BLOB fields
// has its BLOB file with every chain its records name.
#pragma once

#include <string>
#include <vector>

namespace jw::test {

// Problems found in the table whose data file is at data_path, one line
// each, prefixed "data: ", "index: ", "blob: " or "table: "; empty when
// sound. The table must not be open exclusively in this process.
std::vector<std::string> VerifyTable(const std::string& data_path);

}  // namespace jw::test
