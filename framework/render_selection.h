// The working area's selection for effects that look beyond their tile: at
// full size, and at the render's scale, so that tiles, previews and the final
// render see the same edges.
#pragma once

#include <cstdint>

#include "framework/filter.h"

namespace kv {

// The whole selection at full size: the working area's mask, or without one
// the mask the render was handed as the whole.
const ByteMask& FullSizeSelection(const RenderContext& c);

// The selection at the render's scale covering `r` (0 beyond the working
// area): the full-size mask itself when the render is at full size, else
// sampled into `scratch` as the preview samples it. err: 0 or -108.
const ByteMask& SelectionAtScale(const RenderContext& c, const Rect& r, ByteMask& scratch, int32_t& err);

}  // namespace kv
