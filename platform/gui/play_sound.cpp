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

// The MessageBeep kind of the desktop's default sound.
constexpr uint32_t kDefaultBeep = 0;

}  // namespace

WavePlayer::WavePlayer(std::unique_ptr<SoundDevice> device) : device_(std::move(device)) {}

// Runs on the worker, where an exception would end the program: any failure
// there (memory running out among them) counts as a bad file.
WavePlayer::Outcome WavePlayer::DecodeAndPlay(const std::string& file_name) noexcept {
  try {
    const std::unique_ptr<TWaveReader> sound = TWaveReader::Open(file_name);
    if (!sound) return Outcome::kBadFile;
    // The sound Stop ends while it plays, however the play ends.
    struct Playing {
      Playing(WavePlayer& player, TWaveReader* sound) : player(player) { Set(sound); }
      ~Playing() { Set(nullptr); }
      void Set(TWaveReader* sound) {
        std::lock_guard lock(player.mutex_);
        player.playing_ = sound;
      }
      WavePlayer& player;
    };
    bool played = false;
    {
      const Playing playing(*this, sound.get());
      played = device_->Play(*sound);
    }
    if (sound->Failed()) return Outcome::kBadFile;
    return played ? Outcome::kPlayed : Outcome::kNoDevice;
  } catch (...) {
    return Outcome::kBadFile;
  }
}

void WavePlayer::Stop() {
  std::lock_guard lock(mutex_);
  if (playing_ != nullptr) playing_->Stop();
}

bool WavePlayer::PlaySound(const std::string& sound, uint32_t /*flags*/) {
  Outcome outcome = Outcome::kNoDevice;
  QEventLoop wait;
  std::thread worker([&] {
    outcome = DecodeAndPlay(sound);
    // Queued, so the quit arrives even when the loop has not started yet.
    QMetaObject::invokeMethod(&wait, &QEventLoop::quit, Qt::QueuedConnection);
  });
  wait.exec(QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers |
            QEventLoop::X11ExcludeTimers);
  worker.join();
  if (outcome == Outcome::kBadFile) MessageBeep(kDefaultBeep);
  return outcome == Outcome::kPlayed;
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

void StopSound() {
  Sounds().Stop();
}

}  // namespace jw
