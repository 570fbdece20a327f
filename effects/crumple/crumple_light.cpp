#include "effects/crumple/crumple_light.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "image/lanes.h"
#include "image/pixel_ops.h"
#include "image/vector_kernels.h"

namespace kv {

namespace {

// The corners SampleBilinear weighs at (X, Y), those beyond the input
// reading as the background, and the fractions it weighs them by.
template <int32_t N>
inline void Corners(const ByteImage& in, const uint8_t* background, double X, double Y, const uint8_t* (&c)[4],
                    double& fx, double& fy) {
  const Rect& b = in.bounds;
  const int32_t x0 = int32_t(std::clamp(std::floor(X), -1073741824.0, 1073741824.0));
  const int32_t y0 = int32_t(std::clamp(std::floor(Y), -1073741824.0, 1073741824.0));
  if (x0 >= b.left && x0 + 1 < b.right && y0 >= b.top && y0 + 1 < b.bottom) {
    c[0] = in.Address(x0, y0);
    c[1] = c[0] + N;
    c[2] = c[0] + in.rowStride;
    c[3] = c[2] + N;
  } else {
    for (int32_t i = 0; i < 4; ++i) {
      const int32_t x = x0 + (i & 1), y = y0 + (i >> 1);
      c[i] = b.Contains(x, y) ? in.Address(x, y) : background;
    }
  }
  fx = X - x0;
  fy = Y - y0;
}

// The warped pixel at (X, Y): SampleBilinear's arithmetic.
template <int32_t N, bool Alpha>
inline void Warped(const ByteImage& in, const uint8_t* background, double X, double Y, uint8_t* out) {
  const uint8_t* c[4];
  double fx, fy;
  Corners<N>(in, background, X, Y, c, fx, fy);
  BilinearFromCorners<N, Alpha>(c[0], c[1], c[2], c[3], fx, fy, out);
}

// The lit pixel from its warped colour, as ShadeTerms and ApplyShadeTerms
// give it: the exact form, which the vector rows fall back on.
template <int32_t N, bool Alpha>
inline void LightPixel(const CrumpleLook& z, const uint8_t* warped, PointD g, double ambient, double l, uint8_t* dst) {
  constexpr int32_t kColours = Alpha ? N - 1 : N;
  double v[kColours];
  for (int32_t c = 0; c < kColours; ++c) v[c] = warped[c];
  ApplyShadeTerms(v, kColours, ShadeTerms(g, g.x * g.x + g.y * g.y, ambient, l, z.light), z.shadow, z.highlight);
  for (int32_t c = 0; c < kColours; ++c) dst[c] = uint8_t(std::clamp(v[c] + 0.5, 0.0, 255.0));
  if constexpr (Alpha) dst[kColours] = warped[kColours];
}

// The relief around a pixel: its slope and the light boost's share.
inline PointD Slope(const double* above, const double* here, const double* below, int32_t j) {
  return {0.5 * (here[j + 1] - here[j - 1]) * 0.4, 0.5 * (below[j] - above[j]) * 0.4};
}
inline double Ambient(const CrumpleLook& z, double h) { return 1.0 + 0.75 * (z.boost * 0.005) * (1.0 - h / z.K); }

// Square roots of each lane, in place, in each path's own instructions
// (GCC's vectors have no square root of their own): correctly rounded, as
// std::sqrt. By reference: a wide vector passed by value would take the
// calling convention of a path the caller may not have.
inline void SquareRoots(Wide<2>::D& v) { v = Wide<2>::D(_mm_sqrt_pd(__m128d(v))); }
#if defined(KV_VECTOR_PATHS)
KV_FOR_AVX2 inline void SquareRoots(Wide<4>::D& v) { v = Wide<4>::D(_mm256_sqrt_pd(__m256d(v))); }
// (The masked form: GCC 12 takes the plain one's undefined source for an
// uninitialised read.)
KV_FOR_AVX512 inline void SquareRoots(Wide<8>::D& v) {
  v = Wide<8>::D(_mm512_maskz_sqrt_pd(__mmask8(0xff), __m512d(v)));
}
#else
template <class D>
inline void SquareRoots(D& v) {
  for (size_t l = 0; l < sizeof v / sizeof v[0]; ++l) v[l] = std::sqrt(v[l]);
}
#endif

// One row's shading, W pixels to a vector, each lane doing LightPixel's
// arithmetic in its order, except the highlight's power, which is Powers'.
// Where that could have moved a byte (a channel within 1e-8 of rounding
// the other way; Powers is within 1e-12 relative, which moves a channel by
// under 3e-10), the pixel is lit again the exact way.
struct ShadeRow {
  const CrumpleLook* z;
  const double *above, *here, *below;  // at the row's first pixel; readable a vector past its last
  const uint8_t* warped;               // N bytes a pixel, readable a vector past the last
  // Instead, four bytes a pixel: its warped pixel's corners as words and
  // their fractions, readable likewise.
  const uint32_t* corners[4];
  const double *fx, *fy;
  const double* amount;                // the light's intensity, readable likewise
  int32_t count;
  uint8_t* fresh;

