#include "engine/support/key_images.h"

#include <bit>
#include <cmath>

namespace jw {
namespace {

// The image of a quiet NaN with the sign bit set: above +inf (0xFFF0...).
constexpr uint64_t kNanKeyImage = 0xFFF8000000000000ull;

void PutBigEndian(uint64_t bits, int bytes, uint8_t* dest) {
  for (int i = bytes - 1; i >= 0; --i) {
    dest[i] = static_cast<uint8_t>(bits);
    bits >>= 8;
  }
}

}  // namespace

// Flipping the top bit of a two's-complement integer maps the most negative
// value to all zero bytes and the most positive to all 0xFF bytes, in order.
void EncodeIntKey(int32_t value, uint8_t* dest) {
  PutBigEndian(static_cast<uint32_t>(value) ^ 0x80000000u, 4, dest);
}

void EncodeSmallIntKey(int16_t value, uint8_t* dest) {
  PutBigEndian(static_cast<uint16_t>(value) ^ 0x8000u, 2, dest);
}

void EncodeWordKey(uint16_t value, uint8_t* dest) {
  PutBigEndian(value, 2, dest);
}

void EncodeInt64Key(int64_t value, uint8_t* dest) {
  PutBigEndian(static_cast<uint64_t>(value) ^ 0x8000000000000000ull, 8, dest);
}

// Non-negative values get the sign bit set, which puts them above every
// negative; a negative value has all its bits inverted, so a larger magnitude
// sorts lower. -0.0 is taken as 0.0, so both zeros share one image. Every NaN,
// whatever its sign and payload, gets the one image just above +inf's.
void EncodeFloatKey(double value, uint8_t* dest) {
  uint64_t bits = std::bit_cast<uint64_t>(value);
  if (std::isnan(value)) {
    bits = kNanKeyImage;
  } else if (value >= 0) {
    bits = std::bit_cast<uint64_t>(value == 0 ? 0.0 : value) | 0x8000000000000000ull;
  } else {
    bits = ~bits;
  }
  PutBigEndian(bits, 8, dest);
}

int32_t CompareFloatOrder(double a, double b) {
  const bool a_nan = std::isnan(a);
  const bool b_nan = std::isnan(b);
  if (a_nan || b_nan) return a_nan == b_nan ? 0 : (a_nan ? 1 : -1);
  return a < b ? -1 : (b < a ? 1 : 0);
}

void InvertKey(uint8_t* buffer, int32_t n) {
  for (int32_t i = 0; i < n; ++i) buffer[i] = static_cast<uint8_t>(~buffer[i]);
}

bool IsIdentStartChar(char c) {
  const auto b = static_cast<uint8_t>(c);
  return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '_' || (b >= 0x81 && b <= 0xFE);
}

bool IsIdentChar(char c) {
  return IsIdentStartChar(c) || IsDigitChar(c);
}

bool IsDigitChar(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace jw
