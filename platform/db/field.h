// TField: one column of a dataset as an object. It reads and writes its
// value through the dataset's GetFieldData and SetFieldData, in the value
// form of its class, and offers it as text, numbers, dates and a Variant.
// The concrete field classes live in scalar_fields.h, date_time_fields.h and
// binary_fields.h.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/db/db_types.h"
#include "platform/rtl/component.h"
#include "platform/rtl/date_time.h"
#include "platform/rtl/numbers.h"
#include "platform/rtl/variant.h"

namespace jw {

class TDataSet;
class TField;

using TFieldNotifyEvent = std::function<void(TField* sender)>;

class TField : public TComponent {
 public:
  ~TField() override;

  TDataSet* DataSet() const { return dataset_; }
  // Leaves the old dataset's field list and joins the new one's at its end;
  // both datasets must be closed.
  void SetDataSet(TDataSet* dataset);

  const std::string& FieldName() const { return field_name_; }
  void SetFieldName(std::string name);
  TFieldType DataType() const { return data_type_; }
  TFieldKind FieldKind() const { return field_kind_; }
  void SetFieldKind(TFieldKind kind);
  bool Calculated() const { return field_kind_ == fkCalculated; }
  bool Lookup() const { return field_kind_ == fkLookup; }
  // Characters, bytes or decimals, as the field's definition gives them.
  int32_t Size() const { return size_; }
  void SetSize(int32_t size);
  // The cursor's number of a data field while bound; -1 for calculated and
  // lookup fields.
  int32_t FieldNo() const { return field_no_; }
  // The place of a calculated or lookup field in the buffer's calculated
  // area: a has-value byte, then DataSize() bytes of value.
  int32_t Offset() const { return offset_; }
  // The bytes the value takes in a record buffer.
  virtual int32_t DataSize() const;
  // The position in the dataset's field list.
  int Index() const;

  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool read_only) { read_only_ = read_only; }
  bool Required() const { return required_; }
  void SetRequired(bool required) { required_ = required; }
  bool Visible() const { return visible_; }
  void SetVisible(bool visible) { visible_ = visible; }
  const std::string& DisplayLabel() const { return display_label_; }
  void SetDisplayLabel(std::string label) { display_label_ = std::move(label); }
  // The display label, or the field name without one.
  const std::string& DisplayName() const;
  bool IsIndexField() const;
  // Not read-only, on a dataset that can be modified.
  bool CanModify() const;

  // The raw value in the dataset's current buffer. Native data is what the
  // dataset stores; otherwise the dataset converts it (DataConvert) into the
  // field's own form. False when the value is null. A null buffer asks only
  // whether there is a value.
  bool GetData(void* buffer, bool native = true) const;
  // Writes the raw value; a null buffer makes the value null.
  void SetData(const void* buffer, bool native = true);
  // Runs OnValidate with the value about to be written readable through the
  // field; the dataset calls it before it stores a value.
  void Validate(const void* buffer);
  // Runs OnChange; the dataset calls it after a value changed.
  void Change();

  bool IsNull() const;
  void Clear() { SetData(nullptr); }
  Variant Value() const { return GetAsVariant(); }
  // Null and the empty value clear the field.
  void SetValue(const Variant& value);
  // The value before the edit, the value being written, and the value the
  // cursor holds now, read in the dataset's matching temporary state.
  Variant OldValue() const;
  Variant NewValue() const;
  Variant CurValue() const;

  // Typed access. A null value reads as 0, false, "" or date 0.
  std::string AsString() const { return GetAsString(); }
  void SetAsString(const std::string& value) { SetAsStringValue(value); }
  int32_t AsInteger() const { return GetAsInteger(); }
  void SetAsInteger(int32_t value) { SetValue(Variant(value)); }
  double AsFloat() const;
  void SetAsFloat(double value) { SetValue(Variant(value)); }
  bool AsBoolean() const;
  void SetAsBoolean(bool value) { SetValue(Variant(value)); }
  TDateTime AsDateTime() const;
  void SetAsDateTime(TDateTime value) { SetValue(VarFromDateTime(value)); }
  Currency AsCurrency() const;
  void SetAsCurrency(Currency value) { SetValue(Variant(value)); }

  // From another field: its value (null stays null); a null source clears.
  void Assign(TPersistent* source) override;

  TFieldNotifyEvent OnChange;
  TFieldNotifyEvent OnValidate;

 protected:
  TField(TComponent* owner, TFieldType type);

  // The value, or Null.
  virtual Variant GetAsVariant() const = 0;
  // Stores a value that is neither null nor empty.
  virtual void SetAsVariant(const Variant& value) = 0;
  virtual std::string GetAsString() const;
  virtual void SetAsStringValue(const std::string& value);
  // The value as an integer (0 for null), through the value's variant
  // unless the field reads it more directly.
  virtual int32_t GetAsInteger() const;

 private:
  friend class TDataSet;

  // Attached by the dataset's BindFields: field number or calculated offset.
  void Bind(int32_t field_no, int32_t offset);

  TDataSet* dataset_ = nullptr;
  std::string field_name_;
  TFieldType data_type_;
  TFieldKind field_kind_ = fkData;
  int32_t size_ = 0;
  int32_t field_no_ = 0;
  int32_t offset_ = 0;
  bool read_only_ = false;
  bool required_ = false;
  bool visible_ = true;
  std::string display_label_;
  // While OnValidate runs, reads see the value about to be written.
  const void* validate_buffer_ = nullptr;
  bool validating_ = false;
};

}  // namespace jw
