#include "framework/render_selection.h"

#include "host/working_area.h"
#include "image/pixel_ops.h"

namespace kv {

const ByteMask& FullSizeSelection(const RenderContext& c) {
  return c.areaRecord != nullptr ? c.areaRecord->mask : *c.maskSource;
}

const ByteMask& SelectionAtScale(const RenderContext& c, const Rect& r, ByteMask& scratch, int32_t& err) {
  err = 0;
  const ByteMask& full = FullSizeSelection(c);
  // The mask a one-piece render was handed is at the render's scale already.
  if (c.scale == 1.0 || &full == c.mask) return full;
  err = MaskAtScale(full, c.scale, r, scratch);
  return scratch;
}

}  // namespace kv
