#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "engine/dataset/quire_session.h"
#include "engine/dataset/session_list.h"
#include "engine/support/field_types.h"
#include "platform/db/binary_fields.h"
#include "platform/db/data_source.h"
#include "platform/db/db_errors.h"
#include "platform/db/field.h"
#include "platform/db/scalar_fields.h"
#include "table_fixture.h"

namespace jw {
namespace {

using test_support::EngineField;
using test_support::EngineIndex;
using test_support::TableTest;
using test_support::WalkForward;

using TableSearch = TableTest;

// The note record's shape, made by the table component itself.
void DefineNotes(TQuireTable& table) {
  table.FieldDefs().Add("ID", ftAutoInc);
  table.FieldDefs().Add("Zorder", ftInteger);
  table.FieldDefs().Add("Text", ftMemo);
  table.FieldDefs().Add("Left", ftFloat);
  table.FieldDefs().Add("OnTop", ftBoolean);
  table.FieldDefs().Add("Alarm", ftDateTime);
  table.IndexDefs().Add("Zorder", "Zorder", {});
  table.IndexDefs().Add("", "ID", {ixPrimary, ixUnique});
}

TEST_F(TableSearch, NotesAreStoredReopenedWalkedFoundEditedAndDeleted) {
  TQuireTable* notes = NewTable(folder_.Path() + "scraps.DAT");
  EXPECT_EQ(notes->TableName(), "scraps.DAT");
  EXPECT_EQ(notes->DatabaseName(), folder_.Path());
  DefineNotes(*notes);
  EXPECT_TRUE(notes->StoreDefs());
  EXPECT_FALSE(notes->Exists());
  notes->CreateTable();
  EXPECT_TRUE(notes->Exists());
  notes->Open();
  for (int i = 0; i < 20; ++i) {
    notes->Append();
    notes->FieldByName("Zorder")->SetAsInteger((i * 7) % 20);
    notes->FieldByName("Text")->SetAsString("note " + std::to_string(i) + " \xC3\xA9");
    notes->FieldByName("Left")->SetAsFloat(i + 0.25);
    notes->FieldByName("OnTop")->SetAsBoolean(i % 2 == 0);
    notes->FieldByName("Alarm")->SetAsDateTime(45000.5 + i);
    notes->Post();
  }
  notes->Close();
  notes->SetIndexName("Zorder");
  notes->Open();
  std::vector<int32_t> order;
  for (notes->First(); !notes->Eof(); notes->Next()) {
    const int32_t id = notes->FieldByName("ID")->AsInteger();
    const int i = id - 1;
    order.push_back(notes->FieldByName("Zorder")->AsInteger());
    EXPECT_EQ(notes->FieldByName("Text")->AsString(), "note " + std::to_string(i) + " \xC3\xA9");
    EXPECT_EQ(notes->FieldByName("Left")->AsFloat(), i + 0.25);
    EXPECT_EQ(notes->FieldByName("OnTop")->AsBoolean(), i % 2 == 0);
    EXPECT_EQ(notes->FieldByName("Alarm")->AsDateTime(), 45000.5 + i);
  }
  std::vector<int32_t> sorted(20);
  for (int i = 0; i < 20; ++i) sorted[i] = i;
  EXPECT_EQ(order, sorted);
  // The store finds a note by its key on the primary index, edits it and
  // deletes another.
  notes->SetIndexName("");
  ASSERT_TRUE(notes->FindKey({Variant(5)}));
  notes->Edit();
  notes->FieldByName("Text")->SetAsString("changed");
  notes->Post();
  ASSERT_TRUE(notes->FindKey({Variant(6)}));
  notes->Delete();
  EXPECT_FALSE(notes->FindKey({Variant(6)}));
  EXPECT_THROW(notes->FindKey({Variant(1), Variant(2)}), EDatabaseError);
  notes->Close();
  notes->Open();
  EXPECT_EQ(notes->RecordCount(), 19);
  ASSERT_TRUE(notes->FindKey({Variant(5)}));
  EXPECT_EQ(notes->FieldByName("Text")->AsString(), "changed");
  // Files that another dataset holds open are not deleted.
  TQuireTable* other = NewTable(folder_.Path() + "scraps.DAT");
  try {
    other->DeleteTable();
    FAIL() << "an open table was deleted";
  } catch (const EQuireEngineError& e) {
    EXPECT_EQ(e.Code(), kErrAccessDenied);
    EXPECT_NE(e.Names().TableName.find("scraps"), std::string::npos);
  }
  EXPECT_EQ(notes->RecordCount(), 19);
  notes->Close();
  notes->DeleteTable();
  EXPECT_FALSE(notes->Exists());
}

TEST_F(TableSearch, CreateTableRefusesWhatItCannotStore) {
  TQuireTable* table = NewTable("bad");
  table->FieldDefs().Add("A", ftInteger);
  table->IndexDefs().Add("ByB", "A;B", {});
  try {
    table->CreateTable();
    FAIL() << "an index over an unknown field was made";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Field 'B' not found");
  }
  table->IndexDefs().Clear();
  for (int i = 0; i < 34; ++i) table->IndexDefs().Add("I" + std::to_string(i), "A", {});
  try {
    table->CreateTable();
    FAIL() << "34 index definitions were taken";
  } catch (const EQuireEngineError& e) {
    EXPECT_EQ(e.Code(), kErrIndexLimits);
  }
  EXPECT_FALSE(table->Exists());
}

// Items: ID, NAME, CODE; primary on ID, "ByCode" not unique, "ByName"
// case-insensitive.
class ItemTable : public TableTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    table_ = NewTable("items");
    table_->FieldDefs().Add("ID", ftAutoInc);
    table_->FieldDefs().Add("NAME", ftString, 20);
    table_->FieldDefs().Add("CODE", ftInteger);
    table_->FieldDefs().Add("MEMO", ftMemo);
    table_->IndexDefs().Add("", "ID", {ixPrimary, ixUnique});
    table_->IndexDefs().Add("ByCode", "CODE", {});
    table_->IndexDefs().Add("ByName", "NAME", {ixCaseInsensitive});
    table_->CreateTable();
    table_->FieldDefs().Clear();
    table_->Open();
    const char* names[] = {"Apple", "banana", "Cherry", "apricot", "Blueberry", "cranberry"};
    for (int i = 0; i < 6; ++i) {
      table_->Append();
      table_->FieldByName("NAME")->SetAsString(names[i]);
      table_->FieldByName("CODE")->SetAsInteger(i % 3);
      table_->Post();
    }
    table_->First();
  }
  int32_t Id() const { return table_->FieldByName("ID")->AsInteger(); }

