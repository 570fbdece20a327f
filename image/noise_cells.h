// Cellular noise: seeded feature points scattered over lattice cells, and the
// squared distances from a position to its nearest and second-nearest points,
// summed over up to three octaves.
#pragma once

#include <cstdint>
#include <vector>

#include "image/geometry.h"
#include "image/noise.h"

namespace kv {

class CellField {
 public:
  // Only the lattice's hash is used: it seeds each cell's feature points.
  class DummyField : public NewField {};

  static constexpr int32_t kMaxOctaves = 3;
  static constexpr int32_t kMaxPoints = 9;

  // err = 0, or -1 when octaves lies outside 1..3. Periods are in pixels.
  void Init(int32_t& err, PointD cellSize, int seed, int octaves, bool periodic, int periodX, int periodY);

  // The octave-combined squared distances from p to its nearest (first) and
  // second-nearest (second) feature points; first <= second.
  void Value(PointD p, double& first, double& second) const;

  // The feature points of the cells row forms met, kept from row to row:
  // neighbouring rows meet the same cells. One per field and caller.
  class PointCache {
   public:
    struct Cell {
      int32_t cx = 0, cy = 0;
      int32_t count = 0;  // 0: empty
      PointD points[kMaxPoints];
    };
    // The points of cell (cx, cy) at an octave, generated on a miss.
    const Cell& Get(const CellField& f, int32_t cx, int32_t cy, int32_t octave);
    // Room for rows `columns` cells wide at an octave.
    void Reserve(int32_t octave, int32_t columns);

   private:
    // Per octave, four rows of cells, each a power of two columns wide.
    std::vector<Cell> cells_[kMaxOctaves];
    uint32_t columnMask_[kMaxOctaves] = {};
  };

  // first[i], second[i] = Value(PointD(x0 + i * step, y)) for i in [0, count),
  // each cell's points generated once while `cache` holds them.
  void ValueRow(double y, double x0, double step, int32_t count, double* first, double* second,
                PointCache& cache) const;

  // The feature points of lattice cell (cx, cy) at an octave, in the cell's
  // own unit square; returns how many (1..9).
  int32_t FeaturePoints(int32_t cx, int32_t cy, int32_t octave, PointD* points) const;

  // Feature points in a cell whose generator first draws u: Poisson of mean 3
  // with no empty cells, at most nine.
  static int32_t PointCount(double u);

  PointD cellSize;
  bool periodic = false;
  int32_t periodX = 0, periodY = 0;  // pixels
  LatticePeriod cellPeriod;
  double lacunarity = 1.5;
  double bias = 0.9;
  int32_t octaveCount = 0;
  double weightSum = 0.0;
  double octaveWeight[kMaxOctaves] = {};
  double octaveGrow[kMaxOctaves] = {};           // lacunarity^octave
  LatticePeriod octavePeriod[kMaxOctaves] = {};  // cells per period at each octave
  DummyField lattice;
};

}  // namespace kv
