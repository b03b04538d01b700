// Build-time tool that draws the paper bitmaps shipped beside the program.
// Each paper is a 24-bit BMP in which pure red (255, 0, 0) surrounds the
// paper: the note window turns those pixels transparent, so every edge pixel
// is either exactly pure red or exactly paper (no blending at the outline).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace jw {
namespace {

struct Rgb {
  uint8_t r, g, b;
};

constexpr Rgb kTransparent{255, 0, 0};

class Picture {
 public:
  Picture(int width, int height)
      : width_(width), height_(height), pixels_(size_t(width) * height, kTransparent) {}

  int Width() const { return width_; }
  int Height() const { return height_; }
  void Set(int x, int y, Rgb c) {
    if (x >= 0 && y >= 0 && x < width_ && y < height_) pixels_[size_t(y) * width_ + x] = c;
  }
  Rgb Get(int x, int y) const { return pixels_[size_t(y) * width_ + x]; }
  bool IsPaper(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return false;
    Rgb c = Get(x, y);
    return !(c.r == 255 && c.g == 0 && c.b == 0);
  }

  // Colours every pixel whose centre lies inside the shape.
  void Fill(const std::function<bool(double, double)>& inside, Rgb c) {
    for (int y = 0; y < height_; ++y)
      for (int x = 0; x < width_; ++x)
        if (inside(x + 0.5, y + 0.5)) Set(x, y, c);
  }

  // Darkens paper pixels that touch the surround, so the outline reads as an
  // edge on any desktop background.
  void Rim(Rgb c) {
    std::vector<std::pair<int, int>> edge;
    for (int y = 0; y < height_; ++y)
      for (int x = 0; x < width_; ++x)
        if (IsPaper(x, y) &&
            (!IsPaper(x - 1, y) || !IsPaper(x + 1, y) || !IsPaper(x, y - 1) || !IsPaper(x, y + 1)))
          edge.emplace_back(x, y);
    for (auto [x, y] : edge) Set(x, y, c);
  }

  // BMP file: 14-byte file header, 40-byte info header, then bottom-up rows
  // of blue, green, red triples, each row padded to a multiple of 4 bytes.
  bool Save(const std::string& path) const {
    const int row_size = (width_ * 3 + 3) / 4 * 4;
    const uint32_t image_size = uint32_t(row_size) * height_;
    std::vector<uint8_t> out;
    auto u16 = [&](uint32_t v) {
      out.push_back(v & 0xFF);
      out.push_back((v >> 8) & 0xFF);
    };
    auto u32 = [&](uint32_t v) {
      u16(v & 0xFFFF);
      u16(v >> 16);
    };
    out.push_back('B');
    out.push_back('M');
    u32(54 + image_size);
    u32(0);
    u32(54);
    u32(40);
    u32(width_);
    u32(height_);
    u16(1);
    u16(24);
    u32(0);  // no compression
    u32(image_size);
    u32(3780);  // 96 dpi in pixels per metre
    u32(3780);
    u32(0);
    u32(0);
    for (int y = height_ - 1; y >= 0; --y) {
      for (int x = 0; x < width_; ++x) {
        Rgb c = Get(x, y);
        out.push_back(c.b);
        out.push_back(c.g);
        out.push_back(c.r);
      }
      for (int pad = width_ * 3; pad < row_size; ++pad) out.push_back(0);
    }
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(out.data()), std::streamsize(out.size()));
    return bool(file);
  }

 private:
  int width_;
  int height_;
  std::vector<Rgb> pixels_;
};

// A fixed sequence, so every build draws the same torn edge.
class Noise {
 public:
  int Next(int range) {
    state_ = state_ * 1103515245u + 12345u;
    return int((state_ >> 16) % uint32_t(range));
  }

 private:
  uint32_t state_ = 20240611u;
};

bool InRoundedRect(double x, double y, double left, double top, double right, double bottom,
                   double radius) {
  if (x < left || x > right || y < top || y > bottom) return false;
  double cx = std::clamp(x, left + radius, right - radius);
  double cy = std::clamp(y, top + radius, bottom - radius);
  return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
}

