#include "components/stream_records.h"

#include <gtest/gtest.h>

#include <functional>

#include "components/dib_file.h"
#include "tests/support/error_text.h"

namespace jw {
namespace {

using test_support::ErrorText;

std::string Bytes(TMemoryStream& stream) {
  return std::string(static_cast<const char*>(stream.Memory()), static_cast<size_t>(stream.Size()));
}

TMemoryStream& Load(TMemoryStream& stream, const std::string& bytes) {
  stream.Clear();
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  stream.SetPosition(0);
  return stream;
}

TEST(StreamRecordsTest, RecordsHaveTheirDocumentedBytes) {
  TStringList two_lines;
  two_lines.SetText("a\r\nb");
  TStringList empty;
  struct Case {
    const char* name;
    std::function<void(TStream&)> write;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {"integer", [](TStream& s) { WriteInteger(s, -2); }, std::string("\xFE\xFF\xFF\xFF", 4)},
      {"byte", [](TStream& s) { WriteByte(s, 0xA5); }, "\xA5"},
      {"short string", [](TStream& s) { WriteShortString(s, "abc"); },
       "\x03"
       "abc"},
      {"short string over 255 is cut",
       [](TStream& s) { WriteShortString(s, std::string(300, 'x')); },
       "\xFF" + std::string(255, 'x')},
      {"plain string list", [&](TStream& s) { WriteStringList(s, two_lines, false); },
       std::string("\x06\0\0\0a\r\nb\r\n", 10)},
      {"compressed string list", [&](TStream& s) { WriteStringList(s, two_lines, true); },
       std::string("\x0B\0\0\0\x07\0\0\0\x80"
                   "a\r\nb\r\n",
                   15)},
      {"empty compressed string list", [&](TStream& s) { WriteStringList(s, empty, true); },
       std::string(4, '\0')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryStream stream;
    c.write(stream);
    EXPECT_EQ(Bytes(stream), c.bytes);
  }
}

TEST(StreamRecordsTest, ReadersGiveBackWhatTheWritersWrote) {
  TMemoryStream stream;
  TStringList lines;
  lines.SetText(std::string(5000, 'q') + "\r\nsecond\r\n\r\nlast");
  WriteInteger(stream, INT32_MIN);
  WriteShortString(stream, std::string(256, 'y'));
  WriteStringList(stream, lines, true);
  WriteStringList(stream, lines, false);
  WriteByte(stream, 0);
  stream.SetPosition(0);
  EXPECT_EQ(ReadInteger(stream), INT32_MIN);
  EXPECT_EQ(ReadShortString(stream), std::string(255, 'y'));
  for (const bool compressed : {true, false}) {
    TStringList back;
    ReadStringList(stream, back, compressed);
    EXPECT_EQ(back.Text(), lines.Text());
  }
  EXPECT_EQ(ReadByte(stream), 0);
  EXPECT_EQ(stream.Position(), stream.Size());
}

TEST(StreamRecordsTest, LengthsBeyondTheStreamRaiseReadError) {
  TMemoryStream stream;
  TStringList list;
  for (const std::string& bytes :
       {std::string("\x05\0\0\0abcd", 8), std::string("\xFF\xFF\xFF\xFF", 4),
        std::string("\x02\0\0", 3)}) {
    EXPECT_EQ(ErrorText<EReadError>([&] { ReadStringList(Load(stream, bytes), list, false); }),
              "Stream read error");
  }
  EXPECT_THROW(ReadShortString(Load(stream,
                                    "\x04"
                                    "abc")),
               EReadError);
}

uint32_t U32(const std::string& b, size_t at) {
  return static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8 |
         static_cast<uint8_t>(b[at + 2]) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}
uint32_t U16(const std::string& b, size_t at) {
  return static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8;
}

TEST(StreamRecordsTest, DibHeadersFollowThePixelFormat) {
  struct Case {
    TPixelFormat own;
    int format;
    uint32_t bits;
  };
  const std::vector<Case> cases = {
      {TPixelFormat::pf24bit, kDibOwnFormat, 24}, {TPixelFormat::pf32bit, kDibOwnFormat, 24},
      {TPixelFormat::pf8bit, kDibOwnFormat, 8},   {TPixelFormat::pf24bit, kDibMono, 1},
      {TPixelFormat::pf24bit, kDib4Bit, 4},       {TPixelFormat::pf24bit, kDib8Bit, 8},
      {TPixelFormat::pf1bit, kDib8Bit, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.format) + " " + std::to_string(c.bits));
    TBitmap bitmap;
    bitmap.SetSize(13, 5);
    bitmap.SetPixelFormat(c.own);
    TMemoryStream stream;
    BitmapToDIB(stream, bitmap, c.format);
    const std::string b = Bytes(stream);
    const uint32_t info = c.bits == 24 ? 40 : 40 + 4 * (1u << c.bits);
    const uint32_t image = 5 * ((13 * c.bits + 31) / 32 * 4);
    ASSERT_EQ(b.size(), 14 + info + image);
    EXPECT_EQ(b.substr(0, 2), "BM");
    EXPECT_EQ(U32(b, 2), b.size());
    EXPECT_EQ(U32(b, 6), 0u);
    EXPECT_EQ(U32(b, 10), 14 + info);
    EXPECT_EQ(U32(b, 14), 40u);
    EXPECT_EQ(U32(b, 18), 13u);
    EXPECT_EQ(U32(b, 22), 5u);
    EXPECT_EQ(U16(b, 26), 1u);
    EXPECT_EQ(U16(b, 28), c.bits);
    EXPECT_EQ(U32(b, 30), 0u);
    EXPECT_EQ(U32(b, 34), image);
    EXPECT_EQ(b.substr(38, 16), std::string(16, '\0'));
  }
  TBitmap empty;
  TMemoryStream stream;
  EXPECT_EQ(ErrorText([&] { BitmapToDIB(stream, empty, kDibOwnFormat); }),
            "Bitmap image is not valid");
}

TEST(StreamRecordsTest, BitmapRecordsRoundTripTheirPixels) {
  TBitmap bitmap;
  bitmap.SetSize(37, 9);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 37; ++x)
      bitmap.Canvas().SetPixels(x, y, (x * 7 + y) % 3 == 0 ? clBlack : clWhite);
  for (const int format : {kDibBitmapStream, kDibMono, kDib4Bit, kDib8Bit}) {
    for (const bool compressed : {false, true}) {
      SCOPED_TRACE(std::to_string(format) + (compressed ? " compressed" : " plain"));
      TMemoryStream stream;
      WriteBitmap(stream, bitmap, compressed, format);
      stream.SetPosition(0);
      TBitmap back;
      ReadBitmap(stream, back, compressed);
      EXPECT_EQ(stream.Position(), stream.Size());
      ASSERT_EQ(back.Width(), 37);
      ASSERT_EQ(back.Height(), 9);
      for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 37; ++x)
          ASSERT_EQ(back.Canvas().Pixels(x, y), bitmap.Canvas().Pixels(x, y)) << x << "," << y;
    }
  }
}

}  // namespace
}  // namespace jw
