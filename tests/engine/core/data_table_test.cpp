// The open table: sharing between cursors, the last close, creating,
// deleting, renaming, emptying and backing up a table's files, the missing
// index file, and the share probe against a second process (this test
// program started again with exec, holding files open).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "engine/core/btree.h"
#include "engine/core/data_table.h"
#include "engine/support/key_images.h"
#include "platform/os/os_file_faults.h"
#include "tests/engine/core/index_test_table.h"
#include "tests/engine/core/table_ops.h"
#include "tests/engine/core/table_verifier.h"
#include "tests/support/piped_child.h"

namespace jw::test {
namespace {

// The second process: with JW_HOLD_FILES set ("path;path;..."), this program
// opens those files as a table does, says "ready" and holds them until its
// input ends. It runs before the tests would.
[[maybe_unused]] const bool kHolderRan = [] {
  const char* list = std::getenv("JW_HOLD_FILES");
  if (list == nullptr) return false;
  std::vector<std::unique_ptr<TFileHandler>> held;
  std::stringstream paths(list);
  for (std::string path; std::getline(paths, path, ';');) {
    held.push_back(std::make_unique<TFileHandler>());
    held.back()->SetName(path);
    held.back()->Open();
  }
  std::cout << "ready" << std::endl;
  std::string line;
  std::getline(std::cin, line);
  held.clear();
  std::_Exit(0);
}();

class FileHolder {
 public:
  explicit FileHolder(const std::vector<std::string>& paths)
      : child_("/proc/self/exe", "holder", "JW_HOLD_FILES", ListOf(paths)) {
    char line[64] = {};
    ready_ = child_.Out() != nullptr && std::fgets(line, sizeof line, child_.Out()) != nullptr &&
             std::string(line) == "ready\n";
  }
  bool Ready() const { return ready_; }

 private:
  static std::string ListOf(const std::vector<std::string>& paths) {
    std::string list;
    for (const std::string& path : paths) list += path + ";";
    return list;
  }

  // Closing its input lets the holder end, which releases the files.
  test_support::PipedChild child_;
  bool ready_ = false;
};

bool Exists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

class DataTableTest : public testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_.Path(name); }
  // Creates table T (exclusive) with records 1..count and closes it.
  void CreateT(bool with_blobs, int32_t count) {
    TDataTable table(&directory_);
    table.SetName("T");
    table.SetExclusive(true);
    table.CreateFiles(SmallTableDefinition(with_blobs));
    for (int32_t i = 1; i <= count; ++i) AddSmallRecord(table, i);
    table.Close(false);
  }
  std::unique_ptr<TDataTable> OpenT(bool exclusive = true) {
    auto table = std::make_unique<TDataTable>(&directory_);
    table->SetName("T");
    table->SetExclusive(exclusive);
    table->Open();
    return table;
  }

  ScratchDir dir_;
  TestDirectory directory_{dir_.Path("")};
};

TEST_F(DataTableTest, TwoCursorsShareOneTableAndTheLastCloseClosesTheFiles) {
  CreateT(true, 2);
  auto table = OpenT(false);
  table->AddCursor();
  EXPECT_EQ(table->Name(), "T.DAT");
  table->Close(false);
  EXPECT_TRUE(table->IsOpen());
  EXPECT_TRUE(table->DataFile().IsOpen() && table->IndexFile().IsOpen() &&
              table->BlobFile().IsOpen());
  EXPECT_EQ(table->DataFile().RecordCount(), 2);
  table->Close(false);
  EXPECT_FALSE(table->IsOpen());
  EXPECT_FALSE(table->DataFile().IsOpen() || table->IndexFile().IsOpen() ||
               table->BlobFile().IsOpen());
  // Nothing of the table holds the files any more.
  for (const char* name : {"T.DAT", "T.IDX", "T.BLB"}) {
    TFileHandler file;
    file.SetName(Path(name));
    file.SetExclusive(true);
    EXPECT_NO_THROW(file.Open()) << name;
  }
}

TEST_F(DataTableTest, ExclusiveTableWritesItsCachesBackAtTheLastClose) {
  CreateT(false, 3);
  auto table = OpenT();
  AddSmallRecord(*table, 4);
  table->Close(true);
  EXPECT_EQ(VerifyTable(Path("T.DAT")), std::vector<std::string>());
  table->Open();
  EXPECT_EQ(table->DataFile().RecordCount(), 4);
  EXPECT_EQ(table->IndexFile().LiveCount(), 4);
}

