#include "components/stream_records.h"

#include <algorithm>

#include "components/compressor.h"
#include "components/dib_file.h"
#include "components/kit_wave.h"

namespace jw {

namespace {

constexpr size_t kShortStringMax = 255;

}  // namespace

void WriteInteger(TStream& stream, int32_t value) {
  const auto v = static_cast<uint32_t>(value);
  const uint8_t bytes[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                            static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
  stream.WriteBuffer(bytes, 4);
}

int32_t ReadInteger(TStream& stream) {
  uint8_t bytes[4];
  stream.ReadBuffer(bytes, 4);
  return static_cast<int32_t>(bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) |
                              (static_cast<uint32_t>(bytes[3]) << 24));
}

void WriteWord(TStream& stream, uint16_t value) {
  const uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
  stream.WriteBuffer(bytes, 2);
}

uint16_t ReadWord(TStream& stream) {
  uint8_t bytes[2];
  stream.ReadBuffer(bytes, 2);
  return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

void WriteByte(TStream& stream, uint8_t value) {
  stream.WriteBuffer(&value, 1);
}

uint8_t ReadByte(TStream& stream) {
  uint8_t value = 0;
  stream.ReadBuffer(&value, 1);
  return value;
}

void WriteShortString(TStream& stream, const std::string& text) {
  const size_t length = std::min(text.size(), kShortStringMax);
  WriteByte(stream, static_cast<uint8_t>(length));
  stream.WriteBuffer(text.data(), static_cast<int64_t>(length));
}

std::string ReadShortString(TStream& stream) {
  std::string text(ReadByte(stream), '\0');
  stream.ReadBuffer(text.data(), static_cast<int64_t>(text.size()));
  return text;
}

void WriteRecord(TStream& stream, bool compressed, const std::function<void(TStream&)>& save) {
  TMemoryStream bytes;
  save(bytes);
  bytes.SetPosition(0);
  if (compressed) {
    CompressStream(bytes, stream, bytes.Size());
    return;
  }
  if (bytes.Size() > INT32_MAX) throw EWriteError("Stream write error");
  WriteInteger(stream, static_cast<int32_t>(bytes.Size()));
  stream.WriteBuffer(bytes.Memory(), bytes.Size());
}

void ReadRecord(TStream& stream, bool compressed, const std::function<void(TStream&)>& load) {
  TMemoryStream bytes;
  if (compressed) {
    DecompressStream(stream, bytes);
  } else {
    const int64_t length = ReadInteger(stream);
    if (length < 0 || length > stream.Size() - stream.Position()) {
      throw EReadError("Stream read error");
    }
    bytes.SetSize(length);
    stream.ReadBuffer(bytes.Memory(), length);
  }
  bytes.SetPosition(0);
  load(bytes);
}

void WriteStringList(TStream& stream, const TStrings& list, bool compressed) {
  WriteRecord(stream, compressed, [&](TStream& bytes) { list.SaveToStream(bytes); });
}

void ReadStringList(TStream& stream, TStrings& list, bool compressed) {
  ReadRecord(stream, compressed, [&](TStream& bytes) { list.LoadFromStream(bytes); });
}

void WriteBitmap(TStream& stream, const TBitmap& bitmap, bool compressed, int format) {
  // The bitmap's own stream form is the DIB file in its own format.
  if (format == kDibBitmapStream) format = kDibOwnFormat;
  WriteRecord(stream, compressed, [&](TStream& bytes) { WriteDIB(bytes, bitmap, format, false); });
}

void ReadBitmap(TStream& stream, TBitmap& bitmap, bool compressed) {
  ReadRecord(stream, compressed, [&](TStream& bytes) {
    std::string file(static_cast<size_t>(bytes.Size()), '\0');
    bytes.ReadBuffer(file.data(), bytes.Size());
    bitmap.LoadFromBytes(file);
  });
}

void WriteWave(TStream& stream, const TKitWave& wave, bool compressed) {
  WriteRecord(stream, compressed, [&](TStream& bytes) { wave.SaveToStream(bytes); });
}

void ReadWave(TStream& stream, TKitWave& wave, bool compressed) {
  ReadRecord(stream, compressed, [&](TStream& bytes) { wave.LoadFromStream(bytes); });
}

}  // namespace jw
