#include "mail/encoders.h"

#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "platform/rtl/string_list.h"
#include "platform/rtl/strings.h"

namespace jw {

namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Uuencode maps 0 to the grave accent so that no line holds a blank.
char UuChar(unsigned value) {
  return value == 0 ? '`' : static_cast<char>(value + 32);
}

// The longest uuencode line: its length character holds the count in 6 bits,
// and a count of 64 would read back as 0.
constexpr int kUuencodeMaxBytes = 63;

}  // namespace

std::string EncodeLine6(int mode, const uint8_t* bytes, int count) {
  if (count < 0) throw EConvertError("Negative byte count " + IntToStr(count) + " to encode");
  std::string line;
  if (mode == kEncodeUuencode) {
    if (count > kUuencodeMaxBytes) {
      throw EConvertError("Uuencode line of " + IntToStr(count) + " bytes is too long");
    }
    line.reserve(1 + (count + 2) / 3 * 4);
    line += UuChar(static_cast<unsigned>(count));
    for (int i = 0; i < count; i += 3) {
      const unsigned b0 = bytes[i];
      const unsigned b1 = i + 1 < count ? bytes[i + 1] : 0;
      const unsigned b2 = i + 2 < count ? bytes[i + 2] : 0;
      line += UuChar(b0 >> 2);
      line += UuChar(((b0 & 3) << 4) | (b1 >> 4));
      line += UuChar(((b1 & 15) << 2) | (b2 >> 6));
      line += UuChar(b2 & 63);
    }
    return line;
  }
  if (mode != kEncodeBase64 && mode != kEncodeBase64Alternate) {
    throw EConvertError("Unknown line encoding mode " + IntToStr(mode));
  }
  line.reserve((count + 2) / 3 * 4);
  for (int i = 0; i < count; i += 3) {
    const int left = count - i;
    const unsigned b0 = bytes[i];
    const unsigned b1 = left > 1 ? bytes[i + 1] : 0;
    const unsigned b2 = left > 2 ? bytes[i + 2] : 0;
    line += kBase64Alphabet[b0 >> 2];
    line += kBase64Alphabet[((b0 & 3) << 4) | (b1 >> 4)];
    if (left > 1) line += kBase64Alphabet[((b1 & 15) << 2) | (b2 >> 6)];
    if (left > 2) line += kBase64Alphabet[b2 & 63];
  }
  while (line.size() % 4 != 0) line += '=';
  return line;
}

std::unique_ptr<TStringList> EncodeStreamBase64(TStream& stream) {
  auto lines = std::make_unique<TStringList>();
  stream.SetPosition(0);
  uint8_t piece[kBase64LineBytes];
  for (;;) {
    // A stream may hand out fewer bytes than asked before its end; only a
    // full piece makes a full line.
    int count = 0;
    while (count < kBase64LineBytes) {
      const int64_t got = stream.Read(piece + count, kBase64LineBytes - count);
      if (got <= 0) break;
      count += static_cast<int>(got);
    }
    if (count == 0) break;
    lines->Add(EncodeLine6(kEncodeBase64, piece, count));
    if (count < kBase64LineBytes) break;
  }
  return lines;
}

std::vector<std::string> QuotedPrintableLine(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::vector<std::string> lines(1);
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const bool blank = byte == ' ' || byte == '\t';
    const bool last = i + 1 == text.size();
    char piece[3] = {text[i]};
    size_t size = 1;
    // A blank that ends the text would be taken off by mail relays.
    if (byte == '=' || byte >= 127 || (byte < 32 && byte != '\t') || (blank && last)) {
      piece[0] = '=';
      piece[1] = kHex[byte >> 4];
      piece[2] = kHex[byte & 15];
      size = 3;
    }
    // A line that goes on needs room for its soft break.
    const size_t room = last ? kQuotedPrintableLineOctets : kQuotedPrintableLineOctets - 1;
    if (lines.back().size() + size > room) {
      lines.back() += '=';
      lines.emplace_back();
    }
    lines.back().append(piece, size);
  }
  return lines;
}

}  // namespace jw
