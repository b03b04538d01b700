#include "engine/dataset/quire_database.h"

#include <algorithm>

#include "engine/core/data_session.h"
#include "engine/dataset/database_user.h"
#include "engine/dataset/dataset_texts.h"
#include "engine/dataset/quire_session.h"
#include "engine/dataset/session_list.h"
#include "platform/db/db_errors.h"
#include "platform/rtl/strings.h"

namespace jw {

namespace {

// A database name that is not a path starts like an identifier; bytes from
// 0x81 to 0xFE start multi-byte letters.
bool CanStartIdentifier(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || byte == '_' ||
         (byte >= 0x81 && byte <= 0xFE);
}

}  // namespace

bool IsPathName(std::string_view name) {
  return name.empty() || name.find_first_of(":\\/") != std::string_view::npos;
}

TQuireDatabase::TQuireDatabase(TComponent* owner) : TComponent(owner) {
  TQuireSession* session = TQuireSession::AutoSessionOf(owner);
  if (session == nullptr) session = dynamic_cast<TQuireSession*>(owner);
  if (session == nullptr) session = DefaultSession();
  session_name_ = session->SessionName();
  AttachSession(session);
}

TQuireDatabase::~TQuireDatabase() {
  Destroying();
  try {
    CloseDatabase();
  } catch (...) {
    ApplicationHandleException(this);
  }
  AttachSession(nullptr);
}

std::string TQuireDatabase::EngineVersion() const {
  return std::string(kQuireEngineVersion);
}

void TQuireDatabase::AttachSession(TQuireSession* session) {
  if (session_ != nullptr) {
    session_->RemoveDatabase(this);
    RemoveFreeNotification(session_);
  }
  session_ = session;
  if (session_ != nullptr) {
    session_->AddDatabase(this);
    FreeNotification(session_);
  }
}

void TQuireDatabase::SetConnected(bool connected) {
  if (ComponentState().Contains(csLoading)) {
    streamed_connected_ = connected;
    return;
  }
  if (connected) {
    OpenDatabase();
  } else {
    CloseDatabase();
  }
}

void TQuireDatabase::OpenDatabase() {
  if (Connected()) return;
  if (BeforeConnect) BeforeConnect(this);
  CheckDatabaseName();
  ResolveSession(true);
  TEngineLock lock(*session_);
  if (handle_shared_) {
    if (TDataDirectory* shared = session_->FindSharedDirectory(database_name_)) {
      // The borrower counts as one more user of the directory, so it stays
      // open for whichever of the two databases closes last.
      shared->AddReference();
      directory_ = shared;
      return;
    }
  }
  const std::string engine_name = IsPathName(database_name_) ? std::string() : database_name_;
  directory_ = session_->EngineSession()->OpenDirectory(ShortString(engine_name),
                                                        ShortString(GetDirectory()));
}

void TQuireDatabase::CloseDatabase() {
  if (!Connected()) return;
  while (!datasets_.empty()) {
    TQuireDatabaseUser* dataset = datasets_.back();
    dataset->CloseForDatabase();
    // A dataset that stays listed after its close (one that was not open
    // but held the database for another reason) is let go here, so that
    // the loop always ends.
    if (std::erase(datasets_, dataset) > 0) dataset->DatabaseDetached();
  }
  session_->EngineSession()->CloseDirectory(directory_);
  directory_ = nullptr;
  in_use_ = 0;
}

void TQuireDatabase::CheckClosed() const {
  if (Connected()) DatabaseError(quire_text::kDatabaseOpen);
}

void TQuireDatabase::CheckDatabaseName() const {
  if (database_name_.empty() && !temporary_) DatabaseError(quire_text::kDatabaseNameMissing);
}

void TQuireDatabase::ResolveSession(bool for_opening) {
  TQuireSession* session =
      for_opening ? Sessions()->GetSession(session_name_) : Sessions()->FindSession(session_name_);
  if (session != nullptr && session != session_) AttachSession(session);
  try {
    CheckNameUnique(database_name_);
  } catch (...) {
    database_name_.clear();
    throw;
  }
  if (for_opening) session_->SetActive(true);
}

void TQuireDatabase::CheckNameUnique(const std::string& name) {
  if (name.empty() || session_ == nullptr) return;
  for (int i = 0; i < session_->DatabaseCount(); ++i) {
    TQuireDatabase* other = session_->Databases(i);
    if (other == this || (other->DatabaseName().empty() && !other->temporary_) ||
        !SameText(other->DatabaseName(), name) || (other->handle_shared_ && handle_shared_)) {
      continue;
    }
    if (!other->temporary_ || other->in_use_ > 0) {
      DatabaseErrorFmt(quire_text::kDatabaseNameExists, name);
    }
    // An idle temporary database gives way to the component of its name.
    delete other;
    return;
  }
}

std::string TQuireDatabase::GetDirectory() const {
  return temporary_ && IsPathName(database_name_) ? database_name_ : directory_name_;
}

void TQuireDatabase::SetDatabaseName(const std::string& name) {
  if (ComponentState().Contains(csLoading)) {
    database_name_ = name;
    return;
  }
  if (name == database_name_) return;
  CheckClosed();
  const bool valid =
      name.empty() || temporary_ || (!IsPathName(name) && CanStartIdentifier(name[0]));
  if (!valid) DatabaseErrorFmt(quire_text::kDatabaseNameInvalid, name);
  CheckNameUnique(name);
  database_name_ = name;
}

void TQuireDatabase::SetDirectory(const std::string& directory) {
  CheckClosed();
  directory_name_ = directory;
}

void TQuireDatabase::SetKeepConnection(bool value) {
  if (value == keep_connection_) return;
  keep_connection_ = value;
  if (!value && in_use_ == 0) CloseDatabase();
}

void TQuireDatabase::SetSessionName(const std::string& name) {
  if (ComponentState().Contains(csLoading)) {
    session_name_ = name;
    return;
  }
  CheckClosed();
  if (name == session_name_) return;
  session_name_ = name;
  ResolveSession(false);
}

void TQuireDatabase::AddDataSet(TQuireDatabaseUser* dataset) {
  datasets_.push_back(dataset);
}

void TQuireDatabase::RemoveDataSet(TQuireDatabaseUser* dataset) {
  std::erase(datasets_, dataset);
}

void TQuireDatabase::Loaded() {
  TComponent::Loaded();
  try {
    if (streamed_connected_) {
      SetConnected(true);
    } else {
      ResolveSession(false);
    }
  } catch (...) {
    if (!ComponentState().Contains(csDesigning)) throw;
    ApplicationHandleException(this);
  }
}

void TQuireDatabase::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  // The session is going: it closed this database already.
  if (operation == opRemove && session_ != nullptr && component == session_) session_ = nullptr;
}

}  // namespace jw
