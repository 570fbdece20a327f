#include "image/noise_cells.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "image/image.h"
#include "image/lanes.h"
#include "image/random.h"
#include "image/vector_kernels.h"

namespace kv {
namespace {

// Cumulative probabilities of 1..9 points: a Poisson law of mean 3 with the
// counts 0 and 1 merged and the tail cut at 9.
constexpr double kCumulativeCount[10] = {0.0,
                                         0.19914827347146,
                                         0.42319008112684,
                                         0.64723188878223,
                                         0.81526324452377,
                                         0.9160820579687,
                                         0.96649146469116,
                                         0.98809549614364,
                                         0.99619700793832,
                                         1.0};

// Distances start far beyond any cell of the 3 x 3 neighbourhood.
constexpr double kFar = 100000.0;
// The longest run of samples a row form prunes the points for at once.
constexpr int32_t kRun = 16;

using CellPoints = CellField::PointCache::Cell;

// Where p falls at one octave: its cell and its position inside the cell.
struct CellPosition {
  int32_t cx, cy;
  double fx, fy;
};
// The cell of q and q's place in it. Where the cell fits 32 bits, truncation
// stepped down below zero is the floor, and cheaper than std::floor on
// baseline x86-64; far out the lattice's own cut applies.
inline void Split(double q, int32_t& cell, double& fraction) {
  if (std::fabs(q) < 2147483647.0) {
    cell = int32_t(q);
    cell -= double(cell) > q ? 1 : 0;
    fraction = q - double(cell);
  } else {
    const double floored = std::floor(q);
    cell = NewField::Cell(floored);
    fraction = q - floored;
  }
}
inline CellPosition Locate(const CellField& f, PointD p, int32_t octave) {
  const double qx = p.x / f.cellSize.x * f.octaveGrow[octave], qy = p.y / f.cellSize.y * f.octaveGrow[octave];
  CellPosition at;
  Split(qx, at.cx, at.fx);
  Split(qy, at.cy, at.fy);
  return at;
}

// Keeps the two smallest distances seen, without branching on them.
inline void Keep(double d, double& first, double& second) {
  second = std::min(second, std::max(first, d));
  first = std::min(first, d);
}

// The two smallest squared distances from a position to the points of its
// cell and the neighbours that can hold nearer points; points(dx, dy) gives
// the points of the neighbour at that offset.
template <class Points>
void Nearest(const CellPosition& at, Points&& points, double& nearest, double& secondNearest) {
  // Locals, so that the running pair stays in registers.
  double first = kFar, second = kFar;
  // The home cell first, so that its pair lets most neighbours be skipped.
  static constexpr int32_t kOrder[9][2] = {{0, 0}, {-1, 0}, {1, 0}, {0, -1}, {0, 1}, {-1, -1}, {1, -1}, {-1, 1}, {1, 1}};
  for (const auto& [dx, dy] : kOrder) {
    // No point of a neighbour lies nearer than the shared edge or corner.
    const double ex = dx < 0 ? at.fx : (dx > 0 ? 1.0 - at.fx : 0.0);
    const double ey = dy < 0 ? at.fy : (dy > 0 ? 1.0 - at.fy : 0.0);
    if (ex * ex + ey * ey >= second) continue;
    const double ox = at.fx - dx, oy = at.fy - dy;
    const CellPoints& cell = points(dx, dy);
    for (int32_t i = 0; i < cell.count; ++i) {
      const double ux = ox - cell.points[i].x, uy = oy - cell.points[i].y;
      Keep(ux * ux + uy * uy, first, second);
    }
  }
  nearest = first;
  secondNearest = second;
}

// The octaves combined; nearest(p, octave, f1, f2) evaluates one octave.
template <class Near>
void Combine(const CellField& f, PointD p, Near&& nearest, double& first, double& second) {
  double f1, f2;
  nearest(PointD{p.x + kOctaveOffsets[0].x, p.y + kOctaveOffsets[0].y}, 0, f1, f2);
  double acc1 = f1 + f.bias, acc2 = f2 + f.bias;
  for (int32_t i = 1; i < f.octaveCount; ++i) {
    p = {p.x * f.lacunarity, p.y * f.lacunarity};
    nearest(PointD{p.x + kOctaveOffsets[i].x, p.y + kOctaveOffsets[i].y}, i, f1, f2);
    acc1 *= 1.0 + f.octaveWeight[i] * (f1 + f.bias);
    acc2 *= 1.0 + f.octaveWeight[i] * (f2 + f.bias);
  }
  first = acc1 / f.weightSum;
  second = acc2 / f.weightSum;
}

}  // namespace

void CellField::Init(int32_t& err, PointD cellSize_, int seed, int octaves, bool periodic_, int periodX_,
                     int periodY_) {
  if (octaves < 1 || octaves > kMaxOctaves) {
    err = kErrGeneral;
    return;
  }
  periodic = periodic_;
  periodX = periodX_;
  periodY = periodY_;
  cellSize = cellSize_;
  cellPeriod = {};
  if (periodic) {
    cellPeriod.x = std::max(2, int32_t(std::floor(periodX / cellSize.x + 0.5)));
    cellPeriod.y = std::max(2, int32_t(std::floor(periodY / cellSize.y + 0.5)));
    cellSize = {double(periodX) / cellPeriod.x, double(periodY) / cellPeriod.y};
  }
  lattice.InitLattice(seed, false, 0, 0, 256);
  // A lacunarity of 2 keeps every octave's cells whole within the period.
  octaveCount = octaves;
  lacunarity = periodic ? 2.0 : 1.5;
  weightSum = 0.0;
  double grow = 1.0;
  for (int32_t i = 0; i < octaves; ++i) {
    octaveWeight[i] = 1.0 / (grow * grow);
    weightSum += octaveWeight[i];
    octaveGrow[i] = grow;
    octavePeriod[i] = {int32_t(cellPeriod.x * grow), int32_t(cellPeriod.y * grow)};
    grow *= lacunarity;
  }
  err = 0;
}

int32_t CellField::PointCount(double u) {
  int32_t k = 3;
  while (k > 1 && u < kCumulativeCount[k - 1]) --k;
  while (k < kMaxPoints && u > kCumulativeCount[k]) ++k;
  return k;
}

int32_t CellField::FeaturePoints(int32_t cx, int32_t cy, int32_t octave, PointD* points) const {
  if (periodic) {
    cx = NewField::Wrap(cx, octavePeriod[octave].x);
    cy = NewField::Wrap(cy, octavePeriod[octave].y);
  }
  RandomNumberGenerator rng(lattice.Hash(cx, cy));
  const int32_t count = PointCount(rng.Unit());
  for (int32_t i = 0; i < count; ++i) {
    points[i].x = rng.Uniform(0.0, 1.0);
    points[i].y = rng.Uniform(0.0, 1.0);
  }
  return count;
}

void CellField::Value(PointD p, double& first, double& second) const {
  CellPoints scratch;
  Combine(*this, p, [&](PointD q, int32_t octave, double& f1, double& f2) {
    const CellPosition at = Locate(*this, q, octave);
    Nearest(at, [&](int32_t dx, int32_t dy) -> const CellPoints& {
      scratch.count = FeaturePoints(NewField::Step(at.cx, dx), NewField::Step(at.cy, dy), octave, scratch.points);
      return scratch;
    }, f1, f2);
  }, first, second);
}

const CellField::PointCache::Cell& CellField::PointCache::Get(const CellField& f, int32_t cx, int32_t cy,
                                                             int32_t octave) {
  if (cells_[octave].empty()) Reserve(octave, 1);
  Cell& c = cells_[octave][size_t((uint32_t(cx) & columnMask_[octave]) * 4 + (uint32_t(cy) & 3))];
  if (c.count == 0 || c.cx != cx || c.cy != cy) {
    c.count = f.FeaturePoints(cx, cy, octave, c.points);
    c.cx = cx;
    c.cy = cy;
  }
  return c;
}

void CellField::PointCache::Reserve(int32_t octave, int32_t columns) {
  // A row and its neighbours span three rows of cells; a fourth is the next.
  // Wider rows than the bound only miss more often.
  uint32_t width = 8;
  while (width < uint32_t(std::clamp(columns, 1, 1 << 14))) width *= 2;
  if (cells_[octave].size() >= size_t(width) * 4) return;
  cells_[octave].assign(size_t(width) * 4, Cell{});
  columnMask_[octave] = width - 1;
}

namespace {

using RowD = Wide<8>::D;  // room for the widest path's loads past an array's end

// One row at one octave: where each sample falls, W samples to a vector,
// with Locate's arithmetic in Locate's order.
template <int W>
[[gnu::always_inline]] inline void Positions(const CellField& f, double x0, double step, int32_t count, int32_t octave,
                                             double* fx, int32_t* cellX) {
  using D = typename Wide<W>::D;
  using I = typename Wide<W>::I;
  // The positions run one way along the row: its ends bound them all.
  bool near = true;
  for (const int32_t i : {0, count - 1}) {
    double x = x0 + double(i) * step;
    for (int32_t k = 1; k <= octave; ++k) x *= f.lacunarity;
    near = near && std::fabs((x + kOctaveOffsets[octave].x) / f.cellSize.x * f.octaveGrow[octave]) < 2147483647.0;
  }
  for (int32_t i = 0; i < count; i += W) {
    D x = {};
    for (int l = 0; l < W; ++l) x[l] = double(i + l);
    x = x0 + x * step;
    for (int32_t k = 1; k <= octave; ++k) x *= f.lacunarity;
    const D q = (x + kOctaveOffsets[octave].x) / f.cellSize.x * f.octaveGrow[octave];
    if (near) {
      const D cell = Floors<W>(q);
      const D fraction = q - cell;
      const I c = __builtin_convertvector(cell, I);
      std::memcpy(fx + i, &fraction, sizeof fraction);
      std::memcpy(cellX + i, &c, sizeof c);
    } else {
      for (int l = 0; l < W; ++l) Split(q[l], cellX[i + l], fx[i + l]);
    }
  }
}

// The candidates of one row at one octave, by table column: each column is
// a lattice column with the feature points of its cells in the rows above,
// at and below the row's, as each point's x in its cell and its squared
// distance from the row in y. A run of samples in one home cell meets the
// three columns from `column` on.
struct RowTable {
  struct Run {
    int32_t from, to, column;
  };
  std::vector<Run> runs;
  std::vector<int32_t> start;  // each column's first candidate, and the end
  std::unique_ptr<double[]> px, uy2;
};

void BuildTable(const CellField& f, CellField::PointCache& cache, int32_t octave, int32_t cy, double fy,
                const int32_t* cellX, int32_t count, RowTable& t) {
  t.runs.clear();
  t.start.clear();
  // A run of a new home cell adds at most three columns of 27 points.
  int64_t homes = 1;
  for (int32_t i = 1; i < count; ++i) homes += cellX[i] != cellX[i - 1] ? 1 : 0;
  const size_t room = size_t(3 * homes) * 3 * CellField::kMaxPoints + sizeof(RowD) / sizeof(double);
  t.px.reset(new double[room]);
  t.uy2.reset(new double[room]);
  double* px = t.px.get();
  double* uy2 = t.uy2.get();
  int32_t used = 0;
  int32_t last = 0;  // the lattice column the table ends with
  for (int32_t from = 0; from < count;) {
    const int32_t home = cellX[from];
    int32_t to = from + 1;
    // Short runs keep the pruning's bound tight.
    while (to < count && to - from < kRun && cellX[to] == home) ++to;
    // The table ends with the previous run's three columns: add what the
    // run's three lack.
    const int32_t gap = int32_t(uint32_t(home) - uint32_t(last));
    const int32_t add = t.start.empty() || gap < -1 || gap > 1 ? 3 : gap + 1;
    for (int32_t a = 2 - add; a <= 1; ++a) {
      last = NewField::Step(home, a);
      t.start.push_back(used);
      for (int32_t dy = -1; dy <= 1; ++dy) {
        const CellPoints& cell = cache.Get(f, last, NewField::Step(cy, dy), octave);
        const double oy = fy - dy;
        for (int32_t k = 0; k < cell.count; ++k, ++used) {
          const double uy = oy - cell.points[k].y;
          px[used] = cell.points[k].x;
          uy2[used] = uy * uy;
        }
      }
    }
    t.runs.push_back({from, to, int32_t(t.start.size()) - 3});
    from = to;
  }
  t.start.push_back(used);
  // Whole vectors are read past the last candidate.
  std::fill_n(px + used, sizeof(RowD) / sizeof(double), 0.0);
  std::fill_n(uy2 + used, sizeof(RowD) / sizeof(double), 0.0);
}

#if defined(KV_VECTOR_PATHS)
// The candidates whose nearest distance is within the bound, packed eight
// at a time; whole vectors are written, up to seven values past the last.
KV_FOR_AVX512 inline int32_t KeepWithin(const double* px, const double* uy2, const double* nearest, int32_t count,
                                        double bound, double dx, double* keptX, double* keptDx, double* keptY2) {
  int32_t kept = 0;
  const __m512d limit = _mm512_set1_pd(bound), shift = _mm512_set1_pd(dx);
  for (int32_t b = 0; b < count; b += 8) {
    __mmask8 m = _mm512_cmp_pd_mask(_mm512_loadu_pd(nearest + b), limit, _CMP_LE_OQ);
    if (count - b < 8) m = __mmask8(m & ((1u << (count - b)) - 1));
    // Packed in registers: packing straight to memory is slow on some
    // processors.
    _mm512_storeu_pd(keptX + kept, _mm512_maskz_compress_pd(m, _mm512_loadu_pd(px + b)));
    _mm512_storeu_pd(keptY2 + kept, _mm512_maskz_compress_pd(m, _mm512_loadu_pd(uy2 + b)));
    _mm512_storeu_pd(keptDx + kept, shift);
    kept += __builtin_popcount(m);
  }
  return kept;
}
#endif

// The two nearest points of each sample: per run, the points that can be
// nearest or second nearest somewhere along it, then those points' exact
// distances (as Nearest computes them), W samples to a vector.
template <int W>
[[gnu::always_inline]] inline void NearestInRuns(const RowTable& t, const double* fx, double* f1, double* f2) {
  using D = typename Wide<W>::D;
  D lane = {};
  for (int l = 0; l < W; ++l) lane[l] = l;
  constexpr int32_t kMost = 3 * 3 * CellField::kMaxPoints;
  double nearest[kMost + W];
  double keptX[kMost + W], keptDx[kMost + W], keptY2[kMost + W];
  for (const RowTable::Run& run : t.runs) {
    const double lo = std::min(fx[run.from], fx[run.to - 1]), hi = std::max(fx[run.from], fx[run.to - 1]);
    // Each point's nearest and farthest squared distance over the run; the
    // second smallest farthest bounds what the samples keep.
    D first = D{} + kFar, second = first;
    const int32_t base = t.start[size_t(run.column)];
    for (int32_t c = 0; c < 3; ++c) {
      const double dx = c - 1;
      const int32_t end = t.start[size_t(run.column + c + 1)];
      for (int32_t b = t.start[size_t(run.column + c)]; b < end; b += W) {
        const D px = Load<W>(t.px.get() + b), uy2 = Load<W>(t.uy2.get() + b);
        const D a = (lo - dx) - px, z = (hi - dx) - px, zero = {};
        const D inside = a > zero ? a : (z < zero ? z : zero), far = -a < z ? z : -a;
        D farthest = uy2 + far * far;
        farthest = lane + double(b) < double(end) ? farthest : D{} + kFar;
        const D larger = first < farthest ? farthest : first;
        second = larger < second ? larger : second;
        first = farthest < first ? farthest : first;
        const D near = uy2 + inside * inside;
        std::memcpy(nearest + (b - base), &near, sizeof near);
      }
    }
    double best = kFar, bound = kFar;
    for (int l = 0; l < W; ++l) Keep(first[l], best, bound), Keep(second[l], best, bound);
    // A margin for rounding: keeping a point too many changes nothing.
    bound = bound * (1.0 + 1e-9) + 1e-12;
    int32_t kept = 0;
    for (int32_t c = 0; c < 3; ++c) {
      const int32_t begin = t.start[size_t(run.column + c)], end = t.start[size_t(run.column + c + 1)];
#if defined(KV_VECTOR_PATHS)
      if constexpr (W == 8) {
        kept += KeepWithin(t.px.get() + begin, t.uy2.get() + begin, nearest + (begin - base), end - begin, bound,
                           c - 1, keptX + kept, keptDx + kept, keptY2 + kept);
        continue;
      }
#endif
      // Without a branch: which points stay is hard to predict.
      for (int32_t b = begin; b < end; ++b) {
        keptX[kept] = t.px[size_t(b)];
        keptDx[kept] = c - 1;
        keptY2[kept] = t.uy2[size_t(b)];
        kept += nearest[b - base] <= bound ? 1 : 0;
      }
    }
    for (int32_t i = run.from; i < run.to; i += W) {
      const D f = Load<W>(fx + i);
      D a = D{} + kFar, s = a;
      for (int32_t k = 0; k < kept; ++k) {
        const D u = (f - keptDx[k]) - keptX[k];
        const D d = u * u + keptY2[k];
        const D larger = a < d ? d : a;
        s = larger < s ? larger : s;
        a = d < a ? d : a;
      }
      // Lanes past the run are written again by the runs after it.
      std::memcpy(f1 + i, &a, sizeof a);
      std::memcpy(f2 + i, &s, sizeof s);
    }
  }
}

// The octaves' distances combined as Combine combines them, W samples to
// a vector: the running products, divided by the weights' sum after the
// last octave.
template <int W>
[[gnu::always_inline]] inline void Accumulate(const CellField& f, int32_t octave, const double* d1, const double* d2,
                                              int32_t count, double* first, double* second) {
  using D = typename Wide<W>::D;
  const double weight = f.octaveWeight[octave], bias = f.bias;
  const bool last = octave + 1 == f.octaveCount;
  for (int32_t i = 0; i < count; i += W) {
    D a, b, x, y;
    std::memcpy(&a, d1 + i, sizeof a);
    std::memcpy(&b, d2 + i, sizeof b);
    if (octave == 0) {
      x = a + bias;
      y = b + bias;
    } else {
      std::memcpy(&x, first + i, sizeof x);
      std::memcpy(&y, second + i, sizeof y);
      x *= 1.0 + weight * (a + bias);
      y *= 1.0 + weight * (b + bias);
    }
    if (last) {
      x /= f.weightSum;
      y /= f.weightSum;
    }
    std::memcpy(first + i, &x, sizeof x);
    std::memcpy(second + i, &y, sizeof y);
  }
}

struct RowKernels {
  // Stage 0 places the samples; stage 1 finds their nearest points and adds
  // the octave to first and second (padded like the others).
  template <int W>
  [[gnu::always_inline]] static inline void Both(int32_t stage, const CellField& f, double x0, double step,
                                                 int32_t count, int32_t octave, double* fx, int32_t* cellX,
                                                 const RowTable* t, double* f1, double* f2, double* first,
                                                 double* second) {
    if (stage == 0) {
      Positions<W>(f, x0, step, count, octave, fx, cellX);
    } else {
      NearestInRuns<W>(*t, fx, f1, f2);
      Accumulate<W>(f, octave, f1, f2, count, first, second);
    }
  }
  static void Baseline(int32_t stage, const CellField& f, double x0, double step, int32_t count, int32_t octave,
                       double* fx, int32_t* cellX, const RowTable* t, double* f1, double* f2, double* first,
                       double* second) {
    Both<2>(stage, f, x0, step, count, octave, fx, cellX, t, f1, f2, first, second);
  }
  KV_FOR_AVX2 static void Avx2(int32_t stage, const CellField& f, double x0, double step, int32_t count,
                               int32_t octave, double* fx, int32_t* cellX, const RowTable* t, double* f1, double* f2,
                               double* first, double* second) {
    Both<4>(stage, f, x0, step, count, octave, fx, cellX, t, f1, f2, first, second);
  }
  KV_FOR_AVX512 static void Avx512(int32_t stage, const CellField& f, double x0, double step, int32_t count,
                                   int32_t octave, double* fx, int32_t* cellX, const RowTable* t, double* f1,
                                   double* f2, double* first, double* second) {
    Both<8>(stage, f, x0, step, count, octave, fx, cellX, t, f1, f2, first, second);
  }
};

}  // namespace

void CellField::ValueRow(double y, double x0, double step, int32_t count, double* first, double* second,
                         PointCache& cache) const {
  // Octave by octave over runs of samples in one home cell: a run tries only
  // the points that can be nearest or second nearest somewhere along it.
  // Every distance is computed as Value computes it, so the values agree.
  if (count <= 0) return;
  const size_t n = size_t(count), padded = n + sizeof(RowD) / sizeof(double);
  std::vector<double> f1(padded), f2(padded), fx(padded), sum1(padded), sum2(padded);
  std::vector<int32_t> cellX(padded);
  RowTable table;
  auto kernel = &RowKernels::Baseline;
  if (CurrentVectorPath() == VectorPath::kAvx512) kernel = &RowKernels::Avx512;
  else if (CurrentVectorPath() == VectorPath::kAvx2) kernel = &RowKernels::Avx2;
  for (int32_t octave = 0; octave < octaveCount; ++octave) {
    kernel(0, *this, x0, step, count, octave, fx.data(), cellX.data(), nullptr, nullptr, nullptr, nullptr, nullptr);
    // Every sample shares the row, and so its cell row.
    PointD p{x0, y};
    for (int32_t k = 1; k <= octave; ++k) p = {p.x * lacunarity, p.y * lacunarity};
    const CellPosition row =
        Locate(*this, PointD{p.x + kOctaveOffsets[octave].x, p.y + kOctaveOffsets[octave].y}, octave);
    const int64_t spanned = std::abs(int64_t(cellX[n - 1]) - cellX[0]);
    cache.Reserve(octave, int32_t(std::min<int64_t>(spanned, 1 << 14)) + 3);
    BuildTable(*this, cache, octave, row.cy, row.fy, cellX.data(), count, table);
    kernel(1, *this, x0, step, count, octave, fx.data(), cellX.data(), &table, f1.data(), f2.data(), sum1.data(),
           sum2.data());
  }
  std::copy_n(sum1.data(), n, first);
  std::copy_n(sum2.data(), n, second);
}

}  // namespace kv
