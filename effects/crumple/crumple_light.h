// Crumple's rows: each pixel pulled in towards the centre as the flattened
// sheet shrinks, and lit by the relief, in vector lanes on every path.
#pragma once

#include <cstdint>
#include <vector>

#include "image/image.h"
#include "image/lighting.h"

namespace kv {

// A row's warped pixels, the light each receives and the lit result.
struct CrumpleRowScratch {
  std::vector<uint8_t> warped, fresh;
  std::vector<double> amount, fx, fy;
  std::vector<uint32_t> corners[4];
  // Readable a vector of the widest path past the row's end.
  CrumpleRowScratch(int32_t width, int32_t channels)
      : warped(size_t(width + 8) * size_t(channels)), fresh(size_t(width) * size_t(channels)),
        amount(size_t(width) + 8), fx(amount.size()), fy(amount.size()) {
    if (channels == 4)
      for (auto& c : corners) c.resize(amount.size());
  }
};

// What every row of a render shares.
struct CrumpleLook {
  const ByteImage* input;
  const ByteMask* selection;  // full size, for the light on a layer
  Rect area;                  // the working area at the render's scale
  double scale, K, boost;
  bool distort, transparency;
  ShadingLight light;
  BytePixel background;
  double shadow[4], highlight[4];
};

// Warps and lights row y of `rows` (the columns of `xs`, `ys`), writing
// into `out` through the mask, or straight on a layer with transparency.
// The relief's rows y - 1, y and y + 1 start at column left0 and are
// readable a vector of the widest path past their end. err: 0, or
// kErrGeneral for a pixel layout no effect renders.
int32_t LightCrumpleRow(const CrumpleLook& z, const double* above, const double* here, const double* below,
                        int32_t left0, int32_t y, const Rect& rows, const double* xs, const double* ys, ByteImage& out,
                        const ByteMask& mask, CrumpleRowScratch& scratch);

// The arc length of the crumpled paper across each pixel, from the relief
// before and after it: how far the flattened sheet reaches for each pixel
// of slope. out takes count rounded up to eight; the inputs are readable
// as far.
void CrumpleStretches(const double* before, const double* after, int32_t count, double* out);

// The flattened sheet's positions along row y: arc lengths summed outward
// from the centre column cx, for the columns of `rows`. `stretch` takes
// whole vectors over the columns between.
void CrumpleRowPositions(const double* h, int32_t left0, int32_t cx, const Rect& rows, double* xs, double* stretch);

}  // namespace kv
