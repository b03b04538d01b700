#include "platform/gui/region.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

namespace jw {
namespace {

std::string Bytes(std::initializer_list<int32_t> words) {
  std::string out;
  for (int32_t w : words) {
    for (int i = 0; i < 4; ++i)
      out.push_back(static_cast<char>((static_cast<uint32_t>(w) >> (8 * i)) & 0xFF));
  }
  return out;
}

TEST(RegionData, TwoBandShapeMatchesHandWrittenBlock) {
  TRegion region = CreateRectRgn(0, 0, 4, 2);
  CombineRgn(region, region, CreateRectRgn(0, 2, 2, 3), RGN_OR);
  const std::string expected = Bytes({32, 1, 2, 32,  // header: size, type, count, rect bytes
                                      0, 0, 4, 3,    // bounding box
                                      0, 0, 4, 2,    // band 0..2
                                      0, 2, 2, 3});  // band 2..3
  EXPECT_EQ(region.RegionData(), expected);
}

TEST(RegionData, EmptyRegionIsHeaderOnly) {
  EXPECT_EQ(TRegion().RegionData(), Bytes({32, 1, 0, 0, 0, 0, 0, 0}));
}

TEST(RegionData, TouchingBandsWithEqualSpansMerge) {
  TRegion region;
  region.AddRect(Rect(1, 0, 3, 1));
  region.AddRect(Rect(5, 0, 6, 1));
  region.AddRect(Rect(1, 1, 3, 2));
  region.AddRect(Rect(5, 1, 6, 2));
  EXPECT_EQ(region.Rects(), (std::vector<TRect>{Rect(1, 0, 3, 2), Rect(5, 0, 6, 2)}));
}

TEST(RegionData, RoundTripGivesTheSameRegion) {
  TRegion region = CreateRectRgn(10, 10, 50, 20);
  CombineRgn(region, region, CreateRectRgn(20, 15, 30, 40), RGN_DIFF);
  CombineRgn(region, region, CreateRectRgn(0, 30, 5, 31), RGN_OR);
  const std::optional<TRegion> back = TRegion::FromRegionData(region.RegionData());
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, region);
  EXPECT_EQ(back->RegionData(), region.RegionData());
}

TEST(RegionData, MalformedBlocksAreRefused) {
  const std::string good = Bytes({32, 1, 1, 16, 0, 0, 2, 2, 0, 0, 2, 2});
  ASSERT_TRUE(TRegion::FromRegionData(good).has_value());
  struct Case {
    const char* what;
    std::string data;
  };
  const Case cases[] = {
      {"empty", ""},
      {"short header", good.substr(0, 31)},
      {"header size 40", Bytes({40, 1, 1, 16, 0, 0, 2, 2, 0, 0, 2, 2})},
      {"type 2", Bytes({32, 2, 1, 16, 0, 0, 2, 2, 0, 0, 2, 2})},
      {"count past the bytes", Bytes({32, 1, 2, 32, 0, 0, 2, 2, 0, 0, 2, 2})},
      {"bytes past the count", good + Bytes({0})},
      {"negative count", Bytes({32, 1, -1, -16, 0, 0, 2, 2})},
      {"rect size disagrees", Bytes({32, 1, 1, 17, 0, 0, 2, 2, 0, 0, 2, 2})},
      {"inverted rectangle", Bytes({32, 1, 1, 16, 0, 0, 2, 2, 2, 0, 0, 2})},
      {"huge count", Bytes({32, 1, 0x7FFFFFFF, 16, 0, 0, 2, 2})},
  };
  for (const Case& c : cases) EXPECT_FALSE(TRegion::FromRegionData(c.data).has_value()) << c.what;
}

TEST(RegionCalls, BoxPointAndKinds) {
  TRegion region = CreateRectRgn(4, 2, 1, 6);  // corners in either order
  TRect box;
  EXPECT_EQ(GetRgnBox(region, box), SIMPLEREGION);
  EXPECT_EQ(box, Rect(1, 2, 4, 6));
  EXPECT_TRUE(PtInRegion(region, 1, 2));
  EXPECT_FALSE(PtInRegion(region, 4, 2));  // right edge is outside
  EXPECT_FALSE(PtInRegion(region, 1, 6));  // bottom edge is outside
  EXPECT_EQ(CombineRgn(region, region, CreateRectRgn(2, 3, 3, 4), RGN_DIFF), COMPLEXREGION);
  EXPECT_EQ(CombineRgn(region, region, region, RGN_XOR), NULLREGION);
  EXPECT_EQ(GetRgnBox(region, box), NULLREGION);
  EXPECT_EQ(box, TRect{});
}

// Random unions, differences and intersections against a grid of booleans.
TEST(RegionModel, MatchesAGridOfPixels) {
  const int rounds = std::getenv("JW_LONG_TESTS") != nullptr ? 2000 : 200;
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  constexpr int kSide = 24;
  std::vector<char> grid(kSide * kSide, 0);
  TRegion region;
  for (int round = 0; round < rounds; ++round) {
    auto coord = [&] { return static_cast<int>(random() % (kSide + 1)); };
    int l = coord(), r = coord(), t = coord(), b = coord();
    if (l > r) std::swap(l, r);
    if (t > b) std::swap(t, b);
    const TRegion rect = CreateRectRgn(l, t, r, b);
    const int op = static_cast<int>(random() % 4);
    switch (op) {
      case 0:
        region.AddRect(Rect(l, t, r, b));
        break;
      case 1:
        CombineRgn(region, region, rect, RGN_OR);
        break;
      case 2:
        CombineRgn(region, region, rect, RGN_DIFF);
        break;
      case 3:
        CombineRgn(region, region, rect.Union(CreateRectRgn(0, 0, kSide / 2, kSide)), RGN_AND);
        break;
    }
    for (int y = 0; y < kSide; ++y) {
      for (int x = 0; x < kSide; ++x) {
        const bool in_rect = x >= l && x < r && y >= t && y < b;
        char& cell = grid[y * kSide + x];
        if (op <= 1) cell = cell || in_rect;
        if (op == 2) cell = cell && !in_rect;
        if (op == 3) cell = cell && (in_rect || x < kSide / 2);
      }
    }
    std::vector<int> cover(kSide * kSide, 0);
    for (const TRect& rr : region.Rects()) {
      for (int y = rr.Top; y < rr.Bottom; ++y)
        for (int x = rr.Left; x < rr.Right; ++x) ++cover[y * kSide + x];
    }
    for (int y = 0; y < kSide; ++y) {
      for (int x = 0; x < kSide; ++x) {
        ASSERT_EQ(region.Contains(x, y), grid[y * kSide + x] != 0)
            << round << " at " << x << "," << y;
        ASSERT_EQ(cover[y * kSide + x], grid[y * kSide + x] ? 1 : 0) << round;
      }
    }
    ASSERT_EQ(TRegion::FromRegionData(region.RegionData()), region);
    TRect box{kSide, kSide, 0, 0};
    for (int y = 0; y < kSide; ++y) {
      for (int x = 0; x < kSide; ++x) {
        if (!grid[y * kSide + x]) continue;
        box = {std::min(box.Left, x), std::min(box.Top, y), std::max(box.Right, x + 1),
               std::max(box.Bottom, y + 1)};
      }
    }
    if (region.IsEmpty()) box = {};
    ASSERT_EQ(region.BoundingBox(), box) << round;
    TRegion moved = region;
    moved.Offset(3, -2);
    ASSERT_EQ(
        moved.BoundingBox(),
        region.IsEmpty() ? TRect{} : Rect(box.Left + 3, box.Top - 2, box.Right + 3, box.Bottom - 2))
        << round;
  }
}

}  // namespace
}  // namespace jw
