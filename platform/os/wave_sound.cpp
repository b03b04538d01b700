#include "platform/os/wave_sound.h"

#include <alsa/asoundlib.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace jw {

struct TWaveReader::SndFile {
  ~SndFile() { sf_close(handle); }
  SNDFILE* handle;
};

namespace {

struct PcmCloser {
  void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};

// ALSA's library prints its failures (no card, no server) on stderr; a
// missing device is an ordinary state here, answered by the play's result.
void SilentAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

// How long ALSA may buffer ahead, in microseconds.
constexpr unsigned kDeviceLatencyUs = 200000;

// The decoder hands out every kind of sample as floats where full scale is
// 1.0 (integer samples divided by 2^15 for 16 bits): the same factor back
// gives 16-bit samples exactly, and floating-point data louder than full
// scale is clipped.
int16_t ToSample16(float value) {
  const float scaled = std::nearbyint(value * 32768.0f);
  return static_cast<int16_t>(std::clamp(scaled, -32768.0f, 32767.0f));
}

}  // namespace

std::unique_ptr<TWaveReader> TWaveReader::Open(const std::string& path) {
  SF_INFO info{};
  SNDFILE* handle = sf_open(path.c_str(), SFM_READ, &info);
  if (handle == nullptr) return nullptr;
  std::unique_ptr<SndFile> file(new SndFile{handle});
  if (info.channels < 1 || info.channels > kMaxWaveChannels) return nullptr;
  if (info.samplerate < kMinWaveSampleRate || info.samplerate > kMaxWaveSampleRate) return nullptr;
  if (info.frames < 0 || info.frames > sf_count_t{kMaxWaveSeconds} * info.samplerate)
    return nullptr;
  std::unique_ptr<TWaveReader> reader(
      new TWaveReader(std::move(file), info.channels, info.samplerate, info.frames));
  if (!reader->Decode()) return nullptr;
  return reader;
}

TWaveReader::TWaveReader(std::unique_ptr<SndFile> file, int channels, int sample_rate,
                         int64_t frames)
    : file_(std::move(file)),
      channels_(channels),
      sample_rate_(sample_rate),
      frames_left_(frames) {}

TWaveReader::~TWaveReader() = default;

bool TWaveReader::Decode() {
  const int64_t frames = std::min<int64_t>(frames_left_, kWaveBlockSamples / channels_);
  decoded_.resize(static_cast<size_t>(frames * channels_));
  const sf_count_t got = sf_readf_float(file_->handle, decoded_.data(), frames);
  block_.resize(static_cast<size_t>(std::max<sf_count_t>(got, 0) * channels_));
  std::transform(decoded_.begin(), decoded_.begin() + std::ssize(block_), block_.begin(),
                 ToSample16);
  frames_left_ -= frames;
  block_ready_ = true;
  if (got == frames) return true;
  failed_ = true;
  frames_left_ = 0;
  return false;
}

const std::vector<int16_t>& TWaveReader::NextBlock() {
  if (stopped_) {
    block_.clear();
  } else if (!block_ready_) {
    if (frames_left_ > 0) {
      Decode();
    } else {
      block_.clear();
    }
  }
  block_ready_ = false;
  return block_;
}

bool AlsaSoundDevice::Play(TWaveReader& sound) {
  static std::once_flag quiet;
  std::call_once(quiet, [] { snd_lib_error_set_handler(SilentAlsaErrors); });
  snd_pcm_t* raw = nullptr;
  if (snd_pcm_open(&raw, "default", SND_PCM_STREAM_PLAYBACK, 0) < 0) return false;
  std::unique_ptr<snd_pcm_t, PcmCloser> pcm(raw);
  if (snd_pcm_set_params(pcm.get(), SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED,
                         static_cast<unsigned>(sound.Channels()),
                         static_cast<unsigned>(sound.SampleRate()), 1, kDeviceLatencyUs) < 0)
    return false;
  for (const std::vector<int16_t>* block = &sound.NextBlock(); !block->empty();
       block = &sound.NextBlock()) {
    const int16_t* next = block->data();
    auto left = static_cast<snd_pcm_uframes_t>(block->size() / size_t(sound.Channels()));
    while (left > 0) {
      snd_pcm_sframes_t written = snd_pcm_writei(pcm.get(), next, left);
      // An underrun or a suspend is recovered once; anything else ends the
      // sound.
      if (written < 0) written = snd_pcm_recover(pcm.get(), static_cast<int>(written), 1);
      if (written < 0) return false;
      next += written * sound.Channels();
      left -= static_cast<snd_pcm_uframes_t>(written);
    }
  }
  snd_pcm_drain(pcm.get());
  return true;
}

}  // namespace jw
