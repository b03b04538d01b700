#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "components/compressor.h"
#include "components/kit_container.h"
#include "components/kit_graphics.h"
#include "components/stream_records.h"
#include "platform/rtl/filer.h"
#include "tests/support/error_text.h"
#include "tests/support/temp_folder.h"

namespace jw {
namespace {

using test_support::ErrorText;

std::string Bytes(TMemoryStream& stream) {
  return std::string(static_cast<const char*>(stream.Memory()), static_cast<size_t>(stream.Size()));
}

std::string Le32(uint32_t v) {
  return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                     static_cast<char>(v >> 24)};
}

// A w x h bitmap of the colour with a black top-left pixel.
std::unique_ptr<TBitmap> Picture(int w, int h, TColor color) {
  auto bitmap = std::make_unique<TBitmap>();
  bitmap->SetSize(w, h);
  bitmap->Canvas().Brush().SetColor(color);
  bitmap->Canvas().FillRect(Rect(0, 0, w, h));
  bitmap->Canvas().SetPixels(0, 0, clBlack);
  return bitmap;
}

// The record bytes of a bitmap, string list or wave as the record writers
// make them.
template <typename Write>
std::string Record(Write write) {
  TMemoryStream stream;
  write(stream);
  return Bytes(stream);
}

std::string WaveFile() {
  std::string b = "RIFF" + Le32(36) + "WAVEfmt " + Le32(16);
  b += std::string("\x01\x00\x01\x00", 4) + Le32(8000) + Le32(16000) +
       std::string("\x02\x00\x10\x00", 4);
  return b + "data" + Le32(0);
}

TEST(KitContainersTest, ItemRecordsHaveTheirDocumentedBytes) {
  TKitBitmapList bitmaps(nullptr);
  TKitStringList strings(nullptr);
  TKitWaveList waves(nullptr);
  TKitImageList images(nullptr);
  auto picture = Picture(3, 2, clRed);

  auto* plain_bitmap = bitmaps.Items(bitmaps.AddItem());
  plain_bitmap->SetDescription("ab");
  plain_bitmap->SetIdent(7);
  plain_bitmap->SetBitmap(*picture);
  auto* mono_bitmap = bitmaps.Items(bitmaps.AddItem());
  mono_bitmap->SetPixelFormat(TKitSavePixelFormat::spfMono);
  mono_bitmap->SetBitmap(*picture);
  auto* empty_bitmap = bitmaps.Items(bitmaps.AddItem());
  auto* text = strings.Items(strings.AddItem());
  text->SetCompressed(true);
  text->Items().SetText("one\r\ntwo");
  auto* wave = waves.Items(waves.AddItem());
  TMemoryStream wave_bytes;
  wave_bytes.WriteBuffer(WaveFile().data(), static_cast<int64_t>(WaveFile().size()));
  wave_bytes.SetPosition(0);
  wave->Wave().LoadFromStream(wave_bytes);
  auto* empty_wave = waves.Items(waves.AddItem());
  auto* strip = images.Items(images.AddItem());
  strip->SetWidth(3);
  strip->SetHeight(2);
  auto* empty_strip = images.Items(images.AddItem());
  empty_strip->SetIdent(300);

  struct Case {
    const char* name;
    TKitListItem* item;
    std::string bytes;
  };
  std::vector<Case> cases = {
      {"bitmap with description and identifier", plain_bitmap,
       "\x0E\x02"
       "ab" +
           Le32(7) +
           Record([&](TStream& s) { WriteBitmap(s, *picture, false, kDibBitmapStream); })},
      {"monochrome bitmap", mono_bitmap,
       "\x18" + Record([&](TStream& s) { WriteBitmap(s, *picture, false, kDibMono); })},
      {"empty bitmap", empty_bitmap, std::string(1, '\0')},
      {"compressed strings", text,
       "\x09" + Record([&](TStream& s) { WriteStringList(s, text->Items(), true); })},
      {"wave", wave, "\x08" + Le32(static_cast<uint32_t>(WaveFile().size())) + WaveFile()},
      {"empty wave", empty_wave, std::string(1, '\0')},
      {"empty image strip always has its payload", empty_strip,
       "\x04" + Le32(300) + Le32(16) + Le32(16) + Le32(4) + std::string(1, '\0') + Le32(0)},
  };
  strip->Add(*Picture(6, 2, clBlue), nullptr);
  TBitmap strip_part;
  strip_part.SetImage(strip->Strip().Image().copy(0, 0, 6, 2));
  cases.push_back(
      {"image strip of two", strip,
       std::string(1, '\0') + Le32(2) + Le32(3) + Le32(4) + std::string(1, '\0') + Le32(2) +
           Record([&](TStream& s) { WriteBitmap(s, strip_part, false, kDibBitmapStream); })});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryStream stream;
    c.item->WriteToStream(stream);
    EXPECT_EQ(Bytes(stream), c.bytes);
  }
}

