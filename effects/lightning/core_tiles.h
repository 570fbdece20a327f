// The arcs' core intensity over a rectangle as the stamps leave it, kept in
// square tiles that are made where a stamp first reaches and read as zero
// elsewhere: arcs cover little of a large image, and a full raster of it
// would cost more to clear than to draw.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "effects/lightning/arc_engine.h"

namespace kv {

class CoreTiles {
 public:
  static constexpr int32_t kSize = 64;

  explicit CoreTiles(const Rect& bounds);

  // Stamps every arc of the network as drawn at `scale`: a disc at each
  // point, joined by tapered segments. Throws std::bad_alloc.
  void Stamp(const ArcNetwork& network, double scale);
  // Row y over [x0, x1), which lie in the bounds, into `out`.
  void ReadRow(int32_t y, int32_t x0, int32_t x1, double* out) const;
  const Rect& Bounds() const { return bounds_; }

 private:
  // Calls stamp(tile) for every tile the box [x0, x1] x [y0, y1] reaches.
  template <class StampOnTile>
  void Over(double x0, double y0, double x1, double y1, StampOnTile stamp);

  Rect bounds_;
  int32_t columns_, rows_;
  std::vector<std::unique_ptr<SingleChannelImage<double>>> tiles_;
};

}  // namespace kv
