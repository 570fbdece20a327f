// Crumple through the entry point: its look, the pull towards the centre and
// when it stays off, seamless tiling, the selection, and agreement between
// seeds, tiles, whole renders and the preview.
#include <gtest/gtest.h>

#include <cmath>

#include "effects/crumple/crumple.h"
#include "entry/entry.h"
#include "image/vector_kernels.h"
#include "tests/effects/effect_harness.h"
#include "tests/effects/reference.h"
#include "tests/support/vector_paths.h"

namespace kv::test {
namespace {

HostRender With(std::function<void(CrumpleBlock&)> edit, std::vector<uint8_t> selection = {}, int tileSize = 0) {
  HostRender how;
  how.tileSize = tileSize;
  how.selection = std::move(selection);
  how.edit = [edit](void* block) {
    if (edit) edit(*static_cast<CrumpleBlock*>(block));
  };
  return how;
}

Picture Crumpled(const Picture& in, const HostRender& how = {}) {
  int16_t error = 0;
  Picture out = RenderThroughHost(kCrumpleEffect, in, how, &error);
  EXPECT_EQ(error, 0);
  return out;
}

// Grey with one black column at x = 40.
Picture Striped(int w, int h) {
  Picture p = TestPicture(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) std::fill_n(p.pixels.data() + (size_t(y) * w + x) * 3, 3, uint8_t(x == 40 ? 0 : 160));
  return p;
}

// Rows whose darkest pixel is not in column 40.
int RowsMoved(const Picture& p) {
  int moved = 0;
  for (int y = 0; y < p.height; ++y) {
    int darkest = 0;
    for (int x = 0; x < p.width; ++x)
      if (p.At(x, y)[0] < p.At(darkest, y)[0]) darkest = x;
    moved += darkest != 40;
  }
  return moved;
}

// Mean difference over the channels between two columns.
double ColumnDifference(const Picture& p, int a, int b) {
  double sum = 0;
  for (int y = 0; y < p.height; ++y)
    for (int c = 0; c < p.Planes(); ++c) sum += std::abs(p.At(a, y)[c] - p.At(b, y)[c]);
  return sum / (p.height * p.Planes());
}

TEST(Crumple, DefaultsLookAsTheyDid) {
  ExpectMatchesReference("crumple-defaults", Crumpled(TestPicture(128, 96)), kEdgesMayRound);
}

TEST(Crumple, PullsThePictureInUnlessToldNotTo) {
  const Picture in = Striped(120, 90);
  const auto deep = [](CrumpleBlock& b) { b.crumpleSize = {10.0, kUnitPixels}, b.crumpleForce = 100.0; };
  const Picture pulled = Crumpled(in, With(deep));
  EXPECT_GT(RowsMoved(pulled), 20);
  // The sheet shrank: the corners are the background now.
  EXPECT_EQ(pulled.At(0, 0)[0], 255);
  EXPECT_EQ(RowsMoved(Crumpled(in, With([&](CrumpleBlock& b) { deep(b), b.distortImage = false; }))), 0);
  const Picture tiled = Crumpled(in, With([&](CrumpleBlock& b) { deep(b), b.seamlessTile = true; }));
  EXPECT_EQ(RowsMoved(tiled), 0);
  EXPECT_NE(tiled.pixels, in.pixels) << "still lit";

  // Seamless, the right edge runs on into the left one as neighbouring
  // columns do; otherwise the two edges are unrelated.
  const Picture grey = Striped(150, 90);
  const Picture seamless = Crumpled(grey, With([&](CrumpleBlock& b) { deep(b), b.seamlessTile = true; }));
  const Picture plain = Crumpled(grey, With([&](CrumpleBlock& b) { deep(b), b.distortImage = false; }));
  const double neighbours = ColumnDifference(seamless, 100, 101);
  EXPECT_LT(ColumnDifference(seamless, 149, 0), 2.0 * neighbours);
  EXPECT_GT(ColumnDifference(plain, 149, 0), 3.0 * neighbours);
}

TEST(Crumple, UnselectedPixelsStayAndTilesSeedsAndPreviewAgree) {
  constexpr int kW = 120, kH = 90;
  std::vector<uint8_t> box(size_t(kW) * kH, 0);
  for (int y = 20; y < 70; ++y)
    for (int x = 30; x < 100; ++x) box[size_t(y) * kW + x] = 255;
  const Picture in = TestPicture(kW, kH);
  const Picture boxed = Crumpled(in, With({}, box));
  int changed = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const bool same = std::equal(in.At(x, y), in.At(x, y) + 3, boxed.At(x, y));
      if (box[size_t(y) * kW + x] == 0) ASSERT_TRUE(same) << x << "," << y;
      else changed += !same;
    }
  EXPECT_GT(changed, 3000);

  const Picture layer = TestPicture(131, 97, ps::plugInModeRGBColor, 3, true);
  const std::vector<uint8_t> oval = OvalSelection(131, 97);
  const Picture whole = Crumpled(layer, With({}, oval));
  for (const int tile : {19, 64}) EXPECT_EQ(Crumpled(layer, With({}, oval, tile)).pixels, whole.pixels) << tile;
  EXPECT_NE(Crumpled(layer, With([](CrumpleBlock& b) { b.randomSeed = 1; }, oval)).pixels, whole.pixels);
  // Every vector path gives the same bytes, with and without alpha.
  // Through the entry point linked in, as the path chosen here is not the
  // loaded core's.
  const auto linked = [](HostRender how) {
    how.entry = &EntryPoint;
    return how;
  };
  ForEachVectorPath([&](int path) {
    EXPECT_EQ(Crumpled(layer, linked(With({}, oval))).pixels, whole.pixels) << "path " << path;
    EXPECT_EQ(Crumpled(in, linked(With({}, box))).pixels, boxed.pixels) << "path " << path;
  });

  // The same creases and light; the pull is left out, as the preview sums
  // its arc lengths over its own, coarser pixels.
  auto seeded = [](int seed) {
    return [seed](void* block) {
      auto& b = *static_cast<CrumpleBlock*>(block);
      b.crumpleSize = {30.0, kUnitPixels};
      b.randomSeed = uint16_t(seed);
      b.distortImage = false;
    };
  };
  HostRender how;
  how.edit = seeded(1);
  const PreviewDifference d = ComparePreview(kCrumpleEffect, SmoothPicture(400, 300), 4, how, seeded(2));
  EXPECT_LT(d.same, 4.0);
  EXPECT_GT(d.other, 1.5 * d.same);
}

}  // namespace
}  // namespace kv::test