// Fills each kind of container with a few items.
void Fill(TKitCustomContainer& container) {
  for (int i = 0; i < 3; ++i) {
    TKitListItem* item = container.Item(container.AddItem());
    item->SetDescription("item " + std::to_string(i));
    item->SetIdent(static_cast<uint16_t>(i * 1000));
    item->SetCompressed(i == 1);
    if (auto* bitmap = dynamic_cast<TKitBitmapListItem*>(item)) {
      if (i != 2) bitmap->SetBitmap(*Picture(5 + i, 4, i == 0 ? clRed : clGreen));
    } else if (auto* strip = dynamic_cast<TKitImageListItem*>(item)) {
      strip->SetMasked(i == 0);
      strip->SetWidth(4);
      strip->SetHeight(4);
      for (int k = 0; k < i + 1; ++k)
        strip->Add(*Picture(8, 4, k == 0 ? clBlue : clYellow), nullptr);
    } else if (auto* text = dynamic_cast<TKitStringListItem*>(item)) {
      text->Items().SetText(std::string(i * 700, 'z') + "\r\nend");
    }
  }
}

std::string StreamForm(TKitCustomContainer& container, bool with_index) {
  TMemoryStream stream;
  container.WriteItems(stream, with_index);
  return Bytes(stream);
}

TEST(KitContainersTest, ContainerFilesRoundTripWithTheirSignatureAndIndex) {
  test_support::TempFolder folder;
  const std::vector<std::pair<std::function<std::unique_ptr<TKitCustomContainer>()>, std::string>>
      kinds = {
          {[] { return std::make_unique<TKitBitmapList>(nullptr); }, "KITBML30"},
          {[] { return std::make_unique<TKitImageList>(nullptr); }, "KITIML30"},
          {[] { return std::make_unique<TKitStringList>(nullptr); }, "KITSLL30"},
          {[] { return std::make_unique<TKitWaveList>(nullptr); }, "KITWVL30"},
      };
  for (const auto& [make, signature] : kinds) {
    SCOPED_TRACE(signature);
    auto container = make();
    Fill(*container);
    const std::string path = folder.File(signature);
    container->SaveToFile(path);
    const std::string file = test_support::ReadFileBytes(path);
    ASSERT_EQ(file.substr(0, 9), "\x08" + signature);
    ASSERT_EQ(file.substr(9, 4), Le32(3));
    // Each offset points at a record whose bytes are the item's record.
    for (int i = 0; i < 3; ++i) {
      const uint32_t offset =
          static_cast<uint8_t>(file[13 + 4 * i]) | static_cast<uint8_t>(file[14 + 4 * i]) << 8;
      TMemoryStream record;
      container->Item(i)->WriteToStream(record);
      EXPECT_EQ(file.substr(offset, static_cast<size_t>(record.Size())), Bytes(record));
    }

    auto back = make();
    back->LoadFromFile(path);
    ASSERT_EQ(back->ItemCount(), 3);
    EXPECT_EQ(back->Item(1)->Description(), "item 1");
    EXPECT_EQ(back->Item(2)->Ident(), 2000);
    EXPECT_TRUE(back->Item(1)->Compressed());
    EXPECT_EQ(StreamForm(*back, false), StreamForm(*container, false));

    auto copy = make();
    copy->Assign(container.get());
    EXPECT_EQ(StreamForm(*copy, true), StreamForm(*container, true));
  }
  TKitBitmapList bitmaps(nullptr);
  EXPECT_EQ(ErrorText([&] { bitmaps.LoadFromFile(folder.File("KITSLL30")); }),
            "Cannot open file " + folder.File("KITSLL30"));
}

