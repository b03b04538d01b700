#include "engine/dataset/quire_session.h"

#include <algorithm>

#include "engine/core/engine_startup.h"
#include "engine/dataset/database_user.h"
#include "engine/dataset/dataset_texts.h"
#include "engine/dataset/password_prompt.h"
#include "engine/dataset/quire_database.h"
#include "engine/dataset/session_list.h"
#include "platform/db/db_errors.h"
#include "platform/rtl/strings.h"

namespace jw {

TComponent* TQuireSession::CheckNoAutoSession(TComponent* owner) {
  if (AutoSessionOf(owner) != nullptr) DatabaseError(quire_text::kAutoSessionExists);
  return owner;
}

TQuireSession::TQuireSession(TComponent* owner) : TComponent(CheckNoAutoSession(owner)) {
  Sessions()->AddSession(this);
}

TQuireSession::~TQuireSession() {
  Destroying();
  try {
    if (Active()) CloseSession();
  } catch (...) {
    ApplicationHandleException(this);
  }
  // Owned databases leave while the session is whole; databases of other
  // owners hear of its end through their free notification.
  DestroyComponents();
  SetAutoSessionName(false);
  Sessions()->RemoveSession(this);
}

TQuireSession* TQuireSession::AutoSessionOf(const TComponent* owner) {
  if (owner == nullptr) return nullptr;
  for (int i = 0; i < owner->ComponentCount(); ++i) {
    auto* session = dynamic_cast<TQuireSession*>(owner->Components(i));
    if (session != nullptr && session->auto_session_name_) return session;
  }
  return nullptr;
}

std::string TQuireSession::EngineVersion() const {
  return std::string(kQuireEngineVersion);
}

void TQuireSession::SetActive(bool active) {
  if (ComponentState().Contains(csLoading)) {
    streamed_active_ = active;
    return;
  }
  if (active == Active()) return;
  if (active) {
    OpenSession();
  } else {
    CloseSession();
  }
}

void TQuireSession::OpenSession() {
  TCriticalSectionGuard guard(Sessions()->EngineLock());
  if (OnStartup) OnStartup(this);
  if (session_name_.empty()) DatabaseError(quire_text::kSessionNameMissing);
  TQuireSession* main = DefaultSession();
  if (!default_ && !main->Active()) main->OpenSession();
  if (default_) {
    InitializeEngine();
    engine_session_ = GetEngineSession();
  } else {
    own_engine_session_ = CreateEngineSession();
    engine_session_ = own_engine_session_.get();
  }
  try {
    engine_session_->SetPrivateDir(ShortString(private_dir_));
    engine_session_->SetStrictChangeDetection(strict_change_detection_);
    engine_session_->SetForceBufferFlush(force_buffer_flush_);
    engine_session_->SetLockRetryCount(lock_retry_count_);
    engine_session_->SetLockWaitTime(lock_wait_ms_);
    engine_session_->SetLanguageId(language_id_);
    engine_session_->SetSortId(sort_id_);
  } catch (...) {
    CloseSession();
    throw;
  }
}

void TQuireSession::CloseSession() {
  TCriticalSectionGuard guard(Sessions()->EngineLock());
  // Stopping the engine frees what every other engine session still holds:
  // they close first.
  if (default_) {
    for (int i = Sessions()->Count(); i-- > 0;) {
      if (i >= Sessions()->Count()) continue;
      TQuireSession* other = Sessions()->Sessions(i);
      if (other != this && other->Active()) other->CloseSession();
    }
  }
  SetEngineSession(engine_session_);
  for (size_t i = databases_.size(); i-- > 0;) {
    // Closing one database may free a temporary one of the list.
    if (i >= databases_.size()) continue;
    TQuireDatabase* database = databases_[i];
    if (database->Temporary()) {
      delete database;
    } else {
      database->CloseDatabase();
    }
  }
  if (default_) {
    FinalizeEngine();
  } else {
    FreeEngineSession(std::move(own_engine_session_));
    TQuireSession* main = DefaultSession();
    SetEngineSession(main != nullptr ? main->engine_session_ : nullptr);
  }
  engine_session_ = nullptr;
}

void TQuireSession::EnterEngine() {
  if (engine_entries_ != 0) {
    ++engine_entries_;
    return;
  }
  TCriticalSection& lock = Sessions()->EngineLock();
  lock.Enter();
  engine_entries_ = 1;
  try {
    MakeCurrent();
  } catch (...) {
    engine_entries_ = 0;
    lock.Leave();
    throw;
  }
}

void TQuireSession::LeaveEngine() {
  if (--engine_entries_ == 0) Sessions()->EngineLock().Leave();
}

void TQuireSession::MakeCurrent() {
  // Opens also while the session's properties are being read.
  if (!Active()) OpenSession();
  SetEngineSession(engine_session_);
}

TDataSession* TQuireSession::EngineSession() {
  MakeCurrent();
  return engine_session_;
}

void TQuireSession::CheckInactive() const {
  if (Active()) DatabaseError(quire_text::kSessionActive);
}

void TQuireSession::SetSessionName(const std::string& name) {
  if (auto_session_name_ && !naming_) DatabaseError(quire_text::kAutoSessionActive);
  CheckInactive();
  if (!name.empty()) {
    TQuireSession* other = Sessions()->FindSession(name);
    if (other != nullptr && other != this) DatabaseErrorFmt(quire_text::kSessionNameExists, name);
  }
  session_name_ = name;
}

void TQuireSession::SetAutoSessionName(bool value) {
  if (value == auto_session_name_) return;
  if (value) {
    CheckInactive();
    if (Owner() != nullptr) {
      for (int i = 0; i < Owner()->ComponentCount(); ++i) {
        TComponent* sibling = Owner()->Components(i);
        if (sibling != this && dynamic_cast<TQuireSession*>(sibling) != nullptr) {
          DatabaseError(quire_text::kAutoSessionOnly);
        }
      }
    }
    auto_number_ = -1;
    auto_number_ = Sessions()->TakeAutoNumber();
    NameAutoSession();
  } else if (auto_number_ >= 0) {
    Sessions()->ReleaseAutoNumber(auto_number_);
    auto_number_ = -1;
  }
  auto_session_name_ = value;
}

void TQuireSession::NameAutoSession() {
  naming_ = true;
  try {
    SetSessionName(Format("%s_%d", Name(), auto_number_ + 1));
  } catch (...) {
    naming_ = false;
    throw;
  }
  naming_ = false;
  PropagateName();
}

void TQuireSession::PropagateName() {
  if (Owner() == nullptr) return;
  for (int i = 0; i < Owner()->ComponentCount(); ++i) {
    TComponent* component = Owner()->Components(i);
    if (auto* user = dynamic_cast<TQuireDatabaseUser*>(component)) {
      if (!SameText(user->SessionName(), session_name_)) user->SetSessionName(session_name_);
    } else if (auto* database = dynamic_cast<TQuireDatabase*>(component)) {
      if (!SameText(database->SessionName(), session_name_)) {
        database->SetSessionName(session_name_);
      }
    }
  }
}

void TQuireSession::SetName(const std::string& name) {
  TComponent::SetName(name);
  if (auto_session_name_) NameAutoSession();
}

void TQuireSession::Loaded() {
  TComponent::Loaded();
  try {
    if (auto_session_name_) PropagateName();
    if (streamed_active_) SetActive(true);
  } catch (...) {
    if (!ComponentState().Contains(csDesigning)) throw;
    ApplicationHandleException(this);
  }
}

void TQuireSession::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  // A component built on the owner asks AutoSessionOf itself; this catches
  // those moved onto it.
  if (operation != opInsert || !auto_session_name_) return;
  if (auto* user = dynamic_cast<TQuireDatabaseUser*>(component)) {
    user->StoreSessionName(session_name_);
  } else if (auto* database = dynamic_cast<TQuireDatabase*>(component)) {
    database->AttachSession(this);
  }
}

