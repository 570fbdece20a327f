#include "effects/lightning/core_tiles.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace kv {

CoreTiles::CoreTiles(const Rect& bounds)
    : bounds_(bounds),
      columns_((std::max(bounds.Width(), 0) + kSize - 1) / kSize),
      rows_((std::max(bounds.Height(), 0) + kSize - 1) / kSize),
      tiles_(size_t(columns_) * size_t(rows_)) {}

template <class StampOnTile>
void CoreTiles::Over(double x0, double y0, double x1, double y1, StampOnTile stamp) {
  const int32_t left = std::max(bounds_.left, int32_t(std::ceil(x0)));
  const int32_t top = std::max(bounds_.top, int32_t(std::ceil(y0)));
  const int32_t right = std::min(bounds_.right - 1, int32_t(std::floor(x1)));
  const int32_t bottom = std::min(bounds_.bottom - 1, int32_t(std::floor(y1)));
  if (left > right || top > bottom) return;
  for (int32_t ty = (top - bounds_.top) / kSize; ty <= (bottom - bounds_.top) / kSize; ++ty)
    for (int32_t tx = (left - bounds_.left) / kSize; tx <= (right - bounds_.left) / kSize; ++tx) {
      std::unique_ptr<SingleChannelImage<double>>& tile = tiles_[size_t(ty) * size_t(columns_) + size_t(tx)];
      if (!tile) {
        const Rect r = Rect{bounds_.left + tx * kSize, bounds_.top + ty * kSize, bounds_.left + (tx + 1) * kSize,
                            bounds_.top + (ty + 1) * kSize}
                           .Intersect(bounds_);
        int32_t err = 0;
        auto made = std::make_unique<SingleChannelImage<double>>(err, r);
        if (err != 0) throw std::bad_alloc();
        made->Fill(0.0);
        tile = std::move(made);
      }
      stamp(*tile);
    }
}

void CoreTiles::Stamp(const ArcNetwork& network, double scale) {
  for (const Arc& arc : network.arcs) {
    PointD previous{};
    double previousRadius = 0.0;
    for (size_t i = 0; i < arc.size(); ++i) {
      const PointD p{arc[i].x / scale, arc[i].y / scale};
      const double r = arc[i].radius / scale, R = std::max(r, 1.0);
      if (i > 0) {
        const double reach = std::max(R, std::max(previousRadius, 1.0));
        Over(std::min(p.x, previous.x) - reach, std::min(p.y, previous.y) - reach, std::max(p.x, previous.x) + reach,
             std::max(p.y, previous.y) + reach, [&](SingleChannelImage<double>& tile) {
               StampTaperedSegment(tile, previous, previousRadius, p, r, 255.0);
             });
      }
      Over(p.x - R, p.y - R, p.x + R, p.y + R, [&](SingleChannelImage<double>& tile) { StampDisc(tile, p, r, 255.0); });
      previous = p;
      previousRadius = r;
    }
  }
}

void CoreTiles::ReadRow(int32_t y, int32_t x0, int32_t x1, double* out) const {
  std::fill(out, out + (x1 - x0), 0.0);
  const int32_t ty = (y - bounds_.top) / kSize;
  for (int32_t tx = (x0 - bounds_.left) / kSize; tx <= (x1 - 1 - bounds_.left) / kSize; ++tx) {
    const SingleChannelImage<double>* tile = tiles_[size_t(ty) * size_t(columns_) + size_t(tx)].get();
    if (tile == nullptr) continue;
    const int32_t from = std::max(x0, tile->bounds.left), to = std::min(x1, tile->bounds.right);
    std::copy_n(tile->Address(from, y), to - from, out + (from - x0));
  }
}

}  // namespace kv
