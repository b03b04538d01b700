// The data definition statements run against real tables in a scratch
// folder: the descriptors each statement makes, the table options, the
// indexes it adds and drops, and that a refused change leaves the table as
// it was. The engine's verify routine checks the files after every change.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/core/data_cursor.h"
#include "engine/core/data_file.h"
#include "engine/core/data_table.h"
#include "engine/core/index_file_format.h"
#include "engine/core/table_verify.h"
#include "engine/sql/query_statement.h"
#include "engine/support/engine_errors.h"
#include "engine/support/field_types.h"
#include "tests/engine/sql/sql_test_util.h"
#include "tests/support/temp_folder.h"

namespace jw {
namespace {

constexpr uint16_t kEnglishUk = 0x0809;

class SqlDefinition : public ::testing::Test {
 protected:
  // Prepares and runs one statement.
  void Run(const std::string& text) {
    TQueryStatement statement(database_.session, *database_.directory);
    int32_t consumed = 0;
    statement.Prepare(text.c_str(), consumed);
    statement.MainQuery()->ExecuteDefinition();
    EXPECT_EQ(database_.directory->TableCount(), 0) << text;
  }
  // The code and text the statement raises, or "" when it runs.
  std::string Refused(const std::string& text) {
    try {
      Run(text);
    } catch (const EQuireEngineError& e) {
      EXPECT_EQ(database_.directory->TableCount(), 0) << text;
      return std::to_string(e.Code()) + " " + e.Message();
    }
    return std::string();
  }
  std::string DataPath(const std::string& table) const { return folder_.File(table + ".DAT"); }
  void ExpectSound(const std::string& table, int line = __builtin_LINE()) const {
    for (const TVerifyProblem& problem : VerifyTableFiles(DataPath(table))) {
      ADD_FAILURE() << "line " << line << ", " << table << ": " << problem.Text;
    }
  }
  std::unique_ptr<TDataCursor> Open(const std::string& table) {
    auto cursor = std::make_unique<TDataCursor>(database_.directory);
    cursor->SetTableName(table);
    cursor->SetExclusive(true);
    cursor->Open();
    return cursor;
  }
  // Appends rows of (integer, string) to the first two fields.
  void Insert(const std::string& table, const std::vector<std::pair<int32_t, std::string>>& rows) {
    auto cursor = Open(table);
    std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
    for (const auto& [number, text] : rows) {
      cursor->InitRecord(image.data());
      cursor->SetFieldData(1, image.data(), false, &number);
      char value[256] = {};
      std::strncpy(value, text.c_str(), sizeof value - 1);
      cursor->SetFieldData(2, image.data(), false, value);
      cursor->InsertRecord(image.data(), false);
    }
    cursor->Close(false);
  }
  // An integer and a string field of every record in the order of the
  // index.
  std::vector<std::pair<int32_t, std::string>> Rows(const std::string& table,
                                                    const std::string& index,
                                                    int32_t number_field = 1,
                                                    int32_t text_field = 2) {
    auto cursor = Open(table);
    if (!index.empty()) cursor->SetIndexByName(index);
    cursor->First();
    std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
    std::vector<std::pair<int32_t, std::string>> rows;
    while (cursor->GetNextRecord(image.data()) == 0) {
      bool null = false;
      int32_t number = 0;
      char text[256] = {};
      cursor->GetFieldData(number_field, image.data(), null, &number);
      cursor->GetFieldData(text_field, image.data(), null, text);
      rows.emplace_back(number, text);
    }
    return rows;
  }

