// File sharing between two processes: the second process is the lock helper,
// started with exec and driven over a pipe, one command per line.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/support/engine_errors.h"
#include "engine/support/file_handler.h"
#include "tests/support/piped_child.h"
#include "tests/support/temp_folder.h"

namespace jw {
namespace {

class LockHelper {
 public:
  LockHelper() : child_(JW_LOCK_HELPER, JW_LOCK_HELPER) {
    ready_ = child_.Out() != nullptr && Reply() == "ready";
  }

  ~LockHelper() { child_.Kill(); }

  bool Ready() const { return ready_; }

  std::string Send(const std::string& command) {
    Post(command);
    return Reply();
  }

  // Sends a command whose reply is read later.
  void Post(const std::string& command) {
    std::fputs((command + "\n").c_str(), child_.In());
    std::fflush(child_.In());
  }

  // Whether the reply to a posted command has come.
  bool ReplyReady() {
    pollfd out = {fileno(child_.Out()), POLLIN, 0};
    return poll(&out, 1, 0) != 0;
  }

  std::string Reply() {
    char line[256];
    if (std::fgets(line, sizeof line, child_.Out()) == nullptr) return "<no reply>";
    std::string s(line);
    if (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
  }

  // Ends the helper at once, as a crash would.
  void Kill() { child_.Kill(); }

 private:
  test_support::PipedChild child_;
  bool ready_ = false;
};

// Open to every user: the helper process may drop root.
class TempFolder : public test_support::TempFolder {
 public:
  TempFolder() { chmod(Path().c_str(), 0777); }
};

using test_support::ReadFileBytes;

EngineErrorCode CodeOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EQuireEngineError& e) {
    return e.Code();
  }
  return 0;
}

constexpr int64_t kSemaphore = 0x7FFFFFFF;

class FileSharing : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(helper_.Ready()) << "cannot start " << JW_LOCK_HELPER;
    name_ = folder_.File("table.DAT");
    std::ofstream(name_, std::ios::binary).flush();
    handler_.SetName(name_);
  }

  TempFolder folder_;
  LockHelper helper_;
  std::string name_;
  TFileHandler handler_;
};

TEST_F(FileSharing, LockOnAnEmptyFileBlocksTheOtherProcessUntilReleased) {
  handler_.Open();
  ASSERT_EQ(helper_.Send("open " + name_), "ok 0");
  EXPECT_EQ(helper_.Send("lock 2147483647 1"), "ok");
  EXPECT_EQ(handler_.SetRegionLock(kSemaphore, 1, true), OsLockResult::Busy);
  EXPECT_EQ(helper_.Send("unlock 2147483647 1"), "ok");
  EXPECT_EQ(handler_.SetRegionLock(kSemaphore, 1, true), OsLockResult::Taken);
  EXPECT_EQ(helper_.Send("lock 2147483647 1"), "busy");
  EXPECT_EQ(handler_.SetRegionLock(kSemaphore, 1, false), OsLockResult::Taken);
  EXPECT_EQ(helper_.Send("lock 2147483647 1"), "ok");
  handler_.Close();
}

TEST_F(FileSharing, LocksGoWithAKilledHolder) {
  handler_.Open();
  ASSERT_EQ(helper_.Send("open " + name_), "ok 0");
  ASSERT_EQ(helper_.Send("lock 2147483647 1"), "ok");
  EXPECT_EQ(handler_.SetRegionLock(kSemaphore, 1, true), OsLockResult::Busy);
  helper_.Kill();
  EXPECT_EQ(handler_.SetRegionLock(kSemaphore, 1, true), OsLockResult::Taken);
  handler_.Close();
}

TEST_F(FileSharing, SecondLockOfOneByteInOneProcessFails) {
  handler_.Open();
  EXPECT_EQ(handler_.SetRegionLock(kSemaphore, 1, true), OsLockResult::Taken);
  EXPECT_EQ(handler_.SetRegionLock(kSemaphore, 1, true), OsLockResult::Busy);
  TFileHandler second;
  second.SetName(name_);
  second.Open();
  EXPECT_EQ(second.SetRegionLock(kSemaphore, 1, true), OsLockResult::Busy);
  second.Close();
  handler_.Close();
}

