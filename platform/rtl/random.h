// The process-wide random source: uniform integers and fractions for
// choices such as a random paper or tip and the engine's lock retries.
// Production code uses a generator seeded once at start; a test installs
// its own source for a scope.
#pragma once

#include <cstdint>

namespace jw {

class TRandomSource {
 public:
  virtual ~TRandomSource() = default;
  // Uniform in 0 .. range - 1; 0 for range <= 0.
  virtual int32_t Random(int32_t range) = 0;
  // Uniform in [0, 1).
  virtual double RandomFloat() = 0;
  // Seeds afresh from the clock, the process id and the system's entropy.
  virtual void Randomize() = 0;
};

// The installed source: a thread-safe generator seeded when first used,
// unless a TScopedRandomSource is alive.
TRandomSource& RandomSource();

inline int32_t Random(int32_t range) {
  return RandomSource().Random(range);
}
inline double RandomFloat() {
  return RandomSource().RandomFloat();
}
inline void Randomize() {
  RandomSource().Randomize();
}

// Installs a source for its lifetime and then puts back the one it replaced.
// Scopes nest; they must end in the reverse order of their start.
class TScopedRandomSource {
 public:
  explicit TScopedRandomSource(TRandomSource& source);
  ~TScopedRandomSource();
  TScopedRandomSource(const TScopedRandomSource&) = delete;
  TScopedRandomSource& operator=(const TScopedRandomSource&) = delete;

 private:
  TRandomSource* previous_;
};

}  // namespace jw
