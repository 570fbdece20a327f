// The precision bevel's geometry: for every pixel on one side of a byte
// mask's contour, its Euclidean distance to the contour and the contour point
// it was measured to, by the distance transform's front restricted to that
// side. Effects turn the distance into height, colour or opacity in hooks.
#pragma once

#include <cstdint>

#include "image/marching_front.h"

namespace kv {

// One element of the bevel's front: all of them lie on the bevel's side.
struct BevelFrontPixel {
  PointD origin;
  double distance;
  Point position;
  int32_t direction;
  bool accepted;
};

class Precision_Bevel : public MarchingFront<Precision_Bevel, BevelFrontPixel> {
 public:
  using Marching_Pixel = BevelFrontPixel;

  virtual ~Precision_Bevel() = default;

  // Once for every pixel of `area` on the bevel's side within maxDistance of
  // the contour, with its unsigned distance.
  virtual void Reached(Point position, PointD origin, double distance) = 0;
  // The area's other pixels, by their mask value (>= 127.5 inside).
  virtual void UnreachedInside(Point position) = 0;
  virtual void UnreachedOutside(Point position) = 0;

  // inside: the bevel grows into the selected side, else into the
  // unselected one. The hooks are called for `area`, which may reach beyond
  // the mask (unselected there). err: 0 or -108; the progress values are
  // not used.
  void Init(int32_t& err, const ByteMask& input, double maxDistance, Rect area, bool inside, double progressFrom,
            double progressTo);
  // err: 0 done, 1 stopped by the abort tester, -108 out of memory, -1
  // before a successful Init. Progress as the distance transform's.
  void Run(int32_t& err, Abort_Tester* abort, ProgressUpdateSink* progress, double progressFrom, double progressTo);

 protected:
  bool inside = true;

 private:
  friend MarchingFront;
  bool Seeds(bool side) const { return side == inside; }
  bool Admits(int32_t x, int32_t y) const { return Selected(x, y) == inside; }
  void Accept(const Marching_Pixel& e) { Reached(e.position, e.origin, e.distance); }
};

}  // namespace kv
