// Signed Euclidean distances from the sub-pixel contour of a byte mask (the
// level 127.5), up to a maximum distance, by a front propagated outward and
// inward from the contour. Pixels are reported through hooks rather than a
// raster, so that each user stores only what it needs.
#pragma once

#include <cstdint>

#include "image/marching_front.h"

namespace kv {

// One element of the front. Fields are ordered to pack into 40 bytes.
struct DistanceFrontPixel {
  PointD origin;      // the contour point the distance is measured to
  double distance;    // from position to origin
  Point position;
  int32_t direction;  // 0 north (y - 1), then clockwise in eighths: 2 east, 4 south, 6 west
  bool inside;        // the side of the contour: mask value > 127
  bool accepted;
};

class DistanceTransform : public MarchingFront<DistanceTransform, DistanceFrontPixel> {
 public:
  using Marching_Pixel = DistanceFrontPixel;

  virtual ~DistanceTransform() = default;

  // Once for every pixel of `area` the front reaches: signedDistance is
  // negative on the inside of the contour, positive outside.
  virtual void Reached(Point position, PointD origin, double signedDistance) = 0;
  // Pixels of `area` not reached within maxDistance, by their mask value
  // (>= 127.5 inside, below outside).
  virtual void UnreachedInside(Point position) = 0;
  virtual void UnreachedOutside(Point position) = 0;

  // Copies what it needs of `input`; the hooks are called for `area`, which
  // may reach beyond the mask (the mask reads 0 there). err: 0 or -108. The
  // progress values are not used: the work is all in Run.
  void Init(int32_t& err, const ByteMask& input, double maxDistance, Rect area, double progressFrom,
            double progressTo);
  // Calls the hooks. err: 0 done, 1 stopped by the abort tester (the hooks
  // called so far stay called), -108 out of memory, -1 before a successful Init.
  // Progress: 30 % finding the contour, 30 % the front, 40 % the unreached.
  void Run(int32_t& err, Abort_Tester* abort, ProgressUpdateSink* progress, double progressFrom, double progressTo);

 private:
  friend MarchingFront;
  // Both sides are measured.
  static bool Seeds(bool) { return true; }
  static bool Admits(int32_t, int32_t) { return true; }
  void Accept(const Marching_Pixel& e) { Reached(e.position, e.origin, e.inside ? -e.distance : e.distance); }
};

}  // namespace kv
