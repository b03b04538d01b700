#include "app/notes_table/notes_table.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/core/data_cursor.h"
#include "engine/core/data_session.h"
#include "engine/core/table_verify.h"
#include "engine/support/engine_errors.h"
#include "engine/support/field_types.h"
#include "tests/support/temp_folder.h"

namespace jw {
namespace {

using test_support::ReadFileBytes;
using test_support::TempFolder;

int OpenError(TDataDirectory* directory) {
  TDataCursor cursor(directory);
  cursor.SetTableName(kScrapTableName);
  try {
    cursor.Open();
  } catch (const EQuireEngineError& error) {
    return error.Code();
  }
  return 0;
}

// The empty table the build ships: sound, unreadable without its password,
// with the columns and index the note store reads, and never made twice.
TEST(NotesTable, MadeEmptyEncryptedWithTheNoteColumnsAndNeverMadeTwice) {
  TempFolder folder;
  CreateScrapTable(folder.Path());
  const std::string data_path = folder.File("scraps.DAT");
  for (const TVerifyProblem& problem : VerifyTableFiles(data_path))
    ADD_FAILURE() << problem.Code << " " << problem.Text;
  const std::vector<std::string> files{data_path, folder.File("scraps.IDX"),
                                       folder.File("scraps.BLB")};
  std::vector<std::string> bytes;
  for (const std::string& file : files) bytes.push_back(ReadFileBytes(file));
  EXPECT_EQ(bytes[0].find(kScrapTablePassword), std::string::npos)
      << "the password is stored plain";

  TDataSession session;
  TDataDirectory* directory = session.OpenDirectory("Notes", folder.Path());
  EXPECT_EQ(OpenError(directory), kErrPasswordRequired);
  session.AddPassword(kScrapTablePassword);
  TDataCursor cursor(directory);
  cursor.SetTableName(kScrapTableName);
  cursor.Open();
  const std::vector<std::pair<std::string, uint8_t>> columns{{"scrapid", kFldInteger},
                                                             {"message", kFldBlob},
                                                             {"top", kFldInteger},
                                                             {"left", kFldInteger},
                                                             {"paperFile", kFldString},
                                                             {"imagescale", kFldFloat},
                                                             {"FontDesc", kFldString},
                                                             {"FontAngle", kFldFloat},
                                                             {"StayOnTop", kFldBoolean},
                                                             {"AlarmDateTime", kFldTimeStamp},
                                                             {"AlarmLastSounded", kFldTimeStamp},
                                                             {"Zorder", kFldInteger}};
  ASSERT_EQ(cursor.GetFieldCount(), int32_t(columns.size()));
  for (size_t i = 0; i < columns.size(); ++i) {
    const FieldDescriptor& field = cursor.GetFieldDesc(int32_t(i + 1));
    EXPECT_EQ(field.Name, columns[i].first);
    EXPECT_EQ(field.Type, columns[i].second) << field.Name;
  }
  EXPECT_TRUE(cursor.GetFieldDesc(1).IsAutoInc());
  EXPECT_EQ(cursor.GetTotalRecordCount(), 0);
  cursor.SetIndexByName("zorder");
  EXPECT_EQ(cursor.IndexName(), "Zorder");
  cursor.Close(false);

  try {
    CreateScrapTable(folder.Path());
    ADD_FAILURE() << "a second table was made over the first";
  } catch (const EQuireEngineError& error) {
    EXPECT_EQ(error.Code(), kErrTableExists);
  }
  for (size_t i = 0; i < files.size(); ++i)
    EXPECT_EQ(ReadFileBytes(files[i]), bytes[i]) << files[i];
}

}  // namespace
}  // namespace jw
