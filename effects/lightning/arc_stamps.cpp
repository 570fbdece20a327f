// Anti-aliased stamps. Each touches only its own bounding box, clipped to the
// image.
#include <algorithm>
#include <cmath>

#include "effects/lightning/arc_engine.h"

namespace kv {

namespace {

struct Box {
  int32_t left, top, right, bottom;  // right and bottom inclusive
};

Box Clip(const SingleChannelImage<double>& image, double x0, double y0, double x1, double y1) {
  const Rect& b = image.bounds;
  return {std::max(b.left, int32_t(std::ceil(x0))), std::max(b.top, int32_t(std::ceil(y0))),
          std::min(b.right - 1, int32_t(std::floor(x1))), std::min(b.bottom - 1, int32_t(std::floor(y1)))};
}

// Signed distance to the line through an edge, positive on the inner side:
// distance = a x + b y + c.
struct EdgeLine {
  double a, b, c;

  EdgeLine(PointD p, PointD q, double orientation) {
    const double dx = q.x - p.x, dy = q.y - p.y, length = std::hypot(dx, dy);
    a = -dy / length * orientation;
    b = dx / length * orientation;
    c = -(a * p.x + b * p.y);
  }
};

}  // namespace

void StampDisc(SingleChannelImage<double>& image, PointD c, double r, double value) {
  const double R = std::max(r, 1.0), peak = value * std::clamp(r, 0.0, 1.0);
  const Box box = Clip(image, c.x - R, c.y - R, c.x + R, c.y + R);
  for (int32_t y = box.top; y <= box.bottom; ++y) {
    const double dy = y - c.y;
    double* p = image.Address(box.left, y);
    for (int32_t x = box.left; x <= box.right; ++x, ++p) {
      const double dx = x - c.x, v = std::clamp(R - std::sqrt(dx * dx + dy * dy), 0.0, 1.0) * peak;
      *p = std::max(*p, v);
    }
  }
}

void StampTaperedSegment(SingleChannelImage<double>& image, PointD p0, double r0, PointD p1, double r1,
                         double value) {
  const double length = std::hypot(p1.x - p0.x, p1.y - p0.y);
  if (length < 1e-10) return;
  const double R0 = std::max(r0, 1.0), R1 = std::max(r1, 1.0), peak = value * std::clamp(std::min(r0, r1), 0.0, 1.0);
  const double nx = -(p1.y - p0.y) / length, ny = (p1.x - p0.x) / length;
  const PointD corner[4] = {{p0.x + R0 * nx, p0.y + R0 * ny},
                            {p1.x + R1 * nx, p1.y + R1 * ny},
                            {p1.x - R1 * nx, p1.y - R1 * ny},
                            {p0.x - R0 * nx, p0.y - R0 * ny}};
  // The corners run one way round; the sign of twice the area says which.
  double area = 0.0;
  for (int i = 0; i < 4; ++i) {
    const PointD &a = corner[i], &b = corner[(i + 1) % 4];
    area += a.x * b.y - b.x * a.y;
  }
  const double orientation = area > 0.0 ? 1.0 : -1.0;
  const EdgeLine edges[4] = {{corner[0], corner[1], orientation},
                             {corner[1], corner[2], orientation},
                             {corner[2], corner[3], orientation},
                             {corner[3], corner[0], orientation}};

  double x0 = corner[0].x, x1 = x0, y0 = corner[0].y, y1 = y0;
  for (const PointD& p : corner) {
    x0 = std::min(x0, p.x), x1 = std::max(x1, p.x);
    y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
  }
  const Box box = Clip(image, x0, y0, x1, y1);
  for (int32_t y = box.top; y <= box.bottom; ++y) {
    double* p = image.Address(box.left, y);
    for (int32_t x = box.left; x <= box.right; ++x, ++p) {
      double inside = 1.0;
      for (const EdgeLine& e : edges) inside = std::min(inside, e.a * x + e.b * y + e.c);
      if (inside > 0.0) *p = std::max(*p, inside * peak);
    }
  }
}

void StampFlash(SingleChannelImage<double>& image, PointD c, double r, double value) {
  if (!(r > 0.0)) return;
  const Box box = Clip(image, c.x - r, c.y - r, c.x + r, c.y + r);
  for (int32_t y = box.top; y <= box.bottom; ++y) {
    const double dy = y - c.y;
    double* p = image.Address(box.left, y);
    for (int32_t x = box.left; x <= box.right; ++x, ++p) {
      const double dx = x - c.x, t = std::sqrt(dx * dx + dy * dy) / r;
      const double w = t < 0.5 ? 1.0 - 2.0 * t * t : t < 1.0 ? 2.0 * (1.0 - t) * (1.0 - t) : 0.0;
      *p += w * (value - *p);
    }
  }
}

}  // namespace kv
