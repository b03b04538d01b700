#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/sql/query_statement.h"
#include "engine/support/field_types.h"
#include "platform/db/binary_fields.h"
#include "platform/db/data_source.h"
#include "platform/db/db_errors.h"
#include "platform/db/field.h"
#include "table_fixture.h"

namespace jw {
namespace {

using test_support::EngineField;
using test_support::EngineIndex;
using test_support::TableTest;
using test_support::WalkBackward;
using test_support::WalkForward;

// ID auto-increment, NAME string 20, CODE integer, AMOUNT BCD with 2
// decimals, MEMO; the primary index on ID (or none), "ByCode" on CODE (not
// unique) and "ByName" on NAME, case-insensitive.
TTableDefinition ItemDefinition(bool primary) {
  TTableDefinition definition;
  definition.Fields = {EngineField("ID", kFldInteger, 0, kSubTypeAutoInc),
                       EngineField("NAME", kFldString, 20), EngineField("CODE", kFldInteger),
                       EngineField("AMOUNT", kFldBcd, 0, 0, 2),
                       EngineField("MEMO", kFldBlob, 0, 22)};
  definition.Indexes = {primary ? EngineIndex("", {1}, true) : IndexDescriptor(),
                        EngineIndex("ByCode", {3}, false), EngineIndex("ByName", {2}, false, true)};
  definition.BlobBlockSize = 512;
  return definition;
}

using Tables = TableTest;

TEST_F(Tables, WalkingTheDataSetEqualsWalkingTheCursor) {
  for (bool primary : {true, false}) {
    for (int count : {1, 2, 500}) {
      SCOPED_TRACE(testing::Message() << "primary " << primary << ", " << count << " records");
      const std::string name = "walk" + std::to_string(count) + (primary ? "p" : "n");
      CreateEngineTable(name, ItemDefinition(primary));
      TQuireTable* table = NewTable(name);
      table->Open();
      std::mt19937 random(static_cast<uint32_t>(count));
      std::map<int32_t, int32_t> codes;  // ID -> CODE
      for (int i = 0; i < count; ++i) {
        table->Append();
        table->FieldByName("NAME")->SetAsString("n" + std::to_string(random() % 1000));
        table->FieldByName("CODE")->SetAsInteger(static_cast<int32_t>(random() % 7));
        table->Post();
        // A posted insert stands on its new record.
        codes[table->FieldByName("ID")->AsInteger()] = table->FieldByName("CODE")->AsInteger();
      }
      ASSERT_EQ(static_cast<int>(codes.size()), count);
      for (const std::string& index : {std::string(), std::string("ByCode")}) {
        SCOPED_TRACE("index '" + index + "'");
        table->SetIndexName(index);
        const std::vector<int32_t> expected = CursorWalk(name, index, 1);
        ASSERT_EQ(static_cast<int>(expected.size()), count);
        EXPECT_EQ(WalkForward(*table, "ID"), expected);
        EXPECT_EQ(WalkBackward(*table, "ID"), expected);
        EXPECT_EQ(table->RecordCount(), count);
        // Record numbers, and bookmarks taken on the way.
        std::vector<TBookmark> marks;
        int position = 0;
        for (table->First(); !table->Eof(); table->Next()) {
          EXPECT_EQ(table->RecNo(), ++position);
          marks.push_back(table->GetBookmark());
        }
        for (int k = 0; k < 20; ++k) {
          const size_t at = random() % marks.size();
          table->GotoBookmark(marks[at]);
          EXPECT_EQ(table->FieldByName("ID")->AsInteger(), expected[at]);
          EXPECT_EQ(table->RecNo(), static_cast<int>(at) + 1);
          EXPECT_TRUE(table->BookmarkValid(marks[at]));
          const int number = static_cast<int>(random() % marks.size()) + 1;
          table->SetRecNo(number);
          EXPECT_EQ(table->FieldByName("ID")->AsInteger(), expected[number - 1]);
          const size_t other = random() % marks.size();
          const int order = table->CompareBookmarks(marks[at], marks[other]);
          EXPECT_EQ(order < 0, at < other);
          EXPECT_EQ(order == 0, at == other);
        }
        EXPECT_EQ(table->CompareBookmarks({}, marks[0]), 1);
        EXPECT_EQ(table->CompareBookmarks(marks[0], {}), -1);
        // A filter hides the records with an odd code; record numbers no
        // longer hold, counts follow the filter.
        table->SetOnFilterRecord([](TDataSet* dataset, bool& accept) {
          accept = dataset->FieldByName("CODE")->AsInteger() % 2 == 0;
        });
        table->SetFiltered(true);
        std::vector<int32_t> even;
        for (int32_t id : expected) {
          if (codes[id] % 2 == 0) even.push_back(id);
        }
        EXPECT_FALSE(table->IsSequenced());
        EXPECT_EQ(WalkForward(*table, "ID"), even);
        EXPECT_EQ(table->RecordCount(), static_cast<int>(even.size()));
        table->SetFiltered(false);
        table->SetOnFilterRecord(nullptr);
        EXPECT_TRUE(table->IsSequenced());
      }
      table->Close();
    }
  }
}

TEST_F(Tables, EditingFollowsAModel) {
  CreateEngineTable("edit", ItemDefinition(true));
  TQuireTable* table = NewTable("edit");
  table->Open();
  TQuireTable* other = NewTable("edit");
  other->Open();
  std::map<int32_t, std::string> model;  // ID -> NAME
  std::mt19937 random(7);
  const int steps = std::getenv("JW_LONG_TESTS") != nullptr ? 3000 : 300;
  for (int step = 0; step < steps; ++step) {
    const std::string name = "v" + std::to_string(random() % 10000);
    switch (random() % 6) {
      case 0:
      case 1:
        (random() % 2 == 0 ? static_cast<void>(table->Insert()) : table->Append());
        EXPECT_EQ(table->RecNo(), -1);
        table->FieldByName("NAME")->SetAsString(name);
        table->Post();
        model[table->FieldByName("ID")->AsInteger()] = name;
        EXPECT_EQ(table->FieldByName("NAME")->AsString(), name);
        break;
      case 2:
        if (table->IsEmpty()) break;
        table->Edit();
        table->FieldByName("NAME")->SetAsString(name);
        table->Post();
        model[table->FieldByName("ID")->AsInteger()] = name;
        break;
      case 3: {
        if (table->IsEmpty()) break;
        const int32_t id = table->FieldByName("ID")->AsInteger();
        table->Edit();
        table->FieldByName("NAME")->SetAsString(name);
        table->Cancel();
        EXPECT_EQ(table->FieldByName("NAME")->AsString(), model[id]);
        // The record lock went with the cancel: another dataset edits it.
        ASSERT_TRUE(other->FindKey({Variant(id)}));
        other->Edit();
        other->Cancel();
        break;
      }
      case 4:
        if (table->IsEmpty()) break;
        model.erase(table->FieldByName("ID")->AsInteger());
        table->Delete();
        break;
      case 5:
        table->MoveBy(static_cast<int>(random() % 7) - 3);
        break;
    }
    if (step % 25 != 0 && step != steps - 1) continue;
    const TBookmark here = table->GetBookmark();
    std::vector<int32_t> ids;
    std::vector<std::string> names;
    for (table->First(); !table->Eof(); table->Next()) {
      ids.push_back(table->FieldByName("ID")->AsInteger());
      names.push_back(table->FieldByName("NAME")->AsString());
    }
    std::vector<int32_t> model_ids;
    std::vector<std::string> model_names;
    for (const auto& [id, text] : model) {
      model_ids.push_back(id);
      model_names.push_back(text);
    }
    ASSERT_EQ(ids, model_ids) << "step " << step;
    ASSERT_EQ(names, model_names) << "step " << step;
    if (!here.empty() && table->BookmarkValid(here)) table->GotoBookmark(here);
  }
}

TEST_F(Tables, FieldsFollowTheEngineDescriptorsAndValuesRoundTrip) {
  TTableDefinition definition = ItemDefinition(true);
  definition.Fields.push_back(EngineField("SMALL", kFldSmallInt));
  CreateEngineTable("values", definition);
  TQuireTable* table = NewTable("values");
  table->Open();
  std::vector<std::string> names;
  for (int i = 0; i < table->FieldCount(); ++i) names.push_back(table->Fields(i)->FieldName());
  EXPECT_EQ(names, (std::vector<std::string>{"ID", "NAME", "CODE", "AMOUNT", "MEMO", "SMALL"}));
  EXPECT_EQ(table->FieldByName("ID")->DataType(), ftAutoInc);
  EXPECT_EQ(table->FieldByName("MEMO")->DataType(), ftMemo);
  EXPECT_EQ(table->FieldDefs().Find("AMOUNT").Precision(), 20);
  table->Append();
  table->FieldByName("AMOUNT")->SetAsCurrency(Currency::FromDouble(10.25));
  table->FieldByName("CODE")->SetAsInteger(-5);
  // A name of the field's full size fills the engine's whole value.
  const std::string full_name(20, 'w');
  table->FieldByName("NAME")->SetAsString(full_name);
  table->Post();
  table->Close();
  table->Open();
  EXPECT_EQ(table->FieldByName("AMOUNT")->AsCurrency(), Currency::FromDouble(10.25));
  EXPECT_EQ(table->FieldByName("CODE")->AsInteger(), -5);
  EXPECT_EQ(table->FieldByName("NAME")->AsString(), full_name);
  EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 1);
  EXPECT_TRUE(table->FieldByName("SMALL")->IsNull());
  // CopyOnAppend starts an inserted record as a copy of the one it stands
  // before; its key comes new.
  table->SetCopyOnAppend(true);
  table->Insert();
  EXPECT_EQ(table->FieldByName("CODE")->AsInteger(), -5);
  EXPECT_EQ(table->FieldByName("AMOUNT")->AsCurrency(), Currency::FromDouble(10.25));
  table->Post();
  EXPECT_EQ(table->RecordCount(), 2);
  EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 2);
}

