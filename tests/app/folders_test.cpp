#include "app/folders.h"

#include <cmath>
#include <cstdlib>
#include <map>
#include <random>

#include <gtest/gtest.h>

#include "platform/rtl/random.h"
#include "tests/support/temp_folder.h"

namespace jw {
namespace {

using test_support::TempFolder;
using test_support::WriteFileBytes;

// A seeded generator, so the statistics below do not depend on the run.
class SeededSource : public TRandomSource {
 public:
  explicit SeededSource(uint32_t seed) : engine_(seed) {}
  int32_t Random(int32_t range) override {
    return range <= 0 ? 0 : std::uniform_int_distribution<int32_t>(0, range - 1)(engine_);
  }
  double RandomFloat() override { return std::uniform_real_distribution<double>(0, 1)(engine_); }
  void Randomize() override {}

 private:
  std::mt19937 engine_;
};

class ConstantSource : public TRandomSource {
 public:
  int32_t Random(int32_t) override { return 0; }
  double RandomFloat() override { return 0; }
  void Randomize() override {}
};

TEST(FoldersTest, PaperAndDataLieBesideTheExecutable) {
  const std::string paper = PaperFolder();
  ASSERT_GE(paper.size(), 6u);
  EXPECT_EQ(paper.substr(paper.size() - 6), "paper/");
  EXPECT_EQ(DataFolder(), paper.substr(0, paper.size() - 6) + "data/");
}

TEST(RandomPaperFileTest, EmptyFolderGivesNoName) {
  TempFolder folder;
  WriteFileBytes(folder.File("readme.txt"), "x");
  EXPECT_EQ(RandomPaperFile(folder.Path()), "");
  EXPECT_EQ(RandomPaperFile(folder.File("missing/")), "");
}

TEST(RandomPaperFileTest, MatchesBmpWithoutCaseAndIgnoresOtherFiles) {
  TempFolder folder;
  WriteFileBytes(folder.File("ONLY.BMP"), "x");
  WriteFileBytes(folder.File("note.txt"), "x");
  EXPECT_EQ(RandomPaperFile(folder.Path()), "ONLY.BMP");
}

TEST(RandomPaperFileTest, ADrawOfZeroStillChoosesAFile) {
  TempFolder folder;
  WriteFileBytes(folder.File("a.bmp"), "x");
  WriteFileBytes(folder.File("b.bmp"), "x");
  ConstantSource zero;
  TScopedRandomSource scope(zero);
  EXPECT_EQ(RandomPaperFile(folder.Path()), "a.bmp");
}

TEST(RandomPaperFileTest, ChoiceIsUniformOverThreeFiles) {
  TempFolder folder;
  for (const char* name : {"a.bmp", "b.Bmp", "c.bmp"}) WriteFileBytes(folder.File(name), "x");
  SeededSource source(20240611);
  TScopedRandomSource scope(source);
  const int draws = std::getenv("JW_LONG_TESTS") ? 300000 : 3000;
  std::map<std::string, int> counts;
  for (int i = 0; i < draws; ++i) ++counts[RandomPaperFile(folder.Path())];
  ASSERT_EQ(counts.size(), 3u);
  double chi_square = 0;
  const double expected = draws / 3.0;
  for (const auto& [name, count] : counts)
    chi_square += (count - expected) * (count - expected) / expected;
  // 13.82 is the 0.1% point of the chi-square distribution with 2 degrees of freedom.
  EXPECT_LT(chi_square, 13.82);
}

TEST(PaperPathTest, FindsAStoredNameWrittenInAnotherCase) {
  TempFolder folder;
  WriteFileBytes(folder.File("Yellow.bmp"), "x");
  EXPECT_EQ(PaperPath("YELLOW.BMP", folder.Path()), folder.File("Yellow.bmp"));
  EXPECT_EQ(PaperPath("none.bmp", folder.Path()), folder.File("none.bmp"));
}

}  // namespace
}  // namespace jw
