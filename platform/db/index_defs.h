// TIndexDef and TIndexDefs: the indexes a dataset offers (name, the field
// names joined by ';', options) and the search for an index over given
// fields.
#pragma once

#include <string>

#include "platform/db/db_types.h"
#include "platform/db/def_collection.h"

namespace jw {

class TIndexDef {
 public:
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  const std::string& Fields() const { return fields_; }
  void SetFields(std::string fields) { fields_ = std::move(fields); }
  TIndexOptions Options() const { return options_; }
  void SetOptions(TIndexOptions options) { options_ = options; }

 private:
  std::string name_;
  std::string fields_;
  TIndexOptions options_;
};

class TIndexDefs : public TDefCollection<TIndexDef> {
 public:
  using TDefCollection::TDefCollection;

  TIndexDef& AddIndexDef();
  TIndexDef& Add(const std::string& name, const std::string& fields, TIndexOptions options);
  // The index of that name (without case); "Index '<name>' not found".
  TIndexDef& Find(const std::string& name) const;
  // An ascending, non-expression index whose fields are exactly the given
  // names (without case), else one whose fields begin with them as whole
  // names; with case_insensitive only case-insensitive indexes count. None
  // when nothing fits.
  TIndexDef* GetIndexForFields(const std::string& fields, bool case_insensitive) const;
  // GetIndexForFields(fields, false), or "No index for fields '<fields>'".
  TIndexDef& FindIndexForFields(const std::string& fields) const;
  // Copies the definitions of another list.
  void Assign(TPersistent* source) override;

 protected:
  void Fill() override;
  void NotifyChanged() override;
};

}  // namespace jw
