// Table definition through a cursor: every refusal of a definition with its
// culprit named and nothing written; the checked definition against the
// table the files then hold (field layout and index keys worked out twice,
// by the check and by the data and index files); creating over an existing
// table; a failed write at every point of a create leaving no file;
// deleting, renaming and backing up against a second process; emptying
// seen by a second process; the physical sort of an index-less table
// against a sorted model, its status index verified, also after a failed
// write at every point; header values read alike open and closed; index
// descriptors through the cursor; and the check of a cursor's field list.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/support/language_settings.h"
#include "platform/os/os_file_faults.h"
#include "platform/rtl/strings.h"
#include "tests/engine/core/cursor_test_table.h"
#include "tests/engine/core/index_test_table.h"
#include "tests/engine/core/table_peer.h"
#include "tests/engine/core/table_verifier.h"

namespace jw::test {
namespace {

enum : int16_t { kId = 1, kName, kValue, kMemo };

// Fields numbered by position, a primary index on VALUE and a secondary
// index on NAME.
TTableDefinition Definition() {
  TTableDefinition d;
  d.Fields = {Field("ID", kFldInteger, 0, kSubTypeAutoInc), Field("NAME", kFldString, 20),
              Field("VALUE", kFldInteger), Field("MEMO", kFldBlob)};
  for (size_t i = 0; i < d.Fields.size(); ++i) d.Fields[i].Number = static_cast<int16_t>(i + 1);
  d.Indexes = {Index("", {kValue}), Index("ByName", {kName}, false)};
  d.BlobBlockSize = 64;
  return d;
}

std::unique_ptr<TDataCursor> DefiningCursor(CursorDatabase& db, const std::string& name) {
  auto cursor = std::make_unique<TDataCursor>(db.directory);
  cursor->SetTableName(name);
  cursor->SetExclusive(true);
  return cursor;
}

// The names of the folder's files, sorted.
std::vector<std::string> FilesIn(const ScratchDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path(""))) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

struct Refusal {
  const char* what;
  std::function<void(TTableDefinition&)> change;
  EngineErrorCode code;
  // The quoted name the message must carry besides the table's.
  std::string culprit;
  int32_t last_auto_inc = 0;
};

TEST(TableDefinition, EveryRefusalNamesItsCulpritAndWritesNothing) {
  const std::string long_name(31, 'L');
  const std::vector<Refusal> refusals = {
      {"blank password", [](auto& d) { d.Encrypted = true, d.Password = "   "; },
       kErrInvalidPassword, ""},
      {"16-character password",
       [](auto& d) { d.Encrypted = true, d.Password = "0123456789abcdef"; }, kErrInvalidPassword,
       ""},
      {"unknown locale", [](auto& d) { d.LanguageId = 0x7FF1; }, kErrLanguageDriver, ""},
      {"1025 fields",
       [](auto& d) {
         for (int16_t n = 5; n <= 1025; ++n) {
           d.Fields.push_back(Field("F" + std::to_string(n), kFldSmallInt));
           d.Fields.back().Number = n;
         }
       },
       kErrFieldLimits, ""},
      {"auto-increment below -1", [](auto&) {}, kErrFieldLimits, "", -2},
      {"31 secondary indexes",
       [](auto& d) {
         for (int i = 2; i <= 31; ++i) d.Indexes.push_back(Index("I" + std::to_string(i), {kId}));
       },
       kErrIndexLimits, ""},
      {"BLOB block of 63", [](auto& d) { d.BlobBlockSize = 63; }, kErrBlobFieldsOrBlockSize, ""},
      {"name starting with a digit", [](auto& d) { d.Fields[1].Name = "1NAME"; },
       kErrInvalidFieldName, "'1NAME'"},
      {"31-character name", [&](auto& d) { d.Fields[1].Name = long_name; }, kErrInvalidFieldName,
       "'" + long_name + "'"},
      {"names differing in case", [](auto& d) { d.Fields[2].Name = " name "; },
       kErrInvalidFieldName, "'name'"},
      {"shared number", [](auto& d) { d.Fields[3].Number = kValue; }, kErrInvalidFieldDefinition,
       "'MEMO'"},
      {"type 0", [](auto& d) { d.Fields[2].Type = 0; }, kErrInvalidFieldDefinition, "'VALUE'"},
      {"type 16", [](auto& d) { d.Fields[2].Type = 16; }, kErrInvalidFieldDefinition, "'VALUE'"},
      {"string of 251", [](auto& d) { d.Fields[1].Size = 251; }, kErrInvalidFieldDefinition,
       "'NAME'"},
      {"bad default", [](auto& d) { d.Fields[2].Default = "12x"; }, kErrInvalidValidityCheck,
       "'VALUE'"},
      {"bad maximum", [](auto& d) { d.Fields[2].Maximum = "3000000000"; }, kErrInvalidValidityCheck,
       "'VALUE'"},
      {"index name with a digit first", [](auto& d) { d.Indexes[1].Name = "2ND"; },
       kErrInvalidIndexName, "'2ND'"},
      {"blank index name", [](auto& d) { d.Indexes[1].Name = "  "; }, kErrInvalidIndexName, ""},
      {"index names differing in case",
       [](auto& d) { d.Indexes.push_back(Index("BYNAME", {kValue})); }, kErrIndexExists,
       "'BYNAME'"},
      {"segment of no field", [](auto& d) { d.Indexes[1].FieldNumbers[1] = 9; },
       kErrInvalidIndexField, "'9' specified in index 'ByName'"},
      {"BLOB segment", [](auto& d) { d.Indexes[1].FieldNumbers[0] = kMemo; },
       kErrInvalidIndexFieldType, "'ByName'"},
      {"secondary without segments", [](auto& d) { d.Indexes[1] = Index("Empty", {}); },
       kErrInvalidKeySize, "'Empty'"},
      {"required primary without segments", [](auto& d) { d.Indexes[0] = Index("", {}); },
       kErrInvalidKeySize, ""},
      {"key of 525 bytes",
       [](auto& d) {
         d.Fields[1].Size = 250;
         d.Fields.push_back(Field("WIDE", kFldString, 250));
         d.Fields.back().Number = 5;
         d.Fields.push_back(Field("TAIL", kFldBytes, 20));
         d.Fields.back().Number = 6;
         d.Indexes[1] = Index("Wide", {kName, 5, 6});
       },
       kErrInvalidKeySize, "'Wide'"},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.what);
    CursorDatabase db;
    TTableDefinition d = Definition();
    r.change(d);
    auto cursor = DefiningCursor(db, "T");
    try {
      if (r.last_auto_inc != 0) {
        cursor->CheckTableDefinition(d, false, r.last_auto_inc);
      } else {
        cursor->CreateTable(d, false, false);
      }
      ADD_FAILURE() << "accepted";
    } catch (const EQuireEngineError& e) {
      EXPECT_EQ(e.Code(), r.code) << e.Message();
      EXPECT_NE(e.Message().find("'T.DAT'"), std::string::npos) << e.Message();
      if (!r.culprit.empty()) {
        EXPECT_NE(e.Message().find(r.culprit), std::string::npos) << e.Message();
      }
    }
    EXPECT_EQ(FilesIn(db.dir), std::vector<std::string>());
  }
}