TEST_F(DataTableTest, CreateFilesMakesTheFilesTheDefinitionNeeds) {
  for (const bool with_blobs : {false, true}) {
    CreateT(with_blobs, 5);
    EXPECT_EQ(VerifyTable(Path("T.DAT")), std::vector<std::string>()) << with_blobs;
    EXPECT_EQ(Exists(Path("T.BLB")), with_blobs);
    auto table = OpenT();
    EXPECT_NO_THROW(table->VerifyHeaders());
    EXPECT_EQ(table->BlobFileInUse(), with_blobs);
    table->Close(false);
    table->DeleteFiles();
    EXPECT_FALSE(Exists(Path("T.DAT")) || Exists(Path("T.IDX")) || Exists(Path("T.BLB")));
  }
}

TEST_F(DataTableTest, RefusedDefinitionLeavesNoHalfTableAndSparesAnExistingOne) {
  TTableDefinition blob_key = SmallTableDefinition(true);
  blob_key.Indexes.push_back(Index("BYMEMO", {4}));
  TDataTable table(&directory_);
  table.SetName("U");
  EXPECT_EQ(ErrorCodeOf([&] { table.CreateFiles(blob_key); }), kErrInvalidIndexFieldType);
  EXPECT_FALSE(Exists(Path("U.DAT")) || Exists(Path("U.IDX")) || Exists(Path("U.BLB")));
  EXPECT_FALSE(table.IsOpen());

  // A definition refused before any file is made leaves the old table alone.
  CreateT(false, 2);
  const auto before = ReadWholeFile(Path("T.DAT"));
  TTableDefinition bad_field = SmallTableDefinition(false);
  bad_field.Fields.push_back(Field("X", 99));
  table.SetName("T");
  EXPECT_EQ(ErrorCodeOf([&] { table.CreateFiles(bad_field); }), kErrInvalidFieldDefinition);
  EXPECT_EQ(ReadWholeFile(Path("T.DAT")), before);
  EXPECT_TRUE(Exists(Path("T.IDX")));
}

TEST_F(DataTableTest, RenameMovesTheTablesFilesAndNeverReplacesAnother) {
  CreateT(false, 2);
  TDataTable table(&directory_);
  table.SetName("T");
  table.RenameFiles("V", false);
  EXPECT_TRUE(Exists(Path("V.DAT")) && Exists(Path("V.IDX")));
  EXPECT_FALSE(Exists(Path("V.BLB")) || Exists(Path("T.DAT")) || Exists(Path("T.IDX")));
  EXPECT_EQ(VerifyTable(Path("V.DAT")), std::vector<std::string>());

  CreateT(true, 1);
  WriteWholeFile(Path("V.BLB"), {1, 2, 3});
  EXPECT_EQ(ErrorCodeOf([&] { table.RenameFiles("V", false); }), kErrTableExists);
  EXPECT_TRUE(Exists(Path("T.DAT")) && Exists(Path("T.IDX")) && Exists(Path("T.BLB")));
  EXPECT_EQ(ReadWholeFile(Path("V.BLB")), std::vector<uint8_t>({1, 2, 3}));
}

TEST_F(DataTableTest, RenameToBackupReplacesOlderBackups) {
  CreateT(true, 3);
  const auto data = ReadWholeFile(Path("T.DAT"));
  const auto blob = ReadWholeFile(Path("T.BLB"));
  for (const char* name : {"T.DBK", "T.IBK", "T.BBK"}) WriteWholeFile(Path(name), {9});
  TDataTable table(&directory_);
  table.SetName("T");
  table.RenameFiles("T", true);
  EXPECT_EQ(ReadWholeFile(Path("T.DBK")), data);
  EXPECT_EQ(ReadWholeFile(Path("T.BBK")), blob);
  EXPECT_GT(ReadWholeFile(Path("T.IBK")).size(), 1u);
  EXPECT_FALSE(Exists(Path("T.DAT")) || Exists(Path("T.IDX")) || Exists(Path("T.BLB")));
}

