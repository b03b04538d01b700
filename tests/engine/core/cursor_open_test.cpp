// Opening and closing cursors: options only while closed, index names, the
// password loop of an encrypted table, a table without a primary index, the
// status index rebuilt when the index file had to be made anew, and the
// repair of a table whose last write was cut off.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/support/key_images.h"
#include "tests/engine/core/cursor_test_table.h"
#include "tests/engine/core/index_test_table.h"
#include "tests/engine/core/table_verifier.h"

namespace jw::test {
namespace {

TTableDefinition Definition(bool primary) {
  TTableDefinition d;
  d.Fields = SmallDefinition();
  d.Indexes = {primary ? Index("", {3}) : IndexDescriptor(), Index("ByName", {2}, false)};
  return d;
}

void Fill(CursorDatabase& db, const std::string& name, int32_t count) {
  TableLoader loader(db.directory, name);
  for (int32_t i = 0; i < count; ++i) {
    auto image = loader.Image();
    PutString(loader.Data(), image, 2, "n" + std::to_string(count - i));
    PutInt(loader.Data(), image, 3, i);
    loader.Insert(image);
  }
  loader.Delete(2);
}

TEST(CursorOpen, OptionsChangeOnlyWhileClosedAndIndexesAreFoundByName) {
  CursorDatabase db;
  db.Create("T", Definition(true));
  auto cursor = db.Open("T.txt");
  EXPECT_EQ(cursor->TableName(), "T.DAT");
  EXPECT_EQ(ErrorCodeOf([&] { cursor->SetExclusive(true); }), kErrTableInUse);
  EXPECT_EQ(ErrorCodeOf([&] { cursor->SetReadOnly(true); }), kErrTableInUse);
  EXPECT_EQ(ErrorCodeOf([&] { cursor->SetNaturalOrder(true); }), kErrTableInUse);
  EXPECT_EQ(ErrorCodeOf([&] { cursor->SetTableName("U"); }), kErrTableInUse);
  EXPECT_FALSE(cursor->Exclusive());
  EXPECT_FALSE(cursor->ReadOnly());
  EXPECT_EQ(cursor->GetIndexCount(), 1);
  cursor->SetIndexByName("BYNAME");
  EXPECT_EQ(cursor->IndexNumber(), 1);
  EXPECT_EQ(ErrorCodeOf([&] { cursor->SetIndexByName("Nowhere"); }), kErrInvalidIndexName);
  EXPECT_EQ(cursor->IndexName(), "ByName");
  cursor->Close(false);
  cursor->SetExclusive(true);
  cursor->Open();
  EXPECT_EQ(cursor->IndexNumber(), 0);
  auto second = std::make_unique<TDataCursor>(db.directory);
  second->SetTableName("T");
  EXPECT_EQ(ErrorCodeOf([&] { second->Open(); }), kErrAccessDenied);
  EXPECT_FALSE(second->IsOpen());
}

struct PasswordAsk {
  TDataSession* session = nullptr;
  int32_t calls = 0;
  // The call that adds the password; 0 never.
  int32_t add_at = 0;
  bool again = true;
};

bool AskPassword(void* user_data, TDataCursor&) {
  auto* ask = static_cast<PasswordAsk*>(user_data);
  if (++ask->calls == ask->add_at) ask->session->AddPassword("Secret");
  return ask->again;
}

TEST(CursorOpen, AnEncryptedTableAsksForItsPasswordUntilTheSessionHasIt) {
  CursorDatabase db;
  TTableDefinition definition = Definition(true);
  definition.Encrypted = true;
  definition.Password = "Secret";
  db.Create("E", definition);
  TDataCursor cursor(db.directory);
  cursor.SetTableName("E");
  EXPECT_EQ(ErrorCodeOf([&] { cursor.Open(); }), kErrPasswordRequired);
  PasswordAsk refuse{&db.session, 0, 0, false};
  cursor.SetPasswordHandler(AskPassword, &refuse);
  EXPECT_EQ(ErrorCodeOf([&] { cursor.Open(); }), kErrPasswordRequired);
  EXPECT_EQ(refuse.calls, 1);
  EXPECT_FALSE(cursor.IsOpen());
  PasswordAsk third{&db.session, 0, 3, true};
  cursor.SetPasswordHandler(AskPassword, &third);
  cursor.Open();
  EXPECT_EQ(third.calls, 3);
  EXPECT_TRUE(cursor.IsOpen());
  // A clone borrows the password for its open only.
  db.session.RemovePassword("Secret");
  auto clone = cursor.Clone();
  EXPECT_TRUE(clone->IsOpen());
  EXPECT_FALSE(db.session.HasPassword("Secret"));
}

TEST(CursorOpen, IndexZeroOfATableWithoutPrimaryIndexIsNaturalOrder) {
  CursorDatabase db;
  db.Create("N", Definition(false));
  Fill(db, "N", 5);
  auto cursor = db.Open("N");
  EXPECT_TRUE(cursor->NaturalOrderInForce());
  EXPECT_EQ(cursor->GetBookmarkSize(), kNaturalBookmarkSize);
  EXPECT_EQ(cursor->GetRecordCount(), 4);
  std::vector<int32_t> numbers;
  cursor->First();
  while (cursor->GetNextRecord(nullptr) == 0) numbers.push_back(cursor->CurrentRecordNumber());
  EXPECT_EQ(numbers, (std::vector<int32_t>{1, 3, 4, 5}));
}

TEST(CursorOpen, AMissingIndexFileIsMadeAnewWithTheStatusIndexRebuilt) {
  CursorDatabase db;
  db.Create("R", Definition(true));
  Fill(db, "R", 6);
  std::filesystem::remove(db.dir.Path("R.IDX"));
  auto cursor = db.Open("R");
  EXPECT_TRUE(cursor->NaturalOrderInForce());
  EXPECT_EQ(cursor->GetIndexCount(), 0);
  EXPECT_EQ(cursor->GetTotalRecordCount(), 5);
  EXPECT_EQ(cursor->GetRecordCount(), 5);
  cursor->SetRecNo(2);
  EXPECT_EQ(cursor->CurrentRecordNumber(), 3) << "the deleted slot 2 is skipped";
  cursor->SetIndexByNumber(kStatusSlot);
  EXPECT_EQ(cursor->GetRecordCount(), 6) << "one status key for every slot";
}

TEST(CursorOpen, AWriteCutOffIsRepairedBeforeTheFirstAnswerKeepingEveryIndexDefinition) {
  CursorDatabase db;
  db.Create("W", Definition(true));
  Fill(db, "W", 6);
  const std::vector<uint8_t> older_index = ReadWholeFile(db.dir.Path("W.IDX"));
  {
    TableLoader loader(db.directory, "W");
    for (int32_t i = 10; i < 13; ++i) {
      auto image = loader.Image();
      PutString(loader.Data(), image, 2, "m" + std::to_string(i));
      PutInt(loader.Data(), image, 3, i);
      loader.Insert(image);
    }
    loader.Delete(4);
  }
  // What a writer that died between its bodies and its headers leaves: the
  // records written, an index file from before them, a free chain that
  // names a live record, and the mark.
  WriteWholeFile(db.dir.Path("W.IDX"), older_index);
  std::vector<uint8_t> data = ReadWholeFile(db.dir.Path("W.DAT"));
  PutInt32(data.data() + kHdrFreeHead, 3);
  data[kHdrDirtyFlag] = 1;
  WriteWholeFile(db.dir.Path("W.DAT"), data);
  ASSERT_FALSE(VerifyTable(db.dir.Path("W.DAT")).empty());

  auto cursor = db.Open("W");
  EXPECT_EQ(VerifyTable(db.dir.Path("W.DAT")), std::vector<std::string>());
  EXPECT_EQ(cursor->GetIndexCount(), 1);
  EXPECT_EQ(cursor->GetRecordCount(), 7);
  cursor->SetIndexByName("ByName");
  EXPECT_EQ(cursor->GetRecordCount(), 7);
  // The free chain was derived from the records: the insert takes the free
  // slot 4, not the live record 3 the header named.
  std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
  cursor->InitRecord(image.data());
  const int32_t value = 99;
  cursor->SetFieldData(3, image.data(), false, &value);
  cursor->InsertRecord(image.data(), false);
  cursor->SetIndexByNumber(0);
  std::vector<int32_t> numbers;
  cursor->First();
  while (cursor->GetNextRecord(nullptr) == 0) numbers.push_back(cursor->CurrentRecordNumber());
  EXPECT_EQ(numbers, (std::vector<int32_t>{1, 3, 5, 6, 2, 7, 8, 4}));
  cursor->Close(false);
  EXPECT_EQ(VerifyTable(db.dir.Path("W.DAT")), std::vector<std::string>());
  EXPECT_EQ(ReadWholeFile(db.dir.Path("W.DAT"))[kHdrDirtyFlag], 0);
}

}  // namespace
}  // namespace jw::test
