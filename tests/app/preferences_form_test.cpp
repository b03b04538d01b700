#include "app/preferences_form.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/font_desc.h"
#include "app/scrap_form.h"
#include "app/settings.h"
#include "platform/gui/dialogs_scripted.h"
#include "platform/gui/play_sound.h"
#include "tests/app/scripted_dialogs_test.h"

namespace jw {
namespace {

using PreferencesFormTest = ScriptedDialogsTest;

TScrapSettings StoredSettings() {
  TScrapSettings s;
  s.DefaultFontDesc = "DejaVu Sans,12,255,fsBold";
  s.DefaultFontAngle = -30;
  s.DragFrameOnly = false;
  s.AlarmFileName = "/sounds/" + std::string(1000, 'a') + ".wav";
  s.AlarmReps = 7;
  s.AlarmFront = true;
  s.SMTPHostName = "mail.example.org";
  s.ReturnAddress = "ann@example.org";
  s.EmailLines[0] = "Bob|bob@example.org";
  s.EmailLines[1] = "NoBar";
  s.EmailLines[2] = "Long|" + std::string(250, 'x');
  s.EmailLines[3] = "Two|bars|here";
  return s;
}

TEST_F(PreferencesFormTest, OkShowsAndStoresEverySettingAndAllFiftyAddressLines) {
  ScrapSettings = StoredSettings();
  std::unique_ptr<TScrapForm> note(MakeForm<TScrapForm>(nullptr));
  ASSERT_EQ(note->sfImageForm1->Options(), ifUseWindowsDrag);

  dialogs_->AnswerForm<TPrefForm>([](TPrefForm& form) {
    EXPECT_EQ(form.Caption(), "Preferences");
    EXPECT_EQ(FontToDesc(form.DefFontExample->Font()), "DejaVu Sans,12,255,fsBold");
    EXPECT_EQ(form.FontAngleSpin->Value(), -30);
    EXPECT_FALSE(form.DragFrameOnlyCB->Checked());
    EXPECT_EQ(form.AlarmFileEdit->Text(), StoredSettings().AlarmFileName);
    EXPECT_EQ(form.AlarmRepsSpin->Value(), 7);
    EXPECT_TRUE(form.AlarmFrontCB->Checked());
    EXPECT_EQ(form.HostNameEdit->Text(), "mail.example.org");
    EXPECT_EQ(form.ReturnAddressEdit->Text(), "ann@example.org");

    TStringGrid& grid = *form.EmailGrid;
    EXPECT_EQ(grid.ColCount(), 2);
    EXPECT_EQ(grid.RowCount(), 51);
    EXPECT_EQ(grid.FixedRows(), 1);
    EXPECT_TRUE(grid.Editing());
    EXPECT_EQ(grid.ColWidths(0), 104);
    EXPECT_EQ(grid.ColWidths(1), 278);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Nickname", "Email Address"},   {"Bob", "bob@example.org"}, {"NoBar", ""},
        {"Long", std::string(200, 'x')}, {"Two", "bars|here"},       {"", ""}};
    for (int row = 0; row < static_cast<int>(expected.size()); ++row) {
      EXPECT_EQ(grid.Cells(0, row), expected[row].first) << "row " << row;
      EXPECT_EQ(grid.Cells(1, row), expected[row].second) << "row " << row;
    }

    // A nickname alone, a row emptied, the last row filled, a count typed
    // beyond the spin's range and the drag option switched.
    grid.SetCells(0, 1, "Bobby");
    grid.SetCells(1, 1, "");
    grid.SetCells(0, 2, "");
    grid.SetCells(0, 50, "Zed");
    grid.SetCells(1, 50, "zed@example.org");
    form.AlarmRepsSpin->SetText("99");
    form.FontAngleSpin->SetValue(12);
    form.DragFrameOnlyCB->SetChecked(true);
    form.AlarmFrontCB->SetChecked(false);
    form.HostNameEdit->SetText("smtp.example.org");
    form.ReturnAddressEdit->SetText("bo@example.org");
    return mrOk;
  });
  EditPreferences();

