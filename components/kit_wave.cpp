#include "components/kit_wave.h"

#include <cstring>

#include "components/stream_records.h"
#include "platform/gui/play_sound.h"
#include "platform/rtl/filer.h"

namespace jw {

namespace {

constexpr uint16_t kPCMFormatTag = 1;

bool ReadTag(TStream& stream, const char* tag) {
  char bytes[4];
  stream.ReadBuffer(bytes, 4);
  return std::memcmp(bytes, tag, 4) == 0;
}

bool ReadWaveHeader(TStream& stream, TKitWaveInfo& info) {
  if (!ReadTag(stream, "RIFF")) return false;
  info.RiffSize = static_cast<uint32_t>(ReadInteger(stream));
  if (!ReadTag(stream, "WAVE") || !ReadTag(stream, "fmt ")) return false;
  ReadInteger(stream);  // the format chunk's size
  const uint16_t tag = ReadWord(stream);
  const uint16_t channels = ReadWord(stream);
  info.SamplesPerSec = static_cast<uint32_t>(ReadInteger(stream));
  ReadInteger(stream);  // average bytes per second
  info.IsPCM = tag == kPCMFormatTag;
  info.Channels = channels == 1 || channels == 2 ? static_cast<uint8_t>(channels) : 0;
  info.BlockAlign = ReadWord(stream);
  return true;
}

}  // namespace

bool GetWaveData(TStream& stream, TKitWaveInfo& info) {
  stream.SetPosition(0);
  if (stream.Size() == 0) return false;
  bool valid = false;
  try {
    valid = ReadWaveHeader(stream, info);
  } catch (const EReadError&) {
    stream.SetPosition(0);
    throw EErrorCheckingWave("GetWaveData: Cannot open file %s");
  }
  stream.SetPosition(0);
  return valid;
}

std::unique_ptr<TKitWave> TKitWave::CreateFromFile(const std::string& file_name) {
  auto wave = std::make_unique<TKitWave>();
  wave->LoadFromFile(file_name);
  return wave;
}

TKitWave::~TKitWave() {
  if (data_ != nullptr) Stop();
}

void TKitWave::Stop() {
  StopSound();
}

void TKitWave::SetData(std::unique_ptr<TMemoryStream> data) {
  if (data_ != nullptr) Stop();
  data_ = std::move(data);
  if (data_ != nullptr) data_->SetPosition(0);
  Change();
}

void TKitWave::LoadFromStreamCount(TStream& stream, int64_t count) {
  if (count == 0) {
    Clear();
    return;
  }
  if (count < 0 || count > stream.Size() - stream.Position()) {
    throw EReadError("Stream read error");
  }
  auto data = std::make_unique<TMemoryStream>();
  data->SetSize(count);
  stream.ReadBuffer(data->Memory(), count);
  TKitWaveInfo info;
  if (!GetWaveData(*data, info)) throw EInvalidWave("Cannot open file %s: " + ClassName());
  SetData(std::move(data));
}

void TKitWave::LoadFromStream(TStream& stream) {
  LoadFromStreamCount(stream, stream.Size() - stream.Position());
}

void TKitWave::LoadFromFile(const std::string& file_name) {
  TFileStream file(file_name, fmOpenRead);
  LoadFromStreamCount(file, file.Size());
}

void TKitWave::SaveToStream(TStream& stream) const {
  if (!Empty()) stream.WriteBuffer(data_->Memory(), data_->Size());
}

void TKitWave::SaveToFile(const std::string& file_name) const {
  TFileStream file(file_name, fmCreate);
  SaveToStream(file);
}

void TKitWave::ReadData(TStream& stream) {
  ReadWave(stream, *this, false);
}

void TKitWave::WriteData(TStream& stream) const {
  WriteWave(stream, *this, false);
}

void TKitWave::Assign(TPersistent* source) {
  if (source == nullptr) {
    Clear();
    return;
  }
  if (auto* wave = dynamic_cast<TKitWave*>(source)) {
    if (wave == this) return;
    auto data = std::make_unique<TMemoryStream>();
    if (wave->data_ != nullptr) {
      wave->data_->SetPosition(0);
      data->CopyFrom(*wave->data_, wave->data_->Size());
    }
    data_ = std::move(data);
    data_->SetPosition(0);
    Change();
    return;
  }
  TKitObject::Assign(source);
}

void TKitWave::DefineProperties(TFiler& filer) {
  filer.DefineBinaryProperty(
      "Data", [this](TStream& stream) { ReadData(stream); },
      [this](TStream& stream) { WriteData(stream); }, data_ != nullptr);
}

}  // namespace jw