TEST(KitContainersTest, EveryCutOfAStreamRaisesReadError) {
  TKitImageList images(nullptr);
  Fill(images);
  TKitStringList strings(nullptr);
  Fill(strings);
  for (TKitCustomContainer* container : std::vector<TKitCustomContainer*>{&images, &strings}) {
    for (const bool with_index : {false, true}) {
      const std::string whole = StreamForm(*container, with_index);
      for (size_t cut = 0; cut < whole.size(); ++cut) {
        TMemoryStream stream;
        stream.WriteBuffer(whole.data(), static_cast<int64_t>(cut));
        stream.SetPosition(0);
        TKitImageList target_images(nullptr);
        TKitStringList target_strings(nullptr);
        TKitCustomContainer& target = container == &images
                                          ? static_cast<TKitCustomContainer&>(target_images)
                                          : target_strings;
        ASSERT_THROW(target.ReadItems(stream, with_index), EReadError) << "cut " << cut;
      }
    }
  }
  // Counts and identifiers beyond their limits.
  TKitStringList strings_back(nullptr);
  for (const std::string& bytes :
       {Le32(0x7FFFFFFF) + std::string(1, '\0'), Le32(1) + "\x04" + Le32(65536)}) {
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    stream.SetPosition(0);
    EXPECT_THROW(strings_back.ReadItems(stream, false), EReadError);
  }
}

TEST(KitContainersTest, ImageStripsCheckSizesAndDrawMasked) {
  TKitImageList images(nullptr);
  TKitImageListItem& strip = *images.Items(images.AddItem());
  strip.SetWidth(4);
  strip.SetHeight(2);
  strip.SetMasked(true);
  EXPECT_EQ(ErrorText<EInvalidGraphicOperation>([&] { strip.Add(*Picture(4, 3, clRed), nullptr); }),
            "Invalid image size");
  EXPECT_EQ(ErrorText<EInvalidGraphicOperation>([&] { strip.Add(*Picture(6, 2, clRed), nullptr); }),
            "Invalid image size");
  TKitImageListItem other(nullptr);
  other.SetWidth(5);
  other.SetHeight(2);
  other.Add(*Picture(5, 2, clRed), nullptr);
  EXPECT_EQ(ErrorText<EInvalidGraphicOperation>([&] { strip.AddImages(other); }),
            "Invalid image size");

  // Red shows through: the bottom-left colour of the images is the mask.
  auto pair = Picture(8, 2, clRed);
  pair->Canvas().SetPixels(1, 0, clBlue);
  pair->Canvas().SetPixels(6, 1, clBlue);
  EXPECT_EQ(strip.Add(*pair, nullptr), 0);
  EXPECT_EQ(images.Count(0), 2);
  EXPECT_EQ(images.Count(1), -1);
  TBitmap canvas;
  canvas.SetSize(4, 2);
  canvas.Canvas().Brush().SetColor(clLime);
  canvas.Canvas().FillRect(Rect(0, 0, 4, 2));
  images.Draw(canvas.Canvas(), 0, 0, 0, 1);
  const std::vector<TColor> expected = {clLime, clLime, clLime, clLime,
                                        clLime, clLime, clBlue, clLime};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(canvas.Canvas().Pixels(i % 4, i / 4), expected[i]) << i;

  TKitImageListItem wide(nullptr);
  wide.SetWidth(4096);
  wide.SetHeight(1);
  for (int i = 0; i < 8; ++i) wide.Add(*Picture(4096, 1, clRed), nullptr);
  EXPECT_EQ(
      ErrorText<EInvalidGraphicOperation>([&] { wide.Add(*Picture(4096, 1, clRed), nullptr); }),
      "Too many images");
}