TEST_F(DataTableTest, IndexBackupRestoresOntoALongerFile) {
  CreateT(false, 20);
  auto table = OpenT();
  table->BackupIndexFile();
  const auto backup = ReadWholeFile(Path("T.IBK"));
  ASSERT_EQ(backup, ReadWholeFile(Path("T.IDX")));

  // The index file grows, gains an index, and keeps a dirty page in its cache.
  for (int32_t i = 21; i <= 400; ++i) AddSmallRecord(*table, i);
  table->WriteBack(false, true, false, false, true);
  table->IndexFile().AddIndexDesc(Index("BYNAME", {2}, false));
  AddSmallRecord(*table, 401);
  ASSERT_GT(ReadWholeFile(Path("T.IDX")).size(), backup.size());

  table->RestoreIndexFile(false, false);
  EXPECT_EQ(table->IndexFile().SecondaryCount(), 0);
  EXPECT_EQ(table->IndexFile().LiveCount(), 20);
  table->IndexFile().FlushPages(false);
  table->IndexFile().WriteHeader(false, false);
  EXPECT_EQ(ReadWholeFile(Path("T.IDX")), backup);

  table->RestoreIndexFile(true, true);
  EXPECT_FALSE(Exists(Path("T.IBK")));
  EXPECT_EQ(ReadWholeFile(Path("T.IDX")), backup);
}

TEST_F(DataTableTest, AFailedIndexRestoreLeavesNoIndexFileBehind) {
  CreateT(false, 20);
  {
    auto table = OpenT();
    table->BackupIndexFile();
    OsFileFaults faults;
    faults.fail_write_at = 1;
    const TScopedOsFileFaults scoped(faults);
    EXPECT_EQ(ErrorCodeOf([&] { table->RestoreIndexFile(false, false); }), kErrWrite);
    EXPECT_FALSE(table->IndexFile().IsOpen());
    table->Close(false);
  }
  EXPECT_FALSE(Exists(Path("T.IDX")));
  TDataTable table(&directory_);
  table.SetName("T");
  table.Open(true);
  EXPECT_TRUE(table.Repair());
  table.Close(false);
}

TEST_F(DataTableTest, MissingIndexFileFailsUnlessRepairIsAsked) {
  CreateT(false, 2);
  ASSERT_EQ(unlink(Path("T.IDX").c_str()), 0);
  TDataTable table(&directory_);
  table.SetName("T");
  EXPECT_EQ(ErrorCodeOf([&] { table.Open(); }), kErrInvalidPath);
  EXPECT_FALSE(table.IsOpen() || table.DataFile().IsOpen());
  EXPECT_FALSE(Exists(Path("T.IDX")));

  table.Open(true);
  EXPECT_TRUE(table.Repair());
  EXPECT_EQ(table.IndexFile().LiveCount(), 0);
  EXPECT_EQ(table.IndexFile().Root(0), 0);
  EXPECT_NO_THROW(table.VerifyHeaders());
  table.Close(false);
  EXPECT_FALSE(table.Repair());
  table.Open(true);
  EXPECT_FALSE(table.Repair());
}

TEST_F(DataTableTest, EmptyCutsEveryFileBackToItsHeaders) {
  CreateT(true, 30);
  const auto empty_blob = ReadWholeFile(Path("T.BLB"));
  auto table = OpenT();
  TBlock* block = table->BlobFile().NewBlock();
  table->BlobFile().ReleaseBlock(block);
  table->WriteBack(false, false, false, true, false);
  ASSERT_GT(ReadWholeFile(Path("T.BLB")).size(), empty_blob.size());
  const int32_t counter = table->DataFile().ChangeCounter();

  table->Empty();
  EXPECT_EQ(table->DataFile().RecordCount(), 0);
  EXPECT_GT(table->DataFile().ChangeCounter(), counter);
  AddSmallRecord(*table, 7);
  table->Close(false);
  EXPECT_EQ(VerifyTable(Path("T.DAT")), std::vector<std::string>());
  EXPECT_EQ(ReadWholeFile(Path("T.BLB")).size(), empty_blob.size());
  EXPECT_EQ(ReadWholeFile(Path("T.IDX")).size(), 2u * kIndexPageSize);
  table->Open();
  EXPECT_EQ(table->DataFile().RecordCount(), 1);
}