  // BilinearFromCorners, lane by lane, for pixels of four bytes.
  template <int W, bool Alpha>
  [[gnu::always_inline]] void Bilinear(int32_t i, typename Wide<W>::D (&v)[4]) const {
    using D = typename Wide<W>::D;
    using U = typename Wide<W>::U;
    using I = typename Wide<W>::I;
    D ch[4][4];  // corner, channel
    for (int32_t k = 0; k < 4; ++k) {
      U words;
      std::memcpy(&words, corners[k] + i, sizeof words);
      for (int32_t c = 0; c < 4; ++c) ch[k][c] = __builtin_convertvector(I((words >> (8 * c)) & 255u), D);
    }
    D x, y;
    std::memcpy(&x, fx + i, sizeof x);
    std::memcpy(&y, fy + i, sizeof y);
    if constexpr (!Alpha) {
      for (int32_t c = 0; c < 4; ++c) {
        const D left = ch[0][c] + (ch[2][c] - ch[0][c]) * y;
        const D right = ch[1][c] + (ch[3][c] - ch[1][c]) * y;
        v[c] = ToBytes<W>(left + (right - left) * x);
      }
    } else {
      const D w[4] = {(1.0 - x) * (1.0 - y), x * (1.0 - y), (1.0 - x) * y, x * y};
      const D alpha = ToBytes<W>(w[0] * ch[0][3] + w[1] * ch[1][3] + w[2] * ch[2][3] + w[3] * ch[3][3]);
      const D zero = {};
      const auto clear = alpha == zero;
      // Nothing to weigh the colours by where the alpha is 0: they are 0.
      const D by = clear ? zero + 1.0 : alpha;
      for (int32_t c = 0; c < 3; ++c) {
        const D sum = w[0] / by * ch[0][3] * ch[0][c] + w[1] / by * ch[1][3] * ch[1][c] +
                      w[2] / by * ch[2][3] * ch[2][c] + w[3] / by * ch[3][3] * ch[3][c];
        v[c] = clear ? zero : ToBytes<W>(sum);
      }
      v[3] = alpha;
    }
  }

