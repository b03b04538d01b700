#include "app/scrap_main.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <QApplication>
#include <QMenu>
#include <QTimer>
#include <QWidget>

#include "app/folders.h"
#include "app/scrap_form.h"
#include "app/settings.h"
#include "platform/gui/application.h"
#include "platform/gui/dialogs_scripted.h"
#include "platform/gui/messages.h"
#include "platform/os/shell.h"
#include "platform/rtl/file_names.h"
#include "platform/rtl/ini_file.h"
#include "tests/support/temp_folder.h"

namespace jw {
namespace {

// The only paper in the paper folder beside the test executable while these
// tests run, under a name no shipped paper has.
const char kPaper[] = "test-manager-120x90.bmp";

// Records the icon's messages; on its removal it also notes what the INI
// file holds at that moment.
class FakeTray : public TrayBackend {
 public:
  FakeTray(std::vector<std::string>& log, std::string ini_file)
      : log_(log), ini_file_(std::move(ini_file)) {}
  void Notify(uint32_t message, const TNotifyIconData& data) override {
    if (message == NIM_ADD) log_.push_back("icon added: " + data.szTip);
    if (message == NIM_DELETE && std::filesystem::exists(ini_file_)) {
      TIniFile ini(ini_file_);
      log_.push_back("icon removed with AlarmReps " +
                     std::to_string(ini.ReadInteger("Main", "AlarmReps", -1)));
    } else if (message == NIM_DELETE) {
      log_.push_back("icon removed without settings");
    }
  }
  TPoint CursorPos() override { return {300, 2}; }

 private:
  std::vector<std::string>& log_;
  std::string ini_file_;
};

// Opens only files that exist, as the desktop would, and records each try.
class RecordingOpener : public ShellOpener {
 public:
  explicit RecordingOpener(std::vector<std::string>& opened) : opened_(opened) {}
  bool Open(const std::string& path) override {
    opened_.push_back(path);
    return std::filesystem::exists(path);
  }

 private:
  std::vector<std::string>& opened_;
};

std::vector<TScrapForm*> Notes() {
  std::vector<TScrapForm*> notes;
  for (int i = 0; i < Screen->FormCount(); ++i)
    if (auto* note = dynamic_cast<TScrapForm*>(Screen->Forms(i))) notes.push_back(note);
  return notes;
}

class ScrapMainTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::filesystem::create_directories(PaperFolder());
    TBitmap bitmap;
    bitmap.SetSize(120, 90);
    bitmap.Canvas().Brush().SetColor(clWhite);
    bitmap.Canvas().FillRect(Rect(0, 0, 120, 90));
    bitmap.SaveToFile(PaperFolder() + kPaper);
  }
  static void TearDownTestSuite() { std::filesystem::remove(PaperFolder() + kPaper); }

  void SetUp() override {
    ScrapSettings = TScrapSettings();
    auto dialogs = std::make_unique<ScriptedDialogs>();
    dialogs_ = dialogs.get();
    SetDialogService(std::move(dialogs));
    SetShellOpener(std::make_unique<RecordingOpener>(opened_));
    previous_tray_ = SetTrayBackendFactory([this] {
      auto fake = std::make_unique<FakeTray>(log_, ini_file_);
      tray_ = fake.get();
      return fake;
    });
    main_.reset(MakeForm<TScrapMain>(nullptr, ini_file_));
  }
  void TearDown() override {
    for (TScrapForm* note : Notes()) delete note;
    main_.reset();
    SetTrayBackendFactory(previous_tray_);
    SetShellOpener(nullptr);
    SetDialogService(nullptr);
    ScrapSettings = TScrapSettings();
  }

  void TrayMouse(uint32_t mouse_message) { tray_->OnMouseMessage(mouse_message); }

  test_support::TempFolder folder_;
  const std::string ini_file_ = folder_.File("jotterwick.INI");
  std::vector<std::string> log_;
  std::vector<std::string> opened_;
  ScriptedDialogs* dialogs_ = nullptr;
  FakeTray* tray_ = nullptr;
  TrayBackendFactory previous_tray_;
  std::unique_ptr<TScrapMain> main_;
};

