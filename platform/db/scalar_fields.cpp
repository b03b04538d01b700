#include "platform/db/scalar_fields.h"

#include <cstring>
#include <vector>

#include "platform/db/db_errors.h"
#include "platform/rtl/strings.h"

namespace jw {

TStringField::TStringField(TComponent* owner) : TField(owner, ftString) {
  SetSize(20);
}

Variant TStringField::GetAsVariant() const {
  std::vector<char> buffer(DataSize());
  if (!GetData(buffer.data())) return Null();
  return Variant(std::string(buffer.data(), strnlen(buffer.data(), buffer.size())));
}

std::string TStringField::GetAsString() const {
  const Variant value = GetAsVariant();
  return VarIsNull(value) ? std::string() : value.AsString();
}

void TStringField::SetAsVariant(const Variant& value) {
  SetAsStringValue(value.AsString());
}

void TStringField::SetAsStringValue(const std::string& value) {
  std::vector<char> buffer(DataSize(), '\0');
  std::memcpy(buffer.data(), value.data(), std::min<size_t>(value.size(), Size()));
  SetData(buffer.data());
}

int32_t TIntegerField::MinValue() const {
  switch (DataType()) {
    case ftSmallint:
      return INT16_MIN;
    case ftWord:
      return 0;
    default:
      return INT32_MIN;
  }
}

int32_t TIntegerField::MaxValue() const {
  switch (DataType()) {
    case ftSmallint:
      return INT16_MAX;
    case ftWord:
      return UINT16_MAX;
    default:
      return INT32_MAX;
  }
}

Variant TIntegerField::GetAsVariant() const {
  uint8_t buffer[4] = {};
  if (!GetData(buffer)) return Null();
  return Variant(ValueOf(buffer));
}

int32_t TIntegerField::GetAsInteger() const {
  uint8_t buffer[4] = {};
  return GetData(buffer) ? ValueOf(buffer) : 0;
}

int32_t TIntegerField::ValueOf(const uint8_t* buffer) const {
  switch (DataType()) {
    case ftSmallint: {
      int16_t value;
      std::memcpy(&value, buffer, 2);
      return value;
    }
    case ftWord: {
      uint16_t value;
      std::memcpy(&value, buffer, 2);
      return value;
    }
    default: {
      int32_t value;
      std::memcpy(&value, buffer, 4);
      return value;
    }
  }
}

void TIntegerField::SetAsVariant(const Variant& value) {
  const int32_t number = value.AsInteger();
  if (number < MinValue() || number > MaxValue()) {
    DatabaseErrorFmt(db_text::kFieldRangeError, number, DisplayName(), MinValue(), MaxValue());
  }
  if (DataSize() == 2) {
    const auto narrow = static_cast<uint16_t>(number);
    SetData(&narrow);
  } else {
    SetData(&number);
  }
}

Variant TBooleanField::GetAsVariant() const {
  int16_t value = 0;
  if (!GetData(&value)) return Null();
  return Variant(value != 0);
}

void TBooleanField::SetAsVariant(const Variant& value) {
  const int16_t stored = value.AsBoolean() ? 1 : 0;
  SetData(&stored);
}

void TBooleanField::SetAsStringValue(const std::string& value) {
  const std::string text = Trim(value);
  if (text.empty()) {
    Clear();
  } else if (SameText(text, "True")) {
    SetValue(Variant(true));
  } else if (SameText(text, "False")) {
    SetValue(Variant(false));
  } else {
    DatabaseErrorFmt(db_text::kInvalidBoolValue, value, DisplayName());
  }
}

Variant TFloatField::GetAsVariant() const {
  double value = 0;
  if (!GetData(&value)) return Null();
  return Variant(value);
}

void TFloatField::SetAsVariant(const Variant& value) {
  const double number = value.AsDouble();
  SetData(&number);
}

TBCDField::TBCDField(TComponent* owner) : TField(owner, ftBCD) {
  SetSize(4);
}

Variant TBCDField::GetAsVariant() const {
  int64_t raw = 0;
  if (!GetData(&raw, false)) return Null();
  return Variant(Currency::FromRaw(raw));
}

void TBCDField::SetAsVariant(const Variant& value) {
  const int64_t raw = value.AsCurrency().Raw();
  SetData(&raw, false);
}

}  // namespace jw
