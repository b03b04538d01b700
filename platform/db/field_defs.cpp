#include "platform/db/field_defs.h"

#include "platform/db/data_set.h"
#include "platform/db/field.h"
#include "platform/db/field_factory.h"
#include "platform/db/scalar_fields.h"

namespace jw {

TField* TFieldDef::CreateField(TComponent* owner, TDataSet* dataset) const {
  TField* field = CreateFieldOfType(data_type_, owner);
  if (field == nullptr) DatabaseErrorFmt(db_text::kUnsupportedFieldType, name_);
  try {
    field->SetFieldName(name_);
    field->SetSize(size_);
    field->SetRequired(required_);
    if (auto* bcd = dynamic_cast<TBCDField*>(field)) bcd->SetPrecision(precision_);
    field->SetDataSet(dataset);
  } catch (...) {
    delete field;
    throw;
  }
  return field;
}

TFieldDef& TFieldDefs::AddFieldDef() {
  auto def = std::make_unique<TFieldDef>();
  def->SetFieldNo(Count() + 1);
  return AddItem(std::move(def));
}

TFieldDef& TFieldDefs::Add(const std::string& name, TFieldType type, int32_t size, bool required) {
  auto def = std::make_unique<TFieldDef>();
  def->SetName(name);
  def->SetDataType(type);
  def->SetSize(size);
  def->SetRequired(required);
  def->SetFieldNo(Count() + 1);
  return AddItem(std::move(def));
}

TFieldDef& TFieldDefs::Find(const std::string& name) const {
  TFieldDef* def = FindItem(name);
  if (def == nullptr) DatabaseErrorFmt(db_text::kFieldNotFound, name);
  return *def;
}

void TFieldDefs::Fill() {
  DataSet()->InitFieldDefs();
}

void TFieldDefs::NotifyChanged() {
  DataSet()->DefChanged(this);
}

}  // namespace jw
