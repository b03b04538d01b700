// Paper bitmaps shared between notes: a paper file is read and decoded once,
// and every note that shows it at its own size holds the same pixels (a
// bitmap copies them only when something draws on it).
#pragma once

#include <string>

#include "platform/gui/bitmap.h"

namespace jw {

// Gives bitmap the pixels of the BMP file at path. A file loaded before is
// not read again while some bitmap still holds its pixels and the file keeps
// its size and modification time. Raises as TBitmap::LoadFromFile does,
// naming the file when its image does not decode.
void LoadPaperBitmap(TBitmap& bitmap, const std::string& path);

}  // namespace jw
