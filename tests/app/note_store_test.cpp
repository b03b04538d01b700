#include "app/note_store.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "app/alarm_scheduler.h"
#include "app/data_module.h"
#include "app/editor_form.h"
#include "app/folders.h"
#include "app/notes_table/notes_table.h"
#include "app/scrap_form.h"
#include "app/scrap_windows.h"
#include "app/settings.h"
#include "engine/dataset/quire_table.h"
#include "engine/dataset/session_list.h"
#include "platform/db/field.h"
#include "platform/gui/application.h"
#include "platform/gui/bitmap.h"
#include "platform/gui/dialogs_scripted.h"
#include "platform/rtl/date_time.h"
#include "tests/support/temp_folder.h"

namespace jw {
namespace {

const std::vector<std::string> kPapers{"test-store-60x50.bmp", "test-store-90x70.bmp"};
// Exists, but is no picture: a note on it cannot be shaped.
const char kBrokenPaper[] = "test-store-broken.png";
const char kLoadProblem[] = "There was a problem loading a scrap from the database.\r";

// What a note holds that the store keeps.
struct NoteState {
  std::string message;
  int top = 0;
  int left = 0;
  std::string paper;
  double scale = 1;
  std::string font;
  double angle = 0;
  bool on_top = false;
  TDateTime alarm = 0;
  TDateTime sounded = 0;
  bool operator==(const NoteState&) const = default;
};

std::ostream& operator<<(std::ostream& out, const NoteState& n) {
  const std::string text =
      n.message.size() > 40 ? std::to_string(n.message.size()) + " bytes" : n.message;
  return out << "{\"" << text << "\" at " << n.left << "," << n.top << " on " << n.paper << " x"
             << n.scale << " font " << n.font << " " << n.angle << "deg"
             << (n.on_top ? " on top" : "") << " alarm " << n.alarm << "/" << n.sounded << "}";
}

NoteState StateOf(const TScrapForm& note) {
  return {note.Message,       note.Top(),           note.Left(),    note.PaperFile,
          note.ImageScale,    note.FontDesc,        note.FontAngle, note.stayontop1->Checked(),
          note.AlarmDateTime, note.AlarmLastSounded};
}

std::vector<TScrapForm*> Notes() {
  std::vector<TScrapForm*> notes;
  for (int i = 0; i < Screen->FormCount(); ++i)
    if (auto* note = dynamic_cast<TScrapForm*>(Screen->Forms(i))) notes.push_back(note);
  return notes;
}

// Front first.
std::vector<NoteState> NoteStates() {
  std::vector<NoteState> states;
  for (const TScrapForm* note : Notes()) states.push_back(StateOf(*note));
  return states;
}

class NoteStoreTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::filesystem::create_directories(PaperFolder());
    int size = 50;
    for (const std::string& name : kPapers) {
      TBitmap bitmap;
      bitmap.SetSize(size + 10, size);
      bitmap.Canvas().Brush().SetColor(clWhite);
      bitmap.Canvas().FillRect(Rect(0, 0, size + 10, size));
      bitmap.SaveToFile(PaperFolder() + name);
      size += 20;
    }
    std::ofstream(PaperFolder() + kBrokenPaper) << "not a picture";
  }
  static void TearDownTestSuite() {
    for (const std::string& name : kPapers) std::filesystem::remove(PaperFolder() + name);
    std::filesystem::remove(PaperFolder() + kBrokenPaper);
  }

  void SetUp() override {
    ScrapSettings = TScrapSettings();
    ScrapSettings.DefaultFontDesc = "DejaVu Sans,12,0";
    auto dialogs = std::make_unique<ScriptedDialogs>();
    dialogs_ = dialogs.get();
    SetDialogService(std::move(dialogs));
    InitQuireSessions();
    CreateScrapTable(folder_.Path());
    Start();
  }
  void TearDown() override {
    CloseNotes();
    dm_.reset();
    DoneQuireSessions();
    SetDialogService(nullptr);
    ScrapSettings = TScrapSettings();
  }

  // A start of the program: the data module opens the table and loads the
  // notes.
  void Start(const std::string& folder = "") {
    dm_.reset();
    dm_.reset(MakeForm<TDM>(nullptr, nullptr, folder.empty() ? folder_.Path() : folder));
  }
  // The end of a run, once the notes were saved.
  void Restart() {
    CloseNotes();
    Start();
  }
  void CloseNotes() {
    for (TScrapForm* note : Notes()) delete note;
  }

