// Burnt Edges through the entry point: its look, where the image burns away,
// where the band lies and what the fill modes leave, and agreement between
// tiles, whole renders and the dialog's preview.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "effects/burnt_edges/burn_transforms.h"
#include "effects/burnt_edges/burnt_edges.h"
#include "tests/effects/effect_harness.h"
#include "tests/effects/reference.h"

namespace kv::test {
namespace {

constexpr int kW = 200, kH = 140;
constexpr Rect kBox{40, 30, 160, 110};  // the selected rectangle
constexpr uint8_t kFill[3] = {10, 200, 30};

std::vector<uint8_t> BoxSelection() {
  std::vector<uint8_t> s(size_t(kW) * kH, 0);
  for (int y = kBox.top; y < kBox.bottom; ++y)
    for (int x = kBox.left; x < kBox.right; ++x) s[size_t(y) * kW + x] = 255;
  return s;
}

// How far (x, y) lies inside the box (negative outside), by the nearer side.
int Depth(int x, int y) {
  const int inside = std::min({x - kBox.left, kBox.right - 1 - x, y - kBox.top, kBox.bottom - 1 - y});
  if (inside >= 0) return inside;
  const int dx = std::max({kBox.left - x, x - (kBox.right - 1), 0}), dy = std::max({kBox.top - y, y - (kBox.bottom - 1), 0});
  return -int(std::ceil(std::hypot(dx, dy)));
}

using Edit = std::function<void(BurntEdgesBlock&)>;

// A 4 pixel burn at full opacity, filled with kFill, then `edit`.
HostRender With(const Edit& edit = {}, std::vector<uint8_t> selection = BoxSelection()) {
  HostRender how;
  how.selection = std::move(selection);
  how.edit = [edit](void* block) {
    auto& b = *static_cast<BurntEdgesBlock*>(block);
    b.burnWidth = {4.0, kUnitPixels};
    b.opacity = 100.0;
    b.fill = {kFillWithColor, Color::RGB(kFill[0], kFill[1], kFill[2])};
    if (edit) edit(b);
  };
  return how;
}

Picture Burn(const Picture& in, const HostRender& how) {
  int16_t error = 0;
  Picture out = RenderThroughHost(kBurntEdgesEffect, in, how, &error);
  EXPECT_EQ(error, 0);
  return out;
}

bool Same(const Picture& a, const Picture& b, int x, int y) {
  return std::equal(a.At(x, y), a.At(x, y) + a.colorPlanes, b.At(x, y));
}
bool Filled(const Picture& p, int x, int y) { return std::equal(kFill, kFill + 3, p.At(x, y)); }

// With width W = 4 the eroded edge lies at most 4 pixels in; the band runs
// 4 W further, and the blur of the band's colours reaches 3 more.
constexpr int kReach = 4 + 16 + 4;

TEST(BurntEdges, LooksAsItDid) {
  // The defaults at 40 pixels to the inch around an oval; and a layer burnt
  // inside, hollow, keeping the original, with the edge moved out.
  HostRender how;
  how.selection = OvalSelection(100, 75);
  how.resolution = 40.0;
  ExpectMatchesReference("burnt-edges-defaults", Burn(TestPicture(100, 75), how), kWithinOneLevel);
  Picture layer = TestPicture(100, 75, ps::plugInModeRGBColor, 3, true);
  for (size_t i = 0; i < how.selection.size(); ++i) layer.pixels[i * 4 + 3] = how.selection[i];
  HostRender inside;
  inside.resolution = 40.0;
  inside.edit = [](void* block) {
    auto& b = *static_cast<BurntEdgesBlock*>(block);
    b.burnInside = b.hollowEdges = true;
    b.fill.mode = kFillKeepOriginal;
    b.contract = {-3.0, kUnitPixels};
    b.burnRoughness = 70.0;
    b.burnColor = Color::RGB(230, 60, 20);
  };
  ExpectMatchesReference("burnt-edges-inside-layer", Burn(layer, inside), kWithinOneLevel);
}

TEST(BurntEdges, BurnsAlongTheEdgeAndFillsWhatBurntAway) {
  const Picture in = TestPicture(kW, kH);
  const Picture out = Burn(in, With());
  int band = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const int depth = Depth(x, y);
      ASSERT_TRUE(!(depth < 0) || Filled(out, x, y)) << x << "," << y;
      ASSERT_TRUE(!(depth > kReach) || Same(out, in, x, y)) << x << "," << y;
      if (depth >= 4 && depth < 12) band += std::abs(out.At(x, y)[0] - in.At(x, y)[0]) > 10;
    }
  EXPECT_GT(band, 2 * (kBox.Width() + kBox.Height()));  // darkened all round
}

TEST(BurntEdges, FillModesDecideWhatReplacesTheBurntArea) {
  const Picture in = TestPicture(kW, kH);
  const Picture solid = Burn(in, With());
  // Without an alpha channel transparency falls back to the fill colour.
  EXPECT_EQ(Burn(in, With([](BurntEdgesBlock& b) { b.fill.mode = kFillTransparent; })).pixels, solid.pixels);

  const Picture kept = Burn(in, With([](BurntEdgesBlock& b) { b.fill.mode = kFillKeepOriginal; }));
  int changed = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      ASSERT_TRUE(!(Depth(x, y) < 0) || Same(kept, in, x, y)) << x << "," << y;
      changed += !Same(kept, in, x, y);
    }
  EXPECT_GT(changed, 2 * (kBox.Width() + kBox.Height()));

