// The date and time field classes. Their buffers hold the native forms: a
// date as an int32 day number (day 1 = 1 January of year 1), a time as int32
// milliseconds of the day, a date-time as double milliseconds (day number x
// 86400000 + time); the fields turn them into TDateTime values.
#pragma once

#include "platform/db/field.h"

namespace jw {

class TDateTimeField : public TField {
 public:
  explicit TDateTimeField(TComponent* owner) : TDateTimeField(owner, ftDateTime) {}
  int32_t DataSize() const override { return DataType() == ftDateTime ? 8 : 4; }

 protected:
  TDateTimeField(TComponent* owner, TFieldType type) : TField(owner, type) {}
  Variant GetAsVariant() const override;
  void SetAsVariant(const Variant& value) override;
  // The system's short date, long time, or both.
  std::string GetAsString() const override;
  void SetAsStringValue(const std::string& value) override;
};

class TDateField : public TDateTimeField {
 public:
  explicit TDateField(TComponent* owner) : TDateTimeField(owner, ftDate) {}
};

class TTimeField : public TDateTimeField {
 public:
  explicit TTimeField(TComponent* owner) : TDateTimeField(owner, ftTime) {}
};

}  // namespace jw
