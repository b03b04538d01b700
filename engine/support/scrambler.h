// The byte scrambler of encrypted tables: a keyed byte stream XORed over a
// buffer, so the same operation with the same seeds restores it.
#pragma once

#include <cstdint>

namespace jw {

// Scrambles length bytes in place with the seed pair (k1, k2). A length whose
// low 16 bits are all zero (0, 65536, 131072 ...) leaves the buffer as it is;
// stored files rely on that rule.
void ScrambleBuffer(void* buffer, int32_t length, uint8_t k1, uint8_t k2);

// The same transformation: either call undoes the other.
void UnscrambleBuffer(void* buffer, int32_t length, uint8_t k1, uint8_t k2);

}  // namespace jw
