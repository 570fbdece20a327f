// Signed Euclidean distances from the sub-pixel contour of a byte mask (the
// level 127.5), up to a maximum distance, by a front propagated outward and
// inward from the contour. Pixels are reported through hooks rather than a
// raster, so that each user stores only what it needs.
#pragma once

#include <cstdint>
#include <vector>

#include "image/image.h"
#include "image/progress.h"

namespace kv {

class DistanceTransform {
 public:
  // One element of the front. Fields are ordered to pack into 40 bytes.
  struct Marching_Pixel {
    PointD origin;      // the contour point the distance is measured to
    double distance;    // from position to origin
    Point position;
    int32_t direction;  // 0 north (y - 1), then clockwise in eighths: 2 east, 4 south, 6 west
    bool inside;        // the side of the contour: mask value > 127
    bool accepted;
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
  // Map entries: a marker, or the front element's generation and index.
  static constexpr uint32_t emptyMarker = 0xffffffffu, doneMarker = 0xfffffffeu;
  static constexpr int32_t kGenerationShift = 30;
  static constexpr uint32_t kIndexMask = (1u << kGenerationShift) - 1;

  double maxDistance = 0.0;
  bool ready = false;
  Rect area;
  ByteMask mask;                      // copy of the input around the area, one pixel larger
  // Per pixel of the working region, in 4 x 4 tiles of one cache line each:
  // the front walks rings, and whichever way a ring runs its next level then
  // falls mostly in lines just touched. Row-major, a ring's upright stretches
  // took a line per pixel and the map's misses most of the transform's time.
  class PixelMap {
   public:
    int32_t Allocate(const Rect& region);  // every entry emptyMarker; 0 or -108
    const Rect& Bounds() const { return bounds_; }
    uint32_t& operator()(int32_t x, int32_t y) {
      const uint32_t u = uint32_t(x - bounds_.left), v = uint32_t(y - bounds_.top);
      return entries_[(size_t(v >> 2) * tilesPerRow_ + (u >> 2)) << 4 | (v & 3) << 2 | (u & 3)];
    }

   private:
    Rect bounds_;
    size_t tilesPerRow_ = 0;
    std::vector<uint32_t> entries_;
  };
  PixelMap map;
  // The front, by the level whose offers created each element (the seeds
  // count as level 0). An element created at level k lies nearer than
  // k + sqrt 2 and is accepted by level k + 2, so three generations in turn
  // hold the whole front. Walking the newest first, each backwards, visits
  // the elements in the order of a list that takes new ones at its head,
  // while memory is read in sequence.
  std::vector<Marching_Pixel> front[3];
  int64_t live = 0;  // elements created and not yet accepted

 private:
  int32_t Seed(ProgressUpdateSink* progress, double from, double to);
  int32_t Propagate(Abort_Tester* abort, ProgressUpdateSink* progress, double from, double to);
  int32_t FillUnreached(Abort_Tester* abort, ProgressUpdateSink* progress, double from, double to);
  // Offers pixel (x, y) the distance to `origin`; new elements join
  // generation `generation`.
  void Offer(int32_t x, int32_t y, PointD origin, int32_t direction, bool inside, int32_t generation);
};

}  // namespace kv
