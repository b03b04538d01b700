#include "platform/rtl/random.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <random>

namespace jw {

namespace {

// One generator for the whole process; the engine draws from several
// threads, so every draw holds the lock.
class TSystemRandom : public TRandomSource {
 public:
  TSystemRandom() { Randomize(); }

  int32_t Random(int32_t range) override {
    if (range <= 0) return 0;
    std::uniform_int_distribution<int32_t> distribution(0, range - 1);
    std::lock_guard lock(mutex_);
    return distribution(engine_);
  }

  double RandomFloat() override {
    std::lock_guard lock(mutex_);
    // The top 53 bits make every double in [0, 1) with step 2^-53; the
    // library's canonical form may round up to 1.0.
    return static_cast<double>(engine_() >> 11) * 0x1.0p-53;
  }

  void Randomize() override {
    std::random_device device;
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    // The process id keeps processes started at once apart where the
    // entropy source is weak.
    std::seed_seq seed{device(), device(), static_cast<uint32_t>(ticks),
                       static_cast<uint32_t>(static_cast<uint64_t>(ticks) >> 32),
                       static_cast<uint32_t>(getpid())};
    std::lock_guard lock(mutex_);
    engine_.seed(seed);
  }

 private:
  std::mutex mutex_;
  std::mt19937_64 engine_;
};

std::atomic<TRandomSource*> installed{nullptr};

}  // namespace

TRandomSource& RandomSource() {
  if (TRandomSource* source = installed.load()) return *source;
  static TSystemRandom system_random;
  return system_random;
}

TScopedRandomSource::TScopedRandomSource(TRandomSource& source)
    : previous_(installed.exchange(&source)) {}

TScopedRandomSource::~TScopedRandomSource() {
  installed.store(previous_);
}

}  // namespace jw
