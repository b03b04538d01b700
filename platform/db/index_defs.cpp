#include "platform/db/index_defs.h"

#include "platform/db/data_set.h"

namespace jw {

TIndexDef& TIndexDefs::AddIndexDef() {
  return AddItem(std::make_unique<TIndexDef>());
}

TIndexDef& TIndexDefs::Add(const std::string& name, const std::string& fields,
                           TIndexOptions options) {
  auto def = std::make_unique<TIndexDef>();
  def->SetName(name);
  def->SetFields(fields);
  def->SetOptions(options);
  return AddItem(std::move(def));
}

TIndexDef& TIndexDefs::Find(const std::string& name) const {
  TIndexDef* def = FindItem(name);
  if (def == nullptr) DatabaseErrorFmt(db_text::kIndexNotFound, name);
  return *def;
}

TIndexDef* TIndexDefs::GetIndexForFields(const std::string& fields, bool case_insensitive) const {
  auto usable = [&](const TIndexDef& def) {
    const TIndexOptions options = def.Options();
    if (options.Contains(ixDescending) || options.Contains(ixExpression)) return false;
    return !case_insensitive || options.Contains(ixCaseInsensitive);
  };
  for (int i = 0; i < Count(); ++i) {
    TIndexDef* def = Items(i);
    if (usable(*def) && SameText(def->Fields(), fields)) return def;
  }
  const size_t length = fields.size();
  for (int i = 0; i < Count(); ++i) {
    TIndexDef* def = Items(i);
    const std::string& own = def->Fields();
    if (usable(*def) && own.size() > length && own[length] == ';' &&
        SameText(own.substr(0, length), fields)) {
      return def;
    }
  }
  return nullptr;
}

TIndexDef& TIndexDefs::FindIndexForFields(const std::string& fields) const {
  TIndexDef* def = GetIndexForFields(fields, false);
  if (def == nullptr) DatabaseErrorFmt(db_text::kNoIndexForFields, fields);
  return *def;
}

void TIndexDefs::Assign(TPersistent* source) {
  auto* other = dynamic_cast<TIndexDefs*>(source);
  if (other == nullptr) {
    TPersistent::Assign(source);
    return;
  }
  if (other == this) return;
  Clear();
  for (int i = 0; i < other->Count(); ++i) {
    const TIndexDef* def = other->Items(i);
    Add(def->Name(), def->Fields(), def->Options());
  }
}

void TIndexDefs::Fill() {
  DataSet()->UpdateIndexDefs();
}

void TIndexDefs::NotifyChanged() {
  DataSet()->DefChanged(this);
}

}  // namespace jw