std::vector<std::string> Captions(const TMenuItem& parent) {
  std::vector<std::string> captions;
  for (int i = 0; i < parent.Count(); ++i) captions.push_back(parent.Items(i)->Caption());
  return captions;
}

TEST_F(ScrapMainTest, TrayIconOffersTheCommandsInOrderAndTheWindowStaysHidden) {
  EXPECT_EQ(log_, std::vector<std::string>{"icon added: Jotterwick"});
  EXPECT_EQ(main_->KitTrayIcon1->PopUpMenu(), main_->TrayMenu);
  EXPECT_EQ(Captions(main_->TrayMenu->Items()),
            (std::vector<std::string>{"New Scrap...", "Preferences...", "Help", "Exit"}));
  EXPECT_EQ(Captions(*main_->Help2),
            (std::vector<std::string>{"Contents...", "Tips...", "About Jotterwick..."}));
  EXPECT_EQ(main_->Caption(), "Jotterwick Manager");
  EXPECT_FALSE(main_->Visible());
  EXPECT_FALSE(Application->ShowMainForm());
}

TEST_F(ScrapMainTest, FirstAlarmCheckArmsTheTimerAtFiveMinutesWithNoNotes) {
  EXPECT_TRUE(main_->AlarmScheduler1->Timer1->Enabled());
  EXPECT_EQ(main_->AlarmScheduler1->Timer1->Interval(), 300000u);
}

TEST_F(ScrapMainTest, NewScrapIsACentredEmptyNoteOnAPaperFromThePaperFolder) {
  ScrapSettings.DefaultFontDesc = "DejaVu Sans,14,255,fsBold";
  ScrapSettings.DefaultFontAngle = 20;
  main_->NewScrap1->Click();
  const std::vector<TScrapForm*> notes = Notes();
  ASSERT_EQ(notes.size(), 1u);
  const TScrapForm& note = *notes[0];
  EXPECT_EQ(note.PaperFile, kPaper);
  EXPECT_EQ(note.ImageScale, 1.0);
  EXPECT_EQ(note.ClientWidth(), 130);
  EXPECT_EQ(note.ClientHeight(), 100);
  EXPECT_EQ(note.Left(), (Screen->Width() - 130) / 2);
  EXPECT_EQ(note.Top(), (Screen->Height() - 100) / 2);
  EXPECT_TRUE(note.Visible());
  EXPECT_TRUE(note.Message.empty());
  EXPECT_EQ(note.scrapid, 0);
  EXPECT_EQ(note.FontDesc, "DejaVu Sans,14,255,fsBold");
  EXPECT_EQ(note.FontAngle, 20);
  EXPECT_FALSE(note.stayontop1->Checked());
}

TEST_F(ScrapMainTest, LeftPressHidesEveryNoteAndTheNextShowsThemInTheirOrder) {
  main_->NewScrap1->Click();
  main_->NewScrap1->Click();
  const std::vector<TScrapForm*> front_first = Notes();
  ASSERT_EQ(front_first.size(), 2u);

  TrayMouse(WM_LBUTTONDOWN);
  TrayMouse(WM_LBUTTONUP);
  EXPECT_FALSE(front_first[0]->Visible());
  EXPECT_FALSE(front_first[1]->Visible());
  EXPECT_FALSE(main_->NotesVisible);

  // The menu that a right press opens is closed as soon as its loop runs.
  main_->TrayMenu->OnPopup = [](TPersistent*) {
    QTimer::singleShot(0, [] {
      for (QWidget* widget : QApplication::topLevelWidgets())
        if (qobject_cast<QMenu*>(widget) != nullptr && widget->isVisible()) widget->close();
    });
  };
  TrayMouse(WM_RBUTTONDOWN);
  TrayMouse(WM_RBUTTONUP);
  EXPECT_FALSE(front_first[0]->Visible());
  EXPECT_FALSE(main_->NotesVisible);

  TrayMouse(WM_LBUTTONDOWN);
  EXPECT_TRUE(front_first[0]->Visible());
  EXPECT_TRUE(front_first[1]->Visible());
  EXPECT_EQ(Notes(), front_first);
}

