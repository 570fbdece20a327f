// Electric arcs, shared by Lightning and Electrify: a network of jagged arcs
// grown from seeds (a main arc by midpoint displacement, branches by a steered
// random walk), stamped into an intensity image and drawn as glowing colour.
// Arcs live in full-size image pixels; only drawing divides by the scale, so
// a preview shows the same arcs as the final render.
#pragma once

#include <cstdint>
#include <vector>

#include "image/image.h"
#include "image/progress.h"
#include "image/random.h"
#include "parameters/parameter_values.h"

namespace kv {

// Seeds are sums that may outgrow an int; the generator reduces them the same
// way, so reducing first changes nothing but the overflow.
inline int SeedValue(int64_t seed) { return int(seed % 2147483646); }

struct ArcPoint {
  double x = 0.0, y = 0.0;
  double radius = 0.0;  // half the arc's thickness here
  bool flash = false;   // a flash is drawn here when this is an end of its arc
};
static_assert(sizeof(ArcPoint) == 32);

using Arc = std::vector<ArcPoint>;

// Where along an arc branches spring, as the fraction of the arc travelled.
struct BranchSchedule {
  BranchSchedule(double branching, int64_t seed);
  // True once the arc has passed the next position, `ahead` being the
  // fraction of it still to go; the position after that is drawn then.
  bool Due(double ahead);

  double first, interval, next;
  RandomNumberGenerator random;
};

class ArcNetwork {
 public:
  // branching, branchSpread and jaggedness 0..100; stepLength in pixels.
  ArcNetwork(const Rect& bounds, double branching, double branchSpread, double jaggedness, double stepLength);

  // From start to end; the start's radius and the end's are the half
  // thicknesses there. The start flashes, the end only when not tapered.
  void AddMainArc(const ArcPoint& start, const ArcPoint& end, bool tapered, int64_t seed);
  // A random walk of `length` pixels from `start`, heading along the unit
  // vector `direction`; branches of its own while level < 4.
  void AddBranch(const ArcPoint& start, PointD direction, double length, int64_t seed, int32_t level);

  std::vector<Arc> arcs;  // finished arcs; a parent follows its branches
  Rect bounds;            // walks end where they leave it
  double persistence, branching, spreadMin, spreadMax, maxTurn, stepLength, midpointJitter;

 private:
  struct Node {
    double x, y, ahead;  // ahead: the fraction of the main arc still to go
  };
  struct MainArc {
    double r0, r1, length;
    PointD direction;
    BranchSchedule schedule;
    Arc points;
  };
  void Subdivide(const Node& p0, const Node& p1, int64_t seed, MainArc& arc);
};

// Stamps into an intensity image, pixel centres at integer coordinates; each
// keeps the larger of the old value and its own, except the flash, which
// pulls the old value towards its own.
void StampDisc(SingleChannelImage<double>& image, PointD centre, double radius, double value);
void StampTaperedSegment(SingleChannelImage<double>& image, PointD p0, double r0, PointD p1, double r1,
                         double value);
void StampFlash(SingleChannelImage<double>& image, PointD centre, double radius, double value);

// How the arcs are drawn. Radii in full-size pixels.
struct ArcLook {
  double glowOpacity = 0.0;  // 0..1
  double glowRadius = 0.0;
  double flashFactor = 1.0;
  double coreRadius = 1.0;
  Color inner, outer;
  // The mask feeds the glow and keeps the arcs' colour off selected pixels.
  bool useMask = false;
};

// Draws the network over `output` at `scale`. `drawn` is the rectangle, in
// full-size pixels, that the final render draws in one piece: the glow is
// computed and blurred over all of it, taken at the scale, so that a tile or
// a preview shows its own part of that one piece, and pixels of `output`
// beyond it are left alone. `mask` is read at the render's pixels, 0 beyond
// its rectangle. 0, or 1 when stopped, -108 out of memory; a render that
// fails may leave the output partly drawn.
int32_t RenderArcs(const ArcNetwork& network, ByteImage& output, const Rect& drawn, double scale, const ArcLook& look,
                   const ByteMask* mask, Abort_Tester* abort, ProgressUpdateSink* progress, double from, double to);

// A rectangle of full-size pixels as a render at `scale` covers it.
Rect RectAtScale(const Rect& r, double scale);

}  // namespace kv
