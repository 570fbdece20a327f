// Seeded gradient noise sampled at absolute pixel positions: the hashed
// lattice, the plain field and its fractal and turbulence sums. A value depends
// only on the settings, the seed and the position, so tiles, previews and the
// final render agree however the image is cut up.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "image/geometry.h"

namespace kv {

// Lattice cells per period in x and y; zero when a field does not repeat.
struct LatticePeriod {
  int32_t x = 0, y = 0;
};

// Where each octave starts, so that octaves do not line up at the origin.
inline constexpr PointD kOctaveOffsets[5] = {{0.0, 0.0}, {23.1, 32.3}, {57.5, 69.2}, {117.4, 138.6}, {202.2, 277.7}};

// The hashed lattice: a seeded permutation with a gradient index per entry.
// The default constructor leaves the tables unwritten; InitLattice fills them.
class NewField {
 public:
  static constexpr int32_t kTableSize = 4096;
  static constexpr int32_t kTableMask = kTableSize - 1;

  virtual ~NewField() = default;

  void InitLattice(int seed, bool periodic, int periodX, int periodY, int gradientCount);

  // The lattice cell of a floored coordinate: cut to its low 32 bits, all
  // the hash reads, so that cells far from the origin (a horizon seen in
  // perspective) are as well defined as near ones.
  static int32_t Cell(double floored) {
    if (std::fabs(floored) < 2147483648.0) return int32_t(floored);
    if (!std::isfinite(floored)) return 0;
    return int32_t(uint32_t(int64_t(std::fmod(floored, 4294967296.0))));
  }
  // Cell c + d, wrapping as the cut does.
  static int32_t Step(int32_t c, int32_t d) { return int32_t(uint32_t(c) + uint32_t(d)); }
  // A lattice index reduced to a period of n cells, never negative.
  static int32_t Wrap(int32_t v, int32_t n) {
    const int32_t r = v % n;
    return r < 0 ? r + n : r;
  }
  // The gradient index of lattice corner (cx, cy), already reduced to the period.
  int32_t Hash(int32_t cx, int32_t cy) const { return gradientIndex[permutation[cx & kTableMask] ^ (cy & kTableMask)]; }

  bool periodic = false;
  int32_t periodX = 0, periodY = 0;
  int32_t gradientCount = 0;
  bool ready = false;
  int32_t permutation[kTableSize];
  int32_t gradientIndex[kTableSize];
};

// Gradient noise with values clamped to [-amplitude, amplitude]. Value is the
// per-sample definition; the row forms give bit-identical results faster.
class NoiseField : public NewField {
 public:
  // scale: full-size pixels per rendered pixel, so the pattern keeps its size
  // relative to the image at every zoom. Periods are in full-size pixels.
  // err = 0, or -108 when the gradient table cannot be allocated.
  void Init(int32_t& err, PointD cellSize, double amplitude, int seed, double scale, bool periodic, int periodX,
            int periodY);

  // The raw lattice noise at lattice coordinates q, unclamped, within 3 * amplitude.
  double Noise(PointD q, LatticePeriod period) const;

  double Value(Point p) const { return Value(PointD{double(p.x), double(p.y)}); }
  virtual double Value(PointD p) const;
  // Two decorrelated values: the second is taken 30000 pixels away diagonally.
  PointD Vector(Point p) const { return {Value(p), Value(Point{p.x + 30000, p.y + 30000})}; }
  PointD Vector(PointD p) const { return {Value(p), Value(PointD{p.x + 30000.0, p.y + 30000.0})}; }

  // out[i] = Value(PointD(x0 + i * step, y)) for i in [0, count).
  void ValueRow(double y, double x0, double step, int32_t count, double* out) const {
    Row(y, x0, step, count, 0.0, out);
  }
  // outX[i], outY[i] = Vector(PointD(x0 + i * step, y)) for i in [0, count).
  void VectorRow(double y, double x0, double step, int32_t count, double* outX, double* outY) const {
    Row(y, x0, step, count, 0.0, outX);
    Row(y, x0, step, count, 30000.0, outY);
  }

  // out[i] = Value(PointD(xs[i], ys[i])) for i in [0, count): for samples
  // that share no row, two at a time, bit-identical to Value.
  void ValuesAt(const double* xs, const double* ys, int32_t count, double* out) const { Points(xs, ys, count, out); }

  double amplitude = 0.0;
  PointD cellSize;   // pixels per lattice cell, after fitting the period and scaling
  PointD frequency;  // 1 / cellSize
  LatticePeriod cellPeriod;
  std::vector<double> gradientValues;  // gradientCount + 2 entries: neighbouring gradients share entries

 protected:
  // The row form of Value at (x0 + i * step + shift, y + shift).
  virtual void Row(double y, double x0, double step, int32_t count, double shift, double* out) const;
  virtual void Points(const double* xs, const double* ys, int32_t count, double* out) const;

  double Clamp(double v) const { return v < -amplitude ? -amplitude : (v > amplitude ? amplitude : v); }
};

// Fractional Brownian motion: up to five octaves of lacunarity 2, weighted by
// powers of the roughness. Each octave keeps the pixel period.
class FBMField : public NoiseField {
 public:
  void Init(int32_t& err, PointD cellSize, double amplitude, int seed, double roughness, double scale, bool periodic,
            int periodX, int periodY);

  using NoiseField::Value;
  double Value(PointD p) const override { return Clamp(Sum(p, false)); }

  int32_t octaveCount = 0;
  double octaveWeight[5] = {};
  double roughness = 0.0;

 protected:
  void Row(double y, double x0, double step, int32_t count, double shift, double* out) const override {
    SumRow(y, x0, step, count, shift, false, 0.0, out);
  }
  void Points(const double* xs, const double* ys, int32_t count, double* out) const override {
    SumPoints(xs, ys, count, false, 0.0, out);
  }
  // The weighted octave sum at p, of |noise| when absolute is set.
  double Sum(PointD p, bool absolute) const;
  // out[i] = Clamp(Sum at (x0 + i * step + shift, y + shift) - subtract).
  void SumRow(double y, double x0, double step, int32_t count, double shift, bool absolute, double subtract,
              double* out) const;
  // out[i] = Clamp(Sum at (xs[i], ys[i]) - subtract).
  void SumPoints(const double* xs, const double* ys, int32_t count, bool absolute, double subtract,
                 double* out) const;
};

// The octave sum of |noise|, lowered slightly so that its floor sits just below 0.
class TurbulenceField : public FBMField {
 public:
  void Init(int32_t& err, PointD cellSize, double amplitude, int seed, double roughness, double scale, bool periodic,
            int periodX, int periodY);

  using NoiseField::Value;
  double Value(PointD p) const override { return Clamp(Sum(p, true) - turbulenceOffset); }

  double turbulenceOffset = 0.0;

 protected:
  void Row(double y, double x0, double step, int32_t count, double shift, double* out) const override {
    SumRow(y, x0, step, count, shift, true, turbulenceOffset, out);
  }
  void Points(const double* xs, const double* ys, int32_t count, double* out) const override {
    SumPoints(xs, ys, count, true, turbulenceOffset, out);
  }
};

// A plain noise field that the flag animation drives.
class MovingNoiseField : public NoiseField {};

}  // namespace kv
