// Threads and time for the runtime: a recursive critical section with its
// guard, the current thread's id, sleeping, and millisecond tick counters
// from the monotonic clock.
#pragma once

#include <cstdint>
#include <mutex>

namespace jw {

// Recursive: the owning thread may enter again and leaves as often.
class TCriticalSection {
 public:
  void Enter() { mutex_.lock(); }
  void Leave() { mutex_.unlock(); }
  // Enters when no other thread holds the section; never waits.
  bool TryEnter() { return mutex_.try_lock(); }

 private:
  std::recursive_mutex mutex_;
};

// Holds a critical section for its lifetime.
class TCriticalSectionGuard {
 public:
  explicit TCriticalSectionGuard(TCriticalSection& section) : section_(section) {
    section_.Enter();
  }
  ~TCriticalSectionGuard() { section_.Leave(); }
  TCriticalSectionGuard(const TCriticalSectionGuard&) = delete;
  TCriticalSectionGuard& operator=(const TCriticalSectionGuard&) = delete;

 private:
  TCriticalSection& section_;
};

// The kernel's id of the calling thread (unique among live threads).
uint32_t GetCurrentThreadId();

void Sleep(uint32_t ms);

// Milliseconds of the monotonic clock; the 32-bit counter wraps after about
// 49.7 days, so callers compare differences (now - then), never values.
uint32_t GetTickCount();
uint64_t GetTickCount64();

}  // namespace jw