// The check works out the layout and the keys; the data and index files
// work them out again from the stored definition. Fields are numbered out
// of order, as a restructure numbers them, and every index must still
// cover the fields it named.
TEST(TableDefinition, CheckedDefinitionIsTheTableTheFilesHold) {
  CursorDatabase db;
  TTableDefinition d;
  d.Fields = {Field("  Code ", kFldString, 12),     Field("AMOUNT", kFldBcd, 0, 0, 2),
              Field("Count", kFldInteger, 9, 0, 3), Field("ID", kFldInteger, 0, kSubTypeAutoInc),
              Field("RAW", kFldBytes, 7),           Field("NOTE", kFldBlob),
              Field("WHEN", kFldTimeStamp),         Field("SHORT", kFldSmallInt)};
  const std::vector<int16_t> numbers = {40, 7, 12, 3, 99, 5, 61, 8};
  for (size_t i = 0; i < d.Fields.size(); ++i) d.Fields[i].Number = numbers[i];
  d.Fields[6].Default = "NOW";
  d.Fields[2].Minimum = "-5";
  d.Fields[2].Derived = 1;
  d.BlobBlockSize = 128;
  d.Indexes = {Index("", {40, 12})};
  for (int i = 1; i <= kMaxSecondaryIndexes; ++i) {
    const std::vector<std::vector<int16_t>> covers = {{7}, {99, 3}, {61, 8, 40}, {12}};
    IndexDescriptor index =
        Index(" Ix" + std::to_string(i) + " ", covers[i % covers.size()], i % 3 == 0);
    index.CaseInsensitive = i % 2;
    d.Indexes.push_back(index);
  }
  const TTableDefinition given = d;
  auto cursor = DefiningCursor(db, "T");
  cursor->CreateTable(d, false, false);

  ASSERT_EQ(d.Fields.size(), given.Fields.size());
  EXPECT_EQ(d.Fields[0].Name, "Code");
  EXPECT_EQ(d.Fields[2].Size, 0);
  EXPECT_EQ(d.Fields[2].Decimals, 0);
  EXPECT_EQ(d.Fields[2].Derived, 0);
  EXPECT_EQ(d.Fields[1].Decimals, 2);
  EXPECT_EQ(d.Fields[3].Offset, kRecId);
  EXPECT_EQ(d.Indexes[1].Name, "Ix1");
  EXPECT_EQ(VerifyTable(db.dir.Path("T.DAT")), std::vector<std::string>());

  cursor->Open();
  const TDataFile& data = cursor->Table()->DataFile();
  const TIndexFile& index = cursor->Table()->IndexFile();
  for (int32_t i = 1; i <= data.FieldCount(); ++i) {
    SCOPED_TRACE(i);
    const FieldDescriptor& stored = data.FieldDesc(i);
    const FieldDescriptor& checked = d.Fields[static_cast<size_t>(i - 1)];
    EXPECT_EQ(stored.Number, i);
    EXPECT_EQ(stored.Name, checked.Name);
    EXPECT_EQ(stored.Size, checked.Size);
    EXPECT_EQ(stored.Decimals, checked.Decimals);
    EXPECT_EQ(stored.PhysicalLength, checked.PhysicalLength);
    EXPECT_EQ(stored.Offset, checked.Offset);
  }
  ASSERT_EQ(index.SecondaryCount(), kMaxSecondaryIndexes);
  for (int32_t slot = 0; slot <= kMaxSecondaryIndexes; ++slot) {
    SCOPED_TRACE(slot);
    const IndexDescriptor& stored = index.IndexDesc(slot);
    const IndexDescriptor& checked = d.Indexes[static_cast<size_t>(slot)];
    EXPECT_EQ(stored.Name, checked.Name);
    EXPECT_EQ(stored.KeyLength, checked.KeyLength);
    EXPECT_EQ(stored.Unique, checked.Unique);
    ASSERT_EQ(stored.SegmentCount, checked.SegmentCount);
    for (int32_t s = 0; s < stored.SegmentCount; ++s) {
      const FieldDescriptor* named = nullptr;
      for (const FieldDescriptor& f : given.Fields) {
        if (f.Number == checked.FieldNumbers[s]) named = &f;
      }
      ASSERT_NE(named, nullptr);
      EXPECT_EQ(data.FieldDesc(stored.FieldNumbers[s]).Name, Trim(named->Name));
    }
  }
  cursor->Close(false);

  // A primary index is optional only where the caller says so: its first
  // segment naming no field then ends it, and the table has none.
  TTableDefinition optional = Definition();
  optional.Indexes[0] = Index("", {77, kValue});
  auto other = DefiningCursor(db, "U");
  EXPECT_EQ(ErrorCodeOf([&] { other->CreateTable(optional, false, false); }),
            kErrInvalidIndexField);
  other->CreateTable(optional, false, true);
  EXPECT_EQ(optional.Indexes[0].SegmentCount, 0);
  other->Open();
  EXPECT_FALSE(other->Table()->HasPrimaryIndex());
  EXPECT_EQ(other->Table()->IndexFile().IndexDesc(1).KeyLength, 21 + 1 + kRecordIdLength);
}