  template <int W, int32_t N, bool Alpha>
  [[gnu::always_inline]] void Run() const {
    using D = typename Wide<W>::D;
    using U = typename Wide<W>::U;
    using I = typename Wide<W>::I;
    constexpr int32_t kColours = Alpha ? N - 1 : N;
    const ShadingLight& light = z->light;
    const double boost = 0.75 * (z->boost * 0.005);
    const D zero = {};
    for (int32_t i = 0; i < count; i += W) {
      D v[N];
      if constexpr (N == 4) {
        if (corners[0] != nullptr) {
          Bilinear<W, Alpha>(i, v);
        } else {
          U words;
          std::memcpy(&words, warped + size_t(i) * 4, sizeof words);
          for (int32_t c = 0; c < N; ++c) v[c] = __builtin_convertvector(I((words >> (8 * c)) & 255u), D);
        }
      } else {
        for (int32_t c = 0; c < N; ++c)
          for (int l = 0; l < W; ++l) v[c][l] = warped[size_t(i + l) * N + size_t(c)];
      }
      const D gx = 0.5 * (Load<W>(here + i + 1) - Load<W>(here + i - 1)) * 0.4;
      const D gy = 0.5 * (Load<W>(below + i) - Load<W>(above + i)) * 0.4;
      const D ambient = 1.0 + boost * (1.0 - Load<W>(here + i) / z->K);
      const D g2 = gx * gx + gy * gy;
      const D s = 255.0 * Load<W>(amount + i);
      const D nl = -gx * light.L.x - gy * light.L.y + light.L.z;
      const auto lit = nl > zero;
      D root = 1.0 + g2;
      SquareRoots(root);
      const D r = 2.0 * nl / (1.0 + g2) - light.L.z;
      const auto shines = lit & (r > zero);
      // Terms that do not apply are 0, which leaves the channels as they are.
      const D terms[3] = {lit ? (1.0 - ambient) * s : s, lit ? s * (1.0 - nl / root) : zero,
                          shines ? s * light.brightness * Powers<W>(r, light.exponent) : zero};
      const D alphas[3] = {terms[0] / 255.0, terms[1] / 255.0, terms[2] / 255.0};
      // How near a channel comes to rounding the other way: 0.5 at best.
      D nearest = zero;
      for (int32_t c = 0; c < kColours; ++c) {
        for (int32_t t = 0; t < 3; ++t) v[c] += ((t < 2 ? z->shadow[c] : z->highlight[c]) - v[c]) * alphas[t];
        v[c] += 0.5;
        const D off = v[c] - Floors<W>(v[c]) - 0.5;
        const D away = off < zero ? -off : off;
        nearest = nearest < away ? away : nearest;
        v[c] = ToBytes<W>(v[c]);
      }
      const int32_t n = std::min(W, count - i);
      if constexpr (N == 4) {
        StorePixels<W, N>(v, n, fresh + size_t(i) * N);
      } else {
        for (int l = 0; l < n; ++l)
          for (int32_t c = 0; c < N; ++c) fresh[size_t(i + l) * N + size_t(c)] = uint8_t(v[c][l]);
      }
      for (int l = 0; l < n; ++l)
        if (nearest[l] > 0.5 - 1e-8) {
          const int32_t j = i + l;
          uint8_t pixel[N];
          std::memcpy(pixel, warped + size_t(j) * N, N);
          if (corners[0] != nullptr) {
            const uint8_t* at[4];
            for (int32_t k = 0; k < 4; ++k) at[k] = reinterpret_cast<const uint8_t*>(corners[k] + j);
            BilinearFromCorners<N, Alpha>(at[0], at[1], at[2], at[3], fx[j], fy[j], pixel);
          }
          LightPixel<N, Alpha>(*z, pixel, Slope(above, here, below, j), Ambient(*z, here[j]), amount[j],
                               fresh + size_t(j) * N);
        }
    }
  }
};

template <int32_t N, bool Alpha>
struct ShadeKernels {
  static void Baseline(const ShadeRow& row) { row.Run<2, N, Alpha>(); }
  KV_FOR_AVX2 static void Avx2(const ShadeRow& row) { row.Run<4, N, Alpha>(); }
  KV_FOR_AVX512 static void Avx512(const ShadeRow& row) { row.Run<8, N, Alpha>(); }
};

// Warps and lights row y of `rows` (the columns of `xs`, `ys`), writing
// into `out` through the mask, or straight on a layer with transparency.
template <int32_t N, bool Alpha>
void LightRow(const CrumpleLook& z, const double* above, const double* here, const double* below, int32_t left0,
              int32_t y, const Rect& rows, const double* xs, const double* ys, ByteImage& out, const ByteMask& mask,
              CrumpleRowScratch& scratch) {
  const ByteImage& in = *z.input;
  // A picture smaller than 2 x 2 is not sampled; the pixel stays as it was.
  const bool sampled = in.Width() >= 2 && in.Height() >= 2;
  uint8_t* warped = scratch.warped.data();
  double* amount = scratch.amount.data();
  // Pixels of four bytes are warped in the vector rows, from their corners.
  const bool corners = N == 4 && z.distort && sampled;
  for (int32_t x = rows.left; x < rows.right; ++x, warped += N) {
    const int32_t i = x - rows.left;
    double X = x, Y = y;
    if (corners) {
      X = xs[i], Y = ys[i];
      const uint8_t* c[4];
      Corners<N>(in, z.background.values, X, Y, c, scratch.fx[size_t(i)], scratch.fy[size_t(i)]);
      for (int32_t k = 0; k < 4; ++k) std::memcpy(&scratch.corners[k][size_t(i)], c[k], 4);
    } else if (z.distort) {
      X = xs[i], Y = ys[i];
      if (sampled) Warped<N, Alpha>(in, z.background.values, X, Y, warped);
    } else {
      std::copy_n(in.Address(x, y), N, warped);
    }
    double l = 0.0;
    if (X >= z.area.left && X < z.area.right && Y >= z.area.top && Y < z.area.bottom) {
      l = 1.0;
      if constexpr (Alpha) {
        const int32_t u = int32_t(std::trunc(X) * z.scale), v = int32_t(std::trunc(Y) * z.scale);
        l = z.selection->bounds.Contains(u, v) ? (*z.selection)(u, v) / 255.0 : 0.0;
      }
    }
    amount[i] = l;
  }
  const int32_t j = rows.left - left0;
  ShadeRow row{&z,     above + j, here + j, below + j, scratch.warped.data(), {}, nullptr, nullptr, amount,
               rows.Width(), scratch.fresh.data()};
  if (corners) {
    for (int32_t k = 0; k < 4; ++k) row.corners[k] = scratch.corners[k].data();
    row.fx = scratch.fx.data();
    row.fy = scratch.fy.data();
  }
  switch (CurrentVectorPath()) {
    case VectorPath::kAvx512: ShadeKernels<N, Alpha>::Avx512(row); break;
    case VectorPath::kAvx2: ShadeKernels<N, Alpha>::Avx2(row); break;
    default: ShadeKernels<N, Alpha>::Baseline(row); break;
  }
  uint8_t* dst = out.Address(rows.left, y);
  if (z.transparency) std::copy_n(scratch.fresh.data(), size_t(rows.Width()) * N, dst);
  else BlendRowByMask(mask.Address(rows.left, y), dst, scratch.fresh.data(), dst, rows.Width(), out.format);
}

// CrumpleStretches, W at a time.
struct Stretches {
  const double *before, *after;
  int32_t count;
  double* out;

