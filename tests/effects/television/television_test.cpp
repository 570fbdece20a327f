// Television through the entry point: its look, the geometry and colour
// rules a picture shows only roughly, and agreement between tiles, whole
// renders and the dialog's preview.
#include <gtest/gtest.h>

#include "effects/television/television.h"
#include "entry/entry.h"
#include "image/vector_kernels.h"
#include "tests/effects/effect_harness.h"
#include "tests/effects/reference.h"
#include "tests/support/vector_paths.h"

namespace kv::test {
namespace {

using Edit = std::function<void(TelevisionBlock&)>;

// Every effect off but those `edit` turns on: what remains is the plain screen.
HostRender With(const Edit& edit, std::vector<uint8_t> selection = {}) {
  HostRender how;
  how.selection = std::move(selection);
  how.edit = [edit](void* block) {
    auto& b = *static_cast<TelevisionBlock*>(block);
    b.scanlineStrength = b.curvature = b.staticAmount = b.ghostStrength = b.breakup = b.verticalShift = 0.0;
    edit(b);
  };
  return how;
}

Picture Tv(const Picture& in, const HostRender& how = {}) {
  int16_t error = 0;
  Picture out = RenderThroughHost(kTelevisionEffect, in, how, &error);
  EXPECT_EQ(error, 0);
  return out;
}

TEST(Television, LooksAsItDid) {
  ExpectMatchesReference("television-defaults", Tv(TestPicture(96, 64)), kWithinOneLevel);
  // A layer, half transparent in places, rolled and bulging on a green
  // screen: samples between pixels of different alpha, clear corners.
  HostRender how;
  how.edit = [](void* block) {
    auto& b = *static_cast<TelevisionBlock*>(block);
    b.verticalShift = 40.0;
    b.curvature = 100.0;
    b.breakup = 60.0;
    b.monochromeScreen = true;
  };
  ExpectMatchesReference("television-green-layer", Tv(TestPicture(96, 64, ps::plugInModeRGBColor, 3, true), how),
                         kWithinOneLevel);
}

TEST(Television, PlainScreenIsTheImageEvenOnePixelWide) {
  const Picture in = TestPicture(37, 23, ps::plugInModeGrayScale, 1);
  EXPECT_EQ(Tv(in, With([](TelevisionBlock&) {})).pixels, in.pixels);
  // A screen one pixel wide has nothing to sample between or bulge across:
  // it shows its own pixels, with the scanlines of any screen, not white.
  const Picture column = TestPicture(1, 23, ps::plugInModeGrayScale, 1);
  EXPECT_EQ(Tv(column, With([](TelevisionBlock& b) { b.curvature = 100.0; })).pixels, column.pixels);
  const auto lines = With([](TelevisionBlock& b) { b.scanlineStrength = 100.0; });
  const Picture wide = Tv(in, lines), narrow = Tv(column, lines);
  EXPECT_NE(narrow.pixels, column.pixels);
  for (int y = 0; y < 23; ++y) EXPECT_EQ(narrow.At(0, y)[0], wide.At(0, y)[0]) << y;
}

TEST(Television, RollMovesThePictureUpWithABlackGap) {
  // 40 rows: a band of 4, E = 44, P = 42; half the shift is 21 rows.
  const Picture in = TestPicture(30, 40, ps::plugInModeGrayScale, 1);
  const Picture out = Tv(in, With([](TelevisionBlock& b) { b.verticalShift = 50.0; }));
  auto row = [](const Picture& p, int y) {
    return std::vector<uint8_t>(p.At(0, y), p.At(0, y) + p.width);
  };
  EXPECT_EQ(row(out, 10), row(in, 31));
  EXPECT_EQ(row(out, 30), row(in, 8));
  EXPECT_EQ(row(out, 20), std::vector<uint8_t>(30, 0));
  EXPECT_NE(row(out, 18), std::vector<uint8_t>(30, 0));
}

TEST(Television, StaticTouchesOnlyTheModesOwnChannel) {
  const Picture cmyk = TestPicture(48, 40, ps::plugInModeCMYKColor, 4);
  const Picture plain = Tv(cmyk, With([](TelevisionBlock&) {}));
  const Picture noisy = Tv(cmyk, With([](TelevisionBlock& b) { b.staticAmount = 100.0; }));
  int changed = 0;
  for (size_t i = 0; i < plain.pixels.size(); ++i) {
    if (i % 4 != 3) ASSERT_EQ(noisy.pixels[i], plain.pixels[i]) << i;
    else changed += noisy.pixels[i] != plain.pixels[i];
  }
  EXPECT_GT(changed, 48 * 40 / 2);

  // RGB static moves hue and value: a grey pixel stays grey.
  Picture grey = TestPicture(48, 40);
  for (size_t i = 0; i < grey.pixels.size(); i += 3) grey.pixels[i + 1] = grey.pixels[i + 2] = grey.pixels[i];
  const Picture rgbNoisy = Tv(grey, With([](TelevisionBlock& b) { b.staticAmount = 100.0; }));
  EXPECT_NE(rgbNoisy.pixels, grey.pixels);
  for (size_t i = 0; i < rgbNoisy.pixels.size(); i += 3) {
    ASSERT_EQ(rgbNoisy.pixels[i], rgbNoisy.pixels[i + 1]) << i;
    ASSERT_EQ(rgbNoisy.pixels[i], rgbNoisy.pixels[i + 2]) << i;
  }
}

TEST(Television, CurvedCornersShowTheBackgroundOrTransparency) {
  const Picture in = TestPicture(60, 40);
  const Picture out = Tv(in, With([](TelevisionBlock& b) {
    b.curvature = 100.0;
    b.backgroundColor = Color::RGB(255, 0, 0);
  }));
  for (auto [x, y] : {std::pair{0, 0}, {59, 0}, {0, 39}, {59, 39}}) {
    const uint8_t* p = out.At(x, y);
    EXPECT_EQ((std::vector<int>{p[0], p[1], p[2]}), (std::vector<int>{255, 0, 0})) << x << "," << y;
  }
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(out.At(30, 20)[c], in.At(30, 20)[c], 1) << "the centre barely moves";

  Picture layer = TestPicture(60, 40, ps::plugInModeRGBColor, 3, true);
  for (size_t i = 3; i < layer.pixels.size(); i += 4) layer.pixels[i] = 255;
  const Picture curved = Tv(layer, With([](TelevisionBlock& b) { b.curvature = 100.0; }));
  EXPECT_EQ(curved.At(0, 0)[3], 0);
  EXPECT_EQ(curved.At(30, 20)[3], 255);
}

TEST(Television, SelectionLimitsTheChange) {
  const Picture in = TestPicture(40, 30);
  HostRender how;
  how.selection.assign(40 * 30, 0);
  for (int y = 5; y < 25; ++y)
    for (int x = 10; x < 30; ++x) how.selection[size_t(y) * 40 + x] = 255;
  const Picture out = Tv(in, how);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      if (how.selection[size_t(y) * 40 + x] != 0) continue;
      ASSERT_EQ(std::vector<uint8_t>(out.At(x, y), out.At(x, y) + 3), std::vector<uint8_t>(in.At(x, y), in.At(x, y) + 3));
    }
  EXPECT_NE(out.pixels, in.pixels);
}

TEST(Television, SeedDecidesAndTilesAgreeWithTheWhole) {
  const Picture in = TestPicture(203, 131, ps::plugInModeRGBColor, 3, true);
  EXPECT_EQ(TileSizeThatDiffers(kTelevisionEffect, in, {}), 0);
  HostRender other;
  other.edit = [](void* block) { static_cast<TelevisionBlock*>(block)->randomSeed = 2; };
  EXPECT_NE(Tv(in, other).pixels, Tv(in).pixels);
}

// The passes draw as many pixels at once as the processor's vectors hold:
// every width draws the same bytes, short last groups and narrow areas too.
TEST(Television, EveryVectorPathGivesTheSameBytes) {
  HostRender how;
  how.entry = &EntryPoint;  // linked in, so that the path chosen here is the one that runs
  how.edit = [](void* block) {
    auto& b = *static_cast<TelevisionBlock*>(block);
    b.verticalShift = 40.0;
    b.curvature = b.staticAmount = b.ghostStrength = 100.0;
    b.breakup = 60.0;
    b.ghostOffset = 3.0;
  };
  const Picture pictures[] = {TestPicture(61, 37, ps::plugInModeRGBColor, 3, true), TestPicture(61, 37),
                              TestPicture(13, 2, ps::plugInModeGrayScale, 1), TestPicture(1, 9, ps::plugInModeCMYKColor, 4)};
  std::vector<Picture> first;
  ForEachVectorPath([&](int path) {
    for (size_t i = 0; i < std::size(pictures); ++i) {
      const Picture out = Tv(pictures[i], how);
      if (path == 0) first.push_back(out);
      else EXPECT_EQ(out.pixels, first[i].pixels) << "path " << path << ", picture " << i;
    }
  });
}

TEST(Television, PreviewShowsTheSamePicture) {
  // Without scanlines, which are finer than a zoomed-out preview's pixels,
  // and without static and breakup, whose fields' cells shrink with the
  // scale twice over, so that a preview shows other noise than the final render.
  const Picture in = SmoothPicture(320, 240);
  const HostRender how = With([](TelevisionBlock& b) {
    b.ghostStrength = 60.0;
    b.curvature = 100.0;
    b.verticalShift = 30.0;
  });
  for (const int factor : {2, 4}) {
    const PreviewDifference d = ComparePreview(kTelevisionEffect, in, factor, how, [](void* block) {
      static_cast<TelevisionBlock*>(block)->verticalShift = 40.0;
    });
    EXPECT_LT(d.same, 5.0) << factor;
    EXPECT_GT(d.other, 6.0 * d.same) << factor;
  }
}

}  // namespace
}  // namespace kv::test
