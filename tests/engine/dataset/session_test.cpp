#include <gtest/gtest.h>

#include <thread>

#include "engine/core/engine_startup.h"
#include "engine/dataset/quire_database.h"
#include "engine/dataset/quire_session.h"
#include "session_fixture.h"
#include "tests/support/temp_folder.h"

namespace jw {
namespace {

using test_support::SessionTest;
using test_support::TempFolder;

using SessionList = SessionTest;

TEST_F(SessionList, StartUpMakesOneInactiveDefaultSession) {
  InitQuireSessions();  // a second start only counts
  DoneQuireSessions();
  ASSERT_EQ(Sessions()->Count(), 1);
  TQuireSession* session = DefaultSession();
  EXPECT_EQ(session->SessionName(), "Default");
  EXPECT_TRUE(session->IsDefault());
  EXPECT_FALSE(session->Active());
  EXPECT_FALSE(EngineInitialized());
  EXPECT_EQ(Sessions()->FindSession(""), session);
  EXPECT_EQ(Sessions()->GetSession("dEFAULT"), session);
  EXPECT_EQ(Sessions()->FindSession("Other"), nullptr);
}

TEST_F(SessionList, FirstEngineCallActivatesTheDefaultSessionFirst) {
  TQuireSession other(nullptr);
  other.SetSessionName("Other");
  other.SetLockRetryCount(3);
  other.AddPassword(std::string(300, 'p'));
  EXPECT_TRUE(DefaultSession()->Active());
  ASSERT_TRUE(other.Active());
  EXPECT_EQ(GetEngineSession(), other.EngineSession());
  EXPECT_NE(other.EngineSession(), DefaultSession()->EngineSession());
  EXPECT_EQ(other.EngineSession()->LockRetryCount(), 3);
  EXPECT_TRUE(other.EngineSession()->HasPassword(std::string(255, 'p')));
  // Settings changed while active reach the engine session.
  other.SetLockWaitTime(7);
  other.SetPrivateDir("/tmp");
  EXPECT_EQ(other.EngineSession()->LockWaitTime(), 7);
  EXPECT_EQ(other.EngineSession()->GetPrivateDir(), "/tmp/");
  other.SetActive(false);
  EXPECT_EQ(GetEngineSession(), DefaultSession()->EngineSession());
}

TEST_F(SessionList, NestedEngineEntriesHoldTheLockUntilTheLastLeave) {
  auto other_thread_can_enter = [] {
    bool entered = false;
    std::thread([&entered] {
      entered = Sessions()->EngineLock().TryEnter();
      if (entered) Sessions()->EngineLock().Leave();
    }).join();
    return entered;
  };
  TQuireSession* session = DefaultSession();
  session->EnterEngine();
  session->EnterEngine();
  EXPECT_TRUE(session->Active());
  session->LeaveEngine();
  EXPECT_FALSE(other_thread_can_enter());
  session->LeaveEngine();
  EXPECT_TRUE(other_thread_can_enter());
}

TEST_F(SessionList, ClosingTheDefaultSessionClosesTheOthersFirst) {
  TempFolder folder;
  TQuireSession other(nullptr);
  other.SetSessionName("Other");
  TQuireDatabase database(nullptr);
  database.SetSessionName("Other");
  database.SetDatabaseName("Notes");
  database.SetDirectory(folder.Path());
  database.SetConnected(true);
  ASSERT_TRUE(other.Active());
  DefaultSession()->SetActive(false);
  EXPECT_FALSE(other.Active());
  EXPECT_FALSE(database.Connected());
  EXPECT_FALSE(EngineInitialized());
}

TEST_F(SessionList, AutoSessionsNameThemselvesAndTheirOwnersComponents) {
  TComponent form(nullptr);
  auto* before = new TQuireDatabase(&form);
  auto* session = new TQuireSession(&form);
  session->SetName("Session");
  session->SetAutoSessionName(true);
  EXPECT_EQ(session->SessionName(), "Session_1");
  EXPECT_EQ(before->SessionName(), "Session_1");
  EXPECT_EQ(before->Session(), session);
  auto* after = new TQuireDatabase(&form);
  EXPECT_EQ(after->Session(), session);
  EXPECT_EQ(after->SessionName(), "Session_1");

  TComponent second_form(nullptr);
  auto* second = new TQuireSession(&second_form);
  second->SetName("Session");
  second->SetAutoSessionName(true);
  EXPECT_EQ(second->SessionName(), "Session_2");
  // A freed number is taken again, and a new component name renames.
  delete session;
  auto* third = new TQuireSession(&form);
  third->SetName("Third");
  third->SetAutoSessionName(true);
  EXPECT_EQ(third->SessionName(), "Third_1");
  third->SetName("Renamed");
  EXPECT_EQ(third->SessionName(), "Renamed_1");
  third->SetAutoSessionName(false);
  EXPECT_EQ(Sessions()->Count(), 3);
}

}  // namespace
}  // namespace jw
