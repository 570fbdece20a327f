// The two brushes Constellation stamps its stars with: a soft round star,
// and the same star with thin twinkle rays.
#pragma once

#include <cstdint>
#include <vector>

#include "image/geometry.h"

namespace kv {

// A smooth bump over an ellipse: 1 at its centre, 0 from its rim outward.
// The ellipse has radii (rx, ry) and is turned by `angle` radians; p in
// pixel coordinates, y downward.
double EllipticalFalloff(PointD centre, PointD radii, double angle, PointD p);

// A square of byte values; its hot spot, the pixel stamped on the star's
// position, is (size / 2, size / 2).
struct StarBrush {
  int32_t size = 0;
  std::vector<uint8_t> values;  // row by row
  // The stretches of non-zero values, row by row: rays leave most of the
  // square empty.
  struct Run {
    int32_t y, from, to;
  };
  std::vector<Run> runs;
  // The sum of the values before they were made bytes, each 0..1: how much
  // light one stamp of the brush spreads.
  double mass = 0.0;
};

// Star of radius s, ceil(2 s) pixels square. err: 0 or -108.
int32_t MakeRoundBrush(double s, StarBrush& brush);
// The star with four rays 10 s long, crossing at `angle` radians, and four
// fainter ones 7.5 s long between them, ceil(20 s) pixels square.
int32_t MakeTwinkleBrush(double s, double angle, StarBrush& brush);

}  // namespace kv
