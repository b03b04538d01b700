// TKitWave: the bytes of one RIFF wave file held in memory, loaded from and
// saved to files and streams, stored as the binary property "Data" (a 4-byte
// length, then the file; length 0 for no wave).
//
// The header it checks:
//   0  "RIFF"   4  u32 RIFF size   8  "WAVE"   12  "fmt "   16  u32 chunk size
//   20 u16 format tag (1 = PCM)   22 u16 channels   24 u32 samples per second
//   28 u32 average bytes per second   32 u16 block alignment
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "components/kit_base.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"

namespace jw {

// Data that is not a wave.
class EInvalidWave : public Exception {
  using Exception::Exception;
};
// The header could not be read.
class EErrorCheckingWave : public Exception {
  using Exception::Exception;
};

struct TKitWaveInfo {
  uint32_t RiffSize = 0;
  uint32_t SamplesPerSec = 0;
  uint8_t Channels = 0;  // 1 mono, 2 stereo, 0 any other count
  bool IsPCM = false;
  uint16_t BlockAlign = 0;
};

// Reads the header of the wave file in stream into info and rewinds the
// stream. False for an empty stream or one that is not a wave; a header cut
// short raises EErrorCheckingWave.
bool GetWaveData(TStream& stream, TKitWaveInfo& info);

class TKitWave : public TKitObject {
 public:
  TKitWave() = default;
  // Stops any sound the process plays when data is held.
  ~TKitWave() override;
  // Constructs and loads the file.
  static std::unique_ptr<TKitWave> CreateFromFile(const std::string& file_name);

  bool Empty() const { return data_ == nullptr || data_->Size() == 0; }
  int64_t Size() const { return Empty() ? 0 : data_->Size(); }
  // The file's bytes, or null.
  TMemoryStream* MemoryWave() const { return data_.get(); }

  void Clear() { SetData(nullptr); }
  // Stops any sound the process plays when data is held, takes the stream
  // (null for none), rewinds it and fires OnChange.
  void SetData(std::unique_ptr<TMemoryStream> data);
  // Stops any sound the process is playing.
  static void Stop();

  // Takes count bytes from the stream's position. Count 0 clears the wave;
  // a count beyond the stream's end raises EReadError. Bytes that are not a
  // wave raise EInvalidWave and the wave keeps its old data.
  void LoadFromStreamCount(TStream& stream, int64_t count);
  // The bytes from the position to the end.
  void LoadFromStream(TStream& stream);
  void LoadFromFile(const std::string& file_name);
  // The file's bytes, without a length.
  void SaveToStream(TStream& stream) const;
  void SaveToFile(const std::string& file_name) const;

  // The "Data" property: a 4-byte length, then the bytes.
  void ReadData(TStream& stream);
  void WriteData(TStream& stream) const;

  // Copies another wave's bytes; null clears.
  void Assign(TPersistent* source) override;
  void DefineProperties(TFiler& filer) override;

 private:
  std::unique_ptr<TMemoryStream> data_;
};

}  // namespace jw
