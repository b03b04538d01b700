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

TQuireDatabase* TQuireDBDataSet::GetDatabase() {
  return Sessions()->GetSession(session_name_)->OpenDatabase(database_name_, Owner());
}

void TQuireDBDataSet::SetDatabaseInUse(uint8_t reason, bool in_use) {
  const bool known = reason < kReasonCount;
  if (in_use) {
    if (known && (reasons_ & ReasonBit(reason)) != 0) return;
    if (reasons_ == 0 && database_ == nullptr) {
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
