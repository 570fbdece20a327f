// Classic Mosaic: the edge strength worked out by hand, the edge lines, and
// the tiles through the entry point: where they lie, their colours, the
// grout, and agreement between tiles, whole renders, the preview and seeds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "effects/classic_mosaic/classic_mosaic.h"
#include "effects/classic_mosaic/edge_lines.h"
#include "image/edge_strength.h"
#include "tests/effects/effect_harness.h"
#include "tests/effects/reference.h"

namespace kv::test {
namespace {

TEST(EdgeStrength, AveragesTheColoursAndTakesAStrongerAlpha) {
  // A vertical step from 0 to 100 in every channel between columns 1 and 2:
  // |Gx| = 4 x 100 per channel, so 0.125 x 400 + 0.5 truncates to 50.
  for (const PixelFormat f : {PixelFormat::Of(kModeGrey, 1, false), PixelFormat::Of(kModeRGB, 3, false),
                              PixelFormat::Of(kModeCMYK, 4, false), PixelFormat::Of(kModeRGB, 3, true)}) {
    int32_t err = 0;
    ByteImage image(err, {0, 0, 4, 3}, f);
    for (int32_t y = 0; y < 3; ++y)
      for (int32_t x = 0; x < 4; ++x) {
        std::fill_n(image.Address(x, y), f.colorChannels, uint8_t(x < 2 ? 0 : 100));
        if (f.hasAlpha) image.Address(x, y)[3] = x < 3 ? 100 : 255;  // the alpha steps at column 3 only
      }
    EXPECT_EQ(EdgeStrength(image, {1, 1}), 50) << f.channelCount;
    // Column 2 sees the colour step on its left and, with alpha, the alpha
    // step of 155 on its right: 0.125 x 620 + 0.5 = 78.
    EXPECT_EQ(EdgeStrength(image, {2, 1}), f.hasAlpha ? 78 : 50) << f.channelCount;
  }
}

// A picture whose colour tells where it was taken: red x / 2, green y / 2,
// too gentle a slope for any edge; blue steps from 40 to 220 at column 120.
Picture Positions(int w, int h, bool step) {
  Picture p{w, h, ps::plugInModeRGBColor, 3, false, {}};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      p.pixels.push_back(uint8_t(x / 2));
      p.pixels.push_back(uint8_t(y / 2));
      p.pixels.push_back(step && x >= 120 ? 220 : 40);
    }
  return p;
}

TEST(EdgeLines, AStepBecomesOneLineAndShortGapsClose) {
  // A white line on black, broken for two pixels: its two edges merge, the
  // gap closes, and what is left is one pixel wide.
  int32_t err = 0;
  ByteImage image(err, {0, 0, 100, 120}, PixelFormat::Of(kModeGrey, 1, false));
  image.Fill(0);
  for (int32_t y = 10; y < 110; ++y)
    if (y != 60 && y != 61) *image.Address(50, y) = 255;
  ByteMask selection(err, image.bounds);
  selection.Fill(255);
  ByteMask lines, work;
  ASSERT_EQ(TraceEdgeLines(image, selection, {50.0, 12.0}, lines, work, nullptr, nullptr), 0);
  for (int32_t y = 15; y < 105; ++y) {
    int32_t near = 0, far = 0;
    for (int32_t x = 0; x < 100; ++x) (std::abs(x - 50) <= 3 ? near : far) += lines(x, y) == 0;
    EXPECT_EQ(near, 1) << y;
    EXPECT_EQ(far, 0) << y;
  }
}

HostRender With(std::function<void(MosaicBlock&)> edit, std::vector<uint8_t> selection = {}, int tileSize = 0) {
  HostRender how;
  how.tileSize = tileSize;
  how.selection = std::move(selection);
  how.edit = [edit](void* block) {
    auto& b = *static_cast<MosaicBlock*>(block);
    b.tileSize = {12.0, kUnitPixels};
    if (edit) edit(b);
  };
  return how;
}

Picture Mosaic(const Picture& in, const HostRender& how) {
  int16_t error = 0;
  Picture out = RenderThroughHost(kClassicMosaicEffect, in, how, &error);
  EXPECT_EQ(error, 0);
  return out;
}

// The grout (110, 110, 110) is told from the tiles by its blue.
double GroutShare(const Picture& p) {
  int64_t grout = 0;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) grout += p.At(x, y)[2] == 110;
  return double(grout) / (double(p.width) * p.height);
}