  TQuireTable* table_ = nullptr;
};

TEST_F(ItemTable, FiltersFindAndLocate) {
  // An expression filter and a callback filter together; a handler that
  // throws goes to the application's handler and the scan goes on.
  int reported = 0;
  SetApplicationExceptionHandler([](TPersistent*) {});
  table_->SetFilterText("CODE = 1");
  table_->SetOnFilterRecord([&reported](TDataSet* dataset, bool& accept) {
    if (dataset->FieldByName("ID")->AsInteger() == 2) {
      ++reported;
      throw EDatabaseError("handler failed");
    }
    accept = true;
  });
  table_->SetFiltered(true);
  EXPECT_EQ(WalkForward(*table_, "ID"), (std::vector<int32_t>{2, 5}));
  EXPECT_GT(reported, 0);
  table_->SetOnFilterRecord(nullptr);
  table_->SetFilterOptions({foCaseInsensitive});
  table_->SetFilterText("NAME = 'APPLE'");
  EXPECT_EQ(WalkForward(*table_, "ID"), (std::vector<int32_t>{1}));
  table_->SetFiltered(false);
  SetApplicationExceptionHandler(nullptr);

  // Find* through the filters without Filtered.
  table_->SetFilterText("CODE = 2");
  ASSERT_TRUE(table_->FindFirst());
  EXPECT_EQ(Id(), 3);
  ASSERT_TRUE(table_->FindNext());
  EXPECT_EQ(Id(), 6);
  EXPECT_FALSE(table_->FindNext());
  ASSERT_TRUE(table_->FindLast());
  EXPECT_EQ(Id(), 6);
  ASSERT_TRUE(table_->FindPrior());
  EXPECT_EQ(Id(), 3);
  table_->SetFilterText("");
  EXPECT_EQ(WalkForward(*table_, "ID").size(), 6u);

  // Locate on the active index's field, through a fitting index of a clone,
  // and through a temporary filter (gone afterwards).
  ASSERT_TRUE(table_->Locate("ID", Variant(4), {}));
  EXPECT_EQ(Id(), 4);
  ASSERT_TRUE(table_->Locate("NAME", Variant("CHERRY"), {loCaseInsensitive}));
  EXPECT_EQ(Id(), 3);
  ASSERT_TRUE(table_->Locate("NAME", Variant("blue"), {loCaseInsensitive, loPartialKey}));
  EXPECT_EQ(Id(), 5);
  EXPECT_FALSE(table_->Locate("NAME", Variant("cherry"), {}));
  ASSERT_TRUE(table_->Locate("NAME", Variant("Cherry"), {}));
  EXPECT_EQ(Id(), 3);
  ASSERT_TRUE(
      table_->Locate("CODE;NAME", VarArrayOf({Variant(0), Variant("apr")}), {loPartialKey}));
  EXPECT_EQ(Id(), 4);
  EXPECT_EQ(WalkForward(*table_, "ID").size(), 6u);
  // Filtered, the clone that searches another index shows what the table
  // shows: a hidden match is none, and a shown one after it is found.
  table_->SetFilterText("ID <> 2");
  table_->SetFiltered(true);
  const int32_t before = Id();
  EXPECT_FALSE(table_->Locate("NAME", Variant("BANANA"), {loCaseInsensitive}));
  EXPECT_EQ(Id(), before);
  ASSERT_TRUE(table_->Locate("NAME", Variant("b"), {loCaseInsensitive, loPartialKey}));
  EXPECT_EQ(Id(), 5);
  table_->SetFiltered(false);
  table_->SetFilterText("");

  // Lookup leaves the record where it is.
  table_->First();
  EXPECT_EQ(table_->Lookup("NAME", Variant("banana"), "CODE").AsInteger(), 1);
  EXPECT_TRUE(VarIsNull(table_->Lookup("NAME", Variant("kiwi"), "CODE")));
  EXPECT_EQ(Id(), 1);
}

