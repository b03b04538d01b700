#include "platform/os/wave_sound.h"

#include <alsa/asoundlib.h>
#include <sndfile.h>

#include <mutex>

namespace jw {

namespace {

struct SndFileCloser {
  void operator()(SNDFILE* file) const { sf_close(file); }
};

struct PcmCloser {
  void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};

// ALSA's library prints its failures (no card, no server) on stderr; a
// missing device is an ordinary state here, answered by the play's result.
void SilentAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

// How long ALSA may buffer ahead, in microseconds.
constexpr unsigned kDeviceLatencyUs = 200000;

}  // namespace

std::optional<TWaveSound> DecodeWaveFile(const std::string& path) {
  SF_INFO info{};
  std::unique_ptr<SNDFILE, SndFileCloser> file(sf_open(path.c_str(), SFM_READ, &info));
  if (!file) return std::nullopt;
  if (info.channels < 1 || info.channels > kMaxWaveChannels) return std::nullopt;
  if (info.samplerate < kMinWaveSampleRate || info.samplerate > kMaxWaveSampleRate)
    return std::nullopt;
  if (info.frames < 0 || info.frames > sf_count_t{kMaxWaveSeconds} * info.samplerate)
    return std::nullopt;
  TWaveSound sound;
  sound.Channels = info.channels;
  sound.SampleRate = info.samplerate;
  sound.Samples.resize(static_cast<size_t>(info.frames) * info.channels);
  if (sf_readf_short(file.get(), sound.Samples.data(), info.frames) != info.frames)
    return std::nullopt;
  return sound;
}

bool AlsaSoundDevice::Play(const TWaveSound& sound) {
  static std::once_flag quiet;
  std::call_once(quiet, [] { snd_lib_error_set_handler(SilentAlsaErrors); });
  snd_pcm_t* raw = nullptr;
  if (snd_pcm_open(&raw, "default", SND_PCM_STREAM_PLAYBACK, 0) < 0) return false;
  std::unique_ptr<snd_pcm_t, PcmCloser> pcm(raw);
  if (snd_pcm_set_params(pcm.get(), SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED,
                         static_cast<unsigned>(sound.Channels),
                         static_cast<unsigned>(sound.SampleRate), 1, kDeviceLatencyUs) < 0)
    return false;
  const int16_t* next = sound.Samples.data();
  snd_pcm_uframes_t left = static_cast<snd_pcm_uframes_t>(sound.Frames());
  while (left > 0) {
    snd_pcm_sframes_t written = snd_pcm_writei(pcm.get(), next, left);
    // An underrun or a suspend is recovered once; anything else ends the sound.
    if (written < 0) written = snd_pcm_recover(pcm.get(), static_cast<int>(written), 1);
    if (written < 0) return false;
    next += written * sound.Channels;
    left -= static_cast<snd_pcm_uframes_t>(written);
  }
  snd_pcm_drain(pcm.get());
  return true;
}

}  // namespace jw
