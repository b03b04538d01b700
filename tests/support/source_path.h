// Where a test finds the files checked in beside it (golden tables, corpora):
// CTest gives every test executable the source tree in JW_SOURCE_DIR, since
// __FILE__ may be a path relative to a build folder the test does not run in.
#pragma once

#include <cstdlib>
#include <string>

namespace jw::test_support {

// The file at `relative` (from the repository root) in the source tree.
inline std::string SourcePath(const std::string& relative) {
  const char* root = std::getenv("JW_SOURCE_DIR");
  return (root != nullptr && *root != '\0' ? std::string(root) : std::string(".")) + "/" + relative;
}

}  // namespace jw::test_support