TEST(TableDefinition, CreateGuardsTheCursorAndExistingTablesAndLendsThePassword) {
  CursorDatabase db;
  auto cursor = std::make_unique<TDataCursor>(db.directory);
  cursor->SetTableName("T");
  TTableDefinition d = Definition();
  EXPECT_EQ(ErrorCodeOf([&] { cursor->CreateTable(d, false, false); }), kErrMustBeExclusive);
  cursor->SetExclusive(true);
  cursor->SetReadOnly(true);
  EXPECT_EQ(ErrorCodeOf([&] { cursor->CreateTable(d, false, false); }), kErrAccessDenied);
  cursor->SetReadOnly(false);
  cursor->CreateTable(d, false, false);
  cursor->Open();
  std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
  cursor->InitRecord(image.data());
  const int32_t value = 5;
  cursor->SetFieldData(kValue, image.data(), false, &value);
  cursor->InsertRecord(image.data(), false);
  EXPECT_EQ(ErrorCodeOf([&] { cursor->CreateTable(d, true, false); }), kErrTableInUse);
  cursor->Close(false);

  EXPECT_EQ(ErrorCodeOf([&] { cursor->CreateTable(d, false, false); }), kErrTableExists);
  cursor->Open();
  EXPECT_EQ(cursor->GetTotalRecordCount(), 1);
  cursor->Close(false);
  ASSERT_TRUE(std::filesystem::exists(db.dir.Path("T.BLB")));

  // Overwritten by an encrypted table without BLOBs: the old BLOB file
  // goes too, and the password is the session's only for the call.
  TTableDefinition encrypted = Definition();
  encrypted.Fields.pop_back();
  encrypted.Encrypted = true;
  encrypted.Password = "  Secret ";
  cursor->CreateTable(encrypted, true, false);
  EXPECT_FALSE(std::filesystem::exists(db.dir.Path("T.BLB")));
  EXPECT_TRUE(db.session.Passwords().empty());
  EXPECT_EQ(ErrorCodeOf([&] { cursor->Open(); }), kErrPasswordRequired);
  db.session.AddPassword("Secret");
  cursor->Open();
  EXPECT_EQ(cursor->GetTotalRecordCount(), 0);
  EXPECT_EQ(cursor->Table()->DataFile().Password(), "Secret");
  cursor->Close(false);
  EXPECT_EQ(VerifyTable(db.dir.Path("T.DAT")), std::vector<std::string>());
}

