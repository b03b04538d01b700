// The field classes of raw bytes: fixed and counted byte strings held in the
// record buffer, and the BLOB fields (binary, memo, graphic) whose data the
// dataset keeps outside the buffer and serves through its BLOB streams.
#pragma once

#include <memory>

#include "platform/db/field.h"
#include "platform/rtl/streams.h"

namespace jw {

// Size() bytes in the buffer; the value is a string of those bytes.
class TBytesField : public TField {
 public:
  explicit TBytesField(TComponent* owner) : TBytesField(owner, ftBytes) {}
  int32_t DataSize() const override { return Size(); }

 protected:
  TBytesField(TComponent* owner, TFieldType type);
  Variant GetAsVariant() const override;
  // Bytes beyond the field's capacity are cut off; a fixed field pads with 0.
  void SetAsVariant(const Variant& value) override;
  void SetAsStringValue(const std::string& value) override { SetValue(Variant(value)); }
};

// A uint16 count, then up to Size() bytes.
class TVarBytesField : public TBytesField {
 public:
  explicit TVarBytesField(TComponent* owner) : TBytesField(owner, ftVarBytes) {}
  int32_t DataSize() const override { return Size() + 2; }
};

class TBlobField : public TField {
 public:
  explicit TBlobField(TComponent* owner) : TBlobField(owner, ftBlob) {}
  // A BLOB of another kind (formatted memo, typed binary).
  TBlobField(TComponent* owner, TFieldType blob_type) : TField(owner, blob_type) {}
  int32_t DataSize() const override { return 0; }

  // Set once the record's BLOB was written; the dataset holds it open until
  // the record is posted or cancelled.
  bool Modified() const { return modified_; }
  void SetModified(bool modified) { modified_ = modified; }
  int64_t BlobSize() const;
  void LoadFromStream(TStream& source);
  void SaveToStream(TStream& dest) const;

 protected:
  // The BLOB's bytes as a string; Null when the field is null.
  Variant GetAsVariant() const override;
  void SetAsVariant(const Variant& value) override;
  std::string GetAsString() const override;
  void SetAsStringValue(const std::string& value) override;

 private:
  std::unique_ptr<TStream> OpenStream(TBlobStreamMode mode) const;

  bool modified_ = false;
};

class TMemoField : public TBlobField {
 public:
  explicit TMemoField(TComponent* owner) : TBlobField(owner, ftMemo) {}
};

class TGraphicField : public TBlobField {
 public:
  explicit TGraphicField(TComponent* owner) : TBlobField(owner, ftGraphic) {}
};

}  // namespace jw