TEST_F(FileSharing, UnlockOfAWiderRangeFailsAndKeepsTheRecordLocked) {
  handler_.Open();
  ASSERT_EQ(helper_.Send("open " + name_), "ok 0");
  const int64_t record = 0x7FFFFFFE - 1;
  ASSERT_EQ(handler_.SetRegionLock(record, 1, true), OsLockResult::Taken);
  EXPECT_EQ(handler_.SetRegionLock(0x7FFF0000, 0xFFFF, false), OsLockResult::Failed);
  EXPECT_EQ(handler_.SetRegionLock(record - 1, 2, false), OsLockResult::Failed);
  EXPECT_EQ(helper_.Send("lock 2147483645 1"), "busy");
  EXPECT_EQ(handler_.SetRegionLock(record, 1, false), OsLockResult::Taken);
  EXPECT_EQ(helper_.Send("lock 2147483645 1"), "ok");
  handler_.Close();
}

TEST_F(FileSharing, WritersRangeWaitsForReaders) {
  handler_.Open();
  ASSERT_EQ(helper_.Send("open " + name_), "ok 0");
  ASSERT_EQ(helper_.Send("lock 2147450880 1"), "ok");  // reader slot 0x7FFF8000
  EXPECT_EQ(handler_.SetRegionLock(0x7FFF0000, 0xFFFF, true), OsLockResult::Busy);
  ASSERT_EQ(helper_.Send("unlock 2147450880 1"), "ok");
  EXPECT_EQ(handler_.SetRegionLock(0x7FFF0000, 0xFFFF, true), OsLockResult::Taken);
  EXPECT_EQ(helper_.Send("lock 2147483646 1"), "busy");
  EXPECT_EQ(helper_.Send("lock 2147483647 1"), "ok");  // outside the writers' range
  handler_.Close();
}

TEST_F(FileSharing, ExclusiveOpenAgainstAnyOpenBothWays) {
  ASSERT_EQ(helper_.Send("open " + name_), "ok 0");
  handler_.SetExclusive(true);
  EXPECT_EQ(CodeOf([&] { handler_.Open(); }), kErrAccessDenied);
  EXPECT_FALSE(handler_.IsOpen());
  ASSERT_EQ(helper_.Send("close"), "ok");
  handler_.Open();
  EXPECT_EQ(helper_.Send("open " + name_), "err 11013");
  EXPECT_EQ(helper_.Send("open-exclusive " + name_), "err 11013");
  handler_.Close();
  ASSERT_EQ(helper_.Send("open-exclusive " + name_), "ok 0");
  handler_.SetExclusive(false);
  EXPECT_EQ(CodeOf([&] { handler_.Open(); }), kErrAccessDenied);
}

TEST_F(FileSharing, CreateDeleteAndRenameOfAHeldFileAreRefused) {
  handler_.Open();
  handler_.Write("whole data", 10);
  handler_.Flush();
  EXPECT_EQ(helper_.Send("create " + name_), "err 11013");
  EXPECT_EQ(helper_.Send("delete " + name_), "err 11013");
  EXPECT_EQ(helper_.Send("rename " + name_ + " " + folder_.File("moved.DAT")), "err 11013");
  EXPECT_EQ(ReadFileBytes(name_), "whole data");
  EXPECT_FALSE(std::filesystem::exists(folder_.File("moved.DAT")));
  handler_.Close();
  EXPECT_EQ(helper_.Send("rename " + name_ + " " + folder_.File("moved.DAT")), "ok");
  EXPECT_EQ(helper_.Send("delete " + folder_.File("moved.DAT")), "ok");
}