TEST(TableDefinition, FailedWriteAtAnyPointOfCreateLeavesNoFile) {
  for (int64_t k = 1;; ++k) {
    SCOPED_TRACE(k);
    CursorDatabase db;
    TTableDefinition d = Definition();
    auto cursor = DefiningCursor(db, "T");
    OsFileFaults faults;
    faults.fail_write_at = k;
    int code = 0;
    {
      TScopedOsFileFaults scope(faults);
      code = ErrorCodeOf([&] { cursor->CreateTable(d, false, false); });
    }
    if (faults.writes < k) {
      EXPECT_EQ(code, 0);
      EXPECT_EQ(VerifyTable(db.dir.Path("T.DAT")), std::vector<std::string>());
      EXPECT_GT(k, 3);
      break;
    }
    EXPECT_EQ(code, kErrWrite);
    EXPECT_EQ(FilesIn(db.dir), std::vector<std::string>());
    EXPECT_EQ(db.directory->TableCount(), 0);
    if (HasFailure()) return;
  }
}

TEST(TableDefinition, FilesMoveOnlyWithTheCursorClosedAndNoOtherOpener) {
  CursorDatabase db;
  TTableDefinition d = Definition();
  DefiningCursor(db, "T")->CreateTable(d, false, false);
  d = Definition();
  DefiningCursor(db, "U")->CreateTable(d, false, false);
  auto cursor = db.Open("T");
  EXPECT_EQ(ErrorCodeOf([&] { cursor->DeleteTable(); }), kErrTableInUse);
  EXPECT_EQ(ErrorCodeOf([&] { cursor->RenameTable("V"); }), kErrTableInUse);
  EXPECT_EQ(ErrorCodeOf([&] { cursor->BackupTable(); }), kErrTableInUse);
  cursor->Close(false);
  EXPECT_EQ(ErrorCodeOf([&] { cursor->RenameTable("U"); }), kErrTableExists);

  const std::vector<std::string> table_files = {"T.BLB", "T.DAT", "T.IDX",
                                                "U.BLB", "U.DAT", "U.IDX"};
  EXPECT_EQ(FilesIn(db.dir), table_files);

  Peer peer;
  ASSERT_TRUE(peer.Ready());
  ASSERT_EQ(peer.Ask("open " + db.dir.Path("") + " T"), "ok");
  EXPECT_EQ(ErrorCodeOf([&] { cursor->RenameTable("V"); }), kErrAccessDenied);
  EXPECT_EQ(ErrorCodeOf([&] { cursor->BackupTable(); }), kErrAccessDenied);
  EXPECT_EQ(ErrorCodeOf([&] { cursor->DeleteTable(); }), kErrAccessDenied);
  EXPECT_EQ(FilesIn(db.dir), table_files);
  EXPECT_EQ(peer.Ask("close"), "ok");

  const std::vector<uint8_t> data = ReadWholeFile(db.dir.Path("T.DAT"));
  const std::vector<uint8_t> index = ReadWholeFile(db.dir.Path("T.IDX"));
  const std::vector<uint8_t> blob = ReadWholeFile(db.dir.Path("T.BLB"));
  cursor->RenameTable("V");
  cursor->SetTableName("V");
  EXPECT_EQ(VerifyTable(db.dir.Path("V.DAT")), std::vector<std::string>());
  cursor->BackupTable();
  EXPECT_EQ(ReadWholeFile(db.dir.Path("V.DBK")), data);
  EXPECT_EQ(ReadWholeFile(db.dir.Path("V.IBK")), index);
  EXPECT_EQ(ReadWholeFile(db.dir.Path("V.BBK")), blob);
  cursor->SetTableName("U");
  cursor->DeleteTable();
  EXPECT_EQ(FilesIn(db.dir), (std::vector<std::string>{"V.BBK", "V.DBK", "V.IBK"}));
}

