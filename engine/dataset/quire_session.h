// TQuireSession: the component through which the dataset components reach
// the engine's session level. It owns one engine session (TDataSession) while
// active, keeps the database components attached to it, and enters the one
// global engine lock, re-entrantly through its own counter, around its
// session-level engine work. TEngineLock is the guard for that lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/data_session.h"
#include "platform/rtl/component.h"

namespace jw {

class TQuireDatabase;
class TQuireSessionList;

// Continue starts false; true makes the engine try the open again.
using TQuirePasswordEvent = std::function<void(TPersistent* sender, bool& continue_open)>;

class TQuireSession : public TComponent {
 public:
  // Raises "This auto-session already exists." when a session with
  // AutoSessionName lives on the owner.
  explicit TQuireSession(TComponent* owner);
  ~TQuireSession() override;

  // The session with AutoSessionName set among the owner's components, or
  // nullptr: components created on that owner belong to it.
  static TQuireSession* AutoSessionOf(const TComponent* owner);

  std::string EngineVersion() const;
  bool Active() const { return engine_session_ != nullptr; }
  void SetActive(bool active);
  bool AutoSessionName() const { return auto_session_name_; }
  void SetAutoSessionName(bool value);
  const std::string& SessionName() const { return session_name_; }
  void SetSessionName(const std::string& name);
  bool KeepConnections() const { return keep_connections_; }
  void SetKeepConnections(bool value) { keep_connections_ = value; }
  const std::string& PrivateDir() const { return private_dir_; }
  void SetPrivateDir(const std::string& directory);
  bool ForceBufferFlush() const { return force_buffer_flush_; }
  void SetForceBufferFlush(bool value);
  bool StrictChangeDetection() const { return strict_change_detection_; }
  void SetStrictChangeDetection(bool value);
  uint8_t LockRetryCount() const { return lock_retry_count_; }
  void SetLockRetryCount(uint8_t value);
  uint16_t LockWaitTime() const { return lock_wait_ms_; }
  void SetLockWaitTime(uint16_t ms);
  uint16_t LanguageID() const { return language_id_; }
  void SetLanguageID(uint16_t value);
  uint16_t SortID() const { return sort_id_; }
  void SetSortID(uint16_t value);
  bool IsDefault() const { return default_; }

  TNotifyEvent OnStartup;
  TQuirePasswordEvent OnPassword;

  // The global engine lock. The first enter of the session takes the
  // process-wide critical section and makes the session current, activating
  // it when needed; nested enters only count.
  void EnterEngine();
  void LeaveEngine();
  // Makes the session current (activating it when needed) and returns its
  // engine session.
  TDataSession* EngineSession();

  // The session's table passwords; each call runs under the engine lock.
  void AddPassword(const std::string& password);
  void RemovePassword(const std::string& password);
  void RemoveAllPasswords();
  // What the engine calls for a missing table password: OnPassword when
  // assigned, else the registered password prompt. True: try again.
  bool PasswordCallback();

  // The database of that name for a dataset of owner, opened and counted one
  // use more: a database component of the name, or a temporary one made for
  // it. Under the engine lock.
  TQuireDatabase* OpenDatabase(const std::string& name, TComponent* owner);
  // One use less; at none, unless it keeps its connection, a database is
  // closed and a temporary one freed.
  void ReleaseDatabase(TQuireDatabase* database);
  TQuireDatabase* FindDatabase(const std::string& name) const;
  TQuireDatabase* FindDatabaseForOwner(const std::string& name, const TComponent* owner) const;
  // The engine directory of a connected database of the name with
  // HandleShared set, or nullptr.
  TDataDirectory* FindSharedDirectory(const std::string& name) const;
  void AddDatabase(TQuireDatabase* database);
  void RemoveDatabase(TQuireDatabase* database);
  int DatabaseCount() const { return static_cast<int>(databases_.size()); }
  TQuireDatabase* Databases(int index) const { return databases_.at(static_cast<size_t>(index)); }
  void CheckInactive() const;

  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;
  void SetName(const std::string& name) override;

 private:
  friend class TQuireSessionList;

  static TComponent* CheckNoAutoSession(TComponent* owner);
  void MakeCurrent();
  // Both run inside the global critical section, entered directly rather
  // than through the entry count.
  void OpenSession();
  void CloseSession();
  void NameAutoSession();
  void PropagateName();
  // Stores a setting and, while active, copies it into the engine session
  // under the engine lock when it changed.
  template <class T, class Apply>
  void ChangeSetting(T& field, const T& value, Apply apply);

  TDataSession* engine_session_ = nullptr;
  // The engine session of a session other than the default one; the default
  // session uses the engine's own.
  std::unique_ptr<TDataSession> own_engine_session_;
  std::vector<TQuireDatabase*> databases_;
  bool streamed_active_ = false;
  bool keep_connections_ = true;
  bool default_ = false;
  bool auto_session_name_ = false;
  bool naming_ = false;
  std::string session_name_;
  int auto_number_ = -1;
  std::string private_dir_;
  int32_t engine_entries_ = 0;
  bool force_buffer_flush_ = false;
  bool strict_change_detection_ = false;
  uint8_t lock_retry_count_ = kDefaultLockRetryCount;
  uint16_t lock_wait_ms_ = kDefaultLockWaitMs;
  // Text here is UTF-8, multi-byte as on a double-byte system, so sessions
  // start with the engine's own language.
  uint16_t language_id_ = 0;
  uint16_t sort_id_ = 0;
};

// Holds the session's engine lock for its lifetime.
class TEngineLock {
 public:
  explicit TEngineLock(TQuireSession& session) : session_(session) { session_.EnterEngine(); }
  ~TEngineLock() { session_.LeaveEngine(); }
  TEngineLock(const TEngineLock&) = delete;
  TEngineLock& operator=(const TEngineLock&) = delete;

 private:
  TQuireSession& session_;
};

}  // namespace jw
