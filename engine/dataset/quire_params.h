// The query component's parameters: TQuireParam (a name, a data type and a
// value), TQuireParams (the list, with its "Data" binary property), and
// ParseParams, which finds the named markers of a statement text.
//
// A value's bytes by data type: ftString, ftMemo the text and a zero byte;
// ftSmallint, ftWord, ftBoolean 2 (int16, a boolean as 1 or 0); ftInteger,
// ftAutoInc 4; ftDate 4 (whole days + 693594); ftTime 4 (milliseconds of
// the day); ftFloat, ftCurrency 8 (double); ftBCD 8 (engine BCD, 4
// decimals); ftDateTime 8 (days x 86400000 + milliseconds, as a double);
// the BLOB types the raw bytes.
//
// "Data" stream, little-endian: version u16 (1; 2 widens the counts and
// lengths below to u32); count u16; per parameter: name length u8 and the
// name, parameter type u8, data type u8, and unless the data type is 0 a
// value length u16 and the value bytes; then the is-null and bound bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/db/db_types.h"
#include "platform/rtl/persistent.h"
#include "platform/rtl/variant.h"

namespace jw {

class TField;
class TStream;
class TQuireParams;

// The longest value the "Data" stream holds, written or read.
constexpr int32_t kMaxStreamedParamBytes = 2048;

class TQuireParam : public TPersistent {
 public:
  explicit TQuireParam(TQuireParams* owner = nullptr);

  // From another parameter or a field.
  void Assign(TPersistent* source) override;

  void SetAsBoolean(bool value);
  void SetAsFloat(double value);
  void SetAsCurrency(double value);
  void SetAsBCD(Currency value);
  void SetAsInteger(int32_t value);
  void SetAsWord(int32_t value);
  void SetAsSmallInt(int32_t value);
  void SetAsString(const std::string& value);
  void SetAsDate(TDateTime value);
  void SetAsTime(TDateTime value);
  void SetAsDateTime(TDateTime value);
  void SetAsMemo(const std::string& value);
  void SetAsBlob(const std::string& value);
  // The value becomes the integer 0.
  void SetDataType(TFieldType type);
  // Null, the value 0.
  void Clear();

  // The byte count of the value in the layout above; "Field '%s' is of
  // unknown type" for ftUnknown, "Field '%s' is of an unsupported type" for
  // a type without a layout.
  int32_t GetDataSize() const;
  void GetData(uint8_t* buffer) const;
  // Reads size bytes of the layout (size counts only for the texts and the
  // BLOB types).
  void SetData(const uint8_t* buffer, int32_t size);

  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  TFieldType DataType() const { return data_type_; }
  TParamType ParamType() const { return param_type_; }
  void SetParamType(TParamType type) { param_type_ = type; }
  bool IsNull() const { return is_null_; }
  bool Bound() const { return bound_; }
  void SetBound(bool bound) { bound_ = bound; }
  const Variant& Value() const { return value_; }
  std::string AsString() const;

 protected:
  // To a field: the field's value becomes the parameter's.
  void AssignTo(TPersistent& dest) override;

 private:
  friend class TQuireParams;
  void SetValue(TFieldType type, Variant value);
  // The field's type, value and name; bound.
  void AssignField(const TField& field);

  TQuireParams* owner_;
  Variant value_ = Variant(0);
  std::string name_;
  TFieldType data_type_ = ftUnknown;
  bool is_null_ = true;
  bool bound_ = false;
  TParamType param_type_ = ptUnknown;
};

class TQuireParams : public TPersistent {
 public:
  TQuireParams() = default;

  void Assign(TPersistent* source) override;
  void DefineProperties(TFiler& filer) override;

  TQuireParam* CreateParam(TFieldType type, const std::string& name, TParamType param_type);
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // The i-th parameter reached through its name, so markers of one name all
  // stand for the first of them.
  TQuireParam* Items(int32_t index) const;
  // Without regard to case; "Parameter '%s' not found" when none.
  TQuireParam* ParamByName(const std::string& name) const;
  void Clear();
  // Each own parameter takes the value of the first source parameter of the
  // same name (case-sensitive).
  void AssignValues(const TQuireParams& source);
  bool IsEqual(const TQuireParams& other) const;

  // The "Data" property; a bad stream fails with "Unable to load bind
  // parameters" and leaves the list empty.
  void ReadData(TStream& stream);
  void WriteData(TStream& stream) const;

 protected:
  void AssignTo(TPersistent& dest) override;

 private:
  std::vector<std::unique_ptr<TQuireParam>> items_;
};

// Replaces each named marker of the text (a ':' and a name outside quotes)
// by "?" and each "::" by ":", in place; with a list, appends one parameter
// per marker in text order.
void ParseParams(TQuireParams* list, std::string& text);

}  // namespace jw
