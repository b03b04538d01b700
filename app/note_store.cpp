#include "app/note_store.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "app/alarm_scheduler.h"
#include "app/folders.h"
#include "app/font_desc.h"
#include "app/scrap_form.h"
#include "app/settings.h"
#include "engine/core/data_cursor.h"
#include "engine/dataset/quire_table.h"
#include "platform/db/field.h"
#include "platform/gui/application.h"
#include "platform/gui/dialogs.h"
#include "platform/rtl/file_names.h"

namespace jw {

namespace {

// Scales below this are read as 1.0.
constexpr double kSmallestScale = 0.1;

TScrapRecord ScrapRecordOf(const TScrapForm& note) {
  return {note.Message,       note.Top(),           note.Left(),     note.PaperFile,
          note.FontDesc,      note.FontAngle,       note.ImageScale, note.stayontop1->Checked(),
          note.AlarmDateTime, note.AlarmLastSounded};
}

// The primary index, on "scrapid", has no name.
bool FindScrap(TQuireTable& table, int32_t scrapid) {
  table.SetIndexName("");
  return table.FindKey({Variant(scrapid)});
}

// Writes the note as SaveScrapWindow does, with the place it holds now.
void WriteScrapWindow(TQuireTable& table, TScrapForm& note) {
  if (note.scrapid < 0 && note.Message.empty()) return;
  const TScrapRecord record = ScrapRecordOf(note);
  if (FindScrap(table, note.scrapid)) {
    table.Edit();
  } else {
    table.Insert();
  }
  try {
    table.FieldByName("Zorder")->SetAsInteger(note.Zorder);
    table.FieldByName("Message")->SetAsString(record.Message);
    table.FieldByName("top")->SetAsInteger(record.Top);
    table.FieldByName("left")->SetAsInteger(record.Left);
    table.FieldByName("PaperFile")->SetAsString(record.PaperFile);
    table.FieldByName("FontDesc")->SetAsString(record.FontDesc);
    table.FieldByName("FontAngle")->SetAsFloat(record.FontAngle);
    table.FieldByName("ImageScale")->SetAsFloat(record.ImageScale);
    table.FieldByName("StayOnTop")->SetAsBoolean(record.StayOnTop);
    table.FieldByName("AlarmDateTime")->SetAsDateTime(record.AlarmDateTime);
    table.FieldByName("AlarmLastSounded")->SetAsDateTime(record.AlarmLastSounded);
    table.Post();
  } catch (...) {
    // A record left half set would be posted by the next edit or insert.
    table.Cancel();
    throw;
  }
  // The note keeps the key the table gave it, so its next save edits the
  // record instead of inserting a second one.
  note.scrapid = table.FieldByName("scrapid")->AsInteger();
  note.SavedRecord = record;
}

// Writes the note windows in the screen's form list, front first, each with
// its place as its Zorder; with only_changed, those whose record differs
// from the one last written or read. A window manager may have moved a note
// without a word to it: its place is read from the screen before the record
// is compared.
void SaveScraps(TQuireTable& table, bool only_changed) {
  std::exception_ptr first_failure;
  for (int i = 0; i < Screen->FormCount(); ++i) {
    auto* note = dynamic_cast<TScrapForm*>(Screen->Forms(i));
    if (note == nullptr) continue;
    note->ReadPlaceFromScreen();
    if (only_changed && note->SavedRecord == ScrapRecordOf(*note)) continue;
    note->Zorder = i;
    try {
      WriteScrapWindow(table, *note);
    } catch (...) {
      if (!first_failure) first_failure = std::current_exception();
    }
  }
  if (first_failure) std::rethrow_exception(first_failure);
}

void ReadRecord(TQuireTable& table, TScrapForm& note) {
  note.scrapid = table.FieldByName("scrapid")->AsInteger();
  note.Message = table.FieldByName("message")->AsString();
  note.SetTop(table.FieldByName("top")->AsInteger());
  note.SetLeft(table.FieldByName("left")->AsInteger());
  note.PaperFile = table.FieldByName("paperFile")->AsString();
  if (note.PaperFile.empty() || !FileExists(PaperPath(note.PaperFile)))
    note.PaperFile = PaperFileForNote();
  note.ImageScale = table.FieldByName("imagescale")->AsFloat();
  // NaN fails the comparison too.
  if (!(note.ImageScale >= kSmallestScale)) note.ImageScale = 1.0;
  note.RebuildShape();
  note.FontDesc = table.FieldByName("FontDesc")->AsString();
  DescToFont(note.Canvas().Font(), note.FontDesc);
  note.FontAngle = ClampFontAngle(table.FieldByName("FontAngle")->AsFloat());
  SetAngledFont(note.Canvas(), note.FontAngle);
  note.stayontop1->SetChecked(CreateOnTop);
  note.AlarmDateTime = table.FieldByName("AlarmDateTime")->AsDateTime();
  note.AlarmLastSounded = table.FieldByName("AlarmLastSounded")->AsDateTime();
  note.SetHint(AlarmHint(note.AlarmDateTime));
  note.SavedRecord = ScrapRecordOf(note);
}

// A note window made from the table's current record, not shown yet. When
// that fails the window goes and the message for the user is in failure:
// nullptr.
TScrapForm* MakeScrapWindow(TQuireTable& table, std::string& failure) {
  std::unique_ptr<TScrapForm> note;
  try {
    CreateOnTop = table.FieldByName("StayOnTop")->AsBoolean();
    note.reset(MakeForm<TScrapForm>(Application));
    ReadRecord(table, *note);
  } catch (const std::exception& error) {
    const auto* own = dynamic_cast<const Exception*>(&error);
    failure = std::string("There was a problem loading a scrap from the database.\r") +
              (own != nullptr ? own->Message() : error.what());
    return nullptr;
  }
  return note.release();
}

}  // namespace

void LoadAllScraps(TQuireTable& table) {
  std::vector<TCustomForm*> bottom_to_top;
  // Notes that fail alike (every note when the papers are gone) are told
  // in one message.
  std::vector<std::string> failures;
  table.SetIndexName("Zorder");
  table.Last();
  while (!table.Bof()) {
    std::string failure;
    if (TScrapForm* note = MakeScrapWindow(table, failure)) bottom_to_top.push_back(note);
    if (!failure.empty() && std::find(failures.begin(), failures.end(), failure) == failures.end())
      failures.push_back(failure);
    table.Prior();
  }
  for (const std::string& failure : failures) ShowMessage(failure);
  // All at once: a desktop full of notes appears without a round of
  // activation for each.
  TCustomForm::ShowStacked(bottom_to_top);
  Application->ProcessMessages();
}

TScrapForm* LoadScrapWindow(TQuireTable& table) {
  std::string failure;
  TScrapForm* note = MakeScrapWindow(table, failure);
  if (note == nullptr) {
    ShowMessage(failure);
    return nullptr;
  }
  note->Show();
  Application->ProcessMessages();
  return note;
}

void SaveScrapWindow(TQuireTable& table, TScrapForm& note) {
  note.ReadPlaceFromScreen();
  WriteScrapWindow(table, note);
}

void SaveAllScraps(TQuireTable& table) {
  SaveScraps(table, false);
}

void SaveChangedScraps(TQuireTable& table) {
  SaveScraps(table, true);
}

void DeleteScrapRecord(TQuireTable& table, const TScrapForm& note) {
  if (FindScrap(table, note.scrapid)) table.Delete();
}

}  // namespace jw
