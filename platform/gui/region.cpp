#include "platform/gui/region.h"

#include <QRegion>
#include <algorithm>
#include <cstring>

namespace jw {

namespace {

constexpr int32_t kHeaderSize = 32;
constexpr int32_t kTypeRectangles = 1;
constexpr int32_t kRectSize = 16;

void PutInt32(std::string& out, int32_t value) {
  const uint32_t v = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

int32_t GetInt32(const std::string& in, size_t offset) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i)
    v |= static_cast<uint32_t>(static_cast<uint8_t>(in[offset + i])) << (8 * i);
  return static_cast<int32_t>(v);
}

using Spans = std::vector<std::pair<int, int>>;

// The spans where keep(in a, in b) holds, by a sweep over both span lists.
template <class Op>
Spans CombineSpans(const Spans& a, const Spans& b, Op keep) {
  std::vector<int> xs;
  for (const auto& s : a) xs.insert(xs.end(), {s.first, s.second});
  for (const auto& s : b) xs.insert(xs.end(), {s.first, s.second});
  std::sort(xs.begin(), xs.end());
  xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
  Spans out;
  size_t ia = 0, ib = 0;
  for (size_t i = 0; i + 1 < xs.size(); ++i) {
    const int x0 = xs[i], x1 = xs[i + 1];
    while (ia < a.size() && a[ia].second <= x0) ++ia;
    while (ib < b.size() && b[ib].second <= x0) ++ib;
    const bool in_a = ia < a.size() && a[ia].first <= x0;
    const bool in_b = ib < b.size() && b[ib].first <= x0;
    if (!keep(in_a, in_b)) continue;
    if (!out.empty() && out.back().second == x0) {
      out.back().second = x1;
    } else {
      out.emplace_back(x0, x1);
    }
  }
  return out;
}

}  // namespace

TRegion::TRegion(const TRect& rect) {
  AddRect(rect);
}

bool TRegion::IsEmpty() const {
  return bands_.empty();
}

void TRegion::ComputeBox() {
  if (bands_.empty()) {
    box_ = {};
    return;
  }
  box_ = {bands_.front().spans.front().first, bands_.front().top,
          bands_.front().spans.back().second, bands_.back().bottom};
  for (const Band& band : bands_) {
    box_.Left = std::min(box_.Left, band.spans.front().first);
    box_.Right = std::max(box_.Right, band.spans.back().second);
  }
}

bool TRegion::Contains(int x, int y) const {
  auto band = std::upper_bound(bands_.begin(), bands_.end(), y,
                               [](int v, const Band& b) { return v < b.bottom; });
  if (band == bands_.end() || y < band->top) return false;
  auto span = std::upper_bound(band->spans.begin(), band->spans.end(), x,
                               [](int v, const std::pair<int, int>& s) { return v < s.second; });
  return span != band->spans.end() && x >= span->first;
}

std::vector<TRect> TRegion::Rects() const {
  std::vector<TRect> rects;
  size_t i = 0;
  while (i < bands_.size()) {
    // Touching bands with the same spans are one band.
    size_t j = i + 1;
    while (j < bands_.size() && bands_[j].top == bands_[j - 1].bottom &&
           bands_[j].spans == bands_[i].spans) {
      ++j;
    }
    for (const auto& span : bands_[i].spans) {
      rects.push_back({span.first, bands_[i].top, span.second, bands_[j - 1].bottom});
    }
    i = j;
  }
  return rects;
}

template <class Op>
TRegion TRegion::Combine(const TRegion& other, Op keep) const {
  std::vector<int> ys;
  for (const Band& b : bands_) ys.insert(ys.end(), {b.top, b.bottom});
  for (const Band& b : other.bands_) ys.insert(ys.end(), {b.top, b.bottom});
  std::sort(ys.begin(), ys.end());
  ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
  static const Spans kNone;
  TRegion out;
  size_t ia = 0, ib = 0;
  for (size_t i = 0; i + 1 < ys.size(); ++i) {
    const int y0 = ys[i], y1 = ys[i + 1];
    while (ia < bands_.size() && bands_[ia].bottom <= y0) ++ia;
    while (ib < other.bands_.size() && other.bands_[ib].bottom <= y0) ++ib;
    const Spans& a = ia < bands_.size() && bands_[ia].top <= y0 ? bands_[ia].spans : kNone;
    const Spans& b =
        ib < other.bands_.size() && other.bands_[ib].top <= y0 ? other.bands_[ib].spans : kNone;
    Spans spans = CombineSpans(a, b, keep);
    if (spans.empty()) continue;
    if (!out.bands_.empty() && out.bands_.back().bottom == y0 && out.bands_.back().spans == spans) {
      out.bands_.back().bottom = y1;
    } else {
      out.bands_.push_back({y0, y1, std::move(spans)});
    }
  }
  out.ComputeBox();
  return out;
}

TRegion TRegion::Union(const TRegion& other) const {
  return Combine(other, [](bool a, bool b) { return a || b; });
}
TRegion TRegion::Intersect(const TRegion& other) const {
  return Combine(other, [](bool a, bool b) { return a && b; });
}
TRegion TRegion::Difference(const TRegion& other) const {
  return Combine(other, [](bool a, bool b) { return a && !b; });
}
TRegion TRegion::Xor(const TRegion& other) const {
  return Combine(other, [](bool a, bool b) { return a != b; });
}

