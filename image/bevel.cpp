#include "image/bevel.h"

namespace kv {

void Precision_Bevel::Init(int32_t& err, const ByteMask& input, double maxDistance_, Rect area_, bool inside_,
                           double, double) {
  inside = inside_;
  Prepare(err, input, maxDistance_, area_);
}

void Precision_Bevel::Run(int32_t& err, Abort_Tester* abort, ProgressUpdateSink* progress, double progressFrom,
                          double progressTo) {
  const int32_t grow = inside ? 1 : 0;
  March(err, map.Bounds().Inflate(grow, grow).Intersect(mask.bounds), abort, progress, progressFrom, progressTo);
}

}  // namespace kv