// A filter handler may write calculated fields as well as read: the record
// it sees has the calculated-field area that every record buffer has, and
// what it writes there stays out of the records the dataset shows.
TEST_F(ItemTable, AFilterHandlerWritesCalculatedFieldsInItsOwnRecord) {
  table_->Close();
  table_->FieldDefs().Update();
  for (int i = 0; i < table_->FieldDefs().Count(); ++i) {
    table_->FieldDefs().Items(i)->CreateField(&form_, table_);
  }
  auto* label = new TStringField(&form_);
  label->SetFieldName("LABEL");
  label->SetSize(200);
  label->SetFieldKind(fkCalculated);
  label->SetDataSet(table_);
  table_->OnCalcFields = [label](TDataSet* dataset) {
    label->SetAsString(dataset->FieldByName("NAME")->AsString() + "!");
  };
  int calls = 0;
  table_->SetOnFilterRecord([label, &calls](TDataSet* dataset, bool& accept) {
    ++calls;
    label->SetAsString(std::string(200, 'x'));
    accept = dataset->FieldByName("CODE")->AsInteger() != 1;
  });
  table_->SetFiltered(true);
  table_->Open();
  std::vector<std::string> labels;
  for (table_->First(); !table_->Eof(); table_->Next()) labels.push_back(label->AsString());
  EXPECT_GT(calls, 0);
  EXPECT_EQ(labels, (std::vector<std::string>{"Apple!", "Cherry!", "apricot!", "cranberry!"}));
  ASSERT_TRUE(table_->Locate("NAME", Variant("Cherry"), {}));
  EXPECT_EQ(label->AsString(), "Cherry!");
}

TEST_F(ItemTable, MasterDetailRangesAndIndexSwitching) {
  // The master is a second view of the same items in ID order; the detail
  // follows its CODE through "ByCode".
  TQuireTable* detail = NewTable("items", "ByCode");
  detail->Open();
  TDataSource source(&form_);
  source.SetDataSet(table_);
  detail->SetMasterSource(&source);
  detail->SetMasterFields("CODE");
  for (table_->First(); !table_->Eof(); table_->Next()) {
    const int32_t code = table_->FieldByName("CODE")->AsInteger();
    std::vector<int32_t> expected;
    for (int32_t id = 1; id <= 6; ++id) {
      if ((id - 1) % 3 == code) expected.push_back(id);
    }
    EXPECT_EQ(WalkForward(*detail, "ID"), expected);
    EXPECT_EQ(detail->RecordCount(), 2);
  }
  // A new detail record takes the master's value.
  table_->First();
  detail->Append();
  detail->FieldByName("NAME")->SetAsString("date");
  detail->Post();
  EXPECT_EQ(detail->FieldByName("CODE")->AsInteger(), 0);
  EXPECT_EQ(detail->RecordCount(), 3);
  // A circular link is refused.
  TDataSource detail_source(&form_);
  detail_source.SetDataSet(detail);
  EXPECT_THROW(table_->SetMasterSource(&detail_source), EDatabaseError);
  // Leaving the master cancels the range; an index chosen by its field
  // names serves FindKey.
  detail->SetMasterSource(nullptr);
  EXPECT_EQ(detail->RecordCount(), 7);
  table_->SetIndexFieldNames("CODE");
  EXPECT_EQ(table_->IndexName(), "");
  ASSERT_TRUE(table_->FindKey({Variant(2)}));
  EXPECT_EQ(Id(), 3);
}

