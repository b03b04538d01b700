// The transfer encodings of the mail transport: base64 (RFC 2045) and
// uuencode lines from one 6-bit line encoder, whole streams as base64 lines,
// and the quoted-printable line encoder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace jw {

class TStream;
class TStringList;

// Line modes of EncodeLine6.
constexpr int kEncodeUuencode = 0;
constexpr int kEncodeBase64 = 1;
constexpr int kEncodeBase64Alternate = 2;  // the same encoding as kEncodeBase64

// Input bytes per base64 line: 45 bytes give 60 characters, which keeps
// lines well inside the 76 characters RFC 2045 allows.
constexpr int kBase64LineBytes = 45;

// One encoded line of `count` bytes without a line end. Base64 modes: every 3
// bytes give 4 characters, a final group of 1 or 2 bytes gives 2 or 3, then
// "=" pads to a multiple of 4. Uuencode: a length character, then the bytes
// (zero-filled to a multiple of 3) with "`" for 0 and "!".."_" for 1-63; at
// most 63 bytes, as the length character holds 6 bits. Any other mode, a
// negative count or an over-long uuencode line raises EConvertError.
std::string EncodeLine6(int mode, const uint8_t* bytes, int count);

// The stream's content from its start as base64 lines of 60 characters, the
// last one shorter and padded; an empty stream gives an empty list.
std::unique_ptr<TStringList> EncodeStreamBase64(TStream& stream);

// The longest quoted-printable line RFC 2045 allows.
constexpr size_t kQuotedPrintableLineOctets = 76;

// The text as quoted-printable lines (RFC 2045, 6.7): "=", every byte from
// 128 up, every control byte but the tab, and a blank or tab that ends the
// text become "=" and two upper-case hex digits; other bytes are copied.
// Lines hold at most kQuotedPrintableLineOctets characters; each but the last
// ends in "=", a soft line break that a decoder takes away with its line end.
// An empty text gives one empty line.
std::vector<std::string> QuotedPrintableLine(std::string_view text);

}  // namespace jw