  template <int W>
  [[gnu::always_inline]] void Run() const {
    using D = typename Wide<W>::D;
    for (int32_t i = 0; i < count; i += W) {
      D a, b;
      std::memcpy(&a, before + i, sizeof a);
      std::memcpy(&b, after + i, sizeof b);
      const D d = 0.5 * (b - a);
      D s = d * d + 1.0;
      SquareRoots(s);
      std::memcpy(out + i, &s, sizeof s);
    }
  }
  static void Baseline(const Stretches& s) { s.Run<2>(); }
  KV_FOR_AVX2 static void Avx2(const Stretches& s) { s.Run<4>(); }
  KV_FOR_AVX512 static void Avx512(const Stretches& s) { s.Run<8>(); }
};

}  // namespace

int32_t LightCrumpleRow(const CrumpleLook& z, const double* above, const double* here, const double* below,
                        int32_t left0, int32_t y, const Rect& rows, const double* xs, const double* ys, ByteImage& out,
                        const ByteMask& mask, CrumpleRowScratch& scratch) {
  return ForPixelLayout(out.format, [&]<int32_t N, bool Alpha>() {
    LightRow<N, Alpha>(z, above, here, below, left0, y, rows, xs, ys, out, mask, scratch);
    return 0;
  }, kErrGeneral);
}

void CrumpleStretches(const double* before, const double* after, int32_t count, double* out) {
  const Stretches s{before, after, count, out};
  switch (CurrentVectorPath()) {
    case VectorPath::kAvx512: Stretches::Avx512(s); break;
    case VectorPath::kAvx2: Stretches::Avx2(s); break;
    default: Stretches::Baseline(s); break;
  }
}

void CrumpleRowPositions(const double* h, int32_t left0, int32_t cx, const Rect& rows, double* xs, double* stretch) {
  const int32_t first = std::min(rows.left, cx), last = std::max(rows.right, cx);
  CrumpleStretches(h + (first - 1 - left0), h + (first + 1 - left0), last - first, stretch);
  const double* s = stretch - first;  // by column
  double at = cx - 1.0;
  for (int32_t x = cx; x < rows.right; ++x) {
    at += s[x];
    if (x >= rows.left) xs[x - rows.left] = at;
  }
  at = cx;
  for (int32_t x = cx - 1; x >= rows.left; --x) {
    at -= s[x];
    if (x < rows.right) xs[x - rows.left] = at;
  }
}


}  // namespace kv
