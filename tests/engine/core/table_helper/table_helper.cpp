// The second process of the table-sharing tests: runs the command loop over
// one open table of the small definition, doing what a cursor does with it.
// Commands (answers "ok", "ok <value>" or "err <engine code>"):
//   retries <n>               the semaphore retries, lowered for the test
//   record-retries <n> <ms>   the session's record-lock retries and wait
//   open <folder/> <name> [exclusive]    close
//   create <folder/> <name>   a new table, left open
//   delete-table <folder/> <name> | rename-table <folder/> <name> <new name>
//   insert <value>            ok <record number>
//   edit <n> <expected> <value>   delete <n> <expected>
//   value <n>                 ok <value> or ok none
//   live                      ok <count> <n>=<value> ... in record order
//   read-lock | read-unlock | write-lock | write-unlock
//   read-lock-for <ms>        answers, then holds the read lock that long
//   lock-record <n> | unlock-record <n>
//   start | commit | interim | rollback
//   soak <seconds> <seed>     random inserts, edits and deletes of unique
//                             values, alone or in transactions committed or
//                             rolled back; ok <inserts> <deletes> committed
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "engine/core/data_table.h"
#include "tests/engine/core/table_ops.h"
#include "tests/engine/support/lock_helper/command_loop.h"

namespace jw::test {
namespace {

class Helper {
 public:
  void Run(const std::string& command, std::istringstream& args);

 private:
  void Open(std::istringstream& args, bool create);
  struct TSoakCounts {
    int32_t inserts = 0;
    int32_t deletes = 0;
    // Values are unique across the processes of a soak.
    int32_t next_value = 0;
  };
  // One random insert, edit or delete, counted in counts.
  void RandomChange(std::mt19937& rng, TSoakCounts& counts);
  void Soak(int32_t seconds, uint32_t seed);
  TDataTable& Table() {
    if (!table_) RaiseEngineError(kErrInvalidHandle, "");
    return *table_;
  }

