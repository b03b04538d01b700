// Tables shared with real second processes (the table helper, started with
// exec): exclusive opens and file changes refused while open elsewhere,
// readers against writers, record locks and change detection, transactions
// seen whole or not at all, a killed holder, a close through another path,
// no deadlock, and a soak of several processes ending with every invariant.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <sstream>
#include <vector>

#include "tests/engine/core/table_ops.h"
#include "tests/engine/core/table_peer.h"
#include "tests/engine/core/table_verifier.h"
#include "tests/engine/core/test_table.h"
#include "tests/support/piped_child.h"

namespace jw::test {
namespace {

// The answer the helper gives to "live" for these records.
std::string LiveAnswer(const std::map<int32_t, int32_t>& live) {
  std::ostringstream out;
  out << "ok " << live.size();
  for (const auto& [number, value] : live) out << " " << number << "=" << value;
  return out.str();
}

class TableSharingTest : public testing::Test {
 protected:
  void SetUp() override { CreateSmallTable(directory_, "T"); }
  std::unique_ptr<TDataTable> Open(bool exclusive = false) {
    return OpenSmallTable(directory_, "T", exclusive);
  }
  std::string OpenCommand(bool exclusive = false) const {
    return "open " + dir_.Path("") + " T" + (exclusive ? " exclusive" : "");
  }
  // The peer is up and has the table open.
  bool Joined(Peer& peer) const { return peer.Ready() && peer.Ask(OpenCommand()) == "ok"; }
  // Closes this process's table and checks the files.
  void CloseAndVerify(std::unique_ptr<TDataTable>& table) const {
    table.reset();
    EXPECT_EQ(VerifyTable(dir_.Path("T.DAT")), std::vector<std::string>());
  }