  TScrapSettings expected = StoredSettings();
  expected.DefaultFontAngle = 12;
  expected.DragFrameOnly = true;
  expected.AlarmReps = 20;
  expected.AlarmFront = false;
  expected.SMTPHostName = "smtp.example.org";
  expected.ReturnAddress = "bo@example.org";
  expected.EmailLines[0] = "Bobby|";
  expected.EmailLines[1] = "";
  expected.EmailLines[49] = "Zed|zed@example.org";
  EXPECT_EQ(ScrapSettings, expected);
  EXPECT_EQ(note->sfImageForm1->Options(), 0);
  EXPECT_EQ(dialogs_->PendingAnswers(), 0);
}

TEST_F(PreferencesFormTest, CancelChangesNoSettingAndLeavesTheNotesAlone) {
  ScrapSettings = StoredSettings();
  std::unique_ptr<TScrapForm> note(MakeForm<TScrapForm>(nullptr));
  // A drag option that disagrees with the settings shows whether it is
  // applied again.
  note->sfImageForm1->SetOptions(0);
  dialogs_->AnswerForm<TPrefForm>([](TPrefForm& form) {
    form.EmailGrid->SetCells(0, 5, "Eve");
    form.DragFrameOnlyCB->SetChecked(true);
    form.AlarmFileEdit->SetText("");
    form.AlarmRepsSpin->SetValue(3);
    return mrCancel;
  });
  EditPreferences();
  EXPECT_EQ(ScrapSettings, StoredSettings());
  EXPECT_EQ(note->sfImageForm1->Options(), 0);
}

// An address longer than the grid shows is kept whole unless its cell is
// edited, and a nickname with the separator in it is refused until mended.
TEST_F(PreferencesFormTest, TheAddressBookKeepsEveryEntryWhole) {
  const std::string long_address = std::string(240, 'a') + "@mail.example.org";
  ScrapSettings.EmailLines[0] = "Long|" + long_address;
  ScrapSettings.EmailLines[1] = "Cut|" + long_address;
  dialogs_->AnswerForm<TPrefForm>([&](TPrefForm& form) {
    TStringGrid& grid = *form.EmailGrid;
    EXPECT_EQ(grid.Cells(1, 1), long_address.substr(0, 200));
    grid.SetCells(1, 2, long_address.substr(0, 199));
    grid.SetCells(0, 3, "Bob|Work");
    grid.SetCells(1, 3, "bob@example.org");
    EXPECT_EQ(CloseQueryOnOk(form, *form.OKBtn), kNicknameWithBar);
    grid.SetCells(0, 3, "Bob at Work");
    EXPECT_EQ(CloseQueryOnOk(form, *form.OKBtn), "");
    return mrOk;
  });
  EditPreferences();
  EXPECT_EQ(ScrapSettings.EmailLines[0], "Long|" + long_address);
  EXPECT_EQ(ScrapSettings.EmailLines[1], "Cut|" + long_address.substr(0, 199));
  EXPECT_EQ(ScrapSettings.EmailLines[2], "Bob at Work|bob@example.org");
  EXPECT_EQ(dialogs_->PendingAnswers(), 0);
}

TEST_F(PreferencesFormTest, FontBrowseAndPlayWorkOnTheDialogsOwnValues) {
  ScrapSettings.AlarmFileName = "/home/ann/sounds/ding.wav";
  ScrapSettings.AlarmReps = 2;
  dialogs_->AnswerFont(true, [](TFont& font) { font.SetSize(20); });
  dialogs_->AnswerOpenFile("/home/ann/other/bell.wav");
  dialogs_->AnswerForm<TPrefForm>([](TPrefForm& form) {
    form.DefFontBtn->Click();
    form.AlarmBrowseBtn->Click();
    form.AlarmRepsSpin->SetValue(4);
    form.SoundPlayBtn->Click();
    return mrOk;
  });
  EditPreferences();

  const std::vector<DialogCall>& calls = dialogs_->Calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].kind, DialogCall::Kind::Form);
  EXPECT_EQ(calls[2].kind, DialogCall::Kind::OpenFile);
  EXPECT_EQ(calls[2].text, "/home/ann/sounds/");
  EXPECT_EQ(calls[2].value, "Wave Files|*.wav");
  EXPECT_EQ(plays_,
            std::vector<PlayCall>(4, {"/home/ann/other/bell.wav", SND_FILENAME | SND_SYNC}));
  EXPECT_EQ(ScrapSettings.AlarmFileName, "/home/ann/other/bell.wav");
  TFont font;
  DescToFont(font, ScrapSettings.DefaultFontDesc);
  EXPECT_EQ(font.Size(), 20);
}

}  // namespace
}  // namespace jw
