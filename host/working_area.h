// The area an effect works on and its mask, from the host's selection or the
// layer's transparency.
#pragma once

#include <cstdint>

#include "image/image.h"
#include "platform/protocol.h"

namespace kv {

struct RunRecord;

struct WorkingArea {
  Rect rect;
  ByteMask mask;  // over rect: 255 fully inside, 0 outside
};

// Computes the run record's working area at start. -1 when the layer has no
// visible pixels; host codes otherwise.
int32_t ComputeWorkingArea(ps::FilterRecord& host, RunRecord& run);

// The area a render works on: the run's, or the filter rectangle with a full
// mask when the run has none.
Rect AreaRect(const ps::FilterRecord& host, const RunRecord* run);

// The working area's mask over `r` (255 outside the area's mask rectangle
// when the run has none). -108 when memory runs out.
int32_t ReadAreaMask(const ps::FilterRecord& host, const RunRecord* run, const Rect& r, ByteMask& out);

// Host rectangles are 16-bit top-left-bottom-right.
inline Rect FromHost(const ps::Rect16& r) { return {r.left, r.top, r.right, r.bottom}; }
inline ps::Rect16 ToHost(const Rect& r) {
  return {int16_t(r.top), int16_t(r.left), int16_t(r.bottom), int16_t(r.right)};
}

}  // namespace kv