TEST(ClassicMosaic, TilesTakeTheColourWhereTheyLieAndCoverTheArea) {
  constexpr int kW = 240, kH = 180;
  constexpr double T = 12.0;
  const Picture in = Positions(kW, kH, false);
  const Picture out = Mosaic(in, With([](MosaicBlock& b) { b.groutWidth = 0.0; }));
  // Every pixel a tile covers whole names the centroid of the tile's
  // pixels, which lies within the tile.
  std::set<std::pair<int, int>> tiles;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const uint8_t* px = out.At(x, y);
      if (px[2] != 40) continue;
      tiles.insert({px[0], px[1]});
      ASSERT_LT(std::hypot(2.0 * px[0] - x, 2.0 * px[1] - y), 1.2 * T + 2.0) << x << "," << y;
    }
  const double expected = kW * kH / (T * T);
  EXPECT_GT(double(tiles.size()), 0.7 * expected);
  EXPECT_LT(double(tiles.size()), 1.3 * expected);

  // Without grout the tiles leave little uncovered; grout shows between
  // them as its width grows.
  const double bare = GroutShare(out);
  EXPECT_LT(bare, 0.06);
  const double some = GroutShare(Mosaic(in, With({})));
  const double wide = GroutShare(Mosaic(in, With([](MosaicBlock& b) { b.groutWidth = 100.0; })));
  EXPECT_GT(some, bare + 0.1);
  EXPECT_GT(wide, some + 0.1);
}

TEST(ClassicMosaic, RowsFollowEdgesWithGroutAlongThem) {
  constexpr int kW = 240, kH = 180;
  const Picture in = Positions(kW, kH, true);
  const Picture out = Mosaic(in, With({}));
  int groutOnEdge = 0;
  for (int y = 20; y < kH - 20; ++y) {
    // No tile reaches across the edge ...
    for (int x = 0; x < kW; ++x) {
      const uint8_t blue = out.At(x, y)[2];
      EXPECT_FALSE(x < 117 && blue == 220) << x << "," << y;
      EXPECT_FALSE(x > 122 && blue == 40) << x << "," << y;
    }
    // ... and the grout runs along it.
    groutOnEdge += out.At(119, y)[2] == 110 || out.At(120, y)[2] == 110;
  }
  EXPECT_GT(groutOnEdge, (kH - 40) * 9 / 10);
}

TEST(ClassicMosaic, SelectionTilesPreviewAndSeedAgree) {
  constexpr int kW = 203, kH = 151;
  const Picture in = TestPicture(kW, kH, ps::plugInModeRGBColor, 3, true);
  const std::vector<uint8_t> oval = OvalSelection(kW, kH);
  const Picture whole = Mosaic(in, With({}, oval));
  // Unselected pixels keep the picture (the colour of a transparent one does
  // not count).
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const int kept = in.At(x, y)[3] == 0 ? 1 : 4;
      ASSERT_TRUE(oval[size_t(y) * kW + x] != 0 || std::equal(in.At(x, y) + 4 - kept, in.At(x, y) + 4, whole.At(x, y) + 4 - kept));
    }
  EXPECT_GT(MeanDifference(whole, in), 5.0);
  for (const int tile : {37, 100}) EXPECT_EQ(Mosaic(in, With({}, oval, tile)).pixels, whole.pixels) << tile;
  EXPECT_GT(MeanDifference(Mosaic(in, With([](MosaicBlock& b) { b.randomSeed = 2; }, oval)), whole), 1.0);

  // The preview shows every fourth pixel of the full-size mosaic exactly.
  const Picture reduced = TestPicture(60, 45);
  Picture full = reduced;
  full.width *= 4, full.height *= 4;
  full.pixels.clear();
  for (int y = 0; y < full.height; ++y)
    for (int x = 0; x < full.width; ++x) full.pixels.insert(full.pixels.end(), reduced.At(x / 4, y / 4), reduced.At(x / 4, y / 4) + 3);
  const std::vector<uint8_t> selection = OvalSelection(full.width, full.height);
  HostRender how;
  how.edit = [](void* block) { static_cast<MosaicBlock*>(block)->tileSize = {14.0, kUnitPixels}; };
  how.selection = selection;
  const Picture big = RenderThroughHost(kClassicMosaicEffect, full, how);
  const Picture preview = RenderPreview(kClassicMosaicEffect, full, 4, how);
  ASSERT_EQ(preview.pixels.size(), reduced.pixels.size());
  for (int y = 0; y < preview.height; ++y)
    for (int x = 0; x < preview.width; ++x)
      ASSERT_TRUE(std::equal(preview.At(x, y), preview.At(x, y) + 3, big.At(4 * x, 4 * y))) << x << "," << y;
}

TEST(ClassicMosaic, DefaultsLookAsTheyDid) {
  int16_t error = 0;
  HostRender how;
  how.selection = OvalSelection(160, 120);
  ExpectMatchesReference("classic-mosaic-defaults",
                         RenderThroughHost(kClassicMosaicEffect, TestPicture(160, 120), how, &error), kEdgesMayRound);
  EXPECT_EQ(error, 0);
}

}  // namespace
}  // namespace kv::test
