// The blurred glow of the arcs. The glow is blurred over a radius of tens to
// hundreds of pixels, so it is smooth at the scale of a few pixels: its
// source is averaged into square cells, with at least 16 pixels of blur
// radius to a cell, blurred there and interpolated back to pixels. Cells sit
// at fixed image positions and the grid reaches as far beyond the output as
// the blur does, so any part of the image comes out the same whether it is
// drawn alone or as part of more.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "effects/lightning/core_tiles.h"

namespace kv {

class GlowField {
 public:
  // Blur `radius` in render pixels; the grid for drawing `output` of `image`.
  GlowField(double radius, const Rect& output, const Rect& image);

  // The pixels whose source the grid takes in.
  const Rect& Source() const { return source_; }

  // Takes the source gain * k * core, or with a mask gain * max(mask, k * core)
  // (the mask 0 beyond its rectangle), and blurs it. 0, or 1 when stopped.
  int32_t Compute(const CoreTiles& core, double gain, double k, const ByteMask* mask, Abort_Tester* abort,
                  ProgressUpdateSink* progress, double from, double to);

  // The glow of row y over [x0, x1), which lie within the output.
  void ReadRow(int32_t y, int32_t x0, int32_t x1, double* out);

 private:
  struct Lerp {
    int32_t i0, i1;  // cells, from the grid's first
    float t;         // weight of the second
  };
  Lerp CellLerp(int32_t pixel, int32_t first, int32_t last) const;
  float* Row(int32_t cy) { return values_.get() + size_t(cy - cells_.top) * stride_; }
  int32_t Blur(Abort_Tester* abort);

  int32_t size_;  // pixels to a cell's side
  std::vector<float> weights_;
  Rect cells_, source_;
  size_t stride_;
  std::unique_ptr<float[]> values_;
  std::vector<Lerp> columns_;  // for the last row range read
  int32_t columnsFrom_ = 0;
  std::vector<float> cellRow_;
};

}  // namespace kv