int32_t InsertValue(TDataCursor& cursor, int32_t value, const std::string& name) {
  std::vector<uint8_t> image(static_cast<size_t>(cursor.GetRecordSize()));
  cursor.InitRecord(image.data());
  cursor.SetFieldData(kValue, image.data(), false, &value);
  cursor.SetFieldData(kName, image.data(), false, name.c_str());
  cursor.InsertRecord(image.data(), true);
  return cursor.CurrentRecordNumber();
}

TEST(TableDefinition, EmptiedTableIsWhatAnotherProcessFindsAndFillsAgain) {
  CursorDatabase db;
  TTableDefinition d = Definition();
  // The helper keeps the primary index only.
  d.Indexes.pop_back();
  DefiningCursor(db, "T")->CreateTable(d, false, false);
  Peer peer;
  ASSERT_TRUE(peer.Ready());
  const std::string open = "open " + db.dir.Path("") + " T";
  ASSERT_EQ(peer.Ask(open), "ok");
  for (int value = 1; value <= 40; ++value) {
    ASSERT_EQ(peer.Ask("insert " + std::to_string(value)), "ok " + std::to_string(value));
  }
  ASSERT_EQ(peer.Ask("delete 7 7"), "ok");
  auto cursor = DefiningCursor(db, "T");
  EXPECT_EQ(ErrorCodeOf([&] { cursor->Open(); }), kErrAccessDenied);
  ASSERT_EQ(peer.Ask("close"), "ok");

  auto shared = db.Open("T");
  EXPECT_EQ(ErrorCodeOf([&] { shared->EmptyTable(); }), kErrMustBeExclusive);
  shared->Close(false);
  cursor->SetReadOnly(true);
  cursor->Open();
  EXPECT_EQ(ErrorCodeOf([&] { cursor->EmptyTable(); }), kErrAccessDenied);
  cursor->Close(false);
  cursor->SetReadOnly(false);
  cursor->Open();
  ASSERT_EQ(cursor->GetTotalRecordCount(), 39);
  cursor->EmptyTable();
  EXPECT_EQ(cursor->GetTotalRecordCount(), 0);
  EXPECT_EQ(cursor->GetRecordCount(), 0);
  EXPECT_EQ(cursor->GetNextRecord(nullptr), kErrEndOfFile);
  EXPECT_EQ(InsertValue(*cursor, 500, "after"), 1);
  EXPECT_EQ(peer.Ask(open), "err 11013");
  cursor->Close(false);
  EXPECT_EQ(VerifyTable(db.dir.Path("T.DAT")), std::vector<std::string>());

  ASSERT_EQ(peer.Ask(open), "ok");
  EXPECT_EQ(peer.Ask("live"), "ok 1 1=500");
  EXPECT_EQ(peer.Ask("insert 501"), "ok 2");
  EXPECT_EQ(peer.Ask("close"), "ok");
  EXPECT_EQ(VerifyTable(db.dir.Path("T.DAT")), std::vector<std::string>());
}

struct SortRow {
  int32_t id;
  std::string name;
  int32_t value;
  bool operator==(const SortRow&) const = default;
};

// A table without indexes of random rows, some deleted; the live rows.
std::vector<SortRow> FillIndexless(CursorDatabase& db, uint32_t seed, int32_t count) {
  TTableDefinition d = Definition();
  d.Fields.pop_back();
  d.Indexes = {Index("", {})};
  DefiningCursor(db, "S")->CreateTable(d, false, true);
  auto cursor = db.Open("S", true);
  std::mt19937 random(seed);
  std::vector<SortRow> rows;
  for (int32_t i = 0; i < count; ++i) {
    SortRow row{0, std::string(1 + random() % 3, static_cast<char>('a' + random() % 4)),
                static_cast<int32_t>(random() % 12)};
    InsertValue(*cursor, row.value, row.name);
    std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
    cursor->GetCurrentRecord(image.data());
    row.id = TDataCursor::GetRecordId(image.data());
    if (random() % 5 == 0) {
      cursor->DeleteRecord(image.data(), false);
    } else {
      rows.push_back(row);
    }
  }
  return rows;
}

