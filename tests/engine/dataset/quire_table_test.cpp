#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

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
  table->Post();
  table->Close();
  table->Open();
  EXPECT_EQ(table->FieldByName("AMOUNT")->AsCurrency(), Currency::FromDouble(10.25));
  EXPECT_EQ(table->FieldByName("CODE")->AsInteger(), -5);
  EXPECT_TRUE(table->FieldByName("SMALL")->IsNull());
}

}  // namespace
}  // namespace jw
