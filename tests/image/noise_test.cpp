#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>
#include <vector>

#include "image/noise.h"
#include "image/noise_cells.h"
#include "image/random.h"
#include "image/vector_kernels.h"
#include "tests/support/vector_paths.h"

namespace kv {
namespace {

// Fields are large; tests keep them on the heap.
template <class F, class... Args>
std::unique_ptr<F> Initialised(Args... args) {
  auto f = std::make_unique<F>();
  int32_t err = -1;
  f->Init(err, args...);
  EXPECT_EQ(err, 0);
  return f;
}
template <class F>
std::unique_ptr<F> Make(PointD cell, double amplitude, int seed, double scale = 1.0, bool periodic = false,
                        int periodX = 0, int periodY = 0) {
  return Initialised<F>(cell, amplitude, seed, scale, periodic, periodX, periodY);
}
template <class F>
std::unique_ptr<F> MakeFractal(PointD cell, double amplitude, int seed, double roughness, double scale = 1.0,
                               bool periodic = false, int periodX = 0, int periodY = 0) {
  return Initialised<F>(cell, amplitude, seed, roughness, scale, periodic, periodX, periodY);
}
std::unique_ptr<CellField> MakeCells(PointD cell, int seed, int octaves, bool periodic = false, int periodX = 0,
                                     int periodY = 0) {
  return Initialised<CellField>(cell, seed, octaves, periodic, periodX, periodY);
}

// Positions spread over negative and positive coordinates, off the lattice.
std::vector<PointD> SamplePoints(int count, double range = 2000.0) {
  RandomNumberGenerator rng(99);
  std::vector<PointD> points(static_cast<size_t>(count));
  for (auto& p : points) p = {rng.Uniform(-range, range), rng.Uniform(-range, range)};
  return points;
}

TEST(NoiseLattice, TablesAreOnePermutationWithMatchingGradientIndices) {
  auto f = std::make_unique<NewField>();
  f->InitLattice(1234, false, 0, 0, 256);
  ASSERT_TRUE(f->ready);
  std::vector<int32_t> sorted(f->permutation, f->permutation + NewField::kTableSize);
  std::sort(sorted.begin(), sorted.end());
  std::vector<int32_t> identity(NewField::kTableSize);
  std::iota(identity.begin(), identity.end(), 0);
  EXPECT_EQ(sorted, identity);
  // Both tables took the same swaps from i and i mod 256.
  for (int32_t i = 0; i < NewField::kTableSize; ++i) ASSERT_EQ(f->gradientIndex[i], f->permutation[i] % 256) << i;
  int fixedPoints = 0;
  for (int32_t i = 0; i < NewField::kTableSize; ++i) fixedPoints += f->permutation[i] == i;
  EXPECT_LT(fixedPoints, 20);  // actually shuffled
}

TEST(NoiseField, SameSeedSameValuesOtherSeedOtherValues) {
  auto a = Make<NoiseField>({17, 11}, 1.0, 42), b = Make<NoiseField>({17, 11}, 1.0, 42);
  auto c = Make<NoiseField>({17, 11}, 1.0, 43);
  auto zero = Make<NoiseField>({17, 11}, 1.0, 0), wrapped = Make<NoiseField>({17, 11}, 1.0, 2147483646);
  int differ = 0;
  for (const PointD& p : SamplePoints(500)) {
    ASSERT_EQ(a->Value(p), b->Value(p));
    ASSERT_EQ(zero->Value(p), wrapped->Value(p));
    differ += a->Value(p) != c->Value(p);
  }
  EXPECT_GT(differ, 450);
}

TEST(NoiseField, LatticePointsGiveHalfTheirCornerGradient) {
  auto f = Make<NoiseField>({8, 8}, 1.0, 77);
  for (int y = -3; y <= 3; ++y)
    for (int x = -5; x <= 5; ++x)
      EXPECT_DOUBLE_EQ(f->Noise({double(x), double(y)}, {}), 0.5 * f->gradientValues[size_t(f->Hash(x, y))]);
}

TEST(NoiseField, RawNoiseIsContinuousAcrossCellEdges) {
  auto f = Make<NoiseField>({8, 8}, 1.0, 3);
  const double e = 1e-9;
  for (int i = -4; i <= 4; ++i) {
    for (double t : {0.13, 0.5, 0.87}) {
      EXPECT_NEAR(f->Noise({i - e, t}, {}), f->Noise({i + e, t}, {}), 1e-7);
      EXPECT_NEAR(f->Noise({t, i - e}, {}), f->Noise({t, i + e}, {}), 1e-7);
    }
  }
}

TEST(NoiseField, ValuesStayWithinTheAmplitudeAndUseIt) {
  const double a = 0.5;
  auto noise = Make<NoiseField>({6, 6}, a, 11);
  auto fbm = MakeFractal<FBMField>({6, 6}, a, 11, 1.0);
  auto turb = MakeFractal<TurbulenceField>({6, 6}, a, 11, 1.0);
  double rawMax = 0, noiseMax = 0, fbmMax = 0, turbMin = a, turbMax = -a;
  for (const PointD& p : SamplePoints(20000, 300)) {
    rawMax = std::max(rawMax, std::fabs(noise->Noise({p.x / 6, p.y / 6}, {})));
    noiseMax = std::max(noiseMax, std::fabs(noise->Value(p)));
    fbmMax = std::max(fbmMax, std::fabs(fbm->Value(p)));
    turbMin = std::min(turbMin, turb->Value(p));
    turbMax = std::max(turbMax, turb->Value(p));
  }
  EXPECT_LE(rawMax, 3 * a);
  EXPECT_GT(rawMax, a);  // the clamp is reached
  EXPECT_EQ(noiseMax, a);
  EXPECT_LE(fbmMax, a);
  EXPECT_GT(fbmMax, 0.5 * a);
  EXPECT_GE(turbMin, -0.03 * a);  // the offset puts the floor just below 0
  EXPECT_LT(turbMin, 0.1 * a);
  EXPECT_LE(turbMax, a);
  EXPECT_GT(turbMax, 0.5 * a);
}

TEST(NoiseField, ScaleKeepsThePatternRelativeToTheImage) {
  auto full = Make<NoiseField>({20, 12}, 1.0, 4, 1.0);
  auto half = Make<NoiseField>({20, 12}, 1.0, 4, 2.0);
  EXPECT_DOUBLE_EQ(half->cellSize.x, 10.0);
  for (const PointD& p : SamplePoints(200)) ASSERT_EQ(half->Value(p), full->Value(PointD{2 * p.x, 2 * p.y}));
}

TEST(NoiseField, PeriodFitsWholeCellsAndTiles) {
  auto f = Make<NoiseField>({30, 30}, 1.0, 21, 1.0, true, 100, 60);
  EXPECT_EQ(f->cellPeriod.x, 3);
  EXPECT_EQ(f->cellPeriod.y, 2);
  EXPECT_DOUBLE_EQ(f->cellSize.x, 100.0 / 3);
  EXPECT_DOUBLE_EQ(f->cellSize.y, 30.0);
  auto plain = Make<NoiseField>({30, 30}, 1.0, 21);
  int plainDiffers = 0;
  for (const PointD& p : SamplePoints(500)) {
    ASSERT_NEAR(f->Value(p), f->Value(PointD{p.x + 100, p.y}), 1e-9);
    ASSERT_NEAR(f->Value(p), f->Value(PointD{p.x - 300, p.y + 120}), 1e-9);
    plainDiffers += std::fabs(plain->Value(p) - plain->Value(PointD{p.x + 100, p.y})) > 1e-3;
  }
  EXPECT_GT(plainDiffers, 400);
  auto tiny = Make<NoiseField>({30, 30}, 1.0, 21, 1.0, true, 10, 10);
  EXPECT_EQ(tiny->cellPeriod.x, 1);
}

TEST(NoiseField, FractalSumsTileWithThePixelPeriodAtEveryScale) {
  auto fbm = MakeFractal<FBMField>({25, 40}, 1.0, 8, 0.5, 1.0, true, 150, 90);
  auto turb = MakeFractal<TurbulenceField>({25, 40}, 1.0, 8, 0.8, 2.0, true, 150, 90);
  for (const PointD& p : SamplePoints(300)) {
    ASSERT_NEAR(fbm->Value(p), fbm->Value(PointD{p.x + 150, p.y - 90}), 1e-9);
    ASSERT_NEAR(turb->Value(p), turb->Value(PointD{p.x + 75, p.y + 45}), 1e-9);
  }
}

TEST(FBMField, RoughnessSetsTheOctaves) {
  // Octaves go once their share falls below 0.03: 0.2^3 / 1.2496 does.
  for (const auto& [roughness, octaves] : {std::pair{0.0, 1}, {0.2, 3}, {0.5, 5}, {1.0, 5}, {3.0, 0}}) {
    auto f = MakeFractal<FBMField>({10, 10}, 1.0, 2, roughness);
    EXPECT_EQ(f->octaveCount, octaves) << roughness;
    EXPECT_NEAR(std::accumulate(f->octaveWeight, f->octaveWeight + octaves, 0.0), octaves ? 1.33 : 0.0, 1e-12);
  }
  EXPECT_EQ(MakeFractal<FBMField>({10, 10}, 1.0, 2, 3.0)->Value(PointD{12.5, -3.25}), 0.0);
}

TEST(FBMField, OneOctaveIsScaledPlainNoise) {
  const double a = 0.6;
  auto fbm = MakeFractal<FBMField>({14, 9}, a, 31, 0.0);
  auto turb = MakeFractal<TurbulenceField>({14, 9}, a, 31, 0.0);
  auto plain = Make<NoiseField>({14, 9}, a, 31);
  for (const PointD& p : SamplePoints(300)) {
    const double n = plain->Noise({p.x / 14, p.y / 9}, {});
    ASSERT_NEAR(fbm->Value(p), std::clamp(1.33 * n, -a, a), 1e-12);
    ASSERT_NEAR(turb->Value(p), std::clamp(1.33 * 1.13 * std::fabs(n) - 0.03 * a, -a, a), 1e-12);
  }
}

// Every row form against the per-sample form, bit for bit.
struct RowCase {
  double y, x0, step;
  int32_t count;
  // Sample i's position, rounded after the product as the rows round it even
  // where the compiler could fuse the multiply and the add.
  double At(int32_t i) const {
    volatile double offset = i * step;
    return x0 + offset;
  }
};
const RowCase kRowCases[] = {{0, 0, 1, 1},         {3, -40, 1, 7},        {-17.25, 123.5, 0.37, 1300},
                             {250, 5000, -1.5, 600}, {9, -2.75, 3.0, 513}, {1e4, 31, 0, 20}};

template <class F>
void ExpectRowMatchesSamples(const F& f, const char* what) {
  for (const RowCase& c : kRowCases) {
    // Rows overwrite whatever the buffers held.
    std::vector<double> row(size_t(c.count), 7.0), vx(size_t(c.count), 7.0), vy(size_t(c.count), 7.0);
    f.ValueRow(c.y, c.x0, c.step, c.count, row.data());
    f.VectorRow(c.y, c.x0, c.step, c.count, vx.data(), vy.data());
    for (int32_t i = 0; i < c.count; ++i) {
      const PointD p{c.At(i), c.y};
      ASSERT_EQ(row[size_t(i)], f.Value(p)) << what << " x0 " << c.x0 << " sample " << i;
      ASSERT_EQ(vx[size_t(i)], row[size_t(i)]) << what << " sample " << i;
      ASSERT_EQ(vy[size_t(i)], f.Value(PointD{p.x + 30000, p.y + 30000})) << what << " sample " << i;
      ASSERT_EQ(f.Vector(p).y, vy[size_t(i)]) << what << " sample " << i;
    }
    // Cut anywhere, a row gives the same values.
    const int32_t h = c.count / 3;
    std::vector<double> parts(size_t(c.count));
    f.ValueRow(c.y, c.x0, c.step, h, parts.data());
    f.ValueRow(c.y, c.x0 + h * c.step, c.step, c.count - h, parts.data() + h);
    // Whole-pixel rows meet exactly; fractional steps reach the same positions up to rounding.
    const bool whole = c.x0 == std::floor(c.x0) && c.step == std::floor(c.step);
    for (int32_t i = h; i < c.count; ++i) {
      if (whole)
        ASSERT_EQ(parts[size_t(i)], row[size_t(i)]) << what << " " << i;
      else
        ASSERT_NEAR(parts[size_t(i)], row[size_t(i)], 1e-9) << what << " " << i;
    }
  }
}

// On every vector path.
TEST(NoiseRows, RowFormsEqualThePerSampleForm) {
  test::ForEachVectorPath([&](int) {
    for (PointD cell : {PointD{40, 25}, PointD{3, 5}, PointD{0.7, 0.4}}) {
      for (bool periodic : {false, true}) {
        const std::unique_ptr<NoiseField> fields[] = {
            Make<NoiseField>(cell, 1.0, 5, 1.0, periodic, 200, 120),
            MakeFractal<FBMField>(cell, 0.5, 6, 0.5, 1.0, periodic, 200, 120),
            MakeFractal<TurbulenceField>(cell, 2.0, 7, 0.9, 0.5, periodic, 200, 120),
            Make<MovingNoiseField>(cell, 1.0, 8, 1.0, periodic, 200, 120)};
        for (const auto& f : fields) ExpectRowMatchesSamples(*f, periodic ? "periodic" : "plain");
      }
    }
  });
}

// The lattice repeats every 4096 cells; far out (a horizon in perspective)
// it must go on doing so in every form, not fall apart when cell numbers
// outgrow 32 bits.
TEST(NoiseField, FarCellsRepeatTheLatticeLikeNearOnes) {
  const auto f = Make<NoiseField>({1.0, 1.0}, 1.0, 5);
  const double far = 4096.0 * 4096.0 * 4096.0;  // a whole number of repeats, beyond 32 bits
  for (const double x : {0.25, 3.5, -7.75}) {
    EXPECT_EQ(f->Noise({x + far, 2.5}, {}), f->Noise({x, 2.5}, {})) << x;
    EXPECT_EQ(f->Noise({x, 2.5 - far}, {}), f->Noise({x, 2.5}, {})) << x;
  }
  std::vector<double> nearRow(9), farRow(9), xs(9), ys(9, far + 0.5), farPoints(9);
  f->ValueRow(0.5, 0.25, 1.0, 9, nearRow.data());
  f->ValueRow(far + 0.5, far + 0.25, 1.0, 9, farRow.data());
  for (int i = 0; i < 9; ++i) xs[size_t(i)] = far + 0.25 + i;
  f->ValuesAt(xs.data(), ys.data(), 9, farPoints.data());
  EXPECT_EQ(farRow, nearRow);
  EXPECT_EQ(farPoints, nearRow);
}

// On every vector path: points close together share their cells, points far
// apart do not.
TEST(NoisePoints, PointFormEqualsThePerSampleForm) {
  std::vector<PointD> points = SamplePoints(301);
  for (int i = 0; i < 80; ++i) points.push_back({100.0 + 0.3 * i, 50.0 + 0.01 * i});
  std::vector<double> xs, ys;
  for (const PointD& p : points) xs.push_back(p.x), ys.push_back(p.y);
  test::ForEachVectorPath([&](int path) {
    for (PointD cell : {PointD{40, 25}, PointD{0.7, 0.4}}) {
      for (bool periodic : {false, true}) {
        const std::unique_ptr<NoiseField> fields[] = {
            Make<NoiseField>(cell, 1.0, 5, 1.0, periodic, 200, 120),
            MakeFractal<FBMField>(cell, 0.5, 6, 0.5, 1.0, periodic, 200, 120),
            MakeFractal<TurbulenceField>(cell, 2.0, 7, 0.9, 0.5, periodic, 200, 120)};
        for (const auto& f : fields)
          // Counts that leave the last group of points short.
          for (int32_t count : {0, 1, 2, int32_t(points.size())}) {
            std::vector<double> out(size_t(count) + 1, 7.0);
            f->ValuesAt(xs.data(), ys.data(), count, out.data());
            for (int32_t i = 0; i < count; ++i)
              ASSERT_EQ(out[size_t(i)], f->Value(points[size_t(i)])) << "path " << path << " point " << i;
            ASSERT_EQ(out[size_t(count)], 7.0) << "wrote past the count";
          }
      }
    }
  });
}

TEST(CellField, PointCountFollowsTheCumulativeTable) {
  const std::pair<double, int> cases[] = {{0.0, 1}, {0.1, 1}, {0.3, 2}, {0.5, 3}, {0.7, 4}, {0.95, 6}, {0.999, 9}, {1.0, 9}};
  for (const auto& [u, count] : cases) EXPECT_EQ(CellField::PointCount(u), count) << u;
}

TEST(CellField, InitFitsPeriodsAndRefusesOctaveCounts) {
  auto tiled = MakeCells({30, 30}, 3, 2, true, 100, 20);
  EXPECT_EQ(tiled->cellPeriod.x, 3);
  EXPECT_EQ(tiled->cellPeriod.y, 2);  // at least two cells
  EXPECT_DOUBLE_EQ(tiled->cellSize.y, 10.0);
  for (int octaves : {0, 4}) {
    CellField f;
    int32_t err = 0;
    f.Init(err, {10, 10}, 1, octaves, false, 0, 0);
    EXPECT_EQ(err, -1) << octaves;
  }
}

TEST(CellField, FeaturePointsAreSeededByTheCellAlone) {
  auto f = MakeCells({10, 10}, 17, 1), other = MakeCells({10, 10}, 18, 1);
  PointD a[9], b[9];
  std::vector<int> counts(10);
  int sameAsOtherSeed = 0;
  for (int cy = -20; cy < 20; ++cy)
    for (int cx = -20; cx < 20; ++cx) {
      const int n = f->FeaturePoints(cx, cy, 0, a);
      RandomNumberGenerator rng(f->lattice.Hash(cx, cy));
      ASSERT_EQ(n, CellField::PointCount(rng.Unit()));
      ++counts[size_t(n)];
      for (int i = 0; i < n; ++i) ASSERT_TRUE(a[i].x >= 0 && a[i].x < 1 && a[i].y >= 0 && a[i].y < 1);
      sameAsOtherSeed += other->FeaturePoints(cx, cy, 0, b) == n && a[0] == b[0];
    }
  // Only 256 cell seeds exist, so a few cells agree across field seeds by chance.
  EXPECT_LT(sameAsOtherSeed, 40);
  // Mostly two to four points, as the law of mean 3 says.
  EXPECT_GT(counts[2] + counts[3] + counts[4], counts[1] + counts[5] + counts[6]);

  // A periodic field repeats each octave's cells with that octave's own period.
  auto tiled = MakeCells({10, 10}, 17, 3, true, 40, 30);
  int repeats = 0;
  for (int o = 0; o < 3; ++o) {
    const int px = tiled->cellPeriod.x << o, py = tiled->cellPeriod.y << o;
    for (int c = -6; c < 6; ++c) {
      const int n = tiled->FeaturePoints(c, 2 * c, o, a);
      ASSERT_EQ(tiled->FeaturePoints(c + px, 2 * c - 3 * py, o, b), n);
      for (int i = 0; i < n; ++i) ASSERT_EQ(a[i], b[i]);
      if (o == 0) continue;
      repeats += tiled->FeaturePoints(c + px / 2, 2 * c, o, b) == n && a[0] == b[0];
      repeats += tiled->FeaturePoints(c, 2 * c + py / 2, o, b) == n && a[0] == b[0];
    }
  }
  EXPECT_LT(repeats, 6);
}

// The two smallest squared distances over the 3 x 3 cells around p, without skipping.
void BruteNearest(const CellField& f, PointD p, int octave, double& first, double& second) {
  const double grow = std::pow(f.lacunarity, octave);
  const double qx = p.x / f.cellSize.x * grow, qy = p.y / f.cellSize.y * grow;
  const int cx = int(std::floor(qx)), cy = int(std::floor(qy));
  const double fx = qx - cx, fy = qy - cy;
  std::vector<double> d;
  PointD pts[9];
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) {
      const int n = f.FeaturePoints(cx + dx, cy + dy, octave, pts);
      for (int i = 0; i < n; ++i) {
        const double ux = fx - dx - pts[i].x, uy = fy - dy - pts[i].y;
        d.push_back(ux * ux + uy * uy);
      }
    }
  std::sort(d.begin(), d.end());
  first = d[0];
  second = d[1];
}

TEST(CellField, DistancesMatchABruteForceSearch) {
  for (int octaves : {1, 3}) {
    for (bool periodic : {false, true}) {
      auto f = MakeCells({12, 9}, 5, octaves, periodic, 96, 72);
      double lowest = 10, highest = 0;
      for (const PointD& p : SamplePoints(400, 200)) {
        double first, second;
        f->Value(p, first, second);
        ASSERT_LE(first, second);
        lowest = std::min(lowest, first);
        highest = std::max(highest, first);
        double acc1 = 1, acc2 = 1;
        PointD q = p;
        for (int o = 0; o < octaves; ++o) {
          if (o > 0) q = {q.x * f->lacunarity, q.y * f->lacunarity};
          double b1, b2;
          BruteNearest(*f, {q.x + kOctaveOffsets[o].x, q.y + kOctaveOffsets[o].y}, o, b1, b2);
          const double w = o == 0 ? 1.0 : f->octaveWeight[o];
          acc1 *= (o == 0 ? 0.0 : 1.0) + w * (b1 + f->bias);
          acc2 *= (o == 0 ? 0.0 : 1.0) + w * (b2 + f->bias);
        }
        ASSERT_NEAR(first, acc1 / f->weightSum, 1e-9) << p.x << ", " << p.y;
        ASSERT_NEAR(second, acc2 / f->weightSum, 1e-9) << p.x << ", " << p.y;
      }
      if (octaves == 1) {
        // The bias lifts every distance; the home cell always holds a point.
        EXPECT_GE(lowest, 0.9);
        EXPECT_LE(highest, 0.9 + 2.0);
        EXPECT_GT(highest - lowest, 0.5);
      }
    }
  }
}

// On every vector path.
TEST(CellField, RowFormEqualsThePerSampleForm) {
  test::ForEachVectorPath([&](int path) {
    for (bool periodic : {false, true}) {
      auto f = MakeCells({11, 8}, 13, 3, periodic, 88, 64);
      // One cache for rows that jump about, as well as for neighbouring ones.
      CellField::PointCache cache;
      for (const RowCase& c : kRowCases) {
        std::vector<double> first(size_t(c.count) + 1, 7.0), second(size_t(c.count) + 1, 7.0);
        f->ValueRow(c.y, c.x0, c.step, c.count, first.data(), second.data(), cache);
        for (int32_t i = 0; i < c.count; ++i) {
          double a, b;
          f->Value(PointD{c.At(i), c.y}, a, b);
          ASSERT_EQ(first[size_t(i)], a) << "path " << path << " x0 " << c.x0 << " sample " << i;
          ASSERT_EQ(second[size_t(i)], b) << "path " << path << " x0 " << c.x0 << " sample " << i;
        }
        ASSERT_EQ(first[size_t(c.count)], 7.0) << "wrote past the count";
      }
    }
  });
}

TEST(CellField, PeriodicFieldTiles) {
  auto f = MakeCells({25, 25}, 6, 2, true, 100, 75);
  for (const PointD& p : SamplePoints(300, 300)) {
    double a1, a2, b1, b2;
    f->Value(p, a1, a2);
    f->Value(PointD{p.x + 100, p.y - 75}, b1, b2);
    ASSERT_NEAR(a1, b1, 1e-9);
    ASSERT_NEAR(a2, b2, 1e-9);
  }
}

}  // namespace
}  // namespace kv
