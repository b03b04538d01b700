#include "engine/dataset/session_list.h"

#include <algorithm>
#include <memory>

#include "engine/dataset/dataset_texts.h"
#include "engine/dataset/quire_session.h"
#include "platform/db/db_errors.h"
#include "platform/rtl/strings.h"

namespace jw {

namespace {
std::unique_ptr<TQuireSessionList> g_sessions;
int g_start_count = 0;
}  // namespace

TQuireSessionList::~TQuireSessionList() {
  FreeAllSessions();
}

void TQuireSessionList::AddSession(TQuireSession* session) {
  TCriticalSectionGuard guard(list_lock_);
  if (sessions_.empty() && default_ == nullptr) {
    default_ = session;
    session->default_ = true;
  }
  sessions_.push_back(session);
}

void TQuireSessionList::RemoveSession(TQuireSession* session) {
  TCriticalSectionGuard guard(list_lock_);
  std::erase(sessions_, session);
  if (session == default_) default_ = nullptr;
}

TQuireSession* TQuireSessionList::FindSession(const std::string& name) {
  if (name.empty()) return default_;
  TCriticalSectionGuard guard(list_lock_);
  const auto it = std::find_if(sessions_.begin(), sessions_.end(), [&](TQuireSession* session) {
    return SameText(session->SessionName(), name);
  });
  return it == sessions_.end() ? nullptr : *it;
}

TQuireSession* TQuireSessionList::GetSession(const std::string& name) {
  TQuireSession* session = FindSession(name);
  if (session == nullptr) DatabaseErrorFmt(quire_text::kSessionNameInvalid, name);
  return session;
}

void TQuireSessionList::FreeAllSessions() {
  // Each session leaves the list as it goes. The list lock is not held while
  // a session closes, which takes the engine lock: session-level work takes
  // the engine lock first and the list lock inside it.
  for (;;) {
    TQuireSession* last = nullptr;
    {
      TCriticalSectionGuard guard(list_lock_);
      if (sessions_.empty()) return;
      last = sessions_.back();
    }
    delete last;
  }
}

int TQuireSessionList::Count() {
  TCriticalSectionGuard guard(list_lock_);
  return static_cast<int>(sessions_.size());
}

TQuireSession* TQuireSessionList::Sessions(int index) {
  TCriticalSectionGuard guard(list_lock_);
  return sessions_.at(static_cast<size_t>(index));
}

int TQuireSessionList::TakeAutoNumber() {
  TCriticalSectionGuard guard(engine_lock_);
  const int number = auto_numbers_.OpenBit();
  auto_numbers_.SetBits(number, true);
  return number;
}

void TQuireSessionList::ReleaseAutoNumber(int number) {
  TCriticalSectionGuard guard(engine_lock_);
  auto_numbers_.SetBits(number, false);
}

TQuireSessionList* Sessions() {
  return g_sessions.get();
}

TQuireSession* DefaultSession() {
  return g_sessions ? g_sessions->Default() : nullptr;
}

void InitQuireSessions() {
  if (g_start_count++ > 0) return;
  g_sessions = std::make_unique<TQuireSessionList>();
  auto* session = new TQuireSession(nullptr);
  session->SetSessionName("Default");
}

void DoneQuireSessions() {
  if (g_start_count == 0 || --g_start_count > 0) return;
  // The sessions still reach the list and the default session as they close.
  g_sessions->FreeAllSessions();
  g_sessions.reset();
}

}  // namespace jw
