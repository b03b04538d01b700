#include "platform/db/field_factory.h"

#include "platform/db/binary_fields.h"
#include "platform/db/date_time_fields.h"
#include "platform/db/scalar_fields.h"

namespace jw {

TField* CreateFieldOfType(TFieldType type, TComponent* owner) {
  switch (type) {
    case ftString:
      return new TStringField(owner);
    case ftSmallint:
      return new TSmallintField(owner);
    case ftInteger:
      return new TIntegerField(owner);
    case ftWord:
      return new TWordField(owner);
    case ftAutoInc:
      return new TAutoIncField(owner);
    case ftBoolean:
      return new TBooleanField(owner);
    case ftFloat:
      return new TFloatField(owner);
    case ftCurrency:
      return new TCurrencyField(owner);
    case ftBCD:
      return new TBCDField(owner);
    case ftDate:
      return new TDateField(owner);
    case ftTime:
      return new TTimeField(owner);
    case ftDateTime:
      return new TDateTimeField(owner);
    case ftBytes:
      return new TBytesField(owner);
    case ftVarBytes:
      return new TVarBytesField(owner);
    case ftBlob:
    case ftFmtMemo:
    case ftTypedBinary:
      return new TBlobField(owner, type);
    case ftMemo:
      return new TMemoField(owner);
    case ftGraphic:
      return new TGraphicField(owner);
    default:
      return nullptr;
  }
}

}  // namespace jw