// The live rows in natural order, and their record numbers.
std::vector<SortRow> NaturalRows(TDataCursor& cursor, std::vector<int32_t>* numbers = nullptr) {
  std::vector<SortRow> rows;
  std::vector<uint8_t> image(static_cast<size_t>(cursor.GetRecordSize()));
  cursor.First();
  while (cursor.GetNextRecord(image.data()) == 0) {
    SortRow row{TDataCursor::GetRecordId(image.data()), "", 0};
    char name[32] = {};
    bool null = false;
    cursor.GetFieldData(kName, image.data(), null, name);
    cursor.GetFieldData(kValue, image.data(), null, &row.value);
    row.name = name;
    rows.push_back(row);
    if (numbers != nullptr) numbers->push_back(cursor.CurrentRecordNumber());
  }
  return rows;
}

TSortRequest ValueDownNameUp() {
  TSortRequest request;
  FieldDescriptor value;
  value.Number = kValue;
  value.Descending = 1;
  FieldDescriptor name;
  name.Number = kName;
  request.Fields = {value, name};
  return request;
}

TEST(TableDefinition, SortRewritesAnIndexlessTableInOrderWithItsStatusIndexRebuilt) {
  const uint32_t seed = TestSeed();
  SCOPED_TRACE(seed);
  // The long count passes a batch of the status index rebuild.
  const int32_t count = LongTests() ? 70000 : 600;
  for (const bool external : {false, true}) {
    SCOPED_TRACE(external ? "runs on disk" : "in memory");
    CursorDatabase db;
    ScratchDir runs;
    db.session.SetPrivateDir(runs.Path(""));
    std::vector<SortRow> model = FillIndexless(db, seed, count);
    std::stable_sort(model.begin(), model.end(), [](const SortRow& a, const SortRow& b) {
      return a.value != b.value ? a.value > b.value : a.name < b.name;
    });
    // Rows that tie keep their record-id order.
    auto cursor = DefiningCursor(db, "S");
    cursor->SetNaturalOrder(true);
    cursor->Open();
    TScopedSortRunLimit limit(external ? 37 : 0);
    // Every record in the cache sorts in memory; none there, through run files.
    if (external) {
      cursor->Table()->DataFile().DropRecordCache();
    } else {
      while (cursor->GetNextRecord(nullptr) == 0) {
      }
    }
    cursor->SortRecords(ValueDownNameUp());
    EXPECT_EQ(cursor->GetRecordCount(), static_cast<int32_t>(model.size()));
    std::vector<int32_t> numbers;
    EXPECT_EQ(NaturalRows(*cursor, &numbers), model);
    for (size_t i = 0; i < numbers.size(); ++i) ASSERT_EQ(numbers[i], static_cast<int32_t>(i + 1));
    EXPECT_EQ(InsertValue(*cursor, 99, "new"), static_cast<int32_t>(model.size()) + 1);
    cursor->Close(false);
    EXPECT_EQ(VerifyTable(db.dir.Path("S.DAT")), std::vector<std::string>());
    EXPECT_EQ(FilesIn(runs), std::vector<std::string>());
    cursor->Open();
    EXPECT_EQ(cursor->GetRecordCount(), static_cast<int32_t>(model.size()) + 1);
  }

  // A table with indexes is never renumbered, and only an exclusive cursor sorts.
  CursorDatabase db;
  TTableDefinition d = Definition();
  DefiningCursor(db, "T")->CreateTable(d, false, false);
  auto cursor = DefiningCursor(db, "T");
  cursor->Open();
  for (int32_t v : {3, 1, 2}) InsertValue(*cursor, v, "x");
  cursor->Close(false);
  const std::vector<uint8_t> before = ReadWholeFile(db.dir.Path("T.DAT"));
  cursor->Open();
  cursor->SortRecords(ValueDownNameUp());
  cursor->Close(false);
  EXPECT_EQ(ReadWholeFile(db.dir.Path("T.DAT")), before);
  cursor->SetReadOnly(true);
  cursor->Open();
  EXPECT_EQ(ErrorCodeOf([&] { cursor->SortRecords(ValueDownNameUp()); }), kErrAccessDenied);
  cursor->Close(false);
  auto shared = db.Open("T");
  EXPECT_EQ(ErrorCodeOf([&] { shared->SortRecords(ValueDownNameUp()); }), kErrMustBeExclusive);
}

