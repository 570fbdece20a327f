// Rectangles and points in absolute host-image coordinates.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace kv {

struct Point {
  int32_t x = 0, y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct PointD {
  double x = 0.0, y = 0.0;
  friend bool operator==(const PointD&, const PointD&) = default;
};

// `v` turned by `angle` radians.
inline PointD Rotate(PointD v, double angle) {
  const double c = std::cos(angle), s = std::sin(angle);
  return {v.x * c - v.y * s, v.x * s + v.y * c};
}

// `v` at length 1; a vector too short to have a direction points along x.
inline PointD Normalised(PointD v) {
  const double n = std::hypot(v.x, v.y);
  return n < 1e-10 ? PointD{1.0, 0.0} : PointD{v.x / n, v.y / n};
}

struct Size {
  int32_t width = 0, height = 0;
};

// Right and bottom are exclusive.
struct Rect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;

  constexpr int32_t Width() const { return right - left; }
  constexpr int32_t Height() const { return bottom - top; }
  constexpr bool IsEmpty() const { return right <= left || bottom <= top; }
  constexpr int64_t Area() const { return IsEmpty() ? 0 : int64_t(Width()) * Height(); }
  constexpr bool Contains(int32_t x, int32_t y) const { return left <= x && x < right && top <= y && y < bottom; }
  constexpr bool Contains(Point p) const { return Contains(p.x, p.y); }
  constexpr bool Contains(const Rect& r) const {
    return left <= r.left && top <= r.top && r.right <= right && r.bottom <= bottom;
  }
  constexpr Rect Intersect(const Rect& r) const {
    return {std::max(left, r.left), std::max(top, r.top), std::min(right, r.right), std::min(bottom, r.bottom)};
  }
  constexpr Rect Inflate(int32_t dx, int32_t dy) const { return {left - dx, top - dy, right + dx, bottom + dy}; }
  constexpr Rect Offset(int32_t dx, int32_t dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

// Division rounding towards minus and plus infinity; b > 0.
constexpr int32_t FloorDiv(int32_t a, int32_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
constexpr int32_t CeilDiv(int32_t a, int32_t b) { return a >= 0 ? (a + b - 1) / b : -(-a / b); }

// A rectangle of the image in the coordinates of the image read at a whole
// `scale` (every scale-th pixel): the pixels that touch it.
constexpr Rect ReducedRect(const Rect& r, int32_t scale) {
  if (scale <= 1) return r;
  return {FloorDiv(r.left, scale), FloorDiv(r.top, scale), CeilDiv(r.right, scale), CeilDiv(r.bottom, scale)};
}

}  // namespace kv
