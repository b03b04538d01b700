// TQuireDatabase: a database component, naming one engine database
// directory (a folder, or the in-memory database "Memory") in one session.
// While connected it holds the engine's open directory, on which the table
// and query cursors are made, and the list of the datasets that use it.
// Sessions also make temporary databases for datasets that name no database
// component.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rtl/component.h"

namespace jw {

class TDataDirectory;
class TQuireDatabaseUser;
class TQuireSession;

// True for an empty name and for a name that holds ':', '\' or '/': such a
// database name is the folder itself.
bool IsPathName(std::string_view name);

class TQuireDatabase : public TComponent {
 public:
  // Joins the auto-session of the owner, else the owner when it is a
  // session, else the default session.
  explicit TQuireDatabase(TComponent* owner);
  // Closes the database and leaves its session.
  ~TQuireDatabase() override;

  std::string EngineVersion() const;
  bool Connected() const { return directory_ != nullptr; }
  void SetConnected(bool connected);
  void OpenDatabase();
  // Closes every dataset that uses the database, then releases the engine
  // directory.
  void CloseDatabase();
  void CheckClosed() const;
  void CheckDatabaseName() const;
  // Follows SessionName to its session; when opening, the session must exist
  // and is activated.
  void ResolveSession(bool for_opening);
  void CheckNameUnique(const std::string& name);
  // The folder: a temporary database's DatabaseName when that is a path,
  // else Directory.
  std::string GetDirectory() const;

  const std::string& DatabaseName() const { return database_name_; }
  void SetDatabaseName(const std::string& name);
  const std::string& Directory() const { return directory_name_; }
  void SetDirectory(const std::string& directory);
  bool HandleShared() const { return handle_shared_; }
  void SetHandleShared(bool value) { handle_shared_ = value; }
  bool KeepConnection() const { return keep_connection_; }
  void SetKeepConnection(bool value);
  const std::string& SessionName() const { return session_name_; }
  void SetSessionName(const std::string& name);
  TNotifyEvent BeforeConnect;

  TQuireSession* Session() const { return session_; }
  // The engine's open directory; nullptr while not connected.
  TDataDirectory* EngineDirectory() const { return directory_; }
  bool Temporary() const { return temporary_; }
  // How many datasets hold the database through their session.
  int32_t InUseCount() const { return in_use_; }

  // The datasets that use the database join and leave its list.
  void AddDataSet(TQuireDatabaseUser* dataset);
  void RemoveDataSet(TQuireDatabaseUser* dataset);
  int DataSetCount() const { return static_cast<int>(datasets_.size()); }

  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;

 private:
  friend class TQuireSession;

  // Leaves the old session's databases and joins the new one's.
  void AttachSession(TQuireSession* session);

  std::vector<TQuireDatabaseUser*> datasets_;
  bool keep_connection_ = true;
  bool temporary_ = false;
  bool streamed_connected_ = false;
  bool handle_shared_ = false;
  int32_t in_use_ = 0;
  TDataDirectory* directory_ = nullptr;
  TQuireSession* session_ = nullptr;
  std::string session_name_;
  std::string database_name_;
  std::string directory_name_;
};

}  // namespace jw
