// TRegion: an area of the plane as half-open rectangles in y-x bands, with
// the original platform's region calls over it and its region data block:
//
//   offset 0  int32 dwSize = 32     offset 16 RECT rcBound (16 bytes)
//   offset 4  int32 iType = 1       offset 32 nCount RECTs, 16 bytes each:
//   offset 8  int32 nCount                    left, top, right, bottom
//   offset 12 int32 nRgnSize = 16 * nCount
//
// all little-endian; rectangles sorted by band then x, vertically touching
// bands with equal spans merged.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/gui/gui_types.h"

class QRegion;

namespace jw {

class TRegion {
 public:
  TRegion() = default;
  explicit TRegion(const TRect& rect);

  bool IsEmpty() const;
  // The smallest rectangle around the region; all zero when empty. Kept up
  // to date as the region changes, since text placement asks for it often.
  TRect BoundingBox() const { return box_; }
  bool Contains(int x, int y) const;
  // The rectangles in canonical order (bands top to bottom, left to right,
  // touching bands with equal spans merged).
  std::vector<TRect> Rects() const;

  TRegion Union(const TRegion& other) const;
  TRegion Intersect(const TRegion& other) const;
  TRegion Difference(const TRegion& other) const;
  TRegion Xor(const TRegion& other) const;
  // Adds rect in place; rectangles arriving row by row from the top cost
  // constant time each.
  void AddRect(const TRect& rect);
  void Offset(int dx, int dy);

  // The data block above.
  std::string RegionData() const;
  // The region of a data block; none unless the block is well formed: size
  // 32, type 1, a count and rectangle size that match the bytes exactly, and
  // no rectangle whose right or bottom lies before its left or top.
  static std::optional<TRegion> FromRegionData(const std::string& data);

  QRegion ToQRegion() const;

  bool operator==(const TRegion& other) const { return Rects() == other.Rects(); }

 private:
  struct Band {
    int top;
    int bottom;
    std::vector<std::pair<int, int>> spans;  // [left, right), sorted, disjoint
  };
  template <class Op>
  TRegion Combine(const TRegion& other, Op keep) const;
  void ComputeBox();

  std::vector<Band> bands_;  // sorted, disjoint in y, no empty band
  TRect box_;
};

// The original platform's region calls over TRegion values.
enum TCombineMode { RGN_AND = 1, RGN_OR = 2, RGN_XOR = 3, RGN_DIFF = 4, RGN_COPY = 5 };
enum TRegionKind { ERROR = 0, NULLREGION = 1, SIMPLEREGION = 2, COMPLEXREGION = 3 };

TRegion CreateRectRgn(int left, int top, int right, int bottom);
// dest := a combined with b (b unused for RGN_COPY); returns the kind of dest.
int CombineRgn(TRegion& dest, const TRegion& a, const TRegion& b, TCombineMode mode);
bool PtInRegion(const TRegion& region, int x, int y);
// Fills box and returns the region's kind.
int GetRgnBox(const TRegion& region, TRect& box);

}  // namespace jw
