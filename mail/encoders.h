// The transfer encodings of the mail transport: base64 (RFC 2045) and
// uuencode lines from one 6-bit line encoder, whole streams as base64 lines,
// and the quoted-printable line encoder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

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
// most 64 bytes. Any other mode, a negative count or an over-long uuencode
// line raises EConvertError.
std::string EncodeLine6(int mode, const uint8_t* bytes, int count);

// The stream's content from its start as base64 lines of 60 characters, the
// last one shorter and padded; an empty stream gives an empty list.
std::unique_ptr<TStringList> EncodeStreamBase64(TStream& stream);

// "=" and every byte from 128 up become "=" and two upper-case hex digits;
// all other bytes are copied. No soft line breaks are made.
std::string QuotedPrintableLine(std::string_view text);

}  // namespace jw