// The canvas's first rows as letters: g lime, y yellow, r red, b blue,
// k black, ? anything else.
std::vector<std::string> Letters(TBitmap& canvas, int width, int height) {
  std::vector<std::string> rows;
  for (int y = 0; y < height; ++y) {
    std::string row;
    for (int x = 0; x < width; ++x) {
      const TColor pixel = canvas.Canvas().Pixels(x, y);
      row += pixel == clLime     ? 'g'
             : pixel == clYellow ? 'y'
             : pixel == clRed    ? 'r'
             : pixel == clBlue   ? 'b'
             : pixel == clBlack  ? 'k'
                                 : '?';
    }
    rows.push_back(row);
  }
  return rows;
}

TEST(KitContainersTest, DrawingStylesLayImagesOverBackgroundAndBlendByPixel) {
  // Red, the bottom-left colour, is masked: "rbbb" over "rbbr".
  auto picture = Picture(4, 2, clBlue);
  for (const TPoint p : {TPoint{0, 0}, TPoint{0, 1}, TPoint{3, 1}})
    picture->Canvas().SetPixels(p.X, p.Y, clRed);
  TKitImageList images(nullptr);
  for (const bool masked : {true, false}) {
    TKitImageListItem& item = *images.Items(images.AddItem());
    item.SetWidth(4);
    item.SetHeight(2);
    item.SetMasked(masked);
    item.Add(*picture, nullptr);
  }
  struct Case {
    TKitDrawingStyle style;
    TColor background, blend;
    std::vector<std::string> rows;
  };
  const std::vector<Case> cases = {
      {TKitDrawingStyle::dsNormal, clNone, clNone, {"gbbb", "gbbg"}},
      {TKitDrawingStyle::dsNormal, clYellow, clBlack, {"ybbb", "ybby"}},
      {TKitDrawingStyle::dsMasked, clYellow, clNone, {"gbbb", "gbbg"}},
      {TKitDrawingStyle::dsBlendSparse, clYellow, clBlack, {"kbkb", "ybby"}},
      {TKitDrawingStyle::dsBlendSparse, clYellow, clNone, {"ybbb", "ybby"}},
      {TKitDrawingStyle::dsBlendChecked, clYellow, clBlack, {"ykbk", "kbky"}},
      {TKitDrawingStyle::dsBlendChecked, clNone, clBlack, {"gkbk", "gbkg"}},
  };
  TKitImageListItem& item = *images.Items(0);
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.style));
    SCOPED_TRACE(c.background);
    item.SetDrawingStyle(c.style);
    item.SetBkColor(c.background);
    item.SetBlendColor(c.blend);
    auto canvas = Picture(4, 2, clLime);
    canvas->Canvas().SetPixels(0, 0, clLime);
    images.Draw(canvas->Canvas(), 0, 0, 0, 0);
    EXPECT_EQ(Letters(*canvas, 4, 2), c.rows);
  }

  // DrawFlags takes the item's transparent colour for the flags' colour.
  auto canvas = Picture(5, 2, clLime);
  canvas->Canvas().SetPixels(0, 0, clLime);
  images.DrawFlags(canvas->Canvas(), 1, 0, 1, 0, kDrawColorMask);
  EXPECT_EQ(Letters(*canvas, 5, 2), (std::vector<std::string>{"ggbbb", "ggbbg"}));
  images.DrawFlags(canvas->Canvas(), 1, 0, 1, 0, 0);
  EXPECT_EQ(Letters(*canvas, 5, 2), (std::vector<std::string>{"grbbb", "grbbr"}));
}

