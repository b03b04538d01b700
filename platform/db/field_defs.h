// TFieldDef and TFieldDefs: the description of a dataset's physical fields
// (name, type, size, required, field number), filled by the dataset from its
// cursor, and the source of the dataset's default field objects.
#pragma once

#include <cstdint>
#include <string>

#include "platform/db/db_types.h"
#include "platform/db/def_collection.h"

namespace jw {

class TComponent;
class TField;

class TFieldDef {
 public:
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  TFieldType DataType() const { return data_type_; }
  void SetDataType(TFieldType type) { data_type_ = type; }
  // Characters of a string, bytes of a binary field, decimals of a BCD field.
  int32_t Size() const { return size_; }
  void SetSize(int32_t size) { size_ = size; }
  int32_t Precision() const { return precision_; }
  void SetPrecision(int32_t precision) { precision_ = precision; }
  bool Required() const { return required_; }
  void SetRequired(bool required) { required_ = required; }
  // The cursor's number of the field, 1 for the first.
  int32_t FieldNo() const { return field_no_; }
  void SetFieldNo(int32_t field_no) { field_no_ = field_no; }

  // A field object of the class that the type maps to, described by this
  // definition and attached to the dataset of the definitions.
  TField* CreateField(TComponent* owner, TDataSet* dataset) const;

 private:
  std::string name_;
  TFieldType data_type_ = ftUnknown;
  int32_t size_ = 0;
  int32_t precision_ = 0;
  bool required_ = false;
  int32_t field_no_ = 0;
};

class TFieldDefs : public TDefCollection<TFieldDef> {
 public:
  using TDefCollection::TDefCollection;

  // A definition numbered after the last one.
  TFieldDef& AddFieldDef();
  TFieldDef& Add(const std::string& name, TFieldType type, int32_t size = 0, bool required = false);
  // The definition of that name (without case); "Field '<name>' not found".
  TFieldDef& Find(const std::string& name) const;

 protected:
  void Fill() override;
  void NotifyChanged() override;
};

}  // namespace jw
