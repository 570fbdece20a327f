#include "effects/constellation/star_brushes.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "image/image.h"

namespace kv {

double EllipticalFalloff(PointD c, PointD radii, double angle, PointD p) {
  const double dx = p.x - c.x, dy = p.y - c.y;
  const double cs = std::cos(angle), sn = std::sin(angle);
  const double u = (dx * cs - dy * sn) / radii.x, v = (dy * cs + dx * sn) / radii.y;
  const double rho = std::sqrt(u * u + v * v);
  if (rho < 0.5) return 1.0 - 2.0 * rho * rho;
  if (rho < 1.0) return 2.0 * (1.0 - rho) * (1.0 - rho);
  return 0.0;
}

namespace {

// Fills a brush ceil(extent) pixels square from `value`(centre, p), 0..1.
template <class Value>
int32_t Make(double extent, StarBrush& brush, Value&& value) {
  try {
    const int32_t n = std::max(0, int32_t(std::ceil(extent)));
    brush.size = n;
    brush.values.assign(size_t(n) * size_t(n), 0);
    brush.runs.clear();
    brush.mass = 0.0;
    const PointD centre{(n - 1) / 2.0, (n - 1) / 2.0};
    for (int32_t y = 0; y < n; ++y) {
      uint8_t* row = &brush.values[size_t(y) * n];
      for (int32_t x = 0; x < n; ++x) {
        const double v = value(centre, PointD{double(x), double(y)});
        brush.mass += v;
        row[x] = uint8_t(255.0 * std::clamp(v, 0.0, 1.0));
      }
      for (int32_t x = 0; x < n;) {
        if (row[x] == 0) {
          ++x;
          continue;
        }
        const int32_t from = x;
        while (x < n && row[x] != 0) ++x;
        brush.runs.push_back({y, from, x});
      }
    }
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  return 0;
}

}  // namespace

int32_t MakeRoundBrush(double s, StarBrush& brush) {
  return Make(2.0 * s, brush, [s](PointD c, PointD p) {
    return std::sqrt(EllipticalFalloff(c, {s, s}, 0.0, p));
  });
}

int32_t MakeTwinkleBrush(double s, double angle, StarBrush& brush) {
  return Make(20.0 * s, brush, [s, angle](PointD c, PointD p) {
    const auto ray = [&](double length, double width, double turn, double weight) {
      const double f = EllipticalFalloff(c, {length * s, width * s}, angle + turn, p);
      return weight * f * f;
    };
    const double a = ray(10.0, 0.5, 0.0, 0.5), b = ray(10.0, 0.5, 1.570796327, 0.5);
    const double cr = ray(7.5, 0.375, 2.3561944905, 0.25), d = ray(7.5, 0.375, 3.9269908175, 0.25);
    const double core = std::sqrt(EllipticalFalloff(c, {s, s}, 0.0, p));
    return (((core * (1 - a) + a) * (1 - b) + b) * (1 - cr) + cr) * (1 - d) + d;
  });
}

}  // namespace kv