  test_support::TempFolder folder_;
  test_support::StatementDatabase database_{folder_.Path(), kEnglishUk};
};

TEST_F(SqlDefinition, EveryTypeWordAndAttributeMakesItsDescriptor) {
  struct TypeRow {
    const char* word;
    uint8_t type;
    uint8_t subtype;
    uint8_t size;
    uint8_t decimals;
  };
  const TypeRow rows[] = {
      {"SMALLINT", kFldSmallInt, 0, 0, 0},
      {"WORD", kFldWord, 0, 0, 0},
      {"INTEGER", kFldInteger, 0, 0, 0},
      {"INT", kFldInteger, 0, 0, 0},
      {"AUTOINC", kFldInteger, 29, 0, 0},
      {"DECIMAL(10,2)", kFldBcd, 0, 0, 2},
      {"DECIMAL", kFldBcd, 0, 0, 0},
      {"NUMERIC(8,3)", kFldFloat, 0, 0, 0},
      {"FLOAT(10,2)", kFldFloat, 0, 0, 0},
      {"MONEY", kFldFloat, 21, 0, 0},
      {"CHARACTER(5)", kFldString, 0, 5, 0},
      {"CHAR(1)", kFldString, 0, 1, 0},
      {"VARCHAR(250)", kFldString, 0, 250, 0},
      {"DATE", kFldDate, 0, 0, 0},
      {"TIME", kFldTime, 0, 0, 0},
      {"TIMESTAMP", kFldTimeStamp, 0, 0, 0},
      {"BOOLEAN", kFldBoolean, 0, 0, 0},
      {"BYTES(20)", kFldBytes, 0, 20, 0},
      {"BLOB(0,1)", kFldBlob, 22, 0, 0},
      {"BLOB(0,2)", kFldBlob, 23, 0, 0},
      {"BLOB(0,3)", kFldBlob, 24, 0, 0},
      {"BLOB(0,5)", kFldBlob, 26, 0, 0},
      {"BLOB(0,7)", kFldBlob, 28, 0, 0},
  };
  std::string text = "CREATE TABLE types (";
  for (size_t i = 0; i < std::size(rows); ++i) {
    text += (i == 0 ? "c" : ", c") + std::to_string(i) + " " + rows[i].word;
  }
  const std::string long_name(40, 'n');
  const std::string long_text(60, 'd');
  text += ", " + long_name + " CHAR(9) DESCRIPTION '" + long_text +
          "' NOT NULL DEFAULT 'b' MIN 'a' MAX 'y' CHARCASE UPPER)";
  Run(text);
  ExpectSound("types");
  auto cursor = Open("types");
  ASSERT_EQ(cursor->GetFieldCount(), static_cast<int32_t>(std::size(rows)) + 1);
  for (size_t i = 0; i < std::size(rows); ++i) {
    const FieldDescriptor& field = cursor->GetTableFieldDesc(static_cast<int32_t>(i + 1));
    SCOPED_TRACE(rows[i].word);
    EXPECT_EQ(field.Number, static_cast<int16_t>(i + 1));
    EXPECT_EQ(field.Name, "c" + std::to_string(i));
    EXPECT_EQ(field.Type, rows[i].type);
    EXPECT_EQ(field.SubType, rows[i].subtype);
    EXPECT_EQ(field.Size, rows[i].size);
    EXPECT_EQ(field.Decimals, rows[i].decimals);
    EXPECT_EQ(field.Required, 0);
  }
  const FieldDescriptor& last = cursor->GetTableFieldDesc(cursor->GetFieldCount());
  EXPECT_EQ(last.Name, long_name.substr(0, 30));
  EXPECT_EQ(last.Description, long_text.substr(0, 50));
  EXPECT_EQ(last.Required, 1);
  EXPECT_EQ(last.Default, "b");
  EXPECT_EQ(last.Minimum, "a");
  EXPECT_EQ(last.Maximum, "y");
  EXPECT_EQ(last.CharCase, kCaseUpper);
  // No key clause: no primary index.
  EXPECT_TRUE(cursor->HasNoPrimaryIndex());
}

TEST_F(SqlDefinition, PrimaryKeyAndTableOptionsReachTheFiles) {
  Run("CREATE TABLE keyed (a INTEGER, b CHAR(10) NOT NULL DEFAULT x "
      "UNIQUE DESC NOCASE PRIMARY KEY (b, a) COMPRESS FULL DESCRIPTION 'the notes' "
      "BLOB BLOCK SIZE 1024 LANGUAGE 'English (UK)' ENCRYPTED WITH pw "
      "USER MAJOR VERSION 4 USER MINOR VERSION 7)");
  // The session language does not pass to a table whose statement names none.
  Run("CREATE TABLE plain (a INTEGER, PRIMARY KEY (a) COMPRESS DUPBYTE)");
  database_.session.AddPassword("pw");
  for (const char* table : {"keyed", "plain"}) ExpectSound(table);
  {
    auto cursor = Open("keyed");
    EXPECT_EQ(cursor->GetDescription(), "the notes");
    EXPECT_EQ(cursor->GetBlobBlockSize(), 1024);
    EXPECT_EQ(cursor->GetLanguageID(), kEnglishUk);
    EXPECT_TRUE(cursor->GetEncrypted());
    EXPECT_EQ(cursor->GetPassword(), "pw");
    EXPECT_EQ(cursor->GetUserMajorVersion(), 4);
    EXPECT_EQ(cursor->GetUserMinorVersion(), 7);
    ASSERT_FALSE(cursor->HasNoPrimaryIndex());
    const IndexDescriptor primary = cursor->GetIndexDesc(0);
    EXPECT_EQ(primary.SegmentCount, 2);
    EXPECT_EQ(primary.FieldNumbers[0], 2);
    EXPECT_EQ(primary.FieldNumbers[1], 1);
    EXPECT_EQ(primary.Compression, kCompressFull);
    EXPECT_EQ(primary.Descending, 1);
    EXPECT_EQ(primary.CaseInsensitive, 1);
    EXPECT_EQ(primary.Unique, 1);
  }
  auto cursor = Open("plain");
  EXPECT_EQ(cursor->GetLanguageID(), 0);
  EXPECT_EQ(cursor->GetBlobBlockSize(), 512);
  EXPECT_FALSE(cursor->GetEncrypted());
  EXPECT_EQ(cursor->GetUserMajorVersion(), 1);
  EXPECT_EQ(cursor->GetUserMinorVersion(), 0);
  EXPECT_EQ(cursor->GetIndexDesc(0).Compression, kCompressDupByte);
}

TEST_F(SqlDefinition, IndexesAreBuiltOverTheRowsAndDroppedByName) {
  Run("CREATE TABLE notes (id INTEGER, title CHAR(20), PRIMARY KEY (id))");
  Insert("notes", {{3, "pear"}, {1, "Fig"}, {2, "apple"}, {4, "fig"}});
  Run("CREATE NOCASE INDEX bytitle ON notes (title, id)");
  ExpectSound("notes");
  const std::vector<std::pair<int32_t, std::string>> by_title = {
      {2, "apple"}, {1, "Fig"}, {4, "fig"}, {3, "pear"}};
  EXPECT_EQ(Rows("notes", "bytitle"), by_title);

  Run("DROP INDEX notes.bytitle");
  ExpectSound("notes");
  EXPECT_EQ(Open("notes")->GetIndexCount(), 0);
  // A unique index over keys equal but for case is refused whole: no index,
  // no row lost.
  EXPECT_EQ(Refused("CREATE UNIQUE NOCASE INDEX onetitle ON notes (title)"),
            "9729 Quire Engine Error # 9729 Duplicate key found in index 'onetitle' of table "
            "'notes.DAT'");
  ExpectSound("notes");
  EXPECT_EQ(Open("notes")->GetIndexCount(), 0);
  EXPECT_EQ(Rows("notes", "").size(), 4u);

  // The dropped primary key's pages join those of the dropped index; the
  // table opens again and the next index takes them, the file not growing.
  const auto index_size = [this] { return std::filesystem::file_size(folder_.File("notes.IDX")); };
  const auto size_with_both = index_size();
  Run("DROP INDEX notes.PRIMARY");
  ExpectSound("notes");
  EXPECT_TRUE(Open("notes")->HasNoPrimaryIndex());
  Run("CREATE NOCASE INDEX bytitle ON notes (title, id)");
  ExpectSound("notes");
  EXPECT_EQ(index_size(), size_with_both);
  EXPECT_EQ(Rows("notes", "bytitle"), by_title);
}

TEST_F(SqlDefinition, AlterTableAddsRedefinesAndDropsColumnsKeepingTheRows) {
  Run("CREATE TABLE notes (id INTEGER, title CHAR(20), body CHAR(40), PRIMARY KEY (id))");
  const std::vector<std::pair<int32_t, std::string>> rows = {{1, "fig"}, {2, "pear"}, {3, "fig"}};
  Insert("notes", rows);
  // Two columns added in one statement each take a field number of their
  // own: neither is filled from the other's old field.
  Run("ALTER TABLE notes ADD stamp INTEGER AT 2, ADD COLUMN flag BOOLEAN, "
      "REDEFINE title heading CHAR(30) DESCRIPTION 'shown' NOT NULL, DROP body "
      "DESCRIPTION 'altered' USER MAJOR VERSION 3");
  ExpectSound("notes");
  {
    auto cursor = Open("notes");
    const std::vector<std::string> names = {"id", "stamp", "heading", "flag"};
    ASSERT_EQ(cursor->GetFieldCount(), 4);
    for (int32_t i = 1; i <= 4; ++i) {
      EXPECT_EQ(cursor->GetTableFieldDesc(i).Name, names[static_cast<size_t>(i - 1)]);
      EXPECT_EQ(cursor->GetTableFieldDesc(i).Number, i);
    }
    const FieldDescriptor& heading = cursor->GetTableFieldDesc(3);
    EXPECT_EQ(heading.Size, 30);
    EXPECT_EQ(heading.Required, 1);
    EXPECT_EQ(heading.Description, "shown");
    EXPECT_EQ(cursor->GetDescription(), "altered");
    EXPECT_EQ(cursor->GetUserMajorVersion(), 3);
    EXPECT_EQ(cursor->GetIndexDesc(0).FieldNumbers[0], 1);
    std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
    cursor->First();
    while (cursor->GetNextRecord(image.data()) == 0) {
      bool null = false;
      int32_t stamp = 0;
      cursor->GetFieldData(2, image.data(), null, &stamp);
      EXPECT_TRUE(null) << "an added column starts empty";
    }
  }
  EXPECT_EQ(Rows("notes", "", 1, 3), rows);
  EXPECT_FALSE(std::filesystem::exists(folder_.File("notes.DBK")));
  EXPECT_FALSE(std::filesystem::exists(folder_.File("notes.IBK")));

  Run("ALTER TABLE notes REDEFINE heading AT 1, DROP PRIMARY KEY");
  ExpectSound("notes");
  {
    auto cursor = Open("notes");
    EXPECT_EQ(cursor->GetTableFieldDesc(1).Name, "heading");
    EXPECT_TRUE(cursor->HasNoPrimaryIndex());
  }
  Run("ALTER TABLE notes ADD PRIMARY KEY (heading, id)");
  ExpectSound("notes");
  EXPECT_EQ(Rows("notes", "", 2, 1),
            (std::vector<std::pair<int32_t, std::string>>{{1, "fig"}, {3, "fig"}, {2, "pear"}}));
  EXPECT_EQ(Refused("ALTER TABLE notes ADD PRIMARY KEY (stamp)"),
            "11949 Quire Engine Error # 11949 SQL error - Cannot REDEFINE the primary key "
            "using the ADD keyword");
}

TEST_F(SqlDefinition, ChangesThatWouldLoseRowsAreRefusedAndLeaveTheTableAsItWas) {
  Run("CREATE TABLE notes (id INTEGER, title CHAR(20), PRIMARY KEY (id))");
  const std::vector<std::pair<int32_t, std::string>> rows = {{1, "fig"}, {2, "pear"}, {3, "fig"}};
  Insert("notes", rows);
  // What the change must not touch: the records and the index pages (the
  // headers carry change counters).
  auto stored = [this] {
    const int64_t records_at = Open("notes")->Table()->DataFile().DataStart();
    return test_support::ReadFileBytes(DataPath("notes")).substr(static_cast<size_t>(records_at)) +
           test_support::ReadFileBytes(folder_.File("notes.IDX")).substr(kIndexHeaderSize);
  };
  const std::string before = stored();
  const std::string duplicate =
      "9729 Quire Engine Error # 9729 Duplicate key found in index '' of table 'notes.DAT'";
  const std::string not_converted =
      "10000 Quire Engine Error # 10000 Invalid field definition specified for the field "
      "'title' in table 'notes.DAT'";
  const std::pair<const char*, std::string> cases[] = {
      {"ALTER TABLE notes REDEFINE PRIMARY KEY (title)", duplicate},
      {"ALTER TABLE notes DROP PRIMARY KEY, ADD UNIQUE PRIMARY KEY (title)", duplicate},
      {"ALTER TABLE notes REDEFINE title INTEGER", not_converted},
      {"ALTER TABLE notes ADD extra CHAR(5), REDEFINE title DATE NOBACKUP", not_converted},
      {"ALTER TABLE notes REDEFINE title CHAR(3)", not_converted},
  };
  for (const auto& [statement, message] : cases) {
    SCOPED_TRACE(statement);
    EXPECT_EQ(Refused(statement), message);
    ExpectSound("notes");
    EXPECT_TRUE(stored() == before);
    auto cursor = Open("notes");
    EXPECT_EQ(cursor->GetFieldCount(), 2);
    EXPECT_EQ(cursor->GetTableFieldDesc(2).Type, kFldString);
    EXPECT_EQ(cursor->GetTableFieldDesc(2).Size, 20);
    EXPECT_EQ(cursor->GetIndexDesc(0).FieldNumbers[0], 1);
  }
  EXPECT_EQ(Rows("notes", ""), rows);
  for (const char* extension : {".DBK", ".IBK", ".BBK"}) {
    EXPECT_FALSE(std::filesystem::exists(folder_.File(std::string("notes") + extension)));
  }
}

// SELECT INTO makes a new table: one that exists under the name is refused
// with its files byte for byte as they were, while a new name is filled.
TEST_F(SqlDefinition, SelectIntoAnExistingTableIsRefusedAndLeavesItUntouched) {
  Run("CREATE TABLE notes (id INTEGER, title CHAR(20), PRIMARY KEY (id))");
  Insert("notes", {{1, "fig"}, {2, "pear"}});
  Run("CREATE TABLE kept (id INTEGER, title CHAR(20))");
  Insert("kept", {{7, "plum"}});
  const auto stored = [this] {
    return test_support::ReadFileBytes(DataPath("kept")) +
           test_support::ReadFileBytes(folder_.File("kept.IDX"));
  };
  const std::string before = stored();
  const auto select_into = [this](const std::string& table) {
    TQueryStatement statement(database_.session, *database_.directory);
    int32_t consumed = 0;
    const std::string text = "SELECT id, title INTO \"" + folder_.File(table) + "\" FROM notes";
    statement.Prepare(text.c_str(), consumed);
    statement.Execute();
  };
  try {
    select_into("kept");
    ADD_FAILURE() << "the existing table was replaced";
  } catch (const EQuireEngineError& e) {
    EXPECT_EQ(e.Code(), kErrTableExists);
    EXPECT_EQ(e.Message(), "Quire Engine Error # 13060 The table 'kept.DAT' already exists");
  }
  EXPECT_EQ(database_.directory->TableCount(), 0);
  EXPECT_TRUE(stored() == before);
  ExpectSound("kept");
  EXPECT_EQ(Rows("kept", ""), (std::vector<std::pair<int32_t, std::string>>{{7, "plum"}}));
  select_into("made");
  ExpectSound("made");
  EXPECT_EQ(Rows("made", ""),
            (std::vector<std::pair<int32_t, std::string>>{{1, "fig"}, {2, "pear"}}));
}

TEST_F(SqlDefinition, DropTableRemovesItsFiles) {
  Run("CREATE TABLE gone (a INTEGER, m BLOB(0,1), PRIMARY KEY (a))");
  for (const char* extension : {".DAT", ".IDX", ".BLB"}) {
    EXPECT_TRUE(std::filesystem::exists(folder_.File(std::string("gone") + extension)));
  }
  Run("DROP TABLE gone;");
  for (const char* extension : {".DAT", ".IDX", ".BLB"}) {
    EXPECT_FALSE(std::filesystem::exists(folder_.File(std::string("gone") + extension)));
  }
  EXPECT_EQ(Refused("CREATE INDEX i ON gone (a)").substr(0, 6), "11010 ");
}

}  // namespace
}  // namespace jw
