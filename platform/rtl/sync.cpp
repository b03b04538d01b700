#include "platform/rtl/sync.h"

#include <unistd.h>

#include <chrono>
#include <thread>

namespace jw {

uint32_t GetCurrentThreadId() {
  return static_cast<uint32_t>(::gettid());
}

void Sleep(uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

uint64_t GetTickCount64() {
  const auto since_boot = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(since_boot).count());
}

uint32_t GetTickCount() {
  return static_cast<uint32_t>(GetTickCount64());
}

}  // namespace jw
