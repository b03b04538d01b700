// TScrapRecord: what a note's record in the notes table holds besides its
// keys ("scrapid" and "Zorder"), as one value. The note store writes a note
// from it and keeps the value last written or read on the note, so a note
// is written again only when one of these has changed.
#pragma once

#include <string>

#include "platform/rtl/date_time.h"

namespace jw {

struct TScrapRecord {
  std::string Message;
  int Top = 0;
  int Left = 0;
  std::string PaperFile;
  std::string FontDesc;
  double FontAngle = 0;
  double ImageScale = 1.0;
  bool StayOnTop = false;
  TDateTime AlarmDateTime = 0;
  TDateTime AlarmLastSounded = 0;

  bool operator==(const TScrapRecord&) const = default;
};

}  // namespace jw