  std::unique_ptr<TestDirectory> directory_;
  std::unique_ptr<TDataTable> table_;
  std::unique_ptr<TScopedSemaphoreRetries> retries_;
  int32_t record_retries_ = 0;
  int32_t record_wait_ms_ = 1;
};

void Helper::Open(std::istringstream& args, bool create) {
  std::string folder, name, option;
  args >> folder >> name >> option;
  table_.reset();
  directory_ = std::make_unique<TestDirectory>(folder);
  directory_->lock_retry_count = record_retries_;
  directory_->lock_wait_ms = record_wait_ms_;
  auto table = std::make_unique<TDataTable>(directory_.get());
  table->SetName(name);
  table->SetExclusive(option == "exclusive");
  if (create) {
    table->CreateFiles(SmallTableDefinition());
  } else {
    table->Open();
  }
  table_ = std::move(table);
}

void Helper::RandomChange(std::mt19937& rng, TSoakCounts& counts) {
  TableOps ops(Table());
  const int kind = static_cast<int>(rng() % 3);
  if (kind == 0) {
    ops.Insert(counts.next_value++);
    ++counts.inserts;
    return;
  }
  const int32_t count = Table().DataFile().RecordCount();
  if (count == 0) return;
  const int32_t number = static_cast<int32_t>(rng() % count) + 1;
  const std::optional<int32_t> value = ops.Value(number);
  if (!value) return;
  if (kind == 1) {
    ops.Edit(number, *value, counts.next_value++);
  } else {
    ops.Delete(number, *value);
    ++counts.deletes;
  }
}

void Helper::Soak(int32_t seconds, uint32_t seed) {
  std::mt19937 rng(seed);
  TSoakCounts done;
  done.next_value = static_cast<int32_t>(getpid() % 20000) * 100000;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    // Every fourth round is a transaction of a few changes, a third of
    // them rolled back; what a round did counts once it is committed.
    const bool transaction = rng() % 4 == 0;
    TSoakCounts round;
    round.next_value = done.next_value;
    try {
      if (transaction) Table().StartTransaction();
      const int changes = transaction ? static_cast<int>(rng() % 5) + 1 : 1;
      for (int i = 0; i < changes; ++i) RandomChange(rng, round);
      done.next_value = round.next_value;
      if (transaction && rng() % 3 == 0) {
        Table().Rollback();
        continue;
      }
      Table().Commit(true);
      done.inserts += round.inserts;
      done.deletes += round.deletes;
    } catch (const EQuireEngineError& e) {
      // Another process had the record, changed it first or held the table
      // longer than the retries: what a user of the table would be told.
      // A change that failed did nothing; a transaction goes as a whole.
      const EngineErrorCode code = e.Code();
      if (code != kErrRecordInUse && code != kErrRecordChanged && code != kErrRecordNotFound &&
          code != kErrLockFailure) {
        throw;
      }
      done.next_value = round.next_value;
      Table().Rollback();
    }
  }
  std::cout << "ok " << done.inserts << " " << done.deletes << std::endl;
}

void Helper::Run(const std::string& command, std::istringstream& args) {
  int32_t a = 0, b = 0, c = 0;
  if (command == "retries") {
    args >> a;
    retries_.reset();
    retries_ = std::make_unique<TScopedSemaphoreRetries>(a);
  } else if (command == "record-retries") {
    args >> record_retries_ >> record_wait_ms_;
    if (directory_) {
      directory_->lock_retry_count = record_retries_;
      directory_->lock_wait_ms = record_wait_ms_;
    }
  } else if (command == "open" || command == "create") {
    Open(args, command == "create");
  } else if (command == "close") {
    if (table_) table_->Close(false);
    table_.reset();
  } else if (command == "delete-table" || command == "rename-table") {
    std::string folder, name, new_name;
    args >> folder >> name >> new_name;
    TestDirectory directory(folder);
    TDataTable other(&directory);
    other.SetName(name);
    if (command == "delete-table") {
      other.DeleteFiles();
    } else {
      other.RenameFiles(new_name, false);
    }
  } else if (command == "insert") {
    args >> a;
    const int32_t number = TableOps(Table()).Insert(a);
    std::cout << "ok " << number << std::endl;
    return;
  } else if (command == "edit") {
    args >> a >> b >> c;
    TableOps(Table()).Edit(a, b, c);
  } else if (command == "delete") {
    args >> a >> b;
    TableOps(Table()).Delete(a, b);
  } else if (command == "value") {
    args >> a;
    const std::optional<int32_t> value = TableOps(Table()).Value(a);
    std::cout << "ok " << (value ? std::to_string(*value) : "none") << std::endl;
    return;
  } else if (command == "live") {
    const std::map<int32_t, int32_t> live = TableOps(Table()).Live();
    std::cout << "ok " << live.size();
    for (const auto& [number, value] : live) std::cout << " " << number << "=" << value;
    std::cout << std::endl;
    return;
  } else if (command == "read-lock") {
    Table().LockForRead();
  } else if (command == "read-unlock") {
    Table().UnlockForRead();
  } else if (command == "read-lock-for") {
    args >> a;
    Table().LockForRead();
    std::cout << "ok" << std::endl;
    std::this_thread::sleep_for(std::chrono::milliseconds(a));
    Table().UnlockForRead();
    return;
  } else if (command == "write-lock") {
    Table().LockForWrite();
  } else if (command == "write-unlock") {
    Table().UnlockForWrite();
  } else if (command == "lock-record") {
    args >> a;
    Table().LockRecord(a);
  } else if (command == "unlock-record") {
    args >> a;
    Table().UnlockRecord(a);
  } else if (command == "start") {
    Table().StartTransaction();
  } else if (command == "commit" || command == "interim") {
    Table().Commit(command == "commit");
  } else if (command == "rollback") {
    Table().Rollback();
  } else if (command == "soak") {
    args >> a >> b;
    Soak(a, static_cast<uint32_t>(b));
    return;
  } else {
    std::cout << "fail" << std::endl;
    return;
  }
  std::cout << "ok" << std::endl;
}

}  // namespace
}  // namespace jw::test

int main() {
  jw::test::Helper helper;
  return jw::test_support::RunCommandLoop(
      [&helper](const std::string& command, std::istringstream& args) {
        helper.Run(command, args);
      });
}
