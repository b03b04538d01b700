#include "app/jpeg_writer.h"

#include <csetjmp>
// jpeglib.h uses FILE and size_t without declaring them.
#include <cstdio>
#include <vector>

#include <jpeglib.h>
// After jpeglib.h, which it needs.
#include <jerror.h>

#include "platform/rtl/streams.h"

namespace jw {

namespace {

// The library reports a fatal error by calling error_exit, which must not
// return; it jumps back to the compressing frame with the message.
struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr info) {
  auto* errors = reinterpret_cast<ErrorManager*>(info->err);
  (*info->err->format_message)(info, errors->message);
  std::longjmp(errors->jump, 1);
}

// Warnings of a compressor only concern damaged input; there is none here.
void IgnoreMessage(j_common_ptr, int) {}

// The destination manager: compressed bytes go into a buffer that grows by
// one block each time the library fills it.
constexpr size_t kDestinationBlock = 64 * 1024;

struct Destination {
  jpeg_destination_mgr base;
  std::vector<JOCTET>* bytes;
};

void InitDestination(j_compress_ptr info) {
  auto* dest = reinterpret_cast<Destination*>(info->dest);
  dest->bytes->resize(kDestinationBlock);
  dest->base.next_output_byte = dest->bytes->data();
  dest->base.free_in_buffer = dest->bytes->size();
}

// A full buffer: all of it holds output, so the next block goes after it.
boolean EmptyOutputBuffer(j_compress_ptr info) {
  auto* dest = reinterpret_cast<Destination*>(info->dest);
  const size_t used = dest->bytes->size();
  bool grown = true;
  try {
    dest->bytes->resize(used + kDestinationBlock);
  } catch (const std::bad_alloc&) {
    grown = false;
  }
  if (!grown) ERREXIT(info, JERR_OUT_OF_MEMORY);
  dest->base.next_output_byte = dest->bytes->data() + used;
  dest->base.free_in_buffer = kDestinationBlock;
  return TRUE;
}

void TermDestination(j_compress_ptr info) {
  auto* dest = reinterpret_cast<Destination*>(info->dest);
  dest->bytes->resize(dest->bytes->size() - dest->base.free_in_buffer);
}

// Compresses the rows (RGB, top row first) into the destination. The
// library leaves this frame by longjmp on a fatal error, so nothing here
// has a destructor to skip; the buffers belong to the caller.
bool Compress(jpeg_compress_struct* info, ErrorManager* errors, Destination* dest,
              const TBitmap& bitmap, JSAMPLE* row, int quality) {
  if (setjmp(errors->jump) != 0) {
    jpeg_destroy_compress(info);
    return false;
  }
  jpeg_create_compress(info);
  info->dest = &dest->base;
  info->image_width = static_cast<JDIMENSION>(bitmap.Width());
  info->image_height = static_cast<JDIMENSION>(bitmap.Height());
  info->input_components = 3;
  info->in_color_space = JCS_RGB;
  jpeg_set_defaults(info);
  jpeg_set_quality(info, quality, TRUE);
  jpeg_start_compress(info, TRUE);
  const auto width = static_cast<size_t>(bitmap.Width());
  while (info->next_scanline < info->image_height) {
    // The bitmap holds blue, green, red; the library takes red, green, blue.
    const uint8_t* bgr = bitmap.ScanLine(static_cast<int>(info->next_scanline));
    for (size_t x = 0; x < width; ++x) {
      row[3 * x] = bgr[3 * x + 2];
      row[3 * x + 1] = bgr[3 * x + 1];
      row[3 * x + 2] = bgr[3 * x];
    }
    JSAMPROW rows[1] = {row};
    jpeg_write_scanlines(info, rows, 1);
  }
  jpeg_finish_compress(info);
  jpeg_destroy_compress(info);
  return true;
}

}  // namespace

std::string JpegBytes(const TBitmap& bitmap, int quality) {
  if (bitmap.Empty()) throw EJpegError("Cannot compress an empty picture");
  TBitmap rgb24;
  const TBitmap* source = &bitmap;
  if (bitmap.PixelFormat() != TPixelFormat::pf24bit) {
    rgb24.SetImage(bitmap.Image());
    rgb24.SetPixelFormat(TPixelFormat::pf24bit);
    source = &rgb24;
  }
  std::vector<JOCTET> bytes;
  std::vector<JSAMPLE> row(3 * static_cast<size_t>(source->Width()));
  jpeg_compress_struct info{};
  ErrorManager errors{};
  info.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = ErrorExit;
  errors.base.emit_message = IgnoreMessage;
  Destination dest{};
  dest.base.init_destination = InitDestination;
  dest.base.empty_output_buffer = EmptyOutputBuffer;
  dest.base.term_destination = TermDestination;
  dest.bytes = &bytes;
  if (!Compress(&info, &errors, &dest, *source, row.data(), quality))
    throw EJpegError(errors.message);
  return std::string(bytes.begin(), bytes.end());
}

void SaveJpeg(const TBitmap& bitmap, const std::string& path) {
  const std::string bytes = JpegBytes(bitmap);
  TFileStream file(path, fmCreate);
  file.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

}  // namespace jw
