// Sortable key images: numeric values written big-endian with their sign
// arranged so that unsigned byte order (memcmp) equals numeric order, the
// inversion of descending key fields, and the character classes of
// identifiers in filter and SQL texts.
#pragma once

#include <cstdint>

namespace jw {

// Each encoder writes its image, most significant byte first, to dest.
void EncodeIntKey(int32_t value, uint8_t* dest);       // 4 bytes, top bit flipped
void EncodeSmallIntKey(int16_t value, uint8_t* dest);  // 2 bytes, top bit flipped
void EncodeWordKey(uint16_t value, uint8_t* dest);     // 2 bytes as they are
void EncodeInt64Key(int64_t value, uint8_t* dest);     // 8 bytes, top bit flipped
void EncodeFloatKey(double value, uint8_t* dest);      // 8 bytes, see key_images.cpp

// The order of float key images as a three-way comparison (-1, 0, 1):
// numeric order with both zeros equal, and every NaN equal to every other
// NaN and above every number (+inf included). The expression language
// compares floats by it, so an index range and a filter always agree.
int32_t CompareFloatOrder(double a, double b);

// Replaces each of the n bytes by its complement (descending key fields).
void InvertKey(uint8_t* buffer, int32_t n);

// 'A'-'Z', 'a'-'z', '_' and the bytes 0x81-0xFE.
bool IsIdentStartChar(char c);
// The above and '0'-'9'.
bool IsIdentChar(char c);
bool IsDigitChar(char c);

}  // namespace jw
