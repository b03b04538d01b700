// TDataDirectory: one database directory of an engine session, a folder on
// disk or the in-memory database "MEMORY", with the open tables of that
// folder, its reference count and its transaction across all its tables.
// Routines that only look up and refuse return 0 or a negated engine code
// (-11010, -11013); table operations raise.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/data_table.h"

namespace jw {

class TDataSession;

// The one in-memory database, named so in any case.
constexpr const char* kMemoryDatabaseName = "MEMORY";

// Raises the engine error of a negated code such routines return.
inline void RaiseIfRefused(int32_t result, const std::string& table_name) {
  if (result < 0) RaiseEngineError(static_cast<EngineErrorCode>(-result), table_name);
}

class TDataDirectory : public TTableDirectory {
 public:
  // path ends in '/' and is empty for the in-memory database; network_path
  // is the folder's canonical name, which identifies the directory.
  TDataDirectory(TDataSession* session, std::string database_name, std::string path,
                 std::string network_path);
  // Rolls back a running transaction and frees every table; never raises.
  ~TDataDirectory() override;
  TDataDirectory(const TDataDirectory&) = delete;
  TDataDirectory& operator=(const TDataDirectory&) = delete;

  TDataSession* Session() const { return session_; }
  const std::string& DatabaseName() const { return database_name_; }
  const std::string& NetworkPath() const { return network_path_; }
  int32_t ReferenceCount() const { return reference_count_; }
  void AddReference() { ++reference_count_; }
  // The count after one reference less.
  int32_t DropReference() { return --reference_count_; }
  bool InTransaction() const { return in_transaction_; }
  int32_t TableCount() const { return static_cast<int32_t>(tables_.size()); }

  // Opens the table for one more cursor: the listed one, or a new one.
  // -11013 when it is held exclusively, or an exclusive open meets other
  // cursors, unless share is set. A table opened while the directory runs a
  // transaction joins it.
  int32_t OpenTable(const std::string& name, TDataTable*& table, bool exclusive, bool in_memory,
                    bool temporary, bool share, bool repair_index = false);
  // Creates the table's files and opens it for one cursor: -11010 for a
  // name without a base name, -11013 when a cursor holds a table of the name.
  int32_t CreateTable(const std::string& name, const TTableDefinition& definition, bool in_memory,
                      bool exclusive, TDataTable*& table);
  // One cursor fewer; a table no cursor and no transaction holds is freed.
  // -11010 when the table is not this directory's.
  int32_t CloseTable(TDataTable* table, bool discard);
  // -11013 while a cursor or transaction holds the table.
  int32_t RenameTable(const std::string& name, const std::string& new_name, bool to_backup,
                      bool in_memory);
  int32_t DeleteTable(const std::string& name, bool in_memory);
  bool TableExists(const std::string& name, bool in_memory) const;
  // A bare name "<first five digits of the thread id><counter>.DAT" whose
  // data file this call created empty, so that no other thread or process
  // picks it too.
  std::string GetTempTableName(bool in_memory);

  // Starts the transaction of every open table; when one cannot start, the
  // ones started roll back and the error is raised.
  void StartTransaction();
  // From the last table to the first; tables no cursor holds any more are
  // then freed. Every table is dealt with; the first error is raised after.
  void Rollback();
  // final false: an interim commit, after which the transaction goes on.
  void Commit(bool final);

  // TTableDirectory: the folder and the session's settings.
  std::string Path() const override { return path_; }
  bool ForceBufferFlush() const override;
  bool StrictChangeDetection() const override;
  int32_t LockRetryCount() const override;
  int32_t LockWaitTimeMs() const override;

 private:
  // The listed table of that name and kind; nullptr when none.
  TDataTable* Find(const std::string& name, bool in_memory) const;
  // Takes a listed table out and frees it.
  void Remove(TDataTable* table);
  // Frees the listed table of the name that no cursor or transaction holds;
  // false when one holds it.
  bool ReleaseIdle(const std::string& name, bool in_memory);
  // Ends the transaction on every table (commit or rollback, last first).
  template <class End>
  void EndTransaction(End end, bool close_idle);

  TDataSession* session_;
  std::string database_name_;
  std::string path_;
  std::string network_path_;
  std::vector<std::unique_ptr<TDataTable>> tables_;
  int32_t reference_count_ = 0;
  bool in_transaction_ = false;
};

}  // namespace jw
