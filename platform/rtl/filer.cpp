#include "platform/rtl/filer.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "platform/rtl/format.h"
#include "platform/rtl/strings.h"

namespace jw {

namespace {

constexpr char kSignature[4] = {'J', 'W', 'P', '1'};
constexpr std::size_t kMaxNameLength = 255;  // the length is one byte

[[noreturn]] void InvalidFormat() {
  throw EReadError("Invalid stream format");
}

void WriteUInt32(TStream& stream, uint32_t value) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  stream.WriteBuffer(bytes, sizeof bytes);
}

uint32_t ReadUInt32(TStream& stream) {
  uint8_t bytes[4];
  stream.ReadBuffer(bytes, sizeof bytes);
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

class PropertyWriter : public TFiler {
 public:
  explicit PropertyWriter(TStream& stream) : stream_(stream) {}

  void DefineBinaryProperty(const std::string& name, const TStreamProc&, const TStreamProc& write,
                            bool has_data) override {
    if (name.empty() || name.size() > kMaxNameLength) {
      throw EWriteError(Format("Invalid property name '%s'", name));
    }
    for (const std::string& seen : names_) {
      if (SameText(seen, name)) throw EWriteError(Format("Property %s defined twice", name));
    }
    names_.push_back(name);
    if (!has_data || !write) return;
    TMemoryStream data;
    write(data);
    if (data.Size() > std::numeric_limits<uint32_t>::max()) {
      throw EWriteError(Format("Property %s is too large to store", name));
    }
    const uint8_t length = static_cast<uint8_t>(name.size());
    stream_.WriteBuffer(&length, 1);
    stream_.WriteBuffer(name.data(), static_cast<int64_t>(name.size()));
    WriteUInt32(stream_, static_cast<uint32_t>(data.Size()));
    stream_.WriteBuffer(data.Memory(), data.Size());
  }

 private:
  TStream& stream_;
  std::vector<std::string> names_;
};

struct StoredProperty {
  std::string name;
  std::unique_ptr<TMemoryStream> data;
  TStreamProc read;
  bool defined = false;
};

// Collects the read procedures of the properties that the stream holds.
class PropertyReader : public TFiler {
 public:
  explicit PropertyReader(std::vector<StoredProperty>& stored) : stored_(stored) {}

  void DefineBinaryProperty(const std::string& name, const TStreamProc& read, const TStreamProc&,
                            bool) override {
    for (StoredProperty& property : stored_) {
      if (SameText(property.name, name)) {
        property.defined = true;
        property.read = read;
      }
    }
  }

 private:
  std::vector<StoredProperty>& stored_;
};

std::vector<StoredProperty> ReadPropertyList(TStream& stream) {
  char signature[sizeof kSignature];
  if (stream.Read(signature, sizeof signature) != sizeof signature ||
      std::memcmp(signature, kSignature, sizeof kSignature) != 0) {
    InvalidFormat();
  }
  std::vector<StoredProperty> stored;
  for (;;) {
    uint8_t length = 0;
    if (stream.Read(&length, 1) != 1) InvalidFormat();
    if (length == 0) break;
    std::string name(length, '\0');
    if (stream.Read(name.data(), length) != length) InvalidFormat();
    for (const StoredProperty& property : stored) {
      if (SameText(property.name, name)) InvalidFormat();
    }
    if (stream.Size() - stream.Position() < 4) InvalidFormat();
    const int64_t size = ReadUInt32(stream);
    if (stream.Size() - stream.Position() < size) InvalidFormat();
    auto data = std::make_unique<TMemoryStream>();
    if (size > 0) data->CopyFrom(stream, size);
    data->SetPosition(0);
    stored.push_back({std::move(name), std::move(data), {}, false});
  }
  return stored;
}

}  // namespace

void WriteBinaryProperties(TPersistent& instance, TStream& stream) {
  stream.WriteBuffer(kSignature, sizeof kSignature);
  PropertyWriter writer(stream);
  instance.DefineProperties(writer);
  const uint8_t end = 0;
  stream.WriteBuffer(&end, 1);
}

void ReadBinaryProperties(TPersistent& instance, TStream& stream) {
  std::vector<StoredProperty> stored = ReadPropertyList(stream);
  PropertyReader reader(stored);
  instance.DefineProperties(reader);
  for (const StoredProperty& property : stored) {
    if (!property.defined) {
      throw EReadError(Format("Error reading %s.%s: Property %s does not exist",
                              instance.ClassName(), property.name, property.name));
    }
  }
  for (StoredProperty& property : stored) {
    if (property.read) property.read(*property.data);
  }
}

}  // namespace jw
