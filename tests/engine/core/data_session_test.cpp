// Engine sessions and database directories: the one in-memory directory,
// one folder under two names, the session's settings and passwords, tables
// opened, created, renamed and deleted through a directory, temporary
// names, directory transactions, two sessions of one process keeping each
// other out, and the engine's start-up with its locale names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "engine/core/data_session.h"
#include "engine/core/engine_startup.h"
#include "engine/support/locale_list.h"
#include "tests/engine/core/table_ops.h"
#include "tests/engine/core/test_table.h"

namespace jw::test {
namespace {

constexpr int32_t kInUse = -static_cast<int32_t>(kErrAccessDenied);
constexpr int32_t kBadName = -static_cast<int32_t>(kErrInvalidPath);

TEST(DataSession, TheMemoryDatabaseIsOneDirectoryWithoutAFolder) {
  TDataSession session;
  TDataDirectory* memory = session.OpenDirectory("memory", "/tmp");
  EXPECT_EQ(session.OpenDirectory("Memory", ""), memory);
  EXPECT_EQ(session.OpenDirectory(" MEMORY ", "/var"), memory);
  EXPECT_EQ(memory->ReferenceCount(), 3);
  EXPECT_EQ(memory->Path(), "");
  TDataTable* table = nullptr;
  ASSERT_EQ(memory->CreateTable("M", SmallTableDefinition(), true, false, table), 0);
  EXPECT_EQ(table->FileNames().Data, "M.DAT");
  TableOps(*table).Insert(7);
  EXPECT_TRUE(memory->TableExists("m.dat", true) || memory->TableExists("M", true));
  EXPECT_FALSE(memory->TableExists("M", false));
  EXPECT_EQ(memory->CloseTable(table, false), 0);
  EXPECT_EQ(memory->TableCount(), 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(session.CloseDirectory(memory), 0);
  EXPECT_EQ(session.DirectoryCount(), 0);
}

TEST(DataSession, OneFolderUnderTwoNamesIsOneDirectory) {
  ScratchDir dir;
  const std::string link = dir.Path("link");
  std::filesystem::create_directory_symlink(dir.Path(""), link);
  TDataSession session;
  TDataDirectory* first = session.OpenDirectory("A", dir.Path(""));
  TDataDirectory* second = session.OpenDirectory("B", " " + link + " ");
  EXPECT_EQ(first, second);
  EXPECT_EQ(first->DatabaseName(), "A");
  EXPECT_EQ(first->ReferenceCount(), 2);
  std::filesystem::create_directory(dir.Path("sub"));
  EXPECT_EQ(session.OpenDirectory("C", dir.Path("sub/..")), first);
  EXPECT_EQ(first->ReferenceCount(), 3);
  EXPECT_EQ(session.CloseDirectory(first), 0);
  EXPECT_EQ(session.CloseDirectory(first), 0);
  EXPECT_EQ(session.DirectoryCount(), 1);
  EXPECT_EQ(session.CloseDirectory(first), 0);
  EXPECT_EQ(session.DirectoryCount(), 0);
  EXPECT_EQ(session.CloseDirectory(first), kInUse);
  // An empty path is the working directory.
  EXPECT_EQ(session.OpenDirectory("W", "")->Path(), session.WorkingDir());
}

TEST(DataSession, SettingsAndPasswords) {
  TDataSession session;
  EXPECT_EQ(session.WorkingDir().back(), '/');
  EXPECT_EQ(session.GetPrivateDir(), session.WorkingDir());
  session.SetPrivateDir(" /tmp/private ");
  EXPECT_EQ(session.GetPrivateDir(), "/tmp/private/");
  session.SetPrivateDir("");
  EXPECT_EQ(session.GetPrivateDir(), "/tmp/private/");
  EXPECT_EQ(session.LanguageId(), 0);
  EXPECT_EQ(session.SortId(), 0);
  EXPECT_EQ(session.LockRetryCount(), 15);
  EXPECT_EQ(session.LockWaitTime(), 100);

  session.AddPassword("Secret");
  session.AddPassword("Secret");
  session.AddPassword("secret");
  session.AddPassword("");
  EXPECT_EQ(session.Passwords(), (std::vector<std::string>{"Secret", "secret"}));
  EXPECT_FALSE(session.HasPassword("SECRET"));
  session.RemovePassword("SECRET");
  session.RemovePassword("Secret");
  EXPECT_EQ(session.Passwords(), (std::vector<std::string>{"secret"}));
  session.RemoveAllPasswords();
  EXPECT_TRUE(session.Passwords().empty());
}

class DataDirectoryTest : public testing::Test {
 protected:
  TDataDirectory* Directory(TDataSession& session) {
    return session.OpenDirectory("DB", dir_.Path(""));
  }
  ScratchDir dir_;
  TDataSession session_;
  TDataDirectory* directory_ = Directory(session_);
};

TEST_F(DataDirectoryTest, TablesOpenCreateRenameAndDeleteThroughTheDirectory) {
  TDataTable* table = nullptr;
  EXPECT_EQ(directory_->CreateTable(" ", SmallTableDefinition(), false, false, table), kBadName);
  EXPECT_EQ(directory_->CreateTable(dir_.Path(".DAT"), SmallTableDefinition(), false, false, table),
            kBadName);
  ASSERT_EQ(directory_->CreateTable("T", SmallTableDefinition(), false, false, table), 0);
  TDataTable* again = nullptr;
  ASSERT_EQ(directory_->OpenTable("T.DAT", again, false, false, false, false), 0);
  EXPECT_EQ(again, table);
  EXPECT_EQ(table->CursorCount(), 2);
  EXPECT_EQ(directory_->OpenTable("T", again, true, false, false, false), kInUse);
  EXPECT_EQ(directory_->OpenTable("T", again, true, false, false, true), 0);
  EXPECT_EQ(table->CursorCount(), 3);
  EXPECT_EQ(directory_->RenameTable("T", "U", false, false), kInUse);
  EXPECT_EQ(directory_->DeleteTable("T", false), kInUse);
  EXPECT_EQ(directory_->CreateTable("T", SmallTableDefinition(), false, false, again), kInUse);
  TableOps(*table).Insert(1);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(directory_->CloseTable(table, false), 0);
  EXPECT_EQ(directory_->TableCount(), 0);
  EXPECT_EQ(directory_->CloseTable(table, false), kBadName);

  EXPECT_TRUE(directory_->TableExists("T", false));
  EXPECT_EQ(directory_->RenameTable("T", "U", false, false), 0);
  EXPECT_FALSE(directory_->TableExists("T", false));
  ASSERT_EQ(directory_->OpenTable("U", table, false, false, false, false), 0);
  EXPECT_EQ(TableOps(*table).Live(), (std::map<int32_t, int32_t>{{1, 1}}));
  EXPECT_EQ(directory_->CloseTable(table, false), 0);
  EXPECT_EQ(directory_->DeleteTable("U", false), 0);
  EXPECT_FALSE(directory_->TableExists("U", false));
}

// A memory table has no file system behind it: its name matches without
// regard to case. Disk tables follow the Linux file system, which tells
// case apart.
TEST_F(DataDirectoryTest, MemoryTableNamesMatchWithoutCaseDiskTableNamesWithIt) {
  TDataTable* memory = nullptr;
  ASSERT_EQ(directory_->CreateTable("Scraps", SmallTableDefinition(), true, false, memory), 0);
  TableOps(*memory).Insert(1);
  TDataTable* again = nullptr;
  ASSERT_EQ(directory_->OpenTable("SCRAPS.dat", again, false, true, false, false), 0);
  EXPECT_EQ(again, memory);
  EXPECT_EQ(directory_->CreateTable("scraps", SmallTableDefinition(), true, false, again), kInUse);
  EXPECT_EQ(directory_->CloseTable(memory, false), 0);
  EXPECT_EQ(directory_->CloseTable(memory, false), 0);
  EXPECT_TRUE(directory_->TableExists("sCRAPS", true));
  ASSERT_EQ(directory_->OpenTable("scraps", again, false, true, false, false), 0);
  EXPECT_EQ(TableOps(*again).Live(), (std::map<int32_t, int32_t>{{1, 1}}));
  EXPECT_EQ(directory_->CloseTable(again, false), 0);
  EXPECT_EQ(directory_->DeleteTable("SCRAPS", true), 0);
  EXPECT_FALSE(directory_->TableExists("Scraps", true));

  TDataTable* disk = nullptr;
  ASSERT_EQ(directory_->CreateTable("Scraps", SmallTableDefinition(), false, false, disk), 0);
  EXPECT_FALSE(directory_->TableExists("scraps", false));
  ASSERT_EQ(directory_->CreateTable("scraps", SmallTableDefinition(), false, false, again), 0);
  EXPECT_NE(again, disk);
  EXPECT_EQ(directory_->CloseTable(again, false), 0);
  EXPECT_EQ(directory_->CloseTable(disk, false), 0);
}

TEST_F(DataDirectoryTest, TemporaryNamesAreTakenWhenHandedOut) {
  const std::string first = directory_->GetTempTableName(false);
  const std::string second = directory_->GetTempTableName(false);
  // The first five digits of the thread id, then the counter.
  EXPECT_TRUE(first.size() > 6 && first.ends_with(".DAT") &&
              std::all_of(first.begin(), first.end() - 4, [](char c) { return std::isdigit(c); }))
      << first;
  EXPECT_NE(first, second);
  EXPECT_TRUE(directory_->TableExists(first, false) && directory_->TableExists(second, false));
  TDataTable* table = nullptr;
  ASSERT_EQ(directory_->CreateTable(first, SmallTableDefinition(), false, false, table), 0);
  EXPECT_EQ(directory_->CloseTable(table, false), 0);
}

TEST_F(DataDirectoryTest, TransactionsSpanTheTablesAndAFailedStartStartsNone) {
  TDataTable* a = nullptr;
  TDataTable* b = nullptr;
  ASSERT_EQ(directory_->CreateTable("A", SmallTableDefinition(), false, false, a), 0);
  ASSERT_EQ(directory_->CreateTable("B", SmallTableDefinition(), false, false, b), 0);
  directory_->StartTransaction();
  EXPECT_TRUE(a->InTransaction() && b->InTransaction());
  TableOps(*a).Insert(1);
  TableOps(*b).Insert(2);
  // A table whose last cursor goes during the transaction stays until its end.
  EXPECT_EQ(directory_->CloseTable(b, false), 0);
  EXPECT_EQ(directory_->TableCount(), 2);
  directory_->Rollback();
  EXPECT_EQ(directory_->TableCount(), 1);
  EXPECT_EQ(TableOps(*a).Live(), (std::map<int32_t, int32_t>{}));

  directory_->StartTransaction();
  TableOps(*a).Insert(3);
  directory_->Commit(true);
  EXPECT_FALSE(directory_->InTransaction() || a->InTransaction());
  EXPECT_EQ(TableOps(*a).Live(), (std::map<int32_t, int32_t>{{1, 3}}));

  // Another session of this process runs a transaction on B: the
  // directory's start fails as a whole and leaves A outside one.
  TDataSession other;
  TDataDirectory* elsewhere = Directory(other);
  TDataTable* other_b = nullptr;
  ASSERT_EQ(elsewhere->OpenTable("B", other_b, false, false, false, false), 0);
  ASSERT_EQ(directory_->OpenTable("B", b, false, false, false, false), 0);
  elsewhere->StartTransaction();
  {
    TScopedSemaphoreRetries few(2);
    EXPECT_EQ(ErrorCodeOf([&] { directory_->StartTransaction(); }), kErrLockFailure);
  }
  EXPECT_FALSE(directory_->InTransaction() || a->InTransaction() || b->InTransaction());
  EXPECT_FALSE(a->LockState().LockLevelTransaction);
  elsewhere->Commit(true);
  directory_->StartTransaction();
  directory_->Rollback();
}

TEST_F(DataDirectoryTest, TwoSessionsOfOneProcessKeepEachOtherOut) {
  TDataTable* table = nullptr;
  ASSERT_EQ(directory_->CreateTable("T", SmallTableDefinition(), false, false, table), 0);
  TableOps(*table).Insert(1);
  // A new table's files are its creator's until it opens them again.
  ASSERT_EQ(directory_->CloseTable(table, false), 0);
  ASSERT_EQ(directory_->OpenTable("T", table, false, false, false, false), 0);
  TDataSession other;
  other.SetLockRetryCount(0);
  TDataDirectory* elsewhere = Directory(other);
  TDataTable* other_table = nullptr;
  ASSERT_EQ(elsewhere->OpenTable("T", other_table, false, false, false, false), 0);
  EXPECT_NE(other_table, table);
  table->LockRecord(1);
  EXPECT_EQ(ErrorCodeOf([&] { other_table->LockRecord(1); }), kErrRecordInUse);
  EXPECT_EQ(ErrorCodeOf([&] { TableOps(*other_table).Delete(1, 1); }), kErrRecordInUse);
  table->UnlockRecord(1);
  TableOps(*other_table).Edit(1, 1, 2);
  EXPECT_EQ(TableOps(*table).Value(1), 2);
  // Exclusive in one session is exclusive against the other.
  EXPECT_EQ(elsewhere->CloseTable(other_table, false), 0);
  EXPECT_EQ(directory_->CloseTable(table, false), 0);
  EXPECT_EQ(directory_->TableCount(), 0);
  EXPECT_EQ(elsewhere->TableCount(), 0);
  ASSERT_EQ(directory_->OpenTable("T", table, true, false, false, false), 0);
  EXPECT_EQ(
      ErrorCodeOf([&] { elsewhere->OpenTable("T", other_table, false, false, false, false); }),
      kErrAccessDenied);
}

TEST(EngineStartup, SessionsBeforeAndAfterStartUpAndTheLocaleNames) {
  ASSERT_FALSE(EngineInitialized());
  EXPECT_EQ(ErrorCodeOf([] { GetEngineSession(); }), kErrNotInitialized);
  FinalizeEngine();
  InitializeEngine();
  TDataSession* first = GetEngineSession();
  ASSERT_NE(first, nullptr);
  InitializeEngine();
  EXPECT_EQ(GetEngineSession(), first);
  std::unique_ptr<TDataSession> second = CreateEngineSession();
  TDataSession* raw = second.get();
  SetEngineSession(raw);
  EXPECT_EQ(GetEngineSession(), raw);
  FreeEngineSession(std::move(second));
  EXPECT_EQ(GetEngineSession(), nullptr);
  FreeEngineSession(nullptr);
  FinalizeEngine();
  EXPECT_EQ(ErrorCodeOf([] { GetEngineSession(); }), kErrNotInitialized);

  EXPECT_EQ(EngineLocaleList().size(), 99u);
  EXPECT_TRUE(LocaleNameExists("ansi standard"));
  EXPECT_EQ(LocaleNameToLanguageID("ANSI Standard"), 0);
  EXPECT_EQ(LocaleNameToLanguageID("english (uk)"), 0x0809);
  EXPECT_EQ(LocaleNameToLanguageID("Klingon"), 0);
  EXPECT_FALSE(LocaleNameExists("Klingon"));
  for (const char* german : {"German (Standard)", "German (Swiss)", "German (Austrian)",
                             "German (Luxembourg)", "German (Liechtenstein)"}) {
    const uint16_t id = LocaleNameToLanguageID(german);
    EXPECT_TRUE(SortNameExists(id, "german phone book order")) << german;
    EXPECT_EQ(SortNameToSortID(id, "German Phone Book Order"), 1) << german;
  }
  EXPECT_EQ(std::string(EngineLocaleList()[48].Name), "German (Standard)");
  EXPECT_FALSE(SortNameExists(0x0409, "German Phone Book Order"));
  EXPECT_TRUE(SortNameExists(0x0409, "default order"));
  EXPECT_EQ(SortNameToSortID(0x0407, "Default Order"), 0);
}

}  // namespace
}  // namespace jw::test
