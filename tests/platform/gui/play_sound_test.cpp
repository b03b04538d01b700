#include "platform/gui/play_sound.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QPaintEvent>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/gui/beep.h"
#include "platform/gui/timer.h"
#include "tests/support/temp_folder.h"

namespace jw {
namespace {

using test_support::TempFolder;
using test_support::WriteFileBytes;

constexpr uint16_t kPcm = 1;
constexpr uint16_t kFloat = 3;

// A wave file: the RIFF header, the "fmt " chunk and the data chunk.
std::string WaveBytes(int channels, int rate, int bits, const std::string& data,
                      uint16_t format = kPcm) {
  auto u32 = [](uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [](uint16_t v) { return std::string(reinterpret_cast<const char*>(&v), 2); };
  const int block = channels * bits / 8;
  const auto size = uint32_t(data.size());
  return "RIFF" + u32(36 + size) + "WAVE" + "fmt " + u32(16) + u16(format) + u16(channels) +
         u32(rate) + u32(rate * block) + u16(block) + u16(bits) + "data" + u32(size) + data;
}

std::string Int16Bytes(const std::vector<int16_t>& samples) {
  std::string bytes(samples.size() * 2, '\0');
  std::memcpy(bytes.data(), samples.data(), bytes.size());
  return bytes;
}

// What reached the device: the format, every block's samples in order, and
// the largest block.
struct PlayedSound {
  int Channels = 0;
  int SampleRate = 0;
  std::vector<int16_t> Samples;
  size_t LargestBlock = 0;
};

class RecordingDevice : public SoundDevice {
 public:
  explicit RecordingDevice(std::vector<PlayedSound>& played, bool available = true)
      : played_(played), available_(available) {}
  bool Play(TWaveReader& sound) override {
    PlayedSound& played = played_.emplace_back();
    played.Channels = sound.Channels();
    played.SampleRate = sound.SampleRate();
    for (const std::vector<int16_t>* block = &sound.NextBlock(); !block->empty();
         block = &sound.NextBlock()) {
      played.Samples.insert(played.Samples.end(), block->begin(), block->end());
      played.LargestBlock = std::max(played.LargestBlock, block->size());
    }
    return available_;
  }

 private:
  std::vector<PlayedSound>& played_;
  bool available_;
};

class PlaySoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetBeeper([this] { ++beeps_; });
  }
  void TearDown() override { SetBeeper({}); }

  WavePlayer Player(bool available = true) {
    return WavePlayer(std::make_unique<RecordingDevice>(played_, available));
  }

