// The names of a query's result fields: a default for every field that AS
// did not name, at most kMaxFieldNameLength characters each, and no two
// alike without regard to case.
#include <string>

#include "engine/core/data_file_format.h"
#include "engine/sql/data_query.h"
#include "platform/rtl/strings.h"

namespace jw {
namespace {

// By aggregate kind, kAggregateNone first.
constexpr const char* kAggregatePrefixes[] = {"",        "Sum Of ",     "Min Of ",
                                              "Max Of ", "Average Of ", "Count Of "};

// The last characters of a name that does not fit.
std::string LastCharacters(const std::string& name, size_t length) {
  return name.size() > length ? name.substr(name.size() - length) : name;
}

std::string DefaultName(const TResultField& field) {
  if (field.Computed) {
    return field.Aggregate == kAggregateNone
               ? "Expression"
               : kAggregatePrefixes[field.Aggregate] + std::string("Expr");
  }
  return kAggregatePrefixes[field.Aggregate] + field.ColumnName;
}

}  // namespace

void TDataQuery::NameResultFields() {
  constexpr auto kLength = static_cast<size_t>(kMaxFieldNameLength);
  for (size_t i = 0; i < ResultFields.size(); ++i) {
    TResultField& field = *ResultFields[i];
    if (field.NameIsDefault) field.ResultName = DefaultName(field);
    field.ResultName = LastCharacters(field.ResultName, kLength);
    // A later field with an earlier field's name takes a number.
    const std::string base = field.ResultName;
    const auto taken = [&](const std::string& name) {
      for (size_t j = 0; j < i; ++j) {
        if (SameText(ResultFields[j]->ResultName, name)) return true;
      }
      return false;
    };
    for (int32_t clash = 1; taken(field.ResultName); ++clash) {
      const std::string suffix = "_" + IntToStr(clash);
      field.ResultName = LastCharacters(base, kLength - suffix.size()) + suffix;
    }
  }
}

}  // namespace jw