TEST_F(FileSharing, CreatedFileIsHeldExclusively) {
  handler_.CreateFile();
  EXPECT_EQ(helper_.Send("open " + name_), "err 11013");
  handler_.Close();
  EXPECT_EQ(helper_.Send("open " + name_), "ok 0");
}

TEST_F(FileSharing, AnotherPathToTheFileDoesNotDropLocks) {
  handler_.Open();
  ASSERT_EQ(handler_.SetRegionLock(kSemaphore, 1, true), OsLockResult::Taken);
  const std::string link = folder_.File("link.DAT");
  std::filesystem::create_symlink(name_, link);
  TFileHandler other;
  other.SetName(link);
  other.Open();
  other.Close();
  ASSERT_EQ(helper_.Send("open " + name_), "ok 0");
  EXPECT_EQ(helper_.Send("lock 2147483647 1"), "busy");
  handler_.Close();
  EXPECT_EQ(helper_.Send("lock 2147483647 1"), "ok");
}

TEST_F(FileSharing, ReadOnlyFileForAnUnprivilegedUser) {
  ASSERT_EQ(helper_.Send("drop-root"), "ok");
  const std::string name = folder_.File("readonly.DAT");
  std::ofstream(name) << "fixed";
  chmod(name.c_str(), 0444);
  EXPECT_EQ(helper_.Send("open " + name), "ok 1");
  EXPECT_EQ(helper_.Send("write more"), "err 9218");
  EXPECT_EQ(helper_.Send("close"), "ok");
  EXPECT_EQ(helper_.Send("create " + name), "err 11013");
  EXPECT_EQ(ReadFileBytes(name), "fixed");
}

// Bytes locked and released as one step, against a model of who holds
// each byte: this handler, a second handler of this process on the same
// file (its bytes between the asked ones must survive both steps) and the
// other process. After every step the other process finds exactly the
// model's bytes held, so no byte between the asked ones stays locked.
TEST_F(FileSharing, BytesLockedAsOneStepAreExactlyTheOnesAsked) {
  handler_.Open();
  ASSERT_EQ(helper_.Send("open " + name_), "ok 0");
  TFileHandler second;
  second.SetName(name_);
  second.Open();
  constexpr int64_t kBase = 0x7FFFFFFE - 200;
  // The helper answers in lines of fewer than 256 characters.
  constexpr int kBytes = 200;
  enum Holder : char { kFree = '0', kMine, kSecond, kOther };
  std::string model(kBytes, kFree);
  const int rounds = std::getenv("JW_LONG_TESTS") != nullptr ? 400 : 40;
  for (int round = 0; round < rounds; ++round) {
    std::mt19937 random(static_cast<uint32_t>(round));
    SCOPED_TRACE("round " + std::to_string(round));
    const auto pick = [&] { return static_cast<int>(random() % kBytes); };
    // Now and then the second handler or the other process takes a free byte.
    if (int b = pick(); model[b] == kFree && random() % 2 == 0) {
      ASSERT_EQ(second.SetRegionLock(kBase + b, 1, true), OsLockResult::Taken);
      model[b] = kSecond;
    }
    if (int b = pick(); model[b] == kFree && random() % 2 == 0) {
      ASSERT_EQ(helper_.Send("lock " + std::to_string(kBase + b) + " 1"), "ok");
      model[b] = kOther;
    }
    // Lock a random set of bytes; a set meeting a held byte takes nothing.
    std::vector<int64_t> offsets;
    bool free = true;
    for (int b = 0; b < kBytes; ++b) {
      if (random() % 4 != 0 || model[b] == kMine) continue;
      if (model[b] != kFree && random() % 8 != 0) continue;
      free = free && model[b] == kFree;
      offsets.push_back(kBase + b);
    }
    EXPECT_EQ(handler_.SetByteLocks(offsets, true),
              free ? OsLockResult::Taken : OsLockResult::Busy);
    if (free) {
      for (const int64_t o : offsets) model[o - kBase] = kMine;
    }
    // Release a random part of this handler's bytes, and now and then the others'.
    std::vector<int64_t> released;
    for (int b = 0; b < kBytes; ++b) {
      if (model[b] == kMine && random() % 3 == 0) {
        released.push_back(kBase + b);
        model[b] = kFree;
      } else if (model[b] == kSecond && random() % 4 == 0) {
        ASSERT_EQ(second.SetRegionLock(kBase + b, 1, false), OsLockResult::Taken);
        model[b] = kFree;
      } else if (model[b] == kOther && random() % 4 == 0) {
        ASSERT_EQ(helper_.Send("unlock " + std::to_string(kBase + b) + " 1"), "ok");
        model[b] = kFree;
      }
    }
    EXPECT_EQ(handler_.SetByteLocks(released, false), OsLockResult::Taken);
    std::string held = model;
    for (char& c : held) c = c == kFree ? '0' : '1';
    ASSERT_EQ(helper_.Send("probe " + std::to_string(kBase) + " " + std::to_string(kBytes)),
              "ok " + held);
  }
  // A byte not held is refused, and the rest of the set goes all the same.
  std::vector<int64_t> mine;
  for (int b = 0; b < kBytes; ++b) {
    if (model[b] != kMine) continue;
    mine.push_back(kBase + b);
    model[b] = kFree;
  }
  ASSERT_FALSE(mine.empty());
  mine.push_back(kBase + kBytes);
  EXPECT_EQ(handler_.SetByteLocks(mine, false), OsLockResult::Failed);
  for (char& c : model) c = c == kFree ? '0' : '1';
  EXPECT_EQ(helper_.Send("probe " + std::to_string(kBase) + " " + std::to_string(kBytes)),
            "ok " + model);
  second.Close();
  handler_.Close();
}