  TempFolder folder_;
  std::vector<PlayedSound> played_;
  int beeps_ = 0;
};

TEST_F(PlaySoundTest, ValidFilesReachTheDeviceAsTheirFrames) {
  const std::vector<int16_t> stereo = {0, -1, 32767, -32768, 1234, -4321};
  WriteFileBytes(folder_.File("stereo.wav"), WaveBytes(2, 8000, 16, Int16Bytes(stereo)));
  // Unsigned 8-bit samples around 128 widen to signed 16-bit ones.
  WriteFileBytes(folder_.File("bytes.wav"), WaveBytes(1, 11025, 8, std::string("\x80\xff\x00", 3)));
  // Floating-point samples are scaled to full scale, and clipped beyond it.
  const std::vector<float> floats = {0.5f, -0.25f, 1.0f, -1.0f, 2.0f, 0.0f};
  std::string float_bytes(floats.size() * 4, '\0');
  std::memcpy(float_bytes.data(), floats.data(), float_bytes.size());
  WriteFileBytes(folder_.File("floats.wav"), WaveBytes(1, 48000, 32, float_bytes, kFloat));
  WavePlayer player = Player();
  EXPECT_TRUE(player.PlaySound(folder_.File("stereo.wav"), SND_FILENAME | SND_SYNC));
  EXPECT_TRUE(player.PlaySound(folder_.File("bytes.wav"), SND_FILENAME | SND_SYNC));
  EXPECT_TRUE(player.PlaySound(folder_.File("floats.wav"), SND_FILENAME | SND_SYNC));
  ASSERT_EQ(played_.size(), 3u);
  EXPECT_EQ(played_[0].Channels, 2);
  EXPECT_EQ(played_[0].SampleRate, 8000);
  EXPECT_EQ(played_[0].Samples, stereo);
  EXPECT_EQ(played_[1].Channels, 1);
  EXPECT_EQ(played_[1].SampleRate, 11025);
  EXPECT_EQ(played_[1].Samples, (std::vector<int16_t>{0, 127 * 256, -128 * 256}));
  EXPECT_EQ(played_[2].SampleRate, 48000);
  EXPECT_EQ(played_[2].Samples, (std::vector<int16_t>{16384, -8192, 32767, -32768, 32767, 0}));
  EXPECT_EQ(beeps_, 0);
}

// A FLAC stream header (the file is named .wav all the same) that claims
// frames of channels at rate and holds none of them.
std::string FlacClaimBytes(int channels, int rate, uint64_t frames) {
  std::string info = {0x10, 0x00, 0x10, 0x00, 0, 0, 0, 0, 0, 0};  // block and frame sizes
  const uint64_t packed =
      uint64_t(rate) << 44 | uint64_t(channels - 1) << 41 | uint64_t(16 - 1) << 36 | frames;
  for (int shift = 56; shift >= 0; shift -= 8) info += char(packed >> shift);
  info += std::string(16, '\0');  // no MD5 signature
  return std::string("fLaC\x80\x00\x00", 7) + char(info.size()) + info + std::string(80, '\0');
}

// A long sound reaches the device whole in blocks of bounded size, and a
// file that claims the longest sound of the most channels at the highest
// rate is refused without holding that much (3.5 GB) in memory.
TEST_F(PlaySoundTest, SoundsPlayFromABoundedBufferWhateverTheirHeaderClaims) {
  std::vector<int16_t> long_sound(kWaveBlockSamples * 5 / 2);
  for (size_t i = 0; i < long_sound.size(); ++i) long_sound[i] = int16_t(i * 7919);
  WriteFileBytes(folder_.File("long.wav"), WaveBytes(1, 8000, 16, Int16Bytes(long_sound)));
  WriteFileBytes(folder_.File("claims.wav"),
                 FlacClaimBytes(kMaxWaveChannels, kMaxWaveSampleRate,
                                uint64_t(kMaxWaveSeconds) * kMaxWaveSampleRate));
  WavePlayer player = Player();
  EXPECT_TRUE(player.PlaySound(folder_.File("long.wav"), SND_FILENAME));
  ASSERT_EQ(played_.size(), 1u);
  EXPECT_EQ(played_[0].Samples, long_sound);
  EXPECT_LE(played_[0].LargestBlock, size_t(kWaveBlockSamples));
  EXPECT_EQ(beeps_, 0);

  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  EXPECT_FALSE(player.PlaySound(folder_.File("claims.wav"), SND_FILENAME));
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  EXPECT_EQ(played_.size(), 1u);
  EXPECT_EQ(beeps_, 1);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "kilobytes more at the peak";
}

// Stop, from any thread, ends the sound before its next block; the play
// itself went well.
TEST_F(PlaySoundTest, StopEndsTheSoundBeforeItsNextBlock) {
  class StoppingDevice : public SoundDevice {
   public:
    explicit StoppingDevice(WavePlayer*& player, size_t& played)
        : player_(player), played_(played) {}
    bool Play(TWaveReader& sound) override {
      played_ += sound.NextBlock().size();
      player_->Stop();
      played_ += sound.NextBlock().size();
      return true;
    }

   private:
    WavePlayer*& player_;
    size_t& played_;
  };
  WriteFileBytes(folder_.File("long.wav"),
                 WaveBytes(1, 8000, 16, Int16Bytes(std::vector<int16_t>(kWaveBlockSamples * 2))));
  WavePlayer* stopping = nullptr;
  size_t played = 0;
  WavePlayer player(std::make_unique<StoppingDevice>(stopping, played));
  stopping = &player;
  EXPECT_TRUE(player.PlaySound(folder_.File("long.wav"), SND_FILENAME));
  EXPECT_EQ(played, size_t(kWaveBlockSamples));
  EXPECT_EQ(beeps_, 0);
  player.Stop();  // nothing plays: nothing to stop
}

// Memory running out on the worker, or any other failure there, gives the
// warning beep; the program goes on.
TEST_F(PlaySoundTest, AFailureWhileTheSoundPlaysBeeps) {
  class FailingDevice : public SoundDevice {
   public:
    bool Play(TWaveReader&) override { throw std::bad_alloc(); }
  };
  WriteFileBytes(folder_.File("ok.wav"), WaveBytes(1, 8000, 16, Int16Bytes({5, 6})));
  WavePlayer player(std::make_unique<FailingDevice>());
  EXPECT_FALSE(player.PlaySound(folder_.File("ok.wav"), SND_FILENAME));
  EXPECT_EQ(beeps_, 1);
}

TEST_F(PlaySoundTest, MissingAndBadFilesBeepInsteadOfPlaying) {
  const std::string two_frames = Int16Bytes({1, 2});
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"text", "This is a note, not a sound.\n"},
      {"cut_in_header", WaveBytes(1, 8000, 16, two_frames).substr(0, 30)},
      {"nine_channels", WaveBytes(9, 8000, 16, std::string(36, '\0'))},
      {"rate_too_low", WaveBytes(1, kMinWaveSampleRate - 1, 16, two_frames)},
      {"rate_too_high", WaveBytes(1, kMaxWaveSampleRate + 1, 16, two_frames)},
      {"too_long", WaveBytes(1, kMinWaveSampleRate, 8,
                             std::string(kMinWaveSampleRate * kMaxWaveSeconds + 1, '\x80'))},
  };
  WavePlayer player = Player();
  int expected_beeps = 0;
  EXPECT_FALSE(player.PlaySound(folder_.File("missing.wav"), SND_FILENAME));
  EXPECT_EQ(beeps_, ++expected_beeps);
  for (const auto& c : cases) {
    WriteFileBytes(folder_.File(c.name), c.bytes);
    EXPECT_FALSE(player.PlaySound(folder_.File(c.name), SND_FILENAME)) << c.name;
    EXPECT_EQ(beeps_, ++expected_beeps) << c.name;
  }
  EXPECT_TRUE(played_.empty());
}

