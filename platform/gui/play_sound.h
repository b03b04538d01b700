// PlaySound: a wave file played synchronously, behind a small player
// service. The production player decodes and plays on a worker while the
// GUI thread keeps windows painted; tests install a recording player.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/os/wave_sound.h"

namespace jw {

// The sound argument names a file; the call returns when the sound ends.
inline constexpr uint32_t SND_SYNC = 0x00000;
inline constexpr uint32_t SND_FILENAME = 0x20000;

class SoundPlayer {
 public:
  virtual ~SoundPlayer() = default;
  // Plays the file named by sound and returns when it has ended; false when
  // nothing could be played.
  virtual bool PlaySound(const std::string& sound, uint32_t flags) = 0;
  // Ends the sound being played, if any; any thread may call it. A player
  // whose sounds end on their own has nothing to stop.
  virtual void Stop() {}
};

// Plays on device from a worker thread. Meanwhile the calling thread
// handles only paint and window-system events: no input and no timers, so
// nothing that started the sound runs again before it ends. A missing or bad
// file, and any failure while the sound plays, give the desktop's warning
// beep instead.
class WavePlayer : public SoundPlayer {
 public:
  explicit WavePlayer(std::unique_ptr<SoundDevice> device);
  bool PlaySound(const std::string& sound, uint32_t flags) override;
  // The sound ends before its next block, and the device finishes what it
  // already holds.
  void Stop() override;

 private:
  enum class Outcome { kPlayed, kBadFile, kNoDevice };
  Outcome DecodeAndPlay(const std::string& file_name) noexcept;

  std::unique_ptr<SoundDevice> device_;
  std::mutex mutex_;
  TWaveReader* playing_ = nullptr;  // under mutex_
};

// The current player; a WavePlayer on ALSA until another is installed.
SoundPlayer& Sounds();
// Installs player (null restores the ALSA one) and returns the previous one
// when it was installed this way.
std::unique_ptr<SoundPlayer> SetSoundPlayer(std::unique_ptr<SoundPlayer> player);

// The original platform's call, through the current player.
bool PlaySound(const std::string& sound, uint32_t flags);
// Stops any sound the process is playing, through the current player.
void StopSound();

}  // namespace jw
