#include "platform/gui/play_sound.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPaintEvent>
#include <QWidget>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/gui/beep.h"
#include "platform/gui/timer.h"
#include "tests/support/temp_folder.h"

namespace jw {
namespace {

using test_support::TempFolder;
using test_support::WriteFileBytes;

// A PCM wave file: the RIFF header, the "fmt " chunk and the data chunk.
std::string WaveBytes(int channels, int rate, int bits, const std::string& data) {
  auto u32 = [](uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [](uint16_t v) { return std::string(reinterpret_cast<const char*>(&v), 2); };
  const int block = channels * bits / 8;
  return "RIFF" + u32(36 + data.size()) + "WAVE" + "fmt " + u32(16) + u16(1) + u16(channels) +
         u32(rate) + u32(rate * block) + u16(block) + u16(bits) + "data" + u32(data.size()) + data;
}

std::string Int16Bytes(const std::vector<int16_t>& samples) {
  std::string bytes(samples.size() * 2, '\0');
  std::memcpy(bytes.data(), samples.data(), bytes.size());
  return bytes;
}

class RecordingDevice : public SoundDevice {
 public:
  explicit RecordingDevice(std::vector<TWaveSound>& played, bool available = true)
      : played_(played), available_(available) {}
  bool Play(const TWaveSound& sound) override {
    played_.push_back(sound);
    return available_;
  }

 private:
  std::vector<TWaveSound>& played_;
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
  std::vector<TWaveSound> played_;
  int beeps_ = 0;
};

TEST_F(PlaySoundTest, ValidFilesReachTheDeviceAsTheirFrames) {
  const std::vector<int16_t> stereo = {0, -1, 32767, -32768, 1234, -4321};
  WriteFileBytes(folder_.File("stereo.wav"), WaveBytes(2, 8000, 16, Int16Bytes(stereo)));
  // Unsigned 8-bit samples around 128 widen to signed 16-bit ones.
  WriteFileBytes(folder_.File("bytes.wav"), WaveBytes(1, 11025, 8, std::string("\x80\xff\x00", 3)));
  WavePlayer player = Player();
  EXPECT_TRUE(player.PlaySound(folder_.File("stereo.wav"), SND_FILENAME | SND_SYNC));
  EXPECT_TRUE(player.PlaySound(folder_.File("bytes.wav"), SND_FILENAME | SND_SYNC));
  ASSERT_EQ(played_.size(), 2u);
  EXPECT_EQ(played_[0].Channels, 2);
  EXPECT_EQ(played_[0].SampleRate, 8000);
  EXPECT_EQ(played_[0].Frames(), 3);
  EXPECT_EQ(played_[0].Samples, stereo);
  EXPECT_EQ(played_[1].Channels, 1);
  EXPECT_EQ(played_[1].SampleRate, 11025);
  EXPECT_EQ(played_[1].Samples, (std::vector<int16_t>{0, 127 * 256, -128 * 256}));
  EXPECT_EQ(beeps_, 0);
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
  bool Play(const TWaveSound&) override {
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
  TWaveSound silence{1, 8000, std::vector<int16_t>(80, 0)};
  AlsaSoundDevice device;
  ::testing::internal::CaptureStderr();
  device.Play(silence);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

}  // namespace
}  // namespace jw
