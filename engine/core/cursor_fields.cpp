// TDataCursor's field access: values in record images by the cursor's field
// list or the table's, defaults for new images, copies of the current
// record, derived fields and the field list itself.
#include <cstring>
#include <initializer_list>

#include "engine/core/cursor_read_scope.h"
#include "engine/expr/expression_evaluator.h"
#include "engine/support/language_settings.h"
#include "engine/support/value_bytes.h"
#include "engine/support/value_conversions.h"
#include "platform/rtl/date_time.h"
#include "platform/rtl/file_names.h"
#include "platform/rtl/numbers.h"
#include "platform/rtl/strings.h"

namespace jw {
namespace {

// A BLOB field holds its first block and its write stamp.
constexpr int32_t kBlobRefSize = 4;

int32_t ValueSize(const FieldDescriptor& field) {
  return field.Type == kFldBlob ? kBlobRefSize : field.PhysicalLength;
}

// Reads one stored column of the record, by its number in the table, for
// the evaluator of a derived field: a derived field is computed from the
// record, whichever of its columns the cursor's field list shows.
void DerivedColumnValue(void* context, const void* record, TExpToken* node) {
  auto* cursor = static_cast<TDataCursor*>(context);
  const auto* image = static_cast<const uint8_t*>(record);
  const FieldDescriptor& field = cursor->GetTableFieldDesc(node->FieldNumber);
  if (field.Type == kFldBlob) {
    cursor->BlobColumnValue(node->FieldNumber, image, *node);
    return;
  }
  node->SetValueSize(std::max<int32_t>(field.PhysicalLength, 8));
  bool null = false;
  cursor->GetTableFieldData(node->FieldNumber, image, null, node->Value());
  node->IsNull = null;
}

}  // namespace

TBlobBuffer* TDataCursor::BlobBufferOf(int32_t handle) const {
  const int64_t slot = -static_cast<int64_t>(handle) - 1;
  if (handle >= 0 || slot >= static_cast<int64_t>(blob_buffers_.size())) return nullptr;
  return blob_buffers_[static_cast<size_t>(slot)].get();
}

void TDataCursor::ReadField(const FieldDescriptor& field, const uint8_t* image, bool& null,
                            void* value) const {
  if (field.IsAutoInc()) {
    null = false;
    if (value != nullptr) std::memcpy(value, image + kRecId, sizeof(int32_t));
    return;
  }
  const uint8_t* slot = image + field.Offset;
  const int32_t size = ValueSize(field);
  null = slot[0] == 0;
  bool copy = !null;
  if (field.Type == kFldBlob) {
    const int32_t ref = GetInt32(slot + 1);
    if (ref < 0) {
      const TBlobBuffer* buffer = BlobBufferOf(ref);
      null = buffer != nullptr && buffer->Size() == 0;
    }
    copy = ref != 0;
  }
  if (value == nullptr) return;
  if (copy) {
    CopyValueBytes(value, slot + 1, static_cast<size_t>(size));
  } else {
    std::memset(value, 0, static_cast<size_t>(size));
  }
}

void TDataCursor::WriteField(const FieldDescriptor& field, uint8_t* image, const void* value) {
  uint8_t* slot = image + field.Offset;
  const int32_t size = ValueSize(field);
  if (value == nullptr) {
    if (field.IsAutoInc()) return;
    slot[0] = 0;
    std::memset(slot + 1, 0, static_cast<size_t>(size));
    return;
  }
  switch (field.Type) {
    case kFldString: {
      const auto* text = static_cast<const char*>(value);
      std::string s(text, strnlen(text, static_cast<size_t>(std::max(size - 1, 0))));
      // Only blanks are cut: a stored text may end in any other byte.
      while (!s.empty() && s.back() == ' ') s.pop_back();
      if (field.CharCase == kCaseUpper) UpperLocale(language_id_, sort_id_, s.c_str(), s.data());
      if (field.CharCase == kCaseLower) LowerLocale(language_id_, sort_id_, s.c_str(), s.data());
      std::memset(slot + 1, 0, static_cast<size_t>(size));
      std::memcpy(slot + 1, s.data(), s.size());
      slot[0] = s.empty() ? 0 : 1;
      break;
    }
    case kFldBlob: {
      const int32_t ref = LoadValue<int32_t>(value);
      PutInt32(slot + 1, ref);
      const TBlobBuffer* buffer = ref < 0 ? BlobBufferOf(ref) : nullptr;
      slot[0] = ref > 0 || (buffer != nullptr && buffer->Size() > 0) ? 1 : 0;
      break;
    }
    case kFldBoolean:
      PutInt16(slot + 1, LoadValue<int16_t>(value) == 0 ? 0 : 1);
      slot[0] = 1;
      break;
    default:
      if (field.IsAutoInc()) {
        std::memcpy(image + kRecId, value, sizeof(int32_t));
        return;
      }
      std::memcpy(slot + 1, value, static_cast<size_t>(size));
      slot[0] = 1;
      break;
  }
}

void TDataCursor::GetFieldData(int32_t field, const uint8_t* image, bool& null, void* value) {
  ReadField(GetCursorFieldDesc(field), image, null, value);
}

void TDataCursor::GetTableFieldData(int32_t field, const uint8_t* image, bool& null, void* value) {
  ReadField(GetTableFieldDesc(field), image, null, value);
}

void TDataCursor::SetFieldData(int32_t field, uint8_t* image, bool allow_derived,
                               const void* value) {
  const FieldDescriptor& desc = GetCursorFieldDesc(field);
  if (desc.Derived != 0 && !allow_derived) return;
  WriteField(desc, image, value);
  if (desc.Derived == 0) ComputeDerivedFields(image);
}

void TDataCursor::SetTableFieldData(int32_t field, uint8_t* image, const void* value) {
  WriteField(GetTableFieldDesc(field), image, value);
  ComputeDerivedFields(image);
}

void TDataCursor::ComputeDerivedFields(uint8_t* image) {
  if (!has_derived_ || evaluating_derived_) return;
  // Storing a derived value must not start the computation again.
  evaluating_derived_ = true;
  try {
    for (size_t k = 0; k < fields_.size() && k < derived_.size(); ++k) {
      if (fields_[k].Derived == 0 || derived_[k] == nullptr) continue;
      TExpToken* result =
          EvaluateExpression(derived_[k], image, this, sort_id_, language_id_, DerivedColumnValue);
      try {
        WriteField(fields_[k], image, result->IsNull ? nullptr : result->Value());
      } catch (...) {
        ReleaseToken(result);
        throw;
      }
      ReleaseToken(result);
    }
  } catch (...) {
    evaluating_derived_ = false;
    throw;
  }
  evaluating_derived_ = false;
}

void TDataCursor::ClearRecord(uint8_t* image) const {
  std::memset(image, 0, static_cast<size_t>(record_size_));
}

void TDataCursor::StoreDefault(int32_t field, const FieldDescriptor& desc, uint8_t* image) {
  const std::string& text = desc.Default;
  // Large enough for any converted value and for the text it starts from.
  uint8_t value[kMaxFieldTextLength + 16] = {};
  const TTimeStamp now = DateTimeToTimeStamp(Now());
  // A date, time or timestamp default names the present moment by a
  // keyword, or holds a text in the table's locale.
  const auto moment = [&](std::initializer_list<std::pair<const char*, TTimeStamp>> keywords,
                          auto store) {
    for (const auto& [keyword, stamp] : keywords) {
      if (SameText(text, keyword)) {
        store(stamp);
        return;
      }
    }
    std::memcpy(value, text.data(), text.size());
    TextToDateTimeValue(value, desc.Type);
  };
  switch (desc.Type) {
    case kFldString:
      SetTableFieldData(field, image, text.c_str());
      return;
    case kFldDate:
      moment({{"DATE", now}}, [&](TTimeStamp t) { StoreValue<int32_t>(value, t.Date); });
      break;
    case kFldTime:
      moment({{"TIME", now}}, [&](TTimeStamp t) { StoreValue<int32_t>(value, t.Time); });
      break;
    case kFldTimeStamp:
      moment({{"NOW", now}, {"DATE", TTimeStamp{0, now.Date}}, {"TIME", TTimeStamp{now.Time, 0}}},
             [&](TTimeStamp t) { StoreValue<double>(value, TimeStampToMSecs(t)); });
      break;
    case kFldBoolean:
      StoreValue<int16_t>(value, ParseBooleanText(text) ? 1 : 0);
      break;
    case kFldSmallInt:
      StoreValue<int16_t>(value, static_cast<int16_t>(StrToInt(text)));
      break;
    case kFldInteger:
      StoreValue<int32_t>(value, StrToInt(text));
      break;
    case kFldWord:
      StoreValue<uint16_t>(value, static_cast<uint16_t>(StrToInt(text)));
      break;
    case kFldFloat:
      StoreValue<double>(value, StrToFloat(text));
      break;
    case kFldBcd:
      StoreValue<int64_t>(value, CurrencyToBcd(desc.Decimals, StrToCurr(text)));
      break;
    default:
      // BLOB and bytes fields take a zero value: a BLOB stays null.
      break;
  }
  SetTableFieldData(field, image, value);
}

void TDataCursor::InitRecord(uint8_t* image) {
  ClearRecord(image);
  if (has_defaults_) {
    const TLanguageSwap swap(language_id_, sort_id_);
    for (int32_t i = 1; i <= GetFieldCount(); ++i) {
      const FieldDescriptor& desc = GetTableFieldDesc(i);
      if (!desc.Default.empty()) StoreDefault(i, desc, image);
    }
  }
  ComputeDerivedFields(image);
}

int32_t TDataCursor::CopyCurrentRecord(uint8_t* image) {
  TCursorReadScope read(*this);
  if (bof_ && eof_) return kErrNoCurrentRecord;
  ReadCurrent();
  if (image == nullptr) return 0;
  ClearRecord(image);
  for (const FieldDescriptor& desc : fields_) {
    if (desc.IsAutoInc()) continue;
    bool null = false;
    std::vector<uint8_t> value(static_cast<size_t>(ValueSize(desc)) + 1);
    ReadField(desc, current_.data(), null, value.data());
    if (null) continue;
    if (desc.Type == kFldBlob) {
      // A copy never shares a stored chain with its source: the new image
      // gets a buffer of its own with the contents, stored when it is posted.
      CopyBlob(desc.Number, current_.data(), true, *this, desc.Number, image);
    } else {
      WriteField(desc, image, value.data());
    }
  }
  if (keep_auto_inc_) SetRecordId(image, GetRecordId(current_.data()));
  return 0;
}

// ---- the field lists ----

const FieldDescriptor& TDataCursor::GetCursorFieldDesc(int32_t position) const {
  if (position < 1 || position > GetCursorFieldCount()) {
    Raise(kErrInvalidField, std::to_string(position));
  }
  return fields_[static_cast<size_t>(position - 1)];
}

const FieldDescriptor& TDataCursor::GetFieldDesc(int32_t field) const {
  return GetCursorFieldDesc(field);
}

const FieldDescriptor& TDataCursor::GetTableFieldDesc(int32_t field) const {
  if (field < 1 || field > GetFieldCount()) Raise(kErrInvalidField, std::to_string(field));
  return table_->DataFile().FieldDesc(field);
}

const FieldDescriptor* TDataCursor::FindFieldDesc(const std::string& name, int32_t& number) const {
  const FieldDescriptor* field = table_->DataFile().FieldDescByName(name);
  number = field != nullptr ? field->Number : 0;
  return field;
}

void TDataCursor::SetFieldDescs(const std::vector<FieldDescriptor>& fields,
                                const std::vector<const TExpToken*>& expressions) {
  if (fields.size() > static_cast<size_t>(kMaxFieldCount)) Raise(kErrFieldLimits);
  std::vector<FieldDescriptor> checked = fields;
  CheckFieldDefinitions(language_id_, sort_id_, checked, false);
  const int32_t stored = GetFieldCount();
  const std::string qualifier = ChangeFileExt(ExtractFileName(table_name_), "");
  int32_t size = table_->DataFile().RecordSize();
  fields_.clear();
  derived_.assign(expressions.begin(), expressions.end());
  has_derived_ = false;
  for (const FieldDescriptor& field : fields) {
    FieldDescriptor copy = field;
    if (copy.Derived != 0 || copy.Number > stored) {
      copy.Offset = static_cast<uint16_t>(size);
      size += copy.PhysicalLength + 1;
      if (size > kMaxRecordSize) Raise(kErrRecordSize);
    }
    has_derived_ = has_derived_ || copy.Derived != 0;
    copy.QualifiedName = qualifier + "." + copy.Name;
    fields_.push_back(std::move(copy));
  }
  record_size_ = size;
  current_.resize(static_cast<size_t>(record_size_), 0);
}

int32_t TDataCursor::GetFieldCount() const {
  return table_->DataFile().FieldCount();
}

int32_t TDataCursor::GetBlobFieldCount() const {
  return table_->DataFile().BlobFieldCount();
}

int32_t TDataCursor::GetRecordId(const uint8_t* image) {
  return GetInt32(image + kRecId);
}

void TDataCursor::SetRecordId(uint8_t* image, int32_t id) {
  PutInt32(image + kRecId, id);
}

int32_t TDataCursor::GetRecordNumber(const uint8_t* image) {
  return GetInt32(image + kRecNumber);
}

int32_t TDataCursor::GetBlobStamp(int32_t field, const uint8_t* image, bool table_list) const {
  const FieldDescriptor& desc = table_list ? GetTableFieldDesc(field) : GetCursorFieldDesc(field);
  return GetInt32(image + desc.Offset + 1 + kBlobRefSize);
}

void TDataCursor::SetBlobStamp(int32_t field, uint8_t* image, bool table_list,
                               int32_t stamp) const {
  const FieldDescriptor& desc = table_list ? GetTableFieldDesc(field) : GetCursorFieldDesc(field);
  PutInt32(image + desc.Offset + 1 + kBlobRefSize, stamp);
}

}  // namespace jw
