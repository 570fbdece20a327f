#include "image/noise_cells.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "image/image.h"
#include "image/random.h"

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

void CellField::ValueRow(double y, double x0, double step, int32_t count, double* first, double* second,
                         PointCache& cache) const {
  // Octave by octave over runs of samples in one home cell: a run tries only
  // the points that can be nearest or second nearest somewhere along it.
  // Every distance is computed as Value computes it, so the values agree.
  const size_t n = static_cast<size_t>(std::max(count, 0));
  std::vector<double> f1(n), f2(n), fx(n);
  std::vector<int32_t> cellX(n);
  struct Candidate {
    double uy;      // constant along the run
    double px, dx;  // the point's x and its cell's column offset
  };
  Candidate all[9 * kMaxPoints];
  for (int32_t octave = 0; octave < octaveCount; ++octave) {
    // Where each sample falls, with the position grown as Combine grows it.
    CellPosition row{};
    for (int32_t i = 0; i < count; ++i) {
      PointD p{x0 + i * step, y};
      for (int32_t k = 1; k <= octave; ++k) p = {p.x * lacunarity, p.y * lacunarity};
      const CellPosition at = Locate(*this, PointD{p.x + kOctaveOffsets[octave].x, p.y + kOctaveOffsets[octave].y},
                                     octave);
      cellX[size_t(i)] = at.cx;
      fx[size_t(i)] = at.fx;
      row = at;
    }
    if (count > 0) {
      const int64_t spanned = std::abs(int64_t(cellX[n - 1]) - cellX[0]);
      cache.Reserve(octave, int32_t(std::min<int64_t>(spanned, 1 << 14)) + 3);
    }
    for (int32_t start = 0; start < count;) {
      int32_t end = start + 1;
      // Short runs keep the bound tight.
      while (end < count && end - start < kRun && cellX[size_t(end)] == cellX[size_t(start)]) ++end;
      double lo = fx[size_t(start)], hi = lo;
      for (int32_t i = start + 1; i < end; ++i) lo = std::min(lo, fx[size_t(i)]), hi = std::max(hi, fx[size_t(i)]);
      // Each point's nearest and farthest squared distance over the run.
      int32_t found = 0;
      double best = kFar, bound = kFar;
      double nearest[9 * kMaxPoints];
      for (int32_t dy = -1; dy <= 1; ++dy)
        for (int32_t dx = -1; dx <= 1; ++dx) {
          const CellPoints& cell =
              cache.Get(*this, NewField::Step(cellX[size_t(start)], dx), NewField::Step(row.cy, dy), octave);
          const double oy = row.fy - dy;
          for (int32_t k = 0; k < cell.count; ++k) {
            const double uy = oy - cell.points[k].y;
            const double a = lo - dx - cell.points[k].x, b = hi - dx - cell.points[k].x;
            const double near = a > 0.0 ? a : (b < 0.0 ? b : 0.0), far = std::max(std::abs(a), std::abs(b));
            const double farthest = uy * uy + far * far;
            bound = std::min(bound, std::max(best, farthest));
            best = std::min(best, farthest);
            nearest[found] = uy * uy + near * near;
            all[found++] = {uy, cell.points[k].x, double(dx)};
          }
        }
      // A margin for rounding: keeping a point too many changes nothing.
      bound = bound * (1.0 + 1e-9) + 1e-12;
      int32_t kept = 0;
      // Without a branch: which points stay is hard to predict.
      for (int32_t k = 0; k < found; ++k) {
        all[kept] = all[k];
        kept += nearest[k] <= bound ? 1 : 0;
      }
      for (int32_t i = start; i < end; ++i) {
        double a = kFar, b = kFar;
        const double f = fx[size_t(i)];
        for (int32_t k = 0; k < kept; ++k) {
          const double ux = (f - all[k].dx) - all[k].px;
          Keep(ux * ux + all[k].uy * all[k].uy, a, b);
        }
        f1[size_t(i)] = a;
        f2[size_t(i)] = b;
      }
      start = end;
    }
    for (int32_t i = 0; i < count; ++i) {
      if (octave == 0) {
        first[i] = f1[size_t(i)] + bias;
        second[i] = f2[size_t(i)] + bias;
      } else {
        first[i] *= 1.0 + octaveWeight[octave] * (f1[size_t(i)] + bias);
        second[i] *= 1.0 + octaveWeight[octave] * (f2[size_t(i)] + bias);
      }
    }
  }
  for (int32_t i = 0; i < count; ++i) {
    first[i] /= weightSum;
    second[i] /= weightSum;
  }
}

}  // namespace kv
