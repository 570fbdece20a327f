// The seeded generator behind every "Random Seed": the minimal standard
// Lehmer generator, so that a seed reproduces the same picture everywhere.
#pragma once

#include <cstdint>

namespace kv {

class RandomNumberGenerator {
 public:
  RandomNumberGenerator() { Seed(0); }
  explicit RandomNumberGenerator(int seed) { Seed(seed); }

  void Seed(int seed) {
    int32_t s = int32_t(seed % 2147483646);
    if (s < 0) s += 2147483646;
    state_ = s + 1;
    Next();
  }
  void SeedFromClock();

  int32_t Next() {
    const int32_t hi = state_ / 127773, lo = state_ % 127773;
    const int32_t t = 16807 * lo - 2836 * hi;
    state_ = t > 0 ? t : t + 2147483647;
    return state_;
  }
  double Unit() { return Next() * 4.656612875245797e-10; }
  double Uniform(double max) { return Unit() * max; }
  double Uniform(double a, double b) { return a + (b - a) * Unit(); }
  bool Chance(double p) { return Unit() < p; }
  int32_t Below(int32_t n) { return Next() % n; }
  int32_t Between(int32_t lo, int32_t hi) { return lo + Next() % (hi - lo); }

  int32_t State() const { return state_; }

 private:
  int32_t state_ = 1;
};

}  // namespace kv
