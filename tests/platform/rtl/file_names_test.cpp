#include "platform/rtl/file_names.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace jw {
namespace {

using Names = std::vector<std::string>;

TEST(FileNames, SplitAndChangeNamesAsTheHostLibraryDoes) {
  const struct {
    std::string path, dir, name, ext, as_ini;
  } cases[] = {
      {"/opt/jw/scraps", "/opt/jw/", "scraps", "", "/opt/jw/scraps.INI"},
      {"/opt/jw/scraps.exe", "/opt/jw/", "scraps.exe", ".exe", "/opt/jw/scraps.INI"},
      {"archive.tar.gz", "", "archive.tar.gz", ".gz", "archive.tar.INI"},
      {"/a.d/file", "/a.d/", "file", "", "/a.d/file.INI"},
      {"/a/.hidden", "/a/", ".hidden", ".hidden", "/a/.INI"},
      {"/a/b/", "/a/b/", "", "", "/a/b/.INI"},
      {"name.", "", "name.", ".", "name.INI"},
      {"", "", "", "", ".INI"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExtractFilePath(c.path), c.dir) << c.path;
    EXPECT_EQ(ExtractFileName(c.path), c.name) << c.path;
    EXPECT_EQ(ExtractFileExt(c.path), c.ext) << c.path;
    EXPECT_EQ(ChangeFileExt(c.path, ".INI"), c.as_ini) << c.path;
  }
}

TEST(FileNames, TrailingDelimitersAndStoredNames) {
  EXPECT_EQ(IncludeTrailingPathDelimiter("/opt/jw"), "/opt/jw/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/opt/jw/"), "/opt/jw/");
  EXPECT_EQ(ExcludeTrailingPathDelimiter("/opt/jw/"), "/opt/jw");
  EXPECT_EQ(ExcludeTrailingPathDelimiter("/opt/jw"), "/opt/jw");
  EXPECT_EQ(ExcludeTrailingPathDelimiter("/"), "/");
  EXPECT_EQ(JoinStoredName("/opt/jw/", "paper\\yellow.bmp"), "/opt/jw/paper/yellow.bmp");
  EXPECT_EQ(JoinStoredName("/opt/jw", "yellow.bmp"), "/opt/jw/yellow.bmp");
  EXPECT_EQ(JoinStoredName("", "data\\scraps.DAT"), "data/scraps.DAT");
}

TEST(FileNames, MasksMatchWithoutAsciiCase) {
  const struct {
    const char* name;
    const char* mask;
    bool matches;
  } cases[] = {
      {"yellow.bmp", "*.bmp", true},
      {"YELLOW.BMP", "*.bmp", true},
      {"yellow.bmpx", "*.bmp", false},
      {"yellow.bm", "*.bmp", false},
      {".bmp", "*.bmp", true},
      {"a.bmp.txt", "*.bmp", false},
      {"x", "*", true},
      {"", "*", true},
      {"abc", "a?c", true},
      {"ac", "a?c", false},
      {"aXbXc", "a*b*c", true},
      {"aXbX", "a*b*c", false},
      {"\xC3\xA9.BMP", "*.bmp", true},
      {"\xC3\xA9", "\xC3\x89", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchesMask(c.name, c.mask), c.matches) << c.name << " ~ " << c.mask;
  }
}

class FileNamesOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/jw_names_XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    folder_ = std::string(folder) + "/";
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  void Touch(const std::string& name) { std::ofstream(folder_ + name) << "x"; }

  std::string folder_;
};

TEST_F(FileNamesOnDisk, ListsMatchingFilesSortedAndSkipsFolders) {
  for (const char* name : {"b.bmp", "A.BMP", "c.jpg", "d.Bmp"}) Touch(name);
  ASSERT_EQ(::mkdir((folder_ + "dir.bmp").c_str(), 0755), 0);
  EXPECT_EQ(FindFiles(folder_, "*.bmp"), (Names{"A.BMP", "b.bmp", "d.Bmp"}));
  EXPECT_EQ(FindFiles(folder_ + "missing", "*"), Names{});
  EXPECT_TRUE(FileExists(folder_ + "c.jpg"));
  EXPECT_FALSE(FileExists(folder_ + "dir.bmp"));
  EXPECT_TRUE(DirectoryExists(folder_ + "dir.bmp"));
  EXPECT_FALSE(DirectoryExists(folder_ + "c.jpg"));
  EXPECT_TRUE(DeleteFile(folder_ + "c.jpg"));
  EXPECT_FALSE(DeleteFile(folder_ + "c.jpg"));
  EXPECT_FALSE(FileExists(folder_ + "c.jpg"));
}

TEST_F(FileNamesOnDisk, ResolvesANameWrittenWithOtherCase) {
  Touch("Yellow.BMP");
  Touch("yellow.bmp");
  Touch("SCRAPS.ini");
  EXPECT_EQ(ResolveFileName(folder_ + "yellow.bmp"), folder_ + "yellow.bmp");
  EXPECT_EQ(ResolveFileName(folder_ + "YELLOW.bmp"), folder_ + "Yellow.BMP");
  EXPECT_EQ(ResolveFileName(folder_ + "scraps.INI"), folder_ + "SCRAPS.ini");
  EXPECT_EQ(ResolveFileName(folder_ + "blue.bmp"), folder_ + "blue.bmp");
}

TEST(FileNames, TheExecutableKnowsItsOwnPath) {
  const std::string path = ExecutablePath();
  EXPECT_EQ(ExtractFileName(path), "rtl_tests");
  EXPECT_EQ(ExecutableFolder(), ExtractFilePath(path));
  EXPECT_TRUE(FileExists(path));
}

}  // namespace
}  // namespace jw
