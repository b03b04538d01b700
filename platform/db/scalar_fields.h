// The field classes of single values held in the record buffer: text,
// integers of three widths, booleans, floats, currency and BCD.
#pragma once

#include "platform/db/field.h"

namespace jw {

// Text of at most Size() characters, zero-terminated in the buffer.
class TStringField : public TField {
 public:
  explicit TStringField(TComponent* owner);
  int32_t DataSize() const override { return Size() + 1; }

 protected:
  Variant GetAsVariant() const override;
  void SetAsVariant(const Variant& value) override;
  std::string GetAsString() const override;
  // Text beyond Size() characters is cut off; empty text is stored as such.
  void SetAsStringValue(const std::string& value) override;
};

// int32 in the buffer; the smallint and word classes use 16 bits and refuse
// values outside their range.
class TIntegerField : public TField {
 public:
  explicit TIntegerField(TComponent* owner) : TIntegerField(owner, ftInteger) {}
  int32_t DataSize() const override {
    return DataType() == ftInteger || DataType() == ftAutoInc ? 4 : 2;
  }

 protected:
  TIntegerField(TComponent* owner, TFieldType type) : TField(owner, type) {}
  Variant GetAsVariant() const override;
  int32_t GetAsInteger() const override;
  void SetAsVariant(const Variant& value) override;

 private:
  // The value in the buffer as its width stores it.
  int32_t ValueOf(const uint8_t* buffer) const;
  int32_t MinValue() const;
  int32_t MaxValue() const;
};

class TSmallintField : public TIntegerField {
 public:
  explicit TSmallintField(TComponent* owner) : TIntegerField(owner, ftSmallint) {}
};

class TWordField : public TIntegerField {
 public:
  explicit TWordField(TComponent* owner) : TIntegerField(owner, ftWord) {}
};

// The engine's auto-increment value: an int32 the engine assigns.
class TAutoIncField : public TIntegerField {
 public:
  explicit TAutoIncField(TComponent* owner) : TIntegerField(owner, ftAutoInc) {}
};

// int16 0 or 1 in the buffer; text "True" and "False".
class TBooleanField : public TField {
 public:
  explicit TBooleanField(TComponent* owner) : TField(owner, ftBoolean) {}
  int32_t DataSize() const override { return 2; }

 protected:
  Variant GetAsVariant() const override;
  void SetAsVariant(const Variant& value) override;
  void SetAsStringValue(const std::string& value) override;
};

// A double in the buffer.
class TFloatField : public TField {
 public:
  explicit TFloatField(TComponent* owner) : TFloatField(owner, ftFloat) {}
  int32_t DataSize() const override { return 8; }

 protected:
  TFloatField(TComponent* owner, TFieldType type) : TField(owner, type) {}
  Variant GetAsVariant() const override;
  void SetAsVariant(const Variant& value) override;
};

// A float field that holds an amount of money.
class TCurrencyField : public TFloatField {
 public:
  explicit TCurrencyField(TComponent* owner) : TFloatField(owner, ftCurrency) {}
};

// A Currency in the field's own form; the dataset converts it to and from
// its native BCD form (DataConvert). Size() is the number of decimals.
class TBCDField : public TField {
 public:
  explicit TBCDField(TComponent* owner);
  int32_t DataSize() const override { return 8; }
  int32_t Precision() const { return precision_; }
  void SetPrecision(int32_t precision) { precision_ = precision; }

 protected:
  Variant GetAsVariant() const override;
  void SetAsVariant(const Variant& value) override;

 private:
  int32_t precision_ = 0;
};

}  // namespace jw
