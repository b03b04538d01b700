#include "platform/gui/play_sound.h"

#include <QEventLoop>
#include <thread>
#include <utility>

#include "platform/gui/beep.h"

namespace jw {

namespace {

std::unique_ptr<SoundPlayer>& Installed() {
  static std::unique_ptr<SoundPlayer> player;
  return player;
}

enum class PlayOutcome { kPlayed, kBadFile, kNoDevice };

// Runs on the worker, where an exception would end the program: any failure
// there (memory running out among them) counts as a bad file.
PlayOutcome DecodeAndPlay(const std::string& file_name, SoundDevice& device) noexcept {
  try {
    const std::unique_ptr<TWaveReader> sound = TWaveReader::Open(file_name);
    if (!sound) return PlayOutcome::kBadFile;
    const bool played = device.Play(*sound);
    if (sound->Failed()) return PlayOutcome::kBadFile;
    return played ? PlayOutcome::kPlayed : PlayOutcome::kNoDevice;
  } catch (...) {
    return PlayOutcome::kBadFile;
  }
}

// The MessageBeep kind of the desktop's default sound.
constexpr uint32_t kDefaultBeep = 0;

}  // namespace

WavePlayer::WavePlayer(std::unique_ptr<SoundDevice> device) : device_(std::move(device)) {}

bool WavePlayer::PlaySound(const std::string& sound, uint32_t /*flags*/) {
  PlayOutcome outcome = PlayOutcome::kNoDevice;
  QEventLoop wait;
  std::thread worker([&] {
    outcome = DecodeAndPlay(sound, *device_);
    // Queued, so the quit arrives even when the loop has not started yet.
    QMetaObject::invokeMethod(&wait, &QEventLoop::quit, Qt::QueuedConnection);
  });
  wait.exec(QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers |
            QEventLoop::X11ExcludeTimers);
  worker.join();
  if (outcome == PlayOutcome::kBadFile) MessageBeep(kDefaultBeep);
  return outcome == PlayOutcome::kPlayed;
}

SoundPlayer& Sounds() {
  static WavePlayer alsa(std::make_unique<AlsaSoundDevice>());
  SoundPlayer* installed = Installed().get();
  return installed != nullptr ? *installed : alsa;
}

std::unique_ptr<SoundPlayer> SetSoundPlayer(std::unique_ptr<SoundPlayer> player) {
  std::swap(Installed(), player);
  return player;
}

bool PlaySound(const std::string& sound, uint32_t flags) {
  return Sounds().PlaySound(sound, flags);
}

}  // namespace jw
