#include "platform/gui/bitmap.h"

#include <QPainter>
#include <fstream>

#include "platform/gui/bmp_format.h"
#include "platform/gui/qt_convert.h"
#include "platform/rtl/file_names.h"

namespace jw {

namespace {

// Reads the file straight into one buffer of its size. A folder opens as a
// stream too, with a size of 2^63 - 1: it is refused as a file that cannot
// be opened.
std::string ReadWholeFile(const std::string& file_name) {
  std::ifstream in(file_name, std::ios::binary | std::ios::ate);
  if (!in || DirectoryExists(file_name))
    throw EFOpenError("Cannot open file \"" + file_name + "\"");
  const std::streamoff size = in.tellg();
  std::string bytes(size > 0 ? static_cast<size_t>(size) : 0, '\0');
  in.seekg(0);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

}  // namespace

void TGraphic::SetTransparent(bool transparent) {
  if (transparent == transparent_) return;
  transparent_ = transparent;
  Changed();
}

void TGraphic::Changed() {
  if (OnChange) OnChange(this);
}

// Draws on the bitmap's pixels, one painter per drawing call.
class TBitmap::BitmapCanvas : public TCanvas {
 public:
  explicit BitmapCanvas(TBitmap& bitmap) : bitmap_(bitmap) {}

  TColor Pixels(int x, int y) override {
    const QImage& image = bitmap_.image_;
    if (!image.valid(x, y)) return clNone;
    return FromQColor(QColor(image.pixel(x, y)));
  }

 protected:
  QPainter* BeginDraw() override {
    QImage& image = bitmap_.DrawableImage();
    if (image.isNull()) return nullptr;
    painter_.emplace(&image);
    return &*painter_;
  }
  void EndDraw() override {
    painter_.reset();
    bitmap_.Changed();
  }

