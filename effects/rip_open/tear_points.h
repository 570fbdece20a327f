// Where the selection tears: points on its edge, far enough apart for a flap
// each, picked with the seeded generator from the edge pixels the precision
// bevel reaches first.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "image/bevel.h"
#include "image/random.h"

namespace kv {

// Measures how deep the selection is: the edge pixels (within one pixel of
// the contour), in the order the front reaches them, and the running
// maximum, sum and count of the distances of every selected pixel.
class PeelingPaintOutside_PrecisionBevel final : public Precision_Bevel {
 public:
  void Reached(Point p, PointD, double d) override {
    if (d <= 1.0) candidates.push_back(p);
    maximum = std::max(maximum, d);
    sum += d;
    ++count;
  }
  void UnreachedInside(Point) override {}
  void UnreachedOutside(Point) override {}

  double Average() const { return count > 0 ? sum / double(count) : 0.0; }

  std::vector<Point> candidates;
  double maximum = 0.0, sum = 0.0;
  int64_t count = 0;
};

struct TearShape {
  double size;       // curl size, 0.01..1
  double variation;  // curl variation, 0..1
};

// At most this many tear points, so a flap's number fits 16 bits.
inline constexpr size_t kMaxTearPoints = 65535;

// Picks tear points from the bevel's candidates, cyclically from a random
// start, each keeping a square of ground of a random half-size from the
// next. `bounds` is the raster the squares are clipped to. Draws from `rng`
// for every candidate visited.
std::vector<Point> PickTearPoints(const std::vector<Point>& candidates, double average, const TearShape& shape,
                                  const Rect& bounds, RandomNumberGenerator& rng);

}  // namespace kv
