// Lightning through the entry point and as the dialog previews it: its look,
// where the bolt runs, and agreement between tiles, whole renders and
// previews.
#include <gtest/gtest.h>

#include <functional>

#include "effects/lightning/lightning.h"
#include "tests/effects/effect_harness.h"
#include "tests/effects/reference.h"

namespace kv::test {
namespace {

HostRender With(std::function<void(LightningBlock&)> edit) {
  HostRender how;
  how.edit = [edit](void* block) { edit(*static_cast<LightningBlock*>(block)); };
  return how;
}

Picture Bolt(const Picture& in, const HostRender& how = {}) {
  int16_t error = 0;
  Picture out = RenderThroughHost(kLightningEffect, in, how, &error);
  EXPECT_EQ(error, 0);
  return out;
}

// A bare, straight white core of even thickness: no glow, no branches.
void BareCore(LightningBlock& b) {
  b.taperMainArc = false;
  b.jaggedness = 0.0;
  b.glowOpacity = 0.0;
  b.branching = 0.0;
  b.innerColor = Color::RGB(255, 255, 255);
  b.outerColor = Color::RGB(0, 0, 0);
}

Picture Black(int w, int h) {
  Picture p = TestPicture(w, h, ps::plugInModeGrayScale, 1);
  std::fill(p.pixels.begin(), p.pixels.end(), uint8_t(0));
  return p;
}

TEST(Lightning, LooksAsItDid) {
  ExpectMatchesReference("lightning-defaults", Bolt(TestPicture(120, 90)), kWithinOneLevel);
  // Untapered, thick and with the widest glow, over a layer: flashes at both
  // ends, and a glow blurred round the image's rows and columns.
  const Picture wide = Bolt(TestPicture(120, 90, ps::plugInModeRGBColor, 3, true), With([](LightningBlock& b) {
    b.taperMainArc = false;
    b.arcThickness = 60.0;
    b.glowWidth = 100.0;
    b.outerColor = Color::RGB(255, 120, 0);
    b.origin = {0.1, 0.5};
    b.destination = {0.7, 0.2};
  }));
  ExpectMatchesReference("lightning-wide-glow-layer", wide, kWithinOneLevel);
}

TEST(Lightning, BoltRunsBetweenThePositionsOfTheArea) {
  const Picture in = Black(200, 150);
  const Picture out = Bolt(in, With([](LightningBlock& b) {
    BareCore(b);
    b.origin = {0.1, 0.2};
    b.destination = {0.8, 0.9};
  }));
  EXPECT_EQ(out.At(20, 30)[0], 255);
  EXPECT_EQ(out.At(160, 135)[0], 255);
  EXPECT_EQ(out.At(180, 10)[0], 0);
  EXPECT_EQ(out.At(10, 140)[0], 0);

  // On a layer the fractions are of its content's rectangle, here
  // (100, 50)-(180, 100); the bolt may still run over all of the layer.
  Picture layer = TestPicture(200, 150, ps::plugInModeRGBColor, 3, true);
  for (int y = 0; y < 150; ++y)
    for (int x = 0; x < 200; ++x) layer.pixels[(size_t(y) * 200 + x) * 4 + 3] = x >= 100 && x < 180 && y >= 50 && y < 100 ? 255 : 0;
  const Picture inArea = Bolt(layer, With([](LightningBlock& b) {
    BareCore(b);
    b.origin = {0.0, 0.0};
    b.destination = {1.0, 1.0};
  }));
  for (const auto& [x, y] : {std::pair{100, 50}, {140, 75}, {180, 100}}) {
    const uint8_t* p = inArea.At(x, y);
    EXPECT_EQ(std::vector<int>(p, p + 4), (std::vector<int>{255, 255, 255, 255})) << x << "," << y;
  }
  EXPECT_EQ(inArea.At(20, 30)[3], 0);
}

TEST(Lightning, OriginOnTheDestinationStillDrawsAShortBolt) {
  const Picture out = Bolt(Black(80, 60), With([](LightningBlock& b) {
    BareCore(b);
    b.origin = b.destination = {0.5, 0.5};
  }));
  EXPECT_EQ(out.At(40, 30)[0], 255);
  EXPECT_EQ(out.At(43, 33)[0], 255);
  EXPECT_EQ(out.At(70, 10)[0], 0);
}

TEST(Lightning, ThinBoltsKeepACoreOfTwoPixels) {
  // 1 % of a 100-pixel bolt would be far thinner than a pixel.
  const Picture out = Bolt(Black(120, 40), With([](LightningBlock& b) {
    BareCore(b);
    b.arcThickness = 1.0;
    b.origin = {0.1, 0.5};
    b.destination = {0.9, 0.5};
  }));
  for (int x = 20; x <= 100; x += 10) {
    EXPECT_EQ(out.At(x, 20)[0], 255) << x;
    EXPECT_EQ(out.At(x, 22)[0], 0) << x;
  }
}

TEST(Lightning, TaperedBoltHasNoFlashAtItsEnd) {
  // The flash lights up a dark picture around the ends it is drawn at, well
  // beyond the reach of the glow of a narrow glow width.
  const Picture in = Black(300, 100);
  auto ends = [&](bool tapered) {
    const Picture out = Bolt(in, With([tapered](LightningBlock& b) {
      BareCore(b);
      b.taperMainArc = tapered;
      b.arcThickness = 100.0;
      b.glowWidth = 10.0;
      b.glowOpacity = 100.0;
      b.flashSize = 100.0;
      b.origin = {0.1, 0.5};
      b.destination = {0.9, 0.5};
    }));
    return std::pair{int(out.At(30, 20)[0]), int(out.At(270, 20)[0])};
  };
  const auto [tapStart, tapEnd] = ends(true);
  const auto [plainStart, plainEnd] = ends(false);
  EXPECT_GT(tapStart, 50);
  EXPECT_EQ(tapEnd, 0);
  EXPECT_GT(plainEnd, 50);
  EXPECT_EQ(plainStart, plainEnd) << "the same flash at both ends";
}

TEST(Lightning, SeedDecidesAndTilesAgreeWithTheWhole) {
  const Picture in = TestPicture(203, 131, ps::plugInModeRGBColor, 3, true);
  EXPECT_EQ(TileSizeThatDiffers(kLightningEffect, in, {}), 0);
  EXPECT_NE(Bolt(in, With([](LightningBlock& b) { b.randomSeed = 2; })).pixels, Bolt(in).pixels);
}

TEST(Lightning, PreviewShowsTheSameBolt) {
  for (const int factor : {2, 4}) {
    const PreviewDifference d = ComparePreview(kLightningEffect, SmoothPicture(400, 300), factor, {}, [](void* block) {
      static_cast<LightningBlock*>(block)->randomSeed = 5918;
    });
    EXPECT_LT(d.same, 4.0) << factor;
    EXPECT_GT(d.other, 3.0 * d.same) << factor;
  }
}

}  // namespace
}  // namespace kv::test
