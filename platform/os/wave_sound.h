// Wave files read for playing as 16-bit interleaved samples, block by
// block, and the sound device that plays them: ALSA's default device in
// production (on desktops it reaches PulseAudio or PipeWire), a recording
// fake in tests.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace jw {

// Bounds on what a file may ask for.
inline constexpr int kMaxWaveChannels = 8;
inline constexpr int kMinWaveSampleRate = 1000;
inline constexpr int kMaxWaveSampleRate = 384000;
inline constexpr int kMaxWaveSeconds = 600;
// The samples decoded at a time: whatever a file claims, playing it holds
// about three megabytes of it (the decoder's floats and the device's 16-bit
// samples).
inline constexpr int kWaveBlockSamples = 1 << 19;

// A sound file opened for playing. The first block is decoded when the file
// opens, so a sound that fits in one block is known whole and good before
// the device opens.
class TWaveReader {
 public:
  // Any sound file the decoder knows (every WAV flavour among them, integer
  // and floating-point samples alike). Null for a missing or unreadable
  // file, one that is not sound, one beyond the bounds above and one whose
  // first block ends before its header says.
  static std::unique_ptr<TWaveReader> Open(const std::string& path);
  ~TWaveReader();
  TWaveReader(const TWaveReader&) = delete;
  TWaveReader& operator=(const TWaveReader&) = delete;

  int Channels() const { return channels_; }
  int SampleRate() const { return sample_rate_; }  // frames per second
  // The next block of frames of Channels samples each, in playing order;
  // empty once the sound has ended. A file whose data ends before its header
  // says ends its sound there, and Failed tells so.
  const std::vector<int16_t>& NextBlock();
  bool Failed() const { return failed_; }
  // Ends the sound before its next block; any thread may call it while
  // another plays the sound.
  void Stop() { stopped_ = true; }

 private:
  struct SndFile;
  TWaveReader(std::unique_ptr<SndFile> file, int channels, int sample_rate, int64_t frames);
  bool Decode();

  std::unique_ptr<SndFile> file_;
  int channels_;
  int sample_rate_;
  int64_t frames_left_;
  std::vector<float> decoded_;
  std::vector<int16_t> block_;
  bool block_ready_ = false;
  bool failed_ = false;
  std::atomic<bool> stopped_ = false;
};

class SoundDevice {
 public:
  virtual ~SoundDevice() = default;
  // Plays the sound's blocks to its end and returns then; false when no
  // device could take it.
  virtual bool Play(TWaveReader& sound) = 0;
};

// The default ALSA device, opened for each sound and closed after it. With
// no sound device the play fails without a word on the terminal.
class AlsaSoundDevice : public SoundDevice {
 public:
  bool Play(TWaveReader& sound) override;
};

}  // namespace jw
