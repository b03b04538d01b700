#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "engine/dataset/quire_database.h"
#include "engine/dataset/quire_session.h"
#include "session_fixture.h"
#include "tests/support/error_text.h"

namespace jw {
namespace {

using test_support::ErrorText;
using test_support::SessionTest;

struct MessageCase {
  const char* what;
  std::function<void(TComponent& form)> action;
  const char* message;
};

TQuireSession* NamedSession(TComponent& form, const std::string& name) {
  auto* session = new TQuireSession(&form);
  session->SetSessionName(name);
  return session;
}

TQuireDatabase* NamedDatabase(TComponent& form, const std::string& name) {
  auto* database = new TQuireDatabase(&form);
  database->SetDatabaseName(name);
  return database;
}

const MessageCase kMessages[] = {
    {"unknown session", [](TComponent&) { Sessions()->GetSession("x"); },
     "Session name x is not valid."},
    {"database of an unknown session",
     [](TComponent& form) {
       TQuireDatabase* database = NamedDatabase(form, "Notes");
       database->SetSessionName("Nowhere");
       database->SetConnected(true);
     },
     "Session name Nowhere is not valid."},
    {"renaming an active session",
     [](TComponent&) {
       DefaultSession()->SetActive(true);
       DefaultSession()->SetSessionName("Main");
     },
     "Cannot perform this operation on an active session."},
    {"renaming an auto-session",
     [](TComponent& form) {
       auto* session = new TQuireSession(&form);
       session->SetAutoSessionName(true);
       session->SetSessionName("Mine");
     },
     "Cannot perform this operation on the active auto-session."},
    {"name taken in another case",
     [](TComponent& form) {
       NamedSession(form, "Shared");
       NamedSession(form, "SHARED");
     },
     "Session name SHARED already exists."},
    {"opening a session without a name",
     [](TComponent& form) { (new TQuireSession(&form))->SetActive(true); },
     "Session name is missing."},
    {"auto-session beside another session",
     [](TComponent& form) {
       NamedSession(form, "First");
       (new TQuireSession(&form))->SetAutoSessionName(true);
     },
     "The active auto-session can be the only active session."},
    {"session beside an auto-session",
     [](TComponent& form) {
       (new TQuireSession(&form))->SetAutoSessionName(true);
       new TQuireSession(&form);
     },
     "This auto-session already exists."},
    {"directory of an open database",
     [](TComponent& form) {
       TQuireDatabase* database = NamedDatabase(form, "Memory");
       database->SetConnected(true);
       database->SetDirectory("/tmp");
     },
     "Cannot perform this operation on an open database."},
    {"session of an open database",
     [](TComponent& form) {
       TQuireDatabase* database = NamedDatabase(form, "Memory");
       database->SetConnected(true);
       database->SetSessionName("Other");
     },
     "Cannot perform this operation on an open database."},
    {"opening without a database name",
     [](TComponent& form) { (new TQuireDatabase(&form))->SetConnected(true); },
     "Database name is missing."},
    {"database name starting with a digit", [](TComponent& form) { NamedDatabase(form, "1Notes"); },
     "Database name 1Notes is not valid."},
    {"database name that is a path", [](TComponent& form) { NamedDatabase(form, "data/notes"); },
     "Database name data/notes is not valid."},
    {"database name taken in the session",
     [](TComponent& form) {
       NamedDatabase(form, "Notes");
       NamedDatabase(form, "NOTES");
     },
     "Database name NOTES already exists."},
};

class Messages : public SessionTest, public ::testing::WithParamInterface<MessageCase> {};

TEST_P(Messages, AreRaisedWordForWord) {
  TComponent form(nullptr);
  EXPECT_EQ(ErrorText<EDatabaseError>([&] { GetParam().action(form); }), GetParam().message)
      << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(SessionsAndDatabases, Messages, ::testing::ValuesIn(kMessages));

}  // namespace
}  // namespace jw
