// Television through the entry point: the picture's geometry, the colour
// rules of each mode, and agreement between tiles, whole renders and the
// preview.
#include <gtest/gtest.h>

#include "effects/television/television.h"
#include "tests/effects/effect_harness.h"
#include "tests/effects/reference.h"

namespace kv::test {
namespace {

// Every effect off: what remains is the plain screen.
void Plain(void* block) {
  auto& b = *static_cast<TelevisionBlock*>(block);
  b.scanlineStrength = b.curvature = b.staticAmount = b.ghostStrength = b.breakup = b.verticalShift = 0.0;
}

HostRender With(std::function<void(TelevisionBlock&)> edit, int tileSize = 0) {
  HostRender how;
  how.tileSize = tileSize;
  how.edit = [edit](void* block) {
    Plain(block);
    edit(*static_cast<TelevisionBlock*>(block));
  };
  return how;
}

Picture Tv(const Picture& in, const HostRender& how = {}) {
  int16_t error = 0;
  Picture out = RenderThroughHost(kTelevisionEffect, in, how, &error);
  EXPECT_EQ(error, 0);
  return out;
}

TEST(Television, DefaultsLookAsTheyDid) {
  ExpectMatchesReference("television-defaults", Tv(TestPicture(96, 64)), kWithinOneLevel);
}

TEST(Television, PlainScreenOnGreyIsTheImage) {
  const Picture in = TestPicture(37, 23, ps::plugInModeGrayScale, 1);
  EXPECT_EQ(Tv(in, With([](TelevisionBlock&) {})).pixels, in.pixels);
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

TEST(Television, GhostOnlyLightens) {
  // Grey, as RGB's trip through hue and value may round a channel down.
  const Picture in = TestPicture(64, 32, ps::plugInModeGrayScale, 1);
  const Picture plain = Tv(in, With([](TelevisionBlock&) {}));
  const Picture ghost = Tv(in, With([](TelevisionBlock& b) { b.ghostStrength = b.ghostOffset = 100.0; }));
  int lighter = 0;
  for (size_t i = 0; i < plain.pixels.size(); ++i) {
    ASSERT_GE(ghost.pixels[i], plain.pixels[i]) << i;
    lighter += ghost.pixels[i] > plain.pixels[i];
  }
  EXPECT_GT(lighter, int(plain.pixels.size() / 4));
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

TEST(Television, MonochromeScreenTintsByLuminance) {
  const Picture in = TestPicture(20, 10);
  const Picture out = Tv(in, With([](TelevisionBlock& b) {
    b.monochromeScreen = true;
    b.monochromeColor = Color::RGB(0, 255, 0);
  }));
  for (size_t i = 0; i < out.pixels.size(); i += 3) {
    ASSERT_EQ(out.pixels[i], 0);
    ASSERT_EQ(out.pixels[i + 2], 0);
  }
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

TEST(Television, SeedTilesAndWholeAgree) {
  const Picture in = TestPicture(203, 131);
  const Picture whole = Tv(in);
  EXPECT_EQ(Tv(in).pixels, whole.pixels);
  HostRender tiled;
  tiled.tileSize = 37;
  EXPECT_EQ(Tv(in, tiled).pixels, whole.pixels);
  HostRender other;
  other.edit = [](void* block) { static_cast<TelevisionBlock*>(block)->randomSeed = 2; };
  EXPECT_NE(Tv(in, other).pixels, whole.pixels);
}

TEST(Television, PreviewShowsTheSameTornRows) {
  // Breakup tears rows by a seeded amount; the half-size preview must tear the
  // same rows by the same share of the width.
  const Picture in = TestPicture(320, 240);
  auto edit = [](int seed) {
    return [seed](void* block) {
      Plain(block);
      auto& b = *static_cast<TelevisionBlock*>(block);
      b.breakup = 100.0;
      b.curvature = 50.0;
      b.randomSeed = uint16_t(seed);
    };
  };
  HostRender how;
  how.edit = edit(5);
  const Picture full = Reduce(Tv(in, how), 2);
  const Picture preview = RenderAtScale(kTelevisionEffect, Reduce(in, 2), 2.0, edit(5));
  const Picture otherSeed = RenderAtScale(kTelevisionEffect, Reduce(in, 2), 2.0, edit(6));
  const double same = MeanDifference(full, preview), different = MeanDifference(full, otherSeed);
  EXPECT_LT(same, 6.0);
  EXPECT_GT(different, 3.0 * same);
}

}  // namespace
}  // namespace kv::test
