// The area an effect works on and its mask, from the host's selection or the
// layer's transparency.
#pragma once

#include <algorithm>
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
[[nodiscard]] int32_t ComputeWorkingArea(ps::FilterRecord& host, RunRecord& run);

// The area a render works on: the run's, or the filter rectangle with a full
// mask when the run has none.
Rect AreaRect(const ps::FilterRecord& host, const RunRecord* run);

// The working area's mask over `r` (255 outside the area's mask rectangle
// when the run has none). -108 when memory runs out.
[[nodiscard]] int32_t ReadAreaMask(const ps::FilterRecord& host, const RunRecord* run, const Rect& r, ByteMask& out);

// Host rectangles are 16-bit top-left-bottom-right; ours are held to what
// those fields can say.
inline Rect FromHost(const ps::Rect16& r) { return {r.left, r.top, r.right, r.bottom}; }
inline ps::Rect16 ToHost(const Rect& r) {
  const auto field = [](int32_t v) { return int16_t(std::clamp<int32_t>(v, INT16_MIN, INT16_MAX)); };
  return {field(r.top), field(r.left), field(r.bottom), field(r.right)};
}

}  // namespace kv
