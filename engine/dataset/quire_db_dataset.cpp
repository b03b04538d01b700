#include "engine/dataset/quire_db_dataset.h"

#include "engine/dataset/dataset_texts.h"
#include "engine/dataset/quire_database.h"
#include "engine/dataset/quire_session.h"
#include "engine/dataset/session_list.h"
#include "platform/db/db_errors.h"

namespace jw {
namespace {

constexpr uint8_t kReasonCount = 16;

uint16_t ReasonBit(uint8_t reason) {
  return static_cast<uint16_t>(1u << reason);
}

}  // namespace

TQuireDBDataSet::TQuireDBDataSet(TComponent* owner) : TQuireDataSet(owner) {
  if (const TQuireSession* session = TQuireSession::AutoSessionOf(owner)) {
    session_name_ = session->SessionName();
  }
}

TQuireDBDataSet::~TQuireDBDataSet() {
  Close();
}

void TQuireDBDataSet::SetDatabaseName(const std::string& name) {
  if (ComponentState().Contains(csLoading)) {
    database_name_ = name;
    return;
  }
  if (name == database_name_) return;
  CheckInactive();
  if (database_ != nullptr) DatabaseError(quire_text::kDatabaseOpen, this);
  database_name_ = name;
  DataEvent(dePropertyChange, 0);
}

void TQuireDBDataSet::SetSessionName(const std::string& name) {
  if (ComponentState().Contains(csLoading)) {
    session_name_ = name;
    return;
  }
  CheckInactive();
  session_name_ = name;
  DataEvent(dePropertyChange, 0);
}

void TQuireDBDataSet::RepairParkedDatabase() {
  // A database component whose session did not exist yet when its
  // SessionName was set stayed in the default session.
  if (session_name_.empty() || database_name_.empty()) return;
  TQuireSession* named = Sessions()->FindSession(session_name_);
  if (named == nullptr || named->FindDatabaseForOwner(database_name_, Owner()) != nullptr) return;
  TQuireDatabase* parked = DefaultSession()->FindDatabaseForOwner(database_name_, Owner());
  if (parked != nullptr) parked->ResolveSession(true);
}

TQuireDatabase* TQuireDBDataSet::GetDatabase() {
  return Sessions()->GetSession(session_name_)->OpenDatabase(database_name_, Owner());
}

void TQuireDBDataSet::SetDatabaseInUse(uint8_t reason, bool in_use) {
  const bool known = reason < kReasonCount;
  if (in_use) {
    if (known && (reasons_ & ReasonBit(reason)) != 0) return;
    if (reasons_ == 0 && database_ == nullptr) {
      RepairParkedDatabase();
      database_ = GetDatabase();
      database_->AddDataSet(this);
    }
    if (known) reasons_ |= ReasonBit(reason);
    return;
  }
  if (!known || (reasons_ & ReasonBit(reason)) == 0) return;
  reasons_ &= static_cast<uint16_t>(~ReasonBit(reason));
  if (reasons_ != 0 || database_ == nullptr) return;
  TQuireDatabase* database = database_;
  database_ = nullptr;
  database->RemoveDataSet(this);
  database->Session()->ReleaseDatabase(database);
}

void TQuireDBDataSet::CloseForDatabase() {
  Close();
}

void TQuireDBDataSet::DatabaseDetached() {
  database_ = nullptr;
  reasons_ = 0;
}

void TQuireDBDataSet::OpenCursor(bool info_query) {
  SetDatabaseInUse(kUseCursor, true);
  TQuireDataSet::OpenCursor(info_query);
}

void TQuireDBDataSet::CloseCursor() {
  TQuireDataSet::CloseCursor();
  SetDatabaseInUse(kUseCursor, false);
}

}  // namespace jw
