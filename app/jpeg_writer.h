// The JPEG file of a bitmap, compressed by libjpeg as a baseline JFIF colour
// picture at the quality the program mails notes with.
#pragma once

#include <string>

#include "platform/gui/bitmap.h"
#include "platform/rtl/exceptions.h"

namespace jw {

// The quality of the mailed note picture (1 to 100).
inline constexpr int kJpegQuality = 90;

// A picture the library refused to compress; the message is its own.
class EJpegError : public Exception {
  using Exception::Exception;
};

// The JFIF bytes of the bitmap, baseline, at the given quality.
std::string JpegBytes(const TBitmap& bitmap, int quality = kJpegQuality);

// Writes JpegBytes of the bitmap to path; EFCreateError when the file cannot
// be made, EWriteError when it cannot be written whole.
void SaveJpeg(const TBitmap& bitmap, const std::string& path);

}  // namespace jw
