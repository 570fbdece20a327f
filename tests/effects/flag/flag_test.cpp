// Flag: the full-size result computed once per set of values, attached sides
// that stay put while free ones move, the background and the selection, and
// agreement between seeds, tiles and the preview.
#include <gtest/gtest.h>

#include <cstdlib>

#include "effects/filter_table.h"
#include "effects/flag/flag.h"
#include "tests/effects/effect_harness.h"
#include "tests/effects/reference.h"

namespace kv::test {
namespace {

using Edit = std::function<void(FlagBlock&)>;

BlockEdit Block(const Edit& edit) {
  return [edit](void* block) { edit(*static_cast<FlagBlock*>(block)); };
}

HostRender With(const Edit& edit, int tileSize = 0) {
  HostRender how;
  how.tileSize = tileSize;
  how.edit = Block(edit);
  return how;
}

Picture Wave(const Picture& in, const HostRender& how = {}) {
  int16_t error = 0;
  Picture out = RenderThroughHost(kFlagEffect, in, how, &error);
  EXPECT_EQ(error, 0);
  return out;
}

// The full mode with only `sides` attached, and a strong wind.
Edit Attached(std::initializer_list<int32_t> list) {
  return [sides = std::vector<int32_t>(list)](FlagBlock& b) {
    b.simplifiedMode = false;
    b.windStrength = 80.0;
    b.movement = 40.0;
    b.attachments = {};
    for (int32_t side : sides) b.attachments.attached[side] = true;
  };
}

// Grey rows alternating black and white: any shift along a column shows.
Picture Stripes(int width, int height) {
  Picture p = TestPicture(width, height, ps::plugInModeGrayScale, 1);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) p.pixels[size_t(y) * width + x] = (y / 2) % 2 == 0 ? 0 : 255;
  return p;
}

int ColumnChange(const Picture& a, const Picture& b, int x) {
  int worst = 0;
  for (int y = 0; y < a.height; ++y) worst = std::max(worst, std::abs(a.At(x, y)[0] - b.At(x, y)[0]));
  return worst;
}

TEST(Flag, DefaultsLookAsTheyDid) {
  ExpectMatchesReference("flag-defaults", Wave(TestPicture(96, 64)), kEdgesMayRound);
}

// An effect that counts its full-size computations.
class CountingFlag final : public Flag {
 public:
  static inline int computed = 0;
  int32_t RenderEntireImage(RenderContext& c) override {
    ++computed;
    return Flag::RenderEntireImage(c);
  }
};

TEST(Flag, ComputesOnceForEqualValuesAndAgainAfterAChange) {
  SetFilterFactoryOverride([](int32_t id) -> std::unique_ptr<Filter> {
    return id == kFlagEffect ? std::make_unique<CountingFlag>() : nullptr;
  });
  CountingFlag::computed = 0;
  DirectRender preview(kFlagEffect, TestPicture(60, 40), 2.0);
  auto& b = *static_cast<FlagBlock*>(preview.Block());
  ASSERT_TRUE(preview.Run());
  const Picture first = preview.Output();
  ASSERT_TRUE(preview.Run());
  EXPECT_EQ(CountingFlag::computed, 1);
  EXPECT_EQ(preview.Output().pixels, first.pixels);

  b.windDirection = 90.0;  // set aside while the simplified mode is on
  ASSERT_TRUE(preview.Run());
  EXPECT_EQ(CountingFlag::computed, 1);
  b.randomSeed = 2;
  ASSERT_TRUE(preview.Run());
  EXPECT_EQ(CountingFlag::computed, 2);
  EXPECT_NE(preview.Output().pixels, first.pixels);
  SetFilterFactoryOverride(nullptr);
}

TEST(Flag, AttachedSidesStayPutWhileFreeOnesMove) {
  const Picture in = Stripes(120, 80);
  const Picture left = Wave(in, With(Attached({kAttachLeft})));
  EXPECT_LE(ColumnChange(left, in, 0), 40) << "only shaded";
  EXPECT_GT(ColumnChange(left, in, 119), 200);

  const Picture top = Wave(in, With(Attached({kAttachTop})));
  for (int x = 0; x < in.width; ++x) ASSERT_LE(std::abs(top.At(x, 0)[0] - in.At(x, 0)[0]), 40) << x;
  EXPECT_GT(ColumnChange(top, in, 60), 200);

  // A corner alone holds a point; beside attached sides it adds nothing.
  const Picture corner = Wave(in, With(Attached({kAttachTopLeft})));
  EXPECT_LE(std::abs(corner.At(0, 0)[0] - in.At(0, 0)[0]), 40);
  EXPECT_EQ(Wave(in, With(Attached({kAttachTop, kAttachLeft, kAttachTopLeft}))).pixels,
            Wave(in, With(Attached({kAttachTop, kAttachLeft}))).pixels);
}

TEST(Flag, WithoutWindTheClothHangsFlat) {
  const Picture in = TestPicture(64, 48);
  const Picture calm = Wave(in, With([](FlagBlock& b) {
    Attached({})(b);
    b.windStrength = 0.0;
  }));
  EXPECT_EQ(calm.pixels, in.pixels);
}

TEST(Flag, ShrunkClothShowsTheBackgroundOrTransparencyAround) {
  const Picture in = TestPicture(80, 60);
  const Picture out = Wave(in, With([](FlagBlock& b) { b.backgroundColor = Color::RGB(255, 0, 0); }));
  for (auto [x, y] : {std::pair{0, 0}, {79, 0}, {0, 59}, {79, 59}})
    EXPECT_EQ(std::vector<int>(out.At(x, y), out.At(x, y) + 3), (std::vector<int>{255, 0, 0})) << x << "," << y;
  EXPECT_NE(std::vector<int>(out.At(40, 30), out.At(40, 30) + 3), (std::vector<int>{255, 0, 0}));

  Picture layer = TestPicture(80, 60, ps::plugInModeRGBColor, 3, true);
  for (size_t i = 3; i < layer.pixels.size(); i += 4) layer.pixels[i] = 255;
  const Picture waved = Wave(layer);
  EXPECT_EQ(waved.At(0, 0)[3], 0);
  EXPECT_EQ(waved.At(40, 30)[3], 255);
}

TEST(Flag, SelectionLimitsTheChange) {
  const Picture in = TestPicture(60, 40);
  HostRender how;
  how.selection.assign(60 * 40, 0);
  for (int y = 10; y < 30; ++y)
    for (int x = 15; x < 45; ++x) how.selection[size_t(y) * 60 + x] = 255;
  const Picture out = Wave(in, how);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 60; ++x)
      ASSERT_TRUE(how.selection[size_t(y) * 60 + x] != 0 || std::equal(in.At(x, y), in.At(x, y) + 3, out.At(x, y)))
          << x << "," << y;
  EXPECT_NE(out.pixels, in.pixels);
}