 private:
  TBitmap& bitmap_;
  std::optional<QPainter> painter_;
};

TBitmap::TBitmap() = default;
TBitmap::~TBitmap() = default;

void TBitmap::SetSize(int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (width == Width() && height == Height()) return;
  QImage resized;
  if (width > 0 && height > 0) {
    const QImage::Format format = image_.isNull() ? QImage::Format_BGR888 : image_.format();
    resized = QImage(width, height, format);
    if (format == QImage::Format_Mono || format == QImage::Format_Indexed8) {
      resized.setColorTable(image_.colorTable());
      resized.fill(0);
    } else {
      resized.fill(Qt::white);
    }
    if (!image_.isNull()) {
      const int rows = std::min(height, image_.height());
      const int bytes = std::min(resized.bytesPerLine(), image_.bytesPerLine());
      for (int y = 0; y < rows; ++y)
        std::memcpy(resized.scanLine(y), image_.constScanLine(y), bytes);
    }
  }
  image_ = std::move(resized);
  Changed();
}

TPixelFormat TBitmap::PixelFormat() const {
  switch (image_.format()) {
    case QImage::Format_Mono:
      return TPixelFormat::pf1bit;
    case QImage::Format_Indexed8:
      return TPixelFormat::pf8bit;
    case QImage::Format_BGR888:
    case QImage::Format_Invalid:
      return TPixelFormat::pf24bit;
    default:
      return TPixelFormat::pf32bit;
  }
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
  if (format == PixelFormat() || image_.isNull()) return;
  switch (format) {
    case TPixelFormat::pf1bit:
      image_ = image_.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
      break;
    case TPixelFormat::pf4bit:
    case TPixelFormat::pf8bit:
      image_ = image_.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
      break;
    case TPixelFormat::pfDevice:
    case TPixelFormat::pf24bit:
      image_ = image_.convertToFormat(QImage::Format_BGR888);
      break;
    case TPixelFormat::pf32bit:
      image_ = image_.convertToFormat(QImage::Format_RGB32);
      break;
  }
  Changed();
}

uint8_t* TBitmap::ScanLine(int y) {
  if (y < 0 || y >= Height()) throw EInvalidGraphic("Scan line index out of range");
  return image_.scanLine(y);
}

const uint8_t* TBitmap::ScanLine(int y) const {
  if (y < 0 || y >= Height()) throw EInvalidGraphic("Scan line index out of range");
  return image_.constScanLine(y);
}

void TBitmap::Mask(TColor transparent_color) {
  if (image_.isNull()) return;
  const QRgb key = ToQColor(transparent_color).rgb() & 0xFFFFFF;
  QImage mask(image_.size(), QImage::Format_Mono);
  mask.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
  mask.fill(0);
  for (int y = 0; y < image_.height(); ++y) {
    uchar* row = mask.scanLine(y);
    for (int x = 0; x < image_.width(); ++x) {
      if ((image_.pixel(x, y) & 0xFFFFFF) == key) row[x / 8] |= static_cast<uchar>(0x80 >> (x % 8));
    }
  }
  image_ = std::move(mask);
  Changed();
}

TCanvas& TBitmap::Canvas() {
  if (!canvas_) canvas_ = std::make_unique<BitmapCanvas>(*this);
  return *canvas_;
}

QImage& TBitmap::DrawableImage() {
  if (image_.format() == QImage::Format_Mono || image_.format() == QImage::Format_Indexed8) {
    image_ = image_.convertToFormat(QImage::Format_BGR888);
  }
  return image_;
}

void TBitmap::LoadFromFile(const std::string& file_name) {
  LoadFromBytes(ReadWholeFile(file_name));
}

void TBitmap::LoadFromBytes(const std::string& bytes) {
  QImage image = DecodeBmp(bytes);
  if (image.isNull()) throw EInvalidGraphic("Bitmap image is not valid");
  image_ = std::move(image);
  Changed();
}

void TBitmap::SaveToFile(const std::string& file_name) const {
  std::ofstream out(file_name, std::ios::binary | std::ios::trunc);
  if (!out) throw EFCreateError("Cannot create file \"" + file_name + "\"");
  const std::string bytes = EncodeBmp24(image_);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw EWriteError("Stream write error");
}

void TBitmap::Assign(TPersistent* source) {
  if (auto* bitmap = dynamic_cast<TBitmap*>(source)) {
    if (bitmap == this) return;
    image_ = bitmap->image_;
    SetTransparent(bitmap->Transparent());
    Changed();
    return;
  }
  if (auto* graphic = dynamic_cast<TGraphic*>(source)) {
    image_ = graphic->ToImage().convertToFormat(QImage::Format_BGR888);
    Changed();
    return;
  }
  TGraphic::Assign(source);
}

QImage TBitmap::ToImage() const {
  if (!Transparent() || image_.isNull()) return image_;
  // A transparent bitmap leaves out the colour of its bottom-left pixel.
  QImage image = image_.convertToFormat(QImage::Format_ARGB32);
  const QRgb key = image.pixel(0, image.height() - 1) & 0xFFFFFF;
  for (int y = 0; y < image.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      if ((row[x] & 0xFFFFFF) == key) row[x] = 0;
    }
  }
  return image;
}

void TBitmap::SetImage(QImage image) {
  image_ = std::move(image);
  Changed();
}

void TIcon::LoadFromFile(const std::string& file_name) {
  const std::string bytes = ReadWholeFile(file_name);
  QImage image;
  if (!image.loadFromData(reinterpret_cast<const uchar*>(bytes.data()),
                          static_cast<int>(bytes.size()))) {
    throw EInvalidGraphic("Icon image is not valid");
  }
  SetImage(std::move(image));
}

void TIcon::Assign(TPersistent* source) {
  if (auto* graphic = dynamic_cast<TGraphic*>(source)) {
    if (graphic != this) SetImage(graphic->ToImage());
    return;
  }
  TGraphic::Assign(source);
}

void TIcon::SetImage(QImage image) {
  image_ = image.convertToFormat(QImage::Format_ARGB32);
  Changed();
}

}  // namespace jw
