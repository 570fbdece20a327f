#include <gtest/gtest.h>

#include <cmath>

#include "image/lanes.h"
#include "image/lighting.h"

namespace kv {
namespace {

TEST(Lighting, LightVectorPointsAsTheScreenShowsIt) {
  const Vector3 up = LightVector(90.0, 0.0);  // straight up the screen: y runs down
  EXPECT_NEAR(up.x, 0.0, 1e-12);
  EXPECT_NEAR(up.y, -1.0, 1e-12);
  const Vector3 l = LightVector(180.0, 30.0);
  EXPECT_NEAR(l.x, -std::cos(M_PI / 6), 1e-12);
  EXPECT_NEAR(l.z, 0.5, 1e-12);
}

TEST(Lighting, FlatSurfaceUnderTheLight) {
  ShadingLight light = LightFromSettings(40.0, 90.0, 60.0, 50.0);
  BytePixel p(PixelFormat::Of(kModeRGB, 3, true));
  p[0] = 10, p[1] = 128, p[2] = 255, p[3] = 7;
  ShadeDiffuse(p, {0.0, 0.0}, 0.0, light.L);
  EXPECT_EQ((std::vector<int>{p[0], p[1], p[2], p[3]}), (std::vector<int>{10, 128, 255, 7}));

  const ShadeTermList overhead = ShadeTerms({0.0, 0.0}, 0.0, 0.25, 0.5, light);
  ASSERT_EQ(overhead.count, 3);
  EXPECT_NEAR(overhead.term[0], 0.75 * 127.5, 1e-9);
  EXPECT_NEAR(overhead.term[1], 0.0, 1e-9);
  EXPECT_NEAR(overhead.term[2], 127.5 * 0.6, 1e-9);  // the mirrored light points at the viewer

  // A light at the horizon, and a slope facing away from a low light, leave
  // one term: all in shadow.
  const ShadeTermList grazing = ShadeTerms({0.0, 0.0}, 0.0, 0.25, 1.0, LightFromSettings(0.0, 0.0, 60.0, 50.0));
  ASSERT_EQ(grazing.count, 1);
  EXPECT_DOUBLE_EQ(grazing.term[0], 255.0);
  const ShadeTermList away = ShadeTerms({1.0, 0.0}, 1.0, 0.25, 1.0, LightFromSettings(0.0, 30.0, 60.0, 50.0));
  EXPECT_EQ(away.count, 1);

  // Applied: the shadow terms darken toward black, the highlight moves to white.
  double c[1] = {200.0};
  const double black[1] = {0.0}, white[1] = {255.0};
  ApplyShadeTerms(c, 1, overhead, black, white);
  EXPECT_NEAR(c[0], 200.0 * (1 - 0.375) + (255.0 - 200.0 * 0.625) * 0.3, 1e-9);
}

// The highlight's fast power stays within the bound its callers rely on to
// give std::pow's bytes, for the exponents lights have and beyond.
TEST(Lighting, FastPowerStaysWithinItsBound) {
  for (const double e : {1.0, 9.32, 18.78, 23.0, 64.0}) {
    for (double r = 1.0 + 1e-15; r > 1e-260; r *= 0.9137) {
      Wide<4>::D lanes = {r, r * 0.9999999, std::nextafter(r, 0.0), 0.5 * r};
      const Wide<4>::D power = Powers<4>(lanes, e);
      for (int l = 0; l < 4; ++l) {
        const double exact = std::pow(lanes[l], e);
        if (exact >= 1e-300) ASSERT_NEAR(power[l], exact, 1e-12 * exact) << lanes[l] << "^" << e;
        else ASSERT_LE(power[l], 1e-290) << lanes[l] << "^" << e;
      }
    }
    EXPECT_EQ(Powers<4>(Wide<4>::D{0.0, -0.0, 1.0, 0.0}, e)[2], 1.0);
    EXPECT_EQ(Powers<4>(Wide<4>::D{0.0, -0.0, 1.0, 0.0}, e)[0], 0.0);
  }
}

}  // namespace
}  // namespace kv