TEST_F(PlaySoundTest, WithoutADeviceTheCallFailsQuietly) {
  WriteFileBytes(folder_.File("ok.wav"), WaveBytes(1, 8000, 16, Int16Bytes({5, 6})));
  WavePlayer player = Player(false);
  EXPECT_FALSE(player.PlaySound(folder_.File("ok.wav"), SND_FILENAME));
  EXPECT_EQ(played_.size(), 1u);
  EXPECT_EQ(beeps_, 0);
}

// A widget that tells the playing device when it has been painted.
class PaintSignal : public QWidget {
 public:
  std::mutex mutex;
  std::condition_variable painted_cv;
  bool painted = false;

 protected:
  void paintEvent(QPaintEvent*) override {
    std::lock_guard lock(mutex);
    painted = true;
    painted_cv.notify_all();
  }
};

// Ends its sound only once the GUI thread has painted the window.
class PaintWaitingDevice : public SoundDevice {
 public:
  explicit PaintWaitingDevice(PaintSignal& window) : window_(window) {}
  bool Play(TWaveReader&) override {
    std::unique_lock lock(window_.mutex);
    return window_.painted_cv.wait_for(lock, std::chrono::seconds(30),
                                       [this] { return window_.painted; });
  }

 private:
  PaintSignal& window_;
};

TEST_F(PlaySoundTest, WhileASoundPlaysWindowsPaintButTimersWait) {
  WriteFileBytes(folder_.File("ok.wav"), WaveBytes(1, 8000, 16, Int16Bytes({5, 6})));
  PaintSignal window;
  window.resize(40, 40);
  window.show();
  QCoreApplication::processEvents();
  window.painted = false;
  window.update();
  int ticks = 0;
  TTimer timer(nullptr);
  timer.SetInterval(1);
  timer.OnTimer = [&](TPersistent*) { ++ticks; };
  WavePlayer player(std::make_unique<PaintWaitingDevice>(window));
  EXPECT_TRUE(player.PlaySound(folder_.File("ok.wav"), SND_FILENAME));
  EXPECT_TRUE(window.painted);
  EXPECT_EQ(ticks, 0);
}

// On a machine without sound the device says so through its result alone;
// with sound, a few frames of silence play.
TEST(AlsaSoundDevice, PlaysOrFailsWithoutAWordOnTheTerminal) {
  TempFolder folder;
  WriteFileBytes(folder.File("silence.wav"),
                 WaveBytes(1, 8000, 16, Int16Bytes(std::vector<int16_t>(80, 0))));
  const std::unique_ptr<TWaveReader> silence = TWaveReader::Open(folder.File("silence.wav"));
  ASSERT_NE(silence, nullptr);
  AlsaSoundDevice device;
  ::testing::internal::CaptureStderr();
  device.Play(*silence);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

}  // namespace
}  // namespace jw
