// Bilinear samples of a raster inside a valid rectangle, byte for byte those
// of SampleBilinear, in the two shapes Television needs them fast: many
// samples along one source height, and single samples anywhere.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "image/pixel_ops.h"

namespace kv {

// N channels, the last of them alpha when Alpha is set: fixed at compile
// time so the per-channel loops unroll.
template <int32_t N, bool Alpha>
class ScreenSampler {
 public:
  ScreenSampler(const ByteImage& image, const Rect& valid, const BytePixel& background)
      : image_(image),
        inside_(valid.Intersect(image.bounds)),
        background_(background),
        bilinear_(image.Width() >= 2 && image.Height() >= 2) {}

  // Samples at one height: the corners of the two source rows are found
  // once. Positions keep to the valid columns' span, as wrapped positions do.
  class Row {
   public:
    explicit Row(const ScreenSampler& s) : s_(s), left_(s.inside_.left - 1) {
      const size_t columns = size_t(std::max(s.inside_.Width(), 0) + 2);
      if constexpr (Alpha) {
        top_.resize(columns);
        bottom_.resize(columns);
      } else {
        values_.resize(columns * size_t(N));
      }
    }

    void Load(double y) {
      const ScreenSampler& s = s_;
      y_ = y;
      const int32_t y0 = Floor(y);
      fy_ = y - y0;
      for (int32_t x = left_; x <= s.inside_.right; ++x) {
        const uint8_t* top = s.Corner(x, y0);
        const uint8_t* bottom = s.Corner(x, y0 + 1);
        const size_t i = size_t(x - left_);
        if constexpr (Alpha) {
          top_[i] = top;
          bottom_[i] = bottom;
        } else {
          // SampleBilinear's first step: down each column.
          double* v = values_.data() + i * N;
          for (int32_t k = 0; k < N; ++k) v[k] = top[k] + (bottom[k] - top[k]) * fy_;
        }
      }
    }

    void Sample(double x, uint8_t* out) const {
      const ScreenSampler& s = s_;
      if (!s.bilinear_) return s.Nearest(x, y_, out);
      const int32_t x0 = std::clamp(Floor(x), left_, s.inside_.right - 1);
      const double fx = x - x0;
      const size_t i = size_t(x0 - left_);
      if constexpr (Alpha) {
        BilinearFromCorners<N, true>(top_[i], top_[i + 1], bottom_[i], bottom_[i + 1], fx, fy_, out);
      } else {
        const double* l = values_.data() + i * N;
        const double* r = l + N;
        for (int32_t k = 0; k < N; ++k) out[k] = ToByte(l[k] + (r[k] - l[k]) * fx);
      }
    }

   private:
    const ScreenSampler& s_;
    int32_t left_;
    double y_ = 0, fy_ = 0;
    std::vector<const uint8_t*> top_, bottom_;
    std::vector<double> values_;
  };

  // A sample anywhere.
  void Sample(double x, double y, uint8_t* out) const {
    if (!bilinear_) return Nearest(x, y, out);
    const int32_t x0 = Floor(x), y0 = Floor(y);
    BilinearFromCorners<N, Alpha>(Corner(x0, y0), Corner(x0 + 1, y0), Corner(x0, y0 + 1), Corner(x0 + 1, y0 + 1),
                                  x - x0, y - y0, out);
  }

 private:
  // Far-off positions stay in int range; they read as background.
  // Without a call to floor, which the baseline instruction set lacks.
  static int32_t Floor(double v) {
    const double c = std::clamp(v, -1073741824.0, 1073741824.0);
    const int32_t t = int32_t(c);
    return t - (c < t ? 1 : 0);
  }
  const uint8_t* Corner(int32_t x, int32_t y) const {
    return inside_.Contains(x, y) ? image_.Address(x, y) : background_.values;
  }
  // A raster one pixel wide or high has no second pixel to weigh against:
  // the pixel under the position stands for the sample.
  void Nearest(double x, double y, uint8_t* out) const { std::copy_n(Corner(Floor(x), Floor(y)), N, out); }

  const ByteImage& image_;
  Rect inside_;
  const BytePixel& background_;
  bool bilinear_;
};

}  // namespace kv
