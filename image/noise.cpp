#include "image/noise.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <utility>

#include "image/image.h"
#include "image/random.h"
#include "image/lanes.h"
#include "image/vector_kernels.h"

namespace kv {
namespace {

// Whether truncation to int32 is defined: far cells take the slow way.
constexpr double kNear = 2147483648.0;
inline bool Near(double v) { return v > -kNear && v < kNear; }

inline double Floor(double v) {
  if (!Near(v)) return std::isfinite(v) ? std::floor(v) : 0.0;
  const double t = double(int32_t(v));
  return v < t ? t - 1.0 : t;
}

// The quintic fade 6t^5 - 15t^4 + 10t^3.
template <class T>
[[gnu::always_inline]] inline T Fade(T t) {
  return t * t * t * (t * (t * 6.0 - 15.0) + 10.0);
}

// The corners (X, y0) and (X, y1) of lattice column X blended in y. Corner
// contributions g0 / 2 + g1 dx + g2 dy are linear in the offset dx, so the
// column is a line: a + b dx seen from the cell to its right, am + b fx (am =
// a - b) from the cell to its left, and a row needs each column only once.
template <class T>
struct ColumnOf {
  T a, b, am;
};
using Column = ColumnOf<double>;
// g0 and g1 are the gradients (three entries each) of the corners (X, y0) and (X, y1).
// G is T, or double for gradients that every lane shares.
template <class T, class G>
[[gnu::always_inline]] inline ColumnOf<T> MakeColumn(const G* g0, const G* g1, T fy, T sy) {
  const T a = (1.0 - sy) * (g0[0] * 0.5 + g0[2] * fy) + sy * (g1[0] * 0.5 + g1[2] * (fy - 1.0));
  const T b = (1.0 - sy) * g0[1] + sy * g1[1];
  return {a, b, a - b};
}
// The noise inside a cell from its left column's line (a0, b0) and its right
// column's line (am1, b1) at the fraction fx.
template <class T>
[[gnu::always_inline]] inline T Interpolate(T a0, T b0, T am1, T b1, T fx) {
  const T v0 = a0 + b0 * fx, v1 = am1 + b1 * fx;
  return v0 + Fade(fx) * (v1 - v0);
}

// The y side of a lattice row: the two corner rows reduced to the period,
// the fraction and its fade.
struct LatticeRow {
  int32_t y0, y1;
  double fy, sy;
};
inline LatticeRow MakeRow(const NoiseField& f, double qy, int32_t periodY) {
  const double fl = Floor(qy);
  const int32_t y0 = NewField::Cell(fl);
  LatticeRow r{y0, NewField::Step(y0, 1), qy - fl, Fade(qy - fl)};
  if (f.periodic) {
    r.y0 = NewField::Wrap(r.y0, periodY);
    r.y1 = NewField::Wrap(r.y1, periodY);
  }
  return r;
}
inline Column ColumnAt(const NoiseField& f, const LatticeRow& r, int32_t x, int32_t periodX) {
  if (f.periodic) x = NewField::Wrap(x, periodX);
  const double* g = f.gradientValues.data();
  return MakeColumn(g + f.Hash(x, r.y0), g + f.Hash(x, r.y1), r.fy, r.sy);
}

struct CornerGradients {
  const double *g00, *g01, *g10, *g11;  // (x0, y0), (x0, y1), (x1, y0), (x1, y1)
};
inline CornerGradients CornersOf(const NoiseField& f, int32_t x0, int32_t y0, LatticePeriod period) {
  int32_t x1 = NewField::Step(x0, 1), y1 = NewField::Step(y0, 1);
  if (f.periodic) {
    x0 = NewField::Wrap(x0, period.x), x1 = NewField::Wrap(x1, period.x);
    y0 = NewField::Wrap(y0, period.y), y1 = NewField::Wrap(y1, period.y);
  }
  const double* g = f.gradientValues.data();
  return {g + f.Hash(x0, y0), g + f.Hash(x0, y1), g + f.Hash(x1, y0), g + f.Hash(x1, y1)};
}
// Raw noise at W lattice points at once, each with its own cell: the
// per-sample Noise lane by lane. W is 2 on the baseline, more on the wider
// vector paths.
template <int W>
[[gnu::always_inline]] inline typename Wide<W>::D FloorWide(typename Wide<W>::D v, bool near,
                                                            typename Wide<W>::I& cells) {
  using D = typename Wide<W>::D;
  if (!near) {
    D fl;
    for (int l = 0; l < W; ++l) {
      fl[l] = Floor(v[l]);
      cells[l] = NewField::Cell(fl[l]);
    }
    return fl;
  }
  const D fl = Floors<W>(v);
  cells = __builtin_convertvector(fl, typename Wide<W>::I);
  return fl;
}

// The gradients of the last cell that all lanes of a group shared: points
// that lie close together, as displaced rows do, fall in one cell group after
// group.
struct SharedCell {
  int32_t x = 0, y = 0;
  bool valid = false;
  CornerGradients g{};
};

template <int W>
[[gnu::always_inline]] inline typename Wide<W>::D NoiseWide(const NoiseField& f, typename Wide<W>::D qx,
                                                            typename Wide<W>::D qy, bool near, LatticePeriod period,
                                                            SharedCell& shared) {
  using D = typename Wide<W>::D;
  using I = typename Wide<W>::I;
  I cx, cy;
  const D flx = FloorWide<W>(qx, near, cx), fly = FloorWide<W>(qy, near, cy), fx = qx - flx, fy = qy - fly,
          sy = Fade(fy);
  const I firstX = cx[0] + I{}, firstY = cy[0] + I{};
  if (std::memcmp(&cx, &firstX, sizeof cx) == 0 && std::memcmp(&cy, &firstY, sizeof cy) == 0) {
    if (!shared.valid || shared.x != cx[0] || shared.y != cy[0]) {
      shared.g = CornersOf(f, cx[0], cy[0], period);
      shared.x = cx[0];
      shared.y = cy[0];
      shared.valid = true;
    }
    const CornerGradients& g = shared.g;
    const ColumnOf<D> c0 = MakeColumn(g.g00, g.g01, fy, sy), c1 = MakeColumn(g.g10, g.g11, fy, sy);
    return Interpolate(c0.a, c0.b, c1.am, c1.b, fx);
  }
  D g[4][3];
  for (int l = 0; l < W; ++l) {
    const CornerGradients c = CornersOf(f, cx[l], cy[l], period);
    const double* corners[4] = {c.g00, c.g01, c.g10, c.g11};
    for (int n = 0; n < 4; ++n)
      for (int k = 0; k < 3; ++k) g[n][k][l] = corners[n][k];
  }
  const ColumnOf<D> c0 = MakeColumn(g[0], g[1], fy, sy), c1 = MakeColumn(g[2], g[3], fy, sy);
  return Interpolate(c0.a, c0.b, c1.am, c1.b, fx);
}

// The points (xs[i], ys[i]) times the frequency, W at a time into qx and qy
// from `first`; the last group is filled up with the last point. Returns
// whether every octave's cells of the group are near: a 64th of the range
// leaves room for the doublings and the octave offsets.
template <int W>
[[gnu::always_inline]] inline bool PointGroup(PointD frequency, const double* xs, const double* ys, int32_t first,
                                              int32_t count, typename Wide<W>::D& qx, typename Wide<W>::D& qy) {
  using D = typename Wide<W>::D;
  if (first + W <= count) {
    std::memcpy(&qx, xs + first, sizeof qx);
    std::memcpy(&qy, ys + first, sizeof qy);
  } else {
    for (int l = 0; l < W; ++l) {
      const int32_t j = std::min(first + l, count - 1);
      qx[l] = xs[j], qy[l] = ys[j];
    }
  }
  qx *= frequency.x;
  qy *= frequency.y;
  constexpr double kRange = kNear / 64.0;
  const D far = qx > -kRange ? (qx < kRange ? (qy > -kRange ? (qy < kRange ? Splat<W>(0.0) : Splat<W>(1.0))
                                                            : Splat<W>(1.0))
                                             : Splat<W>(1.0))
                              : Splat<W>(1.0);
  double farLanes = 0.0;
  for (int l = 0; l < W; ++l) farLanes += far[l];
  return farLanes == 0.0;
}

// The octave sums at points, W at a time, compiled for each vector path.
// Wide vectors never pass by value between functions that are not inlined:
// their calling convention differs between the paths.
struct PointSums {
  template <int W>
  [[gnu::always_inline]] static inline void Run(const FBMField& f, const double* xs, const double* ys, int32_t count,
                                                int32_t octaves, bool absolute, double* out) {
    using D = typename Wide<W>::D;
    SharedCell shared[5];
    for (int32_t i = 0; i < count; i += W) {
      D qx, qy, sum = {};
      const bool near = PointGroup<W>(f.frequency, xs, ys, i, count, qx, qy);
      LatticePeriod period = f.cellPeriod;
      for (int32_t k = 0; k < octaves; ++k) {
        D n = NoiseWide<W>(f, qx + kOctaveOffsets[k].x, qy + kOctaveOffsets[k].y, near, period, shared[k]);
        if (absolute)
          for (int l = 0; l < W; ++l) n[l] = std::fabs(n[l]);
        sum += f.octaveWeight[k] * n;
        qx *= 2.0;
        qy *= 2.0;
        period = {period.x * 2, period.y * 2};
      }
      for (int l = 0; l < W && i + l < count; ++l) out[i + l] = sum[l];
    }
  }
  static void Baseline(const FBMField& f, const double* xs, const double* ys, int32_t count, int32_t octaves,
                       bool absolute, double* out) {
    Run<2>(f, xs, ys, count, octaves, absolute, out);
  }
  KV_FOR_AVX2 static void Avx2(const FBMField& f, const double* xs, const double* ys, int32_t count, int32_t octaves,
                               bool absolute, double* out) {
    Run<4>(f, xs, ys, count, octaves, absolute, out);
  }
  // Four lanes here too: groups of eight share a cell less often, and took
  // longer than groups of four.
  KV_FOR_AVX512 static void Avx512(const FBMField& f, const double* xs, const double* ys, int32_t count,
                                   int32_t octaves, bool absolute, double* out) {
    Run<4>(f, xs, ys, count, octaves, absolute, out);
  }
};

// Rows are walked in chunks that fit on the stack, with a table of the
// lattice columns a chunk spans unless there are many more columns than
// samples. Chunks are processed in groups of up to kGroup samples: a short
// chunk is padded with samples further along its ramp.
constexpr int32_t kChunk = 512;
constexpr int32_t kGroup = 8;
constexpr int32_t kMaxColumns = 2 * kChunk + 2;

inline int32_t Padded(int32_t n) { return (n + kGroup - 1) & ~(kGroup - 1); }

// f(qx, n, out + first) for each chunk of at most kChunk samples, with
// qx[i] = (x0 + (first + i) * step + shift) * frequency for i < Padded(n).
template <class F>
void ForChunks(double x0, double step, int32_t count, double shift, double frequency, double* out, F&& f) {
  alignas(64) double qx[kChunk];
  for (int32_t first = 0; first < count; first += kChunk) {
    const int32_t n = std::min(kChunk, count - first);
    for (int32_t i = 0; i < Padded(n); ++i) qx[i] = (x0 + double(first + i) * step + shift) * frequency;
    f(qx, n, out + first);
  }
}

// One octave of raw noise along a chunk: noise[i] is the noise at
// (qx[i] * scale + offsetX, qy) for i < Padded(count), W samples at a time.
// Neighbouring samples mostly share a cell, and then the group reads its two
// columns once.
template <int W>
[[gnu::always_inline]] inline void OctaveNoise(const NoiseField& f, const double* qx, int32_t count, double scale,
                                               double offsetX, double qy, LatticePeriod period, double* noise) {
  using D = typename Wide<W>::D;
  using I = typename Wide<W>::I;
  const LatticeRow row = MakeRow(f, qy, period.y);
  const int32_t padded = Padded(count);
  // The samples are monotonic, so the ends bound the chunk's cells; the
  // table's index needs them all near.
  const double first = qx[0] * scale + offsetX, last = qx[padded - 1] * scale + offsetX;
  const double lo = Floor(std::min(first, last)), hi = Floor(std::max(first, last));
  if (!(lo > -kNear + 2.0 && hi < kNear - 2.0) || hi - lo + 2.0 > 2.0 * padded + 2.0) {
    for (int32_t i = 0; i < padded; ++i) {
      const double q = qx[i] * scale + offsetX, fl = Floor(q);
      const int32_t x = NewField::Cell(fl);
      const Column c0 = ColumnAt(f, row, x, period.x), c1 = ColumnAt(f, row, NewField::Step(x, 1), period.x);
      noise[i] = Interpolate(c0.a, c0.b, c1.am, c1.b, q - fl);
    }
    return;
  }
  Column columns[kMaxColumns];
  const int32_t left = int32_t(lo), right = int32_t(hi);
  for (int32_t x = left; x <= right + 1; ++x) columns[x - left] = ColumnAt(f, row, x, period.x);
  for (int32_t i = 0; i < padded; i += W) {
    D q;
    std::memcpy(&q, qx + i, sizeof q);
    q = q * scale + offsetX;
    const D fl = Floors<W>(q), fx = q - fl;
    const I at = __builtin_convertvector(fl, I) - left;
    D a0, b0, am1, b1;
    if (at[0] == at[W - 1]) {  // the cells are monotonic along a row
      const Column* c = columns + at[0];
      a0 = Splat<W>(c[0].a), b0 = Splat<W>(c[0].b), am1 = Splat<W>(c[1].am), b1 = Splat<W>(c[1].b);
    } else {
      for (int l = 0; l < W; ++l) {
        const Column* c = columns + at[l];
        a0[l] = c[0].a, b0[l] = c[0].b, am1[l] = c[1].am, b1[l] = c[1].b;
      }
    }
    const D v = Interpolate(a0, b0, am1, b1, fx);
    std::memcpy(noise + i, &v, sizeof v);
  }
}

// A chunk of a row form: the plain noise (no weights), or the octave sum by
// `weights` of the noise or of its magnitude, lowered by `subtract`; clamped
// to the amplitude into out[0, count). Compiled for each vector path.
struct RowSums {
  struct Chunk {
    const NoiseField& f;
    const double* qx;
    int32_t count;
    double qy;
    const double* weights;
    int32_t octaves;
    bool absolute;
    double subtract;
    double* out;
  };

