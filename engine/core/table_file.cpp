#include "engine/core/table_file.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "engine/core/data_file.h"
#include "engine/support/scrambler.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/random.h"

namespace jw {

uint64_t TTableFile::NextContentStamp() {
  static std::atomic<uint64_t> last{0};
  return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

void TTableFile::Open() {
  if (IsOpen()) return;
  content_stamp_ = NextContentStamp();
  TFileHandler::Open();
  try {
    ReadOpenedFile();
  } catch (...) {
    Close();
    throw;
  }
}

void TTableFile::Close() {
  if (!IsOpen()) return;
  bodies_written_ = false;
  content_stamp_ = NextContentStamp();
  DropContents();
  TFileHandler::Close();
}

void TTableFile::CloseQuietly() noexcept {
  try {
    Close();
  } catch (const Exception&) {
  }
}

int32_t TTableFile::ReadAt(int64_t offset, uint8_t* buffer, int32_t length, bool allow_short) {
  FileLockGuard guard(*this);
  Seek(offset, 0);
  return Read(buffer, length, allow_short);
}

void TTableFile::WriteAt(int64_t offset, const uint8_t* buffer, int32_t length) {
  content_stamp_ = NextContentStamp();
  FileLockGuard guard(*this);
  Seek(offset, 0);
  Write(buffer, length);
}

void TTableFile::CutAt(int64_t offset) {
  WriteAt(offset, nullptr, 0);
}

namespace {

// The scrambler's stream depends on the position alone (for any header
// size it scrambles), so the first bytes of a scrambled header are its
// first bytes scrambled on their own.
uint32_t CounterStream() {
  uint8_t stream[4] = {};
  ScrambleBuffer(stream, 4, kRecordSeed.K1, kRecordSeed.K2);
  return static_cast<uint32_t>(GetInt32(stream));
}

}  // namespace

const uint32_t TTableFile::kCounterStream = CounterStream();

void TTableFile::EnsureSize(std::vector<uint8_t>& buffer, int64_t size) {
  if (static_cast<int64_t>(buffer.size()) >= size) return;
  const int64_t chunks = (size + kIoBufferChunk - 1) / kIoBufferChunk;
  buffer.resize(chunks * kIoBufferChunk);
}

bool TTableFile::InReadWindow(int64_t offset) const {
  if (window_length_ == 0) return false;
  return offset >= window_offset_ && offset < window_offset_ + window_length_;
}

void TTableFile::FlushIfForced(bool flush) {
  if (flush || owner_->ForceBufferFlush()) Flush();
}

namespace {
std::atomic<int32_t> g_semaphore_retries{kSemaphoreRetries};
}  // namespace

int32_t SemaphoreRetries() {
  return g_semaphore_retries.load(std::memory_order_relaxed);
}

TScopedSemaphoreRetries::TScopedSemaphoreRetries(int32_t retries)
    : previous_(g_semaphore_retries.exchange(retries)) {}

TScopedSemaphoreRetries::~TScopedSemaphoreRetries() {
  g_semaphore_retries.store(previous_);
}

bool TTableFile::LockWithRetries(int64_t offset, int64_t length, int32_t tries) {
  for (int32_t attempt = 1;; ++attempt) {
    const OsLockResult result = SetRegionLock(offset, length, true);
    if (result != OsLockResult::Busy) return result == OsLockResult::Taken;
    if (attempt >= tries) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(kSemaphoreRetryMs));
  }
}

bool TTableFile::LockWriterRange(int32_t tries) {
  return LockWithRetries(kLockRangeBase, kLockRangeLength, tries);
}

bool TTableFile::UnlockWriterRange() {
  return SetRegionLock(kLockRangeBase, kLockRangeLength, false) == OsLockResult::Taken;
}

int32_t TTableFile::LockReaderByte(int32_t tries) {
  for (int32_t attempt = 1;; ++attempt) {
    // r runs from 1: the byte 7FFFFFFF itself is never a reader's.
    const int32_t r = Random(kLockRangeReadBytes) + 1;
    const OsLockResult result = SetRegionLock(kLockRangeTop - r, 1, true);
    if (result == OsLockResult::Taken) return r;
    if (result == OsLockResult::Failed || attempt >= tries) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(kSemaphoreRetryMs));
  }
}

bool TTableFile::UnlockReaderByte(int32_t r) {
  if (r < 1 || r > kLockRangeReadBytes) return false;
  return SetRegionLock(kLockRangeTop - r, 1, false) == OsLockResult::Taken;
}

}  // namespace jw