TEST_F(Tables, HiddenFieldsStayOutOfTheFieldListAndKeepTheirValues) {
  // A table whose middle field is hidden: the dataset shows the others, and
  // an edit through the dataset keeps what the hidden field holds.
  TTableDefinition definition;
  definition.Fields = {EngineField("A", kFldInteger), EngineField("SECRET", kFldInteger),
                       EngineField("B", kFldString, 10)};
  definition.Fields[1].Hidden = 1;
  CreateEngineTable("hidden", definition);
  {
    // The flag is byte 252 of the second stored descriptor.
    std::ifstream file(folder_.Path() + "hidden.DAT", std::ios::binary);
    std::vector<char> bytes(127 + 3 * 768);
    ASSERT_TRUE(file.read(bytes.data(), static_cast<std::streamsize>(bytes.size())));
    EXPECT_EQ(bytes[127 + 252], 0);
    EXPECT_EQ(bytes[127 + 768 + 252], 1);
  }
  {
    TDataCursor cursor(database_->EngineDirectory());
    cursor.SetTableName("hidden");
    cursor.Open();
    ASSERT_EQ(cursor.GetFieldDesc(2).Hidden, 1);
    std::vector<uint8_t> image(static_cast<size_t>(cursor.GetRecordSize()));
    cursor.ClearRecord(image.data());
    const int32_t a = 1;
    const int32_t secret = 42;
    cursor.SetFieldData(1, image.data(), false, &a);
    cursor.SetFieldData(2, image.data(), false, &secret);
    cursor.InsertRecord(image.data(), false);
    cursor.Close(false);
  }
  TQuireTable* table = NewTable("hidden");
  table->Open();
  ASSERT_EQ(table->FieldCount(), 2);
  EXPECT_EQ(table->Fields(0)->FieldName(), "A");
  EXPECT_EQ(table->Fields(1)->FieldName(), "B");
  EXPECT_EQ(table->Fields(1)->FieldNo(), 3);
  EXPECT_EQ(table->FieldDefs().Count(), 2);
  table->Edit();
  table->FieldByName("B")->SetAsString("seen");
  table->Post();
  table->Close();
  {
    TDataCursor cursor(database_->EngineDirectory());
    cursor.SetTableName("hidden");
    cursor.Open();
    std::vector<uint8_t> image(static_cast<size_t>(cursor.GetRecordSize()));
    cursor.First();
    ASSERT_EQ(cursor.GetNextRecord(image.data()), 0);
    bool null = true;
    int32_t secret = 0;
    cursor.GetFieldData(2, image.data(), null, &secret);
    EXPECT_FALSE(null);
    EXPECT_EQ(secret, 42);
    cursor.Close(false);
  }

  // An average's count column is stored hidden in the result table: opened
  // as a table, the result shows only its visible column.
  {
    TQueryStatement statement(*database_->EngineDirectory()->Session(),
                              *database_->EngineDirectory());
    const std::string sql = "SELECT AVG(A) INTO \"" + folder_.Path() + "averages\" FROM hidden";
    int32_t consumed = 0;
    statement.Prepare(sql.c_str(), consumed);
    statement.Execute();
  }
  TQuireTable* averages = NewTable("averages");
  averages->Open();
  ASSERT_EQ(averages->FieldCount(), 1);
  EXPECT_EQ(averages->Fields(0)->FieldNo(), 1);
  EXPECT_DOUBLE_EQ(averages->Fields(0)->AsFloat(), 1.0);
  EXPECT_EQ(averages->Cursor()->GetFieldDesc(2).Name, "Sys__Avg__Count2");
}

TEST_F(Tables, InMemoryTablesLiveInTheMemoryDatabase) {
  TQuireTable* table = NewTable("scratch");
  table->SetInMemory(true);
  EXPECT_EQ(table->DatabaseName(), "Memory");
  table->FieldDefs().Add("N", ftInteger);
  table->CreateTable();
  table->Open();
  for (int i = 0; i < 3; ++i) {
    table->Append();
    table->FieldByName("N")->SetAsInteger(i);
    table->Post();
  }
  EXPECT_EQ(table->RecordCount(), 3);
  table->Close();
  EXPECT_TRUE(table->Exists());
  EXPECT_FALSE(std::filesystem::exists(folder_.Path() + "scratch.DAT"));
  table->DeleteTable();
  EXPECT_FALSE(table->Exists());
}

}  // namespace
}  // namespace jw
