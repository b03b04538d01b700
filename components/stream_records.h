// The kit's stream records, each in a plain and a compressed form:
//
//   integer       4 bytes, little-endian; word 2 bytes, little-endian
//   byte          1 byte
//   short string  1 length byte L (at most 255), then L characters
//   string list   plain: 4-byte length L, then the L bytes of the list's
//                 text (lines ended by CR LF); compressed: a compressed
//                 stream (compressor.h) of the same bytes
//   bitmap        the same two forms around a DIB file (dib_file.h)
//   wave          the same two forms around the whole wave file
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/gui/bitmap.h"
#include "platform/rtl/streams.h"
#include "platform/rtl/string_list.h"

namespace jw {

class TKitWave;

void WriteInteger(TStream& stream, int32_t value);
int32_t ReadInteger(TStream& stream);
void WriteWord(TStream& stream, uint16_t value);
uint16_t ReadWord(TStream& stream);
void WriteByte(TStream& stream, uint8_t value);
uint8_t ReadByte(TStream& stream);
// A longer string is cut to its first 255 characters.
void WriteShortString(TStream& stream, const std::string& text);
std::string ReadShortString(TStream& stream);

// Writes the record, plain or compressed, of what save writes.
void WriteRecord(TStream& stream, bool compressed, const std::function<void(TStream&)>& save);
// Hands the content of the record at the stream's position to load, as a
// stream of its own. A plain length beyond the stream's end raises
// EReadError "Stream read error".
void ReadRecord(TStream& stream, bool compressed, const std::function<void(TStream&)>& load);

void WriteStringList(TStream& stream, const TStrings& list, bool compressed);
void ReadStringList(TStream& stream, TStrings& list, bool compressed);
// format is a DIB format code (dib_file.h).
void WriteBitmap(TStream& stream, const TBitmap& bitmap, bool compressed, int format);
void ReadBitmap(TStream& stream, TBitmap& bitmap, bool compressed);
void WriteWave(TStream& stream, const TKitWave& wave, bool compressed);
void ReadWave(TStream& stream, TKitWave& wave, bool compressed);

}  // namespace jw
