// The cracks' network, in full-size pixels: one crack starts in every cell
// of a grid that the selection's edge passes through, and all of them grow
// breadth first, a step each in turn, so a younger crack stops against an
// older one. Cracks wander with a persistent direction, branch sideways now
// and then, taper towards their tips and die where they leave the selection.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "image/image.h"
#include "image/progress.h"
#include "image/random.h"

namespace kv {

struct CrackSegment {
  PointD start;
  PointD direction;     // unit length
  double step = 0.0;    // drawn length
  double width = 0.0;   // the crack's width here
  double remaining = 0.0;  // how far the crack may still grow from `start`
  int32_t parent = -1;  // the segment this one continues or branches from; -1 for a crack's first
  PointD preferred;     // the crack's first direction, which it keeps returning to
  bool nearEdge = false;  // within three widths of where the crack meets the selection's edge
  double branchChance = 0.0;

  PointD End() const { return {start.x + direction.x * step, start.y + direction.y * step}; }
};

struct CrackGrowth {
  double length = 0.0;   // L, pixels
  double spacing = 0.0;  // grid cell, pixels
  double width = 0.0;    // w, pixels
  uint16_t seed = 0;
};

class CrackNetwork {
 public:
  static constexpr double kStep = 10.0;

  // Cracks grow over `selection` (outside it nothing is selected).
  CrackNetwork(const ByteMask& selection, const CrackGrowth& growth);

  // One crack per grid cell the selection's edge passes through, then every
  // crack grown to its end. err: 0, 1 stopped, -108.
  int32_t Build(Abort_Tester* abort);

  const std::vector<CrackSegment>& Segments() const { return segments_; }
  double CrackWidth() const { return growth_.width; }                     // w
  double WidestWidth() const { return widest_; }
  double EdgeLength() const { return 3.0 * growth_.width; }               // E
  double MinimumDrawnWidth() const { return std::max(1.5 * growth_.width, 1.0); }  // M

 private:
  void Seed();
  void Grow(int32_t index);
  // Appends a segment, cut short where it runs into another.
  void AddSegment(CrackSegment s);
  bool Selected(PointD p) const;  // the selection's bilinear value at p is on the selected side
  uint8_t At(int32_t x, int32_t y) const { return selection_.bounds.Contains(x, y) ? selection_(x, y) : 0; }
  // The bucket of grid cell (x, y), clamped to the grid.
  std::vector<int32_t>& Bucket(int32_t x, int32_t y);

  const ByteMask& selection_;
  CrackGrowth growth_;
  RandomNumberGenerator rng_;
  double branchLimit_, taper_;
  double widest_ = 0.0;
  // Segments in the order they were added: those before `next_` have grown,
  // the rest wait their turn.
  std::vector<CrackSegment> segments_;
  size_t next_ = 0;
  size_t limit_;  // a bound on the network, so no setting can exhaust memory
  // Segments by their midpoint as added, in cells of one step.
  std::vector<PointD> keys_;
  Rect grid_;
  std::vector<std::vector<int32_t>> buckets_;
};

}  // namespace kv