  template <int W>
  [[gnu::always_inline]] static inline void Run(const Chunk& c) {
    using D = typename Wide<W>::D;
    using U = typename Wide<W>::M;
    alignas(64) double noise[kChunk], sum[kChunk];
    const int32_t padded = Padded(c.count);
    if (c.octaves == 0) std::fill_n(sum, padded, 0.0);
    double scale = 1.0;
    LatticePeriod period = c.f.cellPeriod;
    for (int32_t k = 0; k < c.octaves; ++k) {
      const double qy = c.weights ? c.qy * scale + kOctaveOffsets[k].y : c.qy;
      OctaveNoise<W>(c.f, c.qx, c.count, scale, kOctaveOffsets[k].x, qy, period, c.weights ? noise : sum);
      if (c.weights) {
        const double w = c.weights[k];
        for (int32_t i = 0; i < padded; i += W) {
          D n, s = {};
          std::memcpy(&n, noise + i, sizeof n);
          if (c.absolute) n = D(U(n) & (U{} + INT64_MAX));
          if (k > 0) std::memcpy(&s, sum + i, sizeof s);
          s += w * n;
          std::memcpy(sum + i, &s, sizeof s);
        }
      }
      scale *= 2.0;
      period = {period.x * 2, period.y * 2};
    }
    const double a = c.f.amplitude;
    for (int32_t i = 0; i < padded; i += W) {
      D v;
      std::memcpy(&v, sum + i, sizeof v);
      v -= c.subtract;
      v = v < -a ? Splat<W>(-a) : (v > a ? Splat<W>(a) : v);
      std::memcpy(sum + i, &v, sizeof v);
    }
    std::memcpy(c.out, sum, sizeof(double) * size_t(c.count));
  }
  static void Baseline(const Chunk& c) { Run<2>(c); }
  KV_FOR_AVX2 static void Avx2(const Chunk& c) { Run<4>(c); }
  KV_FOR_AVX512 static void Avx512(const Chunk& c) { Run<8>(c); }
  static void Dispatch(const Chunk& c) {
    switch (CurrentVectorPath()) {
      case VectorPath::kAvx512: return Avx512(c);
      case VectorPath::kAvx2: return Avx2(c);
      default: return Baseline(c);
    }
  }
};

}  // namespace

void NewField::InitLattice(int seed, bool periodic_, int periodX_, int periodY_, int gradientCount_) {
  periodic = periodic_;
  periodX = periodX_;
  periodY = periodY_;
  gradientCount = gradientCount_;
  RandomNumberGenerator rng(seed);
  for (int32_t i = 0; i < kTableSize; ++i) {
    permutation[i] = i;
    gradientIndex[i] = i % gradientCount;
  }
  for (int32_t i = 0; i < kTableSize; ++i) {
    const int32_t j = rng.Below(kTableSize);
    std::swap(permutation[i], permutation[j]);
    std::swap(gradientIndex[i], gradientIndex[j]);
  }
  ready = true;
}

void NoiseField::Init(int32_t& err, PointD cellSize_, double amplitude_, int seed, double scale, bool periodic_,
                      int periodX_, int periodY_) {
  InitLattice(seed, periodic_, periodX_, periodY_, 256);
  const int32_t valueCount = gradientCount + 2;
  try {
    gradientValues.assign(size_t(valueCount), 0.0);
  } catch (const std::bad_alloc&) {
    gradientValues = {};
    ready = false;
    err = kErrOutOfMemory;
    return;
  }
  amplitude = amplitude_;
  for (int32_t i = 0; i < valueCount; ++i)
    gradientValues[size_t(i)] = 1.2 * (-amplitude + 2.0 * amplitude * i / double(valueCount - 1));
  RandomNumberGenerator rng(seed);
  for (int32_t i = 0; i < valueCount; ++i)
    std::swap(gradientValues[size_t(i)], gradientValues[size_t(rng.Below(valueCount))]);

  // A periodic field fits a whole number of cells into its period.
  cellSize = cellSize_;
  cellPeriod = {};
  if (periodic) {
    cellPeriod.x = std::max(1, int32_t(std::floor(periodX / cellSize.x + 0.5)));
    cellPeriod.y = std::max(1, int32_t(std::floor(periodY / cellSize.y + 0.5)));
    cellSize = {double(periodX) / cellPeriod.x, double(periodY) / cellPeriod.y};
  }
  cellSize = {cellSize.x / scale, cellSize.y / scale};
  frequency = {1.0 / cellSize.x, 1.0 / cellSize.y};
  err = 0;
}

double NoiseField::Noise(PointD q, LatticePeriod period) const {
  const LatticeRow row = MakeRow(*this, q.y, period.y);
  const double fl = Floor(q.x);
  const int32_t x0 = Cell(fl);
  const Column c0 = ColumnAt(*this, row, x0, period.x), c1 = ColumnAt(*this, row, Step(x0, 1), period.x);
  return Interpolate(c0.a, c0.b, c1.am, c1.b, q.x - fl);
}

double NoiseField::Value(PointD p) const { return Clamp(Noise({p.x * frequency.x, p.y * frequency.y}, cellPeriod)); }

void NoiseField::Row(double y, double x0, double step, int32_t count, double shift, double* out) const {
  const double qy = (y + shift) * frequency.y;
  ForChunks(x0, step, count, shift, frequency.x, out, [&](const double* qx, int32_t n, double* dst) {
    RowSums::Dispatch({*this, qx, n, qy, nullptr, 1, false, 0.0, dst});
  });
}

void NoiseField::Points(const double* xs, const double* ys, int32_t count, double* out) const {
  SharedCell shared;
  for (int32_t i = 0; i < count; i += 2) {
    Wide<2>::D qx, qy;
    const bool near = PointGroup<2>(frequency, xs, ys, i, count, qx, qy);
    const Wide<2>::D n = NoiseWide<2>(*this, qx, qy, near, cellPeriod, shared);
    for (int l = 0; l < 2 && i + l < count; ++l) out[i + l] = Clamp(n[l]);
  }
}

void FBMField::Init(int32_t& err, PointD cellSize_, double amplitude_, int seed, double roughness_, double scale,
                    bool periodic_, int periodX_, int periodY_) {
  NoiseField::Init(err, cellSize_, amplitude_, seed, scale, periodic_, periodX_, periodY_);
  if (err != 0) return;
  roughness = roughness_;
  double raw[5], total = 0.0, w = 1.0;
  for (double& r : raw) {
    r = w;
    total += w;
    w *= roughness;
  }
  // Octaves too faint to matter are dropped; the rest share the full weight.
  octaveCount = 5;
  for (int32_t i = 0; i < 5; ++i) {
    if (raw[i] / total < 0.03) {
      octaveCount = i;
      break;
    }
  }
  double kept = 0.0;
  for (int32_t i = 0; i < octaveCount; ++i) kept += raw[i] / total;
  for (int32_t i = 0; i < 5; ++i) octaveWeight[i] = i < octaveCount ? raw[i] / total / kept * 1.33 : 0.0;
}

double FBMField::Sum(PointD p, bool absolute) const {
  PointD q{p.x * frequency.x, p.y * frequency.y};
  LatticePeriod period = cellPeriod;
  double sum = 0.0;
  for (int32_t i = 0; i < octaveCount; ++i) {
    const double n = Noise({q.x + kOctaveOffsets[i].x, q.y + kOctaveOffsets[i].y}, period);
    sum += octaveWeight[i] * (absolute ? std::fabs(n) : n);
    q = {q.x * 2.0, q.y * 2.0};
    period = {period.x * 2, period.y * 2};
  }
  return sum;
}

void FBMField::SumRow(double y, double x0, double step, int32_t count, double shift, bool absolute, double subtract,
                      double* out) const {
  const double qy = (y + shift) * frequency.y;
  ForChunks(x0, step, count, shift, frequency.x, out, [&](const double* qx, int32_t n, double* dst) {
    RowSums::Dispatch({*this, qx, n, qy, octaveWeight, octaveCount, absolute, subtract, dst});
  });
}

void FBMField::SumPoints(const double* xs, const double* ys, int32_t count, bool absolute, double subtract,
                         double* out) const {
  switch (CurrentVectorPath()) {
    case VectorPath::kAvx512: PointSums::Avx512(*this, xs, ys, count, octaveCount, absolute, out); break;
    case VectorPath::kAvx2: PointSums::Avx2(*this, xs, ys, count, octaveCount, absolute, out); break;
    default: PointSums::Baseline(*this, xs, ys, count, octaveCount, absolute, out); break;
  }
  for (int32_t i = 0; i < count; ++i) out[i] = Clamp(out[i] - subtract);
}

void TurbulenceField::Init(int32_t& err, PointD cellSize_, double amplitude_, int seed, double roughness_, double scale,
                           bool periodic_, int periodX_, int periodY_) {
  FBMField::Init(err, cellSize_, amplitude_, seed, roughness_, scale, periodic_, periodX_, periodY_);
  if (err != 0) return;
  for (int32_t i = 0; i < octaveCount; ++i) octaveWeight[i] *= 1.13;
  turbulenceOffset = 0.03 * amplitude;
}

}  // namespace kv
