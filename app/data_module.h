// TDM: the data module of the note application. It connects the database
// to the data folder, opens the notes table with its password, loads every
// note and, at exit, saves them all. One lives for the whole run; DM points
// at it, so that note windows reach the table.
#pragma once

#include <string>

#include "app/folders.h"
#include "components/tips.h"
#include "engine/dataset/quire_database.h"
#include "engine/dataset/quire_table.h"
#include "platform/gui/forms.h"

namespace jw {

class TDM : public TDataModule {
 public:
  // tips, when given, show at start if their switch is set.
  TDM(TComponent* owner, TTips* tips = nullptr, std::string data_folder = DataFolder());
  ~TDM() override;

  TQuireDatabase* DB;
  TQuireTable* ScrapTbl;
  TTips* Tips1;

  // Connects, opens the notes table and loads the notes; when the table
  // cannot be opened the user is told and the program runs without it.
  void DataModuleCreate(TPersistent* sender);
  void DataModuleDestroy(TPersistent* sender);

  // What closing the manager window runs: saves every note. When the notes
  // cannot be saved (the table never opened, or a write failed) the user is
  // told and asked whether to exit anyway; true when the program may end.
  bool SaveAllScrapsOrAsk();

 private:
  const std::string data_folder_;
};

// The data module of the run; nullptr while there is none.
extern TDM* DM;

// The notes table of the run; raises "The notes table is not open." when it
// never opened.
TQuireTable& OpenScrapTable();

}  // namespace jw
