#include "engine/dataset/quire_params.h"

#include <cmath>
#include <cstring>

#include "engine/support/value_conversions.h"
#include "platform/db/db_errors.h"
#include "platform/db/field.h"
#include "platform/rtl/filer.h"
#include "platform/rtl/streams.h"
#include "platform/rtl/strings.h"

namespace jw {
namespace {

constexpr std::string_view kParamNotFound = "Parameter '%s' not found";
constexpr std::string_view kUnableToLoad = "Unable to load bind parameters";
constexpr std::string_view kParamTooLarge = "Parameter '%s', cannot save data larger than %d bytes";
constexpr std::string_view kUnknownType = "Field '%s' is of unknown type";
constexpr std::string_view kUnsupportedType = "Field '%s' is of an unsupported type";

// Day 0 of the time stamps is day 693594 of the engine's day count.
constexpr int32_t kDayOffset = 693594;
constexpr double kMsPerDay = 86400000.0;

bool IsBlobType(TFieldType type) {
  return type == ftBlob || (type >= ftGraphic && type <= ftTypedBinary);
}

int32_t DayCount(TDateTime value) {
  return static_cast<int32_t>(std::trunc(value)) + kDayOffset;
}

int32_t MsOfDay(TDateTime value) {
  const auto ms = std::llround(std::fabs(value - std::trunc(value)) * kMsPerDay);
  return static_cast<int32_t>(std::min<long long>(ms, static_cast<long long>(kMsPerDay) - 1));
}

template <typename T>
void Put(uint8_t* buffer, T value) {
  std::memcpy(buffer, &value, sizeof value);
}

template <typename T>
T Get(const uint8_t* buffer) {
  T value;
  std::memcpy(&value, buffer, sizeof value);
  return value;
}

// Reads the "Data" stream within its remaining bytes; any count or length
// that passes them fails.
class TParamsReader {
 public:
  explicit TParamsReader(TStream& stream) : stream_(stream) {
    remaining_ = stream.Size() - stream.Position();
  }
  uint32_t Number(int bytes) {
    uint8_t raw[4] = {};
    Bytes(raw, bytes);
    return raw[0] | raw[1] << 8 | raw[2] << 16 | static_cast<uint32_t>(raw[3]) << 24;
  }
  void Bytes(void* dest, int64_t count) {
    if (count > remaining_) DatabaseError(kUnableToLoad);
    stream_.ReadBuffer(dest, count);
    remaining_ -= count;
  }
  std::string Text(int bytes) {
    const uint32_t length = Number(bytes);
    if (length > remaining_) DatabaseError(kUnableToLoad);
    std::string text(length, '\0');
    Bytes(text.data(), length);
    return text;
  }