  TScrapForm* AddNote(const NoteState& state) {
    CreateOnTop = state.on_top;
    auto* note = MakeForm<TScrapForm>(Application);
    note->Message = state.message;
    note->SetTop(state.top);
    note->SetLeft(state.left);
    note->PaperFile = state.paper;
    note->ImageScale = state.scale;
    note->RebuildShape();
    note->FontDesc = state.font;
    note->FontAngle = state.angle;
    note->stayontop1->SetChecked(state.on_top);
    note->AlarmDateTime = state.alarm;
    note->AlarmLastSounded = state.sounded;
    note->Show();
    return note;
  }

  // Every record, by "scrapid": the key and the text.
  std::vector<std::pair<int32_t, std::string>> Records() {
    std::vector<std::pair<int32_t, std::string>> records;
    TQuireTable& table = *dm_->ScrapTbl;
    table.SetIndexName("");
    for (table.First(); !table.Eof(); table.Next())
      records.emplace_back(table.FieldByName("scrapid")->AsInteger(),
                           table.FieldByName("message")->AsString());
    return records;
  }

  // A record written as another program version might have left it.
  void InsertRecord(const std::string& message, const std::string& paper, double scale) {
    const auto zorder = int32_t(Records().size());
    TQuireTable& table = *dm_->ScrapTbl;
    table.Insert();
    table.FieldByName("message")->SetAsString(message);
    table.FieldByName("top")->SetAsInteger(40);
    table.FieldByName("left")->SetAsInteger(30);
    table.FieldByName("paperFile")->SetAsString(paper);
    table.FieldByName("imagescale")->SetAsFloat(scale);
    table.FieldByName("FontDesc")->SetAsString("DejaVu Sans,10,255");
    table.FieldByName("Zorder")->SetAsInteger(zorder);
    table.Post();
  }

  test_support::TempFolder folder_;
  ScriptedDialogs* dialogs_ = nullptr;
  std::unique_ptr<TDM> dm_;
};

// Random notes, shown in a random order, saved twice at exit and loaded at
// the next start: every note comes back as it was, in the same stacking
// order, each with one record of its own.
TEST_F(NoteStoreTest, NotesComeBackAsTheyWereInTheirStackingOrder) {
  const uint32_t seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  const auto pick = [&](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  const std::vector<std::string> texts{"", "hello world", "two\rlines\r",
                                       "caf\xc3\xa9 \xe2\x9c\x93", std::string(700, 'x')};
  // More saves in one run than a cursor may hold BLOBs open at once.
  const int count = std::getenv("JW_LONG_TESTS") ? 200 : 40;
  for (int run = 0; run < 2; ++run) {
    for (int i = 0; i < count; ++i) {
      NoteState state;
      state.message = texts[size_t(pick(0, int(texts.size()) - 1))];
      state.top = pick(0, 600);
      state.left = pick(0, 900);
      state.paper = kPapers[size_t(pick(0, 1))];
      state.scale = pick(0, 1) ? 1.0 : 1.25;
      state.font = "DejaVu Sans," + std::to_string(pick(8, 20)) + "," +
                   std::to_string(pick(0, 0xFFFFFF)) + (pick(0, 1) ? ",fsBold" : "");
      state.angle = pick(-45, 45);
      state.on_top = pick(0, 3) == 0;
      // Alarms far ahead, which the start's alarm check leaves alone.
      state.alarm = pick(0, 1) ? Now() + pick(10, 100) : 0;
      state.sounded = state.alarm != 0 && pick(0, 1) ? Now() - 1 : 0;
      AddNote(state);
    }
    // Notes brought forward change the stacking order.
    for (int i = 0; i < count / 2; ++i) Notes()[size_t(pick(0, int(Notes().size()) - 1))]->Show();
    const std::vector<NoteState> before = NoteStates();
    EXPECT_TRUE(dm_->SaveAllScrapsOrAsk());
    EXPECT_TRUE(dm_->SaveAllScrapsOrAsk());
    EXPECT_EQ(Records().size(), before.size()) << "a second save inserted notes again";
    Restart();
    EXPECT_EQ(NoteStates(), before);
    std::vector<int32_t> keys;
    for (const TScrapForm* note : Notes()) keys.push_back(note->scrapid);
    std::vector<int32_t> stored;
    for (const auto& record : Records()) stored.push_back(record.first);
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, stored);
  }
  EXPECT_TRUE(dialogs_->Calls().empty());
}

