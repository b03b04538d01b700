// The storage core's verifier: reads a table's files without the engine's
// caches and lists every broken promise of their formats. Tests run it
// after they change a table; the index and BLOB files add their checks here.
#pragma once

#include <string>
#include <vector>

namespace jw::test {

// Problems found in the data file at path, one line each; empty when sound.
std::vector<std::string> VerifyDataFile(const std::string& path);

}  // namespace jw::test