template <class T, class Apply>
void TQuireSession::ChangeSetting(T& field, const T& value, Apply apply) {
  if (!Active()) {
    field = value;
    return;
  }
  TEngineLock lock(*this);
  if (field == value) return;
  field = value;
  apply(*engine_session_, value);
}

void TQuireSession::SetPrivateDir(const std::string& directory) {
  ChangeSetting(private_dir_, directory,
                [](TDataSession& s, const std::string& v) { s.SetPrivateDir(ShortString(v)); });
}

void TQuireSession::SetForceBufferFlush(bool value) {
  ChangeSetting(force_buffer_flush_, value,
                [](TDataSession& s, bool v) { s.SetForceBufferFlush(v); });
}

void TQuireSession::SetStrictChangeDetection(bool value) {
  ChangeSetting(strict_change_detection_, value,
                [](TDataSession& s, bool v) { s.SetStrictChangeDetection(v); });
}

void TQuireSession::SetLockRetryCount(uint8_t value) {
  ChangeSetting(lock_retry_count_, value,
                [](TDataSession& s, uint8_t v) { s.SetLockRetryCount(v); });
}

void TQuireSession::SetLockWaitTime(uint16_t ms) {
  ChangeSetting(lock_wait_ms_, ms, [](TDataSession& s, uint16_t v) { s.SetLockWaitTime(v); });
}

