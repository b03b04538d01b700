// The mailed picture of a note: decoded by an independent JPEG decoder it has
// the note's client size, shows the paper and text the note paints, and is
// white outside the outline; the file is a baseline JPEG quantised with the
// standard tables at quality 90.
#include "app/note_snapshot.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <memory>
#include <vector>

#include <gtest/gtest.h>
#include <QImage>

#include "app/folders.h"
#include "app/settings.h"
#include "tests/support/temp_folder.h"

namespace jw {
namespace {

const char kNotchPaper[] = "test-mail-notch-120.bmp";

// A light yellow paper 120 pixels square with a 2-pixel red frame and its
// top-right quarter red: an L-shaped outline.
void WriteNotchPaper() {
  TBitmap bitmap;
  bitmap.SetSize(120, 120);
  TCanvas& canvas = bitmap.Canvas();
  canvas.Brush().SetColor(clRed);
  canvas.FillRect(Rect(0, 0, 120, 120));
  canvas.Brush().SetColor(RGB(255, 255, 160));
  canvas.FillRect(Rect(2, 2, 118, 118));
  canvas.Brush().SetColor(clRed);
  canvas.FillRect(Rect(60, 0, 120, 60));
  std::filesystem::create_directories(PaperFolder());
  bitmap.SaveToFile(PaperFolder() + kNotchPaper);
}

const char kPatternPaper[] = "test-mail-pattern-100.bmp";

// A paper whose every pixel inside a 6-pixel red frame has a colour of its
// own, none of them the transparent red: a picture that is off by a pixel
// anywhere differs from it.
void WritePatternPaper() {
  TBitmap bitmap;
  bitmap.SetSize(100, 90);
  TCanvas& canvas = bitmap.Canvas();
  canvas.Brush().SetColor(clRed);
  canvas.FillRect(Rect(0, 0, 100, 90));
  for (int y = 6; y < 84; ++y)
    for (int x = 6; x < 94; ++x) canvas.SetPixels(x, y, RGB(x * 2, y * 3, 100 + (x + y) % 100));
  std::filesystem::create_directories(PaperFolder());
  bitmap.SaveToFile(PaperFolder() + kPatternPaper);
}

// The luminance and chrominance tables of the JPEG standard (Annex K), in
// natural order, and the zig-zag order in which a file stores them.
constexpr std::array<int, 64> kLuminance = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr std::array<int, 64> kChrominance = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
constexpr std::array<int, 64> kZigZag = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// A standard table at quality 90 as it appears in the file: scaled to 20 %
// and rounded, within 1..255.
std::vector<int> Quality90Table(const std::array<int, 64>& table) {
  std::vector<int> stored;
  for (int natural : kZigZag)
    stored.push_back(std::clamp((table[natural] * 20 + 50) / 100, 1, 255));
  return stored;
}

struct JpegMarkers {
  std::vector<int> frame_markers;  // the SOFn marker codes
  std::vector<std::vector<int>> tables;
  int precision = 0, height = 0, width = 0, components = 0;
};

// Walks the marker segments from SOI up to the start of the scan.
JpegMarkers ReadMarkers(const std::string& file) {
  JpegMarkers found;
  const auto byte = [&](size_t i) { return i < file.size() ? static_cast<uint8_t>(file[i]) : 0; };
  EXPECT_EQ(byte(0), 0xFF);
  EXPECT_EQ(byte(1), 0xD8);
  for (size_t at = 2; at + 4 <= file.size();) {
    EXPECT_EQ(byte(at), 0xFF) << "at " << at;
    const int marker = byte(at + 1);
    const auto length = static_cast<size_t>(byte(at + 2) << 8 | byte(at + 3));
    const size_t body = at + 4;
    if (marker == 0xDA) break;
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
      found.frame_markers.push_back(marker);
      found.precision = byte(body);
      found.height = byte(body + 1) << 8 | byte(body + 2);
      found.width = byte(body + 3) << 8 | byte(body + 4);
      found.components = byte(body + 5);
    }
    if (marker == 0xDB) {
      for (size_t t = body; t + 65 <= at + 2 + length; t += 65) {
        EXPECT_EQ(byte(t) >> 4, 0) << "16-bit table";
        std::vector<int> table;
        for (size_t k = 0; k < 64; ++k) table.push_back(byte(t + 1 + k));
        found.tables.push_back(table);
      }
    }
    at += 2 + length;
  }
  return found;
}

class NoteSnapshotTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WriteNotchPaper();
    WritePatternPaper();
  }
  static void TearDownTestSuite() {
    std::filesystem::remove(PaperFolder() + kNotchPaper);
    std::filesystem::remove(PaperFolder() + kPatternPaper);
  }

  void SetUp() override {
    ScrapSettings = TScrapSettings();
    ScrapSettings.DefaultFontDesc = "DejaVu Sans,12,0";
    note_.reset(MakeForm<TScrapForm>(nullptr));
    note_->PaperFile = kNotchPaper;
    note_->RebuildShape();
  }
  void TearDown() override {
    note_.reset();
    ScrapSettings = TScrapSettings();
  }

  std::unique_ptr<TScrapForm> note_;
  test_support::TempFolder folder_;
};

