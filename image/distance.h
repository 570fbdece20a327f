// Signed Euclidean distances from the sub-pixel contour of a byte mask (the
// level 127.5), up to a maximum distance, by a front propagated outward and
// inward from the contour. Pixels are reported through hooks rather than a
// raster, so that each user stores only what it needs.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "image/image.h"
#include "image/progress.h"

namespace kv {

class DistanceTransform {
 public:
  // One element of the front.
  struct Marching_Pixel {
    bool inside;      // the side of the contour: mask value > 127
    Point position;
    PointD origin;    // the contour point the distance is measured to
    double distance;  // from position to origin
    int32_t direction;  // 0 north (y - 1), then clockwise in eighths: 2 east, 4 south, 6 west
    bool accepted;
    Marching_Pixel* next;
  };

  DistanceTransform() = default;
  DistanceTransform(const DistanceTransform&) = delete;
  DistanceTransform& operator=(const DistanceTransform&) = delete;
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

 protected:
  double maxDistance = 0.0;
  bool ready = false;
  Rect area;
  ByteMask mask;                                // copy of the input around the area, one pixel larger
  SingleChannelImage<Marching_Pixel*> map;      // per pixel of the working region: a marker or a live element
  Marching_Pixel emptyMarker{}, doneMarker{};   // only their addresses matter
  // Elements in blocks that never move, so that pointers to them stay valid
  // as the pool grows; poolCapacity counts all blocks together.
  std::vector<std::unique_ptr<Marching_Pixel[]>> pool;
  Marching_Pixel* front = nullptr;
  Marching_Pixel* freeList = nullptr;
  int32_t poolCapacity = 0;

 private:
  int32_t Seed(ProgressUpdateSink* progress, double from, double to);
  int32_t Propagate(Abort_Tester* abort, ProgressUpdateSink* progress, double from, double to);
  int32_t FillUnreached(Abort_Tester* abort, ProgressUpdateSink* progress, double from, double to);
  // Adds `count` elements to the pool and to freeList. 0 or -108.
  int32_t AddElements(int64_t count);
  // Offers pixel (x, y) the distance to `origin`; 0 or -108.
  int32_t Offer(int32_t x, int32_t y, PointD origin, int32_t direction, bool inside);
};

}  // namespace kv
