// Bilinear samples of a raster inside a valid rectangle, with the weighting
// of SampleBilinear (colour weighted by alpha where there is alpha), in the
// two shapes Television needs them fast: many samples along one source
// height, and single samples anywhere.
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
        usable_(image.Width() >= 2 && image.Height() >= 2) {}

  // Samples at one height: the two source rows are blended once, so a
  // sample along the row is a single horizontal step. Positions keep to the
  // valid columns' span, as wrapped positions do.
  class Row {
   public:
    explicit Row(const ScreenSampler& s) : s_(s), left_(s.inside_.left - 1) {
      values_.resize(size_t(s.inside_.Width() + 2) * size_t(N));
    }

    void Load(double y) {
      const ScreenSampler& s = s_;
      const int32_t y0 = Floor(y);
      fy_ = y - y0;
      constexpr int32_t n = N;
      double* v = values_.data();
      for (int32_t x = left_; x <= s.inside_.right; ++x, v += n) {
        const uint8_t* top = s.Corner(x, y0);
        const uint8_t* bottom = s.Corner(x, y0 + 1);
        if constexpr (!Alpha) {
          for (int32_t k = 0; k < n; ++k) v[k] = top[k] + (bottom[k] - top[k]) * fy_;
        } else {
          constexpr int32_t a = N - 1;
          const double wt = (1 - fy_) * top[a], wb = fy_ * bottom[a];
          v[a] = wt + wb;
          for (int32_t k = 0; k < a; ++k) v[k] = wt * top[k] + wb * bottom[k];
        }
      }
    }

    void Sample(double x, uint8_t* out) const {
      const ScreenSampler& s = s_;
      if (!s.usable_) return;
      const int32_t x0 = std::clamp(Floor(x), left_, s.inside_.right - 1);
      const double fx = x - x0;
      constexpr int32_t n = N;
      const double* l = values_.data() + size_t(x0 - left_) * size_t(n);
      const double* r = l + n;
      if constexpr (!Alpha) {
        for (int32_t k = 0; k < n; ++k) out[k] = ToByte(l[k] + (r[k] - l[k]) * fx);
      } else {
        constexpr int32_t a = N - 1;
        const uint8_t alpha = ToByte((1 - fx) * l[a] + fx * r[a]);
        out[a] = alpha;
        const double inv = alpha != 0 ? 1.0 / alpha : 0.0;  // all zero when transparent
        for (int32_t k = 0; k < a; ++k) out[k] = ToByte(((1 - fx) * l[k] + fx * r[k]) * inv);
      }
    }

   private:
    const ScreenSampler& s_;
    int32_t left_;
    double fy_ = 0;
    std::vector<double> values_;
  };

  // A sample anywhere; `out` is left alone when the raster is too small.
  void Sample(double x, double y, uint8_t* out) const {
    if (!usable_) return;
    const int32_t x0 = Floor(x), y0 = Floor(y);
    const double fx = x - x0, fy = y - y0;
    const uint8_t* c0 = Corner(x0, y0);
    const uint8_t* c1 = Corner(x0 + 1, y0);
    const uint8_t* c2 = Corner(x0, y0 + 1);
    const uint8_t* c3 = Corner(x0 + 1, y0 + 1);
    if constexpr (!Alpha) {
      for (int32_t k = 0; k < N; ++k) {
        const double left = c0[k] + (c2[k] - c0[k]) * fy, right = c1[k] + (c3[k] - c1[k]) * fy;
        out[k] = ToByte(left + (right - left) * fx);
      }
    } else {
      constexpr int32_t a = N - 1;
      const double w0 = (1 - fx) * (1 - fy) * c0[a], w1 = fx * (1 - fy) * c1[a], w2 = (1 - fx) * fy * c2[a],
                   w3 = fx * fy * c3[a];
      const uint8_t alpha = ToByte(w0 + w1 + w2 + w3);
      out[a] = alpha;
      const double inv = alpha != 0 ? 1.0 / alpha : 0.0;  // all zero when transparent
      for (int32_t k = 0; k < a; ++k) out[k] = ToByte((w0 * c0[k] + w1 * c1[k] + w2 * c2[k] + w3 * c3[k]) * inv);
    }
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

  const ByteImage& image_;
  Rect inside_;
  const BytePixel& background_;
  bool usable_;
};

}  // namespace kv