// A record whose paper is gone gets a paper from the folder and a scale of 0
// becomes 1.0; a record that cannot become a note is reported, shows no
// window and stays as it is stored when the other notes are saved.
TEST_F(NoteStoreTest, OddRecordsLoadOrAreReportedAndKept) {
  InsertRecord("lost paper", "gone.bmp", 0);
  InsertRecord("broken paper", kBrokenPaper, 1.5);
  Restart();
  ASSERT_EQ(dialogs_->Calls().size(), 1u);
  EXPECT_EQ(dialogs_->Calls()[0].text.rfind(kLoadProblem, 0), 0u) << dialogs_->Calls()[0].text;
  EXPECT_NE(dialogs_->Calls()[0].text.find(std::string("/") + kBrokenPaper + "\""),
            std::string::npos)
      << dialogs_->Calls()[0].text;
  ASSERT_EQ(Notes().size(), 1u);
  TScrapForm& note = *Notes()[0];
  EXPECT_EQ(note.Message, "lost paper");
  EXPECT_NE(std::find(kPapers.begin(), kPapers.end(), note.PaperFile), kPapers.end())
      << note.PaperFile;
  EXPECT_EQ(note.ImageScale, 1.0);
  EXPECT_TRUE(note.sfImageForm1->Region().has_value());

  EXPECT_TRUE(dm_->SaveAllScrapsOrAsk());
  TQuireTable& table = *dm_->ScrapTbl;
  table.SetIndexName("");
  ASSERT_TRUE(table.FindKey({Variant(int32_t(2))}));
  EXPECT_EQ(table.FieldByName("message")->AsString(), "broken paper");
  EXPECT_EQ(table.FieldByName("paperFile")->AsString(), kBrokenPaper);
  EXPECT_EQ(table.FieldByName("imagescale")->AsFloat(), 1.5);
  ASSERT_TRUE(table.FindKey({Variant(int32_t(1))}));
  EXPECT_EQ(table.FieldByName("paperFile")->AsString(), note.PaperFile);
  EXPECT_EQ(table.FieldByName("imagescale")->AsFloat(), 1.0);
}

// Without papers (the folder empty or gone) the notes cannot be made: one
// message says what is missing, however many notes there are, and neither
// the notes nor a new note that fails alike are saved: the records stay.
TEST_F(NoteStoreTest, WithoutPapersOneMessageSaysWhatIsMissingAndNothingIsSaved) {
  for (int i = 0; i < 3; ++i) InsertRecord("note " + std::to_string(i), kPapers[0], 1);
  const std::vector<std::pair<int32_t, std::string>> records = Records();
  const std::string papers = PaperFolder();
  const std::string aside = folder_.File("papers-aside");
  std::filesystem::rename(papers, aside);
  struct PapersBack {
    ~PapersBack() {
      std::filesystem::remove_all(from);
      std::filesystem::rename(aside, from);
    }
    std::string from, aside;
  } papers_back{papers, aside};
  for (const bool folder_there : {false, true}) {
    if (folder_there) std::filesystem::create_directories(papers);
    const size_t told = dialogs_->Calls().size();
    Restart();
    const std::string missing =
        "\"" + papers + (folder_there ? "\" holds no paper (*.bmp)" : "\" is missing");
    ASSERT_EQ(dialogs_->Calls().size(), told + 1) << folder_there;
    const std::string& message = dialogs_->Calls().back().text;
    EXPECT_EQ(message.rfind(kLoadProblem, 0), 0u) << message;
    EXPECT_NE(message.find(missing), std::string::npos) << message;
    EXPECT_TRUE(Notes().empty());
    try {
      NewScrap();
      ADD_FAILURE() << "a note was made without paper";
    } catch (const EFOpenError& error) {
      EXPECT_NE(error.Message().find(missing), std::string::npos) << error.Message();
    }
    EXPECT_TRUE(Notes().empty());
    EXPECT_TRUE(dm_->SaveAllScrapsOrAsk());
    EXPECT_EQ(Records(), records);
  }
}

