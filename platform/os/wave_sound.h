// Wave files decoded to 16-bit interleaved samples, and the sound device
// that plays them: ALSA's default device in production (on desktops it
// reaches PulseAudio or PipeWire), a recording fake in tests.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace jw {

// Bounds on what a file may ask for. The whole sound is decoded before the
// device opens, so a bad file is found before anything sounds; the bounds
// keep that decoding within a few tens of megabytes.
inline constexpr int kMaxWaveChannels = 8;
inline constexpr int kMinWaveSampleRate = 1000;
inline constexpr int kMaxWaveSampleRate = 384000;
inline constexpr int kMaxWaveSeconds = 600;

struct TWaveSound {
  int Channels = 0;
  int SampleRate = 0;  // frames per second
  // Frames of Channels samples each, in playing order.
  std::vector<int16_t> Samples;

  int64_t Frames() const { return Channels == 0 ? 0 : int64_t(Samples.size()) / Channels; }
};

// Reads any sound file the decoder knows (every WAV flavour among them) as
// 16-bit samples. None for a missing or unreadable file, one that is not
// sound, a file whose data ends before its header says, and one beyond the
// bounds above.
std::optional<TWaveSound> DecodeWaveFile(const std::string& path);

class SoundDevice {
 public:
  virtual ~SoundDevice() = default;
  // Plays sound to its end and returns then; false when no device could
  // take it.
  virtual bool Play(const TWaveSound& sound) = 0;
};

// The default ALSA device, opened for each sound and closed after it. With
// no sound device the play fails without a word on the terminal.
class AlsaSoundDevice : public SoundDevice {
 public:
  bool Play(const TWaveSound& sound) override;
};

}  // namespace jw