TEST_F(ItemTable, BlobStreams) {
  TField* memo = table_->FieldByName("MEMO");
  EXPECT_THROW(table_->CreateBlobStream(memo, bmWrite), EDatabaseError);
  table_->Edit();
  {
    auto stream = table_->CreateBlobStream(memo, bmWrite);
    stream->WriteBuffer("hello", 5);
  }
  {
    // A second write stream on the unposted record reuses the open BLOB; a
    // seek beyond the end and a write there grow it.
    auto stream = table_->CreateBlobStream(memo, bmReadWrite);
    EXPECT_EQ(stream->Size(), 5);
    stream->Seek(8, soFromBeginning);
    stream->WriteBuffer("!", 1);
    EXPECT_EQ(stream->Size(), 9);
    EXPECT_THROW(stream->Seek(-1, soFromBeginning), EStreamError);
    EXPECT_THROW(stream->Seek(int64_t{1} << 31, soFromBeginning), EStreamError);
    // A write that would end beyond the 32-bit range fails and moves nothing.
    stream->Seek(std::numeric_limits<int32_t>::max() - 2, soFromBeginning);
    try {
      stream->Write("12345", 5);
      FAIL() << "a write past the 32-bit range was taken";
    } catch (const EQuireEngineError& e) {
      EXPECT_EQ(e.Code(), kErrInvalidBlobLength);
    }
    EXPECT_EQ(stream->Size(), 9);
  }
  table_->Post();
  std::string text = memo->AsString();
  EXPECT_EQ(text, std::string("hello\0\0\0!", 9));
  {
    auto stream = table_->CreateBlobStream(memo, bmRead);
    char bytes[16] = {};
    stream->Seek(7, soFromBeginning);
    EXPECT_EQ(stream->Read(bytes, 16), 2);
    EXPECT_EQ(stream->Read(bytes, 16), 0);
  }
  // A write stream empties the BLOB even when nothing is written; cancel
  // gives the stored value back.
  table_->Edit();
  table_->CreateBlobStream(memo, bmWrite).reset();
  EXPECT_TRUE(memo->IsNull());
  table_->Cancel();
  EXPECT_EQ(memo->AsString().size(), 9u);
  table_->Edit();
  table_->CreateBlobStream(memo, bmWrite).reset();
  table_->Post();
  EXPECT_TRUE(memo->IsNull());
  // With no record there is nothing to read.
  table_->SetFilterText("CODE = 99");
  table_->SetFiltered(true);
  ASSERT_TRUE(table_->IsEmpty());
  auto stream = table_->CreateBlobStream(memo, bmRead);
  char byte = 0;
  EXPECT_EQ(stream->Size(), 0);
  EXPECT_EQ(stream->Read(&byte, 1), 0);
}

// A stream that outlives its edit has no BLOB left to work on: writing,
// truncating and sizing fail as engine errors, and the next edit's streams
// work on the stored value.
TEST_F(ItemTable, StreamsOutlivingTheirEditFailAndLeaveTheValue) {
  TField* memo = table_->FieldByName("MEMO");
  table_->Edit();
  memo->SetAsString("kept");
  table_->Post();
  table_->Edit();
  auto stream = table_->CreateBlobStream(memo, bmWrite);
  stream->WriteBuffer("lost", 4);
  table_->Cancel();
  EXPECT_THROW(stream->Write("x", 1), EQuireEngineError);
  EXPECT_THROW(stream->SetSize(2), EQuireEngineError);
  EXPECT_THROW(stream->Size(), EQuireEngineError);
  stream.reset();
  EXPECT_EQ(memo->AsString(), "kept");
  table_->Edit();
  {
    auto again = table_->CreateBlobStream(memo, bmReadWrite);
    EXPECT_EQ(again->Size(), 4);
    again->Seek(0, soFromEnd);
    again->WriteBuffer("!", 1);
  }
  table_->Post();
  EXPECT_EQ(memo->AsString(), "kept!");
}

// Each post lets go of the BLOB its stream wrote: more posts than the cursor
// may hold open BLOBs all succeed.
TEST_F(ItemTable, PostsLetGoOfTheirBlobs) {
  TField* memo = table_->FieldByName("MEMO");
  for (int i = 0; i < 70; ++i) {
    table_->Edit();
    auto stream = table_->CreateBlobStream(memo, bmWrite);
    const std::string text = "note " + std::to_string(i);
    stream->WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
    stream.reset();
    table_->Post();
  }
  EXPECT_EQ(memo->AsString(), "note 69");
}