// A square sticky note with its top-right corner folded over.
Picture YellowNote() {
  Picture p(220, 226);
  const double fold = 34;
  p.Fill(
      [&](double x, double y) {
        return x >= 6 && x <= 214 && y >= 6 && y <= 220 && (214 - x) + (y - 6) >= fold;
      },
      Rgb{255, 238, 140});
  p.Rim(Rgb{205, 180, 60});
  p.Fill([&](double x,
             double y) { return x >= 214 - fold && y <= 6 + fold && (214 - x) + (y - 6) >= fold; },
         Rgb{225, 200, 90});
  return p;
}

// A sheet of ruled paper whose bottom edge was torn off.
Picture TornLinedSheet() {
  Picture p(230, 240);
  Noise noise;
  std::vector<int> bottom(p.Width());
  int depth = 8;
  for (int x = 0; x < p.Width(); ++x) {
    depth = std::clamp(depth + noise.Next(7) - 3, 2, 16);
    bottom[x] = p.Height() - depth;
  }
  p.Fill([&](double x, double y) { return x >= 5 && x <= 225 && y >= 5 && y < bottom[int(x)]; },
         Rgb{252, 252, 246});
  for (int y = 40; y < p.Height(); y += 22)
    for (int x = 6; x < 225; ++x)
      if (p.IsPaper(x, y)) p.Set(x, y, Rgb{170, 200, 235});
  for (int y = 6; y < p.Height(); ++y)
    if (p.IsPaper(32, y)) p.Set(32, y, Rgb{235, 150, 160});
  p.Rim(Rgb{150, 150, 140});
  return p;
}

// An oval card.
Picture OvalCard() {
  Picture p(240, 200);
  p.Fill(
      [](double x, double y) {
        double dx = (x - 120) / 114, dy = (y - 100) / 94;
        return dx * dx + dy * dy <= 1;
      },
      Rgb{205, 228, 255});
  p.Rim(Rgb{90, 130, 190});
  return p;
}

// A square card lying a little askew.
Picture TiltedCard() {
  Picture p(236, 236);
  const double angle = 9 * 3.14159265358979 / 180, c = std::cos(angle), s = std::sin(angle);
  p.Fill(
      [&](double x, double y) {
        double u = (x - 118) * c + (y - 118) * s, v = -(x - 118) * s + (y - 118) * c;
        return std::abs(u) <= 92 && std::abs(v) <= 92;
      },
      Rgb{210, 245, 200});
  p.Rim(Rgb{90, 150, 80});
  return p;
}

// A speech bubble with its tail at the bottom left.
Picture SpeechBubble() {
  Picture p(240, 224);
  p.Fill(
      [](double x, double y) {
        if (InRoundedRect(x, y, 6, 6, 234, 176, 30)) return true;
        // The tail: a triangle from (50, 170) and (100, 170) down to (30, 218).
        if (y < 170 || y > 218) return false;
        double t = (y - 170) / 48;
        return x >= 50 + (30 - 50) * t && x <= 100 + (30 - 100) * t;
      },
      Rgb{248, 224, 250});
  p.Rim(Rgb{160, 110, 170});
  return p;
}

}  // namespace
}  // namespace jw

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_paper <output folder>\n");
    return 2;
  }
  const std::string folder = std::string(argv[1]) + "/";
  const std::pair<const char*, jw::Picture> papers[] = {
      {"yellow.bmp", jw::YellowNote()},   {"lined.bmp", jw::TornLinedSheet()},
      {"oval.bmp", jw::OvalCard()},       {"tilted.bmp", jw::TiltedCard()},
      {"bubble.bmp", jw::SpeechBubble()},
  };
  for (const auto& [name, picture] : papers) {
    if (!picture.Save(folder + name)) {
      std::fprintf(stderr, "make_paper: cannot write %s%s\n", folder.c_str(), name);
      return 1;
    }
  }
  return 0;
}