TEST(KitContainersTest, PalettedBitmapsKeepAndDrawTheirOwnColours) {
  QImage indexed(2, 1, QImage::Format_Indexed8);
  indexed.setColorTable({qRgb(0x12, 0x34, 0x56), qRgb(0xAB, 0xCD, 0xEF)});
  indexed.setPixel(0, 0, 1);
  indexed.setPixel(1, 0, 0);
  TBitmap bitmap;
  bitmap.SetImage(indexed);
  TKitBitmapList bitmaps(nullptr);
  bitmaps.Items(bitmaps.AddItem())->SetBitmap(bitmap);
  EXPECT_EQ(bitmaps.GetPalette(0), (TKitPalette{0x563412, 0xEFCDAB}));
  EXPECT_TRUE(bitmaps.GetPalette(1).empty());
  TKitImageList images(nullptr);
  images.Items(images.AddItem())->Add(*Picture(16, 16, clRed), nullptr);
  EXPECT_TRUE(images.GetPalette(0).empty());  // the strip is true colour

  for (const uint32_t flags : {0u, kDrawPalette, kDrawPalette | kDrawColorMask}) {
    SCOPED_TRACE(flags);
    auto canvas = Picture(2, 1, clLime);
    bitmaps.DrawExt(canvas->Canvas(), Rect(0, 0, 2, 1), 0, 0, 0x563412, flags);
    EXPECT_EQ(canvas->Canvas().Pixels(0, 0), 0xEFCDAB);
    EXPECT_EQ(canvas->Canvas().Pixels(1, 0), (flags & kDrawColorMask) != 0 ? clLime : 0x563412);
  }
}

TEST(KitContainersTest, LinksHearOfItemChangesUntilEitherSideGoes) {
  auto strings = std::make_unique<TKitStringList>(nullptr);
  std::vector<TPersistent*> senders;
  auto link = std::make_unique<TKitChangeLink>();
  link->OnChange = [&](TPersistent* sender) { senders.push_back(sender); };
  strings->RegisterLink(link.get());
  EXPECT_EQ(link->Sender(), strings.get());
  TKitListItem* item = strings->Item(strings->AddItem());
  item->SetDescription("x");
  EXPECT_EQ(senders, (std::vector<TPersistent*>{strings.get(), strings.get()}));
  link.reset();
  item->SetDescription("y");
  EXPECT_EQ(senders.size(), 2u);

  TKitChangeLink second;
  strings->RegisterLink(&second);
  delete item;
  EXPECT_EQ(strings->ItemCount(), 0);
  strings.reset();
  EXPECT_EQ(second.Sender(), nullptr);
}

TEST(KitContainersTest, BitmapItemsLoadFromTheirSourceWhenFirstAsked) {
  test_support::TempFolder folder;
  TKitBitmapList stored(nullptr);
  Fill(stored);
  stored.SaveToFile(folder.File("pics.bml"));
  Picture(2, 3, clBlue)->SaveToFile(folder.File("pic12.bmp"));

  TKitBitmapList lazy(nullptr);
  lazy.SetPathPrefix(TKitPathPrefix::ppFixed);
  TKitBitmapListItem& item = *lazy.Items(lazy.AddItem());
  item.SetIdent(1);
  lazy.SetSource(TKitContainerSource::csContainerFile);
  lazy.SetFileName(folder.File("pics.bml"));
  // A fixed prefix names no folder: the file name is used as it stands.
  EXPECT_EQ(lazy.GetSize(0, 0), 6);
  EXPECT_EQ(item.Bitmap().Canvas().Pixels(5, 3), clGreen);

  // An identifier past the file's items names no record.
  TKitBitmapListItem& missing = *lazy.Items(lazy.AddItem());
  missing.SetIdent(3);
  EXPECT_EQ(ErrorText<EReadError>([&] { missing.Bitmap(); }), "Stream read error");

  TKitBitmapListItem& numbered = *lazy.Items(lazy.AddItem());
  numbered.SetIdent(12);
  lazy.SetSource(TKitContainerSource::csBitmapFile);
  lazy.SetFileName(folder.File("picture.bmp"));
  EXPECT_EQ(numbered.Bitmap().Height(), 3);

  // A library source gives no bitmap, and no error; a module resource
  // cannot be read here.
  TKitBitmapListItem& library = *lazy.Items(lazy.AddItem());
  lazy.SetSource(TKitContainerSource::csLibrary);
  EXPECT_NO_THROW(EXPECT_TRUE(library.Bitmap().Empty()));
  lazy.SetSource(TKitContainerSource::csResource);
  EXPECT_EQ(ErrorText<EReadError>([&] { library.Bitmap(); }), "Stream read error");
}

}  // namespace
}  // namespace jw
