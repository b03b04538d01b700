#include "platform/rtl/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/rtl/file_names.h"
#include "platform/rtl/string_list.h"

namespace jw {
namespace {

using Lines = std::vector<std::string>;

Lines Items(const TStrings& list) {
  Lines lines;
  for (int i = 0; i < list.Count(); ++i) lines.push_back(list.Strings(i));
  return lines;
}

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/jw_ini_XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    folder_ = folder;
    path_ = folder_ + "/prefs.INI";
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  void Put(const std::string& text) { Put(path_, text); }
  static void Put(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  static std::string Get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::string Get() const { return Get(path_); }
  ino_t Inode() const {
    struct stat st {};
    ::stat(path_.c_str(), &st);
    return st.st_ino;
  }
  Lines FolderEntries() const { return FindFiles(folder_, "*"); }

  std::string folder_;
  std::string path_;
};

TEST_F(IniFileTest, SectionsAndKeysMatchWithoutCaseAndTheFirstMatchWins) {
  Put("[Main]\r\nKey=one\r\nkey=two\r\n[main]\r\nKey=three\r\nOther=x\r\n");
  TIniFile ini(path_);
  EXPECT_EQ(ini.ReadString("MAIN", "KEY", "d"), "one");
  EXPECT_EQ(ini.ReadString("main", "Other", "d"), "d");
  EXPECT_TRUE(ini.ValueExists("mAIN", "kEY"));
  EXPECT_FALSE(ini.ValueExists("Main", "Other"));

  TStringList list;
  ini.ReadSections(list);
  EXPECT_EQ(Items(list), (Lines{"Main"}));
  ini.ReadSection("MAIN", list);
  EXPECT_EQ(Items(list), (Lines{"Key"}));
  ini.ReadSectionValues("main", list);
  EXPECT_EQ(Items(list), (Lines{"Key=one"}));
}

TEST_F(IniFileTest, ReadsTrimBlanksAndStripOnePairOfMatchingQuotes) {
  const struct {
    std::string line;
    std::string value;
  } cases[] = {
      {"Key=value", "value"},
      {"  Key  =  value  ", "value"},
      {"\tKey\t=\tvalue\t", "value"},
      {"Key=\"quoted\"", "quoted"},
      {"Key='single'", "single"},
      {"Key=\"\"twice\"\"", "\"twice\""},
      {"Key= \" padded \" ", " padded "},
      {"Key=\"mixed'", "\"mixed'"},
      {"Key=\"", "\""},
      {"Key=a=b", "a=b"},
      {"Key=", ""},
      {"Key=\"\"", ""},
  };
  for (const auto& c : cases) {
    Put("[S]\r\n" + c.line + "\r\n");
    EXPECT_EQ(TIniFile(path_).ReadString("s", "key", "default"), c.value) << c.line;
  }
}

TEST_F(IniFileTest, IntegersAndBooleansFallBackToTheDefault) {
  const struct {
    std::string text;
    int32_t integer;  // read with default -7
    bool bool_default_false;
    bool bool_default_true;
  } cases[] = {
      {"12", 12, true, true},           {" -5 ", -5, true, true}, {"0", 0, false, false},
      {"$1F", 31, true, true},          {"0x10", 16, true, true}, {"2", 2, true, true},
      {"true", -7, false, true},        {"yes", -7, false, true}, {"1.5", -7, false, true},
      {"99999999999", -7, false, true}, {"", -7, false, true},
  };
  for (const auto& c : cases) {
    Put("[S]\r\nK=" + c.text + "\r\n");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadInteger("S", "K", -7), c.integer) << c.text;
    EXPECT_EQ(ini.ReadBool("S", "K", false), c.bool_default_false) << c.text;
    EXPECT_EQ(ini.ReadBool("S", "K", true), c.bool_default_true) << c.text;
  }
}

TEST_F(IniFileTest, AMissingFileReadsAsDefaultsAndTheFirstWriteCreatesIt) {
  TIniFile ini(path_);
  EXPECT_EQ(ini.ReadString("Main", "DefaultFontDesc", ""), "");
  EXPECT_EQ(ini.ReadInteger("main", "AlarmReps", 1), 1);
  EXPECT_TRUE(ini.ReadBool("Tips", "ShowAtStart", true));
  EXPECT_FALSE(ini.SectionExists("Main"));
  ini.EraseSection("Email");
  ini.DeleteKey("Main", "x");
  EXPECT_FALSE(FileExists(path_));

  ini.WriteBool("Tips", "ShowAtStart", false);
  ini.WriteInteger("Tips", "Count", -12);
  EXPECT_EQ(Get(), "[Tips]\r\nShowAtStart=0\r\nCount=-12\r\n");
  EXPECT_FALSE(ini.ReadBool("tips", "showatstart", true));
}

TEST_F(IniFileTest, AnUpdateKeepsTheLineAndTheSpellingOfItsKey) {
  Put("; settings\r\n[main]\r\n  alarmfilename = old.wav  \r\nAlarmReps=3\r\n");
  TIniFile ini(path_);
  ini.WriteString("Main", "AlarmFilename", "new.wav");
  ini.WriteBool("MAIN", "ALARMREPS", true);
  EXPECT_EQ(Get(), "; settings\r\n[main]\r\nalarmfilename=new.wav\r\nAlarmReps=1\r\n");
  EXPECT_EQ(ini.ReadString("Main", "AlarmFileName", ""), "new.wav");
}

TEST_F(IniFileTest, ANewKeyEndsItsSectionAndANewSectionEndsTheFile) {
  Put("top line\r\n[A]\r\na=1\r\n; about B\r\n\r\n[B]\r\nb=1");
  TIniFile ini(path_);
  ini.WriteString("a", "New", "v");
  ini.WriteString("B", "Second", "2");
  ini.WriteString("Margins", "yellow.bmp.TOP", "12");
  EXPECT_EQ(Get(),
            "top line\r\n[A]\r\na=1\r\n; about B\r\nNew=v\r\n\r\n[B]\r\nb=1\r\nSecond=2\r\n"
            "[Margins]\r\nyellow.bmp.TOP=12\r\n");
  EXPECT_EQ(ini.ReadInteger("margins", "YELLOW.BMP.top", 0), 12);
}

TEST_F(IniFileTest, EraseSectionRemovesEveryCopyWithItsLinesAndKeepsTheRest) {
  Put("; head\r\n[Email]\r\nEmaillines0=a|a@x\r\n; note\r\n[Main]\r\nk=v\r\n"
      "[EMAIL]\r\nEmailLines9=old\r\n");
  TIniFile ini(path_);
  ini.EraseSection("email");
  EXPECT_EQ(Get(), "; head\r\n[Main]\r\nk=v\r\n");
  EXPECT_FALSE(ini.SectionExists("Email"));
  EXPECT_EQ(ini.ReadString("Email", "EmailLines9", ""), "");
}

TEST_F(IniFileTest, DeleteKeyRemovesTheKeyFromTheSectionThatReadsSee) {
  Put("[S]\r\nk=1\r\nother=2\r\nK=3\r\n[s]\r\nk=4\r\n");
  TIniFile ini(path_);
  ini.DeleteKey("s", "K");
  EXPECT_EQ(Get(), "[S]\r\nother=2\r\n[s]\r\nk=4\r\n");
  EXPECT_FALSE(ini.ValueExists("S", "k"));
}

TEST_F(IniFileTest, CommentsAndUnknownLinesSurviveByteForByte) {
  const std::string before =
      "preamble without section\r\n;comment=with equals\r\n[S]\r\n  odd line  \r\n"
      "; k=not a key\r\nk=old\r\n[]\r\n=nameless\r\n";
  Put(before);
  TIniFile ini(path_);
  EXPECT_EQ(ini.ReadString("S", "; k", "d"), "d");
  ini.WriteString("S", "k", "new");
  std::string after = before;
  after.replace(after.find("k=old"), 5, "k=new");
  EXPECT_EQ(Get(), after);
}

TEST_F(IniFileTest, CrAndLfInAWrittenValueBecomeBlanks) {
  TIniFile ini(path_);
  ini.WriteString("Main", "DefaultFontDesc", "a\r\nb\nc\rd");
  EXPECT_EQ(Get(), "[Main]\r\nDefaultFontDesc=a  b c d\r\n");
  EXPECT_EQ(ini.ReadString("main", "defaultfontdesc", ""), "a  b c d");
}

TEST_F(IniFileTest, NamesAreTrimmedSoThatAPaddedNameFindsItsLine) {
  Put("[Margins]\r\nyellow.bmp.TOP=5\r\n");
  TIniFile ini(path_);
  EXPECT_EQ(ini.ReadInteger(" margins ", "  yellow.bmp.TOP\t", 0), 5);
  ini.WriteInteger(" Margins", "yellow.bmp.TOP ", 7);
  ini.WriteInteger("Margins ", " blue.bmp.TOP ", 1);
  ini.WriteInteger(" New ", " k ", 2);
  EXPECT_EQ(Get(), "[Margins]\r\nyellow.bmp.TOP=7\r\nblue.bmp.TOP=1\r\n[New]\r\nk=2\r\n");
  EXPECT_TRUE(ini.ValueExists(" new", "K "));
  ini.DeleteKey("margins", " BLUE.bmp.top");
  ini.EraseSection(" new ");
  EXPECT_EQ(Get(), "[Margins]\r\nyellow.bmp.TOP=7\r\n");
}

TEST_F(IniFileTest, AWriteRefusesANameThatALineCannotHold) {
  Put("[Tips]\r\nShowAtStart=1\r\n");
  const std::string before = Get();
  TIniFile ini(path_);
  const struct {
    std::string section;
    std::string key;
  } refused[] = {
      {"Margins", "x.bmp\n[Tips]\nShowAtStart=0\nx.TOP"},
      {"Margins", "x.bmp\r[Tips]\rShowAtStart=0\rx.TOP"},
      {"Tips\r\n[Tips]", "ShowAtStart"},
      {"Tips", "ShowAtStart=0"},
      {"Tips", "; ShowAtStart"},
      {"Tips", " [Tips]"},
      {"Ti]ps", "k"},
  };
  for (const auto& name : refused) {
    SCOPED_TRACE(name.section + " / " + name.key);
    EXPECT_THROW(ini.WriteString(name.section, name.key, "0"), EIniFileException);
    EXPECT_EQ(Get(), before);
  }
  EXPECT_TRUE(ini.ReadBool("Tips", "ShowAtStart", false));
  ini.WriteString("Tips", "a;b[c]", "v");
  EXPECT_EQ(ini.ReadString("tips", "A;B[C]", ""), "v");
}

TEST_F(IniFileTest, AFileWithLfBreaksKeepsThem) {
  Put("[S]\nk=1\n");
  TIniFile ini(path_);
  ini.WriteString("S", "k", "2");
  ini.WriteString("T", "x", "y");
  EXPECT_EQ(Get(), "[S]\nk=2\n[T]\nx=y\n");
}

TEST_F(IniFileTest, ListsKeysSectionsAndValuesInFileOrder) {
  Put("[One]\r\nb= 2 \r\na=\"1\"\r\nB=dup\r\n;c=3\r\n[Two]\r\n[one]\r\nz=9\r\n");
  TIniFile ini(path_);
  TStringList list;
  list.Add("stale");
  ini.ReadSections(list);
  EXPECT_EQ(Items(list), (Lines{"One", "Two"}));
  ini.ReadSection("ONE", list);
  EXPECT_EQ(Items(list), (Lines{"b", "a"}));
  ini.ReadSectionValues("one", list);
  EXPECT_EQ(Items(list), (Lines{"b=2", "a=1"}));
  EXPECT_TRUE(ini.SectionExists("two"));
  ini.ReadSection("Two", list);
  EXPECT_EQ(list.Count(), 0);
}

TEST_F(IniFileTest, AWriteReplacesTheFileAndAnUnchangedValueWritesNothing) {
  Put("[S]\r\nk=1\r\n");
  ::chmod(path_.c_str(), 0640);
  TIniFile ini(path_);
  const ino_t before = Inode();
  ini.WriteString("S", "K", "1");
  EXPECT_EQ(Inode(), before);
  ini.WriteString("S", "k", "2");
  EXPECT_NE(Inode(), before);
  struct stat st {};
  ::stat(path_.c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(FolderEntries(), (Lines{"prefs.INI"}));
}

TEST_F(IniFileTest, ACrashBeforeTheRenameLeavesTheOldFileWhole) {
  const std::string old_text = "[Email]\r\nEmaillines0=a|a@example.org\r\n";
  Put(old_text);
  EXPECT_EXIT(
      {
        TIniFile ini(path_);
        ini.OnReplacing = [] { ::_exit(7); };
        ini.WriteString("Email", "Emaillines1", "b|b@example.org");
      },
      ::testing::ExitedWithCode(7), "");
  EXPECT_EQ(Get(), old_text);
  // The new content was complete on disk in the temporary file beside it.
  const Lines entries = FolderEntries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(Get(folder_ + "/" + entries[1]), old_text + "Emaillines1=b|b@example.org\r\n");
}

TEST_F(IniFileTest, AFailureBeforeTheRenameRaisesAndRemovesTheTemporaryFile) {
  Put("[S]\r\nk=1\r\n");
  TIniFile ini(path_);
  ini.OnReplacing = [] { throw EIniFileException("disk gone"); };
  EXPECT_THROW(ini.WriteString("S", "k", "2"), EIniFileException);
  EXPECT_EQ(Get(), "[S]\r\nk=1\r\n");
  EXPECT_EQ(FolderEntries(), (Lines{"prefs.INI"}));
}

TEST_F(IniFileTest, ABatchAppliesAsOneReplaceOrNotAtAll) {
  Put("[Main]\r\nk=v\r\n[Email]\r\nEmaillines0=old\r\n");
  TIniFile ini(path_);
  int replaces = 0;
  ini.OnReplacing = [&] { ++replaces; };
  {
    TIniFile::Batch batch(ini);
    ini.EraseSection("Email");
    EXPECT_FALSE(ini.ValueExists("Email", "EmailLines0"));
    ini.WriteString("Email", "Emaillines3", "c|c@x");
    ini.WriteString("Email", "Emaillines7", "g|g@x");
    EXPECT_EQ(Get(), "[Main]\r\nk=v\r\n[Email]\r\nEmaillines0=old\r\n");
    batch.Commit();
  }
  EXPECT_EQ(replaces, 1);
  EXPECT_EQ(Get(), "[Main]\r\nk=v\r\n[Email]\r\nEmaillines3=c|c@x\r\nEmaillines7=g|g@x\r\n");
  // Changes that end where the file was write nothing.
  {
    TIniFile::Batch batch(ini);
    ini.EraseSection("Email");
    ini.WriteString("Email", "Emaillines3", "c|c@x");
    ini.WriteString("Email", "Emaillines7", "g|g@x");
    ini.WriteString("Main", "k", "v");
    batch.Commit();
  }
  EXPECT_EQ(replaces, 1);
  for (int n = 0; n < 10; ++n) {
    const std::string expected = n == 3 ? "c|c@x" : n == 7 ? "g|g@x" : "";
    EXPECT_EQ(ini.ReadString("Email", "EmailLines" + std::to_string(n), ""), expected);
  }

  try {
    TIniFile::Batch batch(ini);
    ini.EraseSection("Email");
    EXPECT_THROW(TIniFile::Batch second(ini), EInvalidOperation);
    throw EAbort("Operation aborted");
  } catch (const EAbort&) {
  }
  EXPECT_EQ(replaces, 1);
  EXPECT_TRUE(ini.SectionExists("Email"));
}

TEST_F(IniFileTest, AFileOfAnotherCaseIsFoundAndWrittenInPlace) {
  const std::string actual = folder_ + "/PREFS.ini";
  Put(actual, "[Main]\r\nAlarmReps=4\r\n");
  TIniFile ini(path_);
  EXPECT_EQ(ini.ReadInteger("Main", "AlarmReps", 1), 4);
  ini.WriteInteger("Main", "AlarmReps", 5);
  EXPECT_EQ(Get(actual), "[Main]\r\nAlarmReps=5\r\n");
  EXPECT_EQ(FolderEntries(), (Lines{"PREFS.ini"}));
}

TEST_F(IniFileTest, AWriteThroughALinkReplacesTheTarget) {
  const std::string target = folder_ + "/real.ini";
  Put(target, "[S]\r\nk=1\r\n");
  ASSERT_EQ(::symlink(target.c_str(), path_.c_str()), 0);
  TIniFile ini(path_);
  ini.WriteString("S", "k", "2");
  struct stat st {};
  ASSERT_EQ(::lstat(path_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(Get(target), "[S]\r\nk=2\r\n");
}

TEST_F(IniFileTest, AnUnreadableFileReadsAsDefaultsAndIsNeverOverwritten) {
  ASSERT_EQ(::mkdir(path_.c_str(), 0755), 0);
  TIniFile ini(path_);
  EXPECT_EQ(ini.ReadString("S", "k", "d"), "d");
  try {
    ini.WriteString("S", "k", "v");
    ADD_FAILURE() << "nothing raised";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(e.Message(), "Unable to write to " + path_ + ". Is a directory");
  }
  EXPECT_TRUE(DirectoryExists(path_));
  EXPECT_THROW(TIniFile::Batch batch(ini), EIniFileException);

  const std::string no_folder = folder_ + "/none/x.ini";
  try {
    TIniFile(no_folder).WriteString("S", "k", "v");
    ADD_FAILURE() << "nothing raised";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(e.Message(), "Unable to write to " + no_folder + ". No such file or directory");
  }
}

}  // namespace
}  // namespace jw
