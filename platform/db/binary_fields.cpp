#include "platform/db/binary_fields.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/db/data_set.h"

namespace jw {

TBytesField::TBytesField(TComponent* owner, TFieldType type) : TField(owner, type) {
  SetSize(16);
}

Variant TBytesField::GetAsVariant() const {
  std::vector<uint8_t> buffer(std::max(DataSize(), 1));
  if (!GetData(buffer.data())) return Null();
  if (DataType() != ftVarBytes)
    return Variant(std::string(buffer.begin(), buffer.begin() + DataSize()));
  uint16_t count = 0;
  std::memcpy(&count, buffer.data(), 2);
  count = std::min<uint16_t>(count, static_cast<uint16_t>(Size()));
  return Variant(std::string(buffer.begin() + 2, buffer.begin() + 2 + count));
}

void TBytesField::SetAsVariant(const Variant& value) {
  const std::string bytes = value.AsString();
  std::vector<uint8_t> buffer(std::max(DataSize(), 1), 0);
  const size_t count = std::min<size_t>(bytes.size(), Size());
  if (DataType() == ftVarBytes) {
    const auto stored = static_cast<uint16_t>(count);
    std::memcpy(buffer.data(), &stored, 2);
    std::memcpy(buffer.data() + 2, bytes.data(), count);
  } else {
    std::memcpy(buffer.data(), bytes.data(), count);
  }
  SetData(buffer.data());
}

std::unique_ptr<TStream> TBlobField::OpenStream(TBlobStreamMode mode) const {
  return DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), mode);
}

int64_t TBlobField::BlobSize() const {
  const std::unique_ptr<TStream> stream = OpenStream(bmRead);
  return stream ? stream->Size() : 0;
}

void TBlobField::SaveToStream(TStream& dest) const {
  const std::unique_ptr<TStream> stream = OpenStream(bmRead);
  if (stream) dest.CopyFrom(*stream, 0);
}

void TBlobField::LoadFromStream(TStream& source) {
  const std::unique_ptr<TStream> stream = OpenStream(bmWrite);
  if (stream) stream->CopyFrom(source, 0);
}

Variant TBlobField::GetAsVariant() const {
  if (IsNull()) return Null();
  return Variant(GetAsString());
}

std::string TBlobField::GetAsString() const {
  TMemoryStream bytes;
  SaveToStream(bytes);
  return std::string(static_cast<const char*>(bytes.Memory()), bytes.Size());
}

void TBlobField::SetAsVariant(const Variant& value) {
  SetAsStringValue(value.AsString());
}

void TBlobField::SetAsStringValue(const std::string& value) {
  const std::unique_ptr<TStream> stream = OpenStream(bmWrite);
  if (stream) stream->WriteBuffer(value.data(), static_cast<int64_t>(value.size()));
}

}  // namespace jw
