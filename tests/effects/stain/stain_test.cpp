// Stain through the entry point: the rim's profile worked out by hand, the
// ring, the selection, and agreement between seeds, tiles, whole renders and
// the preview.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "effects/stain/stain.h"
#include "tests/effects/effect_harness.h"
#include "tests/effects/reference.h"

namespace kv::test {
namespace {

constexpr int kW = 120, kH = 90;
constexpr Rect kBox{20, 15, 100, 75};
constexpr uint8_t kInk[3] = {20, 60, 200};

std::vector<uint8_t> BoxSelection() {
  std::vector<uint8_t> s(size_t(kW) * kH, 0);
  for (int y = kBox.top; y < kBox.bottom; ++y)
    for (int x = kBox.left; x < kBox.right; ++x) s[size_t(y) * kW + x] = 255;
  return s;
}

HostRender With(std::function<void(StainBlock&)> edit, std::vector<uint8_t> selection, int tileSize = 0) {
  HostRender how;
  how.tileSize = tileSize;
  how.selection = std::move(selection);
  how.edit = [edit](void* block) {
    if (edit) edit(*static_cast<StainBlock*>(block));
  };
  return how;
}

Picture Stained(const Picture& in, const HostRender& how) {
  int16_t error = 0;
  Picture out = RenderThroughHost(kStainEffect, in, how, &error);
  EXPECT_EQ(error, 0);
  return out;
}

// Smooth, fully opaque ink 8 pixels wide at the rim (12 filled): no noise,
// so every pixel's opacity follows from its depth into the box alone.
void PlainInk(StainBlock& b) {
  b.edgeWidth = {8.0, kUnitPixels};
  b.roughness = 0.0;
  b.internalOpacity = 100.0;
  b.overallOpacity = 100.0;
  b.stainColor = Color::RGB(kInk[0], kInk[1], kInk[2]);
}

bool IsInk(const Picture& p, int x, int y) { return std::equal(kInk, kInk + 3, p.At(x, y)); }
bool Same(const Picture& a, const Picture& b, int x, int y) { return std::equal(a.At(x, y), a.At(x, y) + 3, b.At(x, y)); }

TEST(Stain, DefaultsLookAsTheyDid) {
  ExpectMatchesReference("stain-defaults", Stained(TestPicture(128, 96), With({}, OvalSelection(128, 96))),
                         kEdgesMayRound);
}

TEST(Stain, FilledAndRingFollowTheDistanceFromTheEdge) {
  const Picture in = TestPicture(kW, kH);
  // The box's left edge: the contour runs down x = 19.5, so pixel x lies
  // x - 19.5 inside. The first pixel (0.5 in) is the soft outer pixel.
  const Picture filled = Stained(in, With(PlainInk, BoxSelection()));
  const int y = 45;
  EXPECT_TRUE(Same(filled, in, 19, y));
  EXPECT_FALSE(Same(filled, in, 20, y));
  EXPECT_FALSE(IsInk(filled, 20, y));
  for (int x = 21; x < 60; ++x) EXPECT_TRUE(IsInk(filled, x, y)) << x;

  // The ring is opaque between its soft borders and stops at the edge width.
  const Picture ring = Stained(in, With([](StainBlock& b) { PlainInk(b), b.ringStain = true; }, BoxSelection()));
  for (int x = 21; x <= 26; ++x) EXPECT_TRUE(IsInk(ring, x, y)) << x;
  for (int x = 29; x < 60; ++x) EXPECT_TRUE(Same(ring, in, x, y)) << x;

  // Without the rim's noise the filled stain fades from the rim to the
  // internal opacity: darker at the rim than in the middle.
  const Picture faded = Stained(in, With([](StainBlock& b) { PlainInk(b), b.internalOpacity = 20.0; }, BoxSelection()));
  auto distance = [&](int x) {
    int d = 0;
    for (int c = 0; c < 3; ++c) d += std::abs(faded.At(x, y)[c] - kInk[c]);
    return d;
  };
  EXPECT_LT(distance(22), distance(26));
  EXPECT_LT(distance(26), distance(45));
}

TEST(Stain, UnselectedPixelsStayAndTilesSeedsAndPreviewAgree) {
  const Picture in = TestPicture(kW, kH, ps::plugInModeRGBColor, 3, true);
  const Picture out = Stained(in, With({}, BoxSelection()));
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      if (kBox.Contains(x, y)) continue;
      ASSERT_TRUE(std::equal(in.At(x, y), in.At(x, y) + 4, out.At(x, y))) << x << "," << y;
    }

  const std::vector<uint8_t> oval = OvalSelection(kW, kH);
  const auto rough = [](StainBlock& b) { b.roughness = 60.0, b.edgeWidth = {10.0, kUnitPixels}; };
  const Picture whole = Stained(in, With(rough, oval));
  EXPECT_NE(whole.pixels, in.pixels);
  for (const int tile : {17, 50}) EXPECT_EQ(Stained(in, With(rough, oval, tile)).pixels, whole.pixels) << tile;
  const Picture ring = Stained(in, With([&](StainBlock& b) { rough(b), b.ringStain = true; }, oval));
  EXPECT_EQ(Stained(in, With([&](StainBlock& b) { rough(b), b.ringStain = true; }, oval, 29)).pixels, ring.pixels);
  EXPECT_NE(Stained(in, With([&](StainBlock& b) { rough(b), b.randomSeed = 9; }, oval)).pixels, whole.pixels);

  auto seeded = [](int seed) {
    return [seed](void* block) {
      auto& b = *static_cast<StainBlock*>(block);
      b.roughness = 80.0;
      b.edgeWidth = {30.0, kUnitPixels};
      b.randomSeed = uint16_t(seed);
    };
  };
  HostRender how;
  how.edit = seeded(1);
  how.selection = OvalSelection(400, 300);
  const PreviewDifference d = ComparePreview(kStainEffect, SmoothPicture(400, 300), 2, how, seeded(2));
  EXPECT_LT(d.same, 1.5);
  EXPECT_GT(d.other, 1.5 * d.same);
}

}  // namespace
}  // namespace kv::test
