// Constellation: the brushes' shapes worked out by hand, and the stars
// through the entry point: where they fall, their colours, the background,
// and agreement between tiles, whole renders, the preview and seeds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "effects/constellation/constellation.h"
#include "effects/constellation/star_brushes.h"
#include "parameters/parameters.h"
#include "tests/effects/effect_harness.h"
#include "tests/effects/reference.h"

namespace kv::test {
namespace {

TEST(StarBrushes, FalloffAndRaysLieWhereTheyShould) {
  const PointD c{10.0, 10.0};
  EXPECT_DOUBLE_EQ(EllipticalFalloff(c, {4.0, 1.0}, 0.0, c), 1.0);
  EXPECT_DOUBLE_EQ(EllipticalFalloff(c, {4.0, 1.0}, 0.0, {12.0, 10.0}), 0.5);   // half way to the rim
  EXPECT_DOUBLE_EQ(EllipticalFalloff(c, {4.0, 1.0}, 0.0, {13.0, 10.0}), 0.125);  // 2 (1 - 0.75)^2
  EXPECT_DOUBLE_EQ(EllipticalFalloff(c, {4.0, 1.0}, 0.0, {10.0, 12.0}), 0.0);   // beyond the short radius
  // Turned a quarter counter-clockwise, the long axis points up the screen.
  EXPECT_NEAR(EllipticalFalloff(c, {4.0, 1.0}, 1.570796327, {10.0, 8.0}), 0.5, 1e-9);

  StarBrush round, twinkle;
  ASSERT_EQ(MakeRoundBrush(2.5, round), 0);
  ASSERT_EQ(round.size, 5);
  EXPECT_EQ(round.values[12], 255);  // the hot spot
  EXPECT_EQ(round.values[0], 0);
  ASSERT_EQ(MakeTwinkleBrush(1.05, 0.0, twinkle), 0);
  ASSERT_EQ(twinkle.size, 21);
  const auto at = [&](int x, int y) { return twinkle.values[size_t(y) * 21 + x]; };
  EXPECT_GT(at(15, 10), 0);  // along the rays, long and short
  EXPECT_GT(at(10, 5), 0);
  EXPECT_GT(at(7, 7), 0);
  EXPECT_GT(at(13, 7), 0);
  EXPECT_EQ(at(14, 8), 0);   // between the rays
  ASSERT_EQ(MakeRoundBrush(1.05, round), 0);
  EXPECT_GT(twinkle.mass, 2.0 * round.mass);
}

HostRender With(std::function<void(ConstellationBlock&)> edit, std::vector<uint8_t> selection = {}, int tileSize = 0) {
  HostRender how;
  how.tileSize = tileSize;
  how.selection = std::move(selection);
  how.edit = [edit](void* block) {
    auto& b = *static_cast<ConstellationBlock*>(block);
    b.starSize = {6.0, kUnitPixels};
    if (edit) edit(b);
  };
  return how;
}

Picture Stars(const Picture& in, const HostRender& how) {
  int16_t error = 0;
  Picture out = RenderThroughHost(kConstellationEffect, in, how, &error);
  EXPECT_EQ(error, 0);
  return out;
}

// Red on the left, blue on the right of column 60.
Picture TwoHalves() {
  Picture p{120, 90, ps::plugInModeRGBColor, 3, false, {}};
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) p.pixels.insert(p.pixels.end(), {uint8_t(x < 60 ? 200 : 0), 0, uint8_t(x < 60 ? 0 : 200)});
  return p;
}

TEST(Constellation, EdgeStarsLineTheEdgesInTheirColoursOrBurnWhite) {
  const Picture in = TwoHalves();
  const auto edgesOnly = [](ConstellationBlock& b) {
    b.interiorStarDensity = 0.0;
    b.twinkleAmount = 0.0;
    b.overdrive = 0.0;
  };
  const Picture coloured = Stars(in, With(edgesOnly));
  int lit = 0;
  for (int y = 0; y < in.height; ++y)
    for (int x = 0; x < in.width; ++x) {
      const uint8_t* px = coloured.At(x, y);
      if (px[0] == 0 && px[1] == 0 && px[2] == 0) continue;
      ++lit;
      // Round stars of radius 4.5 at most, centred next to the edge, in red
      // or blue: never any green.
      EXPECT_LE(std::abs(x - 59.5), 6.0) << x << "," << y;
      EXPECT_EQ(px[1], 0) << x << "," << y;
    }
  EXPECT_GT(lit, in.height);

  const Picture white = Stars(in, With([&](ConstellationBlock& b) { edgesOnly(b), b.overdrive = 100.0; }));
  for (int y = 0; y < in.height; ++y)
    for (int x = 0; x < in.width; ++x) {
      const uint8_t* px = white.At(x, y);
      ASSERT_TRUE(px[0] == px[1] && px[1] == px[2]) << x << "," << y;
    }
}

TEST(Constellation, InteriorStarsFollowTheirDensityOverTheBackground) {
  Picture flat{120, 90, ps::plugInModeRGBColor, 3, true, {}};
  for (int i = 0; i < 120 * 90; ++i) flat.pixels.insert(flat.pixels.end(), {30, 160, 90, 255});
  // Share of pixels the stars changed, over a background of `fill`.
  const auto starred = [&](double density, LayerFill fill) {
    const Picture out = Stars(flat, With([&](ConstellationBlock& b) { b.interiorStarDensity = density, b.backgroundFill = fill; }));
    int changed = 0, transparent = 0;
    for (int i = 0; i < 120 * 90; ++i) {
      const uint8_t* px = &out.pixels[size_t(i) * 4];
      const uint8_t background[4] = {fill.mode == kFillWithColor ? uint8_t(0) : uint8_t(30),
                                     fill.mode == kFillWithColor ? uint8_t(0) : uint8_t(160),
                                     fill.mode == kFillWithColor ? uint8_t(0) : uint8_t(90), 255};
      changed += !std::equal(px, px + 3, background) || (fill.mode != kFillTransparent && px[3] != 255);
      transparent += px[3] == 0;
    }
    EXPECT_TRUE(fill.mode != kFillTransparent || transparent > 120 * 90 / 2);
    return double(changed) / (120 * 90);
  };
  const LayerFill black{kFillWithColor, Color::RGB(0, 0, 0)};
  EXPECT_EQ(starred(0.0, black), 0.0);  // a picture without edges gets interior stars only
  const double some = starred(10.0, black), more = starred(40.0, black);
  EXPECT_GT(some, 0.02);
  EXPECT_GT(more, 2.0 * some);
  EXPECT_GT(starred(10.0, {kFillKeepOriginal, {}}), 0.02);
  EXPECT_GT(starred(10.0, {kFillTransparent, {}}), 0.02);
}

TEST(Constellation, SelectionTilesPreviewAndSeedAgree) {
  constexpr int kW = 203, kH = 151;
  const Picture in = TestPicture(kW, kH);
  const std::vector<uint8_t> oval = OvalSelection(kW, kH);
  const Picture whole = Stars(in, With({}, oval));
  EXPECT_GT(MeanDifference(whole, in), 5.0);
  for (const int tile : {37, 100}) EXPECT_EQ(Stars(in, With({}, oval, tile)).pixels, whole.pixels) << tile;
  EXPECT_GT(MeanDifference(Stars(in, With([](ConstellationBlock& b) { b.randomSeed = 2; }, oval)), whole), 1.0);
  // Beyond the reach of the largest twinkle the picture is left alone.
  for (int x = 0; x < 10; ++x) ASSERT_TRUE(std::equal(in.At(x, kH / 2), in.At(x, kH / 2) + 3, whole.At(x, kH / 2)));

  // The preview shows every third pixel of the full-size stars exactly.
  const Picture reduced = TestPicture(70, 50);
  Picture full = reduced;
  full.width *= 3, full.height *= 3;
  full.pixels.clear();
  for (int y = 0; y < full.height; ++y)
    for (int x = 0; x < full.width; ++x) full.pixels.insert(full.pixels.end(), reduced.At(x / 3, y / 3), reduced.At(x / 3, y / 3) + 3);
  const std::vector<uint8_t> selection = OvalSelection(full.width, full.height);
  HostRender how;
  how.selection = selection;
  const Picture big = RenderThroughHost(kConstellationEffect, full, how);
  const Picture preview = RenderPreview(kConstellationEffect, full, 3, how);
  ASSERT_EQ(preview.pixels.size(), reduced.pixels.size());
  for (int y = 0; y < preview.height; ++y)
    for (int x = 0; x < preview.width; ++x)
      ASSERT_TRUE(std::equal(preview.At(x, y), preview.At(x, y) + 3, big.At(3 * x, 3 * y))) << x << "," << y;
}

TEST(Constellation, TwinkleRotationOnlyWithTwinkles) {
  struct Control : ParameterControl {
    void Enable(bool on) override { enabled = on; }
    bool enabled = false;
  };
  Constellation effect;
  ConstellationBlock b;
  effect.SetDefaults(&b);
  ParameterList list;
  ASSERT_EQ(effect.BuildParameters(list, &b), 0);
  std::vector<Control> controls(size_t(list.count));
  for (int32_t i = 0; i < list.count; ++i) list.items[size_t(i)]->control = &controls[size_t(i)];
  for (const double twinkle : {75.0, 0.0}) {
    b.twinkleAmount = twinkle;
    ASSERT_EQ(effect.UpdateParameterStates(list, &b), 0);
    for (int32_t i = 0; i < list.count; ++i)
      EXPECT_EQ(controls[size_t(i)].enabled, twinkle > 0.0 || !list.items[size_t(i)]->HasKey(ps::FourCC("COtr")));
  }
}

TEST(Constellation, DefaultsLookAsTheyDid) {
  int16_t error = 0;
  HostRender how;
  how.selection = OvalSelection(160, 120);
  ExpectMatchesReference("constellation-defaults",
                         RenderThroughHost(kConstellationEffect, TestPicture(160, 120), how, &error), kEdgesMayRound);
  EXPECT_EQ(error, 0);
}

}  // namespace
}  // namespace kv::test