// Deleting a note never saved only closes it; deleting a saved one removes
// its record. The stay-on-top toggle writes the note and makes its window
// anew from the record.
TEST_F(NoteStoreTest, DeleteAndStayOnTopReachTheTable) {
  TScrapForm* kept = AddNote({"kept", 10, 20, kPapers[0], 1.0, "DejaVu Sans,12,0"});
  TScrapForm* saved = AddNote({"saved", 30, 40, kPapers[1], 1.0, "DejaVu Sans,12,0"});
  SaveScrapWindow(*dm_->ScrapTbl, *kept);
  SaveScrapWindow(*dm_->ScrapTbl, *saved);
  TScrapForm* unsaved = AddNote({"unsaved", 50, 60, kPapers[0], 1.0, "DejaVu Sans,12,0"});
  const auto records = Records();
  ASSERT_EQ(records.size(), 2u);

  dialogs_->AnswerMessage(mrYes);
  unsaved->DeleteScrapClick(nullptr);
  Application->ProcessMessages();
  EXPECT_EQ(Notes().size(), 2u);
  EXPECT_EQ(Records(), records);

  dialogs_->AnswerMessage(mrYes);
  saved->DeleteScrapClick(nullptr);
  Application->ProcessMessages();
  EXPECT_EQ(Notes(), std::vector<TScrapForm*>{kept});
  EXPECT_EQ(Records(), (std::vector<std::pair<int32_t, std::string>>{records[0]}));

  kept->Message = "kept on top";
  const int32_t key = kept->scrapid;
  kept->stayontop1Click(nullptr);
  Application->ProcessMessages();
  ASSERT_EQ(Notes().size(), 1u);
  TScrapForm& remade = *Notes()[0];
  EXPECT_NE(&remade, kept);
  EXPECT_EQ(remade.scrapid, key);
  EXPECT_TRUE(remade.stayontop1->Checked());
  EXPECT_TRUE(remade.Visible());
  EXPECT_EQ(remade.Message, "kept on top");
  EXPECT_EQ(Records().size(), 1u);
}

// An alarm that brings its note to the front while the note's menu or one of
// its dialogs is open (real ones, running events) leaves the window alone
// until they have closed: what was chosen there reaches the note, and only
// then is the window made anew on top, its record written. Without the
// option the window simply stays.
TEST_F(NoteStoreTest, AnAlarmWaitsForTheNotesMenuAndDialogsBeforeBringingItToTheFront) {
  SetDialogService(nullptr);
  ScrapSettings.AlarmReps = 0;
  const struct {
    const char* name;
    // Opens the menu or the dialog.
    std::function<void(TScrapForm&)> open;
    // Ends it once the alarm has fired.
    std::function<void()> finish;
    std::string message;
    double scale;
  } ways[] = {
      {"Enlarge picked from the menu", [](TScrapForm& note) { note.PopupMenu1->Popup(10, 10); },
       [] {
         auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
         ASSERT_NE(menu, nullptr);
         menu->close();
         for (QAction* action : menu->actions())
           if (action->text() == "Enlarge") action->trigger();
       },
       "note", 1.25},
      {"the text editor", [](TScrapForm& note) { note.Editor1->Click(); },
       [] {
         for (int i = 0; i < Screen->FormCount(); ++i)
           if (auto* editor = dynamic_cast<TEditorForm*>(Screen->Forms(i))) {
             editor->Memo1->SetText("edited");
             editor->OKBtn->Click();
           }
       },
       "edited\r", 1.0},
      {"the delete question answered No", [](TScrapForm& note) { note.DeleteScrap->Click(); },
       [] {
         auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
         ASSERT_NE(box, nullptr);
         box->button(QMessageBox::No)->click();
       },
       "note", 1.0},
  };
  for (const bool front : {true, false}) {
    for (const auto& way : ways) {
      SCOPED_TRACE(testing::Message() << way.name << (front ? ", to the front" : ""));
      ScrapSettings.AlarmFront = front;
      TScrapForm* note = AddNote({"note", 10, 20, kPapers[0], 1.0, "DejaVu Sans,12,0"});
      note->AlarmDateTime = Now() - 1.0 / 86400;
      QTimer::singleShot(0, [&] {
        CheckAlarms();
        way.finish();
      });
      way.open(*note);
      Application->ProcessMessages();
      Application->ProcessMessages();
      ASSERT_EQ(Notes().size(), 1u);
      TScrapForm& now = *Notes()[0];
      EXPECT_EQ(&now == note, !front);
      EXPECT_EQ(now.stayontop1->Checked(), front);
      EXPECT_EQ(now.AlarmDateTime, 0);
      EXPECT_EQ(now.Message, way.message);
      EXPECT_EQ(now.ImageScale, way.scale);
      EXPECT_EQ(Records().size(), front ? 1u : 0u);
      if (front) {
        EXPECT_EQ(Records()[0].second, way.message);
      }
      CloseNotes();
      TQuireTable& table = *dm_->ScrapTbl;
      for (table.First(); !table.Eof();) table.Delete();
    }
  }
}

