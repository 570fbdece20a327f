// Which drawing-surface format to render with: each offered format gets a
// weight, and the heaviest wins.
#pragma once

#include <cstdint>
#include <span>

namespace g3d {

struct SurfaceFormat {
  int32_t colorBits = 24;
  int32_t alphaBits = 0;
  int32_t depthBits = 0;
  int32_t accumBits = 0;
  bool rgba = true;          // RGBA pixels, not a colour index
  bool drawsToMemory = true;  // can draw into a bitmap we own
  bool software = true;       // the generic, software implementation
};

// 0 for an unusable format; 1, or 513 with an 8-bit alpha channel, plus
// twice the depth bits from 8 on and the accumulation bits from 8 on.
int32_t FormatWeight(const SurfaceFormat& f);

// The index (from 1) of the heaviest of `formats`, which are numbered from 1;
// among equal weights the highest index. 0 when none is usable.
int32_t ChooseFormat(std::span<const SurfaceFormat> formats);

}  // namespace g3d
