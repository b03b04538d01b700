#include "app/settings.h"

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"

namespace jw {
namespace {

using test_support::ReadFileBytes;
using test_support::TempFolder;
using test_support::WriteFileBytes;

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { ScrapSettings = TScrapSettings(); }
  void TearDown() override { ScrapSettings = TScrapSettings(); }

  TempFolder folder_;
  std::string ini_ = folder_.File("jotterwick.INI");
};

TScrapSettings FullSettings() {
  TScrapSettings s;
  s.DefaultFontDesc = "DejaVu Sans,12,255,fsBold,fsItalic";
  s.DefaultFontAngle = -30;
  s.DragFrameOnly = true;
  s.AlarmFileName = "/home/ann/ding.wav";
  s.AlarmReps = 7;
  s.AlarmFront = true;
  s.SMTPHostName = "mail.example.org";
  s.ReturnAddress = "ann@example.org";
  s.EmailLines[0] = "Bob|bob@example.org";
  s.EmailLines[49] = "Zed|zed@example.org";
  return s;
}

TEST_F(SettingsTest, SaveThenLoadGivesTheSameSettings) {
  TScrapSettings saved = FullSettings();
  // A sound path of any length comes back whole.
  saved.AlarmFileName = "/home/ann/" + std::string(400, 's') + "/ding.wav";
  ScrapSettings = saved;
  SaveSettings(ini_);
  ScrapSettings = TScrapSettings();
  LoadSettings(ini_);
  EXPECT_EQ(ScrapSettings, saved);
}

TEST_F(SettingsTest, SavedFileHasTheWriteSpellingsInTableOrder) {
  ScrapSettings = FullSettings();
  ScrapSettings.EmailLines[49].clear();
  SaveSettings(ini_);
  EXPECT_EQ(ReadFileBytes(ini_),
            "[Main]\r\n"
            "DefaultFontDesc=DejaVu Sans,12,255,fsBold,fsItalic\r\n"
            "DragFrameOnly=1\r\n"
            "DefaultFontAngle=-30\r\n"
            "AlarmFilename=/home/ann/ding.wav\r\n"
            "AlarmReps=7\r\n"
            "AlarmFront=1\r\n"
            "SMTPHostname=mail.example.org\r\n"
            "ReturnAddress=ann@example.org\r\n"
            "[Email]\r\n"
            "Emaillines0=Bob|bob@example.org\r\n");
}

TEST_F(SettingsTest, MissingFileReadsAsDefaults) {
  ScrapSettings = FullSettings();
  LoadSettings(ini_);
  EXPECT_EQ(ScrapSettings, TScrapSettings());
  EXPECT_EQ(ScrapSettings.AlarmReps, 1);
}

TEST_F(SettingsTest, AddressLinesKeepTheirIndicesAndOldLinesAreErased) {
  WriteFileBytes(ini_, "[Email]\r\nEmailLines10=Old|old@example.org\r\n");
  ScrapSettings.EmailLines[3] = "Cy|cy@example.org";
  ScrapSettings.EmailLines[7] = "Di|di@example.org";
  SaveSettings(ini_);
  ScrapSettings = TScrapSettings();
  LoadSettings(ini_);
  for (int n = 0; n < kEmailLineCount; ++n) {
    const char* expected = n == 3 ? "Cy|cy@example.org" : n == 7 ? "Di|di@example.org" : "";
    EXPECT_EQ(ScrapSettings.EmailLines[n], expected) << "line " << n;
  }
}

TEST_F(SettingsTest, ExistingKeyKeepsItsSpellingWhenWritten) {
  WriteFileBytes(ini_, "[MAIN]\r\nAlarmFileName=old.wav\r\nSMTPHOSTNAME=old.host\r\n");
  ScrapSettings.AlarmFileName = "new.wav";
  ScrapSettings.SMTPHostName = "new.host";
  SaveSettings(ini_);
  const std::string text = ReadFileBytes(ini_);
  EXPECT_EQ(text.rfind("[MAIN]\r\nAlarmFileName=new.wav\r\nSMTPHOSTNAME=new.host\r\n", 0), 0u)
      << text;
  EXPECT_EQ(text.find("AlarmFilename"), std::string::npos);
}

TEST_F(SettingsTest, UnreadableValuesReadAsDefaults) {
  WriteFileBytes(ini_,
                 "[Main]\r\nDragFrameOnly=true\r\nAlarmFront=yes\r\nAlarmReps=many\r\n"
                 "DefaultFontAngle=x\r\n");
  LoadSettings(ini_);
  EXPECT_FALSE(ScrapSettings.DragFrameOnly);
  EXPECT_FALSE(ScrapSettings.AlarmFront);
  EXPECT_EQ(ScrapSettings.AlarmReps, 1);
  EXPECT_EQ(ScrapSettings.DefaultFontAngle, 0);
}

TEST_F(SettingsTest, DefaultAngleAndAlarmRepsAreBoundedToTheirRanges) {
  const struct {
    const char* stored;
    int angle;
    int reps;
  } cases[] = {{"60", 45, 20}, {"-90", -45, 0},        {"45", 45, 20},         {"-12", -12, 0},
               {"7", 7, 7},    {"2147483647", 45, 20}, {"-2147483648", -45, 0}};
  for (const auto& c : cases) {
    WriteFileBytes(ini_, std::string("[Main]\r\nDefaultFontAngle=") + c.stored +
                             "\r\nAlarmReps=" + c.stored + "\r\n");
    LoadSettings(ini_);
    EXPECT_EQ(ScrapSettings.DefaultFontAngle, c.angle) << c.stored;
    EXPECT_EQ(ScrapSettings.AlarmReps, c.reps) << c.stored;
  }
}

TEST_F(SettingsTest, ADifferentlyCasedFileIsUsedWhenTheExactOneIsMissing) {
  WriteFileBytes(folder_.File("jotterwick.ini"), "[main]\r\nsmtphostname=lower.host\r\n");
  LoadSettings(ini_);
  EXPECT_EQ(ScrapSettings.SMTPHostName, "lower.host");
  SaveSettings(ini_);
  EXPECT_NE(ReadFileBytes(folder_.File("jotterwick.ini")).find("smtphostname=lower.host"),
            std::string::npos);
}

TEST_F(SettingsTest, MarginsAreWrittenUnderMarginsAndReadFromMargins) {
  WritePaperMargins("yellow.bmp", {12, 5, 30}, ini_);
  EXPECT_EQ(ReadFileBytes(ini_),
            "[Margins]\r\nyellow.bmp.TOP=12\r\nyellow.bmp.LEFT=5\r\nyellow.bmp.RIGHT=30\r\n");
  EXPECT_EQ(ReadPaperMargins("yellow.bmp", ini_), (TPaperMargins{12, 5, 30}));
  EXPECT_EQ(ReadPaperMargins("lined.bmp", ini_), TPaperMargins());
  // Hand-edited margins beyond the bound read as the bound.
  WriteFileBytes(ini_,
                 "[margins]\r\nlined.bmp.TOP=2147483647\r\nlined.bmp.LEFT=-100000000\r\n"
                 "lined.bmp.RIGHT=-32768\r\n");
  EXPECT_EQ(ReadPaperMargins("lined.bmp", ini_),
            (TPaperMargins{kMaxPaperMargin, -kMaxPaperMargin, -kMaxPaperMargin}));
}

TEST_F(SettingsTest, MarginsSurviveASettingsSave) {
  WritePaperMargins("oval.bmp", {1, 2, 3}, ini_);
  ScrapSettings = FullSettings();
  SaveSettings(ini_);
  EXPECT_EQ(ReadPaperMargins("oval.bmp", ini_), (TPaperMargins{1, 2, 3}));
}

TEST(IniFileNameTest, IsTheExecutablePathWithTheIniExtension) {
  const std::string name = IniFileName();
  ASSERT_GE(name.size(), 4u);
  EXPECT_EQ(name.substr(name.size() - 4), ".INI");
  EXPECT_EQ(name.find("app_tests"), name.rfind('/') + 1);
}

}  // namespace
}  // namespace jw
