#include "tests/engine/core/data_file_verifier.h"

#include "tests/engine/core/test_table.h"

namespace jw::test {

std::vector<std::string> ProblemTexts(const TVerifyReport& report) {
  std::vector<std::string> texts;
  for (const TVerifyProblem& problem : report) texts.push_back(problem.Text);
  return texts;
}

std::vector<std::string> VerifyDataFile(const std::string& path) {
  TDataFileImage image;
  return ProblemTexts(VerifyDataFileBytes(ReadWholeFile(path), image));
}

}  // namespace jw::test