  const Picture layer = TestPicture(kW, kH, ps::plugInModeRGBColor, 3, true);
  const Picture clear = Burn(layer, With([](BurntEdgesBlock& b) { b.fill.mode = kFillTransparent; }));
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      ASSERT_TRUE(Depth(x, y) >= 0 || clear.At(x, y)[3] == 0) << x << "," << y;
}

TEST(BurntEdges, BurnInsideSwapsTheSides) {
  const Picture in = TestPicture(kW, kH);
  const Picture out = Burn(in, With([](BurntEdgesBlock& b) { b.burnInside = true; }));
  int band = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const int depth = Depth(x, y);
      ASSERT_TRUE(!(depth >= 5) || Filled(out, x, y)) << x << "," << y;
      ASSERT_TRUE(!(depth < -kReach) || Same(out, in, x, y)) << x << "," << y;
      if (depth <= -4 && depth > -12) band += !Same(out, in, x, y);
    }
  EXPECT_GT(band, 2 * (kBox.Width() + kBox.Height()));
}

int FilledInside(const Picture& p) {
  int n = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) n += Depth(x, y) >= 0 && Filled(p, x, y);
  return n;
}

TEST(BurntEdges, ContractAndHollowEdgesMoveTheBurntEdge) {
  const Picture in = TestPicture(kW, kH);
  const Picture plain = Burn(in, With());
  const Picture hollow = Burn(in, With([](BurntEdgesBlock& b) { b.hollowEdges = true; }));
  // The hollow reaches about 3 pixels past the eroded edge all round.
  EXPECT_GT(FilledInside(hollow), FilledInside(plain) + 2 * 2 * (kBox.Width() + kBox.Height()));

  const Picture in10 = Burn(in, With([](BurntEdgesBlock& b) { b.contract = {10.0, kUnitPixels}; }));
  const Picture out10 = Burn(in, With([](BurntEdgesBlock& b) { b.contract = {-10.0, kUnitPixels}; }));
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const int depth = Depth(x, y);
      ASSERT_TRUE(!(depth >= 0 && depth < 9) || Filled(in10, x, y)) << x << "," << y;
      ASSERT_TRUE(!(depth < 0 && depth > -5) || !Filled(out10, x, y)) << x << "," << y;
    }
}