void TQuireSession::SetLanguageID(uint16_t value) {
  ChangeSetting(language_id_, value, [](TDataSession& s, uint16_t v) { s.SetLanguageId(v); });
}

void TQuireSession::SetSortID(uint16_t value) {
  ChangeSetting(sort_id_, value, [](TDataSession& s, uint16_t v) { s.SetSortId(v); });
}

void TQuireSession::AddPassword(const std::string& password) {
  TEngineLock lock(*this);
  engine_session_->AddPassword(ShortString(password));
}

void TQuireSession::RemovePassword(const std::string& password) {
  TEngineLock lock(*this);
  engine_session_->RemovePassword(password);
}

void TQuireSession::RemoveAllPasswords() {
  TEngineLock lock(*this);
  engine_session_->RemoveAllPasswords();
}

bool TQuireSession::PasswordCallback() {
  if (OnPassword) {
    bool continue_open = false;
    OnPassword(this, continue_open);
    return continue_open;
  }
  const TPasswordPrompt prompt = PasswordPrompt();
  return prompt != nullptr && prompt(*this);
}

TQuireDatabase* TQuireSession::OpenDatabase(const std::string& name, TComponent* owner) {
  TEngineLock lock(*this);
  TQuireDatabase* database = FindDatabaseForOwner(name, owner);
  std::unique_ptr<TQuireDatabase> made;
  if (database == nullptr) {
    made = std::make_unique<TQuireDatabase>(this);
    made->temporary_ = true;
    made->SetDatabaseName(name);
    made->SetKeepConnection(keep_connections_);
    database = made.get();
  }
  database->SetConnected(true);
  made.release();
  ++database->in_use_;
  return database;
}

void TQuireSession::ReleaseDatabase(TQuireDatabase* database) {
  if (database->in_use_ > 0) --database->in_use_;
  if (database->in_use_ != 0 || database->keep_connection_) return;
  if (!database->temporary_) {
    database->CloseDatabase();
  } else if (!database->ComponentState().Contains(csDestroying)) {
    delete database;
  }
}

TQuireDatabase* TQuireSession::FindDatabase(const std::string& name) const {
  for (TQuireDatabase* database : databases_) {
    if (database->DatabaseName().empty() && !database->temporary_) continue;
    if (SameText(database->DatabaseName(), name)) return database;
  }
  return nullptr;
}

TQuireDatabase* TQuireSession::FindDatabaseForOwner(const std::string& name,
                                                    const TComponent* owner) const {
  if (owner != nullptr) {
    for (TQuireDatabase* database : databases_) {
      if (database->Owner() == owner && database->handle_shared_ &&
          SameText(database->DatabaseName(), name)) {
        return database;
      }
    }
  }
  return FindDatabase(name);
}

TDataDirectory* TQuireSession::FindSharedDirectory(const std::string& name) const {
  for (TQuireDatabase* database : databases_) {
    if (database->Connected() && database->handle_shared_ &&
        SameText(database->DatabaseName(), name)) {
      return database->directory_;
    }
  }
  return nullptr;
}

void TQuireSession::AddDatabase(TQuireDatabase* database) {
  databases_.push_back(database);
}

void TQuireSession::RemoveDatabase(TQuireDatabase* database) {
  std::erase(databases_, database);
}

}  // namespace jw
