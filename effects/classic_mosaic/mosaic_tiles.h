// Classic Mosaic's tiles: rings of the tile size's width away from the edge
// lines and the selection's border, each with a one-pixel centre line along
// which tiles are strung; every tile claims the ring's pixels nearest to it
// and is drawn as a quadrilateral through its outermost pixels, pulled in by
// the grout.
#pragma once

#include <cstdint>
#include <vector>

#include "image/bevel.h"
#include "image/image.h"
#include "image/progress.h"
#include "image/random.h"

namespace kv {

// Rings are told apart by byte labels, band 2k and centre line 2k + 1; they
// repeat after this many rings, which only neighbouring rings ever need.
inline constexpr int32_t kRingPeriod = 127;
inline constexpr uint8_t kNoRing = 255;
inline uint8_t BandLabel(int64_t ring) { return uint8_t(2 * (ring % kRingPeriod)); }

// Writes the ring label of every pixel it reaches, and collects each ring's
// centre-line pixels (in the order the front reaches them).
class MosaicAllRings_PrecisionBevel final : public Precision_Bevel {
 public:
  MosaicAllRings_PrecisionBevel(ByteMask& labels, double ringWidth, std::vector<std::vector<Point>>& centres)
      : ringLabels(labels), T(ringWidth), inverse_(1.0 / ringWidth), centres_(centres) {}

  void Reached(Point position, PointD origin, double distance) override;
  void UnreachedInside(Point) override {}
  void UnreachedOutside(Point) override {}

  ByteMask& ringLabels;
  double T;

 private:
  double inverse_;  // 1 / T
  std::vector<std::vector<Point>>& centres_;
};

struct TileSettings {
  double tileSize = 10.0;   // pixels, the rings' width
  double groutWidth = 40.0;  // 0..100
};

// Lays the tiles over `output`, which holds the grout, taking their colours
// from `input`. `ringMask` (the selection with the edge lines at 0) bounds
// the area; it is released once the distances no longer need it. Progress
// runs from 0.3 to 1. err: 0, 1 stopped by the abort tester, -108.
int32_t LayTiles(const ByteImage& input, ByteImage& output, ByteMask ringMask, const TileSettings& settings,
                 RandomNumberGenerator& random, Abort_Tester* abort, ProgressUpdateSink* progress);

}  // namespace kv
