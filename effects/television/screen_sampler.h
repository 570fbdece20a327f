// Bilinear samples of a raster inside a valid rectangle, byte for byte those
// of SampleBilinear, in the two shapes Television needs them fast: many
// samples along one source height, and samples anywhere. Each shape also
// takes a vector's lanes of positions at once and gives channel values.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "image/lanes.h"
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

  // Samples at one height: the two source rows' corners are read once, into
  // a plane of doubles per channel (and row, with alpha), so that lanes of
  // neighbouring positions load them whole. Positions keep to the valid
  // columns' span, as wrapped positions do.
  class Row {
   public:
    explicit Row(const ScreenSampler& s)
        : s_(s),
          left_(s.inside_.left - 1),
          columns_(size_t(std::max(s.inside_.Width(), 0) + 2)),
          planes_(columns_ * N * (Alpha ? 2 : 1)) {}

    void Load(double y) {
      const ScreenSampler& s = s_;
      y_ = y;
      const int32_t y0 = Floor(y);
      fy_ = y - y0;
      for (int32_t x = left_; x <= s.inside_.right; ++x) {
        const uint8_t* top = s.Corner(x, y0);
        const uint8_t* bottom = s.Corner(x, y0 + 1);
        double* v = planes_.data() + size_t(x - left_);
        for (int32_t k = 0; k < N; ++k, v += columns_) {
          if constexpr (Alpha) {
            v[0] = top[k];
            v[N * columns_] = bottom[k];
          } else {
            // SampleBilinear's first step: down each column.
            v[0] = top[k] + (bottom[k] - top[k]) * fy_;
          }
        }
      }
    }

    // Sample at the positions x, channel k's values in out[k].
    template <int Lanes>
    [[gnu::always_inline]] void SampleLanes(typename Wide<Lanes>::D x, typename Wide<Lanes>::D* out) const {
      using D = typename Wide<Lanes>::D;
      const ScreenSampler& s = s_;
      if (!s.bilinear_) {
        const uint8_t* nearest[Lanes];
        for (int l = 0; l < Lanes; ++l) nearest[l] = s.Corner(Floor(x[l]), Floor(y_));
        return Gather<Lanes>(nearest, out);
      }
      // Positions in the valid span; Floor's clamp to the int range is then moot.
      const D lo = D{} + double(left_), hi = D{} + double(s.inside_.right - 1), fl = Floors<Lanes>(x);
      const D x0 = fl < lo ? lo : (hi < fl ? hi : fl), fx = x - x0;
      const typename Wide<Lanes>::I column = __builtin_convertvector(x0 - lo, typename Wide<Lanes>::I);
      size_t at[Lanes];
      bool run = true;  // neighbouring columns, as most rows' samples are
      for (int l = 0; l < Lanes; ++l) {
        at[l] = size_t(column[l]);
        run = run && at[l] == at[0] + size_t(l);
      }
      // Lanes of plane p's columns at and one after.
      const auto load = [&](size_t plane, D& here, D& next) {
        const double* v = planes_.data() + plane * columns_;
        if (run) {
          std::memcpy(&here, v + at[0], sizeof here);
          std::memcpy(&next, v + at[0] + 1, sizeof next);
        } else {
          for (int l = 0; l < Lanes; ++l) here[l] = v[at[l]], next[l] = v[at[l] + 1];
        }
      };
      if constexpr (Alpha) {
        D c[4][N];
        for (int32_t k = 0; k < N; ++k) {
          load(size_t(k), c[0][k], c[1][k]);
          load(size_t(N + k), c[2][k], c[3][k]);
        }
        BilinearLanes<Lanes>(c, fx, D{} + fy_, out);
      } else {
        for (int32_t k = 0; k < N; ++k) {
          D left, right;
          load(size_t(k), left, right);
          out[k] = ToBytes<Lanes>(left + (right - left) * fx);
        }
      }
    }

   private:
    const ScreenSampler& s_;
    int32_t left_;
    size_t columns_;
    double y_ = 0, fy_ = 0;
    std::vector<double> planes_;
  };

  // Samples anywhere, at (xs[l], ys[l]) in lane l; channel k's values in out[k].
  template <int Lanes>
  [[gnu::always_inline]] void SampleLanes(const double* xs, const double* ys, typename Wide<Lanes>::D* out) const {
    using D = typename Wide<Lanes>::D;
    const uint8_t* corners[4][Lanes];
    if (!bilinear_) {
      for (int l = 0; l < Lanes; ++l) corners[0][l] = Corner(Floor(xs[l]), Floor(ys[l]));
      return Gather<Lanes>(corners[0], out);
    }
    D fx = {}, fy = {};
    for (int l = 0; l < Lanes; ++l) {
      const int32_t x0 = Floor(xs[l]), y0 = Floor(ys[l]);
      fx[l] = xs[l] - x0;
      fy[l] = ys[l] - y0;
      if (x0 >= inside_.left && x0 + 1 < inside_.right && y0 >= inside_.top && y0 + 1 < inside_.bottom) {
        const uint8_t* p = image_.Address(x0, y0);
        const ptrdiff_t down = image_.Address(x0, y0 + 1) - p;
        corners[0][l] = p;
        corners[1][l] = p + N;
        corners[2][l] = p + down;
        corners[3][l] = p + down + N;
      } else {
        corners[0][l] = Corner(x0, y0);
        corners[1][l] = Corner(x0 + 1, y0);
        corners[2][l] = Corner(x0, y0 + 1);
        corners[3][l] = Corner(x0 + 1, y0 + 1);
      }
    }
    D c[4][N];
    for (int n = 0; n < 4; ++n) Gather<Lanes>(corners[n], c[n]);
    BilinearLanes<Lanes>(c, fx, fy, out);
  }

 private:
  // Channel k of the pixel at[l] into lane l of out[k]; four channels are
  // read as one word.
  template <int Lanes>
  [[gnu::always_inline]] static void Gather(const uint8_t* const (&at)[Lanes], typename Wide<Lanes>::D* out) {
    using W = Wide<Lanes>;
    if constexpr (N == 4) {
      uint32_t words[Lanes];
      for (int l = 0; l < Lanes; ++l) std::memcpy(&words[l], at[l], 4);
      typename W::U w;
      std::memcpy(&w, words, sizeof w);
      for (int32_t k = 0; k < N; ++k)
        out[k] = __builtin_convertvector(typename W::I((w >> (8 * k)) & 255u), typename W::D);
    } else {
      uint8_t bytes[N][Lanes];
      for (int l = 0; l < Lanes; ++l)
        for (int32_t k = 0; k < N; ++k) bytes[k][l] = at[l][k];
      for (int32_t k = 0; k < N; ++k) {
        uint8_t b __attribute__((vector_size(Lanes)));
        std::memcpy(&b, bytes[k], Lanes);
        // Through 32-bit integers: bytes straight to doubles go lane by lane.
        out[k] = __builtin_convertvector(__builtin_convertvector(b, typename W::I), typename W::D);
      }
    }
  }
  // BilinearFromCorners lane by lane, with the corners' channels c[n][k] in
  // the order it takes them.
  template <int Lanes>
  [[gnu::always_inline]] static void BilinearLanes(const typename Wide<Lanes>::D (&c)[4][N], typename Wide<Lanes>::D fx,
                                                   typename Wide<Lanes>::D fy, typename Wide<Lanes>::D* out) {
    using D = typename Wide<Lanes>::D;
    if constexpr (!Alpha) {
      for (int32_t k = 0; k < N; ++k) {
        const D left = c[0][k] + (c[2][k] - c[0][k]) * fy;
        const D right = c[1][k] + (c[3][k] - c[1][k]) * fy;
        out[k] = ToBytes<Lanes>(left + (right - left) * fx);
      }
    } else {
      constexpr int32_t a = N - 1;
      const D w0 = (1 - fx) * (1 - fy), w1 = fx * (1 - fy), w2 = (1 - fx) * fy, w3 = fx * fy;
      const D alpha = ToBytes<Lanes>(w0 * c[0][a] + w1 * c[1][a] + w2 * c[2][a] + w3 * c[3][a]);
      out[a] = alpha;
      // Clear samples get colours 0; their divisor is only kept finite.
      const D zero = {}, divisor = alpha == zero ? zero + 1.0 : alpha;
      for (int32_t k = 0; k < a; ++k) {
        const D v = ToBytes<Lanes>(w0 / divisor * c[0][a] * c[0][k] + w1 / divisor * c[1][a] * c[1][k] +
                                   w2 / divisor * c[2][a] * c[2][k] + w3 / divisor * c[3][a] * c[3][k]);
        out[k] = alpha == zero ? zero : v;
      }
    }
  }

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
  bool bilinear_;
};

}  // namespace kv
