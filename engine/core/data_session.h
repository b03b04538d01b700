// TDataSession: what one user context of the engine shares: its working and
// private directories, the table passwords it knows, its lock retry
// settings, its language and sort order, and the database directories it
// has open. Two names of one folder open one directory. TLentPassword lends
// it a table password for the length of one operation.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/data_directory.h"

namespace jw {

// Record locks are tried again this often, this far apart.
constexpr uint8_t kDefaultLockRetryCount = 15;
constexpr uint16_t kDefaultLockWaitMs = 100;

class TDataSession {
 public:
  // The working directory is the current one, with a trailing '/'.
  TDataSession();
  // Frees every directory, each closing its tables.
  ~TDataSession();
  TDataSession(const TDataSession&) = delete;
  TDataSession& operator=(const TDataSession&) = delete;

  const std::string& WorkingDir() const { return working_dir_; }
  // The private directory, or the working directory while none is set:
  // where temporary and result tables go.
  std::string GetPrivateDir() const;
  // Trimmed, with a trailing '/'; an empty text changes nothing.
  void SetPrivateDir(const std::string& directory);

  // Passwords compare exactly: two that differ in case are two.
  void AddPassword(const std::string& password);
  void RemovePassword(const std::string& password);
  void RemoveAllPasswords();
  bool HasPassword(const std::string& password) const;
  const std::vector<std::string>& Passwords() const { return passwords_; }

  bool ForceBufferFlush() const { return force_buffer_flush_; }
  void SetForceBufferFlush(bool value) { force_buffer_flush_ = value; }
  bool StrictChangeDetection() const { return strict_change_detection_; }
  void SetStrictChangeDetection(bool value) { strict_change_detection_ = value; }
  uint8_t LockRetryCount() const { return lock_retry_count_; }
  void SetLockRetryCount(uint8_t value) { lock_retry_count_ = value; }
  uint16_t LockWaitTime() const { return lock_wait_ms_; }
  void SetLockWaitTime(uint16_t ms) { lock_wait_ms_ = ms; }
  uint16_t LanguageId() const { return language_id_; }
  void SetLanguageId(uint16_t value) { language_id_ = value; }
  uint16_t SortId() const { return sort_id_; }
  void SetSortId(uint16_t value) { sort_id_ = value; }

  // The directory of the database: "MEMORY" (any case) is the in-memory
  // one whatever the path; otherwise the folder (the working directory for
  // an empty path) is identified by its canonical name. An open directory
  // of that identity is shared and counts one reference more.
  TDataDirectory* OpenDirectory(const std::string& database_name, const std::string& path);
  // One reference less; at none the directory is freed. -11013 for a
  // directory not open in this session.
  int32_t CloseDirectory(TDataDirectory* directory);
  int32_t DirectoryCount() const { return static_cast<int32_t>(directories_.size()); }

 private:
  std::string working_dir_;
  std::string private_dir_;
  std::vector<std::string> passwords_;
  bool force_buffer_flush_ = false;
  bool strict_change_detection_ = false;
  uint8_t lock_retry_count_ = kDefaultLockRetryCount;
  uint16_t lock_wait_ms_ = kDefaultLockWaitMs;
  std::vector<std::unique_ptr<TDataDirectory>> directories_;
  uint16_t language_id_ = 0;
  uint16_t sort_id_ = 0;
};

// Lends the session a table password for as long as it lives; a password
// the session knew already stays when it ends.
class TLentPassword {
 public:
  TLentPassword(TDataSession* session, const std::string& password)
      : session_(session != nullptr && !session->HasPassword(password) ? session : nullptr),
        password_(password) {
    if (session_ != nullptr) session_->AddPassword(password_);
  }
  ~TLentPassword() {
    if (session_ != nullptr) session_->RemovePassword(password_);
  }
  TLentPassword(const TLentPassword&) = delete;
  TLentPassword& operator=(const TLentPassword&) = delete;

 private:
  TDataSession* session_;
  std::string password_;
};

}  // namespace jw