TEST_F(NoteSnapshotTest, PictureIsTheNoteAsItPaintsItselfWhiteOutsideTheOutline) {
  note_->Message = "MMMM";
  const std::string path = folder_.File("snap.jpg");
  SaveSnapshotJpeg(*note_, path);
  const std::string file = test_support::ReadFileBytes(path);
  QImage picture;
  ASSERT_TRUE(picture.loadFromData(reinterpret_cast<const uchar*>(file.data()),
                                   static_cast<int>(file.size()), "JPEG"));
  ASSERT_EQ(picture.width(), note_->ClientWidth());
  ASSERT_EQ(picture.height(), note_->ClientHeight());
  ASSERT_EQ(note_->ClientWidth(), 126);  // the outline's box, 116, and 10

  const TRegion& outline = *note_->ShapeRegion;
  // Compression blurs edges; pixels more than 8 away from the outline keep
  // their colour within a few steps.
  const auto near_outline = [&](int x, int y) {
    for (int dy = -8; dy <= 8; ++dy)
      for (int dx = -8; dx <= 8; ++dx)
        if (outline.Contains(x + dx, y + dy)) return true;
    return false;
  };
  int white = 0, dark = 0;
  for (int y = 0; y < picture.height(); ++y) {
    for (int x = 0; x < picture.width(); ++x) {
      const QColor c = picture.pixelColor(x, y);
      if (!outline.Contains(x, y)) {
        if (near_outline(x, y)) continue;
        EXPECT_TRUE(c.red() >= 245 && c.green() >= 245 && c.blue() >= 245)
            << "(" << x << ", " << y << ") is " << c.red() << "," << c.green() << "," << c.blue();
        ++white;
      } else if (c.red() + c.green() + c.blue() < 200) {
        ++dark;
      }
    }
  }
  // The red quarter lies wholly outside: it counts well over 1000 pixels.
  EXPECT_GT(white, 1000);
  // The text the note writes on its paper.
  EXPECT_GT(dark, 20);
  const QColor paper = picture.pixelColor(100, 100);
  EXPECT_GE(paper.red(), 240);
  EXPECT_GE(paper.green(), 240);
  EXPECT_NEAR(paper.blue(), 160, 12);
}

// The window is shaped before the picture is taken, as on the screen: the
// outline starts 6 pixels in, and the picture still holds the paper where the
// note shows it, pixel for pixel.
TEST_F(NoteSnapshotTest, PictureHoldsThePaperWhereTheNoteShowsIt) {
  note_->PaperFile = kPatternPaper;
  note_->RebuildShape();
  note_->Show();
  TBitmap paper;
  paper.LoadFromFile(PaperFolder() + kPatternPaper);
  TBitmap picture;
  NoteSnapshot(*note_, picture);
  ASSERT_EQ(picture.Width(), note_->ClientWidth());
  ASSERT_EQ(picture.Height(), note_->ClientHeight());
  const TRegion& outline = *note_->ShapeRegion;
  int inside = 0, wrong = 0;
  for (int y = 0; y < picture.Height(); ++y) {
    for (int x = 0; x < picture.Width(); ++x) {
      const TColor expected = outline.Contains(x, y) ? paper.Canvas().Pixels(x, y) : clWhite;
      inside += outline.Contains(x, y);
      if (picture.Canvas().Pixels(x, y) != expected && ++wrong <= 5)
        ADD_FAILURE() << "(" << x << ", " << y << ") is " << std::hex
                      << picture.Canvas().Pixels(x, y) << ", not " << expected;
    }
  }
  EXPECT_EQ(inside, 88 * 78);
  EXPECT_EQ(wrong, 0);
}

TEST_F(NoteSnapshotTest, FileIsABaselineColourJpegWithTheQuality90Tables) {
  const std::string path = folder_.File("snap.jpg");
  SaveSnapshotJpeg(*note_, path);
  const JpegMarkers markers = ReadMarkers(test_support::ReadFileBytes(path));
  EXPECT_EQ(markers.frame_markers, std::vector<int>{0xC0});
  EXPECT_EQ(markers.precision, 8);
  EXPECT_EQ(markers.width, note_->ClientWidth());
  EXPECT_EQ(markers.height, note_->ClientHeight());
  EXPECT_EQ(markers.components, 3);
  ASSERT_EQ(markers.tables.size(), 2u);
  EXPECT_EQ(markers.tables[0], Quality90Table(kLuminance));
  EXPECT_EQ(markers.tables[1], Quality90Table(kChrominance));
}

}  // namespace
}  // namespace jw