TEST_F(FileSharing, RegionLocksNeverReachTheShareByte) {
  ASSERT_EQ(helper_.Send("open " + name_), "ok 0");
  EXPECT_EQ(helper_.Send("lock 4294967296 2"), "fail");
  EXPECT_EQ(helper_.Send("unlock 4294967297 1"), "fail");
  EXPECT_EQ(helper_.Send("lock -1 1"), "fail");
  EXPECT_EQ(helper_.Send("lock 100 0"), "fail");
  EXPECT_EQ(helper_.Send("lock 4294967296 1"), "ok");
  // The helper still shares the file: a shared open gets in, an exclusive
  // one does not.
  handler_.Open();
  handler_.Close();
  handler_.SetExclusive(true);
  EXPECT_EQ(CodeOf([&] { handler_.Open(); }), kErrAccessDenied);
}

// One process opens the file in a loop while the other deletes (or renames
// away) and re-creates it. Every open that succeeds must hold the file the
// path names: what it writes is what the path reads back.
TEST_F(FileSharing, AnOpenNeverHoldsADeletedFile) {
  const int churns = std::getenv("JW_LONG_TESTS") != nullptr ? 100000 : 2000;
  helper_.Post("churn " + name_ + " " + std::to_string(churns));
  int opened = 0;
  int stale = 0;
  while (!helper_.ReplyReady()) {
    const EngineErrorCode code = CodeOf([&] { handler_.Open(); });
    if (code != 0) {
      ASSERT_TRUE(code == kErrAccessDenied || code == kErrInvalidPath) << code;
      continue;
    }
    const std::string token = "open " + std::to_string(++opened);
    handler_.Write(token.data(), static_cast<int32_t>(token.size()));
    if (ReadFileBytes(name_).substr(0, token.size()) != token) ++stale;
    handler_.Close();
  }
  const std::string reply = helper_.Reply();
  EXPECT_EQ(stale, 0) << "of " << opened << " opens";
  EXPECT_GT(opened, 0);
  EXPECT_NE(reply, "ok 0");
  EXPECT_EQ(reply.substr(0, 3), "ok ");
}

}  // namespace
}  // namespace jw
