// A sound player for tests that records every sound it is asked to play, and
// can fail each play as a broken device would.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/gui/play_sound.h"

namespace jw {

struct PlayCall {
  std::string sound;
  uint32_t flags;
  bool operator==(const PlayCall&) const = default;
};

class RecordingPlayer : public SoundPlayer {
 public:
  explicit RecordingPlayer(std::vector<PlayCall>& calls, bool fail = false)
      : calls_(calls), fail_(fail) {}
  bool PlaySound(const std::string& sound, uint32_t flags) override {
    calls_.push_back({sound, flags});
    if (fail_) throw std::runtime_error("sound failed");
    return true;
  }

 private:
  std::vector<PlayCall>& calls_;
  bool fail_;
};

}  // namespace jw
