#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/core/data_directory.h"
#include "engine/dataset/database_user.h"
#include "engine/dataset/quire_database.h"
#include "engine/dataset/quire_session.h"
#include "session_fixture.h"
#include "tests/support/temp_folder.h"

namespace jw {
namespace {

using test_support::SessionTest;
using test_support::TempFolder;

using Databases = SessionTest;

// A dataset on a database's list; a stubborn one stays listed when it closes.
class FakeDataSet : public TQuireDatabaseUser {
 public:
  FakeDataSet(TQuireDatabase& database, bool stubborn) : database_(&database), stubborn_(stubborn) {
    database.AddDataSet(this);
  }
  void CloseForDatabase() override {
    ++closes;
    if (!stubborn_) database_->RemoveDataSet(this);
  }
  void DatabaseDetached() override { detached = true; }
  const std::string& SessionName() const override { return session_name_; }
  void SetSessionName(const std::string& name) override { session_name_ = name; }
  void StoreSessionName(const std::string& name) override { session_name_ = name; }

  int closes = 0;
  bool detached = false;

 private:
  TQuireDatabase* database_;
  bool stubborn_;
  std::string session_name_;
};

TEST_F(Databases, CloseClosesEveryDataSetAndLetsGoOfOnesThatStayListed) {
  TQuireDatabase database(nullptr);
  database.SetDatabaseName("Memory");
  database.SetConnected(true);
  FakeDataSet first(database, false);
  FakeDataSet stubborn(database, true);
  FakeDataSet last(database, false);
  database.SetConnected(false);
  EXPECT_FALSE(database.Connected());
  EXPECT_EQ(database.DataSetCount(), 0);
  EXPECT_EQ(std::vector<int>({first.closes, stubborn.closes, last.closes}),
            std::vector<int>({1, 1, 1}));
  EXPECT_EQ(std::vector<bool>({first.detached, stubborn.detached, last.detached}),
            std::vector<bool>({false, true, false}));
}

TEST_F(Databases, NamesOfOneFolderShareTheEngineDirectoryUntilTheLastCloses) {
  TempFolder folder;
  TComponent form_a(nullptr);
  TComponent form_b(nullptr);
  std::vector<TQuireDatabase*> databases;
  for (TComponent* form : {&form_a, &form_b}) {
    auto* database = new TQuireDatabase(form);
    database->SetHandleShared(true);
    database->SetDatabaseName("Shared");
    database->SetDirectory(folder.Path());
    database->SetConnected(true);
    databases.push_back(database);
  }
  TDataDirectory* directory = databases[0]->EngineDirectory();
  ASSERT_EQ(databases[1]->EngineDirectory(), directory);
  EXPECT_EQ(directory->ReferenceCount(), 2);
  // Either may close first; the directory stays open for the other.
  databases[0]->SetConnected(false);
  EXPECT_EQ(directory->ReferenceCount(), 1);
  EXPECT_EQ(DefaultSession()->EngineSession()->DirectoryCount(), 1);
  databases[1]->SetConnected(false);
  EXPECT_EQ(DefaultSession()->EngineSession()->DirectoryCount(), 0);
}

TEST_F(Databases, DataSetsWithoutADatabaseComponentGetTemporaryOnes) {
  TempFolder folder;
  TComponent form(nullptr);
  TQuireSession* session = DefaultSession();
  session->SetKeepConnections(false);
  TQuireDatabase* by_path = session->OpenDatabase(folder.Path(), &form);
  EXPECT_TRUE(by_path->Temporary());
  EXPECT_EQ(by_path->Owner(), session);
  EXPECT_EQ(by_path->EngineDirectory()->DatabaseName(), "");
  EXPECT_EQ(by_path->EngineDirectory()->Path(), folder.Path());
  EXPECT_EQ(session->OpenDatabase(folder.Path(), &form), by_path);
  EXPECT_EQ(by_path->InUseCount(), 2);

  TQuireDatabase* memory = session->OpenDatabase("memory", &form);
  EXPECT_EQ(memory->EngineDirectory()->Path(), "");
  session->ReleaseDatabase(memory);
  session->ReleaseDatabase(by_path);
  EXPECT_EQ(session->DatabaseCount(), 1);
  session->ReleaseDatabase(by_path);
  EXPECT_EQ(session->DatabaseCount(), 0);

  // A database component of the name is used as it is; without
  // KeepConnection its last release closes it, and the component stays.
  TQuireDatabase notes(&form);
  notes.SetDatabaseName("Notes");
  notes.SetKeepConnection(false);
  notes.SetDirectory(folder.Path());
  EXPECT_EQ(session->OpenDatabase("NOTES", &form), &notes);
  session->ReleaseDatabase(&notes);
  EXPECT_FALSE(notes.Connected());
  EXPECT_EQ(session->DatabaseCount(), 1);
}

TEST_F(Databases, AnIdleTemporaryDatabaseGivesWayToAComponentOfItsName) {
  TComponent form(nullptr);
  TQuireSession* session = DefaultSession();
  TQuireDatabase* temporary = session->OpenDatabase("Memory", &form);
  session->ReleaseDatabase(temporary);
  ASSERT_EQ(session->DatabaseCount(), 1);
  TQuireDatabase named(&form);
  named.SetDatabaseName("MEMORY");
  EXPECT_EQ(session->DatabaseCount(), 1);
  EXPECT_EQ(session->Databases(0), &named);
}

TEST_F(Databases, PropertiesReadWhileLoadingTakeEffectWhenLoaded) {
  TComponent form(nullptr);
  TLoadingScope scope(form);
  auto* session = new TQuireSession(&form);
  session->SetSessionName("Other");
  auto* database = new TQuireDatabase(&form);
  database->SetSessionName("Other");
  database->SetDatabaseName("Memory");
  database->SetConnected(true);
  EXPECT_FALSE(database->Connected());
  EXPECT_EQ(database->Session(), DefaultSession());
  scope.End();
  EXPECT_TRUE(database->Connected());
  EXPECT_EQ(database->Session(), session);
  EXPECT_TRUE(session->Active());
}

}  // namespace
}  // namespace jw
