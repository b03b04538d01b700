#include "components/kit_wave.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "components/stream_records.h"
#include "platform/gui/play_sound.h"
#include "platform/rtl/filer.h"
#include "tests/support/error_text.h"
#include "tests/support/temp_folder.h"

namespace jw {
namespace {

using test_support::ErrorText;

void Put(std::string& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A wave file of the given format tag and channels with a few samples.
std::string WaveFile(uint16_t tag, uint16_t channels, const char* form = "WAVE") {
  std::string b = "RIFF";
  Put(b, 40, 4);
  b += form;
  b += "fmt ";
  Put(b, 16, 4);
  Put(b, tag, 2);
  Put(b, channels, 2);
  Put(b, 22050, 4);
  Put(b, 22050 * 2 * channels, 4);
  Put(b, 2 * channels, 2);
  Put(b, 16, 2);
  b += "data";
  Put(b, 4, 4);
  Put(b, 0x01020304, 4);
  return b;
}

TMemoryStream& Load(TMemoryStream& stream, const std::string& bytes) {
  stream.Clear();
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  stream.SetPosition(0);
  return stream;
}

std::string Held(const TKitWave& wave) {
  TMemoryStream* data = wave.MemoryWave();
  if (data == nullptr) return "(none)";
  return std::string(static_cast<const char*>(data->Memory()), static_cast<size_t>(data->Size()));
}

TEST(KitWaveTest, HeaderGivesTheWaveInformation) {
  struct Case {
    std::string bytes;
    bool valid;
    uint8_t channels;
    bool pcm;
  };
  const std::vector<Case> cases = {
      {WaveFile(1, 2), true, 2, true},
      {WaveFile(1, 1), true, 1, true},
      {WaveFile(3, 6), true, 0, false},
      {WaveFile(1, 2, "AVI "), false, 0, false},
      {"RIFX" + WaveFile(1, 2).substr(4), false, 0, false},
      {"", false, 0, false},
  };
  for (const Case& c : cases) {
    TMemoryStream stream;
    Load(stream, c.bytes);
    stream.SetPosition(7);
    TKitWaveInfo info;
    EXPECT_EQ(GetWaveData(stream, info), c.valid);
    EXPECT_EQ(stream.Position(), 0);
    if (!c.valid) continue;
    EXPECT_EQ(info.RiffSize, 40u);
    EXPECT_EQ(info.SamplesPerSec, 22050u);
    EXPECT_EQ(info.Channels, c.channels);
    EXPECT_EQ(info.IsPCM, c.pcm);
  }
  TMemoryStream cut;
  TKitWaveInfo info;
  EXPECT_EQ(ErrorText<EErrorCheckingWave>(
                [&] { GetWaveData(Load(cut, WaveFile(1, 2).substr(0, 30)), info); }),
            "GetWaveData: Cannot open file %s");
}

// A wave that holds data stops any sound the process plays before it takes
// new data and when it goes; one without data stops nothing.
TEST(KitWaveTest, NewDataAndTheEndOfAWaveStopTheSoundPlaying) {
  class StopCounter : public SoundPlayer {
   public:
    explicit StopCounter(int& stops) : stops_(stops) {}
    bool PlaySound(const std::string&, uint32_t) override { return true; }
    void Stop() override { ++stops_; }

   private:
    int& stops_;
  };
  int stops = 0;
  SetSoundPlayer(std::make_unique<StopCounter>(stops));
  {
    TKitWave wave;
    TMemoryStream stream;
    wave.LoadFromStream(Load(stream, WaveFile(1, 2)));
    EXPECT_EQ(stops, 0);
    wave.LoadFromStream(Load(stream, WaveFile(1, 1)));
    EXPECT_EQ(stops, 1);
    wave.Clear();
    EXPECT_EQ(stops, 2);
    wave.Clear();
    EXPECT_EQ(stops, 2);
    wave.LoadFromStream(Load(stream, WaveFile(1, 1)));
    EXPECT_EQ(stops, 2);
    TKitWave::Stop();
    EXPECT_EQ(stops, 3);
  }
  EXPECT_EQ(stops, 4);
  { TKitWave empty; }
  EXPECT_EQ(stops, 4);
  SetSoundPlayer(nullptr);
}

TEST(KitWaveTest, LoadingKeepsOnlyWavesAndEmptyStreamsClear) {
  TKitWave wave;
  int changes = 0;
  wave.OnChange = [&](TPersistent*) { ++changes; };
  TMemoryStream stream;
  wave.LoadFromStream(Load(stream, WaveFile(1, 2)));
  EXPECT_EQ(Held(wave), WaveFile(1, 2));
  EXPECT_EQ(wave.Size(), static_cast<int64_t>(WaveFile(1, 2).size()));
  EXPECT_EQ(changes, 1);

  EXPECT_EQ(
      ErrorText<EInvalidWave>([&] { wave.LoadFromStream(Load(stream, WaveFile(1, 2, "AVI "))); }),
      "Cannot open file %s: TKitWave");
  EXPECT_THROW(wave.LoadFromStream(Load(stream, "RIFF")), EErrorCheckingWave);
  EXPECT_THROW(wave.LoadFromStreamCount(Load(stream, WaveFile(1, 1)), 100), EReadError);
  EXPECT_EQ(Held(wave), WaveFile(1, 2));
  EXPECT_EQ(changes, 1);

  wave.LoadFromStream(Load(stream, ""));
  EXPECT_TRUE(wave.Empty());
  EXPECT_EQ(Held(wave), "(none)");
  EXPECT_EQ(changes, 2);

  TKitWave other;
  other.LoadFromStream(Load(stream, WaveFile(1, 1)));
  wave.Assign(&other);
  EXPECT_EQ(Held(wave), WaveFile(1, 1));
  wave.Assign(nullptr);
  EXPECT_TRUE(wave.Empty());
}

TEST(KitWaveTest, DataPropertyAndRecordsRoundTrip) {
  for (const std::string& bytes : {WaveFile(1, 2), std::string()}) {
    TKitWave wave;
    TMemoryStream source;
    wave.LoadFromStream(Load(source, bytes));
    // An emptied wave still holds a stream and writes length 0.
    if (bytes.empty()) wave.SetData(std::make_unique<TMemoryStream>());
    TMemoryStream properties;
    WriteBinaryProperties(wave, properties);
    properties.SetPosition(0);
    TKitWave back;
    back.LoadFromStream(Load(source, WaveFile(3, 1)));
    ReadBinaryProperties(back, properties);
    EXPECT_EQ(Held(back), bytes.empty() ? "(none)" : bytes);

    for (const bool compressed : {false, true}) {
      TMemoryStream record;
      WriteWave(record, wave, compressed);
      record.SetPosition(0);
      TKitWave read;
      read.LoadFromStream(Load(source, WaveFile(3, 1)));
      ReadWave(record, read, compressed);
      EXPECT_EQ(Held(read), bytes.empty() ? "(none)" : bytes);
    }
  }
}

TEST(KitWaveTest, FilesRoundTrip) {
  test_support::TempFolder folder;
  TKitWave wave;
  TMemoryStream source;
  wave.LoadFromStream(Load(source, WaveFile(1, 2)));
  wave.SaveToFile(folder.File("a.wav"));
  EXPECT_EQ(Held(*TKitWave::CreateFromFile(folder.File("a.wav"))), WaveFile(1, 2));
}

}  // namespace
}  // namespace jw