// Notes that could not be saved, with the user choosing to stay, leave the
// program running with its icon and its settings unwritten.
TEST_F(ScrapMainTest, ExitSavesNotesThenSettingsBeforeTheIconGoesUnlessTheUserStays) {
  ScrapSettings.AlarmReps = 7;
  bool saved = false;
  main_->SaveAllScraps = [&] {
    log_.push_back(saved ? "notes saved" : "notes not saved, user stays");
    return saved;
  };
  main_->Exit2->Click();
  EXPECT_TRUE(main_->KitTrayIcon1->Active());
  EXPECT_FALSE(std::filesystem::exists(ini_file_));
  saved = true;
  main_->Exit2->Click();
  EXPECT_EQ(log_, (std::vector<std::string>{"icon added: Jotterwick", "notes not saved, user stays",
                                            "notes saved", "icon removed with AlarmReps 7"}));
  EXPECT_FALSE(main_->KitTrayIcon1->Active());
}

// Settings that cannot be written ask as unsaved notes do: staying keeps
// the program with its icon, going ends it all the same.
TEST_F(ScrapMainTest, SettingsThatCannotBeWrittenAskAndGoingEndsTheProgram) {
  main_.reset(MakeForm<TScrapMain>(nullptr, folder_.File("gone/jotterwick.INI")));
  main_->SaveAllScraps = [] { return true; };
  dialogs_->AnswerMessage(mrNo);
  main_->Exit2->Click();
  EXPECT_TRUE(main_->KitTrayIcon1->Active());
  dialogs_->AnswerMessage(mrYes);
  main_->Exit2->Click();
  EXPECT_FALSE(main_->KitTrayIcon1->Active());
  ASSERT_EQ(dialogs_->Calls().size(), 2u);
  for (const auto& call : dialogs_->Calls()) {
    EXPECT_EQ(call.text.rfind("The settings could not be saved.\rUnable to write to ", 0), 0u)
        << call.text;
    EXPECT_TRUE(call.text.ends_with("\r\rExit anyway? Changes to the settings will be lost."));
    EXPECT_EQ(call.buttons, mbYes | mbNo);
  }
}

// "Contents..." opens the help document named after the executable; without
// one the user is told.
TEST_F(ScrapMainTest, ContentsOpensTheHelpDocumentOrTellsTheUserItIsMissing) {
  const std::string help_file = ChangeFileExt(ExecutablePath(), ".html");
  ASSERT_FALSE(std::filesystem::exists(help_file));
  main_->Contents1->Click();
  EXPECT_EQ(opened_, std::vector<std::string>{help_file});
  ASSERT_EQ(dialogs_->Calls().size(), 1u);
  EXPECT_EQ(dialogs_->Calls()[0].text, "Problem opening file " + help_file);
  EXPECT_TRUE(Notes().empty());

  std::filesystem::copy_file(JW_HELP_FILE, help_file);
  struct Remove {
    ~Remove() { std::filesystem::remove(path); }
    std::string path;
  } remove{help_file};
  main_->Contents1->Click();
  EXPECT_EQ(opened_, (std::vector<std::string>{help_file, help_file}));
  EXPECT_EQ(dialogs_->Calls().size(), 1u);
}

// The shipped help document tells of every command of the tray menu and of
// a note's menu, by the name the menu shows.
TEST_F(ScrapMainTest, TheHelpDocumentNamesEveryMenuCommand) {
  std::ifstream in(JW_HELP_FILE);
  ASSERT_TRUE(in) << JW_HELP_FILE;
  const std::string help((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> missing;
  const std::function<void(TMenuItem&)> check = [&](TMenuItem& item) {
    for (int i = 0; i < item.Count(); ++i) {
      TMenuItem& child = *item.Items(i);
      if (child.Caption() != "-" && help.find(child.Caption()) == std::string::npos)
        missing.push_back(child.Caption());
      check(child);
    }
  };
  check(main_->TrayMenu->Items());
  CreateOnTop = false;
  std::unique_ptr<TScrapForm> note(MakeForm<TScrapForm>(Application));
  check(note->PopupMenu1->Items());
  EXPECT_EQ(missing, std::vector<std::string>{});
  for (const char* topic : {"Alarm", "E-mail", "data/", "jotterwick.INI", "paper/"})
    EXPECT_NE(help.find(topic), std::string::npos) << topic;
}

}  // namespace
}  // namespace jw