TEST(BurntEdges, SeedDecidesAndTilesAgreeAwayFromTheirBorders) {
  // A tile paints the band within itself and blurs it there, so that within
  // the blur's reach of its border the band darkens, as at the image's;
  // everywhere else tiles come out as the whole does. Taller than a band of
  // rows, the whole is burnt band by band, and the joins must not show.
  const Picture in = TestPicture(120, 1100, ps::plugInModeRGBColor, 3, true);
  const HostRender how = With({}, OvalSelection(120, 1100));
  const Picture whole = Burn(in, how);
  for (const int size : {13, 37}) {
    HostRender tiled = how;
    tiled.tileSize = size;
    const Picture part = Burn(in, tiled);
    // Tiles run from the bottom-left corner.
    const auto inward = [size](int i) { return std::min(i % size, size - 1 - i % size); };
    for (int y = 0; y < in.height; ++y)
      for (int x = 0; x < in.width; ++x)
        if (std::min(inward(x), inward(in.height - 1 - y)) >= 3) {
          ASSERT_TRUE(std::equal(part.At(x, y), part.At(x, y) + 4, whole.At(x, y))) << size << ": " << x << "," << y;
        }
  }
  EXPECT_NE(Burn(in, With([](BurntEdgesBlock& b) { b.randomSeed = 1; }, OvalSelection(120, 1100))).pixels,
            whole.pixels);
  // Without a selection the image's own border burns.
  EXPECT_TRUE(Filled(Burn(TestPicture(150, 90), With({}, {})), 0, 45));
}

TEST(BurntEdges, PreviewShowsTheSameBurn) {
  const HostRender how = With(
      [](BurntEdgesBlock& b) {
        b.burnWidth = {24.0, kUnitPixels};
        b.burnRoughness = 60.0;
      },
      OvalSelection(400, 300));
  for (const int factor : {2, 4}) {
    const PreviewDifference d = ComparePreview(kBurntEdgesEffect, SmoothPicture(400, 300), factor, how,
                                               [](void* block) {
                                                 static_cast<BurntEdgesBlock*>(block)->randomSeed = 4843;
                                               });
    EXPECT_LT(d.same, 6.0) << factor;
    EXPECT_GT(d.other, 1.5 * d.same) << factor;
  }
}

TEST(BurnTransform, BandDarkensTowardTheEdgeAndFadesAway) {
  // A straight edge at x = 9.5, kept to the right, noise switched off: the
  // band (b = 0, e = 80) is stretched by 1.5, so it ends 53.3 pixels in. The
  // raster is tall enough that its own top and bottom stay out of reach.
  const Rect r{0, 0, 200, 180};
  int32_t err = 0;
  ByteMask burnMask(err, r);
  burnMask.Fill(0);
  for (int y = 0; y < r.bottom; ++y)
    for (int x = 10; x < r.right; ++x) burnMask(x, y) = 255;
  const PixelFormat f = PixelFormat::Of(kModeGrey, 1, false);
  ByteImage out(err, r, f);
  out.Fill(99);
  NoiseField silent;
  silent.Init(err, {10.0, 10.0}, 0.0, 1, 1.0, false, 0, 0);
  CreateBurnTransform::Settings s;
  s.start = 0.0;
  s.end = 80.0;
  s.edgeColor = s.burnColor = s.fillPixel = BytePixel(f);
  s.edgeColor[0] = 0;
  s.burnColor[0] = 200;
  s.fillPixel[0] = 7;
  BandImage band(r, BytePixel(f));
  CreateBurnTransform t(silent, burnMask, band, out, s);
  t.Init(err, burnMask, s.end, r, 0.0, 1.0);
  ASSERT_EQ(err, 0);
  t.Run(err, nullptr, nullptr, 0.0, 1.0);
  ASSERT_EQ(err, 0);
  ByteImage image(err, r, f);
  band.CopyInto(image);

  const int y = 90;
  for (int x = 0; x < 10; ++x) EXPECT_EQ(*out.Address(x, y), 7) << "burnt away";
  EXPECT_EQ(*out.Address(10, y), 99) << "the kept side is not filled";
  // The colour is 75 % of the way to the edge colour at the edge, lightening
  // inward; the opacity falls from nearly full to nothing at the band's end.
  EXPECT_NEAR(*image.Address(10, y), 200 * 0.25, 4);
  for (int x = 11; x < 63; ++x) {
    EXPECT_GE(*image.Address(x, y), *image.Address(x - 1, y)) << x;
    EXPECT_LE(burnMask(x, y), burnMask(x - 1, y)) << x;
  }
  EXPECT_GT(burnMask(10, y), 250);
  EXPECT_GT(burnMask(40, y), 0);
  EXPECT_EQ(burnMask(64, y), 0);
  EXPECT_EQ(*image.Address(64, y), 0) << "beyond the band the image is not written";
}

}  // namespace
}  // namespace kv::test
