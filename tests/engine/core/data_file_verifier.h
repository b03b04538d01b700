// The tests' view of the storage core's verify routine (engine/core/table_verify.h):
// problems as plain lines, read from the files on disk. Tests run it after
// they change a table; the index and BLOB files have their own headers here.
#pragma once

#include <string>
#include <vector>

#include "engine/core/table_verify.h"

namespace jw::test {

// The texts of a report, one line per problem.
std::vector<std::string> ProblemTexts(const TVerifyReport& report);

// Problems found in the data file at path, one line each; empty when sound.
std::vector<std::string> VerifyDataFile(const std::string& path);

}  // namespace jw::test
