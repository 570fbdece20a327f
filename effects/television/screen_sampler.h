// Bilinear samples of a raster inside a valid rectangle, as SampleBilinear
// takes them, for loops that sample many points of one row.
#pragma once

#include "image/pixel_ops.h"

namespace kv {

class ScreenSampler {
 public:
  ScreenSampler(const ByteImage& image, const Rect& valid, const BytePixel& background)
      : image_(image), valid_(valid), background_(background) {}

  // Samples at height y.
  class Row {
   public:
    void Sample(double x, BytePixel& out) const { owner_.Sample(PointD{x, y_}, out); }

   private:
    friend class ScreenSampler;
    Row(const ScreenSampler& owner, double y) : owner_(owner), y_(y) {}
    const ScreenSampler& owner_;
    double y_;
  };
  Row RowAt(double y) const { return Row(*this, y); }

  void Sample(PointD p, BytePixel& out) const { SampleBilinear(image_, valid_, p, background_, out); }

 private:
  const ByteImage& image_;
  Rect valid_;
  const BytePixel& background_;
};

}  // namespace kv
