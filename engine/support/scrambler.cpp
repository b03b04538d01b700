#include "engine/support/scrambler.h"

namespace jw {

void ScrambleBuffer(void* buffer, int32_t length, uint8_t k1, uint8_t k2) {
  if ((length & 0xFFFF) == 0) return;
  auto* bytes = static_cast<uint8_t*>(buffer);
  uint8_t a = k1;
  uint8_t b = k2;
  for (int32_t i = 0; i < length; ++i) {
    bytes[i] ^= static_cast<uint8_t>(a ^ b);
    ++a;
    --b;
  }
}

void UnscrambleBuffer(void* buffer, int32_t length, uint8_t k1, uint8_t k2) {
  ScrambleBuffer(buffer, length, k1, k2);
}

}  // namespace jw