TEST_F(DataTableTest, LastCloseReleasesTheTableLocks) {
  CreateT(true, 8);
  auto table = OpenT(false);
  // Another handler of this process shares the file objects and their locks.
  TFileHandler data;
  data.SetName(Path("T.DAT"));
  data.Open();
  TFileHandler index;
  index.SetName(Path("T.IDX"));
  index.Open();
  table->LockRecord(7);
  table->LockForWrite();
  ASSERT_EQ(data.SetRegionLock(kRecordLockBase - 7, 1, true), OsLockResult::Busy);

  table->Close(false);
  EXPECT_FALSE(table->IsRecordHeld(7));
  EXPECT_EQ(data.SetRegionLock(kRecordLockBase - 7, 1, true), OsLockResult::Taken);
  EXPECT_EQ(data.SetRegionLock(kWriteSemaphoreByte, 1, true), OsLockResult::Taken);
  EXPECT_EQ(index.SetRegionLock(kLockRangeBase, kLockRangeLength, true), OsLockResult::Taken);
}

// The table verifier's own checks between the files.
TEST_F(DataTableTest, VerifierFindsFilesThatDisagree) {
  CreateT(true, 4);
  {
    auto table = OpenT();
    TRecord* record = nullptr;
    table->DataFile().FetchRecord(nullptr, 2, 1, false, false, record);
    table->DataFile().FreeRecord(record);
    record->SetModified(true);
    table->DataFile().ReleaseRecord(record);
  }
  EXPECT_EQ(VerifyTable(Path("T.DAT")),
            std::vector<std::string>({"table: index live count 4, data file 3 live records",
                                      "table: slot 0 names record 2, not a live record"}));
  ASSERT_EQ(unlink(Path("T.BLB").c_str()), 0);
  EXPECT_EQ(VerifyTable(Path("T.DAT")).back(), "blob: file missing for 1 BLOB fields");
}

// Another process holds one of the table's files: nothing may be deleted,
// moved or overwritten, not even the files nobody holds.
TEST_F(DataTableTest, AnotherProcessHoldingAnyFileStopsDeleteAndRename) {
  CreateT(true, 3);
  for (const char* held : {"T.DAT", "T.IDX", "T.BLB"}) {
    FileHolder holder({Path(held)});
    ASSERT_TRUE(holder.Ready());
    TDataTable table(&directory_);
    table.SetName("T");
    EXPECT_EQ(ErrorCodeOf([&] { table.DeleteFiles(); }), kErrAccessDenied) << held;
    EXPECT_EQ(ErrorCodeOf([&] { table.RenameFiles("V", false); }), kErrAccessDenied) << held;
    EXPECT_EQ(ErrorCodeOf([&] { table.RenameFiles("T", true); }), kErrAccessDenied) << held;
    EXPECT_TRUE(Exists(Path("T.DAT")) && Exists(Path("T.IDX")) && Exists(Path("T.BLB")));
  }
  EXPECT_EQ(VerifyTable(Path("T.DAT")), std::vector<std::string>());
}

TEST_F(DataTableTest, BackupsAnotherProcessHoldsAreNeverOverwritten) {
  CreateT(false, 3);
  WriteWholeFile(Path("T.IBK"), {4, 5});
  WriteWholeFile(Path("T.DBK"), {6});
  FileHolder holder({Path("T.IBK"), Path("T.DBK")});
  ASSERT_TRUE(holder.Ready());
  auto table = OpenT(false);
  EXPECT_EQ(ErrorCodeOf([&] { table->BackupIndexFile(); }), kErrAccessDenied);
  EXPECT_EQ(ErrorCodeOf([&] { table->RestoreIndexFile(true, true); }), kErrAccessDenied);
  table->Close(false);
  EXPECT_EQ(ErrorCodeOf([&] { table->RenameFiles("T", true); }), kErrAccessDenied);
  EXPECT_EQ(ReadWholeFile(Path("T.IBK")), std::vector<uint8_t>({4, 5}));
  EXPECT_EQ(ReadWholeFile(Path("T.DBK")), std::vector<uint8_t>({6}));
  EXPECT_TRUE(Exists(Path("T.DAT")) && Exists(Path("T.IDX")));
}

}  // namespace
}  // namespace jw::test
