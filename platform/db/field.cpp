#include "platform/db/field.h"

#include <cstring>

#include "platform/db/data_set.h"
#include "platform/db/db_errors.h"

namespace jw {

TField::TField(TComponent* owner, TFieldType type) : TComponent(owner), data_type_(type) {}

TField::~TField() {
  if (dataset_ != nullptr) dataset_->RemoveField(this);
}

void TField::SetDataSet(TDataSet* dataset) {
  if (dataset == dataset_) return;
  if (dataset_ != nullptr) dataset_->CheckInactive();
  if (dataset != nullptr) {
    dataset->CheckInactive();
    dataset->AddField(this);
  }
  if (dataset_ != nullptr) dataset_->RemoveField(this);
  dataset_ = dataset;
}

void TField::SetFieldName(std::string name) {
  if (dataset_ != nullptr) dataset_->CheckInactive();
  field_name_ = std::move(name);
}

void TField::SetFieldKind(TFieldKind kind) {
  if (dataset_ != nullptr) dataset_->CheckInactive();
  field_kind_ = kind;
}

void TField::SetSize(int32_t size) {
  if (dataset_ != nullptr) dataset_->CheckInactive();
  size_ = size;
}

int32_t TField::DataSize() const {
  return 0;
}

int TField::Index() const {
  if (dataset_ == nullptr) return -1;
  for (int i = 0; i < dataset_->FieldCount(); ++i) {
    if (dataset_->Fields(i) == this) return i;
  }
  return -1;
}

const std::string& TField::DisplayName() const {
  return display_label_.empty() ? field_name_ : display_label_;
}

bool TField::IsIndexField() const {
  return dataset_ != nullptr && dataset_->GetIsIndexField(this);
}

bool TField::CanModify() const {
  return !read_only_ && dataset_ != nullptr && dataset_->CanModify();
}

void TField::Bind(int32_t field_no, int32_t offset) {
  field_no_ = field_no;
  offset_ = offset;
}

bool TField::GetData(void* buffer, bool native) const {
  if (dataset_ == nullptr) DatabaseErrorFmt(db_text::kFieldNoDataSet, DisplayName());
  if (validating_) {
    if (validate_buffer_ == nullptr) return false;
    if (buffer != nullptr) std::memcpy(buffer, validate_buffer_, DataSize());
    return true;
  }
  // The native form, the one every scalar read asks for, goes straight to
  // the dataset.
  if (native || buffer == nullptr) return dataset_->GetFieldData(const_cast<TField*>(this), buffer);
  return dataset_->GetConvertedFieldData(const_cast<TField*>(this), buffer);
}

void TField::SetData(const void* buffer, bool native) {
  if (dataset_ == nullptr) DatabaseErrorFmt(db_text::kFieldNoDataSet, DisplayName());
  dataset_->SetFieldBytes(this, buffer, native);
}

void TField::Validate(const void* buffer) {
  if (!OnValidate) return;
  validating_ = true;
  validate_buffer_ = buffer;
  try {
    OnValidate(this);
  } catch (...) {
    validating_ = false;
    validate_buffer_ = nullptr;
    throw;
  }
  validating_ = false;
  validate_buffer_ = nullptr;
}

void TField::Change() {
  if (OnChange) OnChange(this);
}

bool TField::IsNull() const {
  return !GetData(nullptr);
}

void TField::SetValue(const Variant& value) {
  if (VarIsNull(value) || VarIsEmpty(value)) {
    Clear();
  } else {
    SetAsVariant(value);
  }
}

Variant TField::OldValue() const {
  return dataset_->GetStateFieldValue(dsOldValue, const_cast<TField*>(this));
}

Variant TField::NewValue() const {
  return dataset_->GetStateFieldValue(dsNewValue, const_cast<TField*>(this));
}

Variant TField::CurValue() const {
  return dataset_->GetStateFieldValue(dsCurValue, const_cast<TField*>(this));
}

std::string TField::GetAsString() const {
  return VarToStr(GetAsVariant());
}

void TField::SetAsStringValue(const std::string& value) {
  SetValue(value.empty() ? Null() : Variant(value));
}

int32_t TField::GetAsInteger() const {
  const Variant value = GetAsVariant();
  return VarIsNull(value) ? 0 : value.AsInteger();
}

double TField::AsFloat() const {
  const Variant value = GetAsVariant();
  return VarIsNull(value) ? 0 : value.AsDouble();
}

bool TField::AsBoolean() const {
  const Variant value = GetAsVariant();
  return VarIsNull(value) ? false : value.AsBoolean();
}

TDateTime TField::AsDateTime() const {
  const Variant value = GetAsVariant();
  return VarIsNull(value) ? 0 : value.AsDateTime();
}

Currency TField::AsCurrency() const {
  const Variant value = GetAsVariant();
  return VarIsNull(value) ? Currency() : value.AsCurrency();
}

void TField::Assign(TPersistent* source) {
  if (source == nullptr) {
    Clear();
    return;
  }
  if (auto* field = dynamic_cast<TField*>(source)) {
    SetValue(field->Value());
    return;
  }
  TComponent::Assign(source);
}

}  // namespace jw
