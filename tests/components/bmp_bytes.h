// Hand-made BMP files for the tests: the same picture written with 24 bits,
// with an 8-bit palette or as a 1-bit picture, byte for byte as the format
// lays them out (bottom-up rows padded to 4 bytes).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/gui/color.h"

namespace jw::test_support {

// rows[y][x] is the TColor of the pixel; the palette of the 8- and 1-bit
// files lists the picture's colours in order of first appearance.
inline std::string BmpBytes(const std::vector<std::vector<TColor>>& rows, int bits) {
  const int height = static_cast<int>(rows.size());
  const int width = static_cast<int>(rows[0].size());
  std::vector<TColor> palette;
  std::map<TColor, int> index;
  for (const auto& row : rows)
    for (TColor c : row)
      if (index.emplace(c, static_cast<int>(palette.size())).second) palette.push_back(c);
  const int palette_entries = bits == 24 ? 0 : (bits == 8 ? 256 : 2);
  const int row_size = (width * bits + 31) / 32 * 4;
  const int offset = 54 + 4 * palette_entries;
  std::string out;
  auto u16 = [&](uint32_t v) {
    out += char(v & 0xFF);
    out += char((v >> 8) & 0xFF);
  };
  auto u32 = [&](uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  };
  out += "BM";
  u32(offset + row_size * height);
  u32(0);
  u32(offset);
  u32(40);
  u32(width);
  u32(height);
  u16(1);
  u16(bits);
  u32(0);
  u32(row_size * height);
  u32(3780);
  u32(3780);
  u32(0);
  u32(0);
  for (int i = 0; i < palette_entries; ++i) {
    const TColor c = i < int(palette.size()) ? palette[i] : 0;
    out += char(GetBValue(c));
    out += char(GetGValue(c));
    out += char(GetRValue(c));
    out += char(0);
  }
  for (int y = height - 1; y >= 0; --y) {
    std::string line(row_size, '\0');
    for (int x = 0; x < width; ++x) {
      const TColor c = rows[y][x];
      if (bits == 24) {
        line[3 * x] = char(GetBValue(c));
        line[3 * x + 1] = char(GetGValue(c));
        line[3 * x + 2] = char(GetRValue(c));
      } else if (bits == 8) {
        line[x] = char(index[c]);
      } else if (index[c] != 0) {
        line[x / 8] = char(uint8_t(line[x / 8]) | (0x80 >> (x % 8)));
      }
    }
    out += line;
  }
  return out;
}

}  // namespace jw::test_support