// A record another table component holds in edit cannot be written at exit:
// that note fails alone, every other note is written, and the user is told
// and asked. Staying keeps the program with its notes; once the record is
// free the next exit writes it, each note still once in the table.
TEST_F(NoteStoreTest, ANoteThatCannotBeWrittenFailsAloneAndExitAsks) {
  std::vector<TScrapForm*> notes;
  for (int i = 0; i < 3; ++i)
    notes.push_back(
        AddNote({"note " + std::to_string(i), 10 * i, 20, kPapers[0], 1.0, "DejaVu Sans,12,0"}));
  ASSERT_TRUE(dm_->SaveAllScrapsOrAsk());
  const int32_t held_key = notes[1]->scrapid;
  TQuireTable holder(nullptr);
  holder.SetDatabaseName("DB");
  holder.SetTableName(kScrapTableName);
  holder.Open();
  ASSERT_TRUE(holder.FindKey({Variant(held_key)}));
  holder.Edit();
  for (TScrapForm* note : notes) note->Message += " changed";

  dialogs_->AnswerMessage(mrNo);
  EXPECT_FALSE(dm_->SaveAllScrapsOrAsk());
  ASSERT_EQ(dialogs_->Calls().size(), 1u);
  EXPECT_EQ(dialogs_->Calls()[0].text.rfind("The scraps could not be saved.\r", 0), 0u)
      << dialogs_->Calls()[0].text;
  EXPECT_EQ(dialogs_->Calls()[0].buttons, mbYes | mbNo);
  const auto stored = [&] {
    std::vector<std::string> messages;
    for (const auto& record : Records()) messages.push_back(record.second);
    std::sort(messages.begin(), messages.end());
    return messages;
  };
  EXPECT_EQ(Notes().size(), 3u);
  EXPECT_EQ(stored(), (std::vector<std::string>{"note 0 changed", "note 1", "note 2 changed"}));

  holder.Cancel();
  EXPECT_TRUE(dm_->SaveAllScrapsOrAsk());
  EXPECT_EQ(stored(),
            (std::vector<std::string>{"note 0 changed", "note 1 changed", "note 2 changed"}));
  EXPECT_EQ(dialogs_->Calls().size(), 1u);
}

// Without its table the program still starts, tells the user, and asks at
// exit whether to go without saving; the answer decides.
TEST_F(NoteStoreTest, ATableThatNeverOpenedIsReportedAndExitAsks) {
  test_support::TempFolder empty;
  Start(empty.Path());
  ASSERT_EQ(dialogs_->Calls().size(), 1u);
  EXPECT_EQ(dialogs_->Calls()[0].type, TMsgDlgType::mtError);
  EXPECT_FALSE(dm_->ScrapTbl->Active());
  AddNote({"unsaved", 10, 20, kPapers[0], 1.0, "DejaVu Sans,12,0"});
  dialogs_->AnswerMessage(mrNo);
  dialogs_->AnswerMessage(mrYes);
  EXPECT_FALSE(dm_->SaveAllScrapsOrAsk());
  EXPECT_TRUE(dm_->SaveAllScrapsOrAsk());
  ASSERT_EQ(dialogs_->Calls().size(), 3u);
  EXPECT_EQ(dialogs_->Calls()[2].text,
            "The scraps could not be saved.\rThe notes table is not open.\r\r"
            "Exit anyway? Changes to the scraps will be lost.");
  EXPECT_EQ(dialogs_->Calls()[2].buttons, mbYes | mbNo);
}

}  // namespace
}  // namespace jw
