// TQuireDBDataSet: a dataset bound to a database component by its
// SessionName and DatabaseName. It holds the database while any of its
// in-use reasons is set (0 while the cursor is open; the table's 3, 4 and 5
// while it creates, deletes or tests its table and reads its definitions),
// and is on the database's list of datasets meanwhile, so that closing the
// database closes it.
#pragma once

#include <cstdint>
#include <string>

#include "engine/dataset/database_user.h"
#include "engine/dataset/quire_dataset.h"

namespace jw {

class TQuireDatabase;

// The in-use reasons that the system takes.
enum TDatabaseUse : uint8_t {
  kUseCursor = 0,
  kUseQueryPrepared = 1,
  kUseTableFiles = 3,
  kUseFieldDefs = 4,
  kUseIndexDefs = 5,
};

class TQuireDBDataSet : public TQuireDataSet, public TQuireDatabaseUser {
 public:
  explicit TQuireDBDataSet(TComponent* owner);
  // Closes the dataset, which lets go of its database.
  ~TQuireDBDataSet() override;

  const std::string& DatabaseName() const { return database_name_; }
  virtual void SetDatabaseName(const std::string& name);
  const std::string& SessionName() const override { return session_name_; }
  void SetSessionName(const std::string& name) override;
  void StoreSessionName(const std::string& name) override { session_name_ = name; }

  // The database held while a reason is set; nullptr otherwise.
  TQuireDatabase* Database() const { return database_; }
  uint16_t InUseReasons() const { return reasons_; }
  // Takes or drops a reason; the first one taken opens the database through
  // the session, the last one dropped releases it.
  virtual void SetDatabaseInUse(uint8_t reason, bool in_use);
  void CloseForDatabase() override;
  void DatabaseDetached() override;

 protected:
  void OpenCursor(bool info_query) override;
  void CloseCursor() override;
  // The named session's database for this dataset's owner, opened.
  TQuireDatabase* GetDatabase();

  std::string database_name_;

 private:
  uint16_t reasons_ = 0;
  TQuireDatabase* database_ = nullptr;
  std::string session_name_;
};

// Holds an in-use reason of a dataset for its lifetime.
class TDatabaseUseGuard {
 public:
  TDatabaseUseGuard(TQuireDBDataSet& dataset, uint8_t reason) : dataset_(dataset), reason_(reason) {
    dataset_.SetDatabaseInUse(reason_, true);
  }
  ~TDatabaseUseGuard() { dataset_.SetDatabaseInUse(reason_, false); }
  TDatabaseUseGuard(const TDatabaseUseGuard&) = delete;
  TDatabaseUseGuard& operator=(const TDatabaseUseGuard&) = delete;

 private:
  TQuireDBDataSet& dataset_;
  uint8_t reason_;
};

}  // namespace jw