TEST(TableDefinition, FailedWriteAtAnyPointOfSortLeavesTheTableAsItWas) {
  for (int64_t k = 1;; ++k) {
    SCOPED_TRACE(k);
    CursorDatabase db;
    ScratchDir runs;
    db.session.SetPrivateDir(runs.Path(""));
    FillIndexless(db, 5, 300);
    auto cursor = DefiningCursor(db, "S");
    cursor->Open();
    const std::vector<SortRow> before = NaturalRows(*cursor);
    TScopedSortRunLimit limit(40);
    cursor->Table()->DataFile().DropRecordCache();
    OsFileFaults faults;
    faults.fail_write_at = k;
    int code = 0;
    {
      TScopedOsFileFaults scope(faults);
      code = ErrorCodeOf([&] { cursor->SortRecords(ValueDownNameUp()); });
    }
    EXPECT_EQ(FilesIn(runs), std::vector<std::string>());
    if (faults.writes < k) {
      EXPECT_EQ(code, 0);
      EXPECT_GT(k, 5);
      break;
    }
    EXPECT_EQ(code, kErrWrite);
    // Closed by the failure unless it came before the sort began.
    cursor->Close(false);
    cursor->Open();
    EXPECT_EQ(NaturalRows(*cursor), before);
    cursor->Close(false);
    EXPECT_EQ(VerifyTable(db.dir.Path("S.DAT")), std::vector<std::string>());
    EXPECT_EQ(FilesIn(db.dir), (std::vector<std::string>{"S.DAT", "S.IDX"}));
    if (HasFailure()) return;
  }
}

struct HeaderValues {
  int32_t block_size, data_size;
  uint16_t language_id, sort_id;
  int16_t major, minor;
  std::string description;
  bool encrypted;
  std::string password;
  int32_t last_auto_inc;
  bool operator==(const HeaderValues&) const = default;
};

HeaderValues ValuesOf(TDataCursor& cursor) {
  return {cursor.GetBlobBlockSize(), cursor.GetBlobDataSize(),     cursor.GetLanguageID(),
          cursor.GetSortID(),        cursor.GetUserMajorVersion(), cursor.GetUserMinorVersion(),
          cursor.GetDescription(),   cursor.GetEncrypted(),        cursor.GetPassword(),
          cursor.GetLastAutoInc()};
}

// Adds the password its user data names, once.
bool GivePassword(void* user_data, TDataCursor& cursor) {
  auto* password = static_cast<std::string*>(user_data);
  if (password->empty()) return false;
  cursor.Directory()->Session()->AddPassword(*password);
  password->clear();
  return true;
}

TEST(TableDefinition, HeaderValuesReadAlikeOpenAndClosedAndSettersWriteThem) {
  struct Case {
    const char* what;
    bool encrypted;
    uint16_t language_id;
    int32_t block_size;
  };
  const uint16_t german = IsKnownLanguage(0x0407, 0) ? 0x0407 : 0;
  for (const Case& c : {Case{"plain", false, 0, 64}, Case{"encrypted", true, german, 1024}}) {
    SCOPED_TRACE(c.what);
    CursorDatabase db;
    TTableDefinition d = Definition();
    d.Encrypted = c.encrypted;
    d.Password = "First";
    d.LanguageId = static_cast<int16_t>(c.language_id);
    d.BlobBlockSize = c.block_size;
    d.Description = "Notes of the week";
    d.UserMajor = 3;
    d.UserMinor = 4;
    DefiningCursor(db, "T")->CreateTable(d, false, false);
    const std::string password = c.encrypted ? "First" : "";
    HeaderValues expected{c.block_size,        c.block_size - 18, c.language_id, 0, 3, 4,
                          "Notes of the week", c.encrypted,       password,      0};

    auto reader = std::make_unique<TDataCursor>(db.directory);
    reader->SetTableName("T");
    if (c.encrypted) {
      EXPECT_EQ(ErrorCodeOf([&] { reader->GetDescription(); }), kErrPasswordRequired);
    }
    db.session.AddPassword("First");
    EXPECT_EQ(ValuesOf(*reader), expected);
    auto writer = db.Open("T");
    EXPECT_EQ(ValuesOf(*writer), expected);

    // A shared table's header is on disk as soon as a setter returns.
    writer->SetLastAutoInc(77);
    expected.last_auto_inc = 77;
    EXPECT_EQ(ValuesOf(*reader), expected);
    writer->SetHeaderValues("Second", "Renamed notes", 9, 8, 100);
    expected = {c.block_size,
                c.block_size - 18,
                c.language_id,
                0,
                9,
                8,
                "Renamed notes",
                c.encrypted,
                c.encrypted ? "Second" : "",
                100};
    EXPECT_EQ(ValuesOf(*writer), expected);
    std::string given = "Second";
    reader->SetPasswordHandler(GivePassword, &given);
    EXPECT_EQ(ValuesOf(*reader), expected);
    EXPECT_EQ(given.empty(), c.encrypted) << "asked for the new password only when encrypted";
    writer->Close(false);
    EXPECT_EQ(ValuesOf(*reader), expected);
    EXPECT_EQ(InsertValue(*db.Open("T"), 1, "x"), 1);
    EXPECT_EQ(VerifyTable(db.dir.Path("T.DAT")), std::vector<std::string>());

    auto read_only = db.Open("T");
    read_only->Close(false);
    read_only->SetReadOnly(true);
    read_only->Open();
    EXPECT_EQ(ErrorCodeOf([&] { read_only->SetLastAutoInc(5); }), kErrAccessDenied);
    EXPECT_EQ(ErrorCodeOf([&] { read_only->SetHeaderValues("", "", 0, 0, 0); }), kErrAccessDenied);
  }
}

