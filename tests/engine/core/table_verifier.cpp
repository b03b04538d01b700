#include "tests/engine/core/table_verifier.h"

#include "engine/core/table_verify.h"
#include "tests/engine/core/data_file_verifier.h"

namespace jw::test {

std::vector<std::string> VerifyTable(const std::string& data_path) {
  return ProblemTexts(VerifyTableFiles(data_path));
}

}  // namespace jw::test
