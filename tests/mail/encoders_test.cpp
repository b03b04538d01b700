#include "mail/encoders.h"

#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "platform/rtl/string_list.h"
#include "tests/mail/python_peer.h"

namespace jw {
namespace {

std::string Base64Of(const std::string& bytes) {
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  auto lines = EncodeStreamBase64(stream);
  std::string text;
  for (int i = 0; i < lines->Count(); ++i) text += lines->Strings(i) + "\n";
  return text;
}

std::string UuencodeOf(const std::string& bytes) {
  std::string text;
  for (size_t i = 0; i < bytes.size(); i += 45) {
    const int count = static_cast<int>(std::min<size_t>(45, bytes.size() - i));
    text +=
        EncodeLine6(kEncodeUuencode, reinterpret_cast<const uint8_t*>(bytes.data() + i), count) +
        "\n";
  }
  return text;
}

TEST(Base64, ShortInputsArePaddedToFourCharacters) {
  const struct {
    std::string bytes;
    std::string lines;
  } cases[] = {
      {"", ""},          {"a", "YQ==\n"},        {"ab", "YWI=\n"},
      {"abc", "YWJj\n"}, {"abcd", "YWJjZA==\n"}, {std::string("\xff\xfe\x00", 3), "//4A\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(Base64Of(c.bytes), c.lines) << c.bytes;
}

TEST(Base64, LinesHoldFortyFiveBytes) {
  std::string xs;
  for (int i = 0; i < 15; ++i) xs += "eHh4";
  EXPECT_EQ(Base64Of(std::string(45, 'x')), xs + "\n");
  auto lines45 = Base64Of(std::string(45, '\x01'));
  EXPECT_EQ(lines45.size(), 61u);
  EXPECT_EQ(lines45.find('='), std::string::npos);
  auto lines46 = Base64Of(std::string(46, '\x01'));
  EXPECT_EQ(lines46.substr(60), "\nAQ==\n");
}

TEST(Base64, BothBase64ModesEncodeAlike) {
  const uint8_t bytes[] = {0xfb, 0xff, 0xbf, 0x10};
  EXPECT_EQ(EncodeLine6(kEncodeBase64, bytes, 4), "+/+/EA==");
  EXPECT_EQ(EncodeLine6(kEncodeBase64Alternate, bytes, 4), "+/+/EA==");
}

TEST(Base64, StreamIsEncodedFromItsStart) {
  TMemoryStream stream;
  stream.WriteBuffer("abc", 3);
  EXPECT_EQ(stream.Position(), 3);
  auto lines = EncodeStreamBase64(stream);
  ASSERT_EQ(lines->Count(), 1);
  EXPECT_EQ(lines->Strings(0), "YWJj");
}

TEST(Uuencode, LinesUseTheGraveAccentForZero) {
  const struct {
    std::string bytes;
    std::string line;
  } cases[] = {
      {"", "`"},
      {std::string(1, '\0'), "!````"},
      {"Cat", "#0V%T"},
      {"abcd", "$86)C9```"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EncodeLine6(kEncodeUuencode, reinterpret_cast<const uint8_t*>(c.bytes.data()),
                          static_cast<int>(c.bytes.size())),
              c.line);
  }
}

TEST(EncodeLine6Errors, BadArgumentsAreRefused) {
  uint8_t bytes[64] = {};
  EXPECT_NO_THROW(EncodeLine6(kEncodeUuencode, bytes, 63));
  EXPECT_THROW(EncodeLine6(kEncodeUuencode, bytes, 64), EConvertError);
  EXPECT_THROW(EncodeLine6(kEncodeBase64, bytes, -1), EConvertError);
  EXPECT_THROW(EncodeLine6(3, bytes, 1), EConvertError);
}

// Every length from 0 to 1000 bytes of random data, encoded here and by
// Python's base64 and binascii.
TEST(EncodersAgainstPython, RandomDataEncodesAsPythonDoes) {
  const int rounds = std::getenv("JW_LONG_TESTS") ? 10 : 1;
  for (int round = 0; round < rounds; ++round) {
    const unsigned seed = 1234u + static_cast<unsigned>(round);
    std::mt19937 random(seed);
    std::string records;
    std::string expected_by_us;
    for (uint32_t size = 0; size <= 1000; ++size) {
      std::string bytes(size, '\0');
      for (auto& b : bytes) b = static_cast<char>(random());
      records.append(reinterpret_cast<const char*>(&size), 4);
      records += bytes;
      expected_by_us += Base64Of(bytes) + "--\n" + UuencodeOf(bytes) + "==\n";
    }
    test_support::TempFolder dir;
    test_support::WriteFileBytes(dir.File("records"), records);
    std::string python = test_support::RunPython("encode_reference.py", {dir.File("records")});
    ASSERT_EQ(python, expected_by_us) << "seed " << seed;
  }
}

// Records of 4-byte little-endian length and bytes, as encode_reference.py
// reads them.
std::string Record(const std::string& bytes) {
  const auto size = static_cast<uint32_t>(bytes.size());
  return std::string(reinterpret_cast<const char*>(&size), 4) + bytes;
}

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

// Every chunk length a uuencode line can hold comes back whole through
// Python's decoder.
TEST(EncodersAgainstPython, UuencodeLinesDecodeBackThroughPython) {
  std::mt19937 random(99);
  std::string records;
  std::string expected;
  for (int size = 0; size <= 63; ++size) {
    std::string bytes(static_cast<size_t>(size), '\0');
    for (auto& b : bytes) b = static_cast<char>(random());
    records += Record(
        EncodeLine6(kEncodeUuencode, reinterpret_cast<const uint8_t*>(bytes.data()), size) + "\n");
    expected += Hex(bytes) + "\n";
  }
  test_support::TempFolder dir;
  test_support::WriteFileBytes(dir.File("records"), records);
  EXPECT_EQ(test_support::RunPython("encode_reference.py", {"--decode-uu", dir.File("records")}),
            expected);
}

// Random texts, rich in blanks, "=", control and high bytes and long runs
// without any, are encoded in lines of at most 76 characters that Python's
// quopri decodes back to exactly the text.
TEST(EncodersAgainstPython, QuotedPrintableDecodesBackThroughPython) {
  const int count = std::getenv("JW_LONG_TESTS") ? 20000 : 1000;
  const unsigned seed = 4321;
  std::mt19937 random(seed);
  const std::string kinds[] = {" \t", "=", std::string("\0\x01\x1f\x7f\r\n", 6), "\x80\xe9\xff",
                               "abcxyz.,-"};
  std::string records;
  std::string expected;
  for (int n = 0; n < count; ++n) {
    std::string text(random() % 400, '\0');
    const unsigned mix = random();
    for (auto& c : text) {
      const std::string& kind = kinds[(mix >> (random() % 4 * 8)) % 5];
      c = kind[random() % kind.size()];
    }
    const std::vector<std::string> lines = QuotedPrintableLine(text);
    std::string encoded;
    for (const std::string& line : lines) {
      ASSERT_LE(line.size(), kQuotedPrintableLineOctets) << "seed " << seed << " text " << n;
      if (&line != &lines.front()) encoded += "\r\n";
      encoded += line;
    }
    records += Record(encoded);
    expected += Hex(text) + "\n";
  }
  test_support::TempFolder dir;
  test_support::WriteFileBytes(dir.File("records"), records);
  EXPECT_EQ(test_support::RunPython("encode_reference.py", {"--decode-qp", dir.File("records")}),
            expected)
      << "seed " << seed;
}

TEST(QuotedPrintable, EscapesAndSoftLineBreaks) {
  const struct {
    std::string text;
    std::vector<std::string> lines;
  } cases[] = {
      {"a=b", {"a=3Db"}},
      {"caf\xe9", {"caf=E9"}},
      {"\x80\xff", {"=80=FF"}},
      {"tab\there  ", {"tab\there =20"}},
      {"end\t", {"end=09"}},
      {std::string("\x7f\x01\0", 3), {"=7F=01=00"}},
      {"==", {"=3D=3D"}},
      {"", {""}},
      {std::string(76, 'x'), {std::string(76, 'x')}},
      {std::string(77, 'x'), {std::string(75, 'x') + "=", "xx"}},
      // An escape is never cut by a soft break.
      {std::string(74, 'x') + "==", {std::string(74, 'x') + "=", "=3D=3D"}},
  };
  for (const auto& c : cases) EXPECT_EQ(QuotedPrintableLine(c.text), c.lines) << c.text;
}

}  // namespace
}  // namespace jw
