#include "image/distance.h"

namespace kv {

void DistanceTransform::Init(int32_t& err, const ByteMask& input, double maxDistance_, Rect area_, double,
                             double) {
  Prepare(err, input, maxDistance_, area_);
}

void DistanceTransform::Run(int32_t& err, Abort_Tester* abort, ProgressUpdateSink* progress, double progressFrom,
                            double progressTo) {
  March(err, map.Bounds().Inflate(1, 1).Intersect(mask.bounds), abort, progress, progressFrom, progressTo);
}

}  // namespace kv