TEST(Flag, SeedTilesModesAndPreviewAgree) {
  const Picture in = TestPicture(203, 131);
  const Edit full = Attached({kAttachLeft, kAttachBottomRight});
  const Picture whole = Wave(in, With(full));
  EXPECT_EQ(Wave(in, With(full, 37)).pixels, whole.pixels);
  EXPECT_NE(Wave(in, With([&](FlagBlock& b) {
              full(b);
              b.randomSeed = 9;
            })).pixels,
            whole.pixels);

  for (const auto& [mode, planes] : {std::pair{ps::plugInModeGrayScale, 1}, {ps::plugInModeCMYKColor, 4},
                                     {ps::plugInModeLabColor, 3}}) {
    const Picture other = TestPicture(60, 40, mode, planes);
    EXPECT_NE(Wave(other).pixels, other.pixels) << mode;
  }

  const auto seed = [&](int s) {
    return Block([s, full](FlagBlock& b) {
      full(b);
      b.randomSeed = uint16_t(s);
    });
  };
  HostRender how;
  how.edit = seed(3);
  const PreviewDifference d = ComparePreview(kFlagEffect, TestPicture(320, 240), 2, how, seed(4));
  EXPECT_LT(d.same, 6.0);
  EXPECT_GT(d.other, 3.0 * d.same);
}

}  // namespace
}  // namespace kv::test
