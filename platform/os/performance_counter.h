// The high-resolution counter: ticks of the monotonic steady clock and their
// fixed frequency.
#pragma once

#include <chrono>
#include <cstdint>

namespace jw {

// Counter ticks per second, a constant of the steady clock.
inline constexpr int64_t QueryPerformanceFrequency() {
  using Period = std::chrono::steady_clock::period;
  return static_cast<int64_t>(Period::den / Period::num);
}

// The counter now, in ticks of QueryPerformanceFrequency.
inline int64_t QueryPerformanceCounter() {
  return static_cast<int64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

}  // namespace jw