TEST(TableDefinition, IndexDescriptorsThroughTheCursor) {
  CursorDatabase db;
  TTableDefinition d = Definition();
  DefiningCursor(db, "T")->CreateTable(d, false, false);
  auto cursor = db.Open("T");
  EXPECT_EQ(ErrorCodeOf([&] { TDataCursor(db.directory).GetIndexDesc(0); }), kErrInvalidHandle);
  for (int32_t v = 10; v > 0; --v)
    InsertValue(*cursor, v, std::string(1, static_cast<char>('a' + v)));

  uint8_t bytes[kIndexDescriptorSize];
  std::fill(std::begin(bytes), std::end(bytes), 0xEE);
  cursor->GetIndexDesc(kNaturalOrder).EncodeTo(bytes);
  EXPECT_EQ(std::count(std::begin(bytes), std::end(bytes), 0), kIndexDescriptorSize);
  EXPECT_FALSE(cursor->HasNoPrimaryIndex());
  EXPECT_EQ(ErrorCodeOf([&] { cursor->SetIndexCount(31); }), kErrIndexLimits);

  // Renamed while it is the current index: the cursor follows, and the
  // keys stay reachable through the root the descriptor kept.
  cursor->SetIndexByName("ByName");
  IndexDescriptor by_name = cursor->GetIndexDesc(1);
  by_name.Name = "Letters";
  cursor->SetIndexDesc(1, by_name);
  EXPECT_EQ(cursor->IndexName(), "Letters");
  EXPECT_EQ(cursor->KeyLength(), by_name.KeyLength);
  cursor->WriteIndexDesc();
  cursor->Close(false);
  cursor->Open();
  cursor->SetIndexByName("letters");
  EXPECT_EQ(cursor->GetRecordCount(), 10);
  std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
  ASSERT_EQ(cursor->GetNextRecord(image.data()), 0);
  int32_t value = 0;
  bool null = false;
  cursor->GetFieldData(kValue, image.data(), null, &value);
  EXPECT_EQ(value, 1);
  cursor->Close(false);
  EXPECT_EQ(VerifyTable(db.dir.Path("T.DAT")), std::vector<std::string>());

  cursor->SetReadOnly(true);
  cursor->Open();
  EXPECT_EQ(ErrorCodeOf([&] { cursor->SetIndexDesc(1, by_name); }), kErrAccessDenied);
  EXPECT_EQ(ErrorCodeOf([&] { cursor->WriteIndexDesc(); }), kErrAccessDenied);
}

TEST(TableDefinition, CursorFieldListIsCheckedAsANewTablesFields) {
  CursorDatabase db;
  TTableDefinition d = Definition();
  DefiningCursor(db, "T")->CreateTable(d, false, false);
  auto cursor = db.Open("T");
  std::vector<FieldDescriptor> fields;
  for (int32_t i = 1; i <= cursor->GetFieldCount(); ++i) fields.push_back(cursor->GetFieldDesc(i));
  const std::vector<std::pair<std::function<void(std::vector<FieldDescriptor>&)>, int>> cases = {
      {[](auto& f) { f[2].Name = "Name"; }, kErrInvalidFieldName},
      {[](auto& f) { f[2].Name = "_"; }, 0},
      {[](auto& f) { f[1].Type = 16; }, kErrInvalidFieldDefinition},
      {[](auto& f) { f[2].Number = kName; }, kErrInvalidFieldDefinition},
      {[](auto& f) { f[2].Default = "ten"; }, kErrInvalidValidityCheck},
  };
  for (const auto& [change, code] : cases) {
    std::vector<FieldDescriptor> list = fields;
    change(list);
    EXPECT_EQ(ErrorCodeOf([&] { cursor->SetFieldDescs(list); }), code);
  }
  EXPECT_EQ(cursor->GetCursorFieldDesc(3).Name, "_");
}

}  // namespace
}  // namespace jw::test
