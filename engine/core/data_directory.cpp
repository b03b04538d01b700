#include "engine/core/data_directory.h"

#include <algorithm>
#include <exception>

#include "engine/core/data_session.h"
#include "engine/support/engine_strings.h"
#include "engine/support/support_startup.h"
#include "platform/rtl/file_names.h"
#include "platform/rtl/strings.h"

namespace jw {

namespace {

constexpr int32_t kRefusedName = -static_cast<int32_t>(kErrInvalidPath);
constexpr int32_t kRefusedInUse = -static_cast<int32_t>(kErrAccessDenied);

// A listed table holds on while a cursor or its transaction does.
bool Held(const TDataTable& table) {
  return table.CursorCount() > 0 || table.InTransaction();
}

}  // namespace

TDataDirectory::TDataDirectory(TDataSession* session, std::string database_name, std::string path,
                               std::string network_path)
    : session_(session),
      database_name_(std::move(database_name)),
      path_(std::move(path)),
      network_path_(std::move(network_path)) {}

TDataDirectory::~TDataDirectory() {
  try {
    Rollback();
  } catch (const Exception&) {
    // Freeing the tables below releases what the rollback could not.
  }
  // Each table closes its files, discarding what is not written yet.
  tables_.clear();
}

bool TDataDirectory::ForceBufferFlush() const {
  return session_ != nullptr && session_->ForceBufferFlush();
}

bool TDataDirectory::StrictChangeDetection() const {
  return session_ != nullptr && session_->StrictChangeDetection();
}

int32_t TDataDirectory::LockRetryCount() const {
  return session_ != nullptr ? session_->LockRetryCount() : kDefaultLockRetryCount;
}

int32_t TDataDirectory::LockWaitTimeMs() const {
  return session_ != nullptr ? session_->LockWaitTime() : kDefaultLockWaitMs;
}

// ---- tables ----

TDataTable* TDataDirectory::Find(const std::string& name, bool in_memory) const {
  const std::string forced = ForceFileExt(name, kTableFileExts.Data);
  // In-memory tables live in no file system: their names match without
  // regard to case. Disk tables keep the file system's rule.
  for (const std::unique_ptr<TDataTable>& table : tables_) {
    if (table->InMemory() != in_memory) continue;
    if (in_memory ? SameText(table->Name(), forced) : table->Name() == forced) return table.get();
  }
  return nullptr;
}

void TDataDirectory::Remove(TDataTable* table) {
  const auto it =
      std::find_if(tables_.begin(), tables_.end(),
                   [table](const std::unique_ptr<TDataTable>& t) { return t.get() == table; });
  if (it != tables_.end()) tables_.erase(it);
}

bool TDataDirectory::ReleaseIdle(const std::string& name, bool in_memory) {
  TDataTable* listed = Find(name, in_memory);
  if (listed == nullptr) return true;
  if (Held(*listed)) return false;
  Remove(listed);
  return true;
}

int32_t TDataDirectory::OpenTable(const std::string& name, TDataTable*& table, bool exclusive,
                                  bool in_memory, bool temporary, bool share, bool repair_index) {
  table = nullptr;
  TDataTable* listed = Find(name, in_memory);
  if (listed != nullptr && listed->IsOpen() && listed->CursorCount() > 0) {
    if ((listed->Exclusive() || exclusive) && !share) return kRefusedInUse;
    listed->AddCursor();
    table = listed;
    return 0;
  }
  std::unique_ptr<TDataTable> made;
  if (listed == nullptr) {
    made = std::make_unique<TDataTable>(this);
    made->SetName(name);
    listed = made.get();
  }
  listed->SetExclusive(exclusive);
  listed->SetInMemory(in_memory);
  listed->SetTemporary(temporary);
  listed->Open(repair_index);
  if (in_transaction_) {
    try {
      listed->StartTransaction();
    } catch (...) {
      listed->Close(true);
      throw;
    }
  }
  if (made) tables_.push_back(std::move(made));
  table = listed;
  return 0;
}

int32_t TDataDirectory::CreateTable(const std::string& name, const TTableDefinition& definition,
                                    bool in_memory, bool exclusive, TDataTable*& table) {
  table = nullptr;
  if (Trim(BaseFileName(name)).empty()) return kRefusedName;
  TDataTable* listed = Find(name, in_memory);
  if (listed != nullptr && listed->CursorCount() > 0) return kRefusedInUse;
  std::unique_ptr<TDataTable> made;
  if (listed == nullptr) {
    made = std::make_unique<TDataTable>(this);
    made->SetName(name);
    listed = made.get();
  }
  listed->SetInMemory(in_memory);
  listed->SetExclusive(exclusive);
  listed->SetTemporary(false);
  listed->CreateFiles(definition);
  if (made) tables_.push_back(std::move(made));
  table = listed;
  return 0;
}

int32_t TDataDirectory::CloseTable(TDataTable* table, bool discard) {
  const auto it =
      std::find_if(tables_.begin(), tables_.end(),
                   [table](const std::unique_ptr<TDataTable>& t) { return t.get() == table; });
  if (it == tables_.end()) return kRefusedName;
  try {
    table->Close(discard);
  } catch (...) {
    // The close released the table's locks and files all the same.
    if (!Held(*table)) tables_.erase(it);
    throw;
  }
  if (!Held(*table)) tables_.erase(it);
  return 0;
}

int32_t TDataDirectory::RenameTable(const std::string& name, const std::string& new_name,
                                    bool to_backup, bool in_memory) {
  if (!ReleaseIdle(name, in_memory)) return kRefusedInUse;
  TDataTable table(this);
  table.SetName(name);
  table.SetInMemory(in_memory);
  table.RenameFiles(new_name, to_backup);
  return 0;
}

int32_t TDataDirectory::DeleteTable(const std::string& name, bool in_memory) {
  if (!ReleaseIdle(name, in_memory)) return kRefusedInUse;
  TDataTable table(this);
  table.SetName(name);
  table.SetInMemory(in_memory);
  table.DeleteFiles();
  return 0;
}

bool TDataDirectory::TableExists(const std::string& name, bool in_memory) const {
  if (Find(name, in_memory) != nullptr) return true;
  const std::string file = ForceFileExt(name, kTableFileExts.Data);
  return FileListExists(in_memory ? file : network_path_ + file, in_memory);
}

std::string TDataDirectory::GetTempTableName(bool in_memory) {
  for (;;) {
    const std::string path =
        MakeTempFileName(in_memory ? std::string() : network_path_, ".DAT", in_memory);
    const std::string name = ExtractFileName(path);
    // A listed table keeps its name even where its file is not made yet.
    if (Find(name, in_memory) == nullptr) return name;
  }
}

// ---- transactions ----

void TDataDirectory::StartTransaction() {
  if (in_transaction_) return;
  for (const std::unique_ptr<TDataTable>& table : tables_) {
    try {
      table->StartTransaction();
    } catch (...) {
      // No table may stay in a transaction the directory does not run.
      for (const std::unique_ptr<TDataTable>& started : tables_) {
        try {
          started->Rollback();
        } catch (const Exception&) {
          // The failed start is the error the caller hears of.
        }
      }
      throw;
    }
  }
  in_transaction_ = true;
}

template <class End>
void TDataDirectory::EndTransaction(End end, bool close_idle) {
  std::exception_ptr first;
  for (size_t i = tables_.size(); i-- > 0;) {
    TDataTable* table = tables_[i].get();
    try {
      end(*table);
      if (close_idle && table->CursorCount() == 0) CloseTable(table, true);
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
}

void TDataDirectory::Rollback() {
  if (!in_transaction_) return;
  in_transaction_ = false;
  EndTransaction([](TDataTable& table) { table.Rollback(); }, true);
}

void TDataDirectory::Commit(bool final) {
  if (!in_transaction_) return;
  if (!final) {
    EndTransaction([](TDataTable& table) { table.Commit(false); }, false);
    return;
  }
  in_transaction_ = false;
  EndTransaction(
      [](TDataTable& table) {
        try {
          table.Commit(true);
        } catch (...) {
          // The directory's transaction is over: what this table could not
          // commit is dropped, and its semaphore released.
          try {
            table.Rollback();
          } catch (const Exception&) {
          }
          throw;
        }
      },
      true);
}

}  // namespace jw