void TRegion::AddRect(const TRect& rect) {
  if (rect.IsEmpty()) return;
  if (bands_.empty()) {
    box_ = rect;
  } else {
    box_ = {std::min(box_.Left, rect.Left), std::min(box_.Top, rect.Top),
            std::max(box_.Right, rect.Right), std::max(box_.Bottom, rect.Bottom)};
  }
  if (bands_.empty() || rect.Top >= bands_.back().bottom) {
    bands_.push_back({rect.Top, rect.Bottom, {{rect.Left, rect.Right}}});
    return;
  }
  Band& last = bands_.back();
  if (rect.Top == last.top && rect.Bottom == last.bottom && rect.Left >= last.spans.back().second) {
    if (rect.Left == last.spans.back().second) {
      last.spans.back().second = rect.Right;
    } else {
      last.spans.emplace_back(rect.Left, rect.Right);
    }
    return;
  }
  TRegion single;
  single.bands_.push_back({rect.Top, rect.Bottom, {{rect.Left, rect.Right}}});
  *this = Union(single);
}

void TRegion::Offset(int dx, int dy) {
  if (!bands_.empty()) box_ = {box_.Left + dx, box_.Top + dy, box_.Right + dx, box_.Bottom + dy};
  for (Band& band : bands_) {
    band.top += dy;
    band.bottom += dy;
    for (auto& span : band.spans) {
      span.first += dx;
      span.second += dx;
    }
  }
}

std::string TRegion::RegionData() const {
  const std::vector<TRect> rects = Rects();
  const TRect box = BoundingBox();
  const int32_t count = static_cast<int32_t>(rects.size());
  std::string out;
  out.reserve(kHeaderSize + rects.size() * kRectSize);
  PutInt32(out, kHeaderSize);
  PutInt32(out, kTypeRectangles);
  PutInt32(out, count);
  PutInt32(out, count * kRectSize);
  for (int32_t v : {box.Left, box.Top, box.Right, box.Bottom}) PutInt32(out, v);
  for (const TRect& r : rects) {
    for (int32_t v : {r.Left, r.Top, r.Right, r.Bottom}) PutInt32(out, v);
  }
  return out;
}

std::optional<TRegion> TRegion::FromRegionData(const std::string& data) {
  if (data.size() < static_cast<size_t>(kHeaderSize)) return std::nullopt;
  if (GetInt32(data, 0) != kHeaderSize || GetInt32(data, 4) != kTypeRectangles) return std::nullopt;
  const int64_t count = GetInt32(data, 8);
  const int64_t rect_bytes = GetInt32(data, 12);
  if (count < 0) return std::nullopt;
  if (rect_bytes != 0 && rect_bytes != count * kRectSize) return std::nullopt;
  if (static_cast<int64_t>(data.size()) != kHeaderSize + count * kRectSize) return std::nullopt;
  TRegion region;
  for (int64_t i = 0; i < count; ++i) {
    const size_t at = kHeaderSize + static_cast<size_t>(i) * kRectSize;
    const TRect r{GetInt32(data, at), GetInt32(data, at + 4), GetInt32(data, at + 8),
                  GetInt32(data, at + 12)};
    if (r.Right < r.Left || r.Bottom < r.Top) return std::nullopt;
    region.AddRect(r);
  }
  return region;
}

QRegion TRegion::ToQRegion() const {
  const std::vector<TRect> rects = Rects();
  std::vector<QRect> qrects;
  qrects.reserve(rects.size());
  for (const TRect& r : rects) qrects.emplace_back(r.Left, r.Top, r.Width(), r.Height());
  QRegion region;
  region.setRects(qrects.data(), static_cast<int>(qrects.size()));
  return region;
}

TRegion CreateRectRgn(int left, int top, int right, int bottom) {
  // The original call accepts the corners in either order.
  return TRegion(Rect(std::min(left, right), std::min(top, bottom), std::max(left, right),
                      std::max(top, bottom)));
}

namespace {

int KindOf(const TRegion& region) {
  if (region.IsEmpty()) return NULLREGION;
  return region.Rects().size() == 1 ? SIMPLEREGION : COMPLEXREGION;
}

}  // namespace

int CombineRgn(TRegion& dest, const TRegion& a, const TRegion& b, TCombineMode mode) {
  switch (mode) {
    case RGN_AND:
      dest = a.Intersect(b);
      break;
    case RGN_OR:
      dest = a.Union(b);
      break;
    case RGN_XOR:
      dest = a.Xor(b);
      break;
    case RGN_DIFF:
      dest = a.Difference(b);
      break;
    case RGN_COPY:
      dest = a;
      break;
    default:
      return ERROR;
  }
  return KindOf(dest);
}

bool PtInRegion(const TRegion& region, int x, int y) {
  return region.Contains(x, y);
}

int GetRgnBox(const TRegion& region, TRect& box) {
  box = region.BoundingBox();
  return KindOf(region);
}

}  // namespace jw
