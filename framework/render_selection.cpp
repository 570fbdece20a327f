#include "framework/render_selection.h"

#include <cmath>

#include "host/working_area.h"

namespace kv {

const ByteMask& FullSizeSelection(const RenderContext& c) {
  return c.areaRecord != nullptr ? c.areaRecord->mask : *c.maskSource;
}

const ByteMask& SelectionAtScale(const RenderContext& c, const Rect& r, ByteMask& scratch, int32_t& err) {
  err = 0;
  const ByteMask& full = FullSizeSelection(c);
  // The mask a one-piece render was handed is at the render's scale already.
  if (c.scale == 1.0 || &full == c.mask) return full;
  if ((err = scratch.Allocate(r, ByteMask::kFormat)) != 0) return scratch;
  for (int32_t y = r.top; y < r.bottom; ++y) {
    uint8_t* row = scratch.Row(y);
    const int32_t v = int32_t(std::floor(y * c.scale));
    for (int32_t x = r.left; x < r.right; ++x) {
      const int32_t u = int32_t(std::floor(x * c.scale));
      row[x - r.left] = full.bounds.Contains(u, v) ? full(u, v) : 0;
    }
  }
  return scratch;
}

}  // namespace kv
