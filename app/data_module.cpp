#include "app/data_module.h"

#include <exception>
#include <utility>

#include "app/alarm_scheduler.h"
#include "app/note_store.h"
#include "app/notes_table/notes_table.h"
#include "app/str_lib.h"
#include "engine/dataset/quire_session.h"
#include "platform/gui/application.h"

namespace jw {

TDM* DM = nullptr;

void ScrapChanged() {
  if (DM != nullptr) DM->ScrapChanged();
}

TQuireTable& OpenScrapTable() {
  if (DM == nullptr || !DM->ScrapTbl->Active()) throw Exception("The notes table is not open.");
  return *DM->ScrapTbl;
}

TDM::TDM(TComponent* owner, TTips* tips, std::string data_folder)
    : TDataModule(owner), Tips1(tips), data_folder_(std::move(data_folder)) {
  DB = new TQuireDatabase(this);
  DB->SetName("DB");
  DB->SetDatabaseName("DB");
  DB->SetSessionName("Default");
  ScrapTbl = new TQuireTable(this);
  ScrapTbl->SetName("ScrapTbl");
  ScrapTbl->SetDatabaseName("DB");
  ScrapTbl->SetTableName(kScrapTableName);
  ScrapTbl->SetAutoDisplayLabels(false);
  ScrapTbl->SetCopyOnAppend(false);
  SaveTimer = new TTimer(this);
  SaveTimer->SetName("SaveTimer");
  SaveTimer->SetEnabled(false);
  SaveTimer->SetInterval(kScrapSaveDelayMs);
  SaveTimer->OnTimer = [this](TPersistent* sender) { SaveTimerTimer(sender); };
  OnCreate = [this](TPersistent* sender) { DataModuleCreate(sender); };
  OnDestroy = [this](TPersistent* sender) { DataModuleDestroy(sender); };
  DM = this;
}

TDM::~TDM() {
  BeforeDestruction();
  if (DM == this) DM = nullptr;
}

void TDM::DataModuleCreate(TPersistent*) {
  try {
    DB->SetConnected(false);
    DB->SetDirectory(data_folder_);
    DB->SetConnected(true);
    DB->Session()->AddPassword(kScrapTablePassword);
    ScrapTbl->Open();
  } catch (const std::exception&) {
    // The program still runs from the tray; leaving it asks whether to
    // exit without saving.
    Application->HandleException();
    return;
  }
  LoadAllScraps(*ScrapTbl);
  CheckAlarms();
  Application->ProcessMessages();
  // A program asked to end while it loaded goes without its tips.
  if (Tips1 != nullptr && Tips1->ShowAtStart() && !Application->Terminated()) Tips1->Execute();
}

void TDM::DataModuleDestroy(TPersistent*) {
  ScrapTbl->Close();
  DB->SetConnected(false);
}

std::string TDM::TrySaveAllScraps() {
  try {
    SaveAllScraps(OpenScrapTable());
    return "";
  } catch (const std::exception& error) {
    return error.what();
  }
}

bool TDM::SaveAllScrapsOrAsk() {
  const std::string problem = TrySaveAllScraps();
  return problem.empty() || ConfirmYesNo("The scraps could not be saved.\r" + problem +
                                         "\r\rExit anyway? Changes to the scraps will be lost.");
}

void TDM::ScrapChanged() {
  if (!SaveTimer->Enabled()) SaveTimer->SetEnabled(true);
}

void TDM::SaveTimerTimer(TPersistent*) {
  SaveTimer->SetEnabled(false);
  if (!ScrapTbl->Active()) return;
  try {
    SaveChangedScraps(*ScrapTbl);
    last_save_failure_.clear();
  } catch (const Exception& error) {
    if (error.Message() == last_save_failure_) return;
    last_save_failure_ = error.Message();
    throw;
  }
}

}  // namespace jw
