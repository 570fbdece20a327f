// The flaps of a torn selection: every tear point owns the part of the
// selection nearer to it than to any other tear point, and that part rolls
// back from its far end towards the tear point over a cylinder, showing its
// underside once it has turned over, and shadows what lies below.
#pragma once

#include <cstdint>
#include <vector>

#include "parameters/parameter_values.h"
#include "image/image.h"
#include "image/progress.h"
#include "image/random.h"

namespace kv {

struct FlapLook {
  double amount = 0.4;     // how much of each flap is rolled back, 0.01..1
  double variation = 0.8;  // how much that differs between flaps, 0..1
  double roughness = 0.0;  // how far the tear lines wander, pixels
  double shadowWidth = 0;  // pixels
  bool sameUnderside = false;
  LayerFill fill;
  Color underside;
};

// Draws the fill and the flaps into `result`, which holds `source`, through
// `selection`; draws from `rng` after the tear points were picked.
// err: 0, 1 stopped, -108.
int32_t DrawFlaps(const ByteImage& source, ByteImage& result, const ByteMask& selection,
                  const std::vector<Point>& tears, const FlapLook& look, RandomNumberGenerator& rng,
                  Abort_Tester* abort, ProgressUpdateSink* progress, double from, double to);

}  // namespace kv