 private:
  TStream& stream_;
  int64_t remaining_;
};

void WriteNumber(TStream& stream, uint32_t value, int bytes) {
  const uint8_t raw[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  stream.WriteBuffer(raw, bytes);
}

}  // namespace

// ---- TQuireParam ----

TQuireParam::TQuireParam(TQuireParams* owner) : owner_(owner) {}

void TQuireParam::SetValue(TFieldType type, Variant value) {
  value_ = std::move(value);
  data_type_ = type;
  bound_ = true;
  is_null_ = false;
}

void TQuireParam::SetAsBoolean(bool value) {
  SetValue(ftBoolean, Variant(value));
}
void TQuireParam::SetAsFloat(double value) {
  SetValue(ftFloat, Variant(value));
}
void TQuireParam::SetAsCurrency(double value) {
  SetValue(ftCurrency, Variant(value));
}
void TQuireParam::SetAsBCD(Currency value) {
  SetValue(ftBCD, Variant(value));
}
void TQuireParam::SetAsInteger(int32_t value) {
  SetValue(ftInteger, Variant(value));
}
void TQuireParam::SetAsWord(int32_t value) {
  SetValue(ftWord, Variant(value));
}
void TQuireParam::SetAsSmallInt(int32_t value) {
  SetValue(ftSmallint, Variant(value));
}
void TQuireParam::SetAsString(const std::string& value) {
  SetValue(ftString, Variant(value));
}
void TQuireParam::SetAsDate(TDateTime value) {
  SetValue(ftDate, Variant::FromDateTime(value));
}
void TQuireParam::SetAsTime(TDateTime value) {
  SetValue(ftTime, Variant::FromDateTime(value));
}
void TQuireParam::SetAsDateTime(TDateTime value) {
  SetValue(ftDateTime, Variant::FromDateTime(value));
}
void TQuireParam::SetAsMemo(const std::string& value) {
  SetValue(ftMemo, Variant(value));
}
void TQuireParam::SetAsBlob(const std::string& value) {
  SetValue(ftBlob, Variant(value));
}

void TQuireParam::SetDataType(TFieldType type) {
  data_type_ = type;
  value_ = Variant(0);
}

void TQuireParam::Clear() {
  is_null_ = true;
  value_ = Variant(0);
}

std::string TQuireParam::AsString() const {
  return is_null_ ? std::string() : value_.AsString();
}

void TQuireParam::Assign(TPersistent* source) {
  if (auto* field = dynamic_cast<TField*>(source)) {
    AssignField(*field);
    return;
  }
  auto* param = dynamic_cast<TQuireParam*>(source);
  if (param == nullptr) {
    TPersistent::Assign(source);
    return;
  }
  data_type_ = param->data_type_;
  if (param->is_null_) {
    Clear();
  } else {
    value_ = param->value_;
    is_null_ = false;
  }
  bound_ = param->bound_;
  name_ = param->name_;
  if (param_type_ == ptUnknown) param_type_ = param->param_type_;
}

// A memo field of more than 255 characters is taken as a string parameter.
void TQuireParam::AssignField(const TField& field) {
  data_type_ = field.DataType() == ftMemo && field.Size() > 255 ? ftString : field.DataType();
  if (field.IsNull()) {
    Clear();
  } else {
    value_ = field.Value();
    is_null_ = false;
  }
  bound_ = true;
  name_ = field.FieldName();
}

void TQuireParam::AssignTo(TPersistent& dest) {
  if (auto* field = dynamic_cast<TField*>(&dest)) {
    if (is_null_) {
      field->Clear();
    } else {
      field->SetValue(value_);
    }
    return;
  }
  TPersistent::AssignTo(dest);
}

int32_t TQuireParam::GetDataSize() const {
  switch (data_type_) {
    case ftString:
    case ftMemo:
      return static_cast<int32_t>(AsString().size()) + 1;
    case ftSmallint:
    case ftWord:
    case ftBoolean:
      return 2;
    case ftInteger:
    case ftAutoInc:
    case ftDate:
    case ftTime:
      return 4;
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftDateTime:
      return 8;
    case ftUnknown:
      DatabaseErrorFmt(kUnknownType, name_);
    default:
      if (IsBlobType(data_type_)) return static_cast<int32_t>(AsString().size());
      DatabaseErrorFmt(kUnsupportedType, name_);
  }
}

void TQuireParam::GetData(uint8_t* buffer) const {
  switch (data_type_) {
    case ftString:
    case ftMemo: {
      const std::string text = AsString();
      std::memcpy(buffer, text.c_str(), text.size() + 1);
      return;
    }
    case ftSmallint:
    case ftWord:
      Put(buffer, static_cast<int16_t>(is_null_ ? 0 : value_.AsInteger()));
      return;
    case ftBoolean:
      Put(buffer, static_cast<int16_t>(!is_null_ && value_.AsBoolean() ? 1 : 0));
      return;
    case ftInteger:
    case ftAutoInc:
      Put(buffer, is_null_ ? 0 : value_.AsInteger());
      return;
    case ftDate:
      Put(buffer, DayCount(is_null_ ? 0 : value_.AsDateTime()));
      return;
    case ftTime:
      Put(buffer, MsOfDay(is_null_ ? 0 : value_.AsDateTime()));
      return;
    case ftFloat:
    case ftCurrency:
      Put(buffer, is_null_ ? 0.0 : value_.AsDouble());
      return;
    case ftBCD:
      Put(buffer, CurrencyToBcd(4, is_null_ ? Currency() : value_.AsCurrency()));
      return;
    case ftDateTime: {
      const TDateTime value = is_null_ ? 0 : value_.AsDateTime();
      Put(buffer, DayCount(value) * kMsPerDay + MsOfDay(value));
      return;
    }
    default: {
      const int32_t size = GetDataSize();
      std::memcpy(buffer, AsString().data(), static_cast<size_t>(size));
    }
  }
}

void TQuireParam::SetData(const uint8_t* buffer, int32_t size) {
  const TFieldType type = data_type_;
  switch (type) {
    case ftString:
    case ftMemo:
      SetValue(type, Variant(std::string(reinterpret_cast<const char*>(buffer),
                                         strnlen(reinterpret_cast<const char*>(buffer),
                                                 static_cast<size_t>(size)))));
      return;
    case ftSmallint:
      SetValue(type, Variant(static_cast<int32_t>(Get<int16_t>(buffer))));
      return;
    case ftWord:
      SetValue(type, Variant(static_cast<int32_t>(Get<uint16_t>(buffer))));
      return;
    case ftBoolean:
      SetValue(type, Variant(Get<int16_t>(buffer) != 0));
      return;
    case ftInteger:
    case ftAutoInc:
      SetValue(type, Variant(Get<int32_t>(buffer)));
      return;
    case ftDate:
      SetValue(type, Variant::FromDateTime(Get<int32_t>(buffer) - kDayOffset));
      return;
    case ftTime:
      SetValue(type, Variant::FromDateTime(Get<int32_t>(buffer) / kMsPerDay));
      return;
    case ftFloat:
    case ftCurrency:
      SetValue(type, Variant(Get<double>(buffer)));
      return;
    case ftBCD:
      SetValue(type, Variant(BcdToCurrency(Get<int64_t>(buffer))));
      return;
    case ftDateTime: {
      const double ms = Get<double>(buffer);
      const double days = std::floor(ms / kMsPerDay);
      SetValue(type,
               Variant::FromDateTime(days - kDayOffset + (ms - days * kMsPerDay) / kMsPerDay));
      return;
    }
    default:
      GetDataSize();  // refuses the types without a layout
      SetValue(type, Variant(std::string(reinterpret_cast<const char*>(buffer),
                                         static_cast<size_t>(size))));
  }
}

// ---- TQuireParams ----

TQuireParam* TQuireParams::CreateParam(TFieldType type, const std::string& name,
                                       TParamType param_type) {
  items_.push_back(std::make_unique<TQuireParam>(this));
  TQuireParam& param = *items_.back();
  param.data_type_ = type;
  param.name_ = name;
  param.param_type_ = param_type;
  return &param;
}

TQuireParam* TQuireParams::Items(int32_t index) const {
  return ParamByName(items_.at(static_cast<size_t>(index))->Name());
}

TQuireParam* TQuireParams::ParamByName(const std::string& name) const {
  for (const std::unique_ptr<TQuireParam>& param : items_) {
    if (SameText(param->Name(), name)) return param.get();
  }
  DatabaseErrorFmt(kParamNotFound, name);
}

void TQuireParams::Clear() {
  while (!items_.empty()) items_.pop_back();
}

void TQuireParams::Assign(TPersistent* source) {
  auto* params = dynamic_cast<TQuireParams*>(source);
  if (params == nullptr) {
    TPersistent::Assign(source);
    return;
  }
  Clear();
  for (const std::unique_ptr<TQuireParam>& param : params->items_) {
    CreateParam(ftUnknown, std::string(), ptUnknown)->Assign(param.get());
  }
}

void TQuireParams::AssignTo(TPersistent& dest) {
  if (auto* params = dynamic_cast<TQuireParams*>(&dest)) {
    params->Assign(this);
    return;
  }
  TPersistent::AssignTo(dest);
}

void TQuireParams::AssignValues(const TQuireParams& source) {
  for (const std::unique_ptr<TQuireParam>& own : items_) {
    for (const std::unique_ptr<TQuireParam>& param : source.items_) {
      if (param->Name() == own->Name()) {
        own->Assign(param.get());
        break;
      }
    }
  }
}

bool TQuireParams::IsEqual(const TQuireParams& other) const {
  if (items_.size() != other.items_.size()) return false;
  for (size_t i = 0; i < items_.size(); ++i) {
    const TQuireParam& a = *items_[i];
    const TQuireParam& b = *other.items_[i];
    if (a.value_.VarType() != b.value_.VarType() || !(a.value_ == b.value_) || a.name_ != b.name_ ||
        a.data_type_ != b.data_type_ || a.is_null_ != b.is_null_ || a.bound_ != b.bound_ ||
        a.param_type_ != b.param_type_) {
      return false;
    }
  }
  return true;
}

void TQuireParams::DefineProperties(TFiler& filer) {
  TPersistent::DefineProperties(filer);
  filer.DefineBinaryProperty(
      "Data", [this](TStream& stream) { ReadData(stream); },
      [this](TStream& stream) { WriteData(stream); }, !items_.empty());
}

void TQuireParams::WriteData(TStream& stream) const {
  WriteNumber(stream, 1, 2);
  WriteNumber(stream, static_cast<uint32_t>(items_.size()), 2);
  for (const std::unique_ptr<TQuireParam>& param : items_) {
    WriteNumber(stream, static_cast<uint32_t>(param->name_.size()), 1);
    stream.WriteBuffer(param->name_.data(), static_cast<int64_t>(param->name_.size()));
    WriteNumber(stream, param->param_type_, 1);
    WriteNumber(stream, param->data_type_, 1);
    if (param->data_type_ != ftUnknown) {
      const int32_t size = param->GetDataSize();
      if (size > kMaxStreamedParamBytes) {
        DatabaseErrorFmt(kParamTooLarge, param->name_, kMaxStreamedParamBytes);
      }
      std::vector<uint8_t> value(static_cast<size_t>(size) + 1);
      param->GetData(value.data());
      WriteNumber(stream, static_cast<uint32_t>(size), 2);
      stream.WriteBuffer(value.data(), size);
    }
    WriteNumber(stream, param->is_null_ ? 1 : 0, 1);
    WriteNumber(stream, param->bound_ ? 1 : 0, 1);
  }
}

void TQuireParams::ReadData(TStream& stream) {
  Clear();
  try {
    TParamsReader reader(stream);
    const uint32_t version = reader.Number(2);
    if (version > 2) DatabaseError(kUnableToLoad);
    const int wide = version == 2 ? 4 : 0;
    const uint32_t count = reader.Number(wide != 0 ? wide : 2);
    for (uint32_t i = 0; i < count; ++i) {
      const std::string name = reader.Text(wide != 0 ? wide : 1);
      const auto param_type = static_cast<TParamType>(reader.Number(1));
      const auto data_type = static_cast<TFieldType>(reader.Number(1));
      TQuireParam& param = *CreateParam(data_type, name, param_type);
      if (data_type != ftUnknown) {
        const uint32_t size = reader.Number(wide != 0 ? wide : 2);
        if (size > static_cast<uint32_t>(kMaxStreamedParamBytes)) DatabaseError(kUnableToLoad);
        std::vector<uint8_t> value(size + 1);
        reader.Bytes(value.data(), size);
        // A fixed-size value must come with exactly its bytes, and a type
        // without a layout has no value to read.
        const bool sized = data_type == ftString || data_type == ftMemo || IsBlobType(data_type);
        if (!sized && ((data_type > ftDateTime && data_type != ftAutoInc) ||
                       param.GetDataSize() != static_cast<int32_t>(size))) {
          DatabaseError(kUnableToLoad);
        }
        param.SetData(value.data(), static_cast<int32_t>(size));
      }
      param.is_null_ = reader.Number(1) != 0;
      param.bound_ = reader.Number(1) != 0;
    }
  } catch (...) {
    Clear();
    throw;
  }
}

// ---- markers ----

void ParseParams(TQuireParams* list, std::string& text) {
  std::string out;
  char quote = 0;
  size_t i = 0;
  const auto terminator = [](char c) {
    return c == '\n' || c == '\r' || c == ' ' || c == ',' || c == ')' || c == ';';
  };
  while (i < text.size()) {
    const char c = text[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
      out += c;
      ++i;
    } else if (c == '\'' || c == '"') {
      quote = c;
      out += c;
      ++i;
    } else if (c == ':' && i + 1 < text.size() && text[i + 1] == ':') {
      out += ':';
      i += 2;
    } else if (c == ':') {
      size_t end = i + 1;
      char name_quote = 0;
      while (end < text.size() && (name_quote != 0 || !terminator(text[end]))) {
        const char n = text[end];
        if ((n == '\'' || n == '"') && (name_quote == 0 || name_quote == n)) {
          name_quote = name_quote == 0 ? n : 0;
        }
        ++end;
      }
      std::string name = text.substr(i + 1, end - i - 1);
      if (!name.empty() && (name.front() == '\'' || name.front() == '"')) {
        for (const char q : {'\'', '"'}) {
          if (name.size() >= 2 && name.front() == q && name.back() == q) {
            name = name.substr(1, name.size() - 2);
          }
        }
      }
      if (list != nullptr) list->CreateParam(ftUnknown, name, ptUnknown);
      out += '?';
      i = end;
    } else {
      out += c;
      ++i;
    }
  }
  text = std::move(out);
}

}  // namespace jw
