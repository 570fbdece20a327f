#include "image/noise_cells.h"

#include <algorithm>
#include <cmath>

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

inline int32_t WrapIndex(int32_t v, int32_t n) {
  const int32_t r = v % n;
  return r < 0 ? r + n : r;
}

inline void Keep(double d, double& first, double& second) {
  if (d < first) {
    second = first;
    first = d;
  } else if (d < second) {
    second = d;
  }
}

}  // namespace

void CellField::Init(int32_t& err, PointD cellSize_, int seed, int octaves, bool periodic_, int periodX_,
                     int periodY_) {
  if (octaves < 1 || octaves > kMaxOctaves) {
    err = -1;
    return;
  }
  periodic = periodic_;
  periodX = periodX_;
  periodY = periodY_;
  periodRect = {0, 0, periodX, periodY};
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
  double f = 1.0;
  for (int32_t i = 0; i < octaves; ++i) {
    octaveWeight[i] = 1.0 / (f * f);
    weightSum += octaveWeight[i];
    f *= lacunarity;
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
    const double grow = std::pow(lacunarity, octave);
    cx = WrapIndex(cx, int32_t(cellPeriod.x * grow));
    cy = WrapIndex(cy, int32_t(cellPeriod.y * grow));
  }
  RandomNumberGenerator rng(lattice.Hash(cx, cy));
  const int32_t count = PointCount(rng.Unit());
  for (int32_t i = 0; i < count; ++i) {
    points[i].x = rng.Uniform(0.0, 1.0);
    points[i].y = rng.Uniform(0.0, 1.0);
  }
  return count;
}

void CellField::Nearest(PointD p, int32_t octave, double& first, double& second) const {
  const double grow = std::pow(lacunarity, octave);
  const double qx = p.x / cellSize.x * grow, qy = p.y / cellSize.y * grow;
  const double cellX = std::floor(qx), cellY = std::floor(qy);
  const int32_t cx = int32_t(cellX), cy = int32_t(cellY);
  const double fx = qx - cellX, fy = qy - cellY;
  first = second = kFar;
  PointD points[kMaxPoints];
  // The home cell first, so that its pair lets most neighbours be skipped.
  static constexpr int32_t kOrder[9][2] = {{0, 0}, {-1, 0}, {1, 0}, {0, -1}, {0, 1}, {-1, -1}, {1, -1}, {-1, 1}, {1, 1}};
  for (const auto& [dx, dy] : kOrder) {
    // No point of a neighbour lies nearer than the shared edge or corner.
    const double ex = dx < 0 ? fx : (dx > 0 ? 1.0 - fx : 0.0);
    const double ey = dy < 0 ? fy : (dy > 0 ? 1.0 - fy : 0.0);
    if (ex * ex + ey * ey >= second) continue;
    const double ox = fx - dx, oy = fy - dy;
    const int32_t count = FeaturePoints(cx + dx, cy + dy, octave, points);
    for (int32_t i = 0; i < count; ++i) {
      const double ux = ox - points[i].x, uy = oy - points[i].y;
      Keep(ux * ux + uy * uy, first, second);
    }
  }
}

void CellField::Value(PointD p, double& first, double& second) const {
  double f1, f2;
  Nearest({p.x + kOctaveOffsets[0].x, p.y + kOctaveOffsets[0].y}, 0, f1, f2);
  double acc1 = f1 + bias, acc2 = f2 + bias;
  for (int32_t i = 1; i < octaveCount; ++i) {
    p = {p.x * lacunarity, p.y * lacunarity};
    Nearest({p.x + kOctaveOffsets[i].x, p.y + kOctaveOffsets[i].y}, i, f1, f2);
    acc1 *= 1.0 + octaveWeight[i] * (f1 + bias);
    acc2 *= 1.0 + octaveWeight[i] * (f2 + bias);
  }
  first = acc1 / weightSum;
  second = acc2 / weightSum;
}

}  // namespace kv
