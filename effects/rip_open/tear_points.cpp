#include "effects/rip_open/tear_points.h"

#include <algorithm>
#include <cmath>

namespace kv {

namespace {

// The squares of ground already taken, kept in buckets no smaller than the
// largest square, so a square meets at most four of them.
class Ground {
 public:
  Ground(const Rect& bounds, int32_t bucket)
      : bounds_(bounds), bucket_(bucket), columns_(bounds.Width() / bucket + 1),
        buckets_(size_t(columns_) * size_t(bounds.Height() / bucket + 1)) {}

  bool Taken(const Rect& r) const {
    bool taken = false;
    Visit(r, [&](std::vector<Rect>& bucket) {
      for (const Rect& s : bucket) taken = taken || !s.Intersect(r).IsEmpty();
    });
    return taken;
  }
  void Take(const Rect& r) {
    Visit(r, [&](std::vector<Rect>& bucket) { bucket.push_back(r); });
  }

 private:
  template <class F>
  void Visit(const Rect& r, F&& f) const {
    const int32_t x0 = (r.left - bounds_.left) / bucket_, x1 = (r.right - 1 - bounds_.left) / bucket_;
    const int32_t y0 = (r.top - bounds_.top) / bucket_, y1 = (r.bottom - 1 - bounds_.top) / bucket_;
    for (int32_t y = y0; y <= y1; ++y)
      for (int32_t x = x0; x <= x1; ++x) f(buckets_[size_t(y) * size_t(columns_) + size_t(x)]);
  }

  Rect bounds_;
  int32_t bucket_, columns_;
  mutable std::vector<std::vector<Rect>> buckets_;
};

}  // namespace

std::vector<Point> PickTearPoints(const std::vector<Point>& candidates, double average, const TearShape& shape,
                                  const Rect& bounds, RandomNumberGenerator& rng) {
  std::vector<Point> points;
  if (candidates.empty() || bounds.IsEmpty()) return points;
  const double v = shape.variation, reach = 0.25 * average + (0.85 * average - 0.25 * average) * shape.size;
  const double largest = (1.0 + 0.5 * v) * reach;
  Ground ground(bounds, std::max(16, int32_t(std::ceil(2.0 * largest)) + 3));

  const size_t n = candidates.size();
  const size_t start = size_t(rng.Between(0, int32_t(std::min<size_t>(n, 2147483647))));
  for (size_t k = 0; k < n; ++k) {
    const Point p = candidates[(start + k) % n];
    const double r = (1.0 - 0.5 * v + rng.Uniform(v)) * reach;
    const Rect square = Rect{int32_t(std::floor(p.x - r)), int32_t(std::floor(p.y - r)),
                             int32_t(std::ceil(p.x + r)) + 1, int32_t(std::ceil(p.y + r)) + 1}
                            .Intersect(bounds);
    if (points.size() >= kMaxTearPoints || ground.Taken(square)) continue;
    ground.Take(square);
    points.push_back(p);
  }
  return points;
}

}  // namespace kv
