// TDM: the data module of the note application. It connects the database
// to the data folder, opens the notes table with its password, loads every
// note, saves the notes that changed a few seconds after they changed and,
// at exit, saves them all. One lives for the whole run; DM points
// at it, so that note windows reach the table.
#pragma once

#include <string>

#include "app/folders.h"
#include "components/tips.h"
#include "engine/dataset/quire_database.h"
#include "engine/dataset/quire_table.h"
#include "platform/gui/forms.h"
#include "platform/gui/timer.h"

namespace jw {

class TDM : public TDataModule {
 public:
  // tips, when given, show at start if their switch is set.
  TDM(TComponent* owner, TTips* tips = nullptr, std::string data_folder = DataFolder());
  ~TDM() override;

  TQuireDatabase* DB;
  TQuireTable* ScrapTbl;
  TTips* Tips1;
  // Armed by the first change after a save, disabled otherwise.
  TTimer* SaveTimer;

  // Connects, opens the notes table and loads the notes; when the table
  // cannot be opened the user is told and the program runs without it.
  void DataModuleCreate(TPersistent* sender);
  void DataModuleDestroy(TPersistent* sender);

  // What closing the manager window runs: saves every note. When the notes
  // cannot be saved (the table never opened, or a write failed) the user is
  // told and asked whether to exit anyway; true when the program may end.
  bool SaveAllScrapsOrAsk();
  // Saves every note; what went wrong, or empty when every note was saved.
  std::string TrySaveAllScraps();

  // Arms SaveTimer unless it is armed: a note that changes all the time is
  // still saved every few seconds.
  void ScrapChanged();
  // Saves the notes that changed. A failure is shown once, not again until
  // it changes or a save succeeds, so a note typed on in a folder that
  // cannot be written does not raise a message every few seconds.
  void SaveTimerTimer(TPersistent* sender);

 private:
  const std::string data_folder_;
  std::string last_save_failure_;
};

// The delay between a note's change and its save.
inline constexpr uint32_t kScrapSaveDelayMs = 3000;

// Tells the data module of the run, when there is one, that a note changed.
void ScrapChanged();

// The data module of the run; nullptr while there is none.
extern TDM* DM;

// The notes table of the run; raises "The notes table is not open." when it
// never opened.
TQuireTable& OpenScrapTable();

}  // namespace jw