TEST_F(ItemTable, ErrorsNameTheirTableAndFailedOpensLetGoOfTheDatabase) {
  TQuireTable* missing = NewTable("missing");
  try {
    missing->Open();
    FAIL() << "a missing table opened";
  } catch (const EQuireEngineError& e) {
    EXPECT_NE(e.Names().TableName.find("missing"), std::string::npos);
  }
  EXPECT_FALSE(missing->Active());
  EXPECT_EQ(missing->InUseReasons(), 0);
  EXPECT_EQ(missing->Database(), nullptr);
  EXPECT_EQ(database_->DataSetCount(), 1);
  // Another dataset changed the record: the edit fails naming this table.
  TQuireTable* other = NewTable("items");
  other->Open();
  ASSERT_TRUE(table_->FindKey({Variant(2)}));
  ASSERT_TRUE(other->FindKey({Variant(2)}));
  other->Edit();
  other->FieldByName("NAME")->SetAsString("changed");
  other->Post();
  try {
    table_->Edit();
    FAIL() << "a changed record was edited";
  } catch (const EQuireEngineError& e) {
    EXPECT_EQ(e.Code(), kErrRecordChanged);
    EXPECT_NE(e.Names().TableName.find("items"), std::string::npos);
  }
  EXPECT_EQ(table_->State(), dsBrowse);
  // The index definitions of a closed table come through a cursor of their
  // own; the table stays closed and holds no database.
  TQuireTable* closed = NewTable("items");
  closed->IndexDefs().Update();
  EXPECT_FALSE(closed->StoreDefs());
  ASSERT_EQ(closed->IndexDefs().Count(), 3);
  EXPECT_EQ(closed->IndexDefs().Items(1)->Name(), "ByCode");
  EXPECT_EQ(closed->IndexDefs().Items(2)->Fields(), "NAME");
  EXPECT_TRUE(closed->IndexDefs().Items(2)->Options().Contains(ixCaseInsensitive));
  EXPECT_TRUE(closed->IndexDefs().Items(0)->Options().Contains(ixPrimary));
  EXPECT_FALSE(closed->Active());
  EXPECT_EQ(closed->InUseReasons(), 0);
  // Closing the database closes every table on it.
  database_->SetConnected(false);
  EXPECT_FALSE(table_->Active());
  EXPECT_FALSE(other->Active());
  EXPECT_EQ(database_->DataSetCount(), 0);
}

TEST_F(ItemTable, ADatabaseWaitingInTheDefaultSessionFollowsItsNamedSession) {
  TQuireDatabase* parked = new TQuireDatabase(&form_);
  parked->SetDatabaseName("Later");
  parked->SetDirectory(folder_.Path());
  parked->SetSessionName("Second");
  ASSERT_EQ(parked->Session(), DefaultSession());
  auto* second = new TQuireSession(&form_);
  second->SetSessionName("Second");
  TQuireTable* table = NewTable("items");
  table->SetDatabaseName("Later");
  table->SetSessionName("Second");
  table->Open();
  EXPECT_EQ(table->Database(), parked);
  EXPECT_EQ(parked->Session(), second);
  EXPECT_EQ(table->RecordCount(), 6);
  table->Close();
}

// A dataset over a cursor whose field list is made for it, as a result set's
// is: the engine refuses a list that names a field twice, and the dataset
// stays closed.
class ViewDataSet : public TQuireDBDataSet {
 public:
  using TQuireDBDataSet::TQuireDBDataSet;
  ~ViewDataSet() override { Close(); }

 protected:
  TCursorHandle CreateCursorHandle() override {
    auto cursor = std::make_unique<TDataCursor>(Database()->EngineDirectory());
    cursor->SetTableName("items");
    cursor->Open();
    std::vector<FieldDescriptor> fields;
    for (int32_t number : {1, 2, 3}) fields.push_back(cursor->GetFieldDesc(number));
    fields[2].Name = "Name";
    cursor->SetFieldDescs(fields);
    return cursor;
  }
};

TEST_F(ItemTable, FieldListNamingAFieldTwiceIsRefused) {
  ViewDataSet view(&form_);
  view.SetDatabaseName("DB");
  try {
    view.Open();
    FAIL() << "a field list with a repeated name was taken";
  } catch (const EQuireEngineError& e) {
    EXPECT_EQ(e.Code(), kErrInvalidFieldName);
    EXPECT_NE(std::string(e.what()).find("'Name'"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(view.Active());
}

}  // namespace
}  // namespace jw
