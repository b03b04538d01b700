#include "platform/db/date_time_fields.h"

#include <cstring>

#include "platform/rtl/date_format.h"
#include "platform/rtl/strings.h"

namespace jw {

Variant TDateTimeField::GetAsVariant() const {
  uint8_t buffer[8] = {};
  if (!GetData(buffer)) return Null();
  int32_t whole = 0;
  std::memcpy(&whole, buffer, 4);
  switch (DataType()) {
    case ftDate:
      return VarFromDateTime(TimeStampToDateTime({0, whole}));
    case ftTime:
      return VarFromDateTime(static_cast<double>(whole) / kMSecsPerDay);
    default: {
      double msecs = 0;
      std::memcpy(&msecs, buffer, 8);
      return VarFromDateTime(TimeStampToDateTime(MSecsToTimeStamp(msecs)));
    }
  }
}

void TDateTimeField::SetAsVariant(const Variant& value) {
  const TTimeStamp stamp = DateTimeToTimeStamp(value.AsDateTime());
  switch (DataType()) {
    case ftDate:
      SetData(&stamp.Date);
      break;
    case ftTime:
      SetData(&stamp.Time);
      break;
    default: {
      const double msecs = TimeStampToMSecs(stamp);
      SetData(&msecs);
      break;
    }
  }
}

std::string TDateTimeField::GetAsString() const {
  const Variant value = GetAsVariant();
  if (VarIsNull(value)) return std::string();
  switch (DataType()) {
    case ftDate:
      return DateToStr(value.AsDateTime());
    case ftTime:
      return TimeToStr(value.AsDateTime());
    default:
      return DateTimeToStr(value.AsDateTime());
  }
}

void TDateTimeField::SetAsStringValue(const std::string& value) {
  if (Trim(value).empty()) {
    Clear();
    return;
  }
  switch (DataType()) {
    case ftDate:
      SetAsDateTime(StrToDate(value));
      break;
    case ftTime:
      SetAsDateTime(StrToTime(value));
      break;
    default:
      SetAsDateTime(StrToDateTime(value));
      break;
  }
}

}  // namespace jw
