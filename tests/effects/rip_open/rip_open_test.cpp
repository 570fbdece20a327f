// Rip Open through the entry point: the tear points, the fill, the flaps and
// their underside, the selection, and agreement between seeds, tiles, whole
// renders and the preview.
#include <gtest/gtest.h>

#include <algorithm>

#include "effects/rip_open/rip_open.h"
#include "effects/rip_open/tear_points.h"
#include "parameters/parameters.h"
#include "tests/effects/effect_harness.h"
#include "tests/effects/reference.h"

namespace kv::test {
namespace {

constexpr int kW = 120, kH = 90;

HostRender With(std::function<void(RipOpenBlock&)> edit, std::vector<uint8_t> selection, int tileSize = 0) {
  HostRender how;
  how.tileSize = tileSize;
  how.selection = std::move(selection);
  how.edit = [edit](void* block) {
    if (edit) edit(*static_cast<RipOpenBlock*>(block));
  };
  return how;
}

Picture Ripped(const Picture& in, const HostRender& how) {
  int16_t error = 0;
  Picture out = RenderThroughHost(kRipOpenEffect, in, how, &error);
  EXPECT_EQ(error, 0);
  return out;
}

std::vector<uint8_t> Box(const Rect& r) {
  std::vector<uint8_t> s(size_t(kW) * kH, 0);
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) s[size_t(y) * kW + x] = 255;
  return s;
}

// Pixels of r within `near` levels of the colour in every channel.
int Count(const Picture& p, const Rect& r, const uint8_t (&colour)[3], int near = 0) {
  int n = 0;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x)
      n += std::equal(colour, colour + 3, p.At(x, y), [&](int a, int b) { return std::abs(a - b) <= near; });
  return n;
}

TEST(RipOpen, DefaultsLookAsTheyDid) {
  ExpectMatchesReference("rip-open-defaults", Ripped(TestPicture(128, 96), With({}, OvalSelection(128, 96))),
                         kEdgesMayRound);
}

TEST(RipOpen, TearPointsKeepTheirGroundAndRepeatWithTheSeed) {
  std::vector<Point> edge;
  for (int x = 0; x < 400; ++x) edge.push_back({x, 0});
  const TearShape shape{0.5, 0.8};
  RandomNumberGenerator a(7), b(7);
  const std::vector<Point> tears = PickTearPoints(edge, 40.0, shape, {0, 0, 400, 100}, a);
  EXPECT_EQ(PickTearPoints(edge, 40.0, shape, {0, 0, 400, 100}, b), tears);
  EXPECT_EQ(a.State(), b.State()) << "a draw for every candidate, taken or not";
  // Half-sizes lie within (1 -+ 0.4) x 22 pixels: squares never overlap.
  ASSERT_GE(tears.size(), 8u);
  ASSERT_LE(tears.size(), 400u / 14);
  std::vector<int> xs;
  for (const Point& p : tears) xs.push_back(p.x);
  std::sort(xs.begin(), xs.end());
  for (size_t i = 1; i < xs.size(); ++i) EXPECT_GT(xs[i] - xs[i - 1], 2 * 13) << i;
}

TEST(RipOpen, TearsOpenTheSelectionAlone) {
  const Picture in = TestPicture(kW, kH);
  const Rect box{20, 15, 100, 75};
  constexpr uint8_t kFill[3] = {0, 255, 0}, kBack[3] = {255, 0, 255};
  auto coloured = [&](RipOpenBlock& b) {
    b.insideFill = {kFillWithColor, Color::RGB(kFill[0], kFill[1], kFill[2])};
    b.undersideColor = Color::RGB(kBack[0], kBack[1], kBack[2]);
    b.shadowWidth = {0.0, kUnitPixels};
  };
  const Picture out = Ripped(in, With(coloured, Box(box)));
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      if (!box.Contains(x, y)) {
        ASSERT_TRUE(std::equal(in.At(x, y), in.At(x, y) + 3, out.At(x, y))) << x << "," << y;
      }
  // A hole in the middle, flaps' undersides turned over, and the paper at
  // the edge still in place.
  EXPECT_GT(Count(out, {50, 35, 70, 55}, kFill), 300);
  EXPECT_GT(Count(out, box, kBack, 60), 100);  // lit, so not exactly
  int kept = 0;
  for (int x = box.left; x < box.right; ++x) kept += std::equal(in.At(x, 16), in.At(x, 16) + 3, out.At(x, 16));
  EXPECT_GT(kept, 60);
  // With the image on both sides no underside colour shows.
  EXPECT_EQ(Count(Ripped(in, With([&](RipOpenBlock& b) { coloured(b), b.sameUnderside = true; }, Box(box))), box, kBack, 60),
            0);
  // Too small to tear in two: untouched.
  EXPECT_EQ(Ripped(in, With(coloured, Box({50, 40, 51, 41}))).pixels, in.pixels);
}

TEST(RipOpen, SeedsTilesWholeRendersAndPreviewAgree) {
  const Picture layer = TestPicture(kW, kH, ps::plugInModeRGBColor, 3, true);
  const std::vector<uint8_t> oval = OvalSelection(kW, kH);
  const Picture whole = Ripped(layer, With({}, oval));
  EXPECT_NE(whole.pixels, layer.pixels);
  EXPECT_EQ(Ripped(layer, With({}, oval, 37)).pixels, whole.pixels);
  EXPECT_NE(Ripped(layer, With([](RipOpenBlock& b) { b.randomSeed = 2; }, oval)).pixels, whole.pixels);

  auto seeded = [](int seed) {
    return [seed](void* block) {
      auto& b = *static_cast<RipOpenBlock*>(block);
      b.insideFill.mode = kFillWithColor;
      b.randomSeed = uint16_t(seed);
    };
  };
  HostRender how;
  how.edit = seeded(1);
  how.selection = OvalSelection(400, 300);
  const PreviewDifference d = ComparePreview(kRipOpenEffect, SmoothPicture(400, 300), 2, how, seeded(2));
  EXPECT_LT(d.same, 4.0) << d.other;
  EXPECT_GT(d.other, 2.0 * d.same);
}

TEST(RipOpen, UndersideColourFollowsItsSwitch) {
  struct Control final : ParameterControl {
    void Enable(bool on) override { enabled = on; }
    bool enabled = false;
  };
  PeelingPaint effect;
  RipOpenBlock b;
  effect.SetDefaults(&b);
  ParameterList list;
  ASSERT_EQ(effect.BuildParameters(list, &b), 0);
  std::vector<Control> controls(size_t(list.count));
  for (int32_t i = 0; i < list.count; ++i) list.items[size_t(i)]->control = &controls[size_t(i)];
  for (const bool same : {false, true}) {
    b.sameUnderside = same;
    ASSERT_EQ(effect.UpdateParameterStates(list, &b), 0);
    for (int32_t i = 0; i < list.count; ++i)
      EXPECT_EQ(controls[size_t(i)].enabled, !(same && list.items[size_t(i)]->HasKey(ps::FourCC("PPpc")))) << i;
  }
}

}  // namespace
}  // namespace kv::test