  ScratchDir dir_;
  TestDirectory directory_{dir_.Path("")};
};

TEST_F(TableSharingTest, ExclusiveOpensAndFileChangesAreRefusedWhileOpenElsewhere) {
  Peer peer;
  ASSERT_TRUE(peer.Ready());
  {
    auto table = Open();
    TableOps(*table).Insert(1);
    TableOps(*table).Insert(2);
  }
  {
    auto table = Open(true);
    EXPECT_EQ(peer.Ask(OpenCommand()), "err 11013");
  }
  EXPECT_EQ(peer.Ask(OpenCommand(true)), "ok");
  EXPECT_EQ(ErrorCodeOf([&] { Open(); }), kErrAccessDenied);
  EXPECT_EQ(peer.Ask("close"), "ok");

  EXPECT_EQ(peer.Ask(OpenCommand()), "ok");
  TDataTable other(&directory_);
  other.SetName("T");
  EXPECT_EQ(ErrorCodeOf([&] { other.DeleteFiles(); }), kErrAccessDenied);
  EXPECT_EQ(ErrorCodeOf([&] { other.RenameFiles("U", false); }), kErrAccessDenied);
  EXPECT_EQ(ErrorCodeOf([&] { other.CreateFiles(SmallTableDefinition()); }), kErrAccessDenied);
  EXPECT_EQ(peer.Ask("live"), "ok 2 1=1 2=2");
  EXPECT_EQ(peer.Ask("close"), "ok");

  // And the other way round.
  auto table = Open();
  EXPECT_EQ(peer.Ask("delete-table " + dir_.Path("") + " T"), "err 11013");
  EXPECT_EQ(peer.Ask("rename-table " + dir_.Path("") + " T U"), "err 11013");
  EXPECT_EQ(TableOps(*table).Live(), (std::map<int32_t, int32_t>{{1, 1}, {2, 2}}));
  CloseAndVerify(table);
}

TEST_F(TableSharingTest, AReaderMakesTheWriterWaitAndReadersShare) {
  Peer peer;
  ASSERT_TRUE(Joined(peer));
  auto table = Open();
  ASSERT_EQ(peer.Ask("retries 2"), "ok");
  {
    TScopedSemaphoreRetries few(2);
    ASSERT_EQ(peer.Ask("read-lock"), "ok");
    EXPECT_EQ(ErrorCodeOf([&] { table->LockForWrite(); }), kErrLockFailure);
    table->LockForRead();
    table->UnlockForRead();
    ASSERT_EQ(peer.Ask("read-unlock"), "ok");
    table->LockForWrite();
    EXPECT_EQ(peer.Ask("read-lock"), "err 10249");
    EXPECT_EQ(peer.Ask("insert 5"), "err 10249");
    table->UnlockForWrite();
  }
  // With its full retries the writer waits until the reader lets go.
  peer.Send("read-lock-for 100");
  ASSERT_EQ(peer.Line(), "ok");
  table->LockForWrite();
  table->UnlockForWrite();
}

TEST_F(TableSharingTest, RecordLocksAndChangesAreSeenByTheOtherProcess) {
  Peer peer;
  ASSERT_TRUE(Joined(peer));
  auto table = Open();
  TableOps ops(*table);
  EXPECT_EQ(peer.Ask("insert 10"), "ok 1");
  EXPECT_EQ(peer.Ask("insert 20"), "ok 2");
  EXPECT_EQ(ops.Live(), (std::map<int32_t, int32_t>{{1, 10}, {2, 20}}));
  ops.Edit(1, 10, 11);
  EXPECT_EQ(peer.Ask("value 1"), "ok 11");

  // Read here, changed there: the edit made from what was read is refused.
  EXPECT_EQ(ops.Value(2), 20);
  EXPECT_EQ(peer.Ask("edit 2 20 21"), "ok");
  EXPECT_EQ(ErrorCodeOf([&] { ops.Edit(2, 20, 22); }), kErrRecordChanged);
  EXPECT_EQ(ops.Value(2), 21);

  EXPECT_EQ(peer.Ask("lock-record 1"), "ok");
  EXPECT_EQ(ErrorCodeOf([&] { table->LockRecord(1); }), kErrRecordInUse);
  EXPECT_EQ(ErrorCodeOf([&] { ops.Delete(1, 11); }), kErrRecordInUse);
  EXPECT_EQ(peer.Ask("unlock-record 1"), "ok");
  table->LockRecord(1);
  EXPECT_EQ(peer.Ask("lock-record 1"), "err 10258");
  table->UnlockRecord(1);

  ops.Delete(1, 11);
  EXPECT_EQ(peer.Ask("live"), "ok 1 2=21");
  CloseAndVerify(table);
}

// Records locked together for a transaction, as an UPDATE locks the ones
// it will change: the other process finds exactly them locked until the
// transaction commits (a record it holds between them is no obstacle), and
// a record it holds among them refuses the set with 10258, leaving nothing
// locked after the rollback.
TEST_F(TableSharingTest, RecordsLockedTogetherAreSeenExactlyUntilTheTransactionEnds) {
  Peer peer;
  ASSERT_TRUE(Joined(peer));
  ASSERT_EQ(peer.Ask("record-retries 0 0"), "ok");
  directory_.lock_retry_count = 0;
  auto table = Open();
  constexpr int32_t kLast = 400;
  std::vector<int32_t> wanted;
  for (int32_t n = 3; n <= kLast; n += 3) wanted.push_back(n);
  // The records the other process finds locked, as a string of 0 and 1.
  const auto locked_there = [&] {
    std::string locked;
    for (int32_t n = 1; n <= kLast; ++n) {
      const std::string answer = peer.Ask("lock-record " + std::to_string(n));
      if (answer == "ok") {
        EXPECT_EQ(peer.Ask("unlock-record " + std::to_string(n)), "ok");
      }
      locked += answer == "ok" ? '0' : '1';
    }
    return locked;
  };
  std::string expected(kLast, '0');
  EXPECT_EQ(peer.Ask("lock-record 100"), "ok");
  table->StartTransaction();
  table->LockRecordsForTransaction(wanted);
  for (const int32_t n : wanted) {
    EXPECT_TRUE(table->IsRecordHeld(n)) << n;
    expected[static_cast<size_t>(n - 1)] = '1';
  }
  expected[99] = '1';
  EXPECT_EQ(locked_there(), expected);
  table->Commit(false);
  for (const int32_t n : wanted) expected[static_cast<size_t>(n - 1)] = '0';
  EXPECT_EQ(locked_there(), expected);

  EXPECT_EQ(peer.Ask("lock-record 201"), "ok");
  EXPECT_EQ(ErrorCodeOf([&] { table->LockRecordsForTransaction(wanted); }), kErrRecordInUse);
  table->Rollback();
  EXPECT_EQ(peer.Ask("unlock-record 201"), "ok");
  EXPECT_EQ(peer.Ask("unlock-record 100"), "ok");
  EXPECT_EQ(locked_there(), std::string(kLast, '0'));
  for (int32_t n = 1; n <= kLast; ++n) EXPECT_FALSE(table->IsRecordHeld(n)) << n;
  CloseAndVerify(table);
}

TEST_F(TableSharingTest, TransactionsAreSeenWholeAfterCommitAndNotAtAllAfterRollback) {
  Peer peer;
  ASSERT_TRUE(Joined(peer));
  auto table = Open();
  TableOps ops(*table);
  ASSERT_EQ(peer.Ask("retries 2"), "ok");
  std::map<int32_t, int32_t> committed{{ops.Insert(1), 1}};

  table->StartTransaction();
  const int32_t second = ops.Insert(2);
  ops.Edit(1, 1, 3);
  EXPECT_EQ(peer.Ask("live"), LiveAnswer(committed));
  EXPECT_EQ(peer.Ask("insert 9"), "err 10249");
  table->Commit(true);
  committed = {{1, 3}, {second, 2}};
  EXPECT_EQ(peer.Ask("live"), LiveAnswer(committed));

  table->StartTransaction();
  ops.Insert(4);
  ops.Delete(1, 3);
  table->Rollback();
  EXPECT_EQ(peer.Ask("live"), LiveAnswer(committed));

  // An interim commit is seen at once and stays; the transaction goes on.
  table->StartTransaction();
  committed[ops.Insert(5)] = 5;
  table->Commit(false);
  EXPECT_EQ(peer.Ask("live"), LiveAnswer(committed));
  EXPECT_EQ(peer.Ask("insert 9"), "err 10249");
  ops.Insert(6);
  table->Rollback();
  EXPECT_EQ(peer.Ask("live"), LiveAnswer(committed));

  // Unlocks inside a transaction wait for its end.
  table->StartTransaction();
  table->LockRecord(1);
  table->UnlockRecord(1);
  EXPECT_EQ(peer.Ask("lock-record 1"), "err 10258");
  table->Commit(true);
  EXPECT_EQ(peer.Ask("lock-record 1"), "ok");

  // The other process's transaction keeps this one out until it ends.
  TScopedSemaphoreRetries few(2);
  EXPECT_EQ(peer.Ask("start"), "ok");
  EXPECT_EQ(ErrorCodeOf([&] { table->StartTransaction(); }), kErrLockFailure);
  EXPECT_EQ(peer.Ask("insert 7"), "ok 4");
  EXPECT_EQ(peer.Ask("commit"), "ok");
  committed[4] = 7;
  EXPECT_EQ(ops.Live(), committed);
  CloseAndVerify(table);
}

TEST_F(TableSharingTest, AKilledHolderReleasesEveryLockAtOnce) {
  auto table = Open();
  TableOps ops(*table);
  ops.Insert(1);
  ops.Insert(2);
  Peer writer;
  Peer reader;
  ASSERT_TRUE(Joined(writer) && Joined(reader));
  TScopedSemaphoreRetries once(1);
  ASSERT_EQ(reader.Ask("read-lock"), "ok");
  reader.Kill();
  table->LockForWrite();
  table->UnlockForWrite();

  ASSERT_EQ(writer.Ask("lock-record 2"), "ok");
  ASSERT_EQ(writer.Ask("start"), "ok");
  ASSERT_EQ(writer.Ask("write-lock"), "ok");
  writer.Kill();
  table->LockRecord(2);
  table->StartTransaction();
  ops.Edit(2, 2, 3);
  table->Commit(true);
  // The edit's unlock waited for the commit, which released the record.
  EXPECT_FALSE(table->IsRecordHeld(2));
  CloseAndVerify(table);
}

TEST_F(TableSharingTest, ClosingTheFileThroughAnotherPathKeepsTheLocks) {
  auto table = Open();
  table->LockRecord(1);
  table->LockForRead();
  const std::string link = dir_.Path("link");
  std::filesystem::create_directory_symlink(dir_.Path(""), link);
  for (const std::string& path : {link + "/T.DAT", dir_.Path("./T.DAT")}) {
    TFileHandler other;
    other.SetName(path);
    other.Open();
    other.Close();
  }
  Peer peer;
  ASSERT_TRUE(Joined(peer));
  ASSERT_EQ(peer.Ask("retries 2"), "ok");
  EXPECT_EQ(peer.Ask("lock-record 1"), "err 10258");
  EXPECT_EQ(peer.Ask("write-lock"), "err 10249");
}

TEST_F(TableSharingTest, TwoWaitingSidesNeverDeadlock) {
  auto table = Open();
  Peer peer;
  ASSERT_TRUE(Joined(peer));
  ASSERT_EQ(peer.Ask("record-retries 3 20"), "ok");
  directory_.lock_retry_count = 3;
  directory_.lock_wait_ms = 20;
  table->LockRecord(1);
  ASSERT_EQ(peer.Ask("lock-record 2"), "ok");
  peer.Send("lock-record 1");
  EXPECT_EQ(ErrorCodeOf([&] { table->LockRecord(2); }), kErrRecordInUse);
  EXPECT_EQ(peer.Line(), "err 10258");
}

TEST_F(TableSharingTest, SoakOfSeveralProcessesKeepsEveryInvariant) {
  const int seconds = LongTests() ? 60 : 10;
  const uint32_t seed = std::random_device()();
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  std::vector<std::unique_ptr<Peer>> peers;
  for (uint32_t i = 0; i < 3; ++i) {
    peers.push_back(std::make_unique<Peer>());
    Peer& peer = *peers.back();
    ASSERT_TRUE(Joined(peer));
    ASSERT_EQ(peer.Ask("record-retries 15 5"), "ok");
    peer.Send("soak " + std::to_string(seconds) + " " + std::to_string(seed + i));
  }
  int64_t expected = 0;
  for (auto& peer : peers) {
    std::istringstream answer(peer->Line());
    std::string ok;
    int64_t inserts = -1, deletes = -1;
    answer >> ok >> inserts >> deletes;
    ASSERT_EQ(ok, "ok");
    EXPECT_GT(inserts, 0);
    expected += inserts - deletes;
  }
  auto table = Open();
  EXPECT_EQ(static_cast<int64_t>(TableOps(*table).Live().size()), expected);
  EXPECT_EQ(table->IndexFile().LiveCount(), expected);
  peers.clear();
  CloseAndVerify(table);
}

}  // namespace
}  // namespace jw::test
