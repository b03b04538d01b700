// The byte-range locks of a table's files, all far beyond any data, and how
// a lock that is busy is tried again. The data file: the write semaphore and
// one byte per record. The index and BLOB files: one range that a writer
// takes whole and a reader one byte of, so that readers coexist.
#pragma once

#include <cstdint>

namespace jw {

// Data file.
constexpr int64_t kWriteSemaphoreByte = 0x7FFFFFFF;
// Record n locks the byte kRecordLockBase - n.
constexpr int64_t kRecordLockBase = 0x7FFFFFFE;

// Index and BLOB files: the writer takes kLockRangeLength bytes from
// kLockRangeBase; a reader one byte kLockRangeTop - r, r in 1 .. kLockRangeReadBytes.
constexpr int64_t kLockRangeBase = 0x7FFF0000;
constexpr int64_t kLockRangeLength = 65535;
constexpr int64_t kLockRangeTop = 0x7FFFFFFF;
constexpr int32_t kLockRangeReadBytes = 65534;

// A busy lock is tried again kSemaphoreRetryMs later; kSemaphoreRetries
// bounds how often (each file's lock routine says whether the first try counts).
constexpr int32_t kSemaphoreRetries = 8192;
constexpr int32_t kSemaphoreRetryMs = 3;

// The retries the lock routines use: kSemaphoreRetries, unless a test
// lowered it for a scope (its second process through its command line).
int32_t SemaphoreRetries();
class TScopedSemaphoreRetries {
 public:
  explicit TScopedSemaphoreRetries(int32_t retries);
  ~TScopedSemaphoreRetries();
  TScopedSemaphoreRetries(const TScopedSemaphoreRetries&) = delete;
  TScopedSemaphoreRetries& operator=(const TScopedSemaphoreRetries&) = delete;

 private:
  int32_t previous_;
};

}  // namespace jw
