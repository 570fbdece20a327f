#include "image/marching_front.h"

namespace kv {

int32_t FrontMap::Allocate(const Rect& region) {
  bounds_ = region;
  tilesPerRow_ = region.IsEmpty() ? 0 : size_t(region.Width() + 3) / 4;
  const size_t tileRows = region.IsEmpty() ? 0 : size_t(region.Height() + 3) / 4;
  try {
    entries_.assign(tilesPerRow_ * tileRows * 16, emptyMarker);
  } catch (const std::bad_alloc&) {
    entries_ = {};
    bounds_ = {};
    return kErrOutOfMemory;
  }
  return 0;
}

PointD ContourPoint(const ContourIterator::Cell& c) {
  const double x = c.position.x, y = c.position.y;
  const double a = c.value[0], b = c.value[1], cl = c.value[2], d = c.value[3];
  double sx = 0.0, sy = 0.0;
  int n = 0;
  if (c.inside[0] != c.inside[1]) sx += x + (127.5 - a) / (b - a), sy += y, ++n;
  if (c.inside[2] != c.inside[3]) sx += x + (127.5 - cl) / (d - cl), sy += y + 1.0, ++n;
  if (c.inside[0] != c.inside[2]) sx += x, sy += y + (127.5 - a) / (cl - a), ++n;
  if (c.inside[1] != c.inside[3]) sx += x + 1.0, sy += y + (127.5 - b) / (d - b), ++n;
  return {sx / n, sy / n};
}

}  // namespace kv
