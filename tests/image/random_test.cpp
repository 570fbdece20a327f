#include <gtest/gtest.h>

#include "image/random.h"

namespace kv {
namespace {

TEST(Random, SeedsWrapAroundTheModulus) {
  RandomNumberGenerator zero(0), top(2147483646), other(1);
  for (int i = 0; i < 5; ++i) {
    const int32_t a = zero.Next();
    EXPECT_EQ(a, top.Next());
    EXPECT_NE(a, other.Next());
  }
  RandomNumberGenerator negative(-1);
  // State 2147483646 before the discarded draw: 16807 * -1 mod 2^31 - 1.
  EXPECT_EQ(negative.State(), 2147483647 - 16807);
}

TEST(Random, MinimalStandardSequence) {
  RandomNumberGenerator rng(0);  // state 1, then one draw
  EXPECT_EQ(rng.State(), 16807);
  for (int i = 2; i < 10000; ++i) rng.Next();
  EXPECT_EQ(rng.Next(), 1043618065);  // the 10000th value from state 1
}

TEST(Random, DerivedDrawsStayInRange) {
  RandomNumberGenerator rng(12345), same(12345);
  int hits = 0;
  for (int i = 0; i < 20000; ++i) {
    const double u = rng.Unit();
    ASSERT_GT(u, 0.0);
    ASSERT_LT(u, 1.0);
    const int32_t below = rng.Below(7), between = rng.Between(-3, 4);
    ASSERT_GE(below, 0);
    ASSERT_LT(below, 7);
    ASSERT_GE(between, -3);
    ASSERT_LT(between, 4);
    const double v = rng.Uniform(2.0, 5.0);
    ASSERT_GE(v, 2.0);
    ASSERT_LT(v, 5.0);
    hits += rng.Chance(0.25);
  }
  EXPECT_NEAR(hits / 20000.0, 0.25, 0.02);
  same.SeedFromClock();
  same.Seed(12345);
  RandomNumberGenerator fresh(12345);
  EXPECT_EQ(same.Next(), fresh.Next());
}

}  // namespace
}  // namespace kv
